// SPDX-License-Identifier: GPL-3.0-or-later
// The mouse on the measuring view, driven with real mouse, wheel and tool-tip events on a shown
// view whose repaint has set the hit rectangles: threshold, mute spans, manual disk, tape scroll
// in each feed, time marking with auto-scroll, tooth chart, double clicks, pointer shapes and
// tool tips.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>
#include <cmath>
#include <filesystem>
#include <unistd.h>

#include "PumpEvents.h"
#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "audio/WaveFile.h"
#include "ui/common/CommandTable.h"
#include "ui/view/ChildView.h"
#include "ui/view/CursorDisk.h"
#include "ui/view/TapeCursors.h"

namespace kv {
namespace {

constexpr int W = 960, H = 720;
// Tape edges at this size: x 359 .. 599 (the strip is W/4 wide around the centre).
const QPoint OnTape(480, 100);
// 12:00:00 UTC of some day, in 100 ns units since 1601; tape entry i ticked 0.2 s * i later.
constexpr uint64_t Noon = 150000ull * 864000000000ull + 432000000000ull;
constexpr uint64_t Beat = 2000000;

using test::WaitFor;

bool SameCursor(const QCursor& a, const QCursor& b) {
    return a.shape() == b.shape() && a.pixmap().toImage() == b.pixmap().toImage() &&
           a.hotSpot() == b.hotSpot();
}

struct MouseTest : ::testing::Test {
    test::SignalSource Source;
    test::CountingSink Speaker;
    CChildView View{nullptr, &Source, &Speaker};
    AnalysisCore& Core = View.Core();

    void SetUp() override {
        View.Hooks.MessageSink = [](const QString&) {};
        Core.Settings.SampleRate = 48000;
        Core.Settings.Centre = 0;
        Core.Params.TickInterval = "18000 vph";
        Core.ParseTrain("18000 vph");
        View.App().PaperTape = 1;
        View.App().CursorDisk = 0;
        View.resize(W, H);
        View.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&View));
    }
    void TearDown() override {
        HideToolTip();
        if (View.Session().IsRunning()) View.Session().Run();
    }

