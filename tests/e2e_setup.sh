# Sourced by the end-to-end tests before their driver runs in Xvfb
# (run_in_xvfb, from xvfb.sh, sourced here too): a work folder removed at
# exit, short tones encoded by lame, and the editor's settings.
command -v xclip > /dev/null || { echo "xclip is not installed (scripts/install-deps.sh installs it)" >&2; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
# The driver's helpers (waiting for the window and the load, the clipboard).
window_helpers="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/e2e_window.sh"

# Sets `work` to a new folder, removed at exit, holding an empty music/ and
# in app/ a copy of the editor: its settings file lies beside the
# executable, so the program runs from a folder of its own.
make_workspace() { # NAME MORVIK_BINARY
  work=$(mktemp -d "${TMPDIR:-/tmp}/morvik-e2e-$1-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/app" "$work/music"
  cp "$2" "$work/app/morvik"
}

tone() { # FREQUENCY SECONDS FILE: 44.1 kHz stereo at 128 kbit/s
  ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=$1:duration=$2" -ar 44100 -ac 2 -f wav - |
    lame --quiet -b 128 - "$3"
}

# The editor's tag.ini: start in FOLDER, in the ID3v1 (1) or ID3v2 (2)
# view, with any further "key=value" lines.
write_settings() { # FOLDER VIEW [LINE...]
  {
    printf '[women]\ndefdir=%s\ntagv=%s\n' "$1" "$2"
    shift 2
    [ $# -eq 0 ] || printf '%s\n' "$@"
  } > "$work/app/tag.ini"
}
