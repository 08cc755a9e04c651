#!/usr/bin/env bash
# Installs what is missing, builds, and measures a recording: the file given, or the bundled
# sample recording of a synthetic 28800 vph watch.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build=${KV_BUILD_DIR:-build}
file=${1:-$build/share/kestrovane/sample-watch.wav}
shift || true
exec "$build/src/kestrovane-analyze" --train "28800 vph" --every 5 "$@" "$file"
