// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/DropSearch.h"

#include "analysis/AnalysisState.h"

namespace kv {

namespace {

// The lever's drop is looked for below an eighth of the envelope's swing.
constexpr int LeverDropFraction = 8;
// The coaxial scans look for sound above a quarter, then half, of the swing.
constexpr int CoaxialStartFraction = 4;
constexpr int CoaxialDropFraction = 2;
// A level above any sample: after it the next sound at the floor always stops the scan.
constexpr int AboveFullScale = FullScale + 1;

} // namespace

int FindLeverDrop(const EnvelopeView& e) {
    const int L = e.LiftSamplesMin;
    if (e.MaxIndex <= L + 1) return -1;
    const int threshold = e.Min + (e.Max - e.Min) / LeverDropFraction;
    int held = 0;
    for (int k = e.MaxIndex; k >= L + 2; --k) {
        const int value = e.Points[k];
        if (value >= threshold) {
            held = 0;
        } else if (value < held) {
            return (k == 0 || k == e.MaxIndex) ? -1 : k;
        } else {
            held = value;
        }
    }
    return -1;
}

namespace {

// One step of the coaxial scans: values under `floor` reset the running level, a value at or above
// it ends the scan; returns true to stop.
bool CoaxialScanStops(int value, int floor, int resetLevel, int& held) {
    if (value < floor) {
        held = resetLevel;
        return false;
    }
    if (value >= held) return true;
    held = value;
    return false;
}

} // namespace

int FindCoaxialDrop(const EnvelopeView& e) {
    const int L = e.LiftSamplesMin;
    const int half = e.Min + (e.Max - e.Min) / CoaxialDropFraction;
    const int quarter = e.Min + (e.Max - e.Min) / CoaxialStartFraction;

    int k1 = -1;
    int held = FullScale;
    for (int k = e.Count - 1; k >= L + 2; --k) {
        if (CoaxialScanStops(e.Points[k], quarter, AboveFullScale, held)) {
            k1 = k;
            break;
        }
    }
    if (k1 < 0 || L / 2 >= k1) return -1;

    int j1 = -1;
    held = FullScale;
    for (int j = L / 2; j < k1; ++j) {
        if (CoaxialScanStops(e.Points[j], quarter, AboveFullScale, held)) {
            j1 = j;
            break;
        }
    }
    if (j1 <= 0 || j1 >= k1) return -1;

    held = FullScale;
    for (int j = (j1 + k1) / 2 + 1; j < k1; ++j) {
        if (CoaxialScanStops(e.Points[j], half, FullScale, held)) return j > L ? j : -1;
    }
    return -1;
}

} // namespace kv
