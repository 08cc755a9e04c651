// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/TickRefiner.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace kv {

namespace {

// The template starts after the first impact of the click, whose few samples are the ones the
// threshold already timed and which follow the sample grid more than the sound; it covers the
// ringing that follows, which carries the phase of the tick between the samples. Measured on
// synthetic clicks, starting at the onset instead doubles the error at 96 kHz and quadruples it
// at 44.1 kHz.
constexpr double WindowDelaySeconds = 100e-6;
constexpr double WindowSeconds = 400e-6;
// The widest search the ring keeps samples for; the ringing period narrows it further.
constexpr double MaxSearchSeconds = 0.2e-3;
// Ticks averaged equally into a new template before its refinements are trusted: a template from
// a single tick is fragile, and the first refined tick anchors the accumulated rate, so its error
// stays in that reading for the rest of the run (measured: 4 ticks leave about 5 us, 16 about 1).
constexpr int WarmupTicks = 16;
// Afterwards each accepted tick moves it by 1/64: it follows slow changes of the sound
// without following one tick's noise.
constexpr int RefreshTicks = 64;
// Normalised correlation below this: the tick does not look like its pallet's earlier ticks.
constexpr double MinCorrelation = 0.5;
// Refined times may stray from their neighbours' prediction by the search limit plus this many
// samples before the tick keeps its detected time.
constexpr double NeighbourSlackSamples = 0.5;
// The search follows the neighbours' prediction by at most this many samples from the detected
// time: enough for a detected time that jumped a sample, too little to follow a slipped match.
constexpr long MaxCentreSamples = 1;
// Successive stray ticks of a pallet after which its neighbour history is forgotten.
constexpr int StraysBeforeRelearning = 2;
// The start of a tick is looked for up to this long before the detected unlock: a high threshold
// may have caught the impulse or even the drop of a slow watch's tick instead of its unlock ...
constexpr double OnsetLookbackSeconds = 30e-3;
// ... walking back through its sound while its envelope stays above this many noise RMS ...
constexpr double TickSoundNoiseRatio = 4.0;
// ... or dips below it for no longer than this: between the events of a quiet tick.
constexpr double LongestGapSeconds = 8e-3;
// From the start, the tick's first event is looked for at most this long: the caller keeps it
// short of the drop.
constexpr double OnsetLookAheadSeconds = 4e-3;
// The envelope is a moving RMS over a few cycles of a tick's ringing (several kHz), smooth
// enough to rise once through the fraction instead of on every half-cycle.
constexpr double OnsetSmoothingSeconds = 0.2e-3;
// The event timed is the tick's first to rise above this fraction of its loudest: the unlock,
// though the impulse during the lift may sound as loud or somewhat louder ...
constexpr double FirstEventFraction = 0.3;
// ... whose peak is where its envelope stops rising: it has fallen this far below its highest ...
constexpr double EventDecayedFraction = 0.8;
// ... and it is timed where it rises through this fraction of that peak: half, where the rise is
// steepest and the timing least sensitive to noise (a constant-fraction discriminator).
constexpr double OnsetFraction = 0.5;

int SamplesFor(double seconds, unsigned sampleRate) {
    return std::max(1, static_cast<int>(std::lround(seconds * sampleRate)));
}

size_t PowerOfTwoAtLeast(size_t n) {
    size_t size = 1;
    while (size < n)
        size <<= 1;
    return size;
}

} // namespace

void TickRefiner::Configure(unsigned sampleRate) {
    if (sampleRate == SampleRate) return;
    SampleRate = sampleRate;
    Delay = SamplesFor(WindowDelaySeconds, sampleRate);
    Length = SamplesFor(WindowSeconds, sampleRate);
    MaxSearch = SamplesFor(MaxSearchSeconds, sampleRate);
    Lookback = SamplesFor(OnsetLookbackSeconds, sampleRate);
    Gap = SamplesFor(LongestGapSeconds, sampleRate);
    MaxAhead = SamplesFor(OnsetLookAheadSeconds, sampleRate);
    Smoothing = std::max(2, SamplesFor(OnsetSmoothingSeconds, sampleRate));
    Scratch.assign(static_cast<size_t>(Lookback + MaxAhead + 1), 0.0);
    // The ring holds the onset's span and its smoothing, the window after the latest onset, the
    // search either side of it and the samples pushed while the window completes.
    const size_t span = static_cast<size_t>(
        2 * (Lookback + MaxAhead + Smoothing + Delay + Length + 2 * MaxSearch + 2));
    Ring.assign(PowerOfTwoAtLeast(span), 0.0);
    RingMask = Ring.size() - 1;
    for (Pallet& p : Pallets)
        p.Template.assign(static_cast<size_t>(Length), 0.0);
    Reset();
}

