// SPDX-License-Identifier: GPL-3.0-or-later
// Accuracy of the detector's modes against the synthesizer's truth: the standard detector, the
// automatic threshold, precision timing, both (the command line's default) and both under
// automatic level control, on the realistic presets and on clean synthetic watches. For each,
// the errors at the recording's own level and the spread of the readings from x0.25 to x8.
// Usage: kestrovane_mode_table [--seconds S]
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SynthPresets.h"
#include "cli/AnalyzeSession.h"
#include "text/NumberText.h"

namespace {

struct Mode {
    const char* Name;
    int AutoThreshold, Precise, Agc;
};

constexpr Mode Modes[] = {{"standard", 0, 0, 0},
                          {"automatic threshold", 1, 0, 0},
                          {"precision timing", 0, 1, 0},
                          {"both (default)", 1, 1, 0},
                          {"both, --agc 1", 1, 1, 1}};

constexpr double Levels[] = {0.25, 0.5, 1.0, 2.0, 4.0, 8.0};

struct Source {
    std::string Name;
    std::vector<int16_t> Samples;
    unsigned SampleRate = 0;
    double Vph = 0, RateSd = 0, BeatErrorMs = 0, Amplitude = 0;
};

struct Final {
    std::optional<double> Accumulated, BeatError, Amplitude;
};

Final Measure(const Source& s, const Mode& m, double level) {
    kv::AnalyzeOptions a;
    a.Train = std::to_string(static_cast<int>(s.Vph));
    a.AutoThreshold = m.AutoThreshold;
    a.Precise = m.Precise;
    a.Agc = m.Agc;
    std::vector<int16_t> samples(s.Samples.size());
    std::transform(s.Samples.begin(), s.Samples.end(), samples.begin(), [level](int16_t x) {
        return static_cast<int16_t>(std::clamp(std::lround(x * level), -32768L, 32767L));
    });
    kv::AnalyzeSession session(a);
    kv::Reading last;
    session.Run(std::move(samples), s.SampleRate, [&](const kv::Reading& r) { last = r; });
    Final f{last.AccumulatedRateSecondsPerDay, last.BeatErrorMs, last.AmplitudeDegrees};
    if (f.BeatError) f.BeatError = std::fabs(*f.BeatError);
    return f;
}

std::vector<Source> Sources(double seconds) {
    std::vector<Source> sources;
    for (std::string_view name : kv::synth::PresetNames()) {
        kv::synth::SynthPreset p = *kv::synth::FindPreset(name);
        p.Options.Seconds = seconds;
        const kv::synth::SynthOptions& o = p.Options;
        sources.push_back({std::string(name), kv::synth::SynthesizeRealistic(o, p.Realism).Samples,
                           o.SampleRate, o.BeatsPerHour, o.RateSecondsPerDay, o.BeatErrorMs,
                           o.AmplitudeDeg});
    }
    struct Clean {
        double Vph, Rate, BeatError, Amplitude;
        unsigned SampleRate;
    };
    for (const Clean& c : {Clean{18000, 4.5, 0.4, 280, 48000}, Clean{21600, -30, 0.8, 200, 44100},
                           Clean{28800, 5, 0.8, 300, 96000}}) {
        kv::synth::SynthOptions o;
        o.BeatsPerHour = c.Vph;
        o.RateSecondsPerDay = c.Rate;
        o.BeatErrorMs = c.BeatError;
        o.AmplitudeDeg = c.Amplitude;
        o.SampleRate = c.SampleRate;
        o.Seconds = seconds;
        sources.push_back({kv::FormatC("clean %.0f vph %.1f kHz", c.Vph, c.SampleRate / 1000.0),
                           kv::synth::Synthesize(o).Samples, c.SampleRate, c.Vph, c.Rate,
                           c.BeatError, c.Amplitude});
    }
    return sources;
}

std::string Error(const std::optional<double>& v, double truth, const char* format) {
    return v ? kv::FormatC(format, *v - truth) : std::string("none");
}

// Largest minus smallest over the levels; "none" when some level gave no reading.
std::string Spread(const std::vector<Final>& finals, std::optional<double> Final::*field,
                   const char* format) {
    double low = INFINITY, high = -INFINITY;
    for (const Final& f : finals) {
        if (!(f.*field)) return "none at some level";
        low = std::min(low, *(f.*field));
        high = std::max(high, *(f.*field));
    }
    return kv::FormatC(format, high - low);
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = kv::ParseLeadingDouble(argv[++i]);
    const std::vector<Source> sources = Sources(seconds);
    const size_t modes = std::size(Modes), levels = std::size(Levels);
    std::vector<Final> finals(sources.size() * modes * levels);
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < std::max(1u, std::thread::hardware_concurrency()); ++w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < finals.size();)
                finals[i] = Measure(sources[i / (modes * levels)], Modes[i / levels % modes],
                                    Levels[i % levels]);
        });
    for (auto& w : workers)
        w.join();

    std::printf("| recording | mode | accumulated rate error s/d | beat error error ms | "
                "amplitude error %% | rate spread x0.25-x8 s/d | beat error spread ms | "
                "amplitude spread ° |\n|---|---|---|---|---|---|---|---|\n");
    for (size_t s = 0; s < sources.size(); ++s) {
        const Source& src = sources[s];
        for (size_t m = 0; m < modes; ++m) {
            const auto first =
                finals.begin() + static_cast<std::ptrdiff_t>((s * modes + m) * levels);
            const std::vector<Final> atLevels(first, first + static_cast<std::ptrdiff_t>(levels));
            const Final& own = atLevels[2]; // x1
            std::optional<double> amplitudePct;
            if (own.Amplitude)
                amplitudePct = (*own.Amplitude - src.Amplitude) / src.Amplitude * 100;
            std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", src.Name.c_str(),
                        Modes[m].Name, Error(own.Accumulated, src.RateSd, "%+.3f").c_str(),
                        Error(own.BeatError, src.BeatErrorMs, "%+.3f").c_str(),
                        Error(amplitudePct, 0.0, "%+.1f").c_str(),
                        Spread(atLevels, &Final::Accumulated, "%.3f").c_str(),
                        Spread(atLevels, &Final::BeatError, "%.3f").c_str(),
                        Spread(atLevels, &Final::Amplitude, "%.1f").c_str());
        }
    }
    return 0;
}
