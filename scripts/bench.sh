#!/usr/bin/env bash
# Benchmarks: the micro-benchmarks of the host build (preset bench), then the
# real installer-helper.exe under Wine, each run against a baseline program
# of our own in alternating pairs, reported as ratios, since the machine's
# load moves both alike.
#
#   bash scripts/bench.sh           # quick: the small sizes, 3 pairs (about a minute)
#   bash scripts/bench.sh --full    # every size, 7 pairs (about 8 minutes, more when busy)
#   bash scripts/bench.sh --full --pairs 11
#   bash scripts/bench.sh --wine-only   # without the micro-benchmarks
#   bash scripts/bench.sh --begin "655360" --commit "0 200"   # these sizes only ("": none)
#   bash scripts/bench.sh --on-disk     # what a run works on is on disk first (sync)
#
# By default what a run deletes was copied just before and is still only
# in the page cache, so a deletion costs the calls alone, the helper's own
# work; before each copy the last run's deletions are written out, so that
# no run pays for another's write-back. With --on-disk the copy is written
# out too, as a player's installation would be: the disk's own cost of a
# deletion then dominates both sides.
#
# Whole-process figures:
#   commit on owned trees of 200, 2,000 and 20,000 files against a plain
#     recursive delete and a safe-delete walk (ih-bench-delete);
#   begin with three binaries of 640 KiB, 6.4 MiB and 64 MiB each against an
#     8 KiB read/write loop with a flush and CopyFileW with a flush
#     (ih-bench-copy);
#   start-up of a run that fails on its arguments against an empty program
#     importing KERNEL32 only (ih-startup, ih-empty);
#   the peak working set of each helper run (ih-bench-time reads it while
#     the run lasts).
# Needs the Windows build (scripts/build.sh); builds build/bench itself.
# HELPER_BUILD_ROOT moves the build folder (default build/).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${HELPER_BUILD_ROOT:-$root/build}
windows=$build_root/windows
helper=$windows/installer-helper.exe
tools=$windows/tools
bench_tools=$windows/bench-tools
bench=$build_root/bench-runs
prefix=$bench/wineprefix

full=0
pairs=3
micro=1
on_disk=0
while [ $# -gt 0 ]; do
  case $1 in
    --full) full=1; pairs=7 ;;
    --pairs) pairs=$2; shift ;;
    --wine-only) micro=0 ;;
    --on-disk) on_disk=1 ;;
    --begin) begin_only=$2; shift ;;
    --commit) commit_only=$2; shift ;;
    *) echo "usage: bench.sh [--full] [--pairs N] [--wine-only] [--on-disk]" \
         "[--begin BYTES...] [--commit FILES...]" >&2; exit 2 ;;
  esac
  shift
done
if [ "$full" -eq 1 ]; then
  commit_sizes=(200 2000 20000)
  begin_sizes=(655360 6710886 67108864)
  startup_pairs=21
  micro_time=0.5
else
  commit_sizes=(200)
  begin_sizes=(655360)
  startup_pairs=7
  micro_time=0.05
fi
# shellcheck disable=SC2206  # sizes are words
[ -z "${begin_only+set}" ] || begin_sizes=($begin_only)
# shellcheck disable=SC2206
[ -z "${commit_only+set}" ] || commit_sizes=($commit_only)

fail() { echo "bench: $*" >&2; exit 1; }
[ -e "$helper" ] && [ -e "$bench_tools/ih-bench-time.exe" ] && [ -e "$tools/ih-run.exe" ] ||
  fail "run scripts/build.sh first: the Windows build is missing"
command -v wine >/dev/null || fail "Wine is missing: run scripts/setup.sh first"
started=$SECONDS
echo "bench: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"

# ---- Micro-benchmarks (host, optimised) ----

cd "$root"
mkdir -p "$bench"
if [ "$micro" -eq 1 ]; then
  cmake --preset bench -B "$build_root/bench" >/dev/null
  cmake --build "$build_root/bench" -j2 >"$bench/build.log" 2>&1 ||
    { cat "$bench/build.log" >&2; fail "the micro-benchmarks did not build"; }
  echo
  echo "== Micro-benchmarks (host, Release)"
  "$build_root/bench/benchmarks/micro_benchmarks" --benchmark_min_time="$micro_time" \
    2>/dev/null | grep -v '^-*$'
fi

# ---- Wine ----

