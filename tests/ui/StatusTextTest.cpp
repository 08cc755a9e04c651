// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>

#include "../text/GermanLocale.h"
#include "ui/bars/SettingsBar.h"
#include "ui/view/StatusText.h"

namespace kv {
namespace {

// On a German desktop QApplication sets a locale with a decimal comma; the texts keep the point.
TEST(StatusRows, NumbersKeepTheDecimalPointUnderAGermanLocale) {
    test::GermanLocale german;
    ASSERT_TRUE(german.Active());
    EXPECT_EQ(DatumOffsetText(0.0012), "  +1.20 ms to datum");
    EXPECT_EQ(BeatErrorText(0.006, 0.2, false, true, false), "Beat error 1.20 ms (0.60%)");
    EXPECT_EQ(LiftBoxText(52.5).toStdString(), "52.5 \u00b0");
    EXPECT_EQ(MeasuringTimeBoxText(12.5).toStdString(), "12.50 sec");
}

TEST(StatusRows, SignalNoiseRowAndItsPoorThreshold) {
    EXPECT_EQ(SignalNoiseText(100.0, 48000), "Signal/Noise 40.0 dB, sample rate 48000");
    EXPECT_EQ(SignalNoiseText(31.6, 96000), "Signal/Noise 30.0 dB, sample rate 96000");
    EXPECT_TRUE(PoorSignal(31.59));
    EXPECT_TRUE(PoorSignal(0.001));
    EXPECT_FALSE(PoorSignal(31.6));
    EXPECT_FALSE(PoorSignal(1000.0));
}

TEST(StatusRows, FilterRowNamesTheBandpassInForkMode) {
    EXPECT_EQ(FilterText(true, false), "High-pass filter ON");
    EXPECT_EQ(FilterText(true, true), "Bandpass filter ON");
    EXPECT_EQ(FilterText(false, false), "Filter OFF");
    EXPECT_EQ(FilterText(false, true), "Filter OFF");
}

TEST(StatusRows, DatumOffsetSwitchesToSecondsAtOnePointTwo) {
    EXPECT_EQ(DatumOffsetText(-0.0123), " -12.30 ms to datum");
    EXPECT_EQ(DatumOffsetText(1.19), "+1190.00 ms to datum");
    EXPECT_EQ(DatumOffsetText(1.2), "   +1.200 sec to datum");
    EXPECT_EQ(DatumOffsetText(-1.2), "   -1.200 sec to datum");
    EXPECT_EQ(DatumOffsetText(12.3456), "  +12.346 sec to datum");
}

TEST(StatusRows, AllanRowAccumulatesBelowTwoSamples) {
    EXPECT_EQ(AllanText(0.0, 10.0, 0), "Allen deviation accumulating. Tau 10.00 secs, N=0");
    EXPECT_EQ(AllanText(5e-6, 10.0, 1), "Allen deviation accumulating. Tau 10.00 secs, N=1");
    EXPECT_EQ(AllanText(1.234e-6, 2.5, 5), "Allen deviation 1.23e-06 Tau 2.50 secs, N=5");
}

TEST(StatusRows, DeviationRowSwitchesToSecondsAtOneSecond) {
    EXPECT_EQ(DeviationText(0.0125, 3725.5, 12345), "Deviation +12.500 ms in 1:2:5.5, 12345 ticks");
    EXPECT_EQ(DeviationText(-0.999, 59.94, 7), "Deviation -999.000 ms in 0:0:59.9, 7 ticks");
    EXPECT_EQ(DeviationText(-1.0, 0.0, 7), "Deviation -1.000 secs in 0:0:0.0, 7 ticks");
    EXPECT_EQ(DeviationText(2.5, 7200.0, 5000000000LL),
              "Deviation +2.500 secs in 2:0:0.0, 5000000000 ticks");
}

TEST(StatusRows, AccumulatedRateInSecondsPerDay) {
    EXPECT_EQ(AccumulatedRateText(5.0 / 86400.0, 90.0), "Accumulated rate +5.00 s/d over 0:1:30.0");
    EXPECT_EQ(AccumulatedRateText(-12.347 / 86400.0, 36061.3),
              "Accumulated rate -12.35 s/d over 10:1:1.3");
    EXPECT_EQ(AccumulatedRateText(0.0, 0.0), ""); // before the first interval: blank, not +0.00
}

TEST(StatusRows, FeedRowShowsCompressedAndExpandedFeeds) {
    EXPECT_EQ(FeedText(1.0, 0.5, 100), "Magnification x 1, Zoom x 0.5, Tape feed rate 1:100");
    EXPECT_EQ(FeedText(2.0, 5.0, -10), "Magnification x 2, Zoom x 5, Tape feed rate 10");
    EXPECT_EQ(FeedText(0.25, 10.0, 1), "Magnification x 0.25, Zoom x 10, Tape feed rate 1:1");
}

TEST(StatusRows, LiftAngleRowOnlyForLeverAndCoaxial) {
    EXPECT_EQ(LiftAngleText(52.0, EscapementType::Lever), "Lift angle  52.0\u00b0 (lever)");
    EXPECT_EQ(LiftAngleText(38.5, EscapementType::Coaxial1), "Lift angle  38.5\u00b0 (coaxial)");
    EXPECT_EQ(LiftAngleText(38.5, EscapementType::Coaxial2), "Lift angle  38.5\u00b0 (coaxial)");
    EXPECT_EQ(LiftAngleText(52.0, EscapementType::AP1), "");
    EXPECT_EQ(LiftAngleText(52.0, EscapementType::Pendulum), "");
}

TEST(StatusRows, TrainRowLeavesOutTheActualValueAtRateExactlyZero) {
    EXPECT_EQ(TrainLineText(0.2, 0.0, false), "Train (nominal)  18000.0 vph");
    EXPECT_EQ(TrainLineText(0.2, 1e-4, false),
              "Train (nominal)  18000.0 vph (actual)  18001.8 vph");
    EXPECT_EQ(TrainLineText(0.2, -1e-12, false),
              "Train (nominal)  18000.0 vph (actual)  18000.0 vph");
    EXPECT_EQ(TrainLineText(1.0 / 300.0, 0.0, true), "Fork freq (nominal) 300 Hz");
    EXPECT_EQ(TrainLineText(1.0 / 300.0, 1e-3, true),
              "Fork freq (nominal) 300 Hz (actual) 300.3 Hz");
}

TEST(StatusRows, ProfileRow) {
    EXPECT_EQ(ProfileText("Bench 2"), "Profile: Bench 2");
    EXPECT_EQ(ProfileText(""), "Profile: <none>");
}

TEST(StatusRows, MeasuredTimeOutsideAndDuringAPositionalRun) {
    MeasuredTimeInputs in;
    in.MeasuringTime = 8.0;
    EXPECT_EQ(MeasuredTimeText(in), "Accumulating rate");
    in.HistoryEmpty = false;
    in.HistorySpan = 5.5;
    EXPECT_EQ(MeasuredTimeText(in), "Measured time 5.50 of 8.00 secs");
    in.HistorySpan = 9.0;
    EXPECT_EQ(MeasuredTimeText(in), "Measured time 8.00 of 8.00 secs");

    in.Position = 2;
    in.MeasuredTime = 40.0;
    in.PreviousPositionEnd = 20.0;
    in.Stabilization = 4.0;
    in.PositionAveragingTime = 12.0;
    in.PositionCode = "PL";
    EXPECT_EQ(MeasuredTimeText(in), "Measured time 16.00 of 12.00 secs in position 2 (PL)");
    in.MeasuredTime = 21.0; // 1 s into the 4 s of settling
    EXPECT_EQ(MeasuredTimeText(in), "Measured time 0.00 of 12.00 secs in position 2 (PL)");
}

TEST(StatusRows, PositionCodesFromTheSequence) {
    EXPECT_EQ(PositionCode("PD-PL-PU-DD-DU-PR", 1), "PD");
    EXPECT_EQ(PositionCode("PD-PL-PU-DD-DU-PR", 6), "PR");
    EXPECT_EQ(PositionCode("PD-PL-PU-DD-DU-PR", 7), "");
    EXPECT_EQ(PositionCode("PD-PL-PU-DD-DU-PR", 0), "");
    EXPECT_EQ(PositionCode(" pd pl,pu ", 3), "PU");
    EXPECT_EQ(PositionCode(" pd pl,pu ", 4), "");
}

// --- Readouts ---

RateReadoutInputs Automatic(double ns, bool full, bool averaging) {
    RateReadoutInputs in;
    in.Rate = 3.7 / 86400.0;
    in.WindowSamples = ns;
    in.WindowFull = full;
    in.Averaging = averaging;
    return in;
}

TEST(RateReadout, FortyEightKilohertzAndEightSecondsUseTheMiddlePrecision) {
    const double ns = 48000.0 * 8.0;
    EXPECT_EQ(RateReadoutText(Automatic(ns, true, false)).Text, "Rate   +3.7 s/d");
    EXPECT_FALSE(RateReadoutText(Automatic(ns, true, false)).Orange);
    EXPECT_EQ(RateReadoutText(Automatic(ns, true, true)).Text, "Rate (av)  +3.70 s/d");
    const RateReadout filling = RateReadoutText(Automatic(ns, false, true));
    EXPECT_EQ(filling.Text, "Rate     +4 s/d");
    EXPECT_TRUE(filling.Orange);
}

TEST(RateReadout, PrecisionFollowsTheWindowSizeBoundaries) {
    EXPECT_EQ(RateReadoutText(Automatic(1728000.0, true, false)).Text, "Rate  +3.70 s/d");
    EXPECT_EQ(RateReadoutText(Automatic(1728000.0, true, true)).Text, "Rate (av) +3.700 s/d");
    EXPECT_EQ(RateReadoutText(Automatic(1728000.0, false, false)).Text, "Rate   +3.7 s/d");
    EXPECT_EQ(RateReadoutText(Automatic(1727999.0, true, false)).Text, "Rate   +3.7 s/d");
    EXPECT_EQ(RateReadoutText(Automatic(172800.0, true, true)).Text, "Rate (av)  +3.70 s/d");
    EXPECT_EQ(RateReadoutText(Automatic(172799.0, true, false)).Text, "Rate     +4 s/d");
    EXPECT_EQ(RateReadoutText(Automatic(172799.0, true, true)).Text, "Rate (av)   +3.7 s/d");
    EXPECT_EQ(RateReadoutText(Automatic(172799.0, false, true)).Text, "Rate     +4 s/d");
}

TEST(RateReadout, ManualCursorShowsCursorAndRate) {
    RateReadoutInputs in = Automatic(48000.0 * 8.0, false, true);
    in.ManualCursor = true;
    in.CursorRate = 1.5;
    const RateReadout both = RateReadoutText(in);
    EXPECT_EQ(both.Text, "Cursor  +1.50 s/d. Rate (av)  +3.70 s/d");
    EXPECT_FALSE(both.Orange); // the cursor readout is blue whether or not the window is full
    in.Averaging = false;
    EXPECT_EQ(RateReadoutText(in).Text, "Cursor  +1.50 s/d. Rate   +3.7 s/d");
    in.WindowSamples = 2e6;
    EXPECT_EQ(RateReadoutText(in).Text, "Cursor  +1.50 s/d. Rate  +3.70 s/d");
    in.Rate = 0.0;
    EXPECT_EQ(RateReadoutText(in).Text, "Cursor  +1.50 s/d");
}

TEST(RateReadout, CursorRateInvertsTheDiskAngleOfARate) {
    const double g = 1 * 960 * 1.0 * 1;
    const double rate = 25.0 / 86400.0;
    EXPECT_NEAR(CursorRate(-std::atan(rate * g), g), 25.0, 1e-9);
    EXPECT_DOUBLE_EQ(CursorRate(0.0, g), 0.0);
}

TEST(Readouts, AmplitudeOnlyAboveTheLiftAngleAndNotForPendulumOrFork) {
    EXPECT_EQ(AmplitudeText(280.4, 52.0, false, EscapementType::Lever, false),
              "Amplitude 280\u00b0");
    EXPECT_EQ(AmplitudeText(280.44, 52.0, true, EscapementType::Lever, false),
              "Amplitude (av) 280.4\u00b0");
    EXPECT_EQ(AmplitudeText(52.0, 52.0, false, EscapementType::Lever, false), "");
    EXPECT_EQ(AmplitudeText(40.0, 52.0, true, EscapementType::Coaxial1, false), "");
    EXPECT_EQ(AmplitudeText(280.0, 52.0, false, EscapementType::Pendulum, false), "");
    EXPECT_EQ(AmplitudeText(280.0, 52.0, false, EscapementType::TuningFork, true), "");
}

TEST(Readouts, BeatErrorOnlyWhenStableAndNotInForkMode) {
    EXPECT_EQ(BeatErrorText(0.002, 0.2, false, true, false), "Beat error 0.40 ms (0.20%)");
    EXPECT_EQ(BeatErrorText(0.002, 0.2, true, true, false), "Beat error (av) 0.40 ms (0.20%)");
    EXPECT_EQ(BeatErrorText(0.002, 0.2, false, false, false), "");
    EXPECT_EQ(BeatErrorText(0.002, 1.0 / 300.0, false, true, true), "");
}

TEST(Readouts, TopRightPlaybackRecordingOrTitle) {
    const TopRightTexts playing = TopRightText(true, true, "a.wav", 2, "My watch");
    EXPECT_EQ(playing.Line0, "Playing:  a.wav");
    EXPECT_EQ(playing.Line1, "Loop:  3");
    const TopRightTexts recording = TopRightText(false, true, "a.wav", 2, "My watch");
    EXPECT_EQ(recording.Line0, "Recording:  a.wav");
    EXPECT_EQ(recording.Line1, "");
    const TopRightTexts title = TopRightText(false, false, "a.wav", 2, "My watch");
    EXPECT_EQ(title.Line0, "My watch");
    EXPECT_EQ(title.Line1, "");
}

TEST(Readouts, StabilizingLineAndFrozenNotice) {
    EXPECT_EQ(StabilizingText(3, "PU"), "Stabilizing position 3 (PU)");
    EXPECT_STREQ(FrozenNotice, "Waveform frozen, press 'F' to release");
}

TEST(Labels, PromptLinesSplitAtLineEnds) {
    EXPECT_EQ(SplitLines("a\r\nb\r\n"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nc"), (std::vector<std::string>{"a", "", "c"}));
    EXPECT_EQ(SplitLines("one\tcol"), (std::vector<std::string>{"one\tcol"}));
    EXPECT_TRUE(SplitLines("").empty());
}

TEST(Labels, WaveformTapeAndChartLabels) {
    EXPECT_EQ(IntervalLabel(0.0123), "12.30 ms");
    EXPECT_EQ(TapeWidthLabel(0.2, 1.0), " 50.0 ms");
    EXPECT_EQ(TapeWidthLabel(0.2, 0.25), "200.0 ms");
    EXPECT_EQ(ToothNumberLabel(5), " 5");
    EXPECT_EQ(ToothNumberLabel(13), "13");
    EXPECT_EQ(ToothScaleLabel(5.0), "+5.00 ms");
    EXPECT_EQ(ToothScaleLabel(-5.0), "-5.00 ms");
    EXPECT_EQ(UnlockThresholdText(1638), "Unlock threshold 5%");
    EXPECT_EQ(UnlockThresholdText(32767), "Unlock threshold 100%");
    EXPECT_EQ(UnlockThresholdText(0), "Unlock threshold 0%");
    EXPECT_EQ(OverrunText(3), "df 3");
    EXPECT_EQ(UnpaintedText(0), "dp 0");
}

TEST(Labels, ClockTimeIsTheTimeOfDayOfAFileTime) {
    const uint64_t day = 86400ULL * 10000000ULL;
    EXPECT_EQ(ClockTimeText(day * 154000 + 37234560000ULL), "01:02:03.456");
    EXPECT_EQ(ClockTimeText(0), "00:00:00.000");
    EXPECT_EQ(ClockTimeText(day - 1), "23:59:59.999");
}

} // namespace
} // namespace kv
