// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer's picture: the drawing rules, then rendered images checked pixel by pixel at
// the logical positions the strips, scales, grids, labels and spectrum bars belong to.
#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

#include "logview/model/GraphModel.h"
#include "ui/logview/GraphCanvas.h"
#include "ui/logview/GraphLayout.h"
#include "ui/logview/GraphRenderer.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1570; // about two pixels per logical unit pair: easy to hit lines
constexpr int kHeight = 1061;
constexpr int64_t kStart = 1700000100; // a whole 5-minute mark (UTC)

TEST(GraphFormatTest, ScaledNumbersTakeThePrefixOfTheirMagnitude) {
    EXPECT_EQ(FormatScaled(0.00123, 2, true), "1.23m");
    EXPECT_EQ(FormatScaled(0.00123, 2, false), "0.00");
    EXPECT_EQ(FormatScaled(1234567, -1, true), "1.23457M");
    EXPECT_EQ(FormatScaled(2345.6, 2, true), "2.35k");
    EXPECT_EQ(FormatScaled(0, 1, true), "0.0");
    EXPECT_EQ(FormatScaled(-5e-7, 1, true), "-500.0n");
    EXPECT_EQ(FormatScaled(2e12, 0, true), "2000000000000"); // beyond the prefixes
}

TEST(GraphFormatTest, SpanLabelCountsBothEndRecords) {
    EXPECT_EQ(SpanLabelText(10800), "3.00 hrs");
    EXPECT_EQ(SpanLabelText(59), "60.00 secs");
    EXPECT_EQ(SpanLabelText(749), "12.50 mins");
}

TEST(GraphGridTest, StepsAreRoundNumbersOfTheirUnits) {
    EXPECT_DOUBLE_EQ(HorizontalGridStep(7.3, 5), 1.0);
    EXPECT_DOUBLE_EQ(HorizontalGridStep(100, 4), 20.0);
    EXPECT_DOUBLE_EQ(HorizontalGridStep(0.05, 10), 0.005);
    EXPECT_EQ(TimeGridStep(3000, 10), 300);
    EXPECT_EQ(TimeGridStep(4000, 10), 300);
    EXPECT_EQ(TimeGridStep(3, 10), 1);
    EXPECT_EQ(TimeGridStep(86400 * 7, 10), 43200);
    EXPECT_EQ(TimeGridStep(86400 * 70, 2), 1728000); // a day multiplied up by 10 and 2
}

GraphSettings Only(std::initializer_list<std::pair<int, int>> tracePositions) {
    GraphSettings s = GraphSettings::Defaults();
    for (TraceSettings& t : s.Traces)
        t.Enabled = false;
    for (auto [trace, position] : tracePositions) {
        s.Traces[trace].Enabled = true;
        s.Traces[trace].Position = position;
        s.Traces[trace].Filter = false;
        s.Traces[trace].HoldMax = s.Traces[trace].HoldMin = false;
    }
    return s;
}

TEST(GraphStripTest, EnabledPositionsShareThePlotArea) {
    StripLayout both;
    ComputeStrips(Only({{0, 0}, {4, 4}}), both);
    EXPECT_EQ(both.Count, 1);
    EXPECT_DOUBLE_EQ(both.BandHeight, 2000);
    EXPECT_EQ(both.Bottom[0], -1000);
    EXPECT_EQ(both.Bottom[4], -1000);

    StripLayout gap;
    ComputeStrips(Only({{0, 0}, {1, 2}}), gap);
    EXPECT_EQ(gap.Count, 3);
    EXPECT_NEAR(gap.BandHeight, 666.67, 0.01);
    EXPECT_EQ(gap.Bottom[0], 333);
    EXPECT_EQ(gap.Bottom[1], -334); // int(666.7) - 1000
    EXPECT_EQ(gap.Bottom[2], -1000);

    StripLayout kept = gap;
    ComputeStrips(Only({}), kept);
    EXPECT_EQ(kept.Count, 0);
    EXPECT_EQ(kept.Bottom, gap.Bottom); // no trace: the previous layout stays
}

