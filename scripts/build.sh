#!/usr/bin/env bash
# Builds installer-helper.exe, the 64-bit Windows executable, with mingw-w64
# into build/windows (set HELPER_BUILD_ROOT for another folder than build/).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${HELPER_BUILD_ROOT:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)

bash "$root/scripts/setup.sh"
cd "$root"
cmake --preset windows -B "$build_root/windows" >/dev/null
cmake --build "$build_root/windows" -j"$jobs"
echo "installer-helper.exe: $build_root/windows/installer-helper.exe"
