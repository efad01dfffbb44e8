#!/usr/bin/env bash
# Builds installer-helper.exe as it is released into build/release (set
# HELPER_BUILD_ROOT for another folder than build/) and writes its SHA-256
# beside it. The build is reproducible: one commit gives the same bytes in any
# folder; its PE time stamp is SOURCE_DATE_EPOCH when set, else the commit's
# time (CMakeLists.txt says why a time rather than none).
#
#   scripts/release.sh [--sign-cert FILE --sign-key FILE [--sign-time SECONDS] [--sign-ca FILE]]
#
# With a certificate and its key it also signs the executable (Authenticode,
# SHA-256) into installer-helper.signed.exe, with its own SHA-256, and
# verifies the signature against --sign-ca (default: the certificate itself,
# as fits a self-signed one). The signature holds its signing time, by
# default the build's, so signed bytes are reproducible too.
set -euo pipefail

usage() {
  echo "usage: scripts/release.sh [--sign-cert FILE --sign-key FILE [--sign-time SECONDS] [--sign-ca FILE]]" >&2
  exit 2
}

sign_cert= sign_key= sign_time= sign_ca=
while [ $# -gt 0 ]; do
  case $1 in
    --sign-cert|--sign-key|--sign-time|--sign-ca)
      [ $# -ge 2 ] || usage
      case $1 in
        --sign-cert) sign_cert=$2 ;;
        --sign-key) sign_key=$2 ;;
        --sign-time) sign_time=$2 ;;
        --sign-ca) sign_ca=$2 ;;
      esac
      shift 2 ;;
    *) usage ;;
  esac
done
if [ -n "$sign_cert$sign_key$sign_time$sign_ca" ] && { [ -z "$sign_cert" ] || [ -z "$sign_key" ]; }; then
  echo "release: signing needs both --sign-cert and --sign-key" >&2
  exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${HELPER_BUILD_ROOT:-$root/build}
out=$build_root/release
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if ! SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || [ -z "$SOURCE_DATE_EPOCH" ]; then
    echo "release: not a git checkout: set SOURCE_DATE_EPOCH to the release's time (Unix seconds)" >&2
    exit 1
  fi
  if [ -n "$(git -C "$root" status --porcelain --untracked-files=normal)" ]; then
    echo "release: warning: the work tree has uncommitted changes; this is not the commit's executable" >&2
  fi
fi
case $SOURCE_DATE_EPOCH in
  ''|*[!0-9]*) echo "release: SOURCE_DATE_EPOCH is not a number of seconds: $SOURCE_DATE_EPOCH" >&2; exit 1 ;;
esac
sign_time=${sign_time:-$SOURCE_DATE_EPOCH}
case $sign_time in
  ''|*[!0-9]*) echo "release: --sign-time is not a number of seconds: $sign_time" >&2; exit 2 ;;
esac

bash "$root/scripts/setup.sh"
cd "$root"
cmake --preset release -B "$out" -DHELPER_SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" >/dev/null
cmake --build "$out" -j"$jobs"
# Named without a folder, so that `sha256sum -c` works inside the folder.
(cd "$out" && sha256sum installer-helper.exe >installer-helper.exe.sha256)
echo "release: $out/installer-helper.exe $(cut -d' ' -f1 "$out/installer-helper.exe.sha256")"

if [ -n "$sign_cert" ]; then
  signed=$out/installer-helper.signed.exe
  # A failed signing or verification leaves no signed executable behind.
  rm -f "$signed" "$signed.sha256" "$signed.partial"
  osslsigncode sign -certs "$sign_cert" -key "$sign_key" -h sha256 \
    -n "Quillmora Launcher setup maintenance helper" -time "$sign_time" \
    -in "$out/installer-helper.exe" -out "$signed.partial" >/dev/null
  if ! osslsigncode verify -CAfile "${sign_ca:-$sign_cert}" -in "$signed.partial" >"$out/verify.log" 2>&1; then
    cat "$out/verify.log" >&2
    rm -f "$signed.partial"
    echo "release: the signature does not verify" >&2
    exit 1
  fi
  mv "$signed.partial" "$signed"
  (cd "$out" && sha256sum installer-helper.signed.exe >installer-helper.signed.exe.sha256)
  echo "release: $signed $(cut -d' ' -f1 "$signed.sha256") (signature verified)"
fi
