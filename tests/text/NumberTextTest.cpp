// SPDX-License-Identifier: GPL-3.0-or-later
// Number texts under a German locale (decimal comma), as the program runs on a German desktop:
// train, measuring-time and lift-angle texts, settings, the command line and formatted texts all
// keep the decimal point, and a settings file measures the same as in the "C" locale.
#include <gtest/gtest.h>

#include <cmath>

#include "../analysis/CoreHarness.h"
#include "../settings/SettingsTestSupport.h"
#include "GermanLocale.h"
#include "TickSynthesizer.h"
#include "cli/AnalyzeSession.h"
#include "logview/format/LogRecordText.h"
#include "settings/SettingsIO.h"
#include "text/NumberText.h"

namespace kv {
namespace {

using test::CoreHarness;
using test::GermanLocale;

TEST(GermanLocale, TypedTextsReadTheDecimalPoint) {
    GermanLocale german;
    ASSERT_TRUE(german.Active());
    const TrainText train = ParseTrainText("2.5 Hz");
    ASSERT_EQ(train.Kind, TrainTextKind::Period);
    EXPECT_DOUBLE_EQ(train.Period, 0.2);
    EXPECT_DOUBLE_EQ(ParseTrainText("0.5 sec").Period, 0.5);
    EXPECT_EQ(ParseMeasuringTime("12.5 sec", 0.2, 0.3), 12.5);
    EXPECT_EQ(ParseMeasuringTime("1.5 min", 0.2, 0.3), 90.0);
    CoreHarness h;
    h.Core.SetLiftAngle("52.5");
    EXPECT_EQ(h.Core.Params.LiftAngle, 52.5);
    std::string error;
    const auto options =
        ParseAnalyzeArguments({"--lift", "52.5", "--scale", "0.5", "x.wav"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->LiftAngle, 52.5);
    EXPECT_EQ(options->Scale, 0.5);
}

TEST(GermanLocale, FormattedNumbersWriteTheDecimalPoint) {
    GermanLocale german;
    ASSERT_TRUE(german.Active());
    EXPECT_EQ(FormatC("%+1.2f ms", 0.0012 * 1000.0), "+1.20 ms");
    EXPECT_EQ(FormatTrain(1.5), "1.5 sec");
    EXPECT_EQ(FormatTrain(3600.0 / 19800.5), "19800.5 vph");
    EXPECT_EQ(FormatDouble(0.9, DoubleFormat::General), "0.9");
    EXPECT_EQ(FormatDouble(1.25, DoubleFormat::Fixed14), "1.25000000000000");
    Reading reading;
    reading.Seconds = 1.5;
    EXPECT_EQ(ReadingToJson(reading).substr(0, 9), "{\"t\":1.5,");
    std::string log;
    AppendLogNumber(log, 1.25);
    EXPECT_EQ(log, "1.25");
}

// Readings of a watch measured with the analysis parameters of a settings file.
struct Readings {
    double BeatPeriod = 0, Amplitude = 0, BeatError = 0, LiftAngle = 0, MeasuringTime = 0;
    bool BeatErrorStable = false;
};

Readings MeasureWithSettingsFile(const std::string& text) {
    test::TempFolder folder;
    test::WriteFile(folder / "k.ini", text);
    SettingsStore store(folder / "k.ini");
    EXPECT_TRUE(store.Load());
    CoreHarness h;
    AppSettings app;
    TimestampClock clock;
    LoadSettings(store, h.Core, app, clock);
    synth::SynthOptions o;
    o.BeatsPerHour = 18000;
    o.BeatErrorMs = 0.6;
    o.AmplitudeDeg = 280;
    o.LiftAngleDeg = 52.5;
    o.Seconds = 20;
    h.Core.Settings.SampleRate = o.SampleRate;
    h.StartMeasurement();
    h.Feed(synth::Synthesize(o).Samples);
    const MeasurementState& m = h.Core.Measurement;
    return {h.Core.Derived.BeatPeriod,   m.Amplitude,      m.BeatError, h.Core.Params.LiftAngle,
            h.Core.Params.MeasuringTime, m.BeatErrorStable};
}

TEST(GermanLocale, ASettingsFileMeasuresAsInTheCLocale) {
    const std::string file = "[Settings]\nTickInterval=2.5 Hz\nLiftAngle=52.5\nMeasuringTime=12.5\n"
                             "PostTickMute=0.9\nPreTickSilence=0.1\nMaxAmplitude=330.5\n"
                             "SampleRate=48000\nHPF=1\n";
    const Readings c = MeasureWithSettingsFile(file);
    GermanLocale german;
    ASSERT_TRUE(german.Active());
    const Readings de = MeasureWithSettingsFile(file);
    EXPECT_DOUBLE_EQ(de.BeatPeriod, 0.2);
    EXPECT_EQ(de.LiftAngle, 52.5);
    EXPECT_EQ(de.MeasuringTime, 12.5);
    EXPECT_NEAR(de.Amplitude, 280.0, 0.05 * 280.0);
    EXPECT_TRUE(de.BeatErrorStable);
    EXPECT_NEAR(std::fabs(de.BeatError) * de.BeatPeriod * 1000.0, 0.6, 0.1);
    EXPECT_EQ(de.Amplitude, c.Amplitude);
    EXPECT_EQ(de.BeatError, c.BeatError);
}

} // namespace
} // namespace kv
