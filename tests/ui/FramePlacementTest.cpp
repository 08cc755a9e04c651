// SPDX-License-Identifier: GPL-3.0-or-later
// Where and how the frame comes back at start-up, what closing saves, and full-screen mode with
// its keyboard menu bar. These tests run on the offscreen platform and, through
// scripts/with-window-manager.sh, on an X server under a real window manager (openbox), which
// decides placement and state asynchronously: every check waits for the frame to settle.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <filesystem>
#include <memory>
#include <ostream>
#include <unistd.h>

#include "../settings/SettingsTestSupport.h"
#include "PumpEvents.h"
#include "SignalSource.h"
#include "ui/app/MainFrame.h"
#include "ui/bars/SettingsBar.h"

void PrintTo(const QRect& r, std::ostream* out) {
    *out << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}

namespace kv {
namespace {

namespace fs = std::filesystem;

// Longest wait for a window manager to finish a change of state or geometry.
constexpr int SettleLimitMs = 8000;
// A frame counts as settled when neither its state nor its geometry changed for this long.
constexpr int QuietMs = 500;
// Polling period while waiting.
constexpr int PollMs = 20;

// Waits until the window manager has finished with the frame.
void Settle(QWidget& frame) {
    const auto snapshot = [&frame] {
        return std::make_pair(frame.windowState(), frame.geometry());
    };
    auto last = snapshot();
    QElapsedTimer total, quiet;
    total.start();
    quiet.start();
    while (total.elapsed() < SettleLimitMs && quiet.elapsed() < QuietMs) {
        QTest::qWait(PollMs);
        const auto now = snapshot();
        if (now != last) {
            last = now;
            quiet.restart();
        }
    }
}

// Waits for a condition the event loop brings about.
template <typename Condition> bool WaitFor(Condition condition) {
    return test::WaitFor(condition, SettleLimitMs, PollMs);
}

QRect Available(const QWidget& frame) {
    return frame.screen()->availableGeometry();
}

struct FrameStart : ::testing::Test {
    fs::path Folder = fs::temp_directory_path() / ("kv-placement-" + std::to_string(::getpid()));
    test::ScopedEnvironment Environment{{"XDG_CONFIG_HOME", (Folder / "config").string()},
                                        {"XDG_DATA_HOME", (Folder / "data").string()},
                                        {"XDG_DOCUMENTS_DIR", (Folder / "documents").string()}};
    test::SignalSource Source;
    test::CountingSink Speaker;
    std::unique_ptr<SettingsStore> Store;
    std::unique_ptr<CMainFrame> Frame;
    QString Saved; // the placement text the last close saved

    void SetUp() override { fs::create_directories(Folder); }
    void TearDown() override {
        Frame.reset();
        Store.reset();
        fs::remove_all(Folder);
    }

    // Starts the frame as the program does, with `windowPos` (if not empty) saved before.
    CMainFrame& Start(const QString& windowPos) {
        Frame.reset();
        Store = std::make_unique<SettingsStore>((Folder / "config" / "Kestrovane.ini").string());
        if (!windowPos.isEmpty()) Store->WriteText("Initial", "WindowPos", windowPos.toStdString());
        Frame =
            std::make_unique<CMainFrame>(CMainFrame::Options{Store.get(), &Source, &Speaker, {}});
        Frame->View().Hooks.MessageSink = [](const QString&) {};
        Frame->ShowAtStart();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Frame.get()));
        Settle(*Frame);
        return *Frame;
    }
    WindowPlacement Close() {
        Frame->SavePlacement = [this](const QString& text) { Saved = text; };
        Frame->close();
        const auto placement = WindowPlacement::Parse(Saved);
        EXPECT_TRUE(placement.has_value()) << Saved.toStdString();
        return placement.value_or(WindowPlacement{});
    }
    void Press(Qt::Key key) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(Frame.get()));
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : Frame.get();
        QTest::keyClick(target, key);
    }
};

