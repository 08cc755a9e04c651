// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer bar in the main frame with fake mixers behind the faders: binding at every Run, both
// sliders following their controls both ways, the failure boxes shown once, ALC hidden while the
// input fader has failed, the software gain where there is nothing to bind, boost and mute.
#include <gtest/gtest.h>

#include <QDockWidget>
#include <QTest>
#include <cmath>

#include "FreshHomeFrame.h"
#include "PumpEvents.h"
#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "support/FakeMixerControl.h"
#include "ui/app/MainFrame.h"
#include "ui/bars/MixerBar.h"

namespace kv {
namespace {

using test::WaitFor;

// Ticks whose loudest click peaks at `peak` of full scale.
std::vector<int16_t> WatchAt(double peak, double seconds) {
    synth::SynthOptions o;
    o.BeatsPerHour = 18000;
    o.SampleRate = 48000;
    o.Seconds = seconds;
    o.UnlockPeak = peak / o.DropGain;
    return synth::Synthesize(o).Samples;
}

const QString InputFailure = QStringLiteral(
    "Failed to initialise input fader. Please check mixer device.\r\nDiagnostic information "
    "follows:\r\n");
const QString SpeakerFailure = QStringLiteral(
    "Failed to initialise spkr fader. Please check mixer device.\r\nDiagnostic information "
    "follows:\r\n");

struct MixerBarUi : test::FreshHomeFrame {
    MixerBarUi() : FreshHomeFrame("kv-mixerbar-") {}
    test::FakeMixerControl Input;
    test::FakeMixerControl Output;
    QStringList Messages;

