#!/usr/bin/env bash
# End-to-end run of sorting and the special edit in a real X server (Xvfb),
# driven by xdotool: sort by title from the menu (Alt+V, S), type a title
# into the first row, extend the selection over the three rows, open the
# special edit from the menu (Alt+E, S), confirm with Enter, apply with
# Ctrl+S, and check the new file names and tags on disk.
# Usage: e2e_specialedit.sh MORVIK_BINARY MORVIK_CLI
set -euo pipefail
source "$(dirname "$0")/e2e_setup.sh"
morvik=$1
cli=$2

make_workspace special "$morvik"
tone 440 0.3 "$work/tone.mp3"
# File names in one order, titles in another.
for pair in a.mp3:b b.mp3:a c.mp3:d; do
  cp "$work/tone.mp3" "$work/music/${pair%%:*}"
  "$cli" write --v1 "$work/music/${pair%%:*}" "${pair##*:}" "Artist" "Album" "2001" "" "1" "Rock"
done
write_settings "$work/music" 1 tokusyu=3 tokusyu_str=%N-%T

cat > "$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
work=$1
cli=$2
source "$3"
"$work/app/morvik" > "$work/morvik.log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT

copy_is() { xdotool key ctrl+c; [ "$(clip)" = "$1" ]; }

wait_for_window
wait_for_load a.mp3

# The first sort of a column is descending: titles d, b, a.
xdotool key --delay 40 Right
xdotool key --delay 150 alt+v s
await "the rows sorted by title" copy_is d
xdotool key --delay 40 Down
await "the second row after the sort" copy_is b
xdotool key --delay 40 Up

# A title typed into the first row, then the three rows selected.
xdotool type --delay 30 "New"
xdotool key --delay 60 Return shift+Down shift+Down

xdotool key --delay 150 alt+e s
dialog=""
find_dialog() {
  dialog=$(xdotool search --onlyvisible --name "特殊編集" 2>/dev/null | head -n 1 || true)
  [ -n "$dialog" ]
}
await "the special-edit dialog" find_dialog
xdotool windowfocus --sync "$dialog" || true
xdotool key Return
gone() { ! xdotool search --onlyvisible --name "特殊編集" > /dev/null 2>&1; }
await "the dialog closed by Enter" gone
xdotool windowfocus --sync "$window" || true
xdotool key --delay 60 ctrl+s

renamed() { [ "$(ls "$work/music" | tr '\n' ' ')" = "1-New.mp3 2-b.mp3 3-a.mp3 " ]; }
await "the files renamed by the pattern" renamed
title_is() { [ "$("$cli" read --v1 "$work/music/$1" | cut -f3)" = "$2" ]; }
title_is 1-New.mp3 New && title_is 2-b.mp3 b && title_is 3-a.mp3 a || fail "a file has another row's title"
grep -q '^tokusyu=3' "$work/app/tag.ini" || fail "the mode was not saved"
echo "renamed: $(ls "$work/music" | tr '\n' ' ')"
DRIVE
chmod +x "$work/drive.sh"

run_in_xvfb "$work/drive.sh" "$work" "$cli" "$window_helpers"