void TickRefiner::Reset() {
    for (Pallet& p : Pallets) {
        std::fill(p.Template.begin(), p.Template.end(), 0.0);
        p.Energy = 0.0;
        p.Ticks = 0;
        p.SearchLimit = 1;
        p.Strays = 0;
        p.Offset = 0.0;
    }
    ForgetNeighbours();
}

void TickRefiner::ForgetNeighbours() {
    for (Pallet& p : Pallets)
        p.Known = 0;
}

double TickRefiner::Correlate(const Pallet& p, int64_t start) const {
    double sum = 0.0;
    for (size_t j = 0; j < p.Template.size(); ++j)
        sum += p.Template[j] * At(start + static_cast<int64_t>(j));
    return sum;
}

double TickRefiner::WindowEnergy(int64_t start) const {
    double sum = 0.0;
    for (int j = 0; j < Length; ++j)
        sum += At(start + j) * At(start + j);
    return sum;
}

void TickRefiner::Learn(Pallet& p, int64_t start) {
    const double weight = p.Ticks < WarmupTicks ? 1.0 / (p.Ticks + 1) : 1.0 / RefreshTicks;
    double energy = 0.0;
    for (size_t j = 0; j < p.Template.size(); ++j) {
        double& t = p.Template[j];
        t += weight * (At(start + static_cast<int64_t>(j)) - t);
        energy += t * t;
    }
    p.Energy = energy;
    if (p.Ticks < WarmupTicks && ++p.Ticks == WarmupTicks)
        p.SearchLimit = HalfRingingPeriod(p.Template);
}

// The largest whole-sample search below half the template's ringing period: the first positive
// peak of its autocorrelation after lag 0 is the period. A search that reached half a period
// could match the tick one half-cycle off.
int TickRefiner::HalfRingingPeriod(const std::vector<double>& t) {
    const int n = static_cast<int>(t.size());
    auto autocorrelation = [&](int lag) {
        double sum = 0.0;
        for (int j = 0; j + lag < n; ++j)
            sum += t[j] * t[j + lag];
        return sum;
    };
    double before = autocorrelation(1), here = autocorrelation(2);
    for (int lag = 2; lag + 1 < n / 2; ++lag) {
        const double after = autocorrelation(lag + 1);
        if (here > 0.0 && here >= before && here >= after) return std::max(1, (lag - 1) / 2);
        before = here;
        here = after;
    }
    return 1;
}

// The time the pallet's two previous ticks predict for beat `beat`, if they can.
std::optional<double> TickRefiner::Predict(const Pallet& p, int64_t beat) {
    if (p.Known < 2 || p.LastBeat[0] == p.LastBeat[1] || beat == p.LastBeat[0]) return {};
    const double perBeat =
        (p.LastTime[0] - p.LastTime[1]) / static_cast<double>(p.LastBeat[0] - p.LastBeat[1]);
    return p.LastTime[0] + perBeat * static_cast<double>(beat - p.LastBeat[0]);
}

bool TickRefiner::AgreesWithNeighbours(const Pallet& p, int64_t beat, double time) const {
    const std::optional<double> predicted = Predict(p, beat);
    return !predicted || std::fabs(time - *predicted) <= p.SearchLimit + NeighbourSlackSamples;
}

// Where the search is centred, in whole samples from the detected unlock: on the neighbours'
// prediction when there is one near the detected time, so that a detected time that jumped by a
// sample or two leaves the search where the tick is.
int TickRefiner::SearchCentre(const Pallet& p, int64_t unlock, int64_t beat) const {
    const std::optional<double> predicted = Predict(p, beat);
    if (!predicted) return 0;
    const double centre = *predicted - static_cast<double>(unlock) - p.Offset;
    return static_cast<int>(std::clamp(std::lround(centre), -MaxCentreSamples, MaxCentreSamples));
}

void TickRefiner::Remember(Pallet& p, int64_t beat, double time) {
    p.LastBeat[1] = p.LastBeat[0];
    p.LastTime[1] = p.LastTime[0];
    p.LastBeat[0] = beat;
    p.LastTime[0] = time;
    p.Known = std::min(p.Known + 1, 2);
}

// The best whole-sample lag within the pallet's search, with the correlation either side of it.
TickRefiner::Peak TickRefiner::FindPeak(const Pallet& p, int64_t start) const {
    // Correlation at every lag of the search and one beyond it either way, for the parabola.
    const int limit = std::min(p.SearchLimit, MaxSearch);
    std::array<double, MaxLags> c{};
    const int lags = std::min(2 * limit + 3, MaxLags);
    const int first = -(lags / 2);
    for (int k = 0; k < lags; ++k)
        c[static_cast<size_t>(k)] = Correlate(p, start + first + k);
    int best = 1;
    for (int k = 2; k + 1 < lags; ++k)
        if (c[static_cast<size_t>(k)] > c[static_cast<size_t>(best)]) best = k;
    Peak peak;
    peak.Lag = first + best;
    peak.Value = c[static_cast<size_t>(best)];
    peak.Left = c[static_cast<size_t>(best - 1)];
    peak.Right = c[static_cast<size_t>(best + 1)];
    const double energy = WindowEnergy(start + peak.Lag);
    peak.Strong = peak.Value > 0.0 && p.Energy > 0.0 && energy > 0.0 &&
                  peak.Value / std::sqrt(p.Energy * energy) >= MinCorrelation;
    return peak;
}

