#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz, clang-19, into build/fuzz) and
# runs each in turn on one core: 20 seconds each, or SECONDS each with
# --long SECONDS. Each run starts from the committed seeds
# (tests/fuzz/corpus/<target>) and from what earlier runs added to
# build/fuzz/corpus/<target>. An input that breaks a property or trips a
# sanitizer is kept in build/fuzz/artifacts/ and fails the run; the log of
# each target's last run is build/fuzz/<target>.log. Prints one line.
set -euo pipefail

seconds=20
case "${1:-}" in
  --long)
    if [[ ! "${2:-}" =~ ^[1-9][0-9]*$ ]]; then
      echo "usage: fuzz.sh [--long SECONDS]" >&2
      exit 2
    fi
    seconds=$2
    ;;
  "") ;;
  *) echo "usage: fuzz.sh [--long SECONDS]" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${HELPER_BUILD_ROOT:-$root/build}
build=$build_root/fuzz
jobs=$(nproc 2>/dev/null || echo 2)

bash "$root/scripts/setup.sh" --fuzz
cd "$root"
cmake --preset fuzz -B "$build" >/dev/null
if ! cmake --build "$build" -j"$jobs" >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  echo "fuzz: the fuzz targets did not build" >&2
  exit 1
fi

mkdir -p "$build/artifacts"
started=$SECONDS
figures=()
failed=()
for target in command_line installer_context journal; do
  mkdir -p "$build/corpus/$target"
  log=$build/$target.log
  if ! "$build/tests/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
      "$build/corpus/$target" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1 </dev/null; then
    tail -n 40 "$log" >&2
    failed+=("$target")
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  figures+=("$target ${runs:-?} runs (${rate:-?}/s)")
done

summary=$(IFS=,; echo "${figures[*]}" | sed 's/,/, /g')
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: ${seconds}s each: $summary; FOUND in ${failed[*]}: see $build/artifacts/" >&2
  exit 1
fi
echo "fuzz: ${seconds}s each: $summary; nothing found ($((SECONDS - started)) s)"