    // --- Events, sent with the screen positions that belong to the client positions ---
    void Mouse(QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons held,
               Qt::KeyboardModifiers keys = {}) {
        QMouseEvent e(type, QPointF(p), QPointF(View.mapToGlobal(p)), button, held, keys);
        QApplication::sendEvent(&View, &e);
    }
    void Press(QPoint p, Qt::MouseButton b = Qt::LeftButton) {
        Mouse(QEvent::MouseButtonPress, p, b, b);
    }
    void Release(QPoint p, Qt::MouseButton b = Qt::LeftButton) {
        Mouse(QEvent::MouseButtonRelease, p, b, Qt::NoButton);
    }
    void Drag(QPoint p, Qt::MouseButtons held = Qt::LeftButton, Qt::KeyboardModifiers keys = {}) {
        Mouse(QEvent::MouseMove, p, Qt::NoButton, held, keys);
    }
    void Hover(QPoint p) { Mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton); }
    // As the window system delivers it: press, release, double click and, unless the button is
    // to stay down, release.
    void DoubleClick(QPoint p, bool release = true) {
        Press(p);
        Release(p);
        Mouse(QEvent::MouseButtonDblClick, p, Qt::LeftButton, Qt::LeftButton);
        if (release) Release(p);
    }
    void Wheel(QPoint p, int delta, Qt::MouseButtons held = {}, Qt::KeyboardModifiers keys = {}) {
        QWheelEvent e(QPointF(p), QPointF(View.mapToGlobal(p)), QPoint(), QPoint(0, delta), held,
                      keys, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&View, &e);
    }
    // The tool tip the view shows for a pointer resting at p, or "" when it shows none.
    QString ToolTipAt(QPoint p) {
        HideToolTip();
        QHelpEvent e(QEvent::ToolTip, p, View.mapToGlobal(p));
        QApplication::sendEvent(&View, &e);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }

    // Hides a shown tip at once (QToolTip::hideText lets it linger for a moment).
    static void HideToolTip() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("QTipLabel")) w->hide();
    }

    // --- State ---
    // Draws the view now, which records the hit rectangles.
    void Repaint() { View.repaint(); }

    // Measures `seconds` of a synthetic 18000 vph lever watch through the analysis, one beat per
    // buffer as the capture thread would hand them over, then stops.
    void FeedWatch(double seconds) {
        Core.BeginRun();
        FeedBuffers(seconds);
        Core.EndRun();
    }
    // The buffers alone, as in the middle of a run (Run would reset the tape's scroll).
    void FeedBuffers(double seconds) {
        synth::SynthOptions o;
        o.Seconds = seconds;
        const std::vector<int16_t> signal = synth::Synthesize(o).Samples;
        SetRunning(true);
        const size_t n = static_cast<size_t>(std::lround(Core.Derived.SamplesPerBeat));
        for (size_t at = 0; at + n <= signal.size(); at += n) {
            std::vector<int16_t> buffer(signal.begin() + at, signal.begin() + at + n);
            Core.ProcessBuffer(n, buffer.data(), Core.Derived.CaptureBufferCount - 1);
        }
        SetRunning(false);
    }
    void SetRunning(bool running) {
        const auto lock = Core.HoldAnalysis();
        Core.Measurement.Running = running;
    }

    // A tape written up to `writeIndex`, every slot ticked one beat (0.2 s) after the previous.
    void SetTape(int writeIndex, int feed = 1) {
        const auto lock = Core.HoldAnalysis();
        TapeState& t = Core.Tape;
        t.Entries.assign(static_cast<size_t>(writeIndex) + 1, TapeEntry{});
        for (int i = 0; i <= writeIndex; ++i)
            t.Entries[static_cast<size_t>(i)].Time = Noon + static_cast<uint64_t>(i) * Beat;
        t.TapeWriteIndex = writeIndex;
        View.Display.Scroll.Set(Core, 0);
        Core.Settings.SlowFeed = feed;
    }
    int Scroll() {
        const auto lock = Core.HoldAnalysis();
        return View.Display.Scroll.Offset(Core);
    }
    int WriteIndex() {
        const auto lock = Core.HoldAnalysis();
        return Core.Tape.TapeWriteIndex;
    }
    void SetScroll(int offset) {
        const auto lock = Core.HoldAnalysis();
        View.Display.Scroll.Set(Core, offset);
    }
    int Threshold() {
        const auto lock = Core.HoldAnalysis();
        return Core.Params.UnlockThreshold;
    }
    void SetThreshold(int u) {
        const auto lock = Core.HoldAnalysis();
        Core.Params.UnlockThreshold = u;
    }
    // The client height on the threshold line.
    static int ThresholdY(int u) { return (32767 - u) * H / 65535; }
    std::string Hovered() const { return View.Display.HoverText; }
};

// --- Unlock threshold ---

TEST_F(MouseTest, ThresholdLineFollowsADragWithinItsRange) {
    SetThreshold(1638);
    Repaint();
    const int y = ThresholdY(1638);
    Press({100, y + 3}); // within 300 threshold units of the line
    Drag({100, 200});
    EXPECT_EQ(Threshold(), 32767 - 200 * 65535 / H);
    Drag({100, -40});
    EXPECT_EQ(Threshold(), 32767);
    Drag({100, H + 40});
    EXPECT_EQ(Threshold(), 0);
    Drag({100, 360});
    EXPECT_EQ(Threshold(), 32767 - 360 * 65535 / H);
    Release({100, 360});
    Drag({100, 100}); // the button is up: no drag any more
    EXPECT_EQ(Threshold(), 32767 - 360 * 65535 / H);
}

TEST_F(MouseTest, APressAwayFromTheLineGrabsNothing) {
    SetThreshold(16000);
    Repaint();
    const int y = ThresholdY(16000);
    Press({100, y + 5}); // 435 units away
    Drag({100, 600});
    EXPECT_EQ(Threshold(), 16000);
    Release({100, 600});
    // A move without a button ends a drag that lost its button-up.
    Press({100, y});
    Hover({100, y + 100});
    Drag({100, 600});
    EXPECT_EQ(Threshold(), 16000);
}

