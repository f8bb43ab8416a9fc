#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Idempotent: packages
# that are already present are skipped, so a second run does nothing.
set -euo pipefail

packages=(
  g++ cmake make ninja-build pkg-config python3
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  g++-mingw-w64-x86-64 mingw-w64-tools binutils-mingw-w64-x86-64
  wine64 wine xvfb xauth imagemagick x11-utils
  lua5.1 liblua5.1-0-dev lua-busted lua-check
  faketime patch diffutils python3-jsonschema musl-dev
  clang-16 libfuzzer-16-dev libclang-rt-16-dev time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
