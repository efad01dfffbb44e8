#!/usr/bin/env bash
# Checks that the release is reproducible and signs as it should: this tree
# and a copy of it at another path are each built by scripts/release.sh into
# a folder of their own (nothing reused from another build), and the two
# executables must be byte-identical and carry the release's time stamp. Both
# are signed with a throwaway self-signed code-signing certificate at one
# fixed time; the signed executables must be identical too, and the signature
# must verify against that certificate and not against another one. Prints
# one summary line; exits non-zero when anything does not hold.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_root=${HELPER_BUILD_ROOT:-$root/build}
work=$build_root/release-check

fail() {
  echo "release: $*" >&2
  exit 1
}

# Both builds take the same epoch: the commit's time, as release.sh does.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) || fail "not a git checkout: set SOURCE_DATE_EPOCH"
fi
export SOURCE_DATE_EPOCH

rm -rf "$work"
mkdir -p "$work/source"

# The second source folder: the files of this tree that git knows or would
# add (an uncommitted change or a new file included), less the build folder.
exclude=()
build_real=$(realpath -m "$build_root") root_real=$(realpath "$root")
case $build_real/ in
  "$root_real"/*) exclude=(":(exclude)${build_real#"$root_real"/}/") ;;
esac
(cd "$root" && git ls-files -z --cached --others --exclude-standard -- . "${exclude[@]}") |
  while IFS= read -r -d '' file; do
    if [ -e "$root/$file" ]; then printf '%s\0' "$file"; fi
  done | tar -C "$root" --null -T - -cf - | tar -C "$work/source" -xf -

# RSA, since its (PKCS #1 v1.5) signatures depend on the key and data alone;
# an ECDSA signature would change with every signing.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj "/CN=installer-helper release check" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log" >&2; fail "no certificate could be made"; }
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$work/other-key.pem" -out "$work/other-cert.pem" \
  -subj "/CN=installer-helper release check, another signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  >>"$work/openssl.log" 2>&1 || { cat "$work/openssl.log" >&2; fail "no second certificate could be made"; }

# The first build signs at its default time and the second at the epoch given
# explicitly: identical signed bytes also show that the default is the epoch.
release() {
  local name=$1 script=$2
  shift 2
  if ! HELPER_BUILD_ROOT=$work/$name bash "$script" --sign-cert "$work/cert.pem" --sign-key "$work/key.pem" "$@" \
      >"$work/$name.log" 2>&1; then
    cat "$work/$name.log" >&2
    fail "the release build in $work/$name failed"
  fi
}
release a "$root/scripts/release.sh"
release b "$work/source/scripts/release.sh" --sign-time "$SOURCE_DATE_EPOCH"

a=$work/a/release
b=$work/b/release
cmp "$a/installer-helper.exe" "$b/installer-helper.exe" >&2 ||
  fail "two builds of one tree differ (x86_64-w64-mingw32-objdump -x both to see where)"
cmp "$a/installer-helper.signed.exe" "$b/installer-helper.signed.exe" >&2 ||
  fail "two signings at one time differ"
for folder in "$a" "$b"; do
  (cd "$folder" && sha256sum --quiet -c installer-helper.exe.sha256 installer-helper.signed.exe.sha256) >&2 ||
    fail "a SHA-256 file in $folder does not match its executable"
done

# The COFF header's TimeDateStamp, at the PE signature (offset in e_lfanew) + 8.
pe_offset=$(od -An -tu4 -j60 -N4 "$a/installer-helper.exe" | tr -d ' ')
stamp=$(od -An -tu4 -j$((pe_offset + 8)) -N4 "$a/installer-helper.exe" | tr -d ' ')
[ "$stamp" = "$SOURCE_DATE_EPOCH" ] || fail "the PE time stamp is $stamp, not the epoch $SOURCE_DATE_EPOCH"

osslsigncode verify -CAfile "$work/cert.pem" -in "$a/installer-helper.signed.exe" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log" >&2; fail "the signature does not verify"; }
if osslsigncode verify -CAfile "$work/other-cert.pem" -in "$a/installer-helper.signed.exe" >/dev/null 2>&1; then
  fail "the signature also verifies against a certificate that did not sign it"
fi

echo "release: reproducible, $(cut -d' ' -f1 "$a/installer-helper.exe.sha256"), signature verified"
