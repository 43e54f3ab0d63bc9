#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build briefly: its seed inputs (made by
# fuzz/seeds.sh for that target, when it has one) and then random mutations
# for FUZZ_SECONDS seconds. Any crash or sanitizer report fails.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
count=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=$(mktemp -d)
  trap 'rm -rf "$corpus"' EXIT
  if [ -x "$root/fuzz/seeds.sh" ]; then
    "$root/fuzz/seeds.sh" "$name" "$corpus"
  fi
  echo "== $name: ${seconds}s"
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 -print_final_stats=0 \
            "$corpus" 2> "$corpus.log" || { tail -n 60 "$corpus.log"; exit 1; }
  tail -n 1 "$corpus.log"
  rm -rf "$corpus" "$corpus.log"
  count=$((count + 1))
done
echo "fuzz: $count targets ran without a finding"
