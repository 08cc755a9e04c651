// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer bar's side of the measuring session: the microphone and speaker faders bound at every
// start of measuring, the automatic level control after each buffer, mute and the extra gain.
#include <algorithm>
#include <cmath>

#include "session/MeasuringSession.h"
#include "text/NumberText.h"

namespace kv {

namespace {

static_assert(SoftwareGainStep == MixerFullScale / CMixerFader::MostSliderSteps,
              "the software level moves as the finest fader does");
// The extra mic gain moves by 3 dB (a factor of the square root of 2) within 0.25 .. 128.
constexpr double ExtraGainUp = 1.4142135623730951;
constexpr double ExtraGainDown = 0.7071067811865475;
constexpr double LowestExtraGain = 0.25;
constexpr double HighestExtraGain = 128.0;

const char* const InputFaderFailure =
    "Failed to initialise input fader. Please check mixer device.\r\n"
    "Diagnostic information follows:\r\n";
const char* const SpeakerFaderFailure =
    "Failed to initialise spkr fader. Please check mixer device.\r\n"
    "Diagnostic information follows:\r\n";

} // namespace

void MeasuringSession::MakeFaders(MixerControl& input, MixerControl& output) {
    MicFader = std::make_unique<CMixerFader>(input, true);
    SpeakerFaderOf = std::make_unique<CMixerFader>(output, true);
}

void MeasuringSession::UseMixers(MixerControl& input, MixerControl& output) {
    MakeFaders(input, output);
    OwnInputMixer.reset();
    OwnOutputMixer.reset();
    Host.ShowMixer();
}

bool MeasuringSession::SoftwareGainActive() const {
    const auto lock = Core.HoldAnalysis();
    return Core.SoftwareInputGain;
}

// A fader with nothing to bind (no mixer, a sound server's source or a USB microphone without a
// capture volume) leaves the level to the software gain; other
// failures are reported once and switch the automatic level control off. A playback's level is
// its playback gain whatever the fader does.
void MeasuringSession::BindInputFader() {
    CMixerFader& fader = *MicFader;
    fader.DeviceName =
        MixerDeviceFor(SoundIn->UsingFallback() ? App.SoundDeviceStr : SoundIn->OpenedDeviceName);
    const bool bound = fader.Bind(DestinationWaveIn, App.Source, MixerControlType::Volume);
    bool playing;
    {
        const auto lock = Core.HoldAnalysis();
        playing = Core.PlayingBack;
    }
    const bool software = !bound && (playing || fader.MissingControl());
    if (bound || software) {
        InputFailed = false;
        AgcStepSize = bound ? fader.UnitsPerStep() : SoftwareGainStep;
    } else {
        if (!InputFailed) Host.Notice(InputFaderFailure + fader.DiagnosticText());
        InputFailed = true;
        AgcStepSize = 0;
    }
    const auto lock = Core.HoldAnalysis();
    if (InputFailed) Core.Settings.AGC = 0;
    Core.SoftwareInputGain = software && !playing;
    if (bound) InputLevel = fader.Level();
    Host.ShowMixer();
}

// The speaker fader follows the monitor output, which exists only with duplex audio: Master or
// Speaker, else Headphone. A failure is told once, on the way into it.
void MeasuringSession::BindSpeakerFader() {
    CMixerFader& fader = *SpeakerFaderOf;
    if (!MuteShown()) {
        fader.Close();
        {
            const std::lock_guard lock(Monitor->MonitorLock);
            Monitor->SetMute(false);
        }
        Host.ShowMixer();
        return;
    }
    fader.DeviceName = MixerDeviceFor(SoundOut->OpenedDeviceName);
    const bool bound = fader.Bind(DestinationSpeakers, SourceNone, MixerControlType::Volume) ||
                       fader.Bind(DestinationHeadphones, SourceNone, MixerControlType::Volume);
    // As for the input: an output without a mixer or a volume simply has no slider.
    const bool failed = !bound && !fader.MissingControl();
    if (failed && !SpeakerFailed) Host.Notice(SpeakerFaderFailure + fader.DiagnosticText());
    SpeakerFailed = failed;
    Host.ShowMixer();
}

void MeasuringSession::PerBufferStep() {
    if (!Core.Settings.AGC) return;
    CMixerFader& fader = *MicFader;
    const bool moveFader = fader.Bound();
    const int level = moveFader ? fader.Level() : InputLevel;
    if (const auto next = Core.AutomaticGainStep(AgcStepSize, level)) {
        InputLevel = *next;
        if (moveFader) fader.SetLevel(*next);
        Host.ShowInputLevel(InputLevel);
    }
}

void MeasuringSession::ToggleAutomaticLevel() {
    bool on;
    {
        const auto lock = Core.HoldAnalysis();
        Core.Settings.AGC = InputFailed ? 0 : !Core.Settings.AGC;
        on = Core.Settings.AGC != 0;
    }
    Host.ShowMixer();
    if (on) Host.RequestRepaint();
}

bool MeasuringSession::MuteShown() const {
    const auto lock = Core.HoldAnalysis();
    return Core.Settings.DuplexAudio != 0;
}

void MeasuringSession::ToggleMute() {
    const bool duplex = MuteShown();
    {
        const std::lock_guard lock(Monitor->MonitorLock);
        Monitor->SetMute(duplex && !Monitor->Muted());
    }
    Host.ShowMixer();
}

bool MeasuringSession::Muted() const {
    const bool duplex = MuteShown(); // the analysis lock before the monitor lock, never inside
    const std::lock_guard lock(Monitor->MonitorLock);
    return duplex && Monitor->Muted();
}

void MeasuringSession::RaiseExtraGain() {
    {
        const auto lock = Core.HoldAnalysis();
        double& scale = Core.Settings.AudioScale;
        if (scale < HighestExtraGain) scale = std::min(scale * ExtraGainUp, HighestExtraGain);
    }
    Host.ShowMixer();
}

void MeasuringSession::LowerExtraGain() {
    {
        const auto lock = Core.HoldAnalysis();
        double& scale = Core.Settings.AudioScale;
        if (scale > LowestExtraGain) scale = std::max(scale * ExtraGainDown, LowestExtraGain);
    }
    Host.ShowMixer();
}

std::string MeasuringSession::ExtraGainText() const {
    const auto lock = Core.HoldAnalysis();
    return FormatC("%+2.1f", 20.0 * std::log10(Core.Settings.AudioScale));
}

} // namespace kv
