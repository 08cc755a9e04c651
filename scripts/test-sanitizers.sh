#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the core and its tests with AddressSanitizer and UndefinedBehaviorSanitizer and runs them,
# all but the minutes-long real-time calibration tests (label "long").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export KV_BUILD_DIR=build-asan KV_BUILD_TYPE=Debug
scripts/build.sh -DKV_SANITIZE=address,undefined -DKV_BUILD_BENCHMARKS=OFF -DKV_WERROR=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
    ctest --test-dir build-asan --output-on-failure --parallel "$(nproc)" --label-exclude long