TEST_F(MouseTest, WheelStepsTheThresholdOnlyNearItsLineAndKeepsThePointerOnIt) {
    SetThreshold(16000);
    Repaint();
    const int y = ThresholdY(16000);
    Wheel({100, y}, 120);
    EXPECT_EQ(Threshold(), 16120);
    EXPECT_EQ(QCursor::pos(), View.mapToGlobal(QPoint(100, ThresholdY(16120))));
    Wheel({100, ThresholdY(16120)}, -240);
    EXPECT_EQ(Threshold(), 15880);
    SetThreshold(32700);
    Wheel({100, 0}, 600);
    EXPECT_EQ(Threshold(), 32767);

    SetThreshold(16000);
    QTest::qWait(30);
    const int paints = View.PaintCount();
    Wheel({100, y + 100}, 120); // far from the line: nothing, not even a repaint
    QTest::qWait(30);
    EXPECT_EQ(Threshold(), 16000);
    EXPECT_EQ(View.PaintCount(), paints);
}

// --- Mute spans ---

struct MouseOnWatch : MouseTest {
    void SetUp() override {
        MouseTest::SetUp();
        FeedWatch(4.0);
        Repaint();
        ASSERT_FALSE(View.Display.PreUnlockRect.isEmpty());
        ASSERT_FALSE(View.Display.PostUnlockRect.isEmpty());
    }
    double PostTickMute() {
        const auto lock = Core.HoldAnalysis();
        return Core.Params.PostTickMute;
    }
    double MaxAmplitude() {
        const auto lock = Core.HoldAnalysis();
        return Core.Params.MaxAmplitude;
    }
};

TEST_F(MouseOnWatch, PreUnlockSpanDragSetsThePostTickMute) {
    const QPoint p = View.Display.PreUnlockRect.center();
    const double mute = PostTickMute();
    const int muteSamples = Core.Derived.MuteSamples;
    Press(p);
    Drag(p + QPoint(0, 1)); // not to the right: shorter mute
    Drag(p + QPoint(0, 2));
    EXPECT_NEAR(PostTickMute(), mute - 0.010, 1e-12);
    EXPECT_LT(Core.Derived.MuteSamples, muteSamples) << "the constants are recomputed";
    Drag(p + QPoint(5, 2));
    EXPECT_NEAR(PostTickMute(), mute - 0.005, 1e-12);
    for (int x = 6; x < 60; ++x)
        Drag(p + QPoint(x, 2));
    EXPECT_DOUBLE_EQ(PostTickMute(), 0.99);
    for (int x = 60; x > -300; --x)
        Drag(p + QPoint(x, 2));
    EXPECT_DOUBLE_EQ(PostTickMute(), 0.01);
    Release(p);
}

TEST_F(MouseOnWatch, PostUnlockSpanDragSetsTheMaximumAmplitude) {
    const QPoint p = View.Display.PostUnlockRect.center();
    const double amplitude = MaxAmplitude();
    const int liftMin = Core.Derived.LiftSamplesMin;
    Press(p);
    Drag(p + QPoint(0, 1)); // not to the right: a larger maximum amplitude
    EXPECT_DOUBLE_EQ(MaxAmplitude(), amplitude + 10);
    EXPECT_LT(Core.Derived.LiftSamplesMin, liftMin) << "the constants are recomputed";
    Drag(p + QPoint(3, 1));
    Drag(p + QPoint(4, 1));
    EXPECT_DOUBLE_EQ(MaxAmplitude(), amplitude - 10);
    for (int i = 0; i < 50; ++i)
        Drag(p + QPoint(4, 2 + i));
    EXPECT_DOUBLE_EQ(MaxAmplitude(), 400);
    for (int x = 5; x < 60; ++x)
        Drag(p + QPoint(x, 1));
    EXPECT_DOUBLE_EQ(MaxAmplitude(), 30);
}

