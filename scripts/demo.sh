#!/usr/bin/env bash
# Shows a migration end to end: under Wine, in a prefix of the build folder,
# installer-helper.exe migrates two generated installations of the older
# Electron-based launcher. The first is migrated and committed, the second
# migrated and rolled back after setup changed it. Then the sample setup
# (samples/setup, NSIS) does the same on its own, silently: it migrates a
# third installation, and rolls a fourth back when its own step fails. For
# every step it prints the command, the exit status and the line on standard
# error (or the setup's closing message), then what changed inside the
# installation directory and in the registration. Exits non-zero when a step
# does not do what it should.
#
# Needs the Windows build (scripts/build.sh runs this at its end);
# HELPER_BUILD_ROOT moves the build folder (default build/).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${HELPER_BUILD_ROOT:-$root/build}
helper=$build_root/windows/installer-helper.exe
setup=$build_root/windows/samples/quillmora-setup.exe
payload=$build_root/windows/samples/payload
tools=$build_root/windows/tools
demo=$build_root/demo
prefix=$demo/wineprefix
runs=$demo/runs

# The same Wine settings as the end-to-end tests (tests/e2e/wine_session.cpp):
# a private prefix, no debug output, no Mono or Gecko installers, and no
# display, so windows need the null graphics driver. Keep the two in step.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

sid=S-1-5-21-0-0-0-1000  # the account programs run as under Wine
launcher_keys=("Software\\Quillmora\\Quillmora Launcher"
               "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillmora Launcher")
source "$root/scripts/older-installation.sh"
electron_tree_files=(locales/en-US.pak locales/de.pak resources/app.asar.unpacked/package.json
  resources/app.asar.unpacked/node_modules/sqlite3/build/Release/node_sqlite3.node
  resources/native/win32/x64/quillmora_native.node)
player_files=(notes.txt resources/player-theme.css)

failures=0
fail() { echo "demo: $*" >&2; exit 1; }
# A step that did not do what it should: reported, and the demo ends non-zero.
wrong() {
  echo "  WRONG: $*"
  failures=$((failures + 1))
}

# ---- Wine ----

host() { timeout -k 10 120 "$@"; }  # a hung Wine ends the demo, not the build

