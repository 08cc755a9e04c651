// SPDX-License-Identifier: GPL-3.0-or-later
// The main frame: its bars, full-screen mode and the saved window placement.
#include <gtest/gtest.h>

#include <QMenuBar>
#include <QStatusBar>
#include <QTest>

#include "SignalSource.h"
#include "ui/app/MainFrame.h"
#include "ui/bars/SettingsBar.h"

namespace kv {
namespace {

TEST(WindowPlacementText, RoundTripsAllTenNumbers) {
    WindowPlacement p;
    p.Show = ShowState::Maximized;
    p.Normal = QRect(QPoint(10, 20), QPoint(809, 619));
    EXPECT_EQ(p.Format(), "0,3,-1,-1,-1,-1,10,20,810,620");
    const auto back = WindowPlacement::Parse(p.Format());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->Show, ShowState::Maximized);
    EXPECT_EQ(back->Normal, p.Normal);
}

TEST(WindowPlacementText, FewerThanTenNumbersOrGarbageIsRefused) {
    EXPECT_FALSE(WindowPlacement::Parse("").has_value());
    EXPECT_FALSE(WindowPlacement::Parse("0,1,-1,-1,-1,-1,10,20,810").has_value());
    EXPECT_FALSE(WindowPlacement::Parse("0,1,-1,-1,-1,-1,10,20,810,x").has_value());
    const auto minimized = WindowPlacement::Parse("2,2,-1,-1,-1,-1,0,0,640,480");
    ASSERT_TRUE(minimized.has_value());
    EXPECT_EQ(minimized->Show, ShowState::Minimized);
}

struct FrameFixture : ::testing::Test {
    test::SignalSource Source;
    test::CountingSink Speaker; // the machine's sound system is never opened
    CMainFrame Frame{CMainFrame::Options{nullptr, &Source, &Speaker, {}}};
};

TEST_F(FrameFixture, TitleViewAndBarsArePresent) {
    EXPECT_EQ(Frame.windowTitle(), "Watch Escapement Analyser and Timer");
    EXPECT_EQ(Frame.centralWidget(), &Frame.View());
    EXPECT_EQ(Frame.Settings().TrainBox()->currentText(), "18000 vph");
    EXPECT_EQ(Frame.Settings().LiftBox()->currentText(), QString::fromUtf8("52 \u00b0"));
    EXPECT_EQ(Frame.Settings().MeasuringTimeBox()->currentText(), "8.00 sec");
}

TEST_F(FrameFixture, F11TwiceReturnsToTheNormalFrame) {
    Frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Frame));
    QTest::keyClick(&Frame, Qt::Key_F11);
    EXPECT_TRUE(Frame.IsFullScreenMode());
    EXPECT_FALSE(Frame.menuBar()->isVisible());
    EXPECT_FALSE(Frame.statusBar()->isVisible());
    EXPECT_FALSE(Frame.Settings().isVisible());
    QTest::keyClick(&Frame, Qt::Key_F11);
    EXPECT_FALSE(Frame.IsFullScreenMode());
    EXPECT_TRUE(Frame.menuBar()->isVisible());
    EXPECT_TRUE(Frame.statusBar()->isVisible());
    EXPECT_TRUE(Frame.Settings().isVisible());
}

TEST_F(FrameFixture, ClosingHandsOverThePlacement) {
    QString saved;
    Frame.SavePlacement = [&](const QString& text) { saved = text; };
    Frame.setGeometry(50, 60, 700, 500);
    Frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Frame));
    Frame.close();
    const auto p = WindowPlacement::Parse(saved);
    ASSERT_TRUE(p.has_value()) << saved.toStdString();
    EXPECT_EQ(p->Show, ShowState::Normal);
    EXPECT_EQ(p->Normal.size(), QSize(700, 500));
}

TEST_F(FrameFixture, MeasuringTimeBoxShowsMinutesAndHours) {
    EXPECT_EQ(MeasuringTimeBoxText(59.5), "59.50 sec");
    EXPECT_EQ(MeasuringTimeBoxText(90), "1.50 min");
    EXPECT_EQ(MeasuringTimeBoxText(5400), "1.50 hour");
    EXPECT_EQ(LiftBoxText(52.5), QString::fromUtf8("52.5 \u00b0"));
}

} // namespace
} // namespace kv
