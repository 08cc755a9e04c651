// SPDX-License-Identifier: GPL-3.0-or-later
// kestrovane-synth: writes a synthetic watch recording and prints its timing truth as JSON.
#include "OggFile.h"
#include "RealisticSound.h"
#include "SynthPresets.h"
#include "TickSynthesizer.h"
#include "audio/WaveFile.h"
#include "text/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using kv::synth::Movement;
using kv::synth::SynthOptions;

constexpr const char* kUsage =
    "usage: kestrovane-synth [--movement lever|coaxial|pendulum|fork] [--vph N] [--fork-hz F] "
    "[--rate SD] [--beat-error MS] [--amplitude DEG] [--lift DEG] [--rate-hz FS] [--seconds S] "
    "[--noise FRACTION] [--unlock-peak F] [--missing-prob P] [--missing I,J,...] [--start S] "
    "[--second-click] [--channels N] [--seed N] [--preset laptop-mic|contact-pickup|phone|knocks "
    "[--tick-peak F] [--noise-db DB]] [--ogg-quality Q] OUT.wav|OUT.ogg (a preset makes realistic "
    "sound: its watch and recording, changed by the other options given)";

constexpr int kExitBadArguments = 2;
constexpr int kExitFailure = 1;

std::optional<double> ParseNumber(std::string_view text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t max) {
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || value > max) return std::nullopt;
    return value;
}

// "3,7,12" -> {3, 7, 12}
std::optional<std::vector<int64_t>> ParseBeatList(std::string_view text) {
    std::vector<int64_t> beats;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const auto beat = ParseUnsigned(text.substr(0, comma), std::numeric_limits<int64_t>::max());
        if (!beat) return std::nullopt;
        beats.push_back(static_cast<int64_t>(*beat));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
        if (text.empty()) return std::nullopt;
    }
    if (beats.empty()) return std::nullopt;
    return beats;
}

struct Arguments {
    SynthOptions Options;
    std::optional<kv::synth::SynthPreset> Preset;
    double OggQuality = kv::synth::kDefaultOggQuality;
    std::string Output;
    bool VphGiven = false;
    bool Help = false;
};

// Options of the plain clicks that realistic sound does not use.
constexpr std::string_view kNotWithPreset[] = {"--movement",    "--fork-hz",  "--noise",
                                               "--unlock-peak", "--channels", "--second-click"};

// Options of realistic sound only.
struct RealismOption {
    const char* Name;
    double kv::synth::RealismOptions::*Field;
};

constexpr RealismOption kRealismOptions[] = {
    {"--tick-peak", &kv::synth::RealismOptions::TickPeak},
    {"--noise-db", &kv::synth::RealismOptions::NoiseDb},
};

struct NumberOption {
    const char* Name;
    double SynthOptions::*Field;
};

constexpr NumberOption kNumberOptions[] = {
    {"--vph", &SynthOptions::BeatsPerHour},
    {"--fork-hz", &SynthOptions::ForkHz},
    {"--rate", &SynthOptions::RateSecondsPerDay},
    {"--beat-error", &SynthOptions::BeatErrorMs},
    {"--amplitude", &SynthOptions::AmplitudeDeg},
    {"--lift", &SynthOptions::LiftAngleDeg},
    {"--seconds", &SynthOptions::Seconds},
    {"--noise", &SynthOptions::NoiseFraction},
    {"--unlock-peak", &SynthOptions::UnlockPeak},
    {"--missing-prob", &SynthOptions::MissingProbability},
    {"--start", &SynthOptions::StartOffset},
};

// Applies one option that takes a value; returns an error text, empty on success.
std::string ApplyValue(std::string_view name, std::string_view value, Arguments& args) {
    SynthOptions& o = args.Options;
    for (const RealismOption& option : kRealismOptions) {
        if (name != option.Name) continue;
        const auto number = ParseNumber(value);
        if (!number) return std::string(name) + " needs a number, not '" + std::string(value) + "'";
        if (!args.Preset) return std::string(name) + " needs a --preset";
        args.Preset->Realism.*option.Field = *number;
        return {};
    }
    if (name == "--ogg-quality") {
        const auto number = ParseNumber(value);
        if (!number || *number < 0 || *number > 1)
            return "--ogg-quality needs a number from 0 to 1";
        args.OggQuality = *number;
        return {};
    }
    for (const NumberOption& option : kNumberOptions) {
        if (name != option.Name) continue;
        const auto number = ParseNumber(value);
        if (!number) return std::string(name) + " needs a number, not '" + std::string(value) + "'";
        o.*option.Field = *number;
        args.VphGiven = args.VphGiven || name == "--vph";
        return {};
    }
    if (name == "--movement") {
        const auto kind = kv::synth::ParseMovement(value);
        if (!kind) return "unknown movement '" + std::string(value) + "'";
        o.Kind = *kind;
    } else if (name == "--rate-hz") {
        const auto rate = ParseUnsigned(value, std::numeric_limits<uint32_t>::max());
        if (!rate) return "--rate-hz needs a whole number of hertz";
        o.SampleRate = static_cast<uint32_t>(*rate);
    } else if (name == "--channels") {
        const auto channels = ParseUnsigned(value, std::numeric_limits<uint16_t>::max());
        if (!channels) return "--channels needs a whole number";
        o.Channels = static_cast<uint16_t>(*channels);
    } else if (name == "--seed") {
        const auto seed = ParseUnsigned(value, std::numeric_limits<uint64_t>::max());
        if (!seed) return "--seed needs a whole number";
        o.Seed = *seed;
    } else if (name == "--missing") {
        auto beats = ParseBeatList(value);
        if (!beats) return "--missing needs beat numbers separated by commas";
        o.MissingBeats = std::move(*beats);
    } else {
        return "unknown option '" + std::string(name) + "'";
    }
    return {};
}

