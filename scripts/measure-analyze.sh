#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures kestrovane-analyze on a long 96 kHz recording: peak memory (maximum resident set) and
# speed as a multiple of real time. The recording is HOURS (default 6) of a synthetic 18000 vph
# watch, made from 10-minute pieces (a whole number of beats, so the joins are seamless) in a
# throw-away folder; nothing is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KV_BUILD_DIR:-build}
hours=${1:-6}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
piece_seconds=600
"$build/tools/synth/kestrovane-synth" --vph 18000 --rate 0 --rate-hz 96000 \
    --seconds "$piece_seconds" --start 0.1 "$work/piece.wav" >/dev/null
pieces=$((hours * 3600 / piece_seconds))
python3 - "$work/piece.wav" "$work/long.wav" "$pieces" <<'PY'
import struct, sys
piece, out, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(piece, 'rb').read()[44:]
header = bytearray(open(piece, 'rb').read(44))
size = len(data) * count
struct.pack_into('<I', header, 4, min(size + 36, 0xFFFFFFFF))
struct.pack_into('<I', header, 40, min(size, 0xFFFFFFFF))
with open(out, 'wb') as f:
    f.write(header)
    for _ in range(count):
        f.write(data)
PY
seconds=$((hours * 3600))
/usr/bin/env time -f '%M %U %S %e' -o "$work/time.txt" \
    "$build/src/kestrovane-analyze" --train 18000 "$work/long.wav" >"$work/out.json"
read -r peak_kb user system elapsed < <(tail -n 1 "$work/time.txt")
awk -v k="$peak_kb" -v u="$user" -v s="$system" -v e="$elapsed" -v a="$seconds" 'BEGIN {
    printf "audio %d s at 96 kHz: peak memory %.1f MB, %.2f s CPU, %.2f s elapsed, %.0fx real time\n",
        a, k / 1024, u + s, e, a / (u + s) }'
tail -n 1 "$work/out.json"
