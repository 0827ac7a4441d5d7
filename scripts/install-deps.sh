#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the tests and the demo need,
# only those that are missing, as root or through sudo. With the argument
# "fuzz", also those of `make fuzz`; with "windows", those of `make windows-check`.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  qt6-base-dev qt6-serialport-dev qt6-multimedia-dev
  libjpeg-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev libmuparser-dev
  fonts-liberation2 xvfb xauth x11-apps imagemagick
)

# `install-deps.sh fuzz`: what `make fuzz` needs besides (clang and its
# sanitizer and libFuzzer runtime); the default install stays without it.
if [ "${1:-}" = "fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi
# `install-deps.sh windows`: the MinGW-w64 cross compiler and wine of `make
# windows-check` (GoogleTest is built there from libgtest-dev's sources).
if [ "${1:-}" = "windows" ]; then
  packages+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  run=()
elif command -v sudo >/dev/null 2>&1; then
  run=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${run[@]}" apt-get update -qq
"${run[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