TEST_F(MouseOnWatch, SpansShowTheirNameAndASidewaysPointerAndSwallowTheWheel) {
    const QPoint pre = View.Display.PreUnlockRect.center();
    const QPoint post = View.Display.PostUnlockRect.center();
    Hover(pre);
    EXPECT_EQ(Hovered(), "Pre-unlock mute");
    EXPECT_EQ(View.cursor().shape(), Qt::SizeHorCursor);
    EXPECT_EQ(ToolTipAt(pre), "Pre-unlock mute");
    Hover(post);
    EXPECT_EQ(Hovered(), "Post-unlock mute");
    EXPECT_EQ(View.cursor().shape(), Qt::SizeHorCursor);
    // The wheel over a span changes nothing, even with the threshold line right there.
    SetThreshold(32767 - post.y() * 65535 / H);
    const int u = Threshold();
    Wheel(post, 120);
    EXPECT_EQ(Threshold(), u);
}

// --- Manual cursor disk ---

struct MouseOnDisk : MouseTest {
    // The grip is the disk's right half; this point is right of the tape, above the threshold.
    const QPoint Grip{620, 60};
    void SetUp() override {
        MouseTest::SetUp();
        View.App().CursorDisk = 1;
        View.Display.ManualCursorDisk = true;
        SetTape(100);
        Repaint();
        ASSERT_TRUE(View.Display.DiskGripRect.contains(Grip));
        ASSERT_FALSE(View.Display.TapeRect.contains(Grip));
    }
    double Theta() const { return View.Display.Disk.Theta; }
};

TEST_F(MouseOnDisk, DraggingTurnsTheDiskFinerForSmallMovesAndTenfoldWithShift) {
    Press(Grip);
    Drag(Grip + QPoint(0, 1));
    EXPECT_NEAR(Theta(), -0.0001, 1e-12);
    Drag(Grip + QPoint(7, 21)); // 20 pixels at once
    EXPECT_NEAR(Theta(), -0.0601, 1e-12);
    Drag(Grip + QPoint(7, 18)); // 3 up
    EXPECT_NEAR(Theta(), -0.0598, 1e-12);
    Drag(Grip + QPoint(0, 19), Qt::LeftButton, Qt::ShiftModifier); // 1 pixel counts as 10
    EXPECT_NEAR(Theta(), -0.0698, 1e-12);
    Drag(Grip + QPoint(0, 19)); // no vertical movement
    EXPECT_NEAR(Theta(), -0.0698, 1e-12);
    Release(Grip);

    CursorDiskRecord expected = View.Display.Disk;
    UpdateDiskChords(expected);
    EXPECT_EQ(View.Display.Disk.ChordStart, expected.ChordStart) << "chords follow the angle";
    EXPECT_EQ(View.Display.Disk.ChordEnd, expected.ChordEnd);
}

TEST_F(MouseOnDisk, WheelTurnsTheDiskAndADoubleClickSetsItStraight) {
    Wheel(Grip, 120);
    EXPECT_NEAR(Theta(), 0.0012, 1e-12);
    Wheel(Grip, -240, Qt::NoButton, Qt::ShiftModifier);
    EXPECT_NEAR(Theta(), 0.0012 - 0.024, 1e-12);
    Wheel(Grip, 120, Qt::RightButton);
    EXPECT_NEAR(Theta(), 0.0012 - 0.012, 1e-12);
    Hover(Grip);
    EXPECT_EQ(Hovered(), "Manual cursor disk rotate");
    EXPECT_EQ(View.cursor().shape(), Qt::SizeVerCursor);

    SetScroll(30);
    DoubleClick(Grip, false);
    EXPECT_EQ(Theta(), 0.0);
    EXPECT_EQ(Scroll(), 30) << "on the grip the tape stays scrolled";
    Drag(Grip + QPoint(0, 2)); // and the double click went on as a press on the grip
    EXPECT_NEAR(Theta(), -0.0002, 1e-12);
    Release(Grip);
}

