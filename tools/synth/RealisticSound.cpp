// SPDX-License-Identifier: GPL-3.0-or-later
#include "RealisticSound.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "NoiseFilters.h"
#include "SynthRandom.h"
#include "text/NumberText.h"

namespace kv::synth {
namespace {

constexpr double kFullScale = 32767.0;
constexpr double kPi = std::numbers::pi;
// Enough partials for a dense metallic ring that is still not a flat, noise-like spectrum.
constexpr int kPartials = 12;
// Partials stay below this fraction of the sample rate, clear of aliasing.
constexpr double kHighestPartialFraction = 0.45;
// Partial decays are drawn within this factor either way of the mean decay.
constexpr double kDecaySpread = 0.5;
// An event is rendered until its slowest partial has decayed by e^-9 (about -78 dB).
constexpr double kSpanDecays = 9;
// The room's tail is rendered over this many of its decays (-52 dB, under the noise).
constexpr double kTailDecays = 6;
// The tail builds up over the first reflections after the event's onset.
constexpr double kTailRise = 0.5e-3;
// A broad room colouring for the tail's band-pass.
constexpr double kReverbQ = 0.7;
// The broadband strike that opens each event: its decay and its level beside the ringing.
constexpr double kStrikeDecay = 0.05e-3;
constexpr double kStrikeLevel = 0.5;
// Attack of the impulse and drop events: a sharp metal contact.
constexpr double kSharpRise = 0.03e-3;
// Attack of the banking event: the lever meets its pin more softly.
constexpr double kBankingRise = 0.2e-3;
// The impulse event's place within the lift, as a fraction of the lift time, differs per pallet.
constexpr double kImpulseEarliest = 0.3;
constexpr double kImpulseLatest = 0.6;
// A template's peak is searched on a grid this much finer than the sample period.
constexpr int kPeakOversampling = 8;
// Partial weight away from the emphasis: the rest of the band still rings.
constexpr double kEmphasisFloor = 0.15;
// Slow wander: a sum of sinusoids whose periods lie within a factor of two of the typical one.
constexpr int kWanderTerms = 3;
// Knocks: low thumps in these ranges; the last starts early enough that its tail dies down
// inside the knock period.
constexpr double kKnockLowHz = 30;
constexpr double kKnockHighHz = 150;
constexpr double kKnockShortDecay = 0.02;
constexpr double kKnockLongDecay = 0.04;
constexpr double kKnockFirst = 0.05;
constexpr double kKnockSettle = 0.2;
constexpr double kKnockTailDecays = 8;
constexpr double kKnockWeakest = 0.4; // weakest knock / loudest
// Each knock also scrapes: broadband noise with this decay and share of the thump.
constexpr double kScrapeDecay = 2e-3;
constexpr double kScrapeLevel = 0.3;
// Mains hum and its harmonics (amplitudes relative to the fundamental).
constexpr double kMainsHz = 50;
constexpr std::array<double, 3> kHumHarmonics = {1.0, 0.5, 0.25};
// The recording is held in memory as doubles: at most 2^25 frames (11 minutes at 48 kHz).
constexpr double kMaxFrames = 33554432.0;
// The Q of the two sections of a 4th-order Butterworth low-pass.
constexpr std::array<double, 2> kButterworthQ = {0.5411961, 1.3065630};
// Levels below this count as silence.
constexpr double kSilentDb = -120;

// Streams of their own, so that changing one feature leaves the others of a seed unchanged.
enum Stream : uint64_t {
    TemplateStream = 201,
    StartStream,
    EventStream,
    LevelStream,
    MissingStream,
    WanderStream,
    KnockStream,
    NoiseStream,
    HumStream
};

double FromDb(double db) {
    return std::pow(10.0, db / 20.0);
}

// Raised-cosine attack: 0 at the onset, 1 after `rise` seconds.
double Attack(double t, double rise) {
    return t >= rise ? 1.0 : 0.5 - 0.5 * std::cos(kPi * t / rise);
}

int64_t FirstSampleAtOrAfter(double t, double fs) {
    return static_cast<int64_t>(std::ceil(t * fs));
}

struct Partial {
    double Hz = 0;
    double Amplitude = 0;
    double Decay = 0; // s
    double Phase = 0; // rad
};

struct EventSound {
    std::vector<Partial> Partials; // scaled so that the event's peak is 1
    double Rise = 0;               // s
};

enum Role { Unlock, Impulse, Drop, Banking, RoleCount };

struct PalletSound {
    std::array<EventSound, RoleCount> Events;
    double ImpulseFraction = 0; // impulse onset after the unlock / lift time
};

double RingValue(const EventSound& e, double t) {
    double sum = 0;
    for (const Partial& p : e.Partials)
        sum += p.Amplitude * std::exp(-t / p.Decay) * std::sin(2.0 * kPi * p.Hz * t + p.Phase);
    return Attack(t, e.Rise) * sum;
}

double LongestDecay(const std::vector<Partial>& partials) {
    double longest = 0;
    for (const Partial& p : partials)
        longest = std::max(longest, p.Decay);
    return longest;
}

// One event's ringing: a partial per band of the ringing range, weighted towards the emphasis.
EventSound MakeEvent(Random& rng, const RealismOptions& r, double fs, double rise) {
    EventSound e;
    e.Rise = rise;
    const double top = std::min(r.HighestHz, kHighestPartialFraction * fs);
    const double band = (top - r.LowestHz) / kPartials;
    for (int i = 0; i < kPartials; ++i) {
        Partial p;
        p.Hz = r.LowestHz + band * (i + rng.Uniform());
        const double offset = (p.Hz - r.EmphasisHz) / r.EmphasisWidthHz;
        const double weight = r.EmphasisHz > 0 ? kEmphasisFloor + std::exp(-offset * offset) : 1.0;
        p.Amplitude = weight * rng.Uniform(0.5, 1.0);
        p.Decay = r.RingDecay * rng.Uniform(1 - kDecaySpread, 1 + kDecaySpread);
        p.Phase = rng.Uniform(0, 2.0 * kPi);
        e.Partials.push_back(p);
    }
    const double step = 1.0 / (kPeakOversampling * fs);
    const double span = rise + kSpanDecays * LongestDecay(e.Partials);
    double peak = 0;
    for (double t = 0; t < span; t += step)
        peak = std::max(peak, std::abs(RingValue(e, t)));
    for (Partial& p : e.Partials)
        p.Amplitude /= peak;
    return e;
}

std::array<PalletSound, 2> MakePallets(const SynthOptions& o, const RealismOptions& r) {
    Random rng(StreamSeed(o.Seed, TemplateStream));
    const double fs = o.SampleRate;
    std::array<PalletSound, 2> pallets;
    for (PalletSound& p : pallets) {
        p.Events[Unlock] = MakeEvent(rng, r, fs, std::max(r.UnlockRise, kSharpRise));
        p.Events[Impulse] = MakeEvent(rng, r, fs, kSharpRise);
        p.Events[Drop] = MakeEvent(rng, r, fs, kSharpRise);
        p.Events[Banking] = MakeEvent(rng, r, fs, kBankingRise);
        p.ImpulseFraction = rng.Uniform(kImpulseEarliest, kImpulseLatest);
    }
    return pallets;
}

// Slow level drift in dB: a sum of slow sinusoids, never beyond the limit either way.
class Wander {
public:
    Wander(uint64_t seed, double limitDb, double period) : LimitDb_(limitDb) {
        Random rng(seed);
        for (int i = 0; i < kWanderTerms; ++i) {
            Omega_[i] = 2.0 * kPi / (period * rng.Uniform(0.5, 2.0));
            Phase_[i] = rng.Uniform(0, 2.0 * kPi);
            Weight_[i] = rng.Uniform(0.5, 1.0);
            WeightSum_ += Weight_[i];
        }
    }

