#!/usr/bin/env bash
# The editor window's player on ALSA's "null" device: processor time per
# second of audio of a 320 kbit/s file, and Play to the first block at ALSA.
# Needs the window build (MORVIK_GUI=ON).
set -euo pipefail
build=$1
if [ ! -x "$build/bench/bench_playback" ]; then
  echo "bench_playback not built (window build off); skipped"
  exit 0
fi
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/bench_playback" "${SECONDS_OF_AUDIO:-120}" "${RUNS:-30}"
