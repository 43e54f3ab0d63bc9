#!/usr/bin/env bash
# Writes seed inputs for one fuzz target into a folder: fuzz/seeds.sh TARGET DIR
set -euo pipefail
target=$1
dir=$2
mkdir -p "$dir"
case "$target" in
  fuzz_mp3id)
    printf 'ID3\x03\x00\x00\x00\x00\x00\x30TIT2\x00\x00\x00\x04\x00\x00\x00abcCOMM\x00\x00\x00\x08\x00\x00\x00eng\x00hi!TCON\x00\x00\x00\x05\x00\x00\x00(17)' > "$dir/v23"
    { head -c 300 /dev/zero; printf 'TAG'; head -c 122 /dev/zero | tr '\0' 'a'; printf '\x00\x05\x11'; } > "$dir/v1"
    printf 'ID3\x04\x00\x10\x00\x00\x00\x05abcde3DI' > "$dir/v24footer"
    ;;
esac
