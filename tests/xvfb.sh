# Sourced by the end-to-end tests: runs a command in a fresh X server.
#
# The server picks a free display itself (-displayfd) and writes its number
# only once it accepts connections, and it is waited for until it has gone.
# Guessing a free number from the lock files instead lets a run that starts
# just as another one ends take the number of the server still shutting down,
# and lose its display half-way through. -noreset: by default the server
# resets whenever its last client leaves (an xdotool call, the editor of a
# first round), and a program connecting during the reset is refused.
run_in_xvfb() { # COMMAND [ARGS...]
  local dir server display="" status=0
  dir=$(mktemp -d "${TMPDIR:-/tmp}/morvik-xvfb-XXXXXX")
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3> "$dir/display" 2> "$dir/log" &
  server=$!
  for _ in $(seq 1 300); do
    # The number is complete once its line has ended.
    if [ -s "$dir/display" ] && [ -z "$(tail -c 1 "$dir/display")" ]; then
      display=$(head -n 1 "$dir/display")
      break
    fi
    kill -0 "$server" 2> /dev/null || break
    sleep 0.1
  done
  if [ -z "$display" ]; then
    echo "Xvfb did not start:" >&2
    cat "$dir/log" >&2
    kill "$server" 2> /dev/null || true
    wait "$server" 2> /dev/null || true
    rm -rf "$dir"
    return 1
  fi
  DISPLAY=":$display" "$@" || status=$?
  kill "$server" 2> /dev/null || true
  wait "$server" 2> /dev/null || true
  rm -rf "$dir"
  return "$status"
}
