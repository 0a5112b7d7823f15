#!/usr/bin/env bash
# The release: builds norvale.exe and norvale-cli.exe for 64-bit and for 32-bit Windows (Release,
# runtime linked in), checks what they import, and packs them with the operator's guides, the
# licence, the bin\ note and the Linux udev rule into one ZIP with CPack; then builds norvale-cli
# natively (Release, with Debian's hardening flags) and packs it, its manual page, bash completion
# and udev rule as a Debian package and a tarball with CPack.
#
#   scripts/package.sh           -> build/release/norvale-<version>-windows.zip,
#                                   build/release/norvale-cli_<version>_<arch>.deb,
#                                   build/release/norvale-cli-<version>-linux-<arch>.tar.gz
#   scripts/package.sh --linux   only the .deb and the tarball
#
# NORVALE_PACKAGE_DIR puts the build trees and the archives elsewhere. Each archive's file list is
# checked against the list below: nothing else, and nothing of the phone maker's, gets in.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${NORVALE_PACKAGE_DIR:-$root/build/release}
jobs=$(nproc 2>/dev/null || echo 2)

windows=1
case "${1:-}" in
  "") ;;
  --linux) windows=0 ;;
  *)
    echo "usage: scripts/package.sh [--linux]" >&2
    exit 2
    ;;
esac

"$root/scripts/install-deps.sh"

# Fails, showing the difference, unless the file list on standard input is the expected one.
check_files() {
  local archive=$1 expected=$2 actual
  actual=$(LC_ALL=C sort)
  if [ "$actual" != "$(LC_ALL=C sort <<<"$expected")" ]; then
    echo "$archive holds other files than it should:" >&2
    diff <(LC_ALL=C sort <<<"$expected") <(echo "$actual") >&2 || true
    exit 1
  fi
}

build_program() {
  local dir=$1 toolchain=$2
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DNORVALE_TESTS=OFF -DNORVALE_BENCH=OFF >/dev/null
  cmake --build "$dir" --parallel "$jobs" --target norvale norvale-cli norvale-station
}

# The Windows programs of both architectures, packed into the ZIP.
windows_release() {
  local version name archive expected
  build_program "$out/x64" mingw-x86_64.cmake
  build_program "$out/x86" mingw-i686.cmake
  "$root/scripts/check-imports.sh" pei-x86-64 "$out/x64/norvale.exe" "$out/x64/norvale-cli.exe" \
    "$out/x64/norvale-station.exe"
  "$root/scripts/check-imports.sh" pei-i386 "$out/x86/norvale.exe" "$out/x86/norvale-cli.exe" \
    "$out/x86/norvale-station.exe"

  # The packaging tree builds nothing itself: its CPack run installs the programs from both trees
  # and the texts once.
  cmake -S "$root" -B "$out/package" -G Ninja -DNORVALE_TESTS=OFF -DNORVALE_BENCH=OFF \
    -DNORVALE_PACKAGE_X64_TREE="$out/x64" -DNORVALE_PACKAGE_X86_TREE="$out/x86" >/dev/null
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/package/CMakeCache.txt")
  name=norvale-$version-windows
  rm -f "$out/package/$name.zip"
  (cd "$out/package" && cpack -G ZIP >/dev/null)
  archive=$out/$name.zip
  mv "$out/package/$name.zip" "$archive"

  expected=$(printf '%s\n' "$name/LICENSE.txt" "$name/bin/README.txt" "$name/guide-en.txt" \
    "$name/guide-ru.txt" "$name/linux/70-norvale.rules" "$name/norvale-x64.exe" \
    "$name/norvale-x86.exe" "$name/norvale-cli-x64.exe" "$name/norvale-cli-x86.exe" \
    "$name/norvale-station-x64.exe" "$name/norvale-station-x86.exe")
  unzip -Z1 "$archive" | grep -v '/$' | check_files "$archive" "$expected"

  unzip -l "$archive"
  echo "Release archive: $archive"
}

# norvale-cli for this machine's architecture, packed as a .deb and a tarball.
linux_release() {
  local dir=$out/linux arch version deb tarball expected
  arch=$(dpkg --print-architecture)
  # Debian's build flags, hardening included (stack protector, fortified functions, read-only
  # relocations bound at start); the file prefix map keeps the build folder out of the program.
  local flags linker
  flags=$(cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
  flags+=" $(cd "$root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS)"
  linker=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNORVALE_TESTS=OFF \
    -DNORVALE_BENCH=OFF -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$linker" >/dev/null
  cmake --build "$dir" --parallel "$jobs" --target norvale-cli norvale-cli-extras norvale-linux-docs
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")

  # The package's changelog names the version it ships.
  local logged
  logged=$(dpkg-parsechangelog -l "$root/packaging/linux/changelog" -S Version)
  if [ "$logged" != "$version" ]; then
    echo "packaging/linux/changelog's latest entry is $logged; the project's version is $version" >&2
    exit 1
  fi

  deb=norvale-cli_${version}_$arch.deb
  tarball=norvale-cli-$version-linux-$arch
  rm -f "$dir/$deb" "$dir/$tarball.tar.gz"
  (cd "$dir" && cpack -G "DEB;TGZ" >/dev/null)
  mv "$dir/$deb" "$dir/$tarball.tar.gz" "$out/"

  local files=(bin/norvale-cli lib/udev/rules.d/70-norvale.rules share/man/man1/norvale-cli.1.gz
    share/bash-completion/completions/norvale-cli share/doc/norvale-cli/copyright
    share/doc/norvale-cli/changelog.gz share/doc/norvale-cli/guide-en.md.gz
    share/doc/norvale-cli/guide-ru.md.gz)
  expected=$(printf 'usr/%s\n' "${files[@]}")
  dpkg-deb -c "$out/$deb" | awk '{ print $NF }' | sed 's|^\./||' | grep -v '/$' |
    check_files "$deb" "$expected"
  expected=$(printf '%s\n' "${files[@]/#/$tarball/}" "$tarball/INSTALL")
  tar -tzf "$out/$tarball.tar.gz" | grep -v '/$' | check_files "$tarball.tar.gz" "$expected"

  dpkg-deb --info "$out/$deb"
  dpkg-deb -c "$out/$deb"
  echo "Debian package: $out/$deb"
  echo "Tarball: $out/$tarball.tar.gz"
}

if [ "$windows" -eq 1 ]; then windows_release; fi
linux_release
