#!/usr/bin/env bash
# Starts the editor from a build, or the command-line tool's help while the
# window is not built.
set -euo pipefail
build=${1:-build}
if [ -x "$build/app/morvik" ]; then
  exec "$build/app/morvik"
fi
exec "$build/tools/morvik-cli" --help
