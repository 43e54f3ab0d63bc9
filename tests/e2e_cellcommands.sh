#!/usr/bin/env bash
# End-to-end run of the cell commands in a real X server (Xvfb), driven by
# xdotool and xclip: copy a block and read it from the CLIPBOARD selection,
# paste a block another program put there (Ctrl+V) and apply (Ctrl+S),
# serial numbers from the menu by keyboard (Alt+E, N), and a genre typed
# into the pick list; morvik-cli reads the files back after each apply; then
# megabytes of noise pasted and undone (Ctrl+Z).
# Usage: e2e_cellcommands.sh MORVIK_BINARY MORVIK_CLI [SCREENSHOT.png]
set -euo pipefail
source "$(dirname "$0")/e2e_setup.sh"
morvik=$1
cli=$2
screenshot=${3:-}

make_workspace cells "$morvik"
tone 440 0.3 "$work/tone.mp3"
for i in 1 2 3; do
  cp "$work/tone.mp3" "$work/music/s$i.mp3"
  "$cli" write --v1 "$work/music/s$i.mp3" "T$i" "A$i" "Album" "2001" "" "7" "Rock"
done
write_settings "$work/music" 1

cat > "$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
work=$1
cli=$2
screenshot=$3
"$work/app/morvik" > "$work/morvik.log" 2>&1 &
pid=$!
xclip_pid=""
cleanup() {
  [ -n "$xclip_pid" ] && kill "$xclip_pid" 2>/dev/null || true
  kill "$pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

source "$4"
# The window's log and, first, what the files hold.
fail() {
  echo "$*" >&2
  for i in 1 2 3; do "$cli" read --v1 "$work/music/s$i.mp3" >&2; done
  cat "$work/morvik.log" >&2
  exit 1
}

clip_is() { [ "$(clip | od -An -c)" = "$(printf '%b' "$1" | od -An -c)" ]; }
# Field N (morvik-cli read: 3 title, 4 artist, 8 track, 9 genre) of file I.
field_is() { [ "$("$cli" read --v1 "$work/music/s$2.mp3" | cut -f"$1")" = "$3" ]; }

wait_for_window
wait_for_load s1.mp3

# Copy: title and artist of the first two files, selected with Shift+arrows.
xdotool key --delay 40 Right shift+Right shift+Down ctrl+c
await "the copied block on the clipboard" clip_is 'T1,A1\r\nT2,A2'
echo "copied: $(clip | od -An -c | tr -s ' ')"

# Paste: another program owns the clipboard; xclip serves it in the
# foreground until it loses the selection or is stopped.
printf 'P1,Q1\r\nP2,Q2' > "$work/block.txt"
xclip -quiet -i -selection clipboard "$work/block.txt" > /dev/null 2>&1 &
xclip_pid=$!
await "xclip owning the clipboard" clip_is 'P1,Q1\r\nP2,Q2'
xdotool key --delay 40 Up Left ctrl+v ctrl+s
await "the pasted block in the files" field_is 3 2 P2
field_is 3 1 P1 && field_is 4 1 Q1 && field_is 4 2 Q2 && field_is 3 3 T3 && field_is 4 3 A3 ||
  fail "the paste wrote other cells"
echo "pasted: $("$cli" read --v1 "$work/music/s1.mp3" | cut -f3,4) / $("$cli" read --v1 "$work/music/s2.mp3" | cut -f3,4)"

# Serial numbers over the three track cells, from the menu by keyboard.
xdotool key --delay 40 Right Right Right Right Right shift+Down shift+Down
xdotool key --delay 150 alt+e n
# A genre typed (not picked) into the list: Enter opens it, Enter commits.
xdotool key --delay 40 Up Up Right Return ctrl+a
xdotool type --delay 30 "Jazz"
xdotool key --delay 40 Return
[ -z "$screenshot" ] || ffmpeg -nostdin -loglevel error -y -f x11grab -video_size 1024x768 -i "$DISPLAY" \
  -frames:v 1 "$screenshot" || true
xdotool key ctrl+s
await "the serial numbers in the files" field_is 8 3 3
field_is 8 1 1 && field_is 8 2 2 || fail "the serial numbers are wrong"
await "the typed genre in the file" field_is 9 1 Jazz
field_is 9 2 Rock || fail "the genre went into another row"
echo "tracks and genres:"
for i in 1 2 3; do "$cli" read --v1 "$work/music/s$i.mp3" | cut -f3,8,9; done

# Bad input: 4 MB of bytes that are mostly not UTF-8, with commas, CRs and
# LFs among them, pasted over the grid and taken back with Ctrl+Z; the apply
# then leaves every file as it was and the window goes on answering.
/usr/bin/python3 -c '
import random, sys
random.seed(11)
sys.stdout.buffer.write(b"noise" + bytes(random.getrandbits(8) for _ in range(4 << 20)))' > "$work/noise.bin"
kill "$xclip_pid" 2>/dev/null || true
wait "$xclip_pid" 2>/dev/null || true
xclip -quiet -i -selection clipboard "$work/noise.bin" > /dev/null 2>&1 &
xclip_pid=$!
noise_served() { [ "$(clip | head -c 4096 | wc -c)" -eq 4096 ]; }
await "xclip owning the noise" noise_served
before=$(for i in 1 2 3; do "$cli" read --v1 "$work/music/s$i.mp3"; done)
xdotool key --delay 40 Home Right ctrl+v ctrl+c
pasted() { [ "$(clip | head -c 5)" = noise ]; }
await "the noise in the grid" pasted
xdotool key --delay 40 ctrl+z ctrl+c
await "the undo of the noise" clip_is 'P1'
xdotool key ctrl+s
answered() { xdotool key ctrl+c && clip_is 'P1'; }
await "the window answering after the apply" answered
after=$(for i in 1 2 3; do "$cli" read --v1 "$work/music/s$i.mp3"; done)
[ "$before" = "$after" ] || fail "the undone noise reached the files"
kill -0 "$pid" || fail "the editor is gone"
echo "4 MB of noise pasted and undone; files unchanged"
DRIVE
chmod +x "$work/drive.sh"

run_in_xvfb "$work/drive.sh" "$work" "$cli" "$screenshot" "$window_helpers"
