#!/usr/bin/env bash
# Installs what is missing, checks the layers, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-layers.sh
scripts/build.sh "$@"
ctest --test-dir "${KV_BUILD_DIR:-build}" --output-on-failure --parallel "$(nproc)"
