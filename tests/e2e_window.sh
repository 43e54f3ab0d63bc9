# Sourced by the end-to-end drivers inside Xvfb: waiting for the editor's
# window and for its start-up folder load, reading the clipboard, polling.
# The driver's `work` folder holds the editor's log, morvik.log.

# Prints the message and the editor's log, and ends the driver.
fail() {
  echo "$1" >&2
  cat "$work/morvik.log" >&2
  exit 1
}

# Sets `window` to the editor's window once it shows (up to 30 s: a loaded
# machine can take that long to start a program under Xvfb).
wait_for_window() {
  window=""
  for _ in $(seq 1 300); do
    window=$(xdotool search --onlyvisible --name "Morvik」 ver2" 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || fail "the editor window did not appear"
  xdotool windowfocus --sync "$window" || true
}

# Keys sent before the start-up load has filled the grid would be lost. The
# grid has the focus on the first file's name: Ctrl+C copies it to the X
# clipboard once it is there (up to 30 s).
wait_for_load() { # FIRST_FILE_NAME
  for _ in $(seq 1 300); do
    xdotool key ctrl+c
    if [ "$(clip)" = "$1" ]; then
      return 0
    fi
    sleep 0.1
  done
  fail "the folder load did not finish"
}

# The text of the X clipboard, or nothing.
clip() { timeout 5 xclip -o -selection clipboard 2>/dev/null || true; }

# Polls (up to 30 s) until the command given succeeds.
await() { # WHAT COMMAND [ARGS...]
  local what=$1
  shift
  for _ in $(seq 1 300); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for: $what"
}