    double Db(double t) const {
        double sum = 0;
        for (int i = 0; i < kWanderTerms; ++i)
            sum += Weight_[i] * std::sin(Omega_[i] * t + Phase_[i]);
        return LimitDb_ * sum / WeightSum_;
    }

private:
    double LimitDb_;
    std::array<double, kWanderTerms> Omega_{}, Phase_{}, Weight_{};
    double WeightSum_ = 0;
};

class Builder {
public:
    Builder(const SynthOptions& o, const RealismOptions& r)
        : O_(o), R_(r), Fs_(o.SampleRate), TickPeak_(r.TickPeak * kFullScale),
          Pallets_(MakePallets(o, r)), Tail_(BandPass(r.ReverbHz, kReverbQ, Fs_)),
          TailScale_(UnitRmsScale(Tail_)), EventSeed_(StreamSeed(o.Seed, EventStream)) {}

    SynthResult Run() {
        SynthResult result;
        result.BeatPeriod = 3600.0 / O_.BeatsPerHour * (1.0 - O_.RateSecondsPerDay / 86400.0);
        result.LiftTime = LiftTimeFor(result.BeatPeriod, O_.AmplitudeDeg, O_.LiftAngleDeg);
        std::vector<double> x(static_cast<size_t>(std::llround(O_.Seconds * Fs_)), 0.0);
        AddTicks(result, x);
        AddKnocks(x);
        AddBackground(x);
        if (R_.LowPassHz > 0) LimitBand(x);
        Quantise(x, result);
        return result;
    }

private:
    double StartTime() const {
        if (O_.StartOffset >= 0) return O_.StartOffset;
        Random rng(StreamSeed(O_.Seed, StartStream));
        return 0.05 + rng.Uniform() * 3600.0 / O_.BeatsPerHour;
    }

