#!/usr/bin/env bash
# Prints the sha256 of `morvik-cli decode` output for every conformance
# bitstream in ../shared/conformance and for a fixed set of streams made here
# by lame, twolame and ffmpeg (some wrapped in ID3v2, ID3v1, Lyrics3 and
# RIFF data). Run it before and after a change that must not alter the
# decoder's output and compare the two listings:
#   scripts/decode-digests.sh build > before.txt ... diff before.txt after.txt
set -euo pipefail
build=${1:-build}
cli="$build/tools/morvik-cli"
shared=${MORVIK_SHARED_DIR:-$(cd "$(dirname "$0")/../.." && pwd)/shared}
[ -x "$cli" ] || { echo "no $cli: build first" >&2; exit 2; }
[ -d "$shared/conformance" ] || { echo "missing $shared/conformance" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

digest() {  # name file
    local sum
    if sum=$("$cli" decode "$2" - 2>/dev/null | sha256sum); then
        echo "${sum%% *} $1"
    else
        echo "failed $1"
    fi
}

for bit in "$shared"/conformance/*.bit; do
    digest "conformance/$(basename "$bit")" "$bit"
done

# Signals: tones, noise and clicks, deterministic from run to run.
signal() {  # rate channels out
    local second=""
    [ "$2" = 2 ] && second="|0.25*sin(2*PI*660*t)+0.4*lt(mod(t\\,0.41)\\,0.003)"
    ffmpeg -nostdin -loglevel error -y -f lavfi \
        -i "aevalsrc=exprs='0.3*sin(2*PI*440*t)+0.6*lt(mod(t\\,0.53)\\,0.002)+0.05*(random(0)-0.5)$second':s=$1:d=3" \
        -c:a pcm_s16le "$3"
}
for entry in 44100:2:"-m j -b 192" 48000:1:"-m m -b 64" 44100:2:"-m j -V 2" 22050:2:"-m s -V 4" \
            16000:1:"-m m -b 32" 24000:2:"-m j -b 96" 11025:2:"-m j -b 32" 8000:1:"-m m -b 16"; do
    IFS=: read -r rate ch opts <<<"$entry"
    signal "$rate" "$ch" "$work/in.wav"
    name="lame-$rate-$ch-${opts// /}"
    # shellcheck disable=SC2086
    lame --quiet -t $opts --resample "$(awk "BEGIN{print $rate/1000}")" "$work/in.wav" "$work/$name.mp3"
    digest "$name.mp3" "$work/$name.mp3"
done
for entry in 48000:2:"-m s -b 192" 44100:2:"-m j -b 128" 32000:2:"-m d -b 192" 44100:1:"-m m -b 160" \
            32000:1:"-m m -b 48"; do
    IFS=: read -r rate ch opts <<<"$entry"
    signal "$rate" "$ch" "$work/in.wav"
    name="twolame-$rate-$ch-${opts// /}"
    # shellcheck disable=SC2086
    twolame --quiet $opts "$work/in.wav" "$work/$name.mp2"
    digest "$name.mp2" "$work/$name.mp2"
done
signal 22050 2 "$work/in.wav"
ffmpeg -nostdin -loglevel error -y -i "$work/in.wav" -c:a mp2 -b:a 96k -f mp2 "$work/ffmpeg-mp2-22k.mp2"
digest ffmpeg-mp2-22k.mp2 "$work/ffmpeg-mp2-22k.mp2"

# The same Layer III stream behind and before tags and in a RIFF wrapper.
signal 44100 2 "$work/in.wav"
lame --quiet -t -b 128 "$work/in.wav" "$work/plain.mp3"
ffmpeg -nostdin -loglevel error -y -i "$work/plain.mp3" -c copy -id3v2_version 3 -write_id3v1 1 \
    -metadata title=Title -metadata artist=Artist "$work/tagged.mp3"
digest ffmpeg-id3v2-id3v1.mp3 "$work/tagged.mp3"
{ cat "$work/plain.mp3"; printf 'LYRICSBEGIN[00:01]words of a songLYRICSEND'; } >"$work/lyrics1.mp3"
digest lyrics3v1.mp3 "$work/lyrics1.mp3"
{ cat "$work/plain.mp3"; printf 'LYRICSBEGININD00003110LYR00005hello000031LYRICS200'; } >"$work/lyrics2.mp3"
digest lyrics3v2.mp3 "$work/lyrics2.mp3"
{ printf 'ID3\004\000\020\000\000\000\012'; head -c 10 /dev/zero; cat "$work/plain.mp3"; } >"$work/footer.mp3"
digest id3v24-footer-flag.mp3 "$work/footer.mp3"
ffmpeg -nostdin -loglevel error -y -i "$work/plain.mp3" -c copy -f wav "$work/riff.wav" || true
[ -s "$work/riff.wav" ] && digest riff-wrapped.wav "$work/riff.wav"
head -c 20000 "$work/plain.mp3" >"$work/cut.mp3"
digest truncated.mp3 "$work/cut.mp3"
{ head -c 9000 "$work/plain.mp3"; printf 'garbage\377\373garbage'; tail -c +9001 "$work/plain.mp3"; } >"$work/damaged.mp3"
digest damaged.mp3 "$work/damaged.mp3"
