// SPDX-License-Identifier: GPL-3.0-or-later
#include "TickSynthesizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <span>
#include <stdexcept>

#include "SynthRandom.h"
#include "text/NumberText.h"

namespace kv::synth {
namespace {

constexpr double kFullScale = 32767.0;
constexpr double kPi = std::numbers::pi;

// A click has three parts, all starting exactly at its onset:
// - the impact: a faint precursor step, then alternating steps one sample period apart, each
//   decaying exponentially. Because the steps are tied to the sample grid relative to the onset,
//   the samples after any onset follow the same pattern whatever its sub-sample phase. The
//   alternation puts the impact's energy above the analyser's high-pass corner (sampleRate/9.6),
//   like the noise, so the filtered click stands well clear of both a 5 % and a 15 % threshold;
//   the precursor stays below both even with noise, so the high-passed signal crosses either
//   threshold on the second sample after the onset, reaches its peak within a few samples and
//   rises through half of it on a rising pair of samples (the coaxial drop rule);
// - the body: one damped resonance above the high-pass corner, faded in over the impact, which
//   keeps the filtered envelope above a quarter of its peak for a while after the impact;
// - the ringing: ~30 weaker damped partials from 3 kHz to 0.45 x sampleRate with random phases,
//   faded in after the impact so they leave its pattern intact.
constexpr double kImpactDecaySamples = 4;
constexpr double kBodyLevel = 0.45; // body amplitude / the impact's main step
constexpr int kPartials = 32;
constexpr double kRingingLevel = 0.08; // ringing RMS / the impact's main step
constexpr double kRingingFadeSamples = 8;
constexpr double kLowestPartialHz = 3000;
constexpr double kHighestPartialFraction = 0.45;
constexpr double kShortestDecay = 0.2e-3;
constexpr double kLongestDecay = 0.5e-3;
constexpr double kBurstDecay = 0.3e-3; // the click's own noise
constexpr double kSpanDecays = 6;      // a click is rendered over this many of its longest decays
constexpr double kMaxVariation = 0.2;
constexpr double kMaxClickSpan = kSpanDecays * kLongestDecay * (1 + kMaxVariation);
constexpr double kFineSearchTime = 0.2e-3;
constexpr double kFineSearchStep = 0.1e-6;
constexpr double kCoarseSearchStep = 1e-6;
constexpr size_t kChunkFrames = size_t{1} << 16;
constexpr uint64_t kMaxTotalSamples = uint64_t{1} << 28;

// Independent random streams, so that changing one feature (say the missing-beat probability)
// leaves the noise and the click sounds of a seed unchanged.
enum Stream : uint64_t {
    TemplateStream = 1,
    StartStream,
    ClickStream,
    MissingStream,
    NoiseStream = 100
};

struct Partial {
    double Hz = 0;
    double Amplitude = 0;
    double Decay = 0; // s
    double Phase = 0; // rad
};

// The impact's steps and the body's place, per kind of movement.
struct ClickShape {
    std::array<double, 4> ImpactSteps;
    double BodyLowFraction, BodyHighFraction; // body frequency range / sample rate
    double BodyFadeSamples;                   // 0: the body starts at full level
};

// Lever watches and clocks: bright clicks whose energy lies above the high-pass corner.
constexpr ClickShape BrightClick = {{0.15, -1.0, 1.0, -0.3}, 0.2, 0.3, 2};
// Coaxial escapements: a duller impact whose filtered envelope rises through half its peak on a
// rising pair of samples, as the coaxial drop rule expects; it needs a lower threshold in noise.
constexpr ClickShape DullClick = {{1.0, 0.5, -0.375, 0.0}, 0.125, 0.17, 0};

struct ClickSound {
    const ClickShape* Shape = &BrightClick;
    double Impact = 1;       // signed height of the impact's main step
    double SamplePeriod = 0; // s
    std::vector<Partial> Body;
    std::vector<Partial> Ringing;
};

// Impact value t seconds after the onset, n = the number of whole sample periods in t.
double ImpactValue(const ClickShape& shape, double t, int64_t n, double samplePeriod) {
    const auto& steps = shape.ImpactSteps;
    double sum = 0;
    for (size_t m = 0; m < steps.size() && static_cast<int64_t>(m) <= n; ++m)
        sum += steps[m] * std::exp(-(t - static_cast<double>(m) * samplePeriod) /
                                   (kImpactDecaySamples * samplePeriod));
    return sum;
}

// Raised-cosine fade-in over the given number of sample periods.
double FadeIn(double t, double samples, double samplePeriod) {
    const double fade = samples * samplePeriod;
    return t >= fade || fade <= 0 ? 1.0 : 0.5 - 0.5 * std::cos(kPi * t / fade);
}

double PartialsValue(const std::vector<Partial>& partials, double t) {
    double sum = 0;
    for (const Partial& p : partials)
        sum += p.Amplitude * std::exp(-t / p.Decay) * std::sin(2.0 * kPi * p.Hz * t + p.Phase);
    return sum;
}

double ClickValue(const ClickSound& sound, double t) {
    const auto n = static_cast<int64_t>(std::floor(t / sound.SamplePeriod));
    return sound.Impact * ImpactValue(*sound.Shape, t, n, sound.SamplePeriod) +
           FadeIn(t, sound.Shape->BodyFadeSamples, sound.SamplePeriod) *
               PartialsValue(sound.Body, t) +
           FadeIn(t, kRingingFadeSamples, sound.SamplePeriod) * PartialsValue(sound.Ringing, t);
}

// Scales the click so its largest excursion is 1. The peak lies in the impact, which is searched
// finely; the smoother rest more coarsely.
void NormalisePeak(ClickSound& sound) {
    double peak = 0;
    for (double t = 0; t < kSpanDecays * kLongestDecay;
         t += t < kFineSearchTime ? kFineSearchStep : kCoarseSearchStep)
        peak = std::max(peak, std::abs(ClickValue(sound, t)));
    sound.Impact /= peak;
    for (Partial& p : sound.Body)
        p.Amplitude /= peak;
    for (Partial& p : sound.Ringing)
        p.Amplitude /= peak;
}

// One partial per frequency band, with random level, phase and decay, scaled to the RMS level.
std::vector<Partial> MakeRinging(Random& rng, uint32_t sampleRate) {
    const double band = (kHighestPartialFraction * sampleRate - kLowestPartialHz) / kPartials;
    std::vector<Partial> ringing(kPartials);
    double power = 0;
    for (int i = 0; i < kPartials; ++i) {
        Partial& p = ringing[i];
        p.Hz = kLowestPartialHz + band * (i + rng.Uniform());
        p.Amplitude = rng.Uniform(0.5, 1.0);
        p.Decay = rng.Uniform(kShortestDecay, kLongestDecay);
        p.Phase = rng.Uniform(0, 2.0 * kPi);
        power += p.Amplitude * p.Amplitude / 2;
    }
    for (Partial& p : ringing)
        p.Amplitude *= kRingingLevel / std::sqrt(power);
    return ringing;
}

// One pallet's characteristic click.
ClickSound MakeClickSound(Random& rng, uint32_t sampleRate, const ClickShape& shape) {
    ClickSound sound;
    sound.Shape = &shape;
    sound.Impact = rng.Uniform() < 0.5 ? -1.0 : 1.0;
    sound.SamplePeriod = 1.0 / sampleRate;
    Partial body;
    body.Hz = rng.Uniform(shape.BodyLowFraction, shape.BodyHighFraction) * sampleRate;
    body.Amplitude = sound.Impact * kBodyLevel;
    body.Decay = rng.Uniform(kShortestDecay, kLongestDecay);
    sound.Body.push_back(body);
    sound.Ringing = MakeRinging(rng, sampleRate);
    NormalisePeak(sound);
    return sound;
}

enum ClickRole { UnlockClick, ImpulseClick, DropClick, SecondClick, RoleCount };

struct PalletSounds {
    ClickSound Roles[2][RoleCount]; // [pallet][role]
};

PalletSounds MakePalletSounds(const SynthOptions& o) {
    Random rng(StreamSeed(o.Seed, TemplateStream));
    PalletSounds sounds;
    for (auto& pallet : sounds.Roles)
        for (ClickSound& sound : pallet)
            sound = MakeClickSound(rng, o.SampleRate,
                                   o.Kind == Movement::Coaxial ? DullClick : BrightClick);
    return sounds;
}

// One sounded click. Its own small deviations from the pallet's sound are drawn from its key
// when it is rendered, so a long recording keeps only a few numbers per click.
struct Click {
    double Onset = 0; // s
    double Peak = 0;  // nominal peak in sample units
    const ClickSound* Sound = nullptr;
    uint64_t Key = 0;
};

// The pallet's sound with this tick's deviations: level, partial frequencies and decays.
struct TickSound {
    ClickSound Sound;
    double Gain = 0;
    double Span = 0; // s
};

TickSound Vary(const Click& click, double variation) {
    Random rng(click.Key);
    TickSound tick{*click.Sound, click.Peak * (1.0 + rng.Symmetric(variation)), 0};
    double longest = 0;
    for (auto* partials : {&tick.Sound.Body, &tick.Sound.Ringing}) {
        for (Partial& p : *partials) {
            p.Hz *= 1.0 + rng.Symmetric(variation / 6);
            p.Decay *= 1.0 + rng.Symmetric(variation);
            longest = std::max(longest, p.Decay);
        }
    }
    tick.Span = kSpanDecays * longest;
    return tick;
}

int64_t FirstSampleAtOrAfter(double t, double fs) {
    return static_cast<int64_t>(std::ceil(t * fs));
}

// Adds the partials to acc[], whose first sample lies t0 seconds after the onset.
void AddPartials(const std::vector<Partial>& partials, double t0, double fs,
                 std::vector<double>& acc) {
    for (const Partial& p : partials) {
        std::complex<double> z =
            std::polar(p.Amplitude * std::exp(-t0 / p.Decay), 2.0 * kPi * p.Hz * t0 + p.Phase);
        const std::complex<double> step =
            std::polar(std::exp(-1.0 / (p.Decay * fs)), 2.0 * kPi * p.Hz / fs);
        for (double& v : acc) {
            v += z.imag();
            z *= step;
        }
    }
}

// Adds the part of a click that falls in out[] (whose first frame is `first`). Everything is
// evaluated in continuous time from the exact onset; each partial is then advanced by a complex
// rotation per sample. The click's own noise (RMS = variation x its peak) fades in with the
// ringing.
void RenderClick(const Click& click, double variation, double fs, int64_t first,
                 std::span<double> out) {
    const TickSound tick = Vary(click, variation);
    const int64_t onsetSample = FirstSampleAtOrAfter(click.Onset, fs);
    const int64_t begin = std::max(first, onsetSample);
    const int64_t end = std::min(first + static_cast<int64_t>(out.size()),
                                 FirstSampleAtOrAfter(click.Onset + tick.Span, fs));
    if (begin >= end) return;
    const double t0 = static_cast<double>(begin) / fs - click.Onset;
    std::vector<double> ring(static_cast<size_t>(end - begin), 0.0);
    std::vector<double> body(ring.size(), 0.0);
    AddPartials(tick.Sound.Ringing, t0, fs, ring);
    AddPartials(tick.Sound.Body, t0, fs, body);
    const double period = tick.Sound.SamplePeriod;
    for (size_t i = 0; i < ring.size(); ++i) {
        const int64_t k = begin + static_cast<int64_t>(i);
        const double t = static_cast<double>(k) / fs - click.Onset;
        const double noise = variation * std::exp(-t / kBurstDecay) *
                             HashGaussian(click.Key ^ Mix64(static_cast<uint64_t>(k)));
        const double impact =
            tick.Sound.Impact * ImpactValue(*tick.Sound.Shape, t, k - onsetSample, period);
        out[k - first] +=
            tick.Gain * (impact + FadeIn(t, tick.Sound.Shape->BodyFadeSamples, period) * body[i] +
                         FadeIn(t, kRingingFadeSamples, period) * (ring[i] + noise));
    }
}

bool IsEscapement(Movement kind) {
    return kind == Movement::Lever || kind == Movement::Coaxial;
}

double NominalPeriod(const SynthOptions& o) {
    return o.Kind == Movement::TuningFork ? 1.0 / o.ForkHz : 3600.0 / o.BeatsPerHour;
}

double RateFactor(const SynthOptions& o) {
    return 1.0 - o.RateSecondsPerDay / 86400.0;
}

double StartTime(const SynthOptions& o) {
    if (o.StartOffset >= 0) return o.StartOffset;
    Random rng(StreamSeed(o.Seed, StartStream));
    return 0.05 + rng.Uniform() * NominalPeriod(o);
}

// Time from a beat's first click to the onset of its last one.
double LastClickDelay(const SynthOptions& o, double liftTime) {
    if (IsEscapement(o.Kind)) return liftTime;
    if (o.Kind == Movement::Pendulum && o.SecondClick) return o.SecondClickDelay;
    return 0;
}

// The timing truth and the list of clicks to render.
struct Plan {
    SynthResult Truth;
    double Start = 0;          // s, onset of beat 0 (phase origin of a fork)
    std::vector<Click> Clicks; // in order of onset
};

class BeatPlanner {
public:
    BeatPlanner(const SynthOptions& o, const PalletSounds& sounds)
        : O_(o), Sounds_(sounds), MissRng_(StreamSeed(o.Seed, MissingStream)),
          ClickSeed_(StreamSeed(o.Seed, ClickStream)), Missing_(o.MissingBeats) {
        std::sort(Missing_.begin(), Missing_.end());
    }

