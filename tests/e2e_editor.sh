#!/usr/bin/env bash
# End-to-end run of the editor in a real X server (Xvfb), driven by xdotool:
# start it on a folder named by its tag.ini, wait for the load (the first
# file's name copied to the X clipboard with xclip), type a new title into
# the first row, press Ctrl+S and check the file's tag with morvik-cli.
# Usage: e2e_editor.sh MORVIK_BINARY MORVIK_CLI
set -euo pipefail
command -v xclip > /dev/null || { echo "xclip is not installed (scripts/install-deps.sh installs it)" >&2; exit 1; }
morvik=$1
cli=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/morvik-e2e-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app" "$work/music"

# The settings file lies beside the executable, so the program runs from a
# copy in a folder of its own.
cp "$morvik" "$work/app/morvik"
song="$work/music/song.mp3"
ffmpeg -nostdin -loglevel error -f lavfi -i sine=frequency=440:duration=0.3 -ar 44100 -ac 2 -f wav - |
  lame --quiet -b 128 - "$song"
"$cli" write --v1 "$song" "Old title" "Artist" "Album" "2001" "" "1" "Rock"
printf '[women]\ndefdir=%s\ntagv=1\n' "$work/music" > "$work/app/tag.ini"

cat > "$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
work=$1
cli=$2
source "$3"
song="$work/music/song.mp3"
"$work/app/morvik" > "$work/morvik.log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT

wait_for_window
wait_for_load song.mp3
# The grid has the focus on the first data row's file name: move to the
# title, type over it and apply with the editor still open.
xdotool key --delay 50 Right
xdotool type --delay 30 "Typed in Xvfb"
xdotool key --delay 50 ctrl+s

for _ in $(seq 1 300); do
  if "$cli" read --v1 "$song" | cut -f3 | grep -qx "Typed in Xvfb"; then
    echo "title written: $("$cli" read --v1 "$song")"
    exit 0
  fi
  sleep 0.1
done
echo "the title was not written; the file reads:" >&2
"$cli" read --v1 "$song" >&2
cat "$work/morvik.log" >&2
exit 1
DRIVE
chmod +x "$work/drive.sh"

xvfb-run -a -s "-screen 0 1024x768x24" "$work/drive.sh" "$work" "$cli" "$(cd "$(dirname "$0")" && pwd)/e2e_window.sh"
