#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Pictures of the measuring window at screen scales 1, 1.5 and 2 (docs/hidpi-1x.png,
# docs/hidpi-1.5x.png, docs/hidpi-2x.png): the window is 1280 x 800 screen pixels each time, so
# they show how the texts and the settings bar grow on a HiDPI screen. About half a minute each.
# Then the log viewer at scale 2 (docs/hidpi-logviewer-2x.png), a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KV_BUILD_DIR:-build}
cmake --build "$build" --target kestrovane-shots
for scale in 1 1.5 2; do
    QT_SCALE_FACTOR=$scale "$build/src/kestrovane-shots" --window "docs/hidpi-${scale}x.png"
done
QT_SCALE_FACTOR=2 "$build/src/kestrovane-shots" --logviewer docs/hidpi-logviewer-2x.png
