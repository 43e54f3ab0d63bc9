#!/usr/bin/env bash
# The editor window on 5,000 MP3 files: folder load into the grid and the
# apply of a title change to every row, ID3v1 and ID3v2 views. Needs the
# window build (MORVIK_GUI=ON).
set -euo pipefail
build=$1
if [ ! -x "$build/bench/bench_app" ]; then
  echo "bench_app not built (window build off); skipped"
  exit 0
fi
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/bench_app" "${FILES:-5000}"
