// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer's load: the window and record times, tags and filter markers, the value
// pipeline (slopes with held limits, integrals, wrap folding, the low-pass filter with its gap
// restarts and seeds), automatic scales, the spectrum sizes and the automatic span.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "LogTestSupport.h"
#include "logview/model/GraphModel.h"

namespace kv::test {
namespace {

// Every trace on, unscaled, unfiltered, not held.
GraphSettings Plain() {
    GraphSettings s = GraphSettings::Defaults();
    for (TraceSettings& t : s.Traces) {
        t.Enabled = true;
        t.Filter = t.WrapSuppress = t.HoldMax = t.HoldMin = false;
    }
    return s;
}

// A UTF-16 log from lines written without their line ends.
std::string Log(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return Wide(text);
}

// A line with time t and `value` in field `field` (1 … 8), the other fields empty.
std::string Line(double t, int field, double value) {
    std::string line = std::to_string(static_cast<long long>(t));
    if (t != std::floor(t)) line = std::to_string(t);
    for (int f = 1; f <= 8; ++f)
        line += "\t" + (f == field ? std::to_string(value) : "");
    return line;
}

std::vector<double> Values(const GraphModel& m, int trace) {
    std::vector<double> values;
    for (const GraphRecord& r : m.Records)
        values.push_back(r.Value[trace]);
    return values;
}

TEST(GraphLoadTest, RecordsKeepTheirFieldsAndTheWindowItsTimes) {
    GraphModel m;
    m.LoadGraphText(Log({"0\t9", "1000\t1\t\t3", "\t5", "1010\t2\t2\t2\t2\t2\t2\t2\t2\t2", "1020",
                         "1030 4,5;6"}),
                    Plain());
    ASSERT_EQ(m.Records.size(), 5u); // the line without a time is skipped
    EXPECT_EQ(m.Records[1].Value[0], 1.0);
    EXPECT_FALSE(HasValue(m.Records[1].Value[1])); // field 2 empty
    EXPECT_EQ(m.Records[1].Value[2], 3.0);
    EXPECT_FALSE(HasValue(m.Records[1].Value[7]));
    EXPECT_EQ(m.Records[2].Value[7], 2.0); // the eighth value field; a ninth is ignored
    for (int i = 0; i < TraceCount; ++i)
        EXPECT_FALSE(HasValue(m.Records[3].Value[i]));
    EXPECT_EQ(m.Records[4].Value[1], 5.0);
    EXPECT_FALSE(HasValue(m.Records[4].Value[2])); // after the semicolon
    EXPECT_EQ(m.Window.FirstRecordTime, 1000);     // the first non-zero time
    EXPECT_EQ(m.Window.LastRecordTime, 1030);
    EXPECT_EQ(m.Window.DisplayStart, 0);
    EXPECT_EQ(m.Window.DisplayEnd, 1030);
    EXPECT_EQ(m.Results[0].ScaleMax, 9.0);
    EXPECT_EQ(m.Results[0].ScaleMin, 1.0);
    EXPECT_EQ(m.Results[1].LatestValue, 5.0);
    EXPECT_FALSE(HasValue(m.Results[2].LatestValue));

    // Marks limit the records, not the file's first and last times.
    m.Window.LeftMark = 1005;
    m.Window.RightMark = 1025;
    m.LoadGraphText(Log({"0\t9", "1000\t1", "1010\t2", "1020\t3", "1030\t4"}), Plain());
    ASSERT_EQ(m.Records.size(), 2u);
    EXPECT_EQ(m.Window.DisplayStart, 1010);
    EXPECT_EQ(m.Window.DisplayEnd, 1020);
    EXPECT_EQ(m.Window.FirstRecordTime, 1000);
    EXPECT_EQ(m.Window.LastRecordTime, 1030);
    EXPECT_EQ(m.Results[0].ScaleMax, 3.0);
}

TEST(GraphLoadTest, EightBitAndUtf16FilesGiveTheSameRecordsAndTags) {
    const std::string text = "1351951509\t-2.3\t284.1\t0.512\t0\t-1.97\t0.00031\t0\t;03/11/12 "
                             "14:05:09\t<TAG0>after cleaning</TAG>\r\n1351951519\t-2.1\r\n";
    GraphModel wide, narrow;
    wide.LoadGraphText(Wide(text), Plain());
    narrow.LoadGraphText(text, Plain());
    ASSERT_EQ(wide.Records.size(), 2u);
    ASSERT_EQ(narrow.Records.size(), 2u);
    for (size_t r = 0; r < 2; ++r)
        for (int i = 0; i < TraceCount; ++i)
            EXPECT_EQ(wide.Records[r].Value[i], narrow.Records[r].Value[i]) << r << " " << i;
    EXPECT_EQ(wide.Records[0].Value[5], 0.00031);
    ASSERT_EQ(narrow.Tags.size(), 1u);
    EXPECT_EQ(narrow.Tags[0].Text, "after cleaning");
    EXPECT_EQ(wide.Tags[0].Text, "after cleaning");

    // A Windows-1252 comment in an 8-bit file.
    GraphModel legacy;
    legacy.LoadGraphText("100\t1\t;<TAG1>nettoy\xE9</TAG>\r\n", Plain());
    ASSERT_EQ(legacy.Tags.size(), 1u);
    EXPECT_EQ(legacy.Tags[0].Text, "nettoy\xC3\xA9");
}

TEST(GraphLoadTest, TagsKeepTheirTimeTraceAndKind) {
    GraphModel m;
    m.LoadGraphText(Log({"100\t1\t;<TAG2>oiled</TAG>", "110\t1", "120\t1\t;<TGG>line</TAG>",
                         "130\t1\t;<TAG5 broken"}),
                    Plain());
    ASSERT_EQ(m.Tags.size(), 2u);
    EXPECT_EQ(m.Tags[0].Time, 100.0);
    EXPECT_EQ(m.Tags[0].Trace, 2);
    EXPECT_EQ(m.Tags[0].Kind, GraphTagKind::Note);
    EXPECT_EQ(m.Tags[0].Text, "oiled");
    EXPECT_EQ(m.Tags[1].Trace, 0);
    EXPECT_EQ(m.Tags[1].Kind, GraphTagKind::NoteWithLine);

    m.Window.LeftMark = 105; // tags outside the window are not collected
    m.LoadGraphText(Log({"100\t1\t;<TAG2>oiled</TAG>", "110\t1"}), Plain());
    EXPECT_TRUE(m.Tags.empty());
}

TEST(GraphPipelineTest, ASlopeRestartsAfterAMissingValue) {
    GraphSettings s = Plain();
    s.Traces[1].Derivative = 1;
    GraphModel m;
    m.LoadGraphText(Log({"100\t1\t10", "110\t2\t20", "120\t3\t\t7", "130\t4\t40", "140\t5\t60"}),
                    s);
    const std::vector<double> slopes = Values(m, 1);
    EXPECT_FALSE(HasValue(slopes[0])); // nothing to measure against
    EXPECT_DOUBLE_EQ(slopes[1], 1.0);
    EXPECT_FALSE(HasValue(slopes[2])); // the gap
    EXPECT_FALSE(HasValue(slopes[3])); // restarted: no previous value
    EXPECT_DOUBLE_EQ(slopes[4], 2.0);
    EXPECT_EQ(m.Results[1].SlopeCount, 0); // no two consecutive slopes
    EXPECT_DOUBLE_EQ(m.Records[2].Value[2], 7.0);
    EXPECT_DOUBLE_EQ(m.Records[2].Value[0], 3.0); // the plain trace beside it
}

TEST(GraphPipelineTest, HeldLimitsDiscardSlopesAndTheNextIsMeasuredAgainstTheDiscardedPoint) {
    GraphSettings s = Plain();
    TraceSettings& t = s.Traces[0];
    t.Derivative = 1;
    t.HoldMax = t.HoldMin = true;
    t.MaxHold = 100;
    t.MinHold = -100;
    GraphModel m;
    m.LoadGraphText(Log({"1000\t0", "1000.5\t60", "1001\t70", "1002\t80", "1003\t110"}), s);
    const std::vector<double> slopes = Values(m, 0);
    EXPECT_FALSE(HasValue(slopes[1])); // 120 per second is beyond the held 100
    EXPECT_DOUBLE_EQ(slopes[2], 20.0); // (70 - 60) / 0.5
    EXPECT_DOUBLE_EQ(slopes[3], 10.0);
    EXPECT_DOUBLE_EQ(slopes[4], 30.0);
    EXPECT_DOUBLE_EQ(m.Records[1].Raw[0], NoValue);
    EXPECT_EQ(m.Results[0].SlopeCount, 2); // 20 → 10 and 10 → 30
    EXPECT_DOUBLE_EQ(m.Results[0].SlopeSquares, 100.0 + 400.0);
    EXPECT_EQ(m.Results[0].ScaleMax, 100.0); // held
}

TEST(GraphPipelineTest, TheIntegralRunsOverTimeAndScalingComesFirst) {
    GraphSettings s = Plain();
    s.Traces[0].Derivative = 2;
    s.Traces[1].Mag = 2.0;
    s.Traces[1].Ofs = -1.0;
    GraphModel m;
    m.LoadGraphText(Log({"10\t2\t3", "20\t2\t4", "30\t4\t5"}), s);
    EXPECT_EQ(Values(m, 0), (std::vector<double>{0.0, 20.0, 60.0}));
    EXPECT_EQ(Values(m, 1), (std::vector<double>{5.0, 7.0, 9.0}));
    EXPECT_DOUBLE_EQ(m.Results[0].Integral, 60.0);
    // The next load starts the integral from zero again.
    m.LoadGraphText(Log({"10\t2", "20\t2"}), s);
    EXPECT_DOUBLE_EQ(m.Results[0].Integral, 20.0);
}

GraphSettings Wrapped(bool filter) {
    GraphSettings s = Plain();
    TraceSettings& t = s.Traces[2];
    t.WrapSuppress = t.HoldMax = t.HoldMin = true;
    t.MinHold = 0;
    t.MaxHold = 10;
    t.Filter = filter;
    t.FiltCoeff = 0.5;
    return s;
}

TEST(GraphPipelineTest, WrappedValuesFoldIntoTheHeldRangeAndFilterAcrossTheWrap) {
    GraphModel m;
    m.LoadGraphText(Log({Line(100, 3, 12), Line(110, 3, -3), Line(120, 3, 20.5), Line(130, 3, 4)}),
                    Wrapped(false));
    const std::vector<double> folded = Values(m, 2);
    EXPECT_NEAR(folded[0], 2.0, 1e-9);
    EXPECT_NEAR(folded[1], 7.0, 1e-9);
    EXPECT_NEAR(folded[2], 0.5, 1e-9);
    EXPECT_NEAR(folded[3], 4.0, 1e-9);
    EXPECT_DOUBLE_EQ(m.Records[0].Raw[2], 12.0); // before folding

    // 9.8 and 0.2 alternating lie 0.2 either side of the wrap point: the filtered phase stays
    // there, where a plain average would sit at 5.
    std::vector<std::string> lines;
    for (int i = 0; i < 40; ++i)
        lines.push_back(Line(100 + 10 * i, 3, i % 2 ? 0.2 : 9.8));
    GraphModel filtered;
    filtered.LoadGraphText(Log(lines), Wrapped(true));
    for (size_t i = 1; i < filtered.Records.size(); ++i) {
        const double v = filtered.Records[i].Value[2];
        EXPECT_TRUE(v < 0.5 || v > 9.5) << i << ": " << v;
        EXPECT_GE(v, 0.0);
        EXPECT_LT(v, 10.0);
    }
    GraphSettings unwrapped = Wrapped(true);
    unwrapped.Traces[2].WrapSuppress = false;
    GraphModel averaged;
    averaged.LoadGraphText(Log(lines), unwrapped);
    EXPECT_NEAR(averaged.Records.back().Value[2], 5.0, 1.0);

    // A value whose phase would overflow still folds into the range.
    GraphModel huge;
    huge.LoadGraphText(Log({Line(100, 3, 0), "110\t\t\t1e300"}), Wrapped(true));
    const double farOut = huge.Records[1].Value[2];
    EXPECT_TRUE(farOut >= 0.0 && farOut < 10.0) << farOut;

    // Without held limits nothing is folded (the default deviation trace).
    GraphSettings free = Wrapped(false);
    free.Traces[2].HoldMax = false;
    GraphModel unfolded;
    unfolded.LoadGraphText(Log({Line(100, 3, 12)}), free);
    EXPECT_DOUBLE_EQ(unfolded.Records[0].Value[2], 12.0);
}

TEST(GraphPipelineTest, ADiscardedSlopeOnAWrappedTraceStaysWithoutValue) {
    GraphSettings s = Wrapped(false);
    s.Traces[2].Derivative = 1;
    GraphModel m;
    m.LoadGraphText(Log({Line(100, 3, 1), Line(101, 3, 50), Line(102, 3, 52)}), s);
    EXPECT_FALSE(HasValue(m.Records[0].Value[2]));
    EXPECT_FALSE(HasValue(m.Records[1].Value[2])); // slope 49 beyond the held 10
    EXPECT_NEAR(m.Records[2].Value[2], 2.0, 1e-9);
}

GraphSettings Filtered(double k) {
    GraphSettings s = Plain();
    s.Traces[0].Filter = true;
    s.Traces[0].FiltCoeff = k;
    return s;
}

TEST(GraphFilterTest, TheFirstLoadPassesTheFirstValueAndTheNextStartsFromTheBackwardPass) {
    const std::string log = Log({"100\t10", "110\t0", "120\t0", "130\t0", "140\t0"});
    GraphModel m;
    m.LoadGraphText(log, Filtered(0.5));
    EXPECT_EQ(m.Records[0].Value[0], 10.0);
    EXPECT_DOUBLE_EQ(m.Records[1].Value[0], 0.25 * 0 + 0.25 * 10 + 0.5 * 10); // 7.5
    EXPECT_DOUBLE_EQ(m.Records[0].Raw[0], 10.0);
    ASSERT_TRUE(HasValue(m.Results[0].FilterSeedA));
    EXPECT_LT(m.Results[0].FilterSeedA, 10.0);

    m.LoadGraphText(log, Filtered(0.5));
    const double settled = m.Records[0].Value[0];
    EXPECT_LT(settled, 10.0);
    EXPECT_GT(settled, 0.0);
    m.LoadGraphText(log, Filtered(0.5));
    EXPECT_NEAR(m.Records[0].Value[0], settled, 1.0);

    // k = 0 passes the first value on for ever and leaves no seeds.
    GraphModel still;
    still.LoadGraphText(log, Filtered(0.0));
    EXPECT_EQ(Values(still, 0), (std::vector<double>(5, 10.0)));
    EXPECT_FALSE(HasValue(still.Results[0].FilterSeedA));
    // A disabled trace leaves no seeds either.
    GraphSettings off = Filtered(0.5);
    off.Traces[0].Enabled = false;
    still.LoadGraphText(log, off);
    EXPECT_FALSE(HasValue(still.Results[0].FilterSeedA));
}

TEST(GraphFilterTest, AGapOfTenFilterStepsRestartsTheFilterAndAShorterOneDoesNot) {
    const auto run = [](double gapTime) {
        GraphModel m;
        m.LoadGraphText(
            Log({"1000\t0", "1010\t0", "1020\t0", Line(gapTime, 2, 1), Line(gapTime + 10, 1, 8)}),
            Filtered(0.5));
        return m.Records.back().Value[0];
    };
    EXPECT_EQ(run(1250), 8.0);        // 230 > 10 × 10: restarted, the value passes
    EXPECT_DOUBLE_EQ(run(1100), 2.0); // 80 ≤ 100: filtered, 0.25·8 + 0.25·0 + 0.5·0
}

TEST(GraphFilterTest, MarkersZeroOrRestartTheirTracesFilters) {
    GraphSettings s = Filtered(0.5);
    for (int i : {1, 3})
        s.Traces[i] = s.Traces[0];
    GraphModel m;
    m.LoadGraphText(Log({"100\t10\t10\t10\t10", "110\t10\t10\t10\t10\t;<FZ3>", "120\t0\t0\t0\t0",
                         "130\t8\t8\t8\t8\t;<FR>"}),
                    s);
    EXPECT_DOUBLE_EQ(m.Records[1].Value[3], 2.5); // zeroed: 0.25·10 + 0.25·0 + 0.5·0
    EXPECT_DOUBLE_EQ(m.Records[1].Value[1], 10.0);
    EXPECT_DOUBLE_EQ(m.Records[1].Value[0], 10.0);
    for (int i : {0, 1, 3})
        EXPECT_DOUBLE_EQ(m.Records[3].Value[i], 8.0) << i; // restarted

    // A digit 9 names trace 1.
    GraphModel fresh;
    fresh.LoadGraphText(Log({"100\t10\t10", "110\t10\t10\t;<FZ9>"}), s);
    EXPECT_DOUBLE_EQ(fresh.Records[1].Value[1], 2.5);
    EXPECT_DOUBLE_EQ(fresh.Records[1].Value[0], 10.0);
}

std::string Ramp(int records) {
    std::string text;
    for (int i = 0; i < records; ++i)
        text += std::to_string(1000 + i) + "\t" + std::to_string(i % 7) + "\r\n";
    return text;
}

TEST(GraphSpectrumTest, ItNeedsSixteenRecordsAndHasAtMost16384Lines) {
    GraphModel m;
    m.SpectrumTrace = 0;
    m.LoadGraphText(Ramp(15), Plain());
    EXPECT_EQ(m.SpectrumSize, 1u);
    EXPECT_FALSE(m.HasSpectrum());
    m.LoadGraphText(Ramp(16), Plain());
    EXPECT_EQ(m.SpectrumSize, 16u);
    EXPECT_TRUE(m.HasSpectrum());
    m.LoadGraphText(Ramp(17), Plain());
    EXPECT_EQ(m.SpectrumSize, 32u);
    m.LoadGraphText(Ramp(20000), Plain());
    EXPECT_EQ(m.SpectrumSize, 16384u);
    EXPECT_EQ(m.Spectrum.size(), 16384u);
    m.LoadGraphText(Ramp(15), Plain()); // the previous spectrum is discarded
    EXPECT_TRUE(m.Spectrum.empty());
    m.SpectrumTrace = -1;
    m.LoadGraphText(Ramp(100), Plain());
    EXPECT_FALSE(m.HasSpectrum());
}

TEST(GraphSpectrumTest, AConstantTraceHasOnlyItsMeanLine) {
    std::string text;
    for (int i = 0; i < 64; ++i)
        text += std::to_string(1000 + 10 * i) + "\t3\r\n";
    GraphModel m;
    m.SpectrumTrace = 0;
    m.LoadGraphText(text, Plain());
    ASSERT_EQ(m.SpectrumSize, 64u);
    EXPECT_NEAR(std::abs(m.Spectrum[0]), 3.0 * 64, 1e-9);
    for (size_t k = 1; k < 64; ++k)
        EXPECT_NEAR(std::abs(m.Spectrum[k]), 0.0, 1e-9) << k;
}

TEST(GraphSpanTest, TheSpanFollowsTheNewestMinutesUntilASectionIsMarked) {
    std::string text;
    for (int i = 0; i <= 180; ++i)
        text += std::to_string(100000 + 60 * i) + "\t1\r\n";
    GraphModel m;
    m.LoadGraphText(text, Plain());
    m.ApplySpan(60);
    EXPECT_EQ(m.Window.LeftMark, 100000 + 60 * 180 - 3600);
    m.LoadGraphText(text, Plain());
    EXPECT_EQ(m.Records.size(), 61u); // the last hour, both ends included
    m.ApplySpan(0);
    EXPECT_EQ(m.Window.LeftMark, 100000 + 60 * 180 - 3600); // 0: unchanged
    m.Window.SectionMarked = true;
    m.Window.LeftMark = 0;
    m.ApplySpan(60);
    EXPECT_EQ(m.Window.LeftMark, 0);
}

} // namespace
} // namespace kv::test