// A rectangle that fits on the offscreen platform's screen and on the window manager's.
// It is narrower than the tool bar, whose buttons take a second row, and tall enough for that.
const QRect Rectangle(60, 80, 720, 500);
const QString NormalAtRectangle = "0,1,-1,-1,-1,-1,60,80,780,580";
const QString MaximizedWithRectangle = "2,3,-1,-1,-1,-1,60,80,780,580";

using FramePlacement = FrameStart;

TEST_F(FramePlacement, FirstStartIsMaximizedAndRestoresToAUsefulSize) {
    CMainFrame& frame = Start(QString());
    EXPECT_TRUE(frame.isMaximized());
    frame.showNormal();
    Settle(frame);
    EXPECT_FALSE(frame.isMaximized());
    EXPECT_GE(frame.width(), Available(frame).width() / 2) << "not a strip";
    EXPECT_GE(frame.height(), Available(frame).height() / 2) << "not a strip";
}

TEST_F(FramePlacement, SavedNormalFrameComesBackNormalAtItsRectangle) {
    CMainFrame& frame = Start(NormalAtRectangle);
    EXPECT_FALSE(frame.isMaximized());
    EXPECT_EQ(frame.geometry(), Rectangle);
    const WindowPlacement saved = Close();
    EXPECT_EQ(saved.Show, ShowState::Normal);
    EXPECT_EQ(saved.Normal, Rectangle);
}

TEST_F(FramePlacement, SavedMaximizedFrameComesBackMaximizedAndRestoresToItsRectangle) {
    CMainFrame& frame = Start(MaximizedWithRectangle);
    EXPECT_TRUE(frame.isMaximized());
    frame.showNormal();
    Settle(frame);
    EXPECT_FALSE(frame.isMaximized());
    EXPECT_EQ(frame.geometry(), Rectangle);
}

// Maximized by the user, closed; full screen, closed; restored, closed: the normal rectangle
// comes through every restart.
TEST_F(FramePlacement, NormalRectangleSurvivesRestartsInEveryState) {
    Start(NormalAtRectangle).showMaximized();
    Settle(*Frame);
    WindowPlacement saved = Close();
    EXPECT_EQ(saved.Show, ShowState::Maximized);
    EXPECT_EQ(saved.Normal, Rectangle);

    CMainFrame& second = Start(Saved);
    EXPECT_TRUE(second.isMaximized());
    second.ToggleFullScreen();
    Settle(second);
    saved = Close();
    EXPECT_EQ(saved.Show, ShowState::Maximized);
    EXPECT_EQ(saved.Normal, Rectangle);

    CMainFrame& third = Start(Saved);
    EXPECT_TRUE(third.isMaximized());
    third.showNormal();
    Settle(third);
    EXPECT_EQ(third.geometry(), Rectangle);
    saved = Close();
    EXPECT_EQ(saved.Show, ShowState::Normal);
    EXPECT_EQ(saved.Normal, Rectangle);
}

TEST_F(FramePlacement, ClosingInFullScreenSavesMaximizedWithTheNormalRectangle) {
    CMainFrame& frame = Start(NormalAtRectangle);
    frame.ToggleFullScreen();
    Settle(frame);
    ASSERT_TRUE(frame.isFullScreen());
    const WindowPlacement saved = Close();
    EXPECT_EQ(saved.Show, ShowState::Maximized);
    EXPECT_EQ(saved.Normal, Rectangle);
}

TEST_F(FramePlacement, RectangleOffEveryScreenIsBroughtOntoTheScreen) {
    CMainFrame& frame = Start("0,1,-1,-1,-1,-1,30000,30000,30720,30500");
    EXPECT_FALSE(frame.isMaximized());
    EXPECT_TRUE(Available(frame).contains(frame.geometry().center()));
    EXPECT_EQ(frame.size(), Rectangle.size());
}

using FullScreen = FrameStart;

