#!/usr/bin/env bash
# Installs what building and testing installer-helper need on Debian 12: the
# host compiler and GoogleTest, the mingw-w64 cross compiler, Wine for the
# end-to-end tests, NSIS for the sample setup, the header-only libraries,
# Google Benchmark for the micro-benchmarks, and what the release and its
# check take (git for the commit's time, osslsigncode to sign, openssl for
# the check's throwaway certificate); with --fuzz also clang-19 and its
# sanitizer and libFuzzer runtimes (Debian's clang 14 has no std::expected
# with GCC 12's library). Run as root; running it again installs nothing
# that is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine64 wine
  nsis
  nlohmann-json3-dev libboost-dev libbenchmark-dev
  coreutils
  git osslsigncode openssl
)
case "${1:-}" in
  --fuzz) packages+=(clang-19 libclang-rt-19-dev) ;;
  "") ;;
  *) echo "usage: setup.sh [--fuzz]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: these packages are missing and only root can install them: ${missing[*]}" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q </dev/null
apt-get install -y -q "${missing[@]}" </dev/null