    void SetUp() override {
        FreshHomeFrame::SetUp();
        View().Hooks.MessageSink = [this](const QString& m) { Messages << m; };
        Session().Mixer().UseMixers(Input, Output);
        View().Core().Settings.SampleRate = 48000;
        View().Core().Settings.DuplexAudio = 1;
        Frame->show();
    }
    MeasuringSession& Session() { return View().Session(); }
    MixerBar& Bar() { return Frame->Mixer(); }
    void Restart() {
        if (Session().IsRunning()) Session().Run();
        Session().Run();
        ASSERT_TRUE(Session().IsRunning());
        QCoreApplication::processEvents();
    }
    int Agc() {
        const auto lock = View().Core().HoldAnalysis();
        return View().Core().Settings.AGC;
    }
};

TEST_F(MixerBarUi, TheBarIsDockedAtTheRightWithItsControlsTipsAndPrompts) {
    EXPECT_EQ(Frame->dockWidgetArea(&Frame->MixerDock()), Qt::RightDockWidgetArea);
    EXPECT_EQ(Frame->MixerDock().widget(), &Bar());
    auto* mic = Bar().findChild<QSlider*>(QStringLiteral("mixer1020"));
    ASSERT_NE(mic, nullptr);
    EXPECT_EQ(mic->orientation(), Qt::Vertical);
    EXPECT_EQ(mic->statusTip(), QStringLiteral("Microphone gain"));
    EXPECT_EQ(mic->toolTip(), QStringLiteral("Mic gain"));
    EXPECT_EQ(Bar().AlcBox()->toolTip(), QStringLiteral("Auto mic gain"));
    EXPECT_EQ(Bar().AlcBox()->statusTip(), QStringLiteral("Automatic level control"));
    EXPECT_EQ(Bar().RaiseButton()->text(), QStringLiteral("+"));
    EXPECT_EQ(Bar().LowerButton()->statusTip(), QStringLiteral("Reduce extra mic gain"));
    EXPECT_EQ(Bar().ExtraGainLabel()->toolTip(), QStringLiteral("Extra mic gain factor"));
    EXPECT_EQ(Bar().SpeakerSlider()->statusTip(), QStringLiteral("Speaker volume"));
    EXPECT_EQ(Bar().ExtraGainLabel()->text(), QStringLiteral("+0.0"));
    EXPECT_FALSE(mic->isEnabled()) << "unbound until measuring starts";
}

TEST_F(MixerBarUi, RunBindsBothFadersAndTheSlidersFollowTheControlsBothWays) {
    Input.Raw = {40000, 20000};
    Output.Raw = {13100, 13100};
    Restart();
    QSlider* mic = Bar().MicrophoneSlider();
    QSlider* speaker = Bar().SpeakerSlider();
    EXPECT_TRUE(mic->isEnabled());
    EXPECT_EQ(mic->maximum(), 100);
    EXPECT_EQ(mic->value(), 100 - 40000 / 655);
    EXPECT_TRUE(speaker->isEnabled());
    EXPECT_EQ(speaker->value(), 80);
    EXPECT_EQ(Session().Mixer().AgcStepSize, 655);
    EXPECT_FALSE(Session().Mixer().SoftwareGainActive());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();

    mic->setValue(20); // dragged: the control follows with the balance kept
    EXPECT_EQ(Input.Raw, (std::vector<long>{80 * 655, 40 * 655}));
    speaker->setValue(50);
    EXPECT_EQ(Output.Raw, (std::vector<long>{50 * 655, 50 * 655}));

    QTest::qWait(2 * CMixerFader::EchoWindowMs); // past the echo of our own write
    Input.ChangeElsewhere({65535, 65535});
    EXPECT_TRUE(WaitFor([&] { return mic->value() == 0; }, 2000)) << mic->value();
    Output.ChangeElsewhere({0, 0});
    EXPECT_TRUE(WaitFor([&] { return speaker->value() == 100; }, 2000)) << speaker->value();
}

TEST_F(MixerBarUi, InputFailureIsToldOnceHidesAlcAndSwitchesItOff) {
    Input.Opens = false;
    View().Core().Settings.AGC = 1;
    Restart();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_EQ(Messages[0], InputFailure + QStringLiteral("Could not open mixer device\r\n"));
    EXPECT_EQ(Agc(), 0);
    EXPECT_TRUE(Bar().AlcBox()->isHidden());
    EXPECT_FALSE(Bar().MicrophoneSlider()->isEnabled());
    EXPECT_EQ(Session().Mixer().AgcStepSize, 0);
    Bar().AlcBox()->click();
    EXPECT_EQ(Agc(), 0) << "no ALC while the fader has failed";
    View().repaint();
    EXPECT_EQ(View().Display.FaderDiagnosticText, "Could not open mixer device\r\n");

    Restart();
    EXPECT_EQ(Messages.size(), 1) << "not again while it stays failed";
    Input.Opens = true;
    Restart();
    EXPECT_TRUE(Bar().AlcBox()->isVisible());
    Bar().AlcBox()->click();
    EXPECT_EQ(Agc(), 1);
    EXPECT_TRUE(Bar().AlcBox()->isChecked());
    Input.Opens = false;
    Restart();
    EXPECT_EQ(Messages.size(), 2) << "a new failure is told again";
    EXPECT_EQ(Agc(), 0);
}

TEST_F(MixerBarUi, SpeakerFailureIsToldOnceAndLeavesItsSliderDisabled) {
    Output.Opens = false;
    Restart();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_EQ(Messages[0], SpeakerFailure + QStringLiteral("Could not open mixer device\r\n"));
    EXPECT_FALSE(Bar().SpeakerSlider()->isEnabled());
    EXPECT_TRUE(Session().Mixer().SpeakerFaderFailed());
    Restart();
    EXPECT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Bar().MicrophoneSlider()->isEnabled());