TEST_F(FullScreen, F11TwiceFromTheMaximizedStartGivesTheNormalFrameWithItsBars) {
    CMainFrame& frame = Start(QString());
    ASSERT_TRUE(frame.isMaximized());
    Press(Qt::Key_F11);
    Settle(frame);
    EXPECT_TRUE(frame.isFullScreen());
    EXPECT_EQ(frame.geometry(), frame.screen()->geometry());
    EXPECT_FALSE(frame.menuBar()->isVisible());
    EXPECT_FALSE(frame.statusBar()->isVisible());
    EXPECT_FALSE(frame.Settings().isVisible());
    Press(Qt::Key_F11);
    Settle(frame);
    EXPECT_FALSE(frame.isFullScreen());
    EXPECT_FALSE(frame.isMaximized());
    EXPECT_GE(frame.width(), Available(frame).width() / 2) << "not a strip";
    EXPECT_GE(frame.height(), Available(frame).height() / 2) << "not a strip";
    EXPECT_TRUE(frame.menuBar()->isVisible());
    EXPECT_TRUE(frame.statusBar()->isVisible());
    EXPECT_TRUE(frame.Settings().isVisible());
}

TEST_F(FullScreen, F11TwiceFromANormalFrameReturnsToItsRectangle) {
    CMainFrame& frame = Start(NormalAtRectangle);
    Press(Qt::Key_F11);
    Settle(frame);
    EXPECT_TRUE(frame.isFullScreen());
    Press(Qt::Key_F11);
    Settle(frame);
    EXPECT_FALSE(frame.isFullScreen());
    EXPECT_EQ(frame.geometry(), Rectangle);
}

QMenu* OpenMenu() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

TEST_F(FullScreen, MenuBarShowsWhileUsedFromTheKeyboard) {
    CMainFrame& frame = Start(NormalAtRectangle);
    Press(Qt::Key_F11);
    Settle(frame);
    ASSERT_FALSE(frame.menuBar()->isVisible());

    Press(Qt::Key_F10);
    EXPECT_TRUE(frame.menuBar()->isVisible());
    ASSERT_TRUE(WaitFor([] { return OpenMenu() != nullptr; }));
    EXPECT_EQ(OpenMenu()->title(), "&File");
    QTest::keyClick(OpenMenu(), Qt::Key_Escape);      // closes the menu
    QTest::keyClick(frame.menuBar(), Qt::Key_Escape); // leaves the menu bar
    EXPECT_TRUE(WaitFor([&] { return !frame.menuBar()->isVisible(); }));

    // Alt alone, then the View menu's first item: full screen ends.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &frame;
    QTest::keyPress(target, Qt::Key_Alt);
    QTest::keyRelease(target, Qt::Key_Alt);
    EXPECT_TRUE(frame.menuBar()->isVisible());
    ASSERT_TRUE(WaitFor([] { return OpenMenu() != nullptr; }));
    QTest::keyClick(OpenMenu(), Qt::Key_Left);
    ASSERT_TRUE(WaitFor([] { return OpenMenu() && OpenMenu()->title() == "&Help"; }));
    QTest::keyClick(OpenMenu(), Qt::Key_Left);
    ASSERT_TRUE(WaitFor([] { return OpenMenu() && OpenMenu()->title() == "View"; }));
    QTest::keyClick(OpenMenu(), Qt::Key_Return);
    Settle(frame);
    EXPECT_FALSE(frame.IsFullScreenMode());
    EXPECT_TRUE(frame.menuBar()->isVisible());
}

TEST_F(FullScreen, AltWithAnotherKeyDoesNotOpenTheMenuBar) {
    CMainFrame& frame = Start(NormalAtRectangle);
    Press(Qt::Key_F11);
    Settle(frame);
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &frame;
    QTest::keyPress(target, Qt::Key_Alt);
    QTest::keyClick(target, Qt::Key_Backspace, Qt::AltModifier);
    QTest::keyRelease(target, Qt::Key_Alt);
    QTest::qWait(QuietMs);
    EXPECT_FALSE(frame.menuBar()->isVisible());
    EXPECT_EQ(OpenMenu(), nullptr);
}

} // namespace
} // namespace kv
