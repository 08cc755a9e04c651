#include "analysis/TickRefiner.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// The template starts a little before the detected unlock, so that the click's onset lies inside
// it even when the threshold met a late half-cycle.
constexpr double PreSeconds = 50e-6;
// ... and covers the impact and the first of the ringing, which carries the sub-sample phase.
constexpr double PostSeconds = 1.0e-3;
// The widest search the ring keeps samples for; the ringing period narrows it further.
constexpr double MaxSearchSeconds = 0.2e-3;
// Ticks averaged equally into a new template before its refinements are trusted: a template
// from a single tick is fragile.
constexpr int WarmupTicks = 16;
// Afterwards each accepted tick moves the template by 1/64: it follows slow changes of the sound
// without following one tick's noise.
constexpr int RefreshTicks = 64;
// Normalised correlation below this: the tick does not look like its pallet's earlier ticks.
constexpr double MinCorrelation = 0.5;
// Refined times may stray from their neighbours' prediction by the search limit plus this many
// samples before the tick keeps its detected time.
constexpr double NeighbourSlackSamples = 0.5;

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
    Pre = SamplesFor(PreSeconds, sampleRate);
    Post = SamplesFor(PostSeconds, sampleRate);
    MaxSearch = SamplesFor(MaxSearchSeconds, sampleRate);
    // The ring holds the window, the search either side of it and the samples pushed while the
    // window completes.
    const size_t span = static_cast<size_t>(2 * (Pre + Post + 2 * MaxSearch + 2));
    Ring.assign(PowerOfTwoAtLeast(span), 0.0);
    RingMask = Ring.size() - 1;
    for (Pallet& p : Pallets)
        p.Template.assign(static_cast<size_t>(Pre + Post), 0.0);
    Reset();
}

void TickRefiner::Reset() {
    for (Pallet& p : Pallets) {
        std::fill(p.Template.begin(), p.Template.end(), 0.0);
        p.Energy = 0.0;
        p.Ticks = 0;
        p.SearchLimit = 1;
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
    for (int j = 0; j < Pre + Post; ++j)
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

bool TickRefiner::AgreesWithNeighbours(const Pallet& p, int64_t beat, double time) const {
    if (p.Known < 2 || p.LastBeat[0] == p.LastBeat[1] || beat == p.LastBeat[0]) return true;
    const double perBeat =
        (p.LastTime[0] - p.LastTime[1]) / static_cast<double>(p.LastBeat[0] - p.LastBeat[1]);
    const double predicted = p.LastTime[0] + perBeat * static_cast<double>(beat - p.LastBeat[0]);
    return std::fabs(time - predicted) <= p.SearchLimit + NeighbourSlackSamples;
}

void TickRefiner::Remember(Pallet& p, int64_t beat, double time) {
    p.LastBeat[1] = p.LastBeat[0];
    p.LastTime[1] = p.LastTime[0];
    p.LastBeat[0] = beat;
    p.LastTime[0] = time;
    p.Known = std::min(p.Known + 1, 2);
}

TickRefiner::Result TickRefiner::Refine(int64_t unlock, int64_t beat) {
    Pallet& p = Pallets[static_cast<size_t>(beat & 1)];
    const int64_t start = unlock - Pre;
    if (p.Ticks < WarmupTicks) {
        Learn(p, start);
        Remember(p, beat, static_cast<double>(unlock));
        ++FallbackCount;
        return {};
    }
    // Correlation at every lag of the search and one beyond it either way, for the parabola.
    const int limit = std::min(p.SearchLimit, MaxSearch);
    std::array<double, 64> c{};
    const int lags = std::min(2 * limit + 3, static_cast<int>(c.size()));
    const int first = -(lags / 2);
    for (int k = 0; k < lags; ++k)
        c[static_cast<size_t>(k)] = Correlate(p, start + first + k);
    int best = 1;
    for (int k = 2; k + 1 < lags; ++k)
        if (c[static_cast<size_t>(k)] > c[static_cast<size_t>(best)]) best = k;
    const double peak = c[static_cast<size_t>(best)];
    const double left = c[static_cast<size_t>(best - 1)], right = c[static_cast<size_t>(best + 1)];
    const double energy = WindowEnergy(start + first + best);
    const double curvature = left - 2.0 * peak + right;
    const bool strong = peak > 0.0 && p.Energy > 0.0 && energy > 0.0 &&
                        peak / std::sqrt(p.Energy * energy) >= MinCorrelation;
    // A true peak: higher than both neighbours (the search's edge lags included).
    if (strong && curvature < 0.0 && peak >= left && peak >= right) {
        const double shift = (first + best) + 0.5 * (left - right) / curvature;
        const double time = static_cast<double>(unlock) + shift;
        if (AgreesWithNeighbours(p, beat, time)) {
            Learn(p, start + first + best);
            Remember(p, beat, time);
            ++RefinedCount;
            return {shift, true};
        }
    }
    Remember(p, beat, static_cast<double>(unlock));
    ++FallbackCount;
    return {};
}

} // namespace kv
