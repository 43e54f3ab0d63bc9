#!/usr/bin/env bash
# Sorting 5,000 rows by title (both directions) and fitting columns over
# them, on keys and through the editor's grid.
set -euo pipefail
build=$1
if [ -x "$build/bench/bench_gridsort" ]; then
  QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/bench_gridsort" 5000
fi