// The preset first, so that the other options change it whatever their order.
std::string FindPresetArgument(int argc, char** argv, Arguments& args) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string_view(argv[i]) != "--preset") continue;
        args.Preset = kv::synth::FindPreset(argv[i + 1]);
        if (!args.Preset) return "unknown preset '" + std::string(argv[i + 1]) + "'";
        args.Options = args.Preset->Options;
        return {};
    }
    return {};
}

std::string ParseArguments(int argc, char** argv, Arguments& args) {
    if (std::string e = FindPresetArgument(argc, argv, args); !e.empty()) return e;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (args.Preset && std::find(std::begin(kNotWithPreset), std::end(kNotWithPreset), arg) !=
                               std::end(kNotWithPreset))
            return std::string(arg) + " is not used with --preset";
        if (arg == "--preset" && i + 1 < argc) {
            ++i;
        } else if (arg == "--help" || arg == "-h") {
            args.Help = true;
        } else if (arg == "--second-click") {
            args.Options.SecondClick = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            if (i + 1 >= argc) return std::string(arg) + " needs a value";
            if (std::string e = ApplyValue(arg, argv[++i], args); !e.empty()) return e;
        } else if (args.Output.empty()) {
            args.Output = arg;
        } else {
            return "more than one output file given";
        }
    }
    if (args.Output.empty() && !args.Help) return "no output file given";
    if (args.Options.Kind == Movement::Pendulum && !args.VphGiven)
        args.Options.BeatsPerHour = kv::synth::DefaultOptions(Movement::Pendulum).BeatsPerHour;
    return {};
}

bool IsEscapement(Movement kind) {
    return kind == Movement::Lever || kind == Movement::Coaxial;
}

void PrintTruth(const Arguments& args, const kv::synth::SynthResult& result) {
    const SynthOptions& o = args.Options;
    const double beatError = o.Kind == Movement::TuningFork ? 0.0 : o.BeatErrorMs;
    const double amplitude = IsEscapement(o.Kind) ? o.AmplitudeDeg : 0.0;
    const std::string preset =
        args.Preset ? ",\"preset\":\"" + std::string(args.Preset->Name) + "\"" : std::string();
    std::fputs(kv::FormatC("{\"beat_period\":%.15g,\"lift_time\":%.15g,\"rate_sd\":%.15g,"
                           "\"beat_error_ms\":%.15g,\"amplitude_deg\":%.15g,\"ticks\":%zu%s}\n",
                           result.BeatPeriod, result.LiftTime, o.RateSecondsPerDay, beatError,
                           amplitude, result.UnlockTimes.size(), preset.c_str())
                   .c_str(),
               stdout);
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string Validate(const Arguments& args) {
    return args.Preset ? kv::synth::ValidateRealism(args.Options, args.Preset->Realism)
                       : kv::synth::ValidateOptions(args.Options);
}

int BadArguments(const std::string& error) {
    std::fprintf(stderr, "kestrovane-synth: %s; %s\n", error.c_str(), kUsage);
    return kExitBadArguments;
}

int Run(const Arguments& args) {
    const SynthOptions& o = args.Options;
    const kv::synth::SynthResult result =
        args.Preset ? kv::synth::SynthesizeRealistic(o, args.Preset->Realism)
                    : kv::synth::Synthesize(o);
    std::string error;
    const bool written =
        EndsWith(args.Output, ".ogg")
            ? kv::synth::WriteOggVorbis(args.Output, result.Samples, o.SampleRate, o.Channels,
                                        args.OggQuality, &error)
            : kv::WriteWaveFile(args.Output, result.Samples, o.SampleRate, o.Channels, &error);
    if (!written) {
        std::fprintf(stderr, "kestrovane-synth: %s: %s\n", args.Output.c_str(), error.c_str());
        return kExitFailure;
    }
    PrintTruth(args, result);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (std::string e = ParseArguments(argc, argv, args); !e.empty()) return BadArguments(e);
    if (args.Help) {
        std::printf("%s\n", kUsage);
        return 0;
    }
    if (std::string e = Validate(args); !e.empty()) return BadArguments(e);
    try {
        return Run(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrovane-synth: %s\n", e.what());
        return kExitFailure;
    }
}