class GraphRender : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::temp_directory_path() /
              ("kv-graph-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(Dir);
        Log = (Dir / "log.txt").string();
    }
    void TearDown() override { fs::remove_all(Dir); }

    // One record a `step` seconds from kStart, trace 1 (and trace 5) given by `value`.
    void WriteLog(int records, int step, const std::function<double(int)>& value,
                  const std::string& extra = "") {
        std::ofstream out(Log, std::ios::binary);
        for (int i = 0; i < records; ++i) {
            const double v = value(i);
            out << kStart + static_cast<int64_t>(i) * step << '\t';
            if (HasValue(v)) out << v << "\t\t\t\t" << 2 * v; // no value: empty fields
            if (i == records / 2) out << extra;
            out << "\r\n";
        }
    }

    GraphLoadStatus Render(const GraphSettings& s) {
        Image = QImage(kWidth, kHeight, QImage::Format_RGB32);
        return Renderer.Render(Image, Model, s, Log);
    }

    // Whether a pixel of `colour` lies within `radius` pixels of the logical point.
    bool ColourNear(double x, double y, QColor colour, int radius = 2) const {
        const QPoint c = LogicalToDevice(Image.size(), x, y);
        for (int dy = -radius; dy <= radius; ++dy)
            for (int dx = -radius; dx <= radius; ++dx)
                if (Image.valid(c.x() + dx, c.y() + dy) &&
                    QColor(Image.pixel(c.x() + dx, c.y() + dy)) == colour)
                    return true;
        return false;
    }

    // How many pixels of `colour` a logical rectangle holds.
    int CountColour(double left, double bottom, double right, double top, QColor colour) const {
        const QPoint a = LogicalToDevice(Image.size(), left, top);
        const QPoint b = LogicalToDevice(Image.size(), right, bottom);
        int n = 0;
        for (int y = a.y(); y <= b.y(); ++y)
            for (int x = a.x(); x <= b.x(); ++x)
                n += Image.valid(x, y) && QColor(Image.pixel(x, y)) == colour;
        return n;
    }

    fs::path Dir;
    std::string Log;
    QImage Image;
    GraphModel Model;
    GraphRenderer Renderer;
};

const QColor kFrame(220, 220, 220);
const QColor kWhite(255, 255, 255);

TEST_F(GraphRender, LeftAndRightScaleTracesShareOneStripWithTheFirstTracesBackground) {
    WriteLog(100, 10, [](int i) { return i; });
    GraphSettings s = Only({{0, 0}, {4, 4}});
    s.Traces[0].BackColor = Rgb(250, 240, 200);
    s.Traces[4].BackColor = Rgb(200, 250, 250);
    s.Traces[0].TraceTColor = Rgb(200, 0, 0);
    s.Traces[4].TraceTColor = Rgb(0, 0, 200);
    ASSERT_EQ(Render(s), GraphLoadStatus::Loaded);

    EXPECT_TRUE(ColourNear(0, 700, ColorOf(s.Traces[0].BackColor)));
    EXPECT_TRUE(ColourNear(0, -700, ColorOf(s.Traces[0].BackColor))); // one strip, top to bottom
    EXPECT_EQ(CountColour(-1490, -990, 1490, 990, ColorOf(s.Traces[4].BackColor)), 0);
    // Axes on both plot edges, ticks out to ±1560 at the strip edges.
    EXPECT_TRUE(ColourNear(-1500, 300, kFrame));
    EXPECT_TRUE(ColourNear(1500, -300, kFrame));
    EXPECT_TRUE(ColourNear(-1540, 1000, kFrame));
    EXPECT_TRUE(ColourNear(1540, -1000, kFrame));
    // Trace 1's scale texts at the top left, trace 5's at the top right.
    const QColor left = ColorOf(s.Traces[0].TraceTColor), right = ColorOf(s.Traces[4].TraceTColor);
    EXPECT_GT(CountColour(-1470, 900, -1300, 1000, left), 0);
    EXPECT_EQ(CountColour(-1470, 900, -1300, 1000, right), 0);
    EXPECT_GT(CountColour(1300, 900, 1470, 1000, right), 0);
    EXPECT_EQ(CountColour(1300, 900, 1470, 1000, left), 0);
    // The scale ranges read upwards in the gaps of their dimension lines beside the plot.
    EXPECT_GT(CountColour(-1570, -150, -1505, 150, left), 0);
    EXPECT_GT(CountColour(1505, -150, 1570, 150, right), 0);
    EXPECT_TRUE(ColourNear(-1530, 800, ColorOf(s.Traces[0].TraceColor))); // in the trace's pen
    EXPECT_TRUE(ColourNear(1530, -800, ColorOf(s.Traces[4].TraceColor)));
}