# "C:\x\y" -> the host path inside the prefix; a host path -> its Z: path.
host_path() { local rest=${1#C:}; echo "$prefix/drive_c${rest//\\//}"; }
windows_path() { local path; path=$(realpath -m "$1"); echo "Z:${path//\//\\}"; }

prepare_prefix() {
  mkdir -p "$runs"
  if [ ! -e "$prefix/.demo-ready" ]; then
    echo "demo: making the Wine prefix $prefix (once; 10-20 s)"
    rm -rf "$prefix"
    timeout -k 10 180 wine wineboot --init >"$runs/wineboot.log" 2>&1 ||
      fail "wineboot failed: see $runs/wineboot.log"
    host wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      >"$runs/graphics.log" 2>&1 ||
      fail "selecting the null graphics driver failed: see $runs/graphics.log"
    host wineserver -w  # the registry is on disk only once the server ends
    touch "$prefix/.demo-ready"
  fi
  # A server that outlives single runs makes each start quick; 2: already running.
  local status=0
  host wineserver -p30 || status=$?
  [ "$status" -eq 0 ] || [ "$status" -eq 2 ] || fail "cannot start the wine server"
}

# One ih-reg command as a script line: the arguments separated by tabs.
registry_line() {
  local IFS=$'\t'
  printf '%s\n' "$*"
}
# ih-reg with a script of such lines, one start for all of them.
registry() {
  printf '%s' "$1" >"$runs/registry.script"
  host wine "$tools/ih-reg.exe" script "$(windows_path "$runs/registry.script")" ||
    fail "ih-reg failed"
}

# The helper through ih-run, which reports the whole exit status and the
# output bytes; the context action needs ih-run's desktop shell under Wine.
# Sets `status` and `line`.
run_count=0
run_helper() {
  local shell=()
  if [ "$1" = --shell ]; then shell=(--shell); shift; fi
  local stem=$runs/run$((run_count += 1)) command_line shown=installer-helper.exe argument
  command_line="\"$(windows_path "$helper")\""
  for argument in "$@"; do
    case $argument in
      *' '*) argument="\"$argument\"" ;;
    esac
    command_line+=" $argument"
    shown+=" $argument"
  done
  printf '%s' "$command_line" >"$stem.cmdline"
  echo
  echo "\$ $shown"
  host wine "$tools/ih-run.exe" "${shell[@]}" "$(windows_path "$helper")" \
    "$(windows_path "$stem.cmdline")" "$(windows_path "$stem")" >"$stem.log" 2>&1 ||
    fail "ih-run could not run the helper: see $stem.log"
  status=$(cat "$stem.status")
  line=$(cat "$stem.stderr")
  echo "  exit status $status"
  echo "  standard error: ${line:-(nothing)}"
}

# The sample setup, silently, under ih-run's desktop shell (its context run
# needs one); its closing message goes to a report file. NSIS takes /D= last
# and unquoted. Sets `status` and `line` (the message).
run_setup() {  # [SWITCH...]
  local stem=$runs/run$((run_count += 1)) report='C:\demo\setup-report.txt' command_line shown
  shown="quillmora-setup.exe /S /REPORT=$report${*:+ $*} /D=$windows_directory"
  command_line="\"$(windows_path "$setup")\" ${shown#quillmora-setup.exe }"
  printf '%s' "$command_line" >"$stem.cmdline"
  rm -f "$(host_path "$report")"
  echo
  echo "\$ $shown"
  host wine "$tools/ih-run.exe" --shell "$(windows_path "$setup")" \
    "$(windows_path "$stem.cmdline")" "$(windows_path "$stem")" >"$stem.log" 2>&1 ||
    fail "ih-run could not run the setup: see $stem.log"
  status=$(cat "$stem.status")
  line=$(iconv -f UTF-16 -t UTF-8 <"$(host_path "$report")" 2>/dev/null | tr -d '\r')
  echo "  exit status $status"
  echo "  setup's message: ${line:-(nothing)}"
}

# ---- What an installation holds ----

utf16_hex() { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -d ' \n'; }
string_hex() { echo "$(utf16_hex "$1")0000"; }

make_installation() {  # DIRECTORY [without-client-services]
  local directory=$1 file
  rm -rf "$directory"
  mkdir -p "$directory"
  printf 'MZ Quillmora Launcher 1.8.2\n' >"$directory/Quillmora Launcher.exe"
  [ "${2:-}" = without-client-services ] ||
    printf 'MZ Quillmora Client Services 1.8.2\n' >"$directory/QuillmoraClientServices.exe"
  printf 'MZ uninstall 1.8.2\n' >"$directory/uninstall.exe"
  for file in "${electron_files[@]}" "${electron_tree_files[@]}"; do
    mkdir -p "$(dirname "$directory/$file")"
    printf 'electron %s\n' "$file" >"$directory/$file"
  done
  for file in "${player_files[@]}"; do printf "the player's %s\n" "$file" >"$directory/$file"; done
}

# ih-reg commands that register the older installation at LOCATION: the
# launcher's keys with a value of every type it accepts, and the GUID keys.
registration_script() {
  local location=$1 key
  local launcher=$sid\\${launcher_keys[0]} uninstall=$sid\\${launcher_keys[1]}
  local legacy=$sid\\${legacy_keys[0]} legacy_uninstall=$sid\\${legacy_keys[1]}
  for key in "$launcher" "$uninstall" "$legacy" "$legacy_uninstall"; do
    registry_line delete-tree HKU "$key"
  done
  registry_line set HKU "$launcher" "" 1 "$(string_hex "$location")"
  registry_line set HKU "$launcher" Channel 2 "$(string_hex '%LOCALAPPDATA%\Quillmora\stable')"
  registry_line set HKU "$launcher" Icon 3 00017f80feff
  registry_line set HKU "$launcher" Installed 4 01000000
  registry_line set HKU "$launcher" Languages 7 "$(string_hex en-US)$(string_hex de-DE)0000"
  registry_line set HKU "$launcher" Timestamp 11 104a2e5b3c8fda01
  registry_line set HKU "$launcher" Version 1 "$(string_hex 1.8.2)"
  registry_line set HKU "$uninstall" DisplayName 1 "$(string_hex 'Quillmora Launcher')"
  registry_line set HKU "$uninstall" InstallLocation 1 "$(string_hex "$location")"
  registry_line set HKU "$uninstall" UninstallString 1 \
    "$(string_hex "\"$location\\uninstall.exe\"")"
  registry_line set HKU "$legacy" InstallLocation 1 "$(string_hex "$location")"
  registry_line set HKU "$legacy_uninstall" DisplayName 1 \
    "$(string_hex 'Quillmora Launcher (Electron)')"
}