TEST_F(MouseOnDisk, AnAutomaticDiskHasNoGrip) {
    View.Display.ManualCursorDisk = false;
    Repaint();
    const double theta = Theta();
    Press(Grip);
    Drag(Grip + QPoint(0, 10));
    Release(Grip);
    Wheel(Grip, 120);
    EXPECT_EQ(Theta(), theta);
    Hover(Grip);
    EXPECT_EQ(Hovered(), "");
}

// --- Tape scrolling ---

TEST_F(MouseTest, DraggingTheTapeScrollsItByRowsInEachFeed) {
    struct Case {
        int Feed;
        std::vector<std::pair<int, int>> Moves; // pointer y, scroll offset after the move
    };
    const std::vector<Case> cases = {
        {1, {{90, 10}, {95, 5}, {200, 0}, {150, 50}}},
        {10, {{97, 30}, {99, 10}, {140, 0}, {130, 100}}},
        // 10 rows per entry: whole entries only, the remainder is kept for the next move.
        {-10, {{75, 2}, {76, 2}, {70, 3}, {64, 3}, {61, 3}, {60, 4}, {200, 0}}},
    };
    for (const Case& c : cases) {
        SetTape(5000, c.Feed);
        Repaint();
        Press(OnTape);
        for (auto [y, offset] : c.Moves) {
            Drag({480, y});
            EXPECT_EQ(Scroll(), offset) << "feed " << c.Feed << ", y " << y;
        }
        Release(OnTape);
    }
    // Shift drags five times as fast.
    SetTape(5000, 1);
    Press(OnTape);
    Drag(OnTape - QPoint(0, 4), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(Scroll(), 20);
    Release(OnTape);
}

TEST_F(MouseTest, WheelScrollsTheTapeOneEntryPerNotchWithinItsLength) {
    SetTape(50); // 52 rows of tape
    Repaint();
    const QPoint OnTape(480, 20);
    Wheel(OnTape, 120);
    EXPECT_EQ(Scroll(), 1);
    Wheel(OnTape, 15); // a fine-resolution wheel: still one entry
    EXPECT_EQ(Scroll(), 2);
    Wheel(OnTape, 360);
    EXPECT_EQ(Scroll(), 3);
    Wheel(OnTape, 120, Qt::NoButton, Qt::ShiftModifier);
    EXPECT_EQ(Scroll(), 13);
    Wheel(OnTape, -120);
    EXPECT_EQ(Scroll(), 12);
    for (int i = 0; i < 6; ++i)
        Wheel(OnTape, 120, Qt::RightButton);
    EXPECT_EQ(Scroll(), 50) << "never beyond the write index";
    for (int i = 0; i < 7; ++i)
        Wheel(OnTape, -120, Qt::NoButton, Qt::ShiftModifier);
    EXPECT_EQ(Scroll(), 0);
}

TEST_F(MouseTest, DoubleClickOnAScrolledTapeReturnsToTheNewestEntriesAndEndsThere) {
    SetTape(500);
    SetScroll(120);
    Repaint();
    DoubleClick(OnTape);
    EXPECT_EQ(Scroll(), 0);
    Drag(OnTape - QPoint(0, 10)); // the double click started no drag
    EXPECT_EQ(Scroll(), 0);
    // On a tape at its newest entries the double click is a press like any other.
    DoubleClick(OnTape, false);
    Drag(OnTape - QPoint(0, 10));
    EXPECT_EQ(Scroll(), 10);
    Release(OnTape);
}

TEST_F(MouseTest, AHiddenTapeIsNotGrabbed) {
    SetTape(500);
    View.App().PaperTape = 0;
    Repaint();
    EXPECT_TRUE(View.Display.TapeRect.isEmpty());
    Press(OnTape);
    Drag(OnTape - QPoint(0, 10));
    Wheel(OnTape, 120);
    EXPECT_EQ(Scroll(), 0);
}

// --- Hover over the tape ---

TEST_F(MouseTest, HoverOverTheTapeShowsTheTimeOfTheRowInEachFeed) {
    struct Case {
        int Feed;
        const char* Expected; // at y = 100 with the write index at 3000
    };
    // Row 100 holds entry 2900 (feed 1), 2000 (feed 1/10) or 2990 (feed 10).
    for (const Case& c :
         {Case{1, "12:09:40.000"}, Case{10, "12:06:40.000"}, Case{-10, "12:09:58.000"}}) {
        SetTape(3000, c.Feed);
        Repaint();
        Hover(OnTape);
        EXPECT_TRUE(View.Display.PointerOverTape);
        EXPECT_EQ(Hovered(), c.Expected) << c.Feed;
        EXPECT_EQ(ToolTipAt(OnTape).toStdString(), c.Expected) << "stopped: shown as a tool tip";
    }
    // A row whose entry and the four after it have no tick shows nothing.
    SetTape(3000, 1);
    {
        const auto lock = Core.HoldAnalysis();
        for (int i = 2900; i < 2905; ++i)
            Core.Tape.Entries[static_cast<size_t>(i)].Time = 0;
        Core.Tape.Entries[2905].Time = Noon;
    }
    Hover(OnTape + QPoint(0, 1)); // entry 2899
    EXPECT_EQ(Hovered(), "12:09:39.800");
    Hover(OnTape - QPoint(0, 1)); // entries 2901 .. 2905: the first ticked one counts
    EXPECT_EQ(Hovered(), "12:00:00.000");
    Hover(OnTape); // entries 2900 .. 2904
    EXPECT_EQ(Hovered(), "");
    EXPECT_EQ(ToolTipAt(OnTape), "");
    Hover({100, 650});
    EXPECT_FALSE(View.Display.PointerOverTape);
}

// --- Time marking ---

TEST_F(MouseTest, RightDragMarksTheTimeBetweenTwoRows) {
    SetTape(3000);
    Repaint();
    Press(OnTape, Qt::RightButton);
    EXPECT_TRUE(View.Display.TapeMarking);
    EXPECT_EQ(View.Display.MarkedRow, OnTape);
    EXPECT_EQ(View.Display.MarkedTime, Noon + 2900 * Beat);
    EXPECT_EQ(Hovered(), "0:0:0");
    EXPECT_TRUE(SameCursor(View.cursor(), MarkingCursor()));
    Drag({480, 150}, Qt::RightButton); // 50 rows lower: 50 beats earlier
    EXPECT_EQ(Hovered(), "-00:00:10.000");
    Drag({300, 55}, Qt::RightButton); // off the tape
    EXPECT_EQ(Hovered(), "");
    Drag({480, 55}, Qt::RightButton);
    EXPECT_EQ(Hovered(), "00:00:09.000");
    Drag({480, 100}, Qt::RightButton);
    EXPECT_EQ(Hovered(), "");
    Release({480, 100}, Qt::RightButton);
    EXPECT_FALSE(View.Display.TapeMarking);
    EXPECT_EQ(Hovered(), "");
}

TEST_F(MouseTest, MarkingScrollsWhileThePointerIsOutsideAndPutsTheTapeBackOnRelease) {
    SetTape(3000);
    Repaint();
    Press(OnTape, Qt::RightButton);
    Drag({480, H + 40}, Qt::RightButton); // below the window
    EXPECT_EQ(Scroll(), 40);
    EXPECT_EQ(View.Display.MarkedRow.y(), 60) << "the marked row moves with the tape";
    EXPECT_EQ(View.Display.MarkedTime, Noon + 2900 * Beat);
    EXPECT_EQ(View.Timers().Interval(TimerPointer), 20);
    // Timer 105 repeats the move while the pointer stays out: the tape keeps scrolling.
    ASSERT_TRUE(WaitFor([&] { return Scroll() >= 160; }, 2000));
    Drag({480, -30}, Qt::RightButton); // above the window: back toward the newest entries
    const int scrolled = Scroll();
    EXPECT_EQ(View.Display.MarkedTime, Noon + 2900 * Beat);
    ASSERT_TRUE(WaitFor([&] { return Scroll() == 0; }, 2000));
    EXPECT_GE(scrolled, 130);
    EXPECT_EQ(View.Display.MarkedRow.y(), 100);
    Drag({480, H + 10}, Qt::RightButton);
    Release({480, H + 10}, Qt::RightButton);
    EXPECT_EQ(Scroll(), 0) << "the tape is back where it was";
    QTest::qWait(60);
    EXPECT_EQ(Scroll(), 0) << "and the timer no longer scrolls it";
}

TEST_F(MouseTest, MarkingOnAScrolledTapeWhileTheTapeAdvancesReturnsToTheSameEntries) {
    SetTape(3000);
    SetScroll(200);
    Repaint();
    Press(OnTape, Qt::RightButton);
    EXPECT_EQ(View.Display.MarkedTime, Noon + 2700 * Beat);
    Wheel(OnTape, 120, Qt::RightButton); // fast while the right button is down
    EXPECT_EQ(Scroll(), 210);
    EXPECT_EQ(View.Display.MarkedRow.y(), 90);
    // The analysis holds the view still while it advances, a slot per beat.
    FeedBuffers(5.0);
    const int advanced = WriteIndex() - 3000;
    EXPECT_GE(advanced, 20);
    EXPECT_EQ(Scroll(), 210 + advanced);
    Release(OnTape, Qt::RightButton);
    EXPECT_EQ(Scroll(), 200 + advanced) << "back to the entries in view before the marking";
    // From the newest entries the marking returns to the newest entries.
    SetScroll(0);
    const int start = WriteIndex();
    Press(OnTape, Qt::RightButton);
    FeedBuffers(2.0);
    EXPECT_GE(WriteIndex() - start, 8);
    EXPECT_EQ(Scroll(), WriteIndex() - start);
    Release(OnTape, Qt::RightButton);
    EXPECT_EQ(Scroll(), 0);
}

TEST_F(MouseTest, AMarkingEndedByAnotherButtonStillPutsTheTapeBack) {
    SetTape(3000);
    SetScroll(5);
    Repaint();
    Press(OnTape, Qt::RightButton);
    Wheel(OnTape, 120, Qt::RightButton);
    EXPECT_EQ(Scroll(), 15);
    const QPoint line(100, ThresholdY(Threshold()));
    Press(line); // a left press on the threshold line: a new drag ends the marking
    EXPECT_FALSE(View.Display.TapeMarking);
    EXPECT_EQ(Scroll(), 5);
    Release(line);
    Release(OnTape, Qt::RightButton);
    EXPECT_EQ(Scroll(), 5);
}

// --- Tooth chart ---

TEST_F(MouseTest, DoubleClickRescalesTheToothChartToItsLargestBar) {
    const auto setResidual = [&](int tooth, double value) {
        const auto lock = Core.HoldAnalysis();
        Core.Measurement.ToothResidual[static_cast<size_t>(tooth)] = value;
    };
    {
        const auto lock = Core.HoldAnalysis();
        Core.Params.EscapeWheelTeeth = 15;
        Core.Detector.BeatCount = 10;
        Core.Measurement.ToothResidual.fill(0.0);
    }
    setResidual(3, 1e-13);
    setResidual(20, 0.5); // beyond the wheel's teeth
    Repaint();
    const QRect chart = View.Display.ToothChartRect;
    ASSERT_FALSE(chart.isEmpty());
    const QPoint p = chart.center();
    Hover(p);
    EXPECT_EQ(Hovered(), "Double click to rescale");
    EXPECT_EQ(View.cursor().shape(), Qt::SizeVerCursor);
    DoubleClick(p);
    EXPECT_DOUBLE_EQ(View.Display.ToothChartScale, 100.0) << "no bar: the scale stays";

    setResidual(3, -0.002);
    setResidual(7, 0.0015);
    DoubleClick(p);
    EXPECT_DOUBLE_EQ(View.Display.ToothChartScale, 500.0);
    setResidual(3, 1e-6);
    setResidual(7, 0.0);
    DoubleClick(p);
    EXPECT_DOUBLE_EQ(View.Display.ToothChartScale, 50000.0);
    // Elsewhere a double click leaves the scale alone.
    setResidual(3, -0.002);
    DoubleClick({100, 600});
    EXPECT_DOUBLE_EQ(View.Display.ToothChartScale, 50000.0);
}

// --- Double click at the top right ---

TEST_F(MouseTest, DoubleClickAtTheTopRightAsksForTheTitleOrTheWaveformFile) {
    QSignalSpy requests(&View, &CChildView::CommandRequested);
    const QPoint corner(W * 2 / 3 + 1, H / 32 - 1);
    DoubleClick(corner);
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0][0].toInt(), cmd::Title);
    DoubleClick({W * 2 / 3, 5});
    DoubleClick({W - 5, H / 32});
    EXPECT_EQ(requests.size(), 1) << "only the corner";

    const auto file = std::filesystem::temp_directory_path() /
                      ("kv-mouse-" + std::to_string(::getpid()) + ".wav");
    View.App().WaveFile2 = file.string();
    View.Session().ToggleRecording();
    ASSERT_TRUE(View.Session().WaveformState().Recording());
    DoubleClick(corner);
    EXPECT_EQ(requests.size(), 1) << "no title dialog while recording";
    View.Session().ToggleRecording();
    std::filesystem::remove(file);

    synth::SynthOptions o;
    o.Seconds = 2;
    ASSERT_TRUE(WriteWaveFile(file.string(), synth::Synthesize(o).Samples, 48000, 1));
    View.Session().SetWaveformFile(file.string());
    ASSERT_TRUE(View.Session().WaveformState().Playing());
    DoubleClick(corner);
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[1][0].toInt(), cmd::ChooseWaveform);
    View.Session().TogglePlayback();
    if (View.Session().IsRunning()) View.Session().Run();
    std::filesystem::remove(file);
}