    Plan Build() {
        Plan plan;
        SynthResult& truth = plan.Truth;
        truth.BeatPeriod = NominalPeriod(O_) * RateFactor(O_);
        if (IsEscapement(O_.Kind))
            truth.LiftTime = LiftTimeFor(truth.BeatPeriod, O_.AmplitudeDeg, O_.LiftAngleDeg);
        const double start = StartTime(O_);
        const double halfShift = O_.BeatErrorMs / 1000.0;
        const double lastDelay = LastClickDelay(O_, truth.LiftTime);
        for (int64_t n = 0;; ++n) {
            const double unlock = start + n * truth.BeatPeriod + (n % 2 != 0 ? halfShift : 0.0);
            if (unlock + lastDelay >= O_.Seconds) break;
            if (IsMissing(n)) continue;
            AddBeat(plan, n, unlock);
        }
        return plan;
    }

private:
    bool IsMissing(int64_t n) {
        const bool drawn = MissRng_.Uniform() < O_.MissingProbability; // one draw every beat
        return drawn || std::binary_search(Missing_.begin(), Missing_.end(), n);
    }

    void AddBeat(Plan& plan, int64_t n, double unlock) {
        SynthResult& truth = plan.Truth;
        const int pallet = static_cast<int>(n % 2);
        truth.BeatIndices.push_back(n);
        truth.UnlockTimes.push_back(unlock);
        AddClick(plan, unlock, 1.0, pallet, UnlockClick);
        if (O_.Kind == Movement::Coaxial) {
            const double impulse = unlock + truth.LiftTime / 2;
            truth.ImpulseTimes.push_back(impulse);
            AddClick(plan, impulse, O_.ImpulseGain, pallet, ImpulseClick);
        }
        if (IsEscapement(O_.Kind)) {
            const double drop = unlock + truth.LiftTime;
            truth.DropTimes.push_back(drop);
            AddClick(plan, drop, O_.DropGain, pallet, DropClick);
        }
        if (O_.Kind == Movement::Pendulum && O_.SecondClick)
            AddClick(plan, unlock + O_.SecondClickDelay, O_.SecondClickGain, pallet, SecondClick);
    }