    void AddTicks(SynthResult& result, std::vector<double>& x) {
        const double lift = result.LiftTime;
        const double lastDelay = lift + R_.BankingDelay;
        const Wander wander(StreamSeed(O_.Seed, WanderStream), R_.SlowWanderDb,
                            R_.SlowWanderPeriod);
        Random level(StreamSeed(O_.Seed, LevelStream));
        Random miss(StreamSeed(O_.Seed, MissingStream));
        std::vector<int64_t> missing = O_.MissingBeats;
        std::sort(missing.begin(), missing.end());
        const double start = StartTime();
        for (int64_t n = 0;; ++n) {
            const bool odd = n % 2 != 0;
            const double unlock =
                start + n * result.BeatPeriod + (odd ? O_.BeatErrorMs / 1000.0 : 0.0);
            if (unlock + lastDelay >= O_.Seconds) break;
            const double beatDb = level.Symmetric(R_.BeatWanderDb); // one draw every beat
            const bool drawn = miss.Uniform() < O_.MissingProbability;
            if (drawn || std::binary_search(missing.begin(), missing.end(), n)) continue;
            result.BeatIndices.push_back(n);
            result.UnlockTimes.push_back(unlock);
            result.DropTimes.push_back(unlock + lift);

            const PalletSound& pallet = Pallets_[odd ? 1 : 0];
            const double drop =
                TickPeak_ * FromDb(wander.Db(unlock) + beatDb + (odd ? R_.TockDb : 0.0));
            const double unlockDb = R_.UnlockDb + (odd ? R_.TockUnlockDb : 0.0);
            AddEvent(pallet.Events[Unlock], unlock, drop * FromDb(unlockDb), x);
            AddEvent(pallet.Events[Impulse], unlock + pallet.ImpulseFraction * lift,
                     drop * FromDb(R_.ImpulseDb), x);
            AddEvent(pallet.Events[Drop], unlock + lift, drop, x);
            if (R_.BankingDelay > 0)
                AddEvent(pallet.Events[Banking], unlock + lift + R_.BankingDelay,
                         drop * FromDb(R_.BankingDb), x);
        }
    }

