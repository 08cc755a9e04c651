// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic level control aimed at the ticks: gathers the envelope peaks of the last ticks and the
// noise between them, and tells the gain step whether to go up, down or stay. The typical tick is
// held at a few times the unlock threshold, and the gain never rises when the noise between ticks
// would reach half the threshold, so raising the level never lets noise pass for ticks.
//
// The noise is the running lower quartile of 1 ms block peaks of the rectified signal outside the
// tick envelopes: ticks (detected or still below the threshold) fill only a small part of a beat,
// and a low quantile shrugs off them and any noise spike.
//
// Used by AnalysisCore under AnalysisLock: AddSample, AddTickPeak and EndBuffer on the capture
// thread from ProcessBuffer; Advise and Scale from the thread that runs the gain step. AddSample
// runs once per sample and only compares and multiplies.
#pragma once

#include <array>
#include <cstdint>

namespace kv {

class LevelControl {
public:
    enum class Step { Hold, Up, Down };

    // Sizes the noise blocks for the sample rate.
    void Configure(unsigned sampleRate);
    // Forgets the ticks and the noise (a new run).
    void Reset();

    // One rectified sample; `inTick` while the detector collects a tick envelope.
    void AddSample(int v, bool inTick) {
        if (!inTick && v > BlockPeak) BlockPeak = v;
        if (++BlockCount >= BlockLength) EndBlock();
    }
    // The envelope peak of one detected tick.
    void AddTickPeak(int peak);
    // End of a buffer of `samples`: ticks not heard for a while are forgotten.
    void EndBuffer(int64_t samples);

    // The median envelope peak of the last ticks, 0 while too few are known.
    int TypicalTickPeak() const;
    // The noise between ticks (lower quartile of 1 ms block peaks), 0 until measured.
    double Noise() const { return NoiseLevel; }

    // Which way the gain should go for `threshold`, the unlock threshold the level aims at, when
    // one step up would multiply the signal by `upRatio`. Once moving, the level goes on to the
    // aim itself, so it settles in the middle of the band and not at its edge.
    Step Advise(int threshold, double upRatio);
    // The gain changed by `ratio`: the levels gathered so far are taken as if heard at the new
    // gain, so the next step does not wait for a dozen new ticks.
    void Scale(double ratio);

private:
    void EndBlock();
    Step Decide(int threshold, double upRatio) const;

    static constexpr int TicksKept = 12; // about 1.5 s of a 28800 vph watch
    std::array<int, TicksKept> TickPeaks{};
    int Ticks = 0; // ticks stored, at most TicksKept
    int NextTick = 0;
    int64_t SamplesSinceTick = 0;
    unsigned SampleRate = 0;

    int BlockLength = 1;
    int BlockCount = 0;
    int BlockPeak = -1;       // -1: no sample outside a tick in this block yet
    double NoiseLevel = 0.0;  // 0 = not measured
    Step Moving = Step::Hold; // the last advice
};

} // namespace kv
