#!/usr/bin/env bash
# Decoding speed of `morvik-cli decode` against FFmpeg's float decoders on
# 5-minute 44.1 kHz stereo files made from noise, tones and transients: three
# Layer III files by lame (128 kbit/s CBR, 320 kbit/s CBR, -V2) against
# mp3float, two Layer II files by twolame (192 and 384 kbit/s) against
# mp2float. Ours runs with --cpu auto, --cpu reference, and the feature words
# of a Pentium-class processor with CMOV (Intel, family 6) and of one with
# extended 3DNow! (AMD, family 6), each family on whatever processor runs
# the benchmark. Alternating runs, 5 rounds, medians; prints each time and
# its ratio to FFmpeg's (ours / FFmpeg).
set -euo pipefail
build=$1
cli="$build/tools/morvik-cli"
work=$(mktemp -d "${TMPDIR:-/tmp}/morvik-bench-decoder.XXXXXX")
trap 'rm -rf "$work"' EXIT
rounds=${ROUNDS:-5}

ffmpeg -nostdin -loglevel error -f lavfi -i "aevalsrc=exprs='0.25*sin(2*PI*440*t)+0.15*sin(2*PI*3100*t+sin(2*PI*0.3*t))+0.5*lt(mod(t\,0.47)\,0.004)+0.08*(random(0)-0.5)|0.2*sin(2*PI*660*t)+0.15*sin(2*PI*5200*t)*lt(mod(t\,0.31)\,0.03)+0.08*(random(1)-0.5)':s=44100:d=300" \
  -c:a pcm_s16le "$work/signal.wav"
lame --quiet -b 128 "$work/signal.wav" "$work/cbr128.mp3"
lame --quiet -b 320 "$work/signal.wav" "$work/cbr320.mp3"
lame --quiet -V 2 "$work/signal.wav" "$work/vbr-v2.mp3"
twolame --quiet -b 192 "$work/signal.wav" "$work/l2-192.mp2"
twolame --quiet -b 384 "$work/signal.wav" "$work/l2-384.mp2"

seconds() {  # runs a command, prints its wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }' 
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

choices=("--cpu auto" "--cpu reference" "--cpu-features 0x40015B" "--cpu-features 0x40027F")
names=(auto reference pentium-cmov e3dnow)

for file in cbr128.mp3 cbr320.mp3 vbr-v2.mp3 l2-192.mp2 l2-384.mp2; do
  mp3="$work/$file"
  codec=mp3float
  [[ $file == *.mp2 ]] && codec=mp2float
  declare -A times=()
  theirs=()
  for ((i = 0; i < rounds; i++)); do
    for c in "${!choices[@]}"; do
      # shellcheck disable=SC2086
      times[$c]+="$(seconds "$cli" decode ${choices[$c]} "$mp3" /dev/null) "
    done
    theirs+=("$(seconds ffmpeg -nostdin -threads 1 -c:a "$codec" -i "$mp3" -f null -)")
  done
  m_theirs=$(printf '%s\n' "${theirs[@]}" | median)
  printf '%-11s ffmpeg %s %.3f s\n' "$file" "$codec" "$m_theirs"
  for c in "${!choices[@]}"; do
    m_ours=$(printf '%s\n' ${times[$c]} | median)
    printf '%-11s morvik-cli decode %-26s %.3f s   ratio %.2f  (%s)\n' "$file" "${choices[$c]}" "$m_ours" \
      "$(awk -v a="$m_ours" -v b="$m_theirs" 'BEGIN { print a / b }')" "${names[$c]}"
  done
  unset times
done