# The end-to-end tests' settings (tests/e2e/wine_session.cpp) in a prefix
# of our own.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
host() { timeout -k 10 1800 "$@"; }
host_path() { local rest=${1#C:}; echo "$prefix/drive_c${rest//\\//}"; }
windows_path() { local path; path=$(realpath -m "$1"); echo "Z:${path//\//\\}"; }

if [ ! -e "$prefix/.bench-ready" ]; then
  echo "bench: making the Wine prefix $prefix (once; 10-20 s)"
  rm -rf "$prefix"
  timeout -k 10 180 wine wineboot --init >"$bench/wineboot.log" 2>&1 ||
    fail "wineboot failed: see $bench/wineboot.log"
  host wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 ||
    fail "selecting the null graphics driver failed"
  host wineserver -w
  touch "$prefix/.bench-ready"
fi
status=0
host wineserver -p60 || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 2 ] || fail "cannot start the wine server"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# The helper through ih-run (the context action needs its desktop shell).
run_helper() {  # STEM ARGUMENT...
  local stem=$1 command_line argument
  shift
  command_line="\"$(windows_path "$helper")\""
  for argument in "$@"; do
    case $argument in *' '*) argument="\"$argument\"" ;; esac
    command_line+=" $argument"
  done
  printf '%s' "$command_line" >"$stem.cmdline"
  host wine "$tools/ih-run.exe" --shell "$(windows_path "$helper")" \
    "$(windows_path "$stem.cmdline")" "$(windows_path "$stem")" >"$stem.log" 2>&1 ||
    fail "ih-run could not run the helper: see $stem.log"
  [ "$(cat "$stem.status")" = 0 ] || fail "$* failed: $(cat "$stem.stderr")"
}

# One timed run; prints "<ms> <peak working set in bytes>".
timed() {  # PROGRAM ARGUMENT...
  local result=$bench/timed.result
  rm -f "$result"
  [ "$on_disk" -eq 0 ] || sync
  host wine "$bench_tools/ih-bench-time.exe" "$(windows_path "$result")" "$@" >/dev/null 2>&1 ||
    fail "ih-bench-time failed on $*"
  local ms status peak
  read -r ms status peak <"$result"
  [ "$status" = 0 ] || fail "$(basename "$1") ${2:-} ${3:-} exited with status $status"
  echo "$ms $peak"
}

# Lines of "<helper ms> <baseline ms>" -> "median R min R max R" of their ratios.
ratios() {
  awk '{ print $1 / $2 }' | sort -g | awk '{ r[NR] = $1 } END {
    printf "median %.2fx (min %.2fx, max %.2fx)", r[int((NR + 1) / 2)], r[1], r[NR] }'
}
# The median of a column of numbers.
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
mib() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }

# ---- An older installation ----

source "$root/scripts/older-installation.sh"
electron_trees=(locales resources/app.asar.unpacked resources/native)

# DIRECTORY FILES BINARY-BYTES: the binaries, the 24 Electron files, and
# FILES files spread over the three Electron trees, 25 to a folder.
make_installation() {
  local directory=$1 files=$2 bytes=$3 i folder file
  rm -rf "$directory"
  mkdir -p "$directory/resources"
  head -c "$bytes" /dev/urandom >"$directory/${binaries[0]}"
  cp "$directory/${binaries[0]}" "$directory/${binaries[1]}"
  cp "$directory/${binaries[0]}" "$directory/${binaries[2]}"
  for file in "${electron_files[@]}"; do printf 'electron %s\n' "$file" >"$directory/$file"; done
  for ((i = 0; i < files; i++)); do
    if ((i % 25 == 0)); then
      folder=$directory/${electron_trees[i / 25 % 3]}/package$((i / 25))
      mkdir -p "$folder"
    fi
    printf 'module.exports = %d;\n' "$i" >"$folder/module$i.js"
  done
}

# NAME FILES BINARY-BYTES: an installation at C:\bench\NAME\Quillmora Launcher
# with its context file C:\bench\NAME.context; sets `directory`, `context`
# and `installation` (the host path).
prepare() {
  directory="C:\\bench\\$1\\Quillmora Launcher"
  context="C:\\bench\\$1.context"
  installation=$(host_path "$directory")
  make_installation "$installation" "$2" "$3"
  rm -f "$(host_path "$context")"
  run_helper "$bench/$1.context-run" -Action context -Output "$context" -Directory "$directory"
}

# ---- commit ----

fresh_copy() {  # TEMPLATE INSTALLATION
  rm -rf "$2"
  sync
  cp -a "$1" "$2"
}

commit_series() {  # FILES
  local files=$1 name=commit-$1 template pair helper_run plain_run safe_run owned=()
  prepare "$name" "$files" 4096
  run_helper "$bench/$name.begin-run" -Action begin -Output "$context" -Directory "$directory"
  template=$bench/$name.template
  rm -rf "$template"
  cp -a "$installation" "$template"
  for file in "${electron_files[@]}" "${electron_trees[@]}"; do
    owned+=("$directory\\${file//\//\\}")
  done
  : >"$bench/$name.pairs"
  for ((pair = 0; pair < pairs; pair++)); do
    fresh_copy "$template" "$installation"
    helper_run=$(timed "$helper" -Action commit -Output "$context" -Directory "$directory")
    [ ! -e "$installation/locales" ] && [ ! -e "$installation/.quillmora-migration" ] ||
      fail "commit left owned entries behind"
    fresh_copy "$template" "$installation"
    plain_run=$(timed "$bench_tools/ih-bench-delete.exe" plain "${owned[@]}")
    fresh_copy "$template" "$installation"
    safe_run=$(timed "$bench_tools/ih-bench-delete.exe" safe "${owned[@]}")
    echo "${helper_run% *} ${plain_run% *} ${safe_run% *} ${helper_run#* }" >>"$bench/$name.pairs"
  done
  rm -rf "$template" "$installation"
  local entries=$((files + 24 + (files + 24) / 25 + 3))
  local ms
  ms=$(cut -d' ' -f1 "$bench/$name.pairs" | median)
  printf 'commit, %6d files: %8.1f ms (%.3f ms per entry of %d), peak working set %s\n' \
    "$files" "$ms" "$(awk -v m="$ms" -v e="$entries" 'BEGIN { print m / e }')" "$entries" \
    "$(mib "$(cut -d' ' -f4 "$bench/$name.pairs" | median)")"
  printf '  against the plain delete, %8.1f ms: %s\n' \
    "$(cut -d' ' -f2 "$bench/$name.pairs" | median)" \
    "$(awk '{ print $1, $2 }' "$bench/$name.pairs" | ratios)"
  printf '  against the safe-delete walk, %3.1f ms: %s\n' \
    "$(cut -d' ' -f3 "$bench/$name.pairs" | median)" \
    "$(awk '{ print $1, $3 }' "$bench/$name.pairs" | ratios)"
}