std::optional<double> TickRefiner::Onset(int64_t unlock, int ahead, double noiseRms) {
    // The moving RMS over the `Smoothing` samples ending at each point, from the look back's start
    // to the look ahead's end after the detected unlock.
    ahead = std::clamp(ahead, 0, MaxAhead);
    const int64_t from = unlock - Lookback;
    const int count = Lookback + 1 + ahead;
    double sum = 0.0;
    for (int64_t k = from - Smoothing; k < from; ++k)
        sum += At(k) * At(k);
    double quietest = INFINITY;
    for (int j = 0; j < count; ++j) {
        const int64_t k = from + j;
        sum += At(k) * At(k) - At(k - Smoothing) * At(k - Smoothing);
        Scratch[static_cast<size_t>(j)] = std::sqrt(std::max(0.0, sum) / Smoothing);
        quietest = std::min(quietest, Scratch[static_cast<size_t>(j)]);
    }
    const auto env = [this](int j) { return Scratch[static_cast<size_t>(j)]; };
    // The tick's start: back from the detected unlock through its sound, across short gaps.
    const double sounding = TickSoundNoiseRatio * (noiseRms > 0.0 ? noiseRms : quietest);
    int start = Lookback;
    for (int j = Lookback; j >= 0 && start - j <= Gap; --j)
        if (env(j) >= sounding) start = j;
    if (start - Gap <= 0) return {}; // still sounding where the look back ends: no clear start
    // Its first event loud enough, and that event's peak.
    const int end = std::min(count, start + ahead + 1);
    double loudest = 0.0;
    for (int j = start; j < end; ++j)
        loudest = std::max(loudest, env(j));
    if (loudest <= 0.0) return {};
    int rise = start;
    while (env(rise) < FirstEventFraction * loudest)
        ++rise;
    int peak = rise;
    for (int j = rise; j < end && env(j) >= EventDecayedFraction * env(peak); ++j)
        if (env(j) > env(peak)) peak = j;
    // Back from the peak to where the rise passed the fraction.
    const double level = OnsetFraction * env(peak);
    int below = peak;
    while (below >= 0 && env(below) >= level)
        --below;
    if (below < 0) return {};
    const double fraction = (level - env(below)) / (env(below + 1) - env(below));
    // The moving window ending at a point is centred half its length earlier.
    return static_cast<double>(from + below) + fraction - 0.5 * (Smoothing - 1);
}

TickRefiner::Result TickRefiner::Refine(int64_t unlock, int64_t beat) {
    Pallet& p = Pallets[static_cast<size_t>(beat & 1)];
    const int64_t start = unlock + Delay;
    if (p.Ticks < WarmupTicks) {
        // Each learning tick is aligned to the template so far, so that a tick whose detected
        // time fell a sample off does not blur it.
        // Their shifts against it are averaged: the template's own position then moves to the
        // mean detected time, which the refined times share with the detected ones.
        int lag = 0;
        if (p.Ticks > 0) {
            const Peak peak = FindPeak(p, start);
            if (peak.Strong) lag = peak.Lag;
            p.Offset -= (peak.Refinable() ? peak.Shift() : lag) / WarmupTicks;
        }
        Learn(p, start + lag);
        Remember(p, beat, static_cast<double>(unlock));
        ++FallbackCount;
        return {0.0, false, true};
    }
    const int centre = SearchCentre(p, unlock, beat);
    const Peak peak = FindPeak(p, start + centre);
    if (peak.Refinable()) {
        const double shift = centre + peak.Shift() + p.Offset;
        const double time = static_cast<double>(unlock) + shift;
        if (AgreesWithNeighbours(p, beat, time)) {
            Learn(p, start + centre + peak.Lag);
            Remember(p, beat, time);
            p.Strays = 0;
            ++RefinedCount;
            return {shift, true};
        }
        // A stray is left out of the neighbours' history, unless the ticks keep straying: then
        // the sound's phase moved and the history starts again from the ticks after it.
        if (++p.Strays >= StraysBeforeRelearning) {
            p.Known = 0;
            p.Strays = 0;
        }
    }
    ++FallbackCount;
    return {};
}

} // namespace kv
