#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes docs/long-term-graph.png: writes two days of a watch's log at one record a minute (the
# rate following the room temperature, the amplitude falling as the mainspring runs down, one
# winding tag) and draws it with kestrovane-graph at 1280x720 with the viewer's default settings,
# in UTC and the C locale, so the picture shows ISO 8601 dates wherever it is made.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target kestrovane-graph >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk 'BEGIN {
    pi = 3.14159265358979; start = 1717236000; deviation = 0; sum = 0
    for (i = 0; i <= 48 * 60; i++) {
        h = i / 60; t = start + 60 * i
        temperature = 22 + 3 * sin(2 * pi * (h - 9) / 24)
        if (h >= 24) wound = h - 24; else wound = h + 6
        rate = 3 + 0.4 * (temperature - 22) + 0.02 * wound + 0.15 * sin(i / 7)
        amplitude = 285 - 1.6 * wound + 1.5 * sin(i / 11)
        deviation += rate / 1440; sum += rate
        beat = 0.0003 + 0.00002 * sin(i / 90)
        printf "%d\t%.3f\t%.1f\t%.4f\t%.2f\t%.3f\t%.8f", t, rate, amplitude, deviation, temperature, sum / (i + 1), beat
        if (i == 24 * 60) printf "\t<TGG1>wound</TAG>"
        printf "\r\n"
    }
}' > "$work/watch.log"
printf '[Graph]\n' > "$work/viewer.ini"
TZ=UTC LC_ALL=C build/src/kestrovane-graph --settings "$work/viewer.ini" --width 1280 --height 720 \
    --png docs/long-term-graph.png "$work/watch.log"
echo "docs/long-term-graph.png"
