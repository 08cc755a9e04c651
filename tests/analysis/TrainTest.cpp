// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "CoreHarness.h"

namespace kv {
namespace {

double PeriodOf(const std::string& text) {
    TrainText t = ParseTrainText(text);
    return t.Kind == TrainTextKind::Period ? t.Period : -1.0;
}

TEST(TrainText, UnitsAndSpellings) {
    for (const char* text : {"18000", "18000 vph", "18000 VPH", "18000vph", " 18000 Vph "})
        EXPECT_DOUBLE_EQ(PeriodOf(text), 0.2) << text;
    EXPECT_DOUBLE_EQ(PeriodOf("2.5 Hz"), 0.2);
    EXPECT_DOUBLE_EQ(PeriodOf("300 Hz"), 1.0 / 300);
    EXPECT_DOUBLE_EQ(PeriodOf("99 Hz"), 0.5 / 99);
    EXPECT_DOUBLE_EQ(PeriodOf("2.5 cps"), 0.2);
    EXPECT_DOUBLE_EQ(PeriodOf("5 vps"), 0.2);
    EXPECT_DOUBLE_EQ(PeriodOf("300 vpm"), 0.2);
    EXPECT_DOUBLE_EQ(PeriodOf("1 sec"), 1.0);
    EXPECT_DOUBLE_EQ(PeriodOf("0.5 min"), 30.0);
    EXPECT_DOUBLE_EQ(PeriodOf("21600 auto"), 3600.0 / 21600);
}

TEST(TrainText, RefusesPeriodsOutsideRangeAndNonsense) {
    for (const char* text : {"2 min", "0.5 vph", "4000000 vph", "abc", "-18000", "0 Hz", "vph",
                             "0x4650 vph", "inf sec", "nan"})
        EXPECT_EQ(ParseTrainText(text).Kind, TrainTextKind::Rejected) << text;
    EXPECT_EQ(ParseTrainText("18").Kind, TrainTextKind::TooShort);
    EXPECT_EQ(ParseTrainText("auto").Kind, TrainTextKind::StartAuto);
    EXPECT_EQ(ParseTrainText("TAUTO").Kind, TrainTextKind::StepAuto);
}

TEST(TrainText, FormatsBackByRange) {
    EXPECT_EQ(FormatTrain(1.0), "3600 vph");
    EXPECT_EQ(FormatTrain(0.2), "18000 vph");
    EXPECT_EQ(FormatTrain(1.5), "1.5 sec");
    EXPECT_EQ(FormatTrain(3600.0 / 19800), "19800 vph");
    EXPECT_EQ(FormatTrain(1.0 / 360), "360 Hz");
    EXPECT_EQ(FormatTrain(0.1), "36000 vph");
}

// Every train the analysis accepts, written as text and read back, is the same train; a frequency
// between 47.6 and 100 Hz would read back as an oscillation and halve the period.
TEST(TrainText, FormattedTrainsParseToTheirPeriod) {
    EXPECT_EQ(FormatTrain(0.02), "180000 vph");
    EXPECT_EQ(FormatTrain(ParseTrainText("30Hz").Period), "216000 vph");
    EXPECT_EQ(FormatTrain(0.01), "100 Hz");
    // Periods that six digits carry across the edge of their unit's range.
    EXPECT_EQ(FormatTrain(1.0 / 99.99993), "100 Hz");
    EXPECT_EQ(FormatTrain(1.0000001), "3600 vph");
    for (double period = 0.001; period <= 60.0; period *= 1.01) {
        const std::string text = FormatTrain(period);
        const TrainText back = ParseTrainText(text);
        ASSERT_EQ(back.Kind, TrainTextKind::Period) << text;
        EXPECT_NEAR(back.Period, period, 1e-5 * period) << text;
        EXPECT_EQ(FormatTrain(back.Period), text);
    }
}

TEST(MeasuringTimeText, UnitsAndLowerBound) {
    EXPECT_FALSE(ParseMeasuringTime("", 0.2, 0.3));
    EXPECT_DOUBLE_EQ(*ParseMeasuringTime("8.0", 0.2, 0.3), 8.0);
    EXPECT_DOUBLE_EQ(*ParseMeasuringTime("2 min", 0.2, 0.3), 120.0);
    EXPECT_DOUBLE_EQ(*ParseMeasuringTime("1 Hour", 0.2, 0.3), 3600.0);
    EXPECT_DOUBLE_EQ(*ParseMeasuringTime("12 seconds", 0.2, 0.3), 12.0);
    EXPECT_DOUBLE_EQ(*ParseMeasuringTime("0.1", 0.2, 0.3), 0.4);
    EXPECT_DOUBLE_EQ(*ParseMeasuringTime("nan", 0.2, 0.3), 0.4);
    EXPECT_DOUBLE_EQ(*ParseMeasuringTime("inf", 0.2, 0.3), 0.4);
    EXPECT_EQ(*ParseMeasuringTime("1e308 hour", 0.2, 0.3), MaxMeasuringTime);
    EXPECT_EQ(*ParseMeasuringTime("27 hour", 0.2, 0.3), 27 * 3600.0);
}

TEST(DerivedConstants, BeatLayoutRules) {
    EXPECT_EQ(BuffersPerBeatFor(0.25), 1);
    EXPECT_EQ(BuffersPerBeatFor(0.5), 2);
    EXPECT_EQ(BuffersPerBeatFor(1.0), 4);
    EXPECT_EQ(BeatsPerBufferFor(0.003333), 30);
    EXPECT_EQ(BeatsPerBufferFor(0.022), 1);
    EXPECT_EQ(BeatsPerBufferFor(0.2), 1);
    EXPECT_DOUBLE_EQ(MinMeasureIntervalFor(0.2), 0.30000000000000004);
    EXPECT_DOUBLE_EQ(MinMeasureIntervalFor(0.01), 0.095);
    EXPECT_EQ(CaptureBufferCountFor(0.2, 2), 20);
    EXPECT_EQ(CaptureBufferCountFor(0.1, 2), 40);
    EXPECT_EQ(CaptureBufferCountFor(1.0, 2), 16);
    EXPECT_EQ(CaptureBufferCountFor(10.0, 2), 16);
    EXPECT_EQ(CaptureBufferCountFor(0.2, 30), 30);
}

TEST(DerivedConstants, SampleConstantsAt96kHz) {
    test::CoreHarness h;
    h.Core.Settings.SampleRate = 96000;
    h.Core.SetBeatPeriod(0.2);
    const DerivedConstants& d = h.Core.Derived;
    EXPECT_DOUBLE_EQ(d.SamplesPerBeat, 19200.0);
    EXPECT_EQ(d.MuteSamples, 17280);
    EXPECT_EQ(d.PreSilenceSamples, 192);
    EXPECT_EQ(d.CaptureBufferCount, 20);
    EXPECT_EQ(d.LiftSamplesMin, 964);
    EXPECT_EQ(d.LiftSamplesMax, 5478);
    EXPECT_EQ(d.DatumSamples, 9600);
    EXPECT_EQ(h.Core.Detector.TickEnvelope.size(), 5479u);
}

TEST(DerivedConstants, CalibrationFactorScalesSamplesPerBeat) {
    test::CoreHarness h;
    h.Core.Settings.SampleRate = 48000;
    h.Core.Settings.Cal.CalFactor48 = 1.0001;
    h.Core.SetBeatPeriod(0.2);
    EXPECT_NEAR(h.Core.Derived.SamplesPerBeat, 9600.96, 1e-9);
}

TEST(TrainCommands, ShortTextRestoresCurrentTrain) {
    test::CoreHarness h;
    h.Core.Params.TickInterval = "21";
    EXPECT_FALSE(h.Core.ParseTrain("21"));
    EXPECT_EQ(h.Core.Params.TickInterval, "18000 vph");
    EXPECT_EQ(h.TrainBoxRefreshes, 1);
}

TEST(TrainCommands, RefusedTrainChangesNothing) {
    test::CoreHarness h;
    h.Start(48000, "21600 vph");
    EXPECT_FALSE(h.Core.ParseTrain("4000000 vph"));
    EXPECT_DOUBLE_EQ(h.Core.Derived.BeatPeriod, 3600.0 / 21600);
    EXPECT_EQ(h.Stops, 0);
}

TEST(TrainCommands, TrainChangeWhileRunningRestartsAndResets) {
    test::CoreHarness h;
    h.Start(48000);
    h.Core.Measurement.MeasuredTime = 12.0;
    EXPECT_TRUE(h.Core.ParseTrain("28800"));
    EXPECT_EQ(h.Stops, 1);
    EXPECT_EQ(h.Starts, 2);
    EXPECT_TRUE(h.Core.Measurement.Running);
    EXPECT_DOUBLE_EQ(h.Core.Derived.BeatPeriod, 0.125);
    EXPECT_DOUBLE_EQ(h.Core.Measurement.MeasuredTime, 0.0);
}

TEST(TrainCommands, NoChangeDuringLocalCalibration) {
    test::CoreHarness h;
    h.Core.LocalStandardRun = true;
    EXPECT_TRUE(h.Core.ParseTrain("28800"));
    EXPECT_DOUBLE_EQ(h.Core.Derived.BeatPeriod, 0.2);
}

TEST(TrainCommands, LongPeriodRaisesMeasuringTime) {
    test::CoreHarness h;
    h.Core.ParseTrain("5 sec");
    EXPECT_DOUBLE_EQ(h.Core.Params.MeasuringTime, 10.0);
    EXPECT_EQ(h.MeasuringTimeBoxRefreshes, 1);
}

TEST(TrainCommands, ForkModeEntersAndLeaves) {
    test::CoreHarness h;
    h.Core.Trace.Zoom = 5.0;
    h.Core.ParseTrain("300 Hz");
    EXPECT_EQ(h.Core.Params.Escapement(), EscapementType::TuningFork);
    EXPECT_DOUBLE_EQ(h.Core.Settings.Zoom, 0.25);
    EXPECT_DOUBLE_EQ(h.Core.Trace.Zoom, 0.5);
    EXPECT_EQ(h.Core.Derived.BeatsPerBuffer, 30);

    h.Core.SelectEscapement(EscapementType::Lever);
    EXPECT_DOUBLE_EQ(h.Core.Derived.BeatPeriod, 0.125);
    EXPECT_EQ(h.Core.Params.TickInterval, "28800 VPH");
    EXPECT_EQ(h.Core.Params.Escapement(), EscapementType::Lever);
    EXPECT_DOUBLE_EQ(h.Core.Settings.Zoom, 1.0);

    h.Core.SelectEscapement(EscapementType::Pendulum);
    EXPECT_EQ(h.Core.Params.Escapement(), EscapementType::Pendulum);
    EXPECT_DOUBLE_EQ(h.Core.Derived.BeatPeriod, 0.125);
}

TEST(TrainCommands, LiftAngleIsClampedAndThresholdStepsBounded) {
    test::CoreHarness h;
    h.Core.SetLiftAngle("150");
    EXPECT_DOUBLE_EQ(h.Core.Params.LiftAngle, 100.0);
    h.Core.SetLiftAngle("5");
    EXPECT_DOUBLE_EQ(h.Core.Params.LiftAngle, 20.0);
    h.Core.Params.UnlockThreshold = 32700;
    h.Core.RaiseUnlockThreshold();
    EXPECT_EQ(h.Core.Params.UnlockThreshold, 32767);
    h.Core.Params.UnlockThreshold = 200;
    h.Core.LowerUnlockThreshold();
    EXPECT_EQ(h.Core.Params.UnlockThreshold, 1);
}

TEST(TrainCommands, ABlankLiftAngleTextIsIgnored) {
    test::CoreHarness h;
    h.Core.Params.LiftAngle = 48.0;
    EXPECT_FALSE(h.Core.SetLiftAngle(""));
    EXPECT_FALSE(h.Core.SetLiftAngle(" \t "));
    EXPECT_EQ(h.Core.Params.LiftAngle, 48.0);
    EXPECT_TRUE(h.Core.SetLiftAngle("no number")) << "a text without a number reads as 0";
    EXPECT_EQ(h.Core.Params.LiftAngle, 20.0);
}

} // namespace
} // namespace kv