    void AddClick(Plan& plan, double onset, double gain, int pallet, ClickRole role) {
        const uint64_t key = Mix64(ClickSeed_ ^ Mix64(plan.Clicks.size()));
        plan.Clicks.push_back(
            {onset, O_.UnlockPeak * gain * kFullScale, &Sounds_.Roles[pallet][role], key});
    }

    const SynthOptions& O_;
    const PalletSounds& Sounds_;
    Random MissRng_;
    uint64_t ClickSeed_;
    std::vector<int64_t> Missing_;
};

// A tuning fork sounds continuously; its "ticks" are the upward zero crossings.
Plan PlanFork(const SynthOptions& o) {
    Plan plan;
    SynthResult& truth = plan.Truth;
    const double hz = o.ForkHz * (1.0 + o.RateSecondsPerDay / 86400.0);
    truth.BeatPeriod = 1.0 / hz;
    const double start = StartTime(o);
    plan.Start = start;
    for (int64_t k = static_cast<int64_t>(std::ceil(-start * hz));; ++k) {
        const double t = start + static_cast<double>(k) / hz;
        if (t >= o.Seconds) break;
        truth.BeatIndices.push_back(k);
        truth.UnlockTimes.push_back(t);
    }
    return plan;
}

// Renders the clean (noise-free) signal chunk by chunk, then adds each channel's own noise and
// rounds to 16 bits.
class Renderer {
public:
    Renderer(const SynthOptions& o, const Plan& plan)
        : O_(o), Plan_(plan), Fs_(static_cast<double>(o.SampleRate)),
          NoiseRms_(o.NoiseFraction * o.UnlockPeak * kFullScale) {
        for (uint16_t c = 0; c < o.Channels; ++c)
            Noise_.emplace_back(StreamSeed(o.Seed, NoiseStream + c));
    }

