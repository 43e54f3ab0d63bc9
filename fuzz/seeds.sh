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
    # Version 2.4 with UTF-8, a data-length indicator and unsynchronisation, a
    # picture before the title, and a version 2.2 tag.
    { printf 'ID3\x04\x00\x00\x00\x00\x00\x50APIC\x00\x00\x00\x12\x00\x00\x03image/png\x00\x03\x00\xff\x00\xe0TIT2'
      printf 'TIT2\x00\x00\x00\x0a\x00\x03\x00\x00\x00\x05\x03\xed\x95\x9c!'
      printf 'TCON\x00\x00\x00\x03\x00\x00\x0313COMM\x00\x00\x00\x0a\x00\x00\x03eng\x00\xf0\x9f\x8e\xb5'
      head -c 20 /dev/zero; printf '\xff\xfb\x90\x64'; head -c 200 /dev/zero | tr '\0' 'U'; } > "$dir/v24utf8"
    printf 'ID3\x02\x00\x00\x00\x00\x00\x30TT2\x00\x00\x07\x01\xff\xfeA\x00\x00\x00PIC\x00\x00\x06\x00PNG\x03\x00COM\x00\x00\x05\x00eng\x00' > "$dir/v22"
    ;;
  fuzz_specialedit)
    printf '%%N.[%%M][%%A]%%T\0Song.Mp3\0 Intro \0\x8b\xc8.mp3\0 12\0%%' > "$dir/rows"
    printf '%%T - %%X%%\0a.mp3.mp3\0\xe6\x9b\xb2\0-7' > "$dir/literal"
    ;;
  fuzz_mp3info)
    # First byte: bit 0 seekable, bits 1-2 the reader's capacity.
    v1() { printf 'TAG'; head -c 122 /dev/zero | tr '\0' 'a'; printf '\x00\x05\x11'; }
    frames() { printf '\xff\xfb\x90\x64'; head -c 200 /dev/zero | tr '\0' 'U'; }
    { printf '\x01ID3\x03\x00\x40\x00\x00\x00\x33\x00\x00\x00\x06\x00\x00\x00\x00\x00\x00'
      printf 'TIT2\x00\x00\x00\x09\x00\x00\x01\xff\xfe\xc6\x30\xb9\x30\x00\x00'
      printf 'COMM\x00\x00\x00\x08\x00\x00\x00eng\x00hi!'; head -c 4 /dev/zero
      frames; printf 'LYRICSBEGININD0000210LYR00003abc000032LYRICS200'; v1; } > "$dir/id3v23"
    { printf '\x07ID3\x04\x00\x00\x00\x00\x00\x05abcde'; frames; printf 'LYRICSBEGINwordsLYRICSEND'; v1; } > "$dir/v24lyrics1"
    { printf '\x01RIFF\x00\x00\x00\x00WAVEfmt \x10\x00\x00\x00'; head -c 16 /dev/zero
      printf 'data\xcc\x00\x00\x00'; frames; printf 'LIST\x16\x00\x00\x00INFOINAM\x05\x00\x00\x00Name\x00\x00'; } > "$dir/riff"
    { printf '\x03\x00\x08song.mp3'; head -c 55 /dev/zero; printf 'MPG3TVOD'; head -c 10 /dev/zero
      printf '\x00\x00\x01\x4c\x00\x00\x00\x10'; head -c 37 /dev/zero; frames; v1; head -c 16 /dev/zero; } > "$dir/macbin"
    ;;
  fuzz_decoder)
    # Byte 0 picks the first header, byte 1 the output channels, byte 2 the
    # free-format length; then (2-byte length, frame bytes) chunks. The same
    # bytes also run as a whole stream.
    if command -v lame > /dev/null && command -v ffmpeg > /dev/null; then
      tmp=$(mktemp -d)
      ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=1000:duration=0.3" -ac 2 -ar 44100 "$tmp/s.wav"
      lame --quiet -t -b 96 "$tmp/s.wav" "$tmp/a.mp3" && cp "$tmp/a.mp3" "$dir/mpeg1"
      lame --quiet -t -m m -b 32 --resample 22.05 "$tmp/s.wav" "$tmp/b.mp3" && cp "$tmp/b.mp3" "$dir/lsf"
      lame --quiet -V 5 --resample 8 "$tmp/s.wav" "$tmp/c.mp3" && cp "$tmp/c.mp3" "$dir/mpeg25-vbr"
      if command -v twolame > /dev/null; then
        twolame --quiet -m j -b 112 "$tmp/s.wav" "$tmp/d.mp2" && head -c 3000 "$tmp/d.mp2" > "$dir/layer2"
      fi
      { printf '\x00\x00\x20\x01\xa1'; head -c 417 "$tmp/a.mp3"; } > "$dir/chunked"
      rm -rf "$tmp"
    fi
    printf '\x00\x00\x00\xff\xfb\x90\x64' > "$dir/header"
    ;;
  fuzz_player)
    # Byte 0: bit 0 seekable, bit 1 pause once; then the stream.
    if command -v lame > /dev/null && command -v ffmpeg > /dev/null; then
      tmp=$(mktemp -d)
      ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=1000:duration=0.2" -ac 2 -ar 44100 "$tmp/s.wav"
      lame --quiet -b 64 "$tmp/s.wav" "$tmp/a.mp3" && { printf '\x01'; cat "$tmp/a.mp3"; } > "$dir/cbr"
      lame --quiet -V 7 --resample 22.05 "$tmp/s.wav" "$tmp/b.mp3" && { printf '\x02'; cat "$tmp/b.mp3"; } > "$dir/vbr-unseekable"
      rm -rf "$tmp"
    fi
    ;;
  fuzz_profilefile)
    printf '; settings\n[women]\ndefdir=/music\ntagv=2\nmovemsg=1\n\n[other]\nx=1\n' > "$dir/plain"
    printf '[ WOMEN ]\r\n  DefDir =  /a b  \r\ngarbage\r\n=\r\n[women\r\n' > "$dir/crlf-garbage"
    ;;
esac
