#!/usr/bin/env bash
# Tag reading of 10,000 small files per view and of ten-frame tags behind a
# 30 KB picture, `morvik-cli set` over them, and in-place versus rewrite on a 50 MB file.
set -euo pipefail
"$1/bench/bench_mp3id" "${TMPDIR:-/tmp}/morvik-bench-mp3id" 10000 50 "$1/tools/morvik-cli"
