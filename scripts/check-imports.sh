#!/usr/bin/env bash
# Checks that Windows programs import only DLLs that come with Windows itself. The C++ runtime,
# libgcc and winpthreads are linked in, so a program runs from an unzipped folder on a machine
# where nothing was installed.
#
#   scripts/check-imports.sh FORMAT PROGRAM.exe...   FORMAT: pei-x86-64 or pei-i386
#   scripts/check-imports.sh --self-test             shows that a program linked against the
#                                                    MinGW runtime DLLs is refused
#
# Prints each program's imported DLLs; exits non-zero when a program is not of FORMAT, imports
# nothing (no import table was read), or imports a DLL that is not one of the system's.
set -euo pipefail

objdump=x86_64-w64-mingw32-objdump

# The system's own DLLs, compared in lower case. winusb.dll, the user-mode half of the generic
# WinUSB driver, is part of every Windows since Vista.
system_dll='^(kernel32|user32|gdi32|comctl32|comdlg32|setupapi|winusb|advapi32|shell32|ole32|oleaut32|shlwapi|uxtheme|version|winmm|ws2_32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'

check() {
  local format=$1 program=$2
  local dump
  if ! dump=$("$objdump" -p "$program" 2>&1); then
    echo "FAIL $program: not readable as a Windows program: $dump" >&2
    return 1
  fi
  local actual
  actual=$(sed -n 's/^.*file format \(.*\)$/\1/p' <<<"$dump" | head -n 1)
  if [ "$actual" != "$format" ]; then
    echo "FAIL $program: file format '$actual', expected '$format'" >&2
    return 1
  fi
  local dlls
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr -d '\r' | tr 'A-Z' 'a-z' | sort -u)
  if [ -z "$dlls" ]; then
    echo "FAIL $program: no imported DLL found" >&2
    return 1
  fi
  local foreign
  foreign=$(grep -Ev "$system_dll" <<<"$dlls" || true)
  echo "$program ($format): $(tr '\n' ' ' <<<"$dlls")"
  if [ -n "$foreign" ]; then
    echo "FAIL $program imports DLLs that Windows does not have: $(tr '\n' ' ' <<<"$foreign")" >&2
    return 1
  fi
}

# A small program linked the default way, against libstdc++-6.dll and friends, must be refused.
self_test() {
  local scratch
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' RETURN
  printf '#include <iostream>\n#include <thread>\nint main() { std::thread([] { std::cout << 1; }).join(); }\n' \
    >"$scratch/dynamic.cpp"
  x86_64-w64-mingw32-g++-posix -o "$scratch/dynamic.exe" "$scratch/dynamic.cpp"
  if check pei-x86-64 "$scratch/dynamic.exe" 2>"$scratch/refusal"; then
    echo "FAIL self-test: a program that needs the MinGW runtime DLLs was accepted" >&2
    return 1
  fi
  if ! grep -q 'libstdc++-6.dll' "$scratch/refusal"; then
    echo "FAIL self-test: the refusal does not name libstdc++-6.dll: $(cat "$scratch/refusal")" >&2
    return 1
  fi
  echo "self-test: refused as it should be: $(cat "$scratch/refusal")"
}

if [ "${1:-}" = "--self-test" ]; then
  self_test
  exit
fi
format=${1:?usage: check-imports.sh FORMAT PROGRAM.exe... | --self-test}
shift
[ "$#" -gt 0 ] || { echo "usage: check-imports.sh FORMAT PROGRAM.exe..." >&2; exit 2; }
failed=0
for program in "$@"; do
  check "$format" "$program" || failed=1
done
exit "$failed"
