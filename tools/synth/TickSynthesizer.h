// SPDX-License-Identifier: GPL-3.0-or-later
// Tick synthesizer: recordings of lever, coaxial, pendulum and tuning-fork movements whose timing
// (rate, beat error, lift time) is known exactly, for tests, benchmarks and the sample recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::synth {

enum class Movement { Lever, Coaxial, Pendulum, TuningFork };

struct SynthOptions {
    Movement Kind = Movement::Lever;
    double BeatsPerHour = 18000;  // lever, coaxial, pendulum
    double ForkHz = 360;          // tuning fork
    double RateSecondsPerDay = 0; // + gains
    double BeatErrorMs = 0;
    double AmplitudeDeg = 270;
    double LiftAngleDeg = 52;
    uint32_t SampleRate = 48000;
    double Seconds = 60;
    double UnlockPeak = 0.25;    // fraction of full scale
    double DropGain = 2.0;       // drop peak / unlock peak
    double NoiseFraction = 0.01; // noise RMS / unlock peak
    double Variation = 0.03;     // tick-to-tick variation of each pallet's sound
    std::vector<int64_t> MissingBeats;
    double MissingProbability = 0;
    double StartOffset = -1; // seconds; <0 = default (0.05 s + seeded fraction of a beat)
    uint16_t Channels = 1;   // >1: the watch on every channel (with independent noise)
    uint64_t Seed = 1;

    double ImpulseGain = 1.0;        // coaxial impulse click peak / unlock peak (half the drop)
    bool SecondClick = false;        // pendulum: a weaker second click after every beat
    double SecondClickDelay = 0.015; // s after the beat's click
    double SecondClickGain = 0.4;    // second click peak / unlock peak
};

// Times count from the first sample (time 0); sample k is at k / SampleRate. An onset at time t
// first shows in sample ceil(t * SampleRate). A tuning fork's "unlocks" are the upward zero
// crossings of its tone.
struct SynthResult {
    std::vector<int16_t> Samples;    // interleaved if Channels > 1
    double BeatPeriod = 0;           // actual mean beat period, s
    double LiftTime = 0;             // s (from the actual beat period)
    std::vector<double> UnlockTimes; // onset of every sounded unlock click, s
    std::vector<double> DropTimes;   // onset of every drop click, s (lever/coaxial)

    std::vector<int64_t> BeatIndices; // beat number of each entry of UnlockTimes
    std::vector<double> ImpulseTimes; // onset of every coaxial impulse click, s
    size_t ClippedSamples = 0;        // samples clamped to the 16-bit range (noise peaks only)
};

// Time the balance needs to cross the lift angle at the given amplitude:
// (2T/pi) * asin(liftAngle / (2 * amplitude)). Throws std::invalid_argument on impossible input.
double LiftTimeFor(double beatPeriod, double amplitudeDeg, double liftAngleDeg);

// Options with the usual defaults of a movement: a pendulum clock beats once a second (3600 vph);
// the others keep the defaults above.
SynthOptions DefaultOptions(Movement kind);

// "lever", "coaxial", "pendulum", "fork" (also "tuning-fork"); nullopt for anything else.
std::optional<Movement> ParseMovement(std::string_view name);

// Empty when the options can be synthesized, else a one-line reason.
std::string ValidateOptions(const SynthOptions& options);

// Builds the recording. Deterministic for a given seed. A beat is sounded only when all its
// clicks start inside the recording. Throws std::invalid_argument with the reason from
// ValidateOptions when the options are unusable.
SynthResult Synthesize(const SynthOptions& options);

} // namespace kv::synth
