#!/usr/bin/env bash
# End-to-end run of the editor in a real X server (Xvfb), driven by xdotool:
# start it on a folder named by its tag.ini, wait for the load (the first
# file's name copied to the X clipboard with xclip), type a new title into
# the first row, press Ctrl+S and check the file's tag with morvik-cli.
# Then again in the ID3v2 view on a folder whose first file ffmpeg tagged
# with track "2/12": a new title for it and a new name for the file after it;
# the apply writes both, and ffprobe reads "2/12" back.
# Usage: e2e_editor.sh MORVIK_BINARY MORVIK_CLI
set -euo pipefail
source "$(dirname "$0")/e2e_setup.sh"
morvik=$1
cli=$2

make_workspace editor "$morvik"
song="$work/music/song.mp3"
tone 440 0.3 "$song"
"$cli" write --v1 "$song" "Old title" "Artist" "Album" "2001" "" "1" "Rock"
write_settings "$work/music" 1
mkdir -p "$work/nofm"
ffmpeg -nostdin -loglevel error -i "$song" -c copy -metadata title=Sora -metadata track=2/12 "$work/nofm/a.mp3"
cp "$song" "$work/nofm/b.mp3"

cat > "$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
work=$1
cli=$2
source "$3"
song="$work/music/song.mp3"
pid=""
start_editor() {
  "$work/app/morvik" > "$work/morvik.log" 2>&1 &
  pid=$!
}
stop_editor() {
  [ -z "$pid" ] || { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
  pid=""
}
trap stop_editor EXIT

start_editor

wait_for_window
wait_for_load song.mp3
# The grid has the focus on the first data row's file name: move to the
# title, type over it and apply with the editor still open.
xdotool key --delay 50 Right
xdotool type --delay 30 "Typed in Xvfb"
xdotool key --delay 50 ctrl+s

title_is() { "$cli" read "$1" "$2" | cut -f3 | grep -qx "$3"; }
await "the typed title in the file" title_is --v1 "$song" "Typed in Xvfb"
echo "title written: $("$cli" read --v1 "$song")"
stop_editor

# The "2/12" folder in the ID3v2 view: a title for the first file, then a
# name for the second, and one apply.
printf '[women]\ndefdir=%s\ntagv=2\n' "$work/nofm" > "$work/app/tag.ini"
start_editor
wait_for_window
wait_for_load a.mp3
xdotool key --delay 50 Right
xdotool type --delay 30 "Umi"
xdotool key --delay 50 Return Down Left
xdotool type --delay 30 "renamed.mp3"
xdotool key --delay 50 Return ctrl+s
renamed() { [ -f "$work/nofm/renamed.mp3" ] && [ ! -e "$work/nofm/b.mp3" ]; }
await "the rename after the 2/12 row" renamed
title_is --v2 "$work/nofm/a.mp3" "Umi" || fail "the title of the 2/12 file was not written"
track=$(ffprobe -loglevel error -show_entries format_tags=track -of default=nw=1:nk=1 "$work/nofm/a.mp3")
[ "$track" = "2/12" ] || fail "ffprobe reads track '$track' instead of 2/12"
echo "2/12 kept: $("$cli" read --v2 "$work/nofm/a.mp3"); renamed: $(ls "$work/nofm" | tr '\n' ' ')"
DRIVE
chmod +x "$work/drive.sh"

run_in_xvfb "$work/drive.sh" "$work" "$cli" "$window_helpers"