# The four keys, one readable line per value; "(no key)" for an absent key.
registration_now() {
  local script="" key entry
  for key in "${launcher_keys[@]}" "${legacy_keys[@]}"; do
    script+=$(registry_line dump HKU "$sid\\$key")$'\n'
  done
  registry "$script" | while IFS= read -r entry; do
    case $entry in
      "no key "*) echo "${entry#no key $sid\\} (no key)" ;;
      "key "*) key=${entry#key $sid\\} ;;
      "value "*) echo "$key: $(render_value "${entry#value }")" ;;
    esac
  done
}

hex_bytes() { printf '%b' "$(sed 's/../\\x&/g' <<<"$1")"; }
# UTF-16LE strings, several of them separated by "|".
utf16_text() { hex_bytes "$1" | iconv -f UTF-16LE -t UTF-8 | tr '\0' '|' | sed 's/|*$//'; }
# Little-endian bytes as one hexadecimal number.
little_endian() { sed 's/../&\n/g' <<<"$1" | tac | tr -d '\n'; }

# '"NAME" TYPE HEX' -> 'NAME = TYPE data' with the data in readable form.
render_value() {
  local name=${1%\" *} rest=${1##*\" } type hex
  name=${name#\"}
  name=${name:-(default)}
  type=${rest% *}
  hex=${rest#* }
  case $type in
    1) echo "$name = REG_SZ \"$(utf16_text "$hex")\"" ;;
    2) echo "$name = REG_EXPAND_SZ \"$(utf16_text "$hex")\"" ;;
    3) echo "$name = REG_BINARY $(sed 's/../& /g; s/ $//' <<<"$hex")" ;;
    4) echo "$name = REG_DWORD $((16#$(little_endian "$hex")))" ;;
    7) echo "$name = REG_MULTI_SZ \"$(utf16_text "$hex")\"" ;;
    11) echo "$name = REG_QWORD 0x$(little_endian "$hex")" ;;
    *) echo "$name = type $type, bytes $hex" ;;
  esac
}

# Every entry below DIRECTORY: "path<TAB>digest", directories "path/<TAB>-".
files_now() {
  (
    cd "$1"
    find . -mindepth 1 -type d -printf '%P/\t-\n'
    find . -mindepth 1 -type f -printf '%P\0' | xargs -0r sha256sum |
      sed 's/^\([0-9a-f]\{16\}\)[0-9a-f]* *\(.*\)$/\2\t\1/'
  ) | LC_ALL=C sort
}