    void Run(SynthResult& result) {
        const auto frames = static_cast<int64_t>(std::llround(O_.Seconds * Fs_));
        result.Samples.assign(static_cast<size_t>(frames) * O_.Channels, 0);
        std::vector<double> clean(kChunkFrames);
        for (int64_t first = 0; first < frames; first += kChunkFrames) {
            const auto count = static_cast<size_t>(
                std::min<int64_t>(static_cast<int64_t>(kChunkFrames), frames - first));
            std::span<double> chunk(clean.data(), count);
            std::fill(chunk.begin(), chunk.end(), 0.0);
            AddClicks(first, chunk);
            if (O_.Kind == Movement::TuningFork) AddFork(first, chunk);
            Quantise(first, chunk, result);
        }
    }

private:
    void AddClicks(int64_t first, std::span<double> chunk) {
        const double chunkStart = static_cast<double>(first) / Fs_;
        const double chunkEnd = static_cast<double>(first + chunk.size()) / Fs_;
        const auto& clicks = Plan_.Clicks;
        while (Next_ < clicks.size() && clicks[Next_].Onset + kMaxClickSpan < chunkStart)
            ++Next_;
        for (size_t i = Next_; i < clicks.size() && clicks[i].Onset < chunkEnd; ++i)
            RenderClick(clicks[i], O_.Variation, Fs_, first, chunk);
    }

