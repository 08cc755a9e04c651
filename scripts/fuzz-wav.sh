#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the WAV reader alone for a bounded time: scripts/fuzz-wav.sh [SECONDS] (60).
set -euo pipefail
exec "$(dirname "$0")/fuzz.sh" "${1:-60}" wave_reader
