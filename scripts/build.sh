#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds into build/ (or $KV_BUILD_DIR). Extra arguments go to cmake. With
# $KV_TARGETS set (names separated by spaces), builds only those targets instead of everything.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KV_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${KV_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
targets=()
for target in ${KV_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build" --parallel "$(nproc)" "${targets[@]}"
