// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/LevelControl.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// Noise blocks last 1 ms: long enough to hold a noise peak, short beside the gap between ticks.
constexpr unsigned BlocksPerSecond = 1000;
// The noise is the lower quartile of the block peaks: ticks not yet detected and noise spikes fill
// far less than three quarters of the blocks. The estimate rises 1 % on a louder block and falls
// 3 % on a quieter one, which balances where a quarter of the blocks are quieter; it follows a
// gain step within a few dozen blocks.
constexpr double NoiseQuantile = 0.25;
constexpr double NoiseTrackStep = 0.04;
// One unit of a 16-bit sample: the noise is never taken as nothing once a block has been seen.
constexpr double LowestNoise = 1.0;
// Ticks not heard for 3 s are forgotten: a watch that went quiet is searched for again.
constexpr double ForgetTicksSeconds = 3.0;
// A median needs a few ticks; one or two may be noise the detector took.
constexpr int FewestTicks = 3;
// The typical tick is aimed at three times the threshold: clear of the threshold with a tick's
// beat-to-beat variation, far from clipping.
constexpr double AimToThreshold = 3.0;
// The level starts to move when the typical tick is more than 1.4 times off the aim, and then goes
// on to the aim: it settles instead of swinging at the edge of the band.
constexpr double AimTolerance = 1.4;
// The typical 1 ms noise peak may reach half the threshold, never more, so that the rarer, larger
// noise peaks stay below the threshold.
constexpr double NoiseToThreshold = 0.5;
// Without ticks the gain falls only once the noise is 1 dB over that limit, so that it does not
// swing between rising and falling at the limit.
constexpr double NoiseHysteresis = 1.12;

} // namespace

void LevelControl::Configure(unsigned sampleRate) {
    SampleRate = sampleRate;
    BlockLength = std::max(1, static_cast<int>(sampleRate / BlocksPerSecond));
}

void LevelControl::Reset() {
    Ticks = 0;
    NextTick = 0;
    SamplesSinceTick = 0;
    BlockCount = 0;
    BlockPeak = -1;
    NoiseLevel = 0.0;
    Moving = Step::Hold;
}

void LevelControl::Scale(double ratio) {
    for (int& peak : TickPeaks)
        peak = static_cast<int>(std::lround(peak * ratio));
    NoiseLevel = std::max(NoiseLevel > 0.0 ? LowestNoise : 0.0, NoiseLevel * ratio);
}

void LevelControl::EndBlock() {
    const int peak = BlockPeak;
    BlockPeak = -1;
    BlockCount = 0;
    if (peak < 0) return; // the whole block was a tick
    if (NoiseLevel <= 0.0) {
        NoiseLevel = std::max<double>(peak, LowestNoise);
        return;
    }
    if (peak > NoiseLevel)
        NoiseLevel *= 1.0 + NoiseTrackStep * NoiseQuantile;
    else
        NoiseLevel =
            std::max(LowestNoise, NoiseLevel * (1.0 - NoiseTrackStep * (1.0 - NoiseQuantile)));
}

void LevelControl::AddTickPeak(int peak) {
    TickPeaks[NextTick] = peak;
    NextTick = (NextTick + 1) % TicksKept;
    Ticks = std::min(Ticks + 1, TicksKept);
    SamplesSinceTick = 0;
}

void LevelControl::EndBuffer(int64_t samples) {
    SamplesSinceTick += samples;
    if (SampleRate > 0 && SamplesSinceTick > ForgetTicksSeconds * SampleRate) {
        Ticks = 0;
        NextTick = 0;
    }
}

int LevelControl::TypicalTickPeak() const {
    if (Ticks < FewestTicks) return 0;
    std::array<int, TicksKept> sorted = TickPeaks;
    const auto middle = sorted.begin() + Ticks / 2;
    std::nth_element(sorted.begin(), middle, sorted.begin() + Ticks);
    return *middle;
}

LevelControl::Step LevelControl::Advise(int threshold, double upRatio) {
    Moving = Decide(threshold, upRatio);
    return Moving;
}

LevelControl::Step LevelControl::Decide(int threshold, double upRatio) const {
    if (NoiseLevel <= 0.0) return Step::Hold; // nothing heard yet
    const double aim = AimToThreshold * threshold;
    const double noiseLimit = NoiseToThreshold * threshold;
    const int tick = TypicalTickPeak();
    const bool ticks = tick > 0;
    const double downFrom = Moving == Step::Down ? aim : aim * AimTolerance;
    const double upFrom = Moving == Step::Up ? aim : aim / AimTolerance;
    if (ticks && tick > downFrom) return Step::Down;
    if (ticks ? NoiseLevel >= noiseLimit && tick > aim : NoiseLevel >= noiseLimit * NoiseHysteresis)
        return Step::Down;
    const bool quiet = !ticks || tick < upFrom;
    if (quiet && NoiseLevel * upRatio < noiseLimit) return Step::Up;
    return Step::Hold;
}

} // namespace kv