    Output.Opens = true;
    Output.HasDestination = false; // an output without Master, Speaker or Headphone
    Restart();
    EXPECT_EQ(Messages.size(), 1) << "nothing to bind is no failure";
    EXPECT_FALSE(Session().Mixer().SpeakerFaderFailed());
    EXPECT_FALSE(Bar().SpeakerSlider()->isEnabled());
    EXPECT_EQ(Session().Mixer().SpeakerFader().DiagnosticText(),
              "Warning: the destination line was not found.\r\n");
}

TEST_F(MixerBarUi, WithNothingToBindAlcWorksOnTheSoftwareGain) {
    Input.HasSource = false; // a sound server's source or a USB microphone without a volume
    Source.Signal = WatchAt(0.05, 20);
    Source.Speed = 4;
    Restart();
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();
    EXPECT_TRUE(Session().Mixer().SoftwareGainActive());
    EXPECT_TRUE(Bar().AlcBox()->isVisible());
    EXPECT_FALSE(Bar().MicrophoneSlider()->isEnabled());
    EXPECT_EQ(Session().Mixer().AgcStepSize, 655);
    Bar().AlcBox()->click();
    ASSERT_EQ(Agc(), 1);
    auto gain = [&] {
        const auto lock = View().Core().HoldAnalysis();
        return View().Core().InputGain;
    };
    EXPECT_TRUE(WaitFor([&] { return gain() > 1.2; }, 10000)) << gain();
}

TEST_F(MixerBarUi, AlcMovesTheRealFaderUpOnQuietTicksAndDownOnClipping) {
    Input.Raw = {20000, 20000};
    Source.Signal = WatchAt(0.05, 10);
    Source.Speed = 4;
    View().Core().Settings.AGC = 1;
    Restart();
    const int start = Bar().MicrophoneSlider()->value();
    EXPECT_TRUE(WaitFor([&] { return Input.Raw[0] >= 20000 + 3 * 655; }, 10000)) << Input.Raw[0];
    EXPECT_LT(Bar().MicrophoneSlider()->value(), start) << "louder is higher up";
    EXPECT_EQ(Session().Mixer().InputLevel, Session().Mixer().MicrophoneFader().Level());

    Source.Signal.assign(48000 * 10, 0);
    for (size_t i = 0; i < Source.Signal.size(); i += 4800) // a click every 0.1 s, hard clipped
        for (size_t k = 0; k < 400; ++k)
            Source.Signal[i + k] = (k / 20) % 2 ? 32767 : -32768;
    const long high = Input.Raw[0];
    Restart();
    EXPECT_TRUE(WaitFor([&] { return Input.Raw[0] < high - 3 * 655; }, 10000)) << Input.Raw[0];
}

TEST_F(MixerBarUi, BoostStepsBy3dBWithinItsLimits) {
    for (int i = 0; i < 8; ++i)
        Bar().RaiseButton()->click();
    EXPECT_NEAR(View().Core().Settings.AudioScale, 16.0, 1e-9);
    EXPECT_EQ(Bar().ExtraGainLabel()->text(), QStringLiteral("+24.1"));
    for (int i = 0; i < 8; ++i)
        Bar().RaiseButton()->click();
    EXPECT_EQ(View().Core().Settings.AudioScale, 128.0);
    EXPECT_EQ(Bar().ExtraGainLabel()->text(), QStringLiteral("+42.1"));
    for (int i = 0; i < 30; ++i)
        Bar().LowerButton()->click();
    EXPECT_EQ(View().Core().Settings.AudioScale, 0.25);
    EXPECT_EQ(Bar().ExtraGainLabel()->text(), QStringLiteral("-12.0"));
}

TEST_F(MixerBarUi, MuteWorksOnlyWithDuplexAudio) {
    Restart();
    EXPECT_TRUE(Bar().MuteBox()->isVisible());
    Bar().MuteBox()->click();
    EXPECT_TRUE(Session().MonitorOutput().Muted());
    EXPECT_TRUE(Bar().MuteBox()->isChecked());
    Bar().MuteBox()->click();
    EXPECT_FALSE(Session().MonitorOutput().Muted());
    Bar().MuteBox()->click();

    View().Core().Settings.DuplexAudio = 0;
    Restart();
    EXPECT_TRUE(Bar().MuteBox()->isHidden());
    EXPECT_FALSE(Session().MonitorOutput().Muted()) << "forced off without duplex audio";
    Session().Mixer().ToggleMute();
    EXPECT_FALSE(Session().MonitorOutput().Muted());
    EXPECT_FALSE(Bar().SpeakerSlider()->isEnabled());
}

} // namespace
} // namespace kv