TEST_F(GraphRender, TraceLinesFollowTheirValuesInsideTheirStrips) {
    WriteLog(101, 10, [](int i) { return i; }); // 0 … 100 over 1000 s: a diagonal
    const GraphSettings s = Only({{0, 0}, {4, 1}});
    ASSERT_EQ(Render(s), GraphLoadStatus::Loaded);
    const QColor rate = ColorOf(s.Traces[0].TraceColor);
    const QColor fifth = ColorOf(s.Traces[4].TraceColor);
    // Trace 1 in the top band (0 … 1000), trace 5 in the lower band (−1000 … 0).
    EXPECT_TRUE(ColourNear(0, 500, rate));
    EXPECT_TRUE(ColourNear(-750, 250, rate));
    EXPECT_TRUE(ColourNear(750, 750, rate));
    EXPECT_FALSE(ColourNear(-750, 750, rate, 4));
    EXPECT_TRUE(ColourNear(0, -500, fifth));
    EXPECT_EQ(CountColour(-1490, 10, 1490, 990, fifth), 0);
}

TEST_F(GraphRender, AGapInTheValuesBreaksTheLine) {
    WriteLog(101, 10, [](int i) { return (i > 40 && i < 60) ? NoValue : 50.0 + (i % 2); });
    const GraphSettings s = Only({{0, 0}});
    ASSERT_EQ(Render(s), GraphLoadStatus::Loaded);
    const QColor rate = ColorOf(s.Traces[0].TraceColor);
    EXPECT_GT(CountColour(-1400, -1000, -400, 1000, rate), 0);
    EXPECT_EQ(CountColour(-200, -1000, 200, 1000, rate), 0);
}

TEST_F(GraphRender, HorizontalGridLinesSitOnRoundValuesOfTheScale) {
    WriteLog(74, 10, [](int i) { return i / 10.0; }); // 0 … 7.3
    GraphSettings s = Only({{0, 0}});
    s.Traces[0].HGrid = 5;
    s.Traces[0].TraceGridColor = Rgb(0, 200, 100);
    ASSERT_EQ(Render(s), GraphLoadStatus::Loaded);
    const QColor grid = ColorOf(s.Traces[0].TraceGridColor);
    // The line is a diagonal from the bottom left to the top right: look left of it.
    for (int u = 1; u <= 7; ++u) {
        const double y = -1000 + std::trunc(u * 2000 / 7.3);
        EXPECT_TRUE(ColourNear(-1400, y, grid)) << u;
    }
    EXPECT_FALSE(ColourNear(-1400, -1000 + 2000 * 1.5 / 7.3, grid, 3));
}

TEST_F(GraphRender, TimeGridLinesFallOnWholeMarksOfTheStep) {
    WriteLog(
        301, 10, [](int) { return 1.0; }, "\t<TGG0>cleaned</TAG>"); // 3000 s
    GraphSettings s = Only({{0, 0}});
    s.VGrid = 10;
    s.GridColor = Rgb(90, 200, 90);
    ASSERT_EQ(Render(s), GraphLoadStatus::Loaded);
    const QColor grid = ColorOf(s.GridColor);
    // Step 300 s from a whole 5-minute start: lines at 300, 600, … 2700 s (3000 is past 2960).
    for (int k = 1; k <= 9; ++k)
        EXPECT_TRUE(ColourNear(k * 300 - 1500, 700, grid)) << k;
    EXPECT_FALSE(ColourNear(150 - 1500, 700, grid, 3));
    EXPECT_FALSE(ColourNear(1500, 700, grid, 1));
    // The tag line at the middle record (1500 s) through the trace's strip; labels below.
    EXPECT_TRUE(ColourNear(0, 300, grid));
    // Labels read upwards from the plot bottom, just right of their line.
    EXPECT_GT(CountColour(0, -1000, 60, -750, Qt::black), 0);
    EXPECT_GT(CountColour(-1500, -1061, -1000, -1000, Qt::black), 0); // the start time
}

// Without a record in the window there is no start to show, not the date of the "end of time"
// sentinel: an empty log, and a window that begins after the last record.
TEST_F(GraphRender, NoStartTimeWithoutARecordInTheWindow) {
    const GraphSettings s = Only({{0, 0}});
    for (const int64_t leftMark : {int64_t{0}, kStart + 1000}) {
        WriteLog(leftMark ? 10 : 0, 10, [](int) { return 1.0; });
        Model.Window.LeftMark = leftMark;
        ASSERT_EQ(Render(s), GraphLoadStatus::Loaded);
        EXPECT_EQ(CountColour(-1500, -1061, -1000, -1000, Qt::black), 0) << leftMark;
    }
}

