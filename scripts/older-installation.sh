# The names of an older installation of the launcher, for the scripts that
# lay one out under Wine (demo.sh, bench.sh); the helper's own list is
# src/engine/owned_paths.cpp.
guid=3b9e2c41-7d05-5a18-9c6e-d41f80a2b7c3
legacy_keys=("Software\\$guid" "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$guid")
binaries=("Quillmora Launcher.exe" "QuillmoraClientServices.exe" "uninstall.exe")
electron_files=(chrome_100_percent.pak chrome_200_percent.pak d3dcompiler_47.dll dxcompiler.dll
  dxil.dll ffmpeg.dll icudtl.dat libEGL.dll libGLESv2.dll resources.pak snapshot_blob.bin
  v8_context_snapshot.bin vk_swiftshader.dll vk_swiftshader_icd.json vulkan-1.dll
  LICENSE.electron.txt LICENSES.chromium.html resources/app.asar resources/app-update.yml
  resources/elevate.exe resources/QuillmoraClientServices.exe resources/app-icon.ico
  "Uninstall Quillmora Launcher.exe" uninstallerIcon.ico)