// --- Pointer shapes and tool tips ---

TEST_F(MouseTest, PointerShapesFollowWhatAPressWouldGrab) {
    SetTape(3000);
    SetThreshold(1638);
    Repaint();
    Hover(OnTape);
    EXPECT_TRUE(SameCursor(View.cursor(), TapeCursor()));
    EXPECT_FALSE(SameCursor(TapeCursor(), MarkingCursor()));
    Hover({100, ThresholdY(1638)});
    EXPECT_EQ(View.cursor().shape(), Qt::SizeVerCursor);
    EXPECT_EQ(Hovered(), "Unlock threshold");
    EXPECT_EQ(ToolTipAt({100, ThresholdY(1638)}), "Unlock threshold");
    Hover({100, 600});
    EXPECT_EQ(View.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(Hovered(), "");
    EXPECT_EQ(ToolTipAt({100, 600}), "");
}

TEST_F(MouseTest, ToolTipIsLimitedToEightyCharacters) {
    View.Display.HoverText = std::string(100, 'x');
    EXPECT_EQ(ToolTipAt({100, 600}), QString(80, 'x'));
}

TEST_F(MouseTest, NoToolTipOverTheRunningTapeWhereTheTimeIsDrawnInstead) {
    synth::SynthOptions o;
    o.Seconds = 30;
    Source.Signal = synth::Synthesize(o).Samples;
    Source.Speed = 4.0;
    View.Session().Run();
    ASSERT_TRUE(View.Session().IsRunning());
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto lock = Core.HoldAnalysis();
            return Core.Tape.TapeWriteIndex > 30;
        },
        10000));
    const QPoint p(480, 12);
    Repaint();
    Hover(p);
    ASSERT_TRUE(View.Display.PointerOverTape);
    ASSERT_NE(Hovered(), "");
    EXPECT_EQ(ToolTipAt(p), "");
    // The pointer rests; the tape moves on under it and the drawn time follows.
    const std::string first = Hovered();
    EXPECT_TRUE(WaitFor([&] { return Hovered() != first && !Hovered().empty(); }, 3000));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&View, &leave);
    EXPECT_FALSE(View.Display.PointerOverTape);
    EXPECT_FALSE(View.Timers().IsActive(TimerPointer)) << "nothing to refresh once it has left";
    View.Session().Run(); // stopped: the same place has its tool tip
    Hover(p);
    EXPECT_EQ(ToolTipAt(p).toStdString(), Hovered());
    EXPECT_NE(Hovered(), "");
}

} // namespace
} // namespace kv
