#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the user guide's pictures in docs/guide/images: kestrovane-shots plays a synthetic watch
# recording through the real measuring window on the offscreen platform (no display and no sound
# card needed) and saves the window, its paper tape, the settings dialog and the log viewer.
# Takes over a minute: the watch is measured in real time. The same as
# `cmake --build build --target guide-shots`.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KV_BUILD_DIR:-build}
cmake --build "$build" --target guide-shots
