// SPDX-License-Identifier: GPL-3.0-or-later
#include "SynthPresets.h"

namespace kv::synth {
namespace {

// A 21600 vph wristwatch on the desk in front of a laptop: a quiet, bright, hissy signal whose
// level drifts as the watch or the laptop is moved, with mains hum from the charger.
SynthPreset LaptopMic() {
    SynthPreset p{"laptop-mic", {}, {}};
    SynthOptions& o = p.Options;
    o.BeatsPerHour = 21600;
    o.RateSecondsPerDay = 5;
    o.BeatErrorMs = 0.5;
    o.AmplitudeDeg = 260;
    o.SampleRate = 48000;
    RealismOptions& r = p.Realism;
    r.TickPeak = 0.015;   // 2-3 % of full scale after the analyser's high-pass (gain about 1.8)
    r.EmphasisHz = 11000; // the watch case and the small microphone's resonance
    r.EmphasisWidthHz = 1500;
    r.RingDecay = 0.6e-3;
    r.ReverbDb = -24;
    r.ReverbDecay = 0.015;
    r.ReverbHz = 4000;
    r.NoiseDb = -27; // with the hiss, about 26 dB under the tick peak
    r.HissDb = -33;
    r.HumDb = -30;
    r.DcOffset = 0.003;
    return p;
}

// A 14400 vph pocket watch clamped on a contact pickup: a loud, clean signal that clips on the
// louder beats, a slow weak unlock that leads into each tick and a clear beat error.
SynthPreset ContactPickup() {
    SynthPreset p{"contact-pickup", {}, {}};
    SynthOptions& o = p.Options;
    o.BeatsPerHour = 14400;
    o.RateSecondsPerDay = -12;
    o.BeatErrorMs = 2.4;
    o.AmplitudeDeg = 230;
    o.SampleRate = 44100;
    RealismOptions& r = p.Realism;
    r.TickPeak = 0.8;
    r.UnlockDb = -14;
    r.UnlockRise = 1.5e-3;
    r.ImpulseDb = -12;
    r.BankingDb = -12;
    r.BankingDelay = 0.004;
    r.LowestHz = 1500;
    r.HighestHz = 12000;
    r.RingDecay = 1.2e-3; // structure-borne sound rings longer than sound in air
    r.ReverbDb = -30;     // the case, not a room
    r.ReverbDecay = 0.006;
    r.ReverbHz = 2500;
    r.SlowWanderDb = 3; // clamped: the coupling changes little
    r.BeatWanderDb = 1.5;
    r.NoiseDb = -60;
    r.HissDb = -66;
    r.HumDb = -50;
    return p;
}

// A 28800 vph watch recorded by a phone: 16 kHz sampling, the channel limited to 7 kHz,
// moderate noise and a wandering level.
SynthPreset Phone() {
    SynthPreset p{"phone", {}, {}};
    SynthOptions& o = p.Options;
    o.BeatsPerHour = 28800;
    o.RateSecondsPerDay = 2;
    o.BeatErrorMs = 0.3;
    o.AmplitudeDeg = 290;
    o.LiftAngleDeg = 53;
    o.SampleRate = 16000;
    RealismOptions& r = p.Realism;
    r.TickPeak = 0.1;
    r.LowPassHz = 7000;
    r.ReverbDb = -22;
    r.ReverbDecay = 0.02;
    r.ReverbHz = 2500;
    r.NoiseDb = -30;
    r.HissDb = -36;
    r.HumDb = -40;
    return p;
}

// The laptop microphone while the watch is still being put down: loud low thumps that clip
// during the first 1.3 s.
SynthPreset Knocks() {
    SynthPreset p = LaptopMic();
    p.Name = "knocks";
    p.Realism.KnockSeconds = 1.3;
    p.Realism.Knocks = 4;
    p.Realism.KnockGain = 80;
    return p;
}

} // namespace

std::vector<std::string_view> PresetNames() {
    return {"laptop-mic", "contact-pickup", "phone", "knocks"};
}

std::optional<SynthPreset> FindPreset(std::string_view name) {
    if (name == "laptop-mic") return LaptopMic();
    if (name == "contact-pickup") return ContactPickup();
    if (name == "phone") return Phone();
    if (name == "knocks") return Knocks();
    return std::nullopt;
}

} // namespace kv::synth
