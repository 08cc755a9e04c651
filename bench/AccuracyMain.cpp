// SPDX-License-Identifier: GPL-3.0-or-later
// Accuracy table: the analysis of synthetic 60 s recordings against their known truth, across
// trains, sample rates, rate errors, beat errors, amplitudes and noise levels.
// Usage: kestrovane_accuracy [--seconds S] [--quick]
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TickSynthesizer.h"
#include "cli/AnalyzeSession.h"
#include "text/NumberText.h"

namespace {

struct Case {
    double Vph, RateSd, BeatErrorMs, Amplitude, Noise, Threshold;
    unsigned SampleRate;
};

struct Outcome {
    Case C;
    kv::Reading R;
    double RateError = NAN, AccumulatedError = NAN, BeatErrorError = NAN, AmplitudeErrorPct = NAN;
    bool Pass = false;
};

Outcome Measure(const Case& c, double seconds, uint64_t seed) {
    kv::synth::SynthOptions o;
    o.BeatsPerHour = c.Vph;
    o.RateSecondsPerDay = c.RateSd;
    o.BeatErrorMs = c.BeatErrorMs;
    o.AmplitudeDeg = c.Amplitude;
    o.LiftAngleDeg = 52;
    o.SampleRate = c.SampleRate;
    o.Seconds = seconds;
    o.NoiseFraction = c.Noise;
    o.Seed = seed;
    const kv::synth::SynthResult s = kv::synth::Synthesize(o);

    kv::AnalyzeOptions a;
    a.Train = std::to_string(static_cast<int>(c.Vph)) + " vph";
    a.ThresholdPercent = c.Threshold;
    kv::AnalyzeSession session(a);
    Outcome out{c, {}};
    session.Run(s.Samples, c.SampleRate, [&](const kv::Reading& r) { out.R = r; });

    const kv::Reading& r = out.R;
    if (r.RateSecondsPerDay) out.RateError = *r.RateSecondsPerDay - c.RateSd;
    out.AccumulatedError = r.AccumulatedRateSecondsPerDay.value_or(NAN) - c.RateSd;
    if (r.BeatErrorMs) out.BeatErrorError = std::fabs(*r.BeatErrorMs) - c.BeatErrorMs;
    if (r.AmplitudeDegrees)
        out.AmplitudeErrorPct = (*r.AmplitudeDegrees - c.Amplitude) / c.Amplitude * 100;
    const double rateBound = c.SampleRate < 46000 ? 0.3 : 0.15;
    const double beatErrorBound = c.SampleRate > 72000 ? 0.05 : 0.07;
    out.Pass = std::fabs(out.RateError) <= rateBound && std::fabs(out.AccumulatedError) <= 0.05 &&
               std::fabs(out.BeatErrorError) <= beatErrorBound &&
               std::fabs(out.AmplitudeErrorPct) <= 3.0;
    return out;
}

std::vector<Case> Matrix(bool quick) {
    std::vector<Case> cases;
    const std::vector<double> trains = {18000, 21600, 28800, 36000};
    const std::vector<unsigned> rates = {44100, 48000, 96000};
    const std::vector<double> rateErrors =
        quick ? std::vector<double>{-30, 5} : std::vector<double>{-30, 0, 5};
    for (double vph : trains)
        for (unsigned fs : rates)
            for (double rate : rateErrors)
                for (double be : {0.0, 0.8})
                    for (double amp : {200.0, 300.0})
                        for (int noisy = 0; noisy < 2; ++noisy)
                            cases.push_back(
                                {vph, rate, be, amp, noisy ? 0.05 : 0.01, noisy ? 15.0 : 5.0, fs});
    return cases;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = kv::ParseLeadingDouble(argv[++i]);
        else if (!std::strcmp(argv[i], "--quick"))
            quick = true;
    }
    const std::vector<Case> cases = Matrix(quick);
    std::vector<Outcome> outcomes(cases.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < std::max(1u, std::thread::hardware_concurrency()); ++w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < cases.size();)
                outcomes[i] = Measure(cases[i], seconds, 1000 + i);
        });
    for (auto& w : workers)
        w.join();

    std::printf("| vph | kHz | rate s/d | BE ms | amp ° | noise | rate err | acc err | BE err ms "
                "| amp err %% | ok |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
    int failures = 0;
    for (const Outcome& o : outcomes) {
        failures += !o.Pass;
        std::fputs(
            kv::FormatC("| %.0f | %.1f | %+.0f | %.1f | %.0f | %.0f%% | %+.3f | %+.4f | %+.4f "
                        "| %+.2f | %s |\n",
                        o.C.Vph, o.C.SampleRate / 1000.0, o.C.RateSd, o.C.BeatErrorMs,
                        o.C.Amplitude, o.C.Noise * 100, o.RateError, o.AccumulatedError,
                        o.BeatErrorError, o.AmplitudeErrorPct, o.Pass ? "yes" : "NO")
                .c_str(),
            stdout);
    }
    std::printf("\n%zu cases, %d outside the bounds\n", outcomes.size(), failures);
    return failures == 0 ? 0 : 1;
}
