#!/usr/bin/env bash
# The release: builds norvale.exe and norvale-cli.exe for 64-bit and for 32-bit Windows (Release,
# runtime linked in), checks what they import, and packs them with the operator's guides, the
# licence, the bin\ note and the Linux udev rule into one ZIP with CPack.
#
#   scripts/package.sh     -> build/release/norvale-<version>-windows.zip
#
# NORVALE_PACKAGE_DIR puts the build trees and the archive elsewhere. The archive's file list is
# checked against the list below: nothing else, and nothing of the phone maker's, gets in.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${NORVALE_PACKAGE_DIR:-$root/build/release}
jobs=$(nproc 2>/dev/null || echo 2)

"$root/scripts/install-deps.sh"

build_program() {
  local dir=$1 toolchain=$2
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DNORVALE_TESTS=OFF -DNORVALE_BENCH=OFF >/dev/null
  cmake --build "$dir" --parallel "$jobs" --target norvale norvale-cli
}

build_program "$out/x64" mingw-x86_64.cmake
build_program "$out/x86" mingw-i686.cmake
"$root/scripts/check-imports.sh" pei-x86-64 "$out/x64/norvale.exe" "$out/x64/norvale-cli.exe"
"$root/scripts/check-imports.sh" pei-i386 "$out/x86/norvale.exe" "$out/x86/norvale-cli.exe"

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
  "$name/norvale-x86.exe" "$name/norvale-cli-x64.exe" "$name/norvale-cli-x86.exe")
actual=$(unzip -Z1 "$archive" | grep -v '/$' | LC_ALL=C sort)
if [ "$actual" != "$(LC_ALL=C sort <<<"$expected")" ]; then
  echo "The archive holds other files than it should:" >&2
  diff <(LC_ALL=C sort <<<"$expected") <(echo "$actual") >&2 || true
  exit 1
fi

unzip -l "$archive"
echo "Release archive: $archive"
