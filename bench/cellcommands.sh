#!/usr/bin/env bash
# The grid's paste and serial numbers over 5,000 rows, on the logic level.
set -euo pipefail
"$1/bench/bench_cellcommands" 5000