    // The event's ringing with this tick's small deviations, then its tail in the room.
    void AddEvent(const EventSound& sound, double onset, double peak, std::vector<double>& x) {
        const uint64_t key = Mix64(EventSeed_ ^ Mix64(EventCount_++));
        Random rng(key);
        const double gain = peak * (1.0 + rng.Symmetric(O_.Variation));
        std::vector<Partial> partials = sound.Partials;
        for (Partial& p : partials) {
            p.Hz *= 1.0 + rng.Symmetric(O_.Variation / 6);
            p.Decay *= 1.0 + rng.Symmetric(O_.Variation);
        }
        const auto size = static_cast<int64_t>(x.size());
        const int64_t begin = FirstSampleAtOrAfter(onset, Fs_);
        const double span = sound.Rise + kSpanDecays * LongestDecay(partials);
        const int64_t end = std::min(size, FirstSampleAtOrAfter(onset + span, Fs_));
        if (begin < end) {
            // Each partial advances by one complex rotation per sample from its exact phase.
            std::vector<double> ring(static_cast<size_t>(end - begin), 0.0);
            const double t0 = static_cast<double>(begin) / Fs_ - onset;
            for (const Partial& p : partials) {
                std::complex<double> z = std::polar(p.Amplitude * std::exp(-t0 / p.Decay),
                                                    2.0 * kPi * p.Hz * t0 + p.Phase);
                const std::complex<double> step =
                    std::polar(std::exp(-1.0 / (p.Decay * Fs_)), 2.0 * kPi * p.Hz / Fs_);
                for (double& v : ring) {
                    v += z.imag();
                    z *= step;
                }
            }
            for (int64_t k = begin; k < end; ++k) {
                const double t = static_cast<double>(k) / Fs_ - onset;
                const double strike = kStrikeLevel * std::exp(-t / kStrikeDecay) *
                                      HashGaussian(key ^ Mix64(static_cast<uint64_t>(k)));
                x[k] += gain * Attack(t, sound.Rise) * (ring[k - begin] + strike);
            }
        }
        AddTail(onset, gain * FromDb(R_.ReverbDb), rng, x);
    }

    // Band-passed noise that builds up over the first reflections and decays exponentially.
    void AddTail(double onset, double level, Random& rng, std::vector<double>& x) {
        if (R_.ReverbDb <= kSilentDb) return;
        Biquad filter = Tail_;
        const auto size = static_cast<int64_t>(x.size());
        const int64_t begin = FirstSampleAtOrAfter(onset, Fs_);
        const int64_t end =
            std::min(size, FirstSampleAtOrAfter(onset + kTailDecays * R_.ReverbDecay, Fs_));
        for (int64_t k = begin; k < end; ++k) {
            const double t = static_cast<double>(k) / Fs_ - onset;
            const double envelope =
                (1.0 - std::exp(-t / kTailRise)) * std::exp(-t / R_.ReverbDecay);
            x[k] += level * TailScale_ * envelope * filter.Step(rng.Gaussian());
        }
    }

    // Low thumps of the watch being handled, with some scraping; the first is the loudest.
    void AddKnocks(std::vector<double>& x) {
        if (R_.KnockSeconds <= 0) return;
        Random rng(StreamSeed(O_.Seed, KnockStream));
        const double latest = std::max(kKnockFirst, R_.KnockSeconds - kKnockSettle);
        const auto size = static_cast<int64_t>(x.size());
        for (int i = 0; i < R_.Knocks; ++i) {
            const double at = i == 0 ? kKnockFirst : rng.Uniform(kKnockFirst, latest);
            const double amplitude =
                TickPeak_ * R_.KnockGain * (i == 0 ? 1.0 : rng.Uniform(kKnockWeakest, 1.0));
            const double hz = rng.Uniform(kKnockLowHz, kKnockHighHz);
            const double decay = rng.Uniform(kKnockShortDecay, kKnockLongDecay);
            const int64_t begin = FirstSampleAtOrAfter(at, Fs_);
            const int64_t end =
                std::min(size, FirstSampleAtOrAfter(at + kKnockTailDecays * decay, Fs_));
            for (int64_t k = begin; k < end; ++k) {
                const double t = static_cast<double>(k) / Fs_ - at;
                x[k] += amplitude * (std::exp(-t / decay) * std::sin(2.0 * kPi * hz * t) +
                                     kScrapeLevel * std::exp(-t / kScrapeDecay) * rng.Gaussian());
            }
        }
    }

