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
    // The ring holds the window, the search either side of it and the samples pushed while the
    // window completes.
    const size_t span = static_cast<size_t>(2 * (Delay + Length + 2 * MaxSearch + 2));
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
