#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the tests with ThreadSanitizer and runs the capture, monitor output and calibration
# worker tests (the worker against the user-interface thread, lock order included): the rings,
# CSoundIn and CSoundOut with scripted devices (order, overruns, clips, close while busy) and the
# real ALSA stack.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export KV_BUILD_DIR=build-tsan KV_BUILD_TYPE=RelWithDebInfo
scripts/build.sh -DKV_SANITIZE=thread -DKV_BUILD_BENCHMARKS=OFF -DKV_WERROR=ON
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
build-tsan/tests/kestrovane_tests --gtest_filter='*SoundIn*:*CaptureRing*:*Capture*:*SoundOut*:*Monitor*:*FilePlayer*:*ClockedSource*:*BufferLength*:*TimeLapse*:*TerminationSignals*:*CalibrationEngine*:*LocalStandard*:-*CaptureCpu*'
build-tsan/tests/kestrovane_alsa_tests
