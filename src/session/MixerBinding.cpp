// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/MixerBinding.h"

#include <algorithm>
#include <cmath>

#include "audio/mixer/AlsaMixerControl.h"
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

MixerBinding::MixerBinding(AnalysisCore& core, const AppSettings& app, SessionHost& host,
                           SessionAudio& audio)
    : Core(core), App(app), Host(host), Audio(audio) {
    // A sound card's mixer goes with the sound card; a source or output that stands in for it
    // has none unless UseMixers gives one.
    if (Audio.SoundCardInput())
        OwnInputMixer = std::make_unique<AlsaMixerControl>();
    else
        OwnInputMixer = std::make_unique<AbsentMixerControl>();
    if (Audio.SoundCardOutput())
        OwnOutputMixer = std::make_unique<AlsaMixerControl>();
    else
        OwnOutputMixer = std::make_unique<AbsentMixerControl>();
    MakeFaders(*OwnInputMixer, *OwnOutputMixer);
}

void MixerBinding::MakeFaders(MixerControl& input, MixerControl& output) {
    MicFader = std::make_unique<CMixerFader>(input, true);
    SpeakerFaderOf = std::make_unique<CMixerFader>(output, true);
}

void MixerBinding::UseMixers(MixerControl& input, MixerControl& output) {
    MakeFaders(input, output);
    OwnInputMixer.reset();
    OwnOutputMixer.reset();
    Host.ShowMixer();
}

bool MixerBinding::SoftwareGainActive() const {
    const auto lock = Core.HoldAnalysis();
    return Core.SoftwareInputGain;
}

// A fader with nothing to bind (no mixer, a sound server's source or a USB microphone without a
// capture volume) leaves the level to the software gain; other
// failures are reported once and switch the automatic level control off. A playback's level is
// its playback gain whatever the fader does.
void MixerBinding::BindInputFader() {
    CMixerFader& fader = *MicFader;
    fader.DeviceName = MixerDeviceFor(Audio.In().UsingFallback() ? App.SoundDeviceStr
                                                                 : Audio.In().OpenedDeviceName);
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
void MixerBinding::BindSpeakerFader() {
    CMixerFader& fader = *SpeakerFaderOf;
    if (!MuteShown()) {
        fader.Close();
        {
            const std::lock_guard lock(Audio.Monitor().MonitorLock);
            Audio.Monitor().SetMute(false);
        }
        Host.ShowMixer();
        return;
    }
    fader.DeviceName = MixerDeviceFor(Audio.Out().OpenedDeviceName);
    const bool bound = fader.Bind(DestinationSpeakers, SourceNone, MixerControlType::Volume) ||
                       fader.Bind(DestinationHeadphones, SourceNone, MixerControlType::Volume);
    // As for the input: an output without a mixer or a volume simply has no slider.
    const bool failed = !bound && !fader.MissingControl();
    if (failed && !SpeakerFailed) Host.Notice(SpeakerFaderFailure + fader.DiagnosticText());
    SpeakerFailed = failed;
    Host.ShowMixer();
}

void MixerBinding::PerBufferStep() {
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

void MixerBinding::ToggleAutomaticLevel() {
    bool on;
    {
        const auto lock = Core.HoldAnalysis();
        Core.Settings.AGC = InputFailed ? 0 : !Core.Settings.AGC;
        on = Core.Settings.AGC != 0;
    }
    Host.ShowMixer();
    if (on) Host.RequestRepaint();
}

bool MixerBinding::MuteShown() const {
    const auto lock = Core.HoldAnalysis();
    return Core.Settings.DuplexAudio != 0;
}

void MixerBinding::ToggleMute() {
    const bool duplex = MuteShown();
    {
        const std::lock_guard lock(Audio.Monitor().MonitorLock);
        Audio.Monitor().SetMute(duplex && !Audio.Monitor().Muted());
    }
    Host.ShowMixer();
}

bool MixerBinding::Muted() const {
    const bool duplex = MuteShown(); // the analysis lock before the monitor lock, never inside
    const std::lock_guard lock(Audio.Monitor().MonitorLock);
    return duplex && Audio.Monitor().Muted();
}

void MixerBinding::RaiseExtraGain() {
    {
        const auto lock = Core.HoldAnalysis();
        double& scale = Core.Settings.AudioScale;
        if (scale < HighestExtraGain) scale = std::min(scale * ExtraGainUp, HighestExtraGain);
    }
    Host.ShowMixer();
}

void MixerBinding::LowerExtraGain() {
    {
        const auto lock = Core.HoldAnalysis();
        double& scale = Core.Settings.AudioScale;
        if (scale > LowestExtraGain) scale = std::max(scale * ExtraGainDown, LowestExtraGain);
    }
    Host.ShowMixer();
}

std::string MixerBinding::ExtraGainText() const {
    const auto lock = Core.HoldAnalysis();
    return FormatC("%+2.1f", 20.0 * std::log10(Core.Settings.AudioScale));
}

} // namespace kv
