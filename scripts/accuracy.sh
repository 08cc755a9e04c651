#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds and prints the accuracy table: the last reading of synthetic 60 s recordings of lever
# watches against their truth, across trains, sample rates, rate and beat errors, amplitudes and
# noise. Exits non-zero when any reading lies outside the instrument's bounds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec "${KV_BUILD_DIR:-build}/bench/kestrovane_accuracy" "$@"
