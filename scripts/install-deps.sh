#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the simulated-phone run need.
# Safe to run again: packages already present are skipped.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick
  clang libclang-rt-14-dev llvm clang-format clang-tidy
  unzip
  libusb-1.0-0-dev umockdev libumockdev-dev
  dpkg-dev file lintian man-db bash-completion
  libtomlplusplus-dev nlohmann-json3-dev libxml2-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
