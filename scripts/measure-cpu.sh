#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures the CPU time (user + system) of the whole program playing and measuring a 96 kHz
# recording for SECONDS (default 60) on the offscreen platform, in a throw-away home folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KV_BUILD_DIR:-build}
seconds=${1:-60}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
"$build/tools/synth/kestrovane-synth" --movement lever --vph 28800 --rate 3 --rate-hz 96000 \
    --seconds 120 "$home/watch96.wav" >/dev/null
mkdir -p "$home/.config/VexlorDemo"
printf '[Settings]\nWaveFile2=%s\nTickInterval=28800 vph\nDuplexAudio=0\n' "$home/watch96.wav" \
    >"$home/.config/VexlorDemo/Kestrovane.ini"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
export QT_QPA_PLATFORM=offscreen
/usr/bin/env time -f '%U %S %e' -o "$home/time.txt" \
    timeout -s TERM "$seconds" "$build/src/kestrovane" >/dev/null 2>&1 || true
read -r user system elapsed < <(tail -n 1 "$home/time.txt")
awk -v u="$user" -v s="$system" -v e="$elapsed" 'BEGIN {
    printf "user %.2f s, system %.2f s over %.1f s: %.2f %% of one core\n", u, s, e, 100 * (u + s) / e }'
