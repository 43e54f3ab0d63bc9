#!/usr/bin/env bash
# Stream reader throughput over 100 MB, and the sound output's processor time
# per second of audio on ALSA's "null" device.
set -euo pipefail
"$1/bench/bench_player" "${TMPDIR:-/tmp}" 600