# ---- begin ----

begin_series() {  # BYTES
  local bytes=$1 name=begin-$1 pair helper_run loop_run copy_run sources=() copies
  prepare "$name" 0 "$bytes"
  for binary in "${binaries[@]}"; do sources+=("$directory\\$binary"); done
  copies=$installation/.bench-copies
  : >"$bench/$name.pairs"
  for ((pair = 0; pair < pairs; pair++)); do
    rm -rf "$installation/.quillmora-migration"
    helper_run=$(timed "$helper" -Action begin -Output "$context" -Directory "$directory")
    cmp -s "$installation/${binaries[0]}" "$installation/.quillmora-migration/${binaries[0]}" ||
      fail "begin made no backup copy"
    rm -rf "$installation/.quillmora-migration" "$copies" && mkdir "$copies"
    loop_run=$(timed "$bench_tools/ih-bench-copy.exe" loop "$directory\\.bench-copies" \
      "${sources[@]}")
    rm -rf "$copies" && mkdir "$copies"
    copy_run=$(timed "$bench_tools/ih-bench-copy.exe" copyfile "$directory\\.bench-copies" \
      "${sources[@]}")
    rm -rf "$copies"
    echo "${helper_run% *} ${loop_run% *} ${copy_run% *} ${helper_run#* }" >>"$bench/$name.pairs"
  done
  rm -rf "$installation"
  printf 'begin, 3 binaries of %s: %7.1f ms, peak working set %s\n' "$(mib "$bytes")" \
    "$(cut -d' ' -f1 "$bench/$name.pairs" | median)" \
    "$(mib "$(cut -d' ' -f4 "$bench/$name.pairs" | median)")"
  printf '  against the 8 KiB loop + flush, %7.1f ms: %s\n' \
    "$(cut -d' ' -f2 "$bench/$name.pairs" | median)" \
    "$(awk '{ print $1, $2 }' "$bench/$name.pairs" | ratios)"
  printf '  against CopyFileW + flush, %7.1f ms: %s\n' \
    "$(cut -d' ' -f3 "$bench/$name.pairs" | median)" \
    "$(awk '{ print $1, $3 }' "$bench/$name.pairs" | ratios)"
}

echo
echo "== Under Wine: installer-helper.exe against baselines, $pairs alternating pairs each"
rm -rf "$(host_path 'C:\bench')"
for size in "${begin_sizes[@]}"; do begin_series "$size"; done
for files in "${commit_sizes[@]}"; do commit_series "$files"; done

host wine "$tools/ih-startup.exe" "$startup_pairs" "$(windows_path "$tools/ih-empty.exe")" \
  "$(windows_path "$helper")" -Action nope >"$bench/startup.pairs" 2>&1 ||
  fail "ih-startup failed: see $bench/startup.pairs"
printf 'start-up, a run failing on its arguments: %.1f ms\n' \
  "$(grep -v median "$bench/startup.pairs" | cut -d' ' -f2 | median)"
printf '  against an empty KERNEL32-only program, %.1f ms: %s\n' \
  "$(grep -v median "$bench/startup.pairs" | cut -d' ' -f1 | median)" \
  "$(grep -v median "$bench/startup.pairs" | awk '{ print $2, $1 }' | ratios)"

# What the helper's one other static import, ADVAPI32, adds to an empty start.
host wine "$tools/ih-startup.exe" "$startup_pairs" "$(windows_path "$tools/ih-empty.exe")" \
  "$(windows_path "$bench_tools/ih-empty-advapi32.exe")" >"$bench/startup-advapi32.pairs" 2>&1 ||
  fail "ih-startup failed: see $bench/startup-advapi32.pairs"
printf '  (the empty program importing ADVAPI32 too, against it: %s)\n' \
  "$(grep -v median "$bench/startup-advapi32.pairs" | awk '{ print $2, $1 }' | ratios)"

echo
echo "bench: done in $((SECONDS - started)) s, load average $(cut -d' ' -f1-3 /proc/loadavg)" \
  "at the end (pairs in $bench)"
