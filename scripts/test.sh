#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, checks the layers, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-layers.sh
scripts/check-spdx.sh
scripts/build.sh "$@"
ctest --test-dir "${KV_BUILD_DIR:-build}" --output-on-failure --parallel "$(nproc)"
