#!/usr/bin/env bash
# The grid's paste and serial numbers over 5,000 rows: on the logic level,
# then through a shown grid when the window build is on.
set -euo pipefail
build=$1
"$build/bench/bench_cellcommands" 5000
if [ -x "$build/bench/bench_gridcommands" ]; then
  QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/bench/bench_gridcommands" 5000
fi
