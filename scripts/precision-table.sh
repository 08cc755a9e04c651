#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Prints the accuracy of the standard detector against precision timing on synthetic 60 s lever
# watches: 44.1, 48 and 96 kHz; 18000 to 36000 vph; several rates, beat errors, amplitudes and
# seeds. Per sample rate and mode: the worst 8 s rate error over every reading once the window is
# full, the worst accumulated rate error at the end, the mean beat error and amplitude errors, and
# the share of ticks precision timing refined. Usage: precision-table.sh [SEEDS] (default 3).
# Extra analyser options (say --threshold 10) may follow in KV_ANALYZE_OPTIONS.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KV_BUILD_DIR:-build}
seeds=${1:-3}
synth="$build/tools/synth/kestrovane-synth"
analyze="$build/src/kestrovane-analyze"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One case per line: sample rate, vph, rate s/d, beat error ms, amplitude, seed.
cases="$work/cases.txt"
: >"$cases"
rates=(-7.5 3.2 14.0 0.0)
beat_errors=(0.0 0.4 1.3 0.8)
amplitudes=(290 230 310 200)
for fs in 44100 48000 96000; do
    for vph in 18000 21600 28800 36000; do
        for ((seed = 1; seed <= seeds; ++seed)); do
            k=$(((seed + vph / 3600) % 4))
            echo "$fs $vph ${rates[$k]} ${beat_errors[$k]} ${amplitudes[$k]} $seed" >>"$cases"
        done
    done
done

results="$work/results.txt"
: >"$results"
while read -r fs vph rate be amp seed; do
    wav="$work/case.wav"
    rm -f "$wav"
    "$synth" --vph "$vph" --rate "$rate" --beat-error "$be" --amplitude "$amp" \
        --rate-hz "$fs" --seconds 60 --seed "$seed" "$wav" >/dev/null
    for precise in 0 1; do
        # shellcheck disable=SC2086
        "$analyze" --train "$vph" --every 1 --precise "$precise" ${KV_ANALYZE_OPTIONS:-} "$wav" \
            >"$work/out.json"
        echo "$fs $vph $rate $be $amp $seed $precise $(tr '\n' ' ' <"$work/out.json")" >>"$results"
    done
done <"$cases"

python3 - "$results" <<'PY'
import json, sys
from collections import defaultdict

rows = defaultdict(lambda: {"rate8": 0.0, "acc": 0.0, "be": [], "amp": [], "refined": 0,
                            "ticks": 0, "cases": 0, "missed": 0})
for line in open(sys.argv[1]):
    head, _, rest = line.partition("{")
    fs, vph, rate, be, amp, seed, precise = head.split()
    readings = [json.loads("{" + part.strip().rstrip("}") + "}")
                for part in rest.rsplit("}", 1)[0].split("} {")]
    row = rows[(int(fs), int(precise))]
    row["cases"] += 1
    truth = float(rate)
    full = [r for r in readings if r["rate_window_full"] and r["rate_sd"] is not None]
    if not full:
        row["missed"] += 1
        continue
    row["rate8"] = max(row["rate8"], max(abs(r["rate_sd"] - truth) for r in full))
    last = readings[-1]
    row["acc"] = max(row["acc"], abs(last["accumulated_rate_sd"] - truth))
    if last["beat_error_ms"] is not None:
        row["be"].append(abs(abs(last["beat_error_ms"]) - float(be)))
    if last["amplitude_deg"] is not None:
        row["amp"].append(abs(last["amplitude_deg"] - float(amp)))
    row["refined"] += last.get("refined_ticks", 0)
    row["ticks"] += last["ticks"]

def mean(values):
    return sum(values) / len(values) if values else float("nan")

print("| Sample rate | Mode | Cases | Worst 8 s rate error (s/d) | Worst accumulated rate error (s/d)"
      " | Mean beat error error (ms) | Mean amplitude error (deg) | Ticks refined |")
print("|---|---|---|---|---|---|---|---|")
for (fs, precise) in sorted(rows):
    r = rows[(fs, precise)]
    refined = f"{100.0 * r['refined'] / r['ticks']:.1f} %" if precise and r["ticks"] else "-"
    print(f"| {fs / 1000:g} kHz | {'precision' if precise else 'standard'} | {r['cases']}"
          f"{' (' + str(r['missed']) + ' unmeasured)' if r['missed'] else ''}"
          f" | {r['rate8']:.3f} | {r['acc']:.4f} | {mean(r['be']):.4f} | {mean(r['amp']):.2f}"
          f" | {refined} |")
PY
