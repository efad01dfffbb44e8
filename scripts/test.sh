#!/usr/bin/env bash
# Builds both builds and runs every test: the unit tests against the
# simulated Windows and the end-to-end tests of the real installer-helper.exe
# under Wine; then the unit tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer (build/host-sanitize), a short run of each
# fuzz target (scripts/fuzz.sh), and the quick benchmarks (scripts/bench.sh).
# Exits non-zero when anything fails.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${HELPER_BUILD_ROOT:-$root/build}
jobs=$(nproc 2>/dev/null || echo 2)

# Everything at once, clang-19 for the fuzz targets too: one package install.
bash "$root/scripts/setup.sh" --fuzz
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

# The unit tests again with the sanitizers; one line unless something fails.
started=$SECONDS
sanitize=$build_root/host-sanitize
cmake --preset host-sanitize -B "$sanitize" >/dev/null
if ! cmake --build "$sanitize" -j"$jobs" >"$sanitize/build.log" 2>&1; then
  cat "$sanitize/build.log" >&2
  echo "sanitizers: the unit tests did not build" >&2
  exit 1
fi
if ! UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir "$sanitize" -j"$jobs" \
    --output-on-failure --no-tests=error >"$sanitize/ctest.log" 2>&1 </dev/null; then
  grep -v ' Passed ' "$sanitize/ctest.log" >&2
  echo "sanitizers: unit tests failed under ASan and UBSan (log: $sanitize/ctest.log)" >&2
  exit 1
fi
echo "sanitizers: $(grep -o '[0-9]*% tests passed.*' "$sanitize/ctest.log")" \
  "under ASan and UBSan ($((SECONDS - started)) s)"

HELPER_BUILD_ROOT=$build_root bash "$root/scripts/fuzz.sh"

# The quick benchmarks: figures printed, never asserted; a run that cannot
# complete (a step failing under Wine) fails the tests.
HELPER_BUILD_ROOT=$build_root bash "$root/scripts/bench.sh"

# The release: two builds from two folders are identical, and sign and verify.
HELPER_BUILD_ROOT=$build_root bash "$root/scripts/check-release.sh"
