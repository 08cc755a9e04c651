// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer bar's side of the measuring session: the microphone and speaker faders bound at every
// start of measuring, the automatic level control after each buffer, mute and the extra gain.
//
// Threads: user-interface thread only (the per-buffer step runs from the session's timer). What
// the capture thread also reads (AGC, the software gain, the extra gain) is changed under the
// analysis lock, the mute under the monitor lock.
#pragma once

#include <memory>
#include <string>

#include "analysis/AnalysisCore.h"
#include "audio/mixer/MixerFader.h"
#include "session/SessionAudio.h"
#include "session/SessionHost.h"
#include "settings/AppSettings.h"

namespace kv {

class MixerBinding {
public:
    // The faders work on the sound card's mixer where `audio` uses the sound card, and on no
    // mixer where a stand-in replaces it.
    MixerBinding(AnalysisCore& core, const AppSettings& app, SessionHost& host,
                 SessionAudio& audio);
    MixerBinding(const MixerBinding&) = delete;
    MixerBinding& operator=(const MixerBinding&) = delete;

    // Replaces the mixers behind the microphone and speaker faders (tests); the faders are made
    // anew, unbound.
    void UseMixers(MixerControl& input, MixerControl& output);
    CMixerFader& MicrophoneFader() { return *MicFader; }
    CMixerFader& SpeakerFader() { return *SpeakerFaderOf; }

    // At the start of measuring, once the devices are open: the faders follow them.
    void BindInputFader();
    void BindSpeakerFader();
    // After each analysed buffer: the automatic gain step.
    void PerBufferStep();

    // Binding failed at the last start of measuring.
    bool InputFaderFailed() const { return InputFailed; }
    bool SpeakerFaderFailed() const { return SpeakerFailed; }
    // No input fader could be bound: the automatic gain moves the software input gain.
    bool SoftwareGainActive() const;
    // "ALC" (1023): toggles AGC, or switches it off while the input fader has failed; the box is
    // shown only while it has not.
    void ToggleAutomaticLevel();
    bool AutomaticLevelShown() const { return !InputFailed; }
    // "Mute" (1024): toggles the monitor mute with duplex audio, otherwise switches it off; the
    // box is shown only with duplex audio.
    void ToggleMute();
    bool Muted() const;
    bool MuteShown() const;
    // "+" (2180) and "-" (2181): the extra mic gain AudioScale by 3 dB steps within 0.25 .. 128.
    void RaiseExtraGain();
    void LowerExtraGain();
    // The extra gain label: AudioScale in decibels, "%+2.1f".
    std::string ExtraGainText() const;

    // The input level the automatic gain step moves (0 .. 65535: the microphone fader's, or
    // the software gain's when no fader is bound) and its step size; 0 leaves the level alone.
    int InputLevel = 32768;
    int AgcStepSize = 0;

private:
    void MakeFaders(MixerControl& input, MixerControl& output);

    AnalysisCore& Core;
    const AppSettings& App;
    SessionHost& Host;
    SessionAudio& Audio;
    std::unique_ptr<MixerControl> OwnInputMixer;
    std::unique_ptr<MixerControl> OwnOutputMixer;
    std::unique_ptr<CMixerFader> MicFader;
    std::unique_ptr<CMixerFader> SpeakerFaderOf;
    bool InputFailed = false;
    bool SpeakerFailed = false;
};

} // namespace kv
