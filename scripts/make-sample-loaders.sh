#!/usr/bin/env bash
# Writes the project's own made-up loader images and configuration file into a working folder:
#   <folder>\bin\loader.bin (5000 bytes), bin\LTE2_jump.bin (1024), bin\ram.bin (2048), KESTRIN.ini
# They are no phone maker's code: each is a fixed pseudo-random byte sequence, the same on every
# run, of the size the program expects. The simulated phone takes any bytes as loader code.
set -euo pipefail

folder=${1:?usage: make-sample-loaders.sh <working folder>}
mkdir -p "$folder/bin"

# Bytes from a 32-bit linear congruential generator, seeded per file, written as octal escapes.
made_up_bytes() {
  local count=$1 state=$2 chunk="" i
  for ((i = 0; i < count; i++)); do
    state=$(((state * 1103515245 + 12345) & 0xFFFFFFFF))
    printf -v escape '\\%03o' $(((state >> 16) & 0xFF))
    chunk+=$escape
    if ((${#chunk} >= 4096)); then
      printf '%b' "$chunk"
      chunk=""
    fi
  done
  printf '%b' "$chunk"
}

made_up_bytes 5000 1 >"$folder/bin/loader.bin"
made_up_bytes 1024 2 >"$folder/bin/LTE2_jump.bin"
made_up_bytes 2048 3 >"$folder/bin/ram.bin"
# Bytes 7 to 14 hold the CG1 start address, eight hex characters.
printf 'CG1ADR=100A0000\r\n' >"$folder/KESTRIN.ini"