    // What the microphone hears without the watch: room noise, its own hiss, mains hum and the
    // converter's offset.
    void AddBackground(std::vector<double>& x) {
        Random noise(StreamSeed(O_.Seed, NoiseStream));
        Random hum(StreamSeed(O_.Seed, HumStream));
        PinkFilter pink;
        const double pinkRms = TickPeak_ * FromDb(R_.NoiseDb) * UnitRmsScale(PinkFilter{});
        const double hissRms = TickPeak_ * FromDb(R_.HissDb);
        const double humLevel = TickPeak_ * FromDb(R_.HumDb);
        std::array<double, kHumHarmonics.size()> phases{};
        for (double& phase : phases)
            phase = hum.Uniform(0, 2.0 * kPi);
        const double dc = R_.DcOffset * kFullScale;
        for (size_t k = 0; k < x.size(); ++k) {
            const double t = static_cast<double>(k) / Fs_;
            double v = dc + pinkRms * pink.Step(noise.Gaussian()) + hissRms * noise.Gaussian();
            for (size_t h = 0; h < kHumHarmonics.size(); ++h)
                v += humLevel * kHumHarmonics[h] *
                     std::sin(2.0 * kPi * kMainsHz * static_cast<double>(h + 1) * t + phases[h]);
            x[k] += v;
        }
    }

    void LimitBand(std::vector<double>& x) const {
        for (double q : kButterworthQ) {
            Biquad section = LowPass(R_.LowPassHz, q, Fs_);
            for (double& v : x)
                v = section.Step(v);
        }
    }

    static void Quantise(const std::vector<double>& x, SynthResult& result) {
        result.Samples.resize(x.size());
        for (size_t k = 0; k < x.size(); ++k) {
            double v = std::round(x[k]);
            if (v > 32767.0 || v < -32768.0) {
                ++result.ClippedSamples;
                v = std::clamp(v, -32768.0, 32767.0);
            }
            result.Samples[k] = static_cast<int16_t>(v);
        }
    }

