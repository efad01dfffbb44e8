#!/usr/bin/env bash
# Builds installer-helper.exe, the 64-bit Windows executable, with mingw-w64
# into build/windows (set HELPER_BUILD_ROOT for another folder than build/),
# with the test tools and the sample setup (samples/setup), then shows them at
# work: scripts/demo.sh migrates generated installations under Wine, step by
# step and through the sample setup, and a step that does not do what it
# should fails the build.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${HELPER_BUILD_ROOT:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)

bash "$root/scripts/setup.sh"
cd "$root"
cmake --preset windows -B "$build_root/windows" >/dev/null
cmake --build "$build_root/windows" -j"$jobs"
echo "installer-helper.exe: $build_root/windows/installer-helper.exe"
HELPER_BUILD_ROOT=$build_root bash "$root/scripts/demo.sh"
