// SPDX-License-Identifier: GPL-3.0-or-later
// Pixel tests of the view's repaint: the analysis state comes from a synthetic watch fed through
// ProcessBuffer, or is set directly where exact values are needed, and the image is inspected.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <thread>

#include "../analysis/CoreHarness.h"
#include "TickSynthesizer.h"
#include "ui/view/CursorDisk.h"
#include "ui/view/ViewRenderer.h"

namespace kv {
namespace {

using test::CoreHarness;

const QColor Black(0, 0, 0);
const QColor Red(255, 0, 0);
const QColor Grey(200, 200, 200);
const QColor Green(0, 255, 0);
const QColor Blue(0, 0, 255);
const QColor DiskOnWhite(200, 200, 255);

bool Reddish(QColor c) {
    return c.red() - c.green() > 100 && c.red() - c.blue() > 100;
}
bool Dark(QColor c) {
    return c.red() < 110 && c.green() < 110 && c.blue() < 110;
}
bool Brownish(QColor c) {
    return c.red() < 230 && c.red() - c.green() > 30 && c.red() - c.blue() > 30;
}

struct ViewRender : ::testing::Test {
    // 960 x 720 with k = 8: L1 = 15, L2 = 22; tape from x = 360 to 600 (Wt = 240), centre 480.
    static constexpr int W = 960, H = 720, Cy = H / 2, Xl = 360, L1 = 15, L2 = 22;

    void SetUp() override {
        settings.PaperTape = 1;
        settings.CursorDisk = 0;
    }

    // Without auto-centring, which keeps the first dots off the tape.
    void StartWatch(const char* train = "18000 vph") {
        h.Core.Settings.Centre = 0;
        h.Start(48000, train);
    }

    // Feeds `seconds` of a synthetic lever watch at 18000 vph.
    void FeedWatch(double seconds, double rateSecondsPerDay) {
        synth::SynthOptions o;
        o.SampleRate = 48000;
        o.Seconds = seconds;
        o.RateSecondsPerDay = rateSecondsPerDay;
        o.BeatErrorMs = 0.4;
        h.Feed(synth::Synthesize(o).Samples);
    }

    void Render(QSize size = QSize(W, H)) {
        renderer.Render(image, size, h.Core, calibration, settings, state);
    }

    QColor At(int x, int y) const { return image.pixelColor(x, y); }

    int Count(const QRect& area, const std::function<bool(QColor)>& test) const {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += test(image.pixelColor(x, y));
        return n;
    }
    int CountColour(const QRect& area, QColor colour) const {
        return Count(area, [&](QColor c) { return c == colour; });
    }

    // Empties the tape and writes entries with given phases (Time 1 = a tick).
    void SetTape(int writeIndex, std::initializer_list<std::pair<int, double>> dots) {
        TapeState& t = h.Core.Tape;
        t.Entries.assign(t.Entries.size(), TapeEntry{});
        t.TapeWriteIndex = writeIndex;
        state.Scroll.Set(h.Core, 0);
        for (auto [index, phase] : dots)
            t.Entries[static_cast<size_t>(index)] = TapeEntry{1, phase, {}};
    }
    int BlackInTapeRow(int y) const { return CountColour(QRect(Xl, y, 240, 1), Black); }

    CoreHarness h;