    const SynthOptions& O_;
    const RealismOptions& R_;
    double Fs_;
    double TickPeak_; // sample units
    std::array<PalletSound, 2> Pallets_;
    Biquad Tail_;
    double TailScale_;
    uint64_t EventSeed_;
    uint64_t EventCount_ = 0;
};

std::string CheckRange(const char* name, double value, double lo, double hi) {
    if (std::isfinite(value) && value >= lo && value <= hi) return {};
    return FormatC("%s must be between %g and %g", name, lo, hi);
}

std::string ValidateLevels(const RealismOptions& r) {
    struct Range {
        const char* Name;
        double Value, Lo, Hi;
    };
    const Range ranges[] = {
        {"tick peak", r.TickPeak, 1e-4, 4},
        {"unlock level (dB)", r.UnlockDb, -60, 0},
        {"tock's unlock level (dB)", r.TockUnlockDb, -20, 20},
        {"tock level (dB)", r.TockDb, -20, 20},
        {"impulse level (dB)", r.ImpulseDb, -60, -1},
        {"banking level (dB)", r.BankingDb, -60, 0},
        {"reverberation level (dB)", r.ReverbDb, -200, 0},
        {"slow wander (dB)", r.SlowWanderDb, 0, 20},
        {"slow wander period (s)", r.SlowWanderPeriod, 1, 3600},
        {"beat-to-beat wander (dB)", r.BeatWanderDb, 0, 10},
        {"noise level (dB)", r.NoiseDb, -200, 20},
        {"hiss level (dB)", r.HissDb, -200, 20},
        {"hum level (dB)", r.HumDb, -200, 20},
        {"DC offset", r.DcOffset, -0.5, 0.5},
        {"knock gain", r.KnockGain, 0, 1000},
    };
    for (const Range& range : ranges)
        if (std::string e = CheckRange(range.Name, range.Value, range.Lo, range.Hi); !e.empty())
            return e;
    if (r.UnlockDb + r.TockUnlockDb > 0)
        return "the tock's unlock must not be louder than its drop";
    if (r.Knocks < 0 || r.Knocks > 100) return "knocks must be between 0 and 100";
    return {};
}

std::string ValidateShape(const SynthOptions& o, const RealismOptions& r) {
    const double fs = o.SampleRate;
    const double top = kHighestPartialFraction * fs;
    std::string e;
    if (!(e = CheckRange("lowest partial (Hz)", r.LowestHz, 100, top - 100)).empty()) return e;
    if (!(e = CheckRange("highest partial (Hz)", r.HighestHz, r.LowestHz + 100, 1e6)).empty())
        return e;
    if (!(e = CheckRange("emphasis (Hz)", r.EmphasisHz, 0, fs / 2)).empty()) return e;
    if (!(e = CheckRange("emphasis width (Hz)", r.EmphasisWidthHz, 10, 1e5)).empty()) return e;
    if (!(e = CheckRange("ring decay (s)", r.RingDecay, 5e-5, 0.02)).empty()) return e;
    if (!(e = CheckRange("unlock rise (s)", r.UnlockRise, 0, 0.005)).empty()) return e;
    if (!(e = CheckRange("banking delay (s)", r.BankingDelay, 0, 0.05)).empty()) return e;
    if (!(e = CheckRange("reverberation decay (s)", r.ReverbDecay, 1e-3, 0.2)).empty()) return e;
    if (!(e = CheckRange("reverberation band (Hz)", r.ReverbHz, 100, top)).empty()) return e;
    if (!(e = CheckRange("knock period (s)", r.KnockSeconds, 0, o.Seconds)).empty()) return e;
    if (r.LowPassHz != 0 && !(e = CheckRange("low-pass (Hz)", r.LowPassHz, 100, top)).empty())
        return e;
    return {};
}

} // namespace

std::string ValidateRealism(const SynthOptions& o, const RealismOptions& r) {
    if (o.Kind != Movement::Lever) return "realistic sound is made for lever watches";
    if (o.Channels != 1) return "realistic sound has one channel";
    std::string e = ValidateOptions(o);
    if (e.empty()) e = ValidateLevels(r);
    if (e.empty()) e = ValidateShape(o, r);
    if (!e.empty()) return e;
    if (o.Seconds * o.SampleRate > kMaxFrames)
        return "recording too long for realistic sound (more than 2^25 frames)";
    const double period = 3600.0 / o.BeatsPerHour * (1.0 - o.RateSecondsPerDay / 86400.0);
    const double ring =
        r.UnlockRise + kSpanDecays * r.RingDecay * (1 + kDecaySpread) * (1 + o.Variation);
    const double busy = LiftTimeFor(period, o.AmplitudeDeg, o.LiftAngleDeg) + r.BankingDelay;
    if (busy + ring + std::abs(o.BeatErrorMs) / 1000 >= period)
        return "the events of a tick do not fit in the beat period";
    return {};
}

SynthResult SynthesizeRealistic(const SynthOptions& options, const RealismOptions& realism) {
    if (std::string e = ValidateRealism(options, realism); !e.empty())
        throw std::invalid_argument(e);
    return Builder(options, realism).Run();
}

} // namespace kv::synth
