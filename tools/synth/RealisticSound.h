// SPDX-License-Identifier: GPL-3.0-or-later
// Realistic lever-watch sound with exact timing truth: ticks made of several ringing events,
// tick and tock of different sound, room reverberation, wandering level, mains hum, coloured
// noise, handling knocks, clipping and a band-limited channel, as real microphones deliver.
#pragma once

#include <string>

#include "TickSynthesizer.h"

namespace kv::synth {

// Levels in dB are amplitude ratios; "the tick peak" is the median peak of the drop events.
// From SynthOptions the realistic mode takes the timing (BeatsPerHour, RateSecondsPerDay,
// BeatErrorMs, AmplitudeDeg, LiftAngleDeg, StartOffset, missing beats), SampleRate, Seconds,
// Variation and Seed; it sounds a lever watch on one channel. UnlockPeak, DropGain and
// NoiseFraction are replaced by the levels below.
struct RealismOptions {
    double TickPeak = 0.25; // fraction of full scale (above 1: the loudest ticks clip)

    // The events of a tick: unlock at the beat's time, impulse during the lift, drop at unlock +
    // lift time, banking after the drop. The drop is the loudest.
    double UnlockDb = -6;          // unlock peak / drop peak
    double TockUnlockDb = -4.5;    // extra for the tock's unlock, relative to its own drop
    double TockDb = -1.5;          // tock's drop peak / tick's drop peak
    double ImpulseDb = -10;        // impulse peak / drop peak
    double BankingDb = -14;        // banking peak / drop peak
    double BankingDelay = 0.003;   // s after the drop; 0: no banking event
    double UnlockRise = 0.1e-3;    // s from the unlock's onset to its full level
    double LowestHz = 2000;        // partials of the ringing are spread over this band,
    double HighestHz = 14000;      // capped below the Nyquist frequency
    double EmphasisHz = 0;         // centre of a resonance that dominates the ringing; 0: none
    double EmphasisWidthHz = 1500; // its half width
    double RingDecay = 0.8e-3;     // s, mean decay of the partials
    double ReverbDb = -25;         // start of the room's tail / the event's peak
    double ReverbDecay = 0.012;    // s
    double ReverbHz = 3000;        // centre of the tail's band

    double SlowWanderDb = 6;      // slow level drift, at most this far either way
    double SlowWanderPeriod = 40; // s, typical period of the drift
    double BeatWanderDb = 3;      // each beat's own level, uniform within this far either way

    double NoiseDb = -26; // pink noise RMS / tick peak
    double HissDb = -45;  // white noise RMS / tick peak (the microphone's own noise)
    double HumDb = -30;   // 50 Hz hum amplitude / tick peak; 100 and 150 Hz weaker
    double DcOffset = 0;  // fraction of full scale

    double KnockSeconds = 0; // handling knocks during this long at the start; 0: none
    int Knocks = 4;
    double KnockGain = 80; // loudest knock / tick peak

    double LowPassHz = 0; // band limit of the channel (4th-order Butterworth); 0: none
};

// Empty when the options can be synthesized realistically, else a one-line reason.
std::string ValidateRealism(const SynthOptions& options, const RealismOptions& realism);

// Builds the recording; deterministic for a given seed. The truth (UnlockTimes, DropTimes,
// BeatPeriod, LiftTime, BeatIndices) follows the definitions of Synthesize: the unlock is the
// onset of a tick's first event, the drop the onset of its drop event. Throws
// std::invalid_argument with the reason from ValidateRealism when the options are unusable.
SynthResult SynthesizeRealistic(const SynthOptions& options, const RealismOptions& realism);

} // namespace kv::synth