TEST_F(GraphRender, TheSpectrumDrawsBarsUpToItsStrongestLine) {
    // A sine of 8 cycles over the span: the strongest line is k = 8.
    const int records = 256;
    WriteLog(records, 10, [&](int i) { return std::sin(2 * M_PI * 8 * i / (records - 1.0)); });
    const GraphSettings s = Only({{0, 0}});
    Model.SpectrumTrace = 0;
    ASSERT_EQ(Render(s), GraphLoadStatus::Loaded);
    ASSERT_TRUE(Model.HasSpectrum());
    const QColor bar(48, 48, 48);
    const double n = Model.SpectrumSize;
    const double peakX = std::trunc(8 * 6000 / n - 1500);
    EXPECT_TRUE(ColourNear(peakX, 950, bar, 1));  // reaches the strip top
    EXPECT_TRUE(ColourNear(peakX, -950, bar, 1)); // from the strip bottom
    const double farX = std::trunc(100 * 6000 / n - 1500);
    EXPECT_FALSE(ColourNear(farX, 500, bar, 1)); // a weak line stays low
    // The scale now reads 0 dB at the top; the trace's own line is not drawn.
    EXPECT_DOUBLE_EQ(Model.Results[0].ScaleMax, 0.0);
    EXPECT_EQ(CountColour(-1490, -990, 1490, 990, ColorOf(s.Traces[0].TraceColor)), 0);
}

TEST_F(GraphRender, TheSpanLabelTurnsRedWhenASectionIsMarked) {
    WriteLog(100, 10, [](int i) { return i; });
    const GraphSettings s = Only({{0, 0}});
    ASSERT_EQ(Render(s), GraphLoadStatus::Loaded);
    const QColor red(255, 0, 0);
    EXPECT_GT(CountColour(600, -1061, 900, -1000, Qt::black), 0);
    EXPECT_EQ(CountColour(600, -1061, 900, -1000, red), 0);
    EXPECT_TRUE(ColourNear(400, -1040, kFrame)); // the dimension line's shaft
    Model.Window.LeftMark = kStart + 200;
    Model.Window.SectionMarked = true;
    ASSERT_EQ(Render(s), GraphLoadStatus::Loaded);
    EXPECT_GT(CountColour(600, -1061, 900, -1000, red), 0);
    EXPECT_EQ(Model.Window.DisplayStart, kStart + 200);
}

TEST_F(GraphRender, AnUnreadableLogLeavesOnlyFrameClockAndTitle) {
    Log = (Dir / "missing.txt").string();
    GraphSettings s = Only({{0, 0}});
    s.Traces[0].BackColor = Rgb(250, 240, 200);
    s.Title = "Title text";
    EXPECT_EQ(Render(s), GraphLoadStatus::CannotOpen);
    EXPECT_TRUE(ColourNear(-1500, 0, kFrame));
    EXPECT_EQ(CountColour(-1490, -990, 1490, 990, ColorOf(s.Traces[0].BackColor)), 0);
    EXPECT_GT(CountColour(-1500, 1000, -1200, 1059, Qt::black), 0); // the title
    EXPECT_GT(CountColour(1200, 1000, 1560, 1059, Qt::black), 0);   // the clock
    EXPECT_EQ(CountColour(-1490, -1061, 1490, 980, Qt::black), 0);
}

TEST_F(GraphRender, ARasterOperationCombinesTheTraceWithTheBackground) {
    WriteLog(101, 10, [](int) { return 5.0; });
    GraphSettings s = Only({{0, 0}});
    s.Traces[0].HoldMax = s.Traces[0].HoldMin = true; // a flat line in mid strip
    s.Traces[0].MaxHold = 10;
    s.Traces[0].MinHold = 0;
    s.Traces[0].BackColor = Rgb(255, 255, 0);
    s.Traces[0].TraceColor = Rgb(0, 0, 255);
    s.Traces[0].ROPCode = 7; // exclusive or with the pen
    ASSERT_EQ(Render(s), GraphLoadStatus::Loaded);
    EXPECT_TRUE(ColourNear(300, 1, QColor(255, 255, 255)));
    EXPECT_FALSE(ColourNear(300, 1, QColor(0, 0, 255)));
}

} // namespace
} // namespace kv