# What changed between two listings; a file that is again as it was in
# ORIGINAL is "restored". A removed directory stands for all it held.
show_file_changes() {  # ORIGINAL BEFORE AFTER
  local changes
  changes=$(awk -F'\t' '
    FILENAME == ARGV[1] { original[$1] = $2; next }
    FILENAME == ARGV[2] { before[$1] = $2; next }
    { after[$1] = $2 }
    END {
      for (path in before) if (!(path in after)) removed[path] = 1
      for (path in removed) {
        top = path
        for (i = 1; i < length(path); i++)
          if (substr(path, i, 1) == "/" && (substr(path, 1, i) in removed)) {
            top = substr(path, 1, i)
            break
          }
        if (top != path) inside[top]++; else shown[path] = 1
      }
      for (path in shown)
        print path "\tremoved  " path (inside[path] ? " (and the " inside[path] " entries in it)" : "")
      for (path in after) {
        again = (path in original) && original[path] == after[path]
        if (!(path in before)) print path "\t" (again ? "restored " : "created  ") path
        else if (before[path] != after[path]) print path "\t" (again ? "restored " : "changed  ") path
      }
    }' "$1" "$2" "$3" | LC_ALL=C sort | cut -f2)
  if [ -z "$changes" ]; then
    echo "  files: no change"
  else
    echo "  files:"
    sed 's/^/    /' <<<"$changes"
  fi
}

show_registry_changes() {  # BEFORE AFTER
  local changes
  changes=$(diff --old-line-format='    - %L' --new-line-format='    + %L' --unchanged-line-format='' \
    "$1" "$2" || true)
  if [ -z "$changes" ]; then
    echo "  registration: no change"
  else
    echo "  registration:"
    echo "$changes"
  fi
}

# ---- Checks ----

expect_status() {  # EXPECTED
  [ "$status" = "$1" ] && [ -z "$line" ] || wrong "expected exit status $1 and no message"
}
expect_same() {  # WHAT EXPECTED-FILE ACTUAL-FILE
  cmp -s "$2" "$3" && return
  wrong "$1 differ from what they should be (- expected, + found):"
  diff "$2" "$3" | grep '^[<>]' | sed 's/^</    -/; s/^>/    +/' | head -20 || true
}
# The installation holds exactly these entries, each as it was at the start.
expect_only() {  # PATH...
  printf '%s\n' "$@" >"$state/kept"
  awk -F'\t' 'NR == FNR { keep[$1]; next } $1 in keep' "$state/kept" "$state/files.original" \
    >"$state/files.expected"
  expect_same "the installation's files" "$state/files.expected" "$state/files"
}

# ---- One installation through three steps ----

# Runs the helper's step (or with --setup the sample setup), then shows and
# keeps what it changed.
step() {
  cp "$state/files" "$state/files.before"
  cp "$state/registration" "$state/registration.before"
  if [ "$1" = --setup ]; then
    shift
    run_setup "$@"
  else
    run_helper "$@"
  fi
  files_now "$installation" >"$state/files"
  registration_now >"$state/registration"
  show_file_changes "$state/files.original" "$state/files.before" "$state/files"
  show_registry_changes "$state/registration.before" "$state/registration"
}

start_installation() {  # NAME WINDOWS-DIRECTORY [without-client-services]
  state=$demo/$1
  windows_directory=$2
  installation=$(host_path "$windows_directory")
  context="C:\\demo\\$1.context"
  rm -rf "$state"
  mkdir -p "$state"
  make_installation "$installation" "${3:-}"
  registry "$(registration_script "$windows_directory")" >/dev/null
  files_now "$installation" >"$state/files"
  cp "$state/files" "$state/files.original"
  registration_now >"$state/registration"
  cp "$state/registration" "$state/registration.original"
  echo "  generated: $(grep -c $'\t[0-9a-f]' "$state/files") files (the launcher binaries, the" \
    "Electron runtime, the player's own files)"
  echo "  and $(grep -vc '(no key)' "$state/registration") registry values in HKU\\$sid" \
    "(the launcher's keys and the older GUID keys)"
}

context_step() {
  step --shell -Action context -Output "$context" -Directory "$windows_directory"
  expect_status 0
  local written
  written=$(iconv -f UTF-16 -t UTF-8 <"$(host_path "$context")" 2>/dev/null | tr -d '\r' |
    grep -E '^(directory|scope|legacy|elevate)=' | paste -sd' ')
  echo "  context file: $written"
  [ "$written" = "directory=$windows_directory scope=user legacy=1 elevate=0" ] ||
    wrong "the context should name this directory, user scope, an older installation, no elevation"
}

begin_step() {
  step -Action begin -Output "$context" -Directory "$windows_directory"
  expect_status 0
  local binary
  for binary in "${binaries[@]}"; do
    [ ! -e "$installation/$binary" ] ||
      cmp -s "$installation/$binary" "$installation/.quillmora-migration/$binary" ||
      wrong "the recovery directory should hold a copy of $binary"
  done
  grep -q '"stage":"prepared"' "$installation/.quillmora-migration/journal.json" 2>/dev/null ||
    wrong "the journal should be at stage prepared"
}

mkdir -p "$demo"
command -v wine >/dev/null || fail "Wine is missing: run scripts/setup.sh first"
[ -e "$helper" ] && [ -e "$tools/ih-run.exe" ] && [ -e "$tools/ih-reg.exe" ] && [ -e "$setup" ] ||
  fail "run scripts/build.sh first: the Windows build is missing"
prepare_prefix
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
rm -rf "$(host_path 'C:\demo')"

echo
echo "== Migration demo under Wine: installer-helper.exe on two older installations"

echo
echo "== 1. Migrate C:\\demo\\first\\Quillmora Launcher and commit"
start_installation first 'C:\demo\first\Quillmora Launcher'
context_step
begin_step
step -Action commit -Output "$context" -Directory "$windows_directory"
expect_status 0
expect_only "${binaries[@]}" "${player_files[@]}" resources/
grep -v "^Software\\\\$guid\|Uninstall\\\\$guid" "$state/registration.original" >"$state/registration.kept"
printf '%s (no key)\n' "${legacy_keys[@]}" >>"$state/registration.kept"
expect_same "the registration's values" "$state/registration.kept" "$state/registration"

echo
echo "== 2. Migrate C:\\demo\\second\\Quillmora Launcher, let setup change it, and roll back"
start_installation second 'C:\demo\second\Quillmora Launcher' without-client-services
context_step
begin_step
echo
echo "  (setup's own work: a new launcher and Client Services, no uninstall.exe, Version 2.0.0)"
printf 'MZ Quillmora Launcher 2.0.0\n' >"$installation/Quillmora Launcher.exe"
printf 'MZ Quillmora Client Services 2.0.0\n' >"$installation/QuillmoraClientServices.exe"
rm "$installation/uninstall.exe"
registry "$(registry_line set HKU "$sid\\${launcher_keys[0]}" Version 1 "$(string_hex 2.0.0)")" >/dev/null
files_now "$installation" >"$state/files"
registration_now >"$state/registration"
step -Action rollback -Output "$context" -Directory "$windows_directory"
expect_status 0
expect_same "the files" "$state/files.original" "$state/files"
expect_same "the registration's values" "$state/registration.original" "$state/registration"

echo
echo "== 3. The sample setup migrates C:\\demo\\third\\Quillmora Launcher"
echo "  (context, begin, its own step: the new binaries and registration, commit)"
start_installation third 'C:\demo\third\Quillmora Launcher'
step --setup
[ "$status" = 0 ] && [ "$line" = "The Quillmora Launcher is installed in $windows_directory." ] ||
  wrong "the setup should end with status 0 and say where the launcher is installed"
# What the setup leaves: the player's files and its new binaries, the
# launcher's keys at version 2.0.0 (DisplayVersion is new), no GUID keys.
files_now "$payload" >"$state/payload"
printf '%s\n' "${player_files[@]}" resources/ >"$state/kept"
awk -F'\t' 'NR == FNR { keep[$1]; next } $1 in keep' "$state/kept" "$state/files.original" |
  cat - "$state/payload" | LC_ALL=C sort >"$state/files.expected"
expect_same "the installation's files" "$state/files.expected" "$state/files"
uninstall_entry=${launcher_keys[1]//\\/\\\\}
grep -v "^Software\\\\$guid\|Uninstall\\\\$guid" "$state/registration.original" |
  sed -e 's/^\(Software\\Quillmora\\Quillmora Launcher: Version = REG_SZ\) .*/\1 "2.0.0"/' \
    -e "/^$uninstall_entry: DisplayName = /a $uninstall_entry: DisplayVersion = REG_SZ \"2.0.0\"" \
  >"$state/registration.expected"
printf '%s (no key)\n' "${legacy_keys[@]}" >>"$state/registration.expected"
expect_same "the registration's values" "$state/registration.expected" "$state/registration"

echo
echo "== 4. The sample setup's own step fails on C:\\demo\\fourth\\Quillmora Launcher: it rolls back"
start_installation fourth 'C:\demo\fourth\Quillmora Launcher'
step --setup /FAILSTEP
[ "$status" = 1 ] ||
  wrong "the setup should end with status 1"
expect_same "the files" "$state/files.original" "$state/files"
expect_same "the registration's values" "$state/registration.original" "$state/registration"

echo
if [ "$failures" -ne 0 ]; then
  echo "demo: $failures check(s) failed" >&2
  exit 1
fi
echo "demo: every step did what it should (prefix: $prefix)"