    void AddFork(int64_t first, std::span<double> chunk) {
        const double hz = 1.0 / Plan_.Truth.BeatPeriod;
        const double start = Plan_.Start;
        const double peak = O_.UnlockPeak * kFullScale;
        for (size_t i = 0; i < chunk.size(); ++i) {
            const double t = static_cast<double>(first + static_cast<int64_t>(i)) / Fs_;
            chunk[i] += peak * std::sin(2.0 * kPi * hz * (t - start));
        }
    }

    void Quantise(int64_t first, std::span<const double> chunk, SynthResult& result) {
        const size_t channels = O_.Channels;
        int16_t* out = result.Samples.data() + static_cast<size_t>(first) * channels;
        for (size_t i = 0; i < chunk.size(); ++i) {
            for (size_t c = 0; c < channels; ++c) {
                double v = std::round(chunk[i] + NoiseRms_ * Noise_[c].Gaussian());
                if (v > 32767.0 || v < -32768.0) {
                    ++result.ClippedSamples;
                    v = std::clamp(v, -32768.0, 32767.0);
                }
                out[i * channels + c] = static_cast<int16_t>(v);
            }
        }
    }

    const SynthOptions& O_;
    const Plan& Plan_;
    double Fs_;
    double NoiseRms_;
    std::vector<Random> Noise_;
    size_t Next_ = 0;
};

std::string CheckRange(const char* name, double value, double lo, double hi) {
    if (std::isfinite(value) && value >= lo && value <= hi) return {};
    return FormatC("%s must be between %g and %g", name, lo, hi);
}

std::string ValidateCommon(const SynthOptions& o) {
    std::string e;
    if (o.SampleRate < 8000 || o.SampleRate > 384000)
        return "sample rate must be between 8000 and 384000 Hz";
    if (o.Channels < 1 || o.Channels > 16) return "channels must be between 1 and 16";
    if (!(e = CheckRange("seconds", o.Seconds, 1e-3, 86400)).empty()) return e;
    if (o.Seconds * o.SampleRate * o.Channels > static_cast<double>(kMaxTotalSamples))
        return "recording too long (more than 2^28 samples)";
    if (!(e = CheckRange("rate (s/d)", o.RateSecondsPerDay, -8640, 8640)).empty()) return e;
    if (!(e = CheckRange("unlock peak", o.UnlockPeak, 1e-6, 1)).empty()) return e;
    if (!(e = CheckRange("noise fraction", o.NoiseFraction, 0, 10)).empty()) return e;
    if (!(e = CheckRange("variation", o.Variation, 0, kMaxVariation)).empty()) return e;
    if (!(e = CheckRange("missing probability", o.MissingProbability, 0, 1)).empty()) return e;
    if (!std::isfinite(o.StartOffset)) return "start offset must be a finite number";
    return {};
}

std::string ValidateClickLevels(const SynthOptions& o) {
    std::string e;
    if (!(e = CheckRange("drop gain", o.DropGain, 0, 100)).empty()) return e;
    if (!(e = CheckRange("impulse gain", o.ImpulseGain, 0, 100)).empty()) return e;
    if (!(e = CheckRange("second click gain", o.SecondClickGain, 0, 100)).empty()) return e;
    double loudest = 1.0;
    if (IsEscapement(o.Kind)) loudest = std::max(loudest, o.DropGain);
    if (o.Kind == Movement::Coaxial) loudest = std::max(loudest, o.ImpulseGain);
    if (o.Kind == Movement::Pendulum && o.SecondClick)
        loudest = std::max(loudest, o.SecondClickGain);
    if (o.Kind != Movement::TuningFork) loudest *= 1.0 + o.Variation;
    if (o.UnlockPeak * loudest > 0.99) return "click peaks would exceed full scale";
    return {};
}

std::string ValidateBeats(const SynthOptions& o) {
    std::string e;
    if (!(e = CheckRange("beats per hour", o.BeatsPerHour, 360, 360000)).empty()) return e;
    if (!(e = CheckRange("beat error (ms)", o.BeatErrorMs, -1e6, 1e6)).empty()) return e;
    const double period = NominalPeriod(o) * RateFactor(o);
    double busy = 0;
    if (IsEscapement(o.Kind)) {
        if (!(e = CheckRange("lift angle", o.LiftAngleDeg, 1, 179)).empty()) return e;
        if (!(e = CheckRange("amplitude", o.AmplitudeDeg, 1, 1000)).empty()) return e;
        if (o.AmplitudeDeg * 2 <= o.LiftAngleDeg)
            return "amplitude must be more than half the lift angle";
        busy = LiftTimeFor(period, o.AmplitudeDeg, o.LiftAngleDeg);
    } else if (o.SecondClick) {
        if (!(e = CheckRange("second click delay", o.SecondClickDelay, 0, 10)).empty()) return e;
        busy = o.SecondClickDelay;
    }
    if (busy + kMaxClickSpan + std::abs(o.BeatErrorMs) / 1000 >= period)
        return "the clicks of a beat do not fit in the beat period (amplitude too low, beat "
               "error too large or beat too fast)";
    return {};
}

} // namespace

double LiftTimeFor(double beatPeriod, double amplitudeDeg, double liftAngleDeg) {
    if (!(std::isfinite(beatPeriod) && beatPeriod > 0))
        throw std::invalid_argument("beat period must be positive");
    if (!(std::isfinite(liftAngleDeg) && liftAngleDeg > 0))
        throw std::invalid_argument("lift angle must be positive");
    if (!(std::isfinite(amplitudeDeg) && 2 * amplitudeDeg >= liftAngleDeg))
        throw std::invalid_argument("amplitude must be at least half the lift angle");
    return 2.0 * beatPeriod / kPi * std::asin(liftAngleDeg / (2.0 * amplitudeDeg));
}

SynthOptions DefaultOptions(Movement kind) {
    SynthOptions o;
    o.Kind = kind;
    if (kind == Movement::Pendulum) o.BeatsPerHour = 3600;
    return o;
}

std::optional<Movement> ParseMovement(std::string_view name) {
    if (name == "lever") return Movement::Lever;
    if (name == "coaxial") return Movement::Coaxial;
    if (name == "pendulum") return Movement::Pendulum;
    if (name == "fork" || name == "tuning-fork") return Movement::TuningFork;
    return std::nullopt;
}

std::string ValidateOptions(const SynthOptions& o) {
    std::string e = ValidateCommon(o);
    if (e.empty()) e = ValidateClickLevels(o);
    if (!e.empty()) return e;
    if (o.Kind != Movement::TuningFork) return ValidateBeats(o);
    return CheckRange("fork frequency (Hz)", o.ForkHz, 10, std::min(2000.0, o.SampleRate / 4.0));
}

SynthResult Synthesize(const SynthOptions& options) {
    if (std::string e = ValidateOptions(options); !e.empty()) throw std::invalid_argument(e);
    if (options.Kind == Movement::TuningFork) {
        Plan plan = PlanFork(options);
        Renderer(options, plan).Run(plan.Truth);
        return std::move(plan.Truth);
    }
    const PalletSounds sounds = MakePalletSounds(options);
    Plan plan = BeatPlanner(options, sounds).Build();
    Renderer(options, plan).Run(plan.Truth);
    return std::move(plan.Truth);
}

} // namespace kv::synth
