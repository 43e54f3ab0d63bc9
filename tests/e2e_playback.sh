#!/usr/bin/env bash
# End-to-end playback in a real X server (Xvfb), driven by xdotool through
# the "演奏(&P)" menu by keyboard. The window plays into an ALSA file plug-in
# over the "null" device (named by MORVIK_ALSA_DEVICE in the .asoundrc of
# this run's own HOME) whose file is a FIFO, so every play of the run lands
# in one stream: a second row played (Alt+P, P) must give exactly its
# `morvik-cli decode` output; with "全曲リピート(&A)" on, playing the first
# row must go on to the second and round again; Stop (Alt+P, S) must end
# the output.
# Usage: e2e_playback.sh MORVIK_BINARY MORVIK_CLI
set -euo pipefail
source "$(dirname "$0")/e2e_setup.sh"
morvik=$1
cli=$2

make_workspace playback "$morvik"
mkdir "$work/home"
tone 440 0.3 "$work/music/a.mp3"
tone 660 0.2 "$work/music/b.mp3"
"$cli" write --v1 "$work/music/a.mp3" "Song A" "Artist" "Album" "2001" "" "1" "Rock"
"$cli" write --v1 "$work/music/b.mp3" "Song B" "Artist" "Album" "2002" "" "2" "Rock"
"$cli" decode "$work/music/a.mp3" "$work/a.pcm"
"$cli" decode "$work/music/b.mp3" "$work/b.pcm"
write_settings "$work/music" 1
mkfifo "$work/tap.fifo"
printf 'pcm.morviktap { type file; slave.pcm "null"; file "%s"; format "raw" }\n' "$work/tap.fifo" \
  > "$work/home/.asoundrc"

cat > "$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
work=$1
source "$2"
size() { stat -c %s "$work/tap.raw"; }

# The reader holds the FIFO open for writing too, so it sees no end of file
# between the plays.
( exec 3<> "$work/tap.fifo"; exec cat <&3 > "$work/tap.raw" ) &
reader=$!
HOME="$work/home" MORVIK_ALSA_DEVICE=morviktap "$work/app/morvik" > "$work/morvik.log" 2>&1 &
pid=$!
trap 'kill "$pid" "$reader" 2>/dev/null || true; wait "$pid" "$reader" 2>/dev/null || true' EXIT

wait_for_window
wait_for_load a.mp3

# The second row, played from the menu: exactly its decoded sound.
xdotool key --delay 50 Down
xdotool key --delay 150 alt+p p
want=$(stat -c %s "$work/b.pcm")
for _ in $(seq 1 100); do
  [ "$(size)" -ge "$want" ] && break
  sleep 0.1
done
sleep 0.5
cmp "$work/b.pcm" "$work/tap.raw" || fail "the played bytes differ from morvik-cli decode (size $(size), want $want)"
echo "row 2 played: $(size) bytes, equal to decode"

# Repeat all, then the first row: a, b, a, ... until Stop.
xdotool key --delay 150 alt+p a
xdotool key --delay 50 Up
xdotool key --delay 150 alt+p p
loop=$(( want + 2 * $(stat -c %s "$work/a.pcm") + want ))
for _ in $(seq 1 100); do
  [ "$(size)" -ge "$loop" ] && break
  sleep 0.1
done
[ "$(size)" -ge "$loop" ] || fail "repeat-all did not go round the list (size $(size), want $loop)"
xdotool key --delay 150 alt+p s
sleep 0.5
stopped=$(size)
sleep 1
[ "$(size)" = "$stopped" ] || fail "the output went on after Stop ($stopped, then $(size) bytes)"
# Everything that reached ALSA: b, then a and b in turn, cut where Stop came.
/usr/bin/python3 - "$work" <<'CHECK' || fail "the repeat played something other than a, b, a, b, ..."
import sys
work = sys.argv[1]
a = open(work + '/a.pcm', 'rb').read()
b = open(work + '/b.pcm', 'rb').read()
got = open(work + '/tap.raw', 'rb').read()
rounds = (len(got) - len(b)) // (len(a) + len(b)) + 1
want = b + (a + b) * rounds
print('repeat-all: %d bytes, %.1f rounds, stopped' % (len(got), (len(got) - len(b)) / (len(a) + len(b))))
sys.exit(0 if got == want[:len(got)] else 1)
CHECK
DRIVE
chmod +x "$work/drive.sh"

run_in_xvfb "$work/drive.sh" "$work" "$window_helpers"