    CalibrationState calibration{h.Core.LocalStandardRun};
    AppSettings settings;
    ViewDisplayState state;
    ViewRenderer renderer;
    QImage image;
};

// --- Readouts ---

TEST_F(ViewRender, ReadoutsAreBlueOnlyWhileTheyAreACurrentReading) {
    const QColor readoutBlue(0, 0, 200);
    const QRect readouts(0, 0, W / 3, 3 * L2);
    StartWatch();
    FeedWatch(20, 5.0);
    Render();
    EXPECT_GT(CountColour(readouts, readoutBlue), 50) << "a running measurement of a watch";

    h.Core.NoSignal = true; // the ticks stopped
    Render();
    EXPECT_EQ(CountColour(readouts, readoutBlue), 0);
    h.Core.NoSignal = false;

    h.StopMeasurement(); // the playback ended or Stop was pressed
    Render();
    EXPECT_EQ(CountColour(readouts, readoutBlue), 0)
        << "the last values are not the steady reading";

    CoreHarness silent;
    silent.Core.Settings.Centre = 0;
    silent.Start(48000);
    silent.Feed(std::vector<int16_t>(48000 * 10, 0));
    renderer.Render(image, QSize(W, H), silent.Core, calibration, settings, state);
    EXPECT_EQ(CountColour(readouts, readoutBlue), 0) << "a silent file has no reading";
    EXPECT_EQ(CountColour(readouts, QColor(200, 63, 0)), 0);
}

TEST_F(ViewRender, ALongPlaybackPathStaysRightOfTheTapeWidthLabel) {
    const QColor readoutBlue(0, 0, 200);
    StartWatch();
    state.PlayingBack = true;
    auto leftmostBlue = [&] {
        int left = W;
        for (int y = 0; y < L2; ++y)
            for (int x = W / 2; x < W; ++x)
                if (At(x, y) == readoutBlue) left = std::min(left, x);
        return left;
    };
    settings.WaveFile2 = "/a.wav";
    Render();
    const int shortLeft = leftmostBlue();
    EXPECT_GT(shortLeft, W * 21 / 32) << "a short path is drawn whole, right of the label";

    settings.WaveFile2 = "/home/watchmaker/recordings/2026/december/bench/omega-cal-565/"
                         "a-rather-long-recording-name.wav";
    Render();
    EXPECT_GT(leftmostBlue(), W * 21 / 32 + 40) << "shortened to the room right of the label";
    EXPECT_LT(leftmostBlue(), W - 20);
}

// The calibration's lines go below the playback's "Loop" line, at every window size.
TEST_F(ViewRender, CalibrationLinesNeverCoverThePlaybackLines) {
    const auto blue = [](QColor c) { return c.blue() > 150 && c.red() < 80 && c.green() < 80; };
    StartWatch();
    state.PlayingBack = true;
    settings.WaveFile2 = "/recordings/a.wav";
    calibration.Text() = "SNTP Ok\nLocal cal for 0:0:33";
    for (const QSize size : {QSize(W, H), QSize(640, 400), QSize(1920, 1080), QSize(420, 900)}) {
        Render(size);
        int rowsWithBrown = 0;
        for (int y = 0; y < size.height() / 3; ++y) {
            const QRect row(size.width() / 2, y, size.width() / 2, 1);
            const bool hasBrown = Count(row, Brownish) > 0;
            rowsWithBrown += hasBrown;
            EXPECT_FALSE(hasBrown && Count(row, blue) > 0)
                << size.width() << "x" << size.height() << ": row " << y << " mixes texts";
        }
        EXPECT_GT(rowsWithBrown, 0) << size.width() << "x" << size.height();
    }
}

TEST_F(ViewRender, TheCentringArrowsGoAtStop) {
    StartWatch();
    FeedWatch(3, 0.0);
    h.Core.Trace.Shown = false;
    const QRect leftArrow(W / 8, H * 7 / 16 - 6, W / 4, 13);
    h.Core.CentreNow();
    Render();
    EXPECT_GT(Count(leftArrow, Reddish), 50) << "centring in progress";
    h.StopMeasurement();
    Render();
    EXPECT_EQ(Count(leftArrow, Reddish), 0);
}

// --- Paper tape ---

TEST_F(ViewRender, TapeDotsOnePerRowAtTheirPhaseColumns) {
    StartWatch();
    h.Core.Trace.Shown = false;
    // Columns: 240 * (0.5 - 4 * phase): 0 -> 120, 0.05 -> 72, -0.1 -> 216, 0.2 -> -72 + 240.
    SetTape(10, {{9, 0.0}, {8, 0.05}, {7, -0.1}, {6, 0.2}, {10, 0.05}});
    h.Core.Tape.Entries[5].Time = 0; // a gap draws nothing
    Render();
    EXPECT_EQ(state.TapeRect, QRect(Xl - 1, 0, 241, 12));
    EXPECT_EQ(BlackInTapeRow(0), 0); // the slot at the write index is not drawn
    EXPECT_EQ(At(480, 1), Black);
    EXPECT_EQ(At(432, 2), Black);
    EXPECT_EQ(At(576, 3), Black);
    EXPECT_EQ(At(528, 4), Black);
    for (int y = 1; y <= 4; ++y)
        EXPECT_EQ(BlackInTapeRow(y), 1) << y;
    EXPECT_EQ(BlackInTapeRow(5), 0);
    EXPECT_EQ(At(Xl + 5, 5), QColor(255, 239, 213)); // tape brush ANDed over white
}

// On a scaled screen the picture is drawn at the screen's pixels: a dot written straight into the
// image covers all the image pixels of its logical pixel, not one pixel to be blurred up later.
TEST_F(ViewRender, TapeDotCoversItsLogicalPixelAtEveryPixelRatio) {
    struct Case {
        double ratio;
        QRect dot; // the image pixels of the dot at logical (480, 1)
    } cases[] = {
        {1.0, QRect(480, 1, 1, 1)},
        {2.0, QRect(960, 2, 2, 2)},
        {1.5, QRect(720, 1, 1, 2)}, // image columns 720, rows 1 and 2
    };
    StartWatch();
    h.Core.Trace.Shown = false;
    SetTape(10, {{9, 0.0}});
    for (const Case& c : cases) {
        renderer.Render(image, QSize(W, H), h.Core, calibration, settings, state, c.ratio);
        ASSERT_EQ(image.size(), (QSizeF(W, H) * c.ratio).toSize()) << c.ratio;
        EXPECT_EQ(image.devicePixelRatio(), c.ratio);
        const QRect row(static_cast<int>(Xl * c.ratio), 0, static_cast<int>(240 * c.ratio),
                        static_cast<int>(4 * c.ratio));
        EXPECT_EQ(CountColour(c.dot, Black), c.dot.width() * c.dot.height()) << c.ratio;
        EXPECT_EQ(CountColour(row, Black), c.dot.width() * c.dot.height()) << c.ratio;
        // The tape's fill, ANDed over white, reaches the image's last row of the tape strip.
        const int fillRow = static_cast<int>(6 * c.ratio) - 1;
        EXPECT_EQ(At(static_cast<int>((Xl + 5) * c.ratio), fillRow), QColor(255, 239, 213));
    }
}

TEST_F(ViewRender, MagnificationSpreadsThePhases) {
    StartWatch();
    h.Core.Settings.Zoom = 2.0;
    SetTape(3, {{2, 0.0625}, {1, -0.03125}});
    Render();
    EXPECT_EQ(At(Xl, 1), Black);       // 240 * (0.5 - 0.5)
    EXPECT_EQ(At(Xl + 180, 2), Black); // 240 * (0.5 + 0.25)
    EXPECT_EQ(BlackInTapeRow(1) + BlackInTapeRow(2), 2);
}

TEST_F(ViewRender, FeedOneToHundredGathersAHundredEntriesPerRow) {
    StartWatch();
    h.Core.Settings.SlowFeed = 100;
    h.Core.Trace.Shown = false;
    // n = 1050: row 0 holds 1000..1049, row 1 900..999, row 9 100..199; rows end at y < 10.
    SetTape(
        1050,
        {{1020, -0.1}, {1050, 0.2}, {950, 0.05}, {901, 0.05}, {999, 0.0}, {150, 0.0}, {50, 0.2}});
    Render();
    EXPECT_EQ(state.TapeRect, QRect(Xl - 1, 0, 241, 12));
    EXPECT_EQ(At(576, 0), Black);
    EXPECT_EQ(BlackInTapeRow(0), 1); // the write index itself is not drawn
    EXPECT_EQ(At(432, 1), Black);    // two entries on one pixel
    EXPECT_EQ(At(480, 1), Black);
    EXPECT_EQ(BlackInTapeRow(1), 2);
    EXPECT_EQ(At(480, 9), Black);
    EXPECT_EQ(BlackInTapeRow(10), 0);
}

TEST_F(ViewRender, FeedTenSpacesEntriesTenRowsApart) {
    StartWatch();
    h.Core.Settings.SlowFeed = -10;
    h.Core.Trace.Shown = false;
    SetTape(5, {{5, 0.0}, {4, 0.05}, {2, 0.2}, {1, -0.1}});
    Render();
    EXPECT_EQ(state.TapeRect, QRect(Xl - 1, 0, 241, 52));
    EXPECT_EQ(At(480, 0), Black); // with f <= -1 the first row is the write slot
    EXPECT_EQ(At(432, 10), Black);
    EXPECT_EQ(BlackInTapeRow(20), 0);
    EXPECT_EQ(At(528, 30), Black);
    EXPECT_EQ(At(576, 40), Black);
    int others = 0;
    for (int y = 0; y < 50; ++y)
        if (y % 10 != 0) others += BlackInTapeRow(y);
    EXPECT_EQ(others, 0);
}

TEST_F(ViewRender, RealWatchDotsFollowTheMeasuredPhases) {
    StartWatch();
    FeedWatch(6.0, 300.0);
    h.Core.Trace.Shown = false;
    Render();
    const TapeState& t = h.Core.Tape;
    ASSERT_GT(t.TapeWriteIndex, 20);
    int checked = 0;
    for (int y = 1; y < t.TapeWriteIndex - 2; ++y) {
        const TapeEntry& e = t.Entries[static_cast<size_t>(t.TapeWriteIndex - y)];
        if (e.Time == 0) continue;
        int c = static_cast<int>((0.5 - 4.0 * e.Phase) * 240) % 240;
        if (c < 0) c += 240;
        EXPECT_EQ(At(Xl + c, y), Black) << "row " << y;
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

TEST_F(ViewRender, HiddenTapeDrawsNeitherTapeNorDisk) {
    StartWatch();
    FeedWatch(3.0, 0.0);
    settings.CursorDisk = 1;
    Render();
    EXPECT_EQ(state.TapeRect.left(), Xl - 1);
    EXPECT_FALSE(state.DiskGripRect.isEmpty());
    EXPECT_GT(CountColour(QRect(0, 0, W, H / 2), DiskOnWhite), 100);

    settings.PaperTape = 0;
    Render();
    EXPECT_TRUE(state.TapeRect.isEmpty());
    EXPECT_TRUE(state.DiskGripRect.isEmpty());
    EXPECT_EQ(CountColour(QRect(0, 0, W, H / 2), DiskOnWhite), 0);
    EXPECT_EQ(CountColour(QRect(Xl, 0, 240, H), QColor(255, 239, 213)), 0);
}

TEST_F(ViewRender, DiskGripIsTheRightHalfOfTheDisk) {
    StartWatch();
    settings.CursorDisk = 1;
    state.ManualCursorDisk = true;
    Render();
    // a = 160, e = -48: the circle's square is (320, -48) to (640, 272).
    EXPECT_EQ(state.DiskGripRect, QRect(480, -48, 160, 320));
    EXPECT_GT(CountColour(QRect(600, 60, 40, 120), QColor(180, 180, 255)), 50); // grip arc
}

TEST(CursorDiskChords, ParallelChordsShrinkingTowardTheEdge) {
    CursorDiskRecord disk;
    disk.Radius = 100.0;
    disk.Theta = 0.0;
    UpdateDiskChords(disk);
    // Upright chords 20 pixels apart; the outer pair has half-length 100 cos(0.928) = 60.
    for (int k = 0; k < DiskChordCount; ++k) {
        EXPECT_EQ(disk.ChordStart[k].x(), 20 * (k - 4)) << k;
        EXPECT_EQ(disk.ChordEnd[k].x(), 20 * (k - 4)) << k;
        EXPECT_EQ(disk.ChordStart[k].y(), -disk.ChordEnd[k].y()) << k;
    }
    EXPECT_EQ(disk.ChordEnd[4], QPoint(0, 100));
    EXPECT_EQ(disk.ChordEnd[0], QPoint(-80, 60));
    EXPECT_EQ(disk.ChordStart[8], QPoint(80, -60));

    disk.Theta = M_PI / 2; // turned a quarter: level chords stacked upward
    UpdateDiskChords(disk);
    EXPECT_EQ(disk.ChordStart[0], QPoint(-60, 80));
    EXPECT_EQ(disk.ChordEnd[0], QPoint(60, 80));

    disk.Radius = 0.0;
    UpdateDiskChords(disk);
    EXPECT_EQ(disk.ChordEnd[8], QPoint(0, 0));
}

TEST_F(ViewRender, DiskFollowsTheRateUnlessTurnedByHand) {
    StartWatch();
    settings.CursorDisk = 1;
    h.Core.Measurement.Rate = 1e-4;
    Render();
    // G = E * W * m * f = 960.
    EXPECT_DOUBLE_EQ(state.Disk.Theta, -std::atan(1e-4 * 960));
    EXPECT_DOUBLE_EQ(state.Disk.Radius, 160.0);
    h.Core.Settings.SlowFeed = -10;
    Render();
    EXPECT_DOUBLE_EQ(state.Disk.Theta, -std::atan(1e-4 * 96));
    state.ManualCursorDisk = true;
    state.Disk.Theta = 0.25;
    Render();
    EXPECT_DOUBLE_EQ(state.Disk.Theta, 0.25);
}

// The bracket at the tape's right edge is blue while the measuring window fills, green after.
TEST_F(ViewRender, MeasuringWindowBracketTurnsGreenWhenFull) {
    StartWatch();
    synth::SynthOptions o;
    o.SampleRate = 48000;
    o.Seconds = 16;
    const std::vector<int16_t> s = synth::Synthesize(o).Samples;
    h.Feed(std::vector<int16_t>(s.begin(), s.begin() + 48000 * 4));
    ASSERT_FALSE(h.Core.Measurement.RateWindowFull);
    Render();
    EXPECT_EQ(At(600, 8), Blue);
    EXPECT_EQ(At(601, 8), Blue);

    h.Feed(std::vector<int16_t>(s.begin() + 48000 * 4, s.end()));
    ASSERT_TRUE(h.Core.Measurement.RateWindowFull);
    Render();
    // Y = 8 s / 0.2 s = 40 rows.
    EXPECT_EQ(At(600, 8), Green);
    EXPECT_EQ(At(601, 39), Green);
    EXPECT_NE(At(600, 41), Green);
}

// --- Waveform ---

// With 9600 samples per beat and a 1920-point trace, point i lands in column i/2 of 960.
struct TraceRender : ViewRender {
    void SetUp() override {
        ViewRender::SetUp();
        settings.PaperTape = 0;
        StartWatch();
        ASSERT_EQ(h.Core.Trace.Length, 1920);
        std::fill(h.Core.Trace.Points.begin(), h.Core.Trace.Points.end(), int16_t{0});
        h.Core.Trace.Markers.Clear();
    }
    void Put(int i, int16_t v) { h.Core.Trace.Points[static_cast<size_t>(i)] = v; }
    void Mark(int i, TraceMarkerKind kind) { h.Core.Trace.Markers.Add(i, kind); }
};

TEST_F(TraceRender, MarkerColumnsSpansAndTheirHitRectangles) {
    Mark(100, TraceMarkerKind::Unlock);
    Mark(130, TraceMarkerKind::Drop);
    Put(131, 200);
    Render();
    EXPECT_EQ(At(50, Cy - 10), Red); // unlock marker, L1 = 15 high
    EXPECT_NE(At(50, Cy - 20), Red);
    EXPECT_EQ(At(65, Cy - 20), Red); // drop marker, L2 = 22 high
    const DerivedConstants& d = h.Core.Derived;
    const int lift = static_cast<int>(RoundHalfAway(d.LiftSamplesMin * 0.5 / 5));
    const int pre = static_cast<int>(RoundHalfAway((d.SamplesPerBeat - d.MuteSamples) * 0.5 / 5));
    const int x1 = (100 + lift) / 2, x2 = (100 - pre) / 2;
    EXPECT_EQ(state.PostUnlockRect, QRect(50, Cy - 2, x1 - 50, 4));
    EXPECT_EQ(state.PreUnlockRect, QRect(x2, Cy - 2, 50 - x2, 4));
    EXPECT_EQ(At((50 + x1) / 2, Cy), Red);
    EXPECT_EQ(At(x2 + 3, Cy), Blue);
}

TEST_F(TraceRender, OnlyTheFirstEightMarkersAreDrawn) {
    h.Core.Trace.Shown = true;
    for (int k = 0; k < 10; ++k)
        Mark(100 + 160 * k, TraceMarkerKind::Unlock);
    Render();
    for (int k = 0; k < 10; ++k) {
        const int x = (100 + 160 * k) / 2;
        EXPECT_EQ(At(x, Cy - 10) == Red, k < 8) << "marker " << k;
    }
}

TEST_F(TraceRender, EnvelopeIsSymmetricAboutTheCentreLine) {
    for (int i = 400; i < 600; ++i)
        Put(i, static_cast<int16_t>(i % 2 ? -16384 : 16384));
    Render();
    // 16384 * 720 / 65536 = 180 above and below the centre.
    EXPECT_EQ(At(250, Cy - 179), Grey);
    EXPECT_EQ(At(250, Cy + 170), Grey);
    EXPECT_NE(At(250, Cy - 185), Grey);
    EXPECT_EQ(CountColour(QRect(0, Cy, W, 1), Grey), W); // the centre line
}

TEST_F(TraceRender, NothingWhenTheWaveformIsHidden) {
    Mark(100, TraceMarkerKind::Unlock);
    h.Core.Trace.Shown = false;
    Render();
    EXPECT_EQ(CountColour(QRect(0, Cy - L2, W, 2 * L2), Red), 0);
    EXPECT_EQ(CountColour(QRect(0, Cy, W, 1), Grey), 0);
    EXPECT_TRUE(state.PostUnlockRect.isEmpty());
}

// --- Fork mode ---

TEST_F(ViewRender, ForkModeDrawsAPolylineWithoutCentreLineOrToothChart) {
    settings.PaperTape = 0;
    h.Start(48000, "300 Hz");
    ASSERT_TRUE(h.Core.Derived.ForkMode());
    synth::SynthOptions o = synth::DefaultOptions(synth::Movement::TuningFork);
    o.ForkHz = 300;
    o.SampleRate = 48000;
    o.Seconds = 2;
    h.Feed(synth::Synthesize(o).Samples);
    h.Core.Params.EscapeWheelTeeth = 15;
    h.Core.Detector.BeatCount = std::max<int64_t>(h.Core.Detector.BeatCount, 10);
    // 160 points across 960 columns: point i in column 6i; a constant trace is one flat line.
    ASSERT_EQ(h.Core.Trace.Length, 160);
    std::fill(h.Core.Trace.Points.begin(), h.Core.Trace.Points.end(), int16_t{16384});
    Render();
    EXPECT_EQ(CountColour(QRect(0, Cy - 180, W, 1), Grey), 6 * 159);
    EXPECT_EQ(CountColour(QRect(0, Cy + 180, W, 1), Grey), 0);
    EXPECT_EQ(CountColour(QRect(0, Cy, W, 1), Grey), 0);
    EXPECT_TRUE(state.ToothChartRect.isEmpty());
    EXPECT_EQ(CountColour(QRect(W / 2, 0, W / 2, H), Green), 0);
}

// --- Status block ---

TEST_F(ViewRender, PoorSignalToNoiseTurnsRowOneRed) {
    StartWatch();
    FeedWatch(3.0, 0.0);
    const QRect row1(0, H - L1, W / 3, L1);
    h.Core.Detector.SignalToNoise = 100.0;
    Render();
    EXPECT_EQ(Count(row1, Reddish), 0);
    EXPECT_GT(Count(row1, Dark), 20);
    h.Core.Detector.SignalToNoise = 31.5;
    Render();
    EXPECT_GT(Count(row1, Reddish), 20);
}

TEST_F(ViewRender, PromptHidesTheStatusBlock) {
    StartWatch();
    FeedWatch(3.0, 0.0);
    const QRect block(0, H - 11 * L1, W / 3, 11 * L1);
    Render();
    EXPECT_GT(Count(block, Dark), 500);
    h.Core.PromptText = "Turn the watch\r\nto position 2";
    Render();
    EXPECT_EQ(Count(block, Dark), 0);
    EXPECT_GT(Count(QRect(0, H / 2, W / 3, 2 * L2), Brownish), 50);
}

TEST_F(ViewRender, StatusLinesStayReadableInASmallWindow) {
    // The view's height inside a 640 x 420 frame, below its menu, tool bar and status bar.
    constexpr int SmallW = 640, SmallH = 300;
    // Ink height of a line with capitals and a slash in a font that can still be read.
    constexpr int ReadableInk = 8;
    StartWatch();
    FeedWatch(3.0, 0.0);
    h.Core.Detector.SignalToNoise = 100.0;
    Render(QSize(SmallW, SmallH));
    const QRect row1(0, SmallH - state.L1, SmallW / 3, state.L1);
    int top = SmallH, bottom = -1;
    for (int y = row1.top(); y <= row1.bottom(); ++y)
        if (Count(QRect(row1.left(), y, row1.width(), 1), Dark) > 0) {
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    EXPECT_GE(bottom - top + 1, ReadableInk) << "row 1 (signal/noise) is " << state.L1 << " px";
    EXPECT_GE(state.L2, state.L1) << "readouts are never smaller than the status lines";
    Render();
    EXPECT_EQ(state.L1, L1) << "a large window keeps its proportional sizes";
}

// Texts grow with the screen's scale and the user's font: the rate readout's ink is taller by
// about the scale where the window leaves room, and at any scale and size the readouts stay
// above the status lines.
TEST_F(ViewRender, ReadoutsGrowWithTheTextScaleAndKeepTheirPlaces) {
    constexpr int WideW = 1600, WideH = 900;
    StartWatch();
    FeedWatch(3.0, 0.0);
    auto rateInk = [&](double scale) {
        state.TextScale = scale;
        Render(QSize(WideW, WideH));
        int top = WideH, bottom = -1;
        for (int y = 0; y < state.L2; ++y)
            if (Count(QRect(0, y, WideW / 4, 1), [](QColor c) { return c != Qt::white; }) > 0) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        return bottom - top + 1;
    };
    const int plain = rateInk(1.0);
    ASSERT_GT(plain, 10);
    const struct { double Scale, LeastGrowth; } grown[] = {{1.5, 1.35}, {2.0, 1.35}};
    for (const auto& g : grown)
        EXPECT_GE(rateInk(g.Scale), plain * g.LeastGrowth) << "scale " << g.Scale;

    const QSize sizes[] = {{640, 330}, {900, 600}, {WideW, WideH}, {2400, 500}, {500, 1200}};
    for (const QSize size : sizes)
        for (double scale : {1.0, 1.5, 2.0, 3.0}) {
            state.TextScale = scale;
            Render(size);
            // 4 lines of readouts at the top, 11 status lines at the bottom.
            if (size.height() >= 17 * 10) { // below that even scale 1 cannot hold both
                EXPECT_LE(4 * state.L2, size.height() - 11 * state.L1)
                    << size.width() << "x" << size.height() << " at " << scale;
                // Below the waveform's interval labels, a line under the middle.
                EXPECT_LE(12 * state.L1, size.height() / 2)
                    << size.width() << "x" << size.height() << " at " << scale;
            }
            EXPECT_GE(state.L1, size.height() / 48) << "never smaller than at scale 1";
        }
}

// --- Lower right: tooth chart or diagnostics ---

struct ToothRender : ViewRender {
    void SetUp() override {
        ViewRender::SetUp();
        StartWatch();
        FeedWatch(3.0, 0.0);
        h.Core.Params.EscapeWheelTeeth = 15;
        h.Core.Detector.BeatCount = 20; // tooth 10 in mesh
        for (int i = 0; i < 15; ++i)
            h.Core.Measurement.ToothResidual[static_cast<size_t>(i)] = 0.004;
        state.FaderDiagnosticText = "Mixer: no capture control";
    }
};

TEST_F(ToothRender, ChartRectangleAndBars) {
    ASSERT_GE(h.Core.Detector.BeatCount, 1);
    Render();
    // s = 320 / 15 = 21, y0 = 540, hc = 171.
    EXPECT_EQ(state.ToothChartRect, QRect(W - 15 * 21, 540 - 171, 15 * 21, 2 * 171));
    // Bar height 0.004 * 100 * 720 * 5 / 21 = 68 pixels.
    EXPECT_EQ(At(W - 14 * 21, 520), Green);
    EXPECT_NE(At(W - 14 * 21, 540 - 75), Green);
}

TEST_F(ToothRender, CtrlShowsTheDiagnosticsInstead) {
    state.CtrlHeld = true;
    Render();
    EXPECT_TRUE(state.ToothChartRect.isEmpty());
    EXPECT_EQ(CountColour(QRect(W / 2, H / 2, W / 2, H / 2), Green), 0);
    EXPECT_GT(Count(QRect(W - 300, H - 3 * L1, 300, L1), Dark), 20);
    state.CtrlHeld = false;
    Render();
    EXPECT_EQ(Count(QRect(W - 300, H - 3 * L1, 300, L1), Dark), 0);
}

TEST_F(ToothRender, NoChartDuringAPositionalRunOrTrainDetection) {
    h.Core.Measurement.CurrentPosition = 1;
    Render();
    EXPECT_TRUE(state.ToothChartRect.isEmpty());
    h.Core.Measurement.CurrentPosition = 0;
    h.Core.AutoTrainActive = true;
    Render();
    EXPECT_TRUE(state.ToothChartRect.isEmpty());
}

// --- Fonts, buffer and locks ---

TEST_F(ViewRender, FontsAreRebuiltOnlyWhenTheLineHeightChanges) {
    StartWatch();
    Render(QSize(W, 720));
    EXPECT_EQ(renderer.FontRebuildCount(), 1);
    EXPECT_EQ(state.L1, 15);
    EXPECT_EQ(state.L2, 22);
    EXPECT_EQ(state.L3, 90);
    Render(QSize(W, 721)); // 721 / 8 is still 90
    Render(QSize(W + 7, 727));
    EXPECT_EQ(renderer.FontRebuildCount(), 1);
    EXPECT_EQ(image.size(), QSize(W + 7, 727));
    Render(QSize(W, 728));
    EXPECT_EQ(renderer.FontRebuildCount(), 2);
    EXPECT_EQ(state.L3, 91);
    settings.CellFactor = 5;
    Render(QSize(W, 728));
    EXPECT_EQ(renderer.FontRebuildCount(), 3);
    EXPECT_EQ(state.L1, 24);
}

TEST_F(ViewRender, BackBufferIsKeptWhileTheSizeStays) {
    StartWatch();
    Render();
    const uchar* first = image.constBits();
    Render();
    EXPECT_EQ(image.constBits(), first);
    EXPECT_EQ(image.size(), QSize(W, H));
}

TEST_F(ViewRender, DegenerateSizesAndSettingsDoNotCrash) {
    StartWatch();
    FeedWatch(2.0, 0.0);
    settings.CursorDisk = 1;
    settings.CellFactor = 0;
    h.Core.Settings.SlowFeed = 0;
    for (QSize size : {QSize(0, 0), QSize(1, 1), QSize(5, 400), QSize(400, 3), QSize(11, 11)}) {
        Render(size);
        if (size.isEmpty()) {
            EXPECT_TRUE(state.TapeRect.isEmpty());
        }
    }
    state.Scroll.Set(h.Core, h.Core.Tape.TapeWriteIndex + 50);
    Render();
    EXPECT_EQ(image.size(), QSize(W, H));
}

TEST_F(ViewRender, CalibrationTextIsSkippedWhileItsLockIsBusy) {
    StartWatch();
    calibration.Text() = "Calibrating against SNTP\r\n+1.23 s/d";
    const QRect area(W * 3 / 4, L2, W / 4 - L2, 2 * L2);
    std::promise<void> locked;
    std::atomic<bool> release{false};
    std::thread holder([&] {
        const auto lock = calibration.HoldLock();
        locked.set_value();
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    locked.get_future().wait();
    auto repaint = std::async(std::launch::async, [&] { Render(); });
    const bool finished = repaint.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    release = true;
    holder.join();
    repaint.wait();
    EXPECT_TRUE(finished) << "the repaint waited for the calibration lock";
    EXPECT_EQ(Count(area, Brownish), 0);

    Render();
    EXPECT_GT(Count(area, Brownish), 50);
}

} // namespace
} // namespace kv
