#!/usr/bin/env bash
# Builds both builds and runs every test: the unit tests against the
# simulated Windows and the end-to-end tests of the real installer-helper.exe
# under Wine. Exits non-zero when anything fails.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${HELPER_BUILD_ROOT:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)

HELPER_BUILD_ROOT=$build_root bash "$root/scripts/build.sh"
cd "$root"
cmake --preset host -B "$build_root/host" \
  -DHELPER_WINDOWS_BUILD_DIR="$build_root/windows" >/dev/null
cmake --build "$build_root/host" -j"$jobs"

# Without the end-to-end tests a green run would claim more than it checked.
if [ ! -x "$build_root/host/tests/e2e/e2e_tests" ]; then
  echo "test: the end-to-end tests were not built" >&2
  exit 1
fi

ctest --test-dir "$build_root/host" -j"$jobs" --output-on-failure --no-tests=error </dev/null
# The release: two builds from two folders are identical, and sign and verify.
HELPER_BUILD_ROOT=$build_root bash "$root/scripts/check-release.sh"
