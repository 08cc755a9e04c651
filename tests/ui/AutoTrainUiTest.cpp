// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic train detection in the running program: the frame measures a synthetic watch from a
// test capture device, the settings bar's Train button starts the detection, and its steps run
// on the view's timer 102 in wall-clock time. The watch is played faster than real time so that
// each step has heard enough beats.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <cstdlib>

#include "FreshHomeFrame.h"
#include "PumpEvents.h"
#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "ui/app/MainFrame.h"
#include "ui/bars/SettingsBar.h"

namespace kv {
namespace {

// The program's own prompt, kept word for word (the space after the line break included).
constexpr const char* DetectionPrompt =
    "Attempting train detection.\r\n Press 'Train' button again to abandon";

using test::WaitFor;

// A data folder of our own, so that no waveform file of the user's is played at start.
struct AutoTrainUi : test::FreshHomeFrame {
    AutoTrainUi() : FreshHomeFrame("kv-autotrain-") {}

    void SetUp() override {
        FreshHomeFrame::SetUp();
        View().Hooks.MessageSink = [](const QString& m) { ADD_FAILURE() << m.toStdString(); };
        ASSERT_FALSE(View().Session().WaveformState().Playing());
    }

    AnalysisCore& Core() { return View().Core(); }

    // Measures `signal` with the train "18000 vph" selected in the settings bar.
    void Measure(std::vector<int16_t> signal, unsigned sampleRate, double speed) {
        Source.Signal = std::move(signal);
        Source.Speed = speed;
        Core().Settings.SampleRate = sampleRate;
        Core().Settings.Centre = 0;
        // No monitor output: the test speaker plays in real time, and closing it at every trial
        // train would wait for the sped-up sound it was given.
        Core().Settings.DuplexAudio = 0;
        Frame->Settings().TrainBox()->setEditText("18000 vph");
        Frame->Settings().ApplyTypedTexts();
        View().Session().Run();
        ASSERT_TRUE(View().Session().IsRunning());
    }

    // Clicks the settings bar's Train button.
    void PressTrain() {
        for (QPushButton* b : Frame->Settings().findChildren<QPushButton*>())
            if (b->text() == "Train") return b->click();
        FAIL() << "no Train button";
    }

    bool Detecting() {
        const auto lock = Core().HoldAnalysis();
        return Core().AutoTrainActive;
    }
    std::string Train() {
        const auto lock = Core().HoldAnalysis();
        return Core().Params.TickInterval;
    }
    std::string Prompt() {
        const auto lock = Core().HoldAnalysis();
        return Core().PromptText;
    }
    double BeatPeriod() {
        const auto lock = Core().HoldAnalysis();
        return Core().Derived.BeatPeriod;
    }
    std::string TrainBoxText() { return Frame->Settings().TrainBox()->currentText().toStdString(); }

    // Waits until the detection ends, noting each train it tried.
    std::vector<std::string> TrainsTried(int timeoutMs) {
        std::vector<std::string> trains;
        WaitFor(
            [&] {
                const std::string t = Train();
                if (trains.empty() || trains.back() != t) trains.push_back(t);
                return !Detecting();
            },
            timeoutMs);
        return trains;
    }
};

std::vector<int16_t> LeverWatch(double beatsPerHour, double seconds) {
    synth::SynthOptions o;
    o.BeatsPerHour = beatsPerHour;
    o.RateSecondsPerDay = 6.0;
    o.Seconds = seconds;
    return synth::Synthesize(o).Samples;
}

TEST_F(AutoTrainUi, FindsTheTrainOfStandardWatchesAtTheFirstEvaluation) {
    for (double bph : {21600.0, 25200.0, 28800.0}) {
        SCOPED_TRACE(bph);
        Measure(LeverWatch(bph, 60), 48000, 4.0);
        PressTrain();
        EXPECT_TRUE(Detecting());
        EXPECT_EQ(Train(), "36000 vph");
        EXPECT_EQ(Prompt(), DetectionPrompt);
        EXPECT_EQ(View().Timers().Interval(TimerTrainDetect), 600);

        const std::vector<std::string> tried = TrainsTried(5000);
        ASSERT_FALSE(Detecting());
        const std::string expected = std::to_string(static_cast<int>(bph)) + " vph";
        EXPECT_EQ(tried, (std::vector<std::string>{"36000 vph", expected}));
        EXPECT_NEAR(BeatPeriod(), 3600.0 / bph, 1e-12);
        EXPECT_EQ(TrainBoxText(), expected);
        EXPECT_TRUE(View().Session().IsRunning());
        EXPECT_EQ(Prompt(), "");
        EXPECT_FALSE(View().Timers().IsActive(TimerTrainDetect));
        View().Session().Run();
    }
}

TEST_F(AutoTrainUi, TheDetectedTrainMeasuresTheWatch) {
    Measure(LeverWatch(28800, 120), 48000, 8.0);
    PressTrain();
    ASSERT_TRUE(WaitFor([&] { return !Detecting(); }, 5000));
    ASSERT_EQ(Train(), "28800 vph");
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto lock = Core().HoldAnalysis();
            return Core().Measurement.RateWindowFull;
        },
        10000));
    const auto lock = Core().HoldAnalysis();
    EXPECT_NEAR(Core().Measurement.Rate * 86400.0, 6.0, 1.0);
}

