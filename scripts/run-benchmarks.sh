#!/usr/bin/env bash
# Runs every benchmark script under bench/ against a build. Benchmarks print
# figures; they pass or fail nothing.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
for script in "$root"/bench/*.sh; do
  [ -x "$script" ] || continue
  echo "== $(basename "$script")"
  "$script" "$build"
done