// 2400 beats per hour (1.5 s): no standard train. Every train down to 3600 vph is tried, each
// for six of its beats, which takes about 31 s of wall-clock time whatever the speed.
TEST_F(AutoTrainUi, ASignalWithoutAStandardRateIsGivenUpAndThePreviousTrainReturns) {
    synth::SynthOptions o = synth::DefaultOptions(synth::Movement::Pendulum);
    o.BeatsPerHour = 2400;
    o.SampleRate = 22050;
    o.Seconds = 60;
    Measure(synth::Synthesize(o).Samples, 22050, 16.0);
    PressTrain();
    const std::vector<std::string> tried = TrainsTried(45000);
    ASSERT_FALSE(Detecting());

    std::vector<std::string> expected;
    for (int i = 20; i >= 2; --i)
        expected.push_back(std::to_string(1800 * i) + " vph");
    expected.push_back("18000 vph");
    EXPECT_EQ(tried, expected);
    EXPECT_NEAR(BeatPeriod(), 0.2, 1e-12);
    EXPECT_EQ(TrainBoxText(), "18000 vph");
    EXPECT_TRUE(View().Session().IsRunning());
    EXPECT_EQ(Prompt(), DetectionPrompt) << "the prompt stays until the next Run";
    EXPECT_FALSE(View().Timers().IsActive(TimerTrainDetect));
}

TEST_F(AutoTrainUi, ASecondPressAbandonsTheDetection) {
    Measure(LeverWatch(21600, 60), 48000, 4.0);
    PressTrain();
    ASSERT_TRUE(Detecting());
    PressTrain();
    EXPECT_FALSE(Detecting());
    EXPECT_FALSE(View().Timers().IsActive(TimerTrainDetect));
    EXPECT_TRUE(View().Session().IsRunning());
    EXPECT_EQ(Train(), TrainBoxText()) << "the train shown in the box is applied";
    const std::string train = Train();
    QTest::qWait(1500); // past the time of the first detection step
    EXPECT_EQ(Train(), train) << "no step runs any more";
    EXPECT_FALSE(Detecting());
}

// Abandoning re-applies the train box, which restarts the measurement with the detection flag
// clear, so the detection prompt goes away. The settings bar skips a train text equal to the
// current one, so no restart happens and the prompt stays: enable once that is fixed.
TEST_F(AutoTrainUi, AbandoningClearsTheDetectionPrompt) {
    Measure(LeverWatch(21600, 60), 48000, 4.0);
    PressTrain();
    ASSERT_EQ(Prompt(), DetectionPrompt);
    PressTrain();
    ASSERT_FALSE(Detecting());
    EXPECT_EQ(Prompt(), "");
}

// An empty lift-angle box is ignored, as an empty train box is: neither Enter nor abandoning the
// detection (which applies the boxes again) sets a lift angle from it.
TEST_F(AutoTrainUi, AnEmptyLiftAngleBoxLeavesTheLiftAngle) {
    Measure(LeverWatch(21600, 60), 48000, 4.0);
    Core().Params.LiftAngle = 48.0;
    Frame->Settings().LiftBox()->setEditText("");
    Frame->Settings().ApplyTypedTexts();
    EXPECT_EQ(Core().Params.LiftAngle, 48.0);
    PressTrain();
    ASSERT_TRUE(Detecting());
    Frame->Settings().LiftBox()->setEditText(" ");
    PressTrain();
    ASSERT_FALSE(Detecting());
    EXPECT_EQ(Core().Params.LiftAngle, 48.0);
    Frame->Settings().LiftBox()->setEditText("52.5");
    Frame->Settings().ApplyTypedTexts();
    EXPECT_EQ(Core().Params.LiftAngle, 52.5);
}

TEST_F(AutoTrainUi, TheTrainButtonDoesNothingForATuningFork) {
    Measure(LeverWatch(21600, 20), 48000, 1.0);
    Frame->Settings().TrainBox()->setEditText("300 Hz");
    Frame->Settings().ApplyTypedTexts();
    ASSERT_EQ(Core().Params.Escapement(), EscapementType::TuningFork);
    PressTrain();
    EXPECT_FALSE(Detecting());
    EXPECT_EQ(Train(), "300 Hz");
    EXPECT_FALSE(View().Timers().IsActive(TimerTrainDetect));
}

} // namespace
} // namespace kv
