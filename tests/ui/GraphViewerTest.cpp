// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer window driven through the view's commands, the mouse and the keys: opening and
// closing at the stored place, the time window chosen with clicks and panned with Shift, the
// read-out and the spectrum chosen with Shift, F11, following the log, and cutting a section.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../settings/SettingsTestSupport.h"
#include "PumpEvents.h"
#include "SignalSource.h"
#include "settings/SettingsStore.h"
#include "ui/common/CommandTable.h"
#include "ui/logview/GraphCanvas.h"
#include "ui/logview/GraphDates.h"
#include "ui/logview/GraphRenderer.h"
#include "ui/logview/GraphView.h"
#include "ui/logview/PostDia.h"
#include "ui/view/ChildView.h"

namespace kv {
namespace {

using test::WaitFor;

constexpr int64_t kStart = 1700000000;
constexpr int kStep = 60;             // one record a minute
constexpr int kRecords = 10 * 60 + 1; // ten hours, both ends included
constexpr int64_t kHour = 3600;
constexpr int kWaitMs = 3000;
const QSize kViewerSize(1570, 1061); // about two pixels per logical unit pair

std::vector<int64_t> LineTimes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<int64_t> times;
    for (std::string line; std::getline(in, line);)
        times.push_back(std::stoll(line.substr(0, line.find('\t'))));
    return times;
}

struct GraphViewerTest : ::testing::Test {
    test::TempFolder Folder;
    test::ScopedEnvironment Environment{{"XDG_DATA_HOME", Folder / "data"}};
    SettingsStore Store{Folder / "settings.ini"};
    test::SignalSource Source;
    test::CountingSink Speaker;
    CChildView View{nullptr, &Source, &Speaker};
    std::string Log = Folder / "watch.log";
    QStringList Questions;
    bool Answer = true;

    void SetUp() override {
        // Only the rate, unfiltered and unheld: one strip over the whole plot.
        Store.WriteInt("Graph", "Filter0", 0);
        Store.WriteInt("Graph", "HoldMax0", 0);
        Store.WriteInt("Graph", "HoldMin0", 0);
        Store.WriteInt("Graph", "TraceEnabled0", 1);
        Store.WriteInt("Graph", "GraphTrace0", 0);
        for (int i = 1; i < TraceCount; ++i)
            Store.WriteInt("Graph", "TraceEnabled" + std::to_string(i), 0);
        View.OnCreate(&Store);
        View.App().LogFile2 = Log;
        View.Hooks.ConfirmHook = [this](const QString& q) {
            Questions << q;
            return Answer;
        };
        WriteLog();
    }
    void TearDown() override {
        if (CGraphView* viewer = View.LogViewer()) delete viewer;
        View.OnDestroy();
    }

    void WriteLog() {
        std::ofstream out(Log, std::ios::binary);
        for (int i = 0; i < kRecords; ++i)
            out << kStart + int64_t{i} * kStep << '\t' << std::sin(i / 20.0) * 5 << "\r\n";
    }

    CGraphView* Open() {
        EXPECT_TRUE(View.OnCommand(cmd::ShowViewer));
        CGraphView* viewer = View.LogViewer();
        EXPECT_NE(viewer, nullptr);
        return viewer;
    }
    void Close() {
        View.OnCommand(cmd::ShowViewer);
        ASSERT_TRUE(WaitFor([&] { return View.LogViewer() == nullptr; }, kWaitMs));
    }

    // Opens the viewer at a fixed size, drawn once and holding the keyboard focus.
    CGraphView* OpenDrawn() {
        CGraphView* viewer = Open();
        viewer->resize(kViewerSize);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(viewer));
        viewer->activateWindow();
        viewer->setFocus();
        EXPECT_TRUE(WaitFor([&] { return viewer->Picture().size() == kViewerSize; }, kWaitMs));
        viewer->repaint();
        EXPECT_TRUE(WaitFor([&] { return viewer->hasFocus(); }, kWaitMs));
        return viewer;
    }

    // The pixel of time t at the middle of the plot in the shown window.
    static QPoint At(const CGraphView& viewer, int64_t t) {
        return viewer.Frame().Map(TimeToLogicalX(static_cast<double>(t), viewer.Window(), false),
                                  0);
    }
    static void Click(CGraphView& viewer, Qt::MouseButton button, int64_t t,
                      Qt::KeyboardModifiers modifiers = {}) {
        QTest::mousePress(&viewer, button, modifiers, At(viewer, t));
        QTest::mouseRelease(&viewer, button, modifiers, At(viewer, t));
        viewer.repaint();
    }
};

TEST_F(GraphViewerTest, ShowCommandOpensAndClosesTheViewerAtItsStoredPlace) {
    EXPECT_TRUE(View.CommandStatus(cmd::ShowViewer).Enabled);
    EXPECT_FALSE(View.CommandStatus(cmd::ShowViewer).Checked);
    CGraphView* viewer = Open();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_TRUE(viewer->isWindow());
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Log file viewer"));
    EXPECT_TRUE(View.CommandStatus(cmd::ShowViewer).Checked);
    EXPECT_FALSE(View.CommandStatus(cmd::DeleteSection).Enabled) << "nothing marked yet";

    const QRect placed(100, 120, 640, 480);
    viewer->setGeometry(placed);
    Close();
    EXPECT_FALSE(View.CommandStatus(cmd::ShowViewer).Checked);
    const auto stored =
        WindowPlacement::Parse(QString::fromStdString(Store.GetText("Initial", "GraphPos", "")));
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->Normal, placed);
    EXPECT_EQ(Store.GetInt("Graph", "TraceEnabled0", -1), 1) << "settings saved on closing";

    viewer = Open();
    EXPECT_EQ(viewer->geometry(), placed) << "reopened where it was";
    Close();

    WindowPlacement maximised = *stored;
    maximised.Show = ShowState::Maximized;
    Store.WriteText("Initial", "GraphPos", maximised.Format().toStdString());
    View.setGeometry(50, 60, 700, 500);
    viewer = Open();
    EXPECT_EQ(viewer->geometry(), View.geometry()) << "a maximised placement is ignored";
    Store.WriteText("Initial", "GraphPos", "1,2,3");
    Close();
    EXPECT_NE(Store.GetText("Initial", "GraphPos", ""), "1,2,3");
}

// Closing the main window destroys an open viewer with it, without a close event of its own.
TEST_F(GraphViewerTest, AViewerDestroyedWithTheMainWindowKeepsItsPlace) {
    CGraphView* viewer = Open();
    ASSERT_NE(viewer, nullptr);
    const QRect placed(130, 140, 600, 400);
    viewer->setGeometry(placed);
    delete viewer;
    const auto stored =
        WindowPlacement::Parse(QString::fromStdString(Store.GetText("Initial", "GraphPos", "")));
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->Normal, placed);
}

TEST_F(GraphViewerTest, ClicksChooseTheWindowShiftPansAndDoubleClicksReset) {
    CGraphView* viewer = OpenDrawn();
    ASSERT_EQ(viewer->Window().DisplayStart, kStart);
    const int64_t ten = kStart + 3 * kHour, twelve = kStart + 5 * kHour;
    const int64_t last = kStart + int64_t{kRecords - 1} * kStep;
    const int64_t pixel = 40; // seconds a pixel spans at this size, rounded up

    Click(*viewer, Qt::LeftButton, ten);
    EXPECT_NEAR(viewer->Window().LeftMark, ten, pixel);
    Click(*viewer, Qt::RightButton, twelve);
    EXPECT_NEAR(viewer->Window().RightMark, twelve, 2 * pixel);
    EXPECT_NEAR(viewer->Window().DisplayStart, ten, kStep + pixel);
    EXPECT_NEAR(viewer->Window().DisplayEnd, twelve, kStep + 2 * pixel);
    EXPECT_TRUE(viewer->SectionMarked());
    EXPECT_TRUE(View.CommandStatus(cmd::DeleteSection).Enabled);

    const GraphWindow before = viewer->Window();
    const int64_t width = before.RightMark - before.LeftMark;
    Click(*viewer, Qt::LeftButton, ten, Qt::ShiftModifier);
    EXPECT_EQ(viewer->Window().LeftMark, before.LeftMark + width / 2);
    EXPECT_EQ(viewer->Window().RightMark, before.RightMark + width / 2);
    Click(*viewer, Qt::RightButton, ten, Qt::ControlModifier);
    EXPECT_EQ(viewer->Window().LeftMark, before.LeftMark + width / 2) << "Ctrl keeps the marks";

    for (int i = 0; i < 8; ++i)
        Click(*viewer, Qt::LeftButton, ten, Qt::ShiftModifier);
    EXPECT_EQ(viewer->Window().RightMark, last) << "panning stops at the last record";
    EXPECT_EQ(viewer->Window().LeftMark, last - width);
    for (int i = 0; i < 12; ++i) // ten hours in steps of about one hour
        Click(*viewer, Qt::RightButton, ten, Qt::ShiftModifier);
    EXPECT_EQ(viewer->Window().LeftMark, kStart) << "and back at the first";
    EXPECT_EQ(viewer->Window().RightMark, kStart + width);

    QTest::mouseDClick(viewer, Qt::LeftButton, {}, At(*viewer, ten));
    EXPECT_EQ(viewer->Window().LeftMark, 0);
    EXPECT_FALSE(viewer->Window().HasRightMark());
    EXPECT_FALSE(viewer->SectionMarked());
    QTest::mouseDClick(viewer, Qt::RightButton, {}, At(*viewer, ten));
    EXPECT_FALSE(viewer->Window().HasRightMark());
    EXPECT_TRUE(viewer->SectionMarked()) << "the whole file, marked for deletion";
    viewer->repaint();
    EXPECT_EQ(viewer->Window().DisplayStart, kStart);
    EXPECT_EQ(viewer->Window().DisplayEnd, last);
}

TEST_F(GraphViewerTest, ReadoutFollowsTheMouseAndShiftPicksTheSpectrum) {
    CGraphView* viewer = OpenDrawn();
    const int64_t t = kStart + 4 * kHour;
    QTest::mouseMove(viewer, At(*viewer, t));
    ASSERT_TRUE(WaitFor([&] { return !viewer->Readout().isEmpty(); }, kWaitMs));
    EXPECT_NEAR(viewer->CursorTime(), t, 40);
    const QString shown =
        GraphDateTimeText(QDateTime::fromSecsSinceEpoch(viewer->CursorTime()), QLocale::system()) +
        " ";
    EXPECT_TRUE(viewer->Readout().startsWith(shown)) << viewer->Readout().toStdString();
    EXPECT_GT(viewer->Readout().size(), shown.size()) << "the rate's value follows";

    QTest::keyPress(viewer, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(viewer->SpectrumTrace(), 0);
    viewer->repaint();
    EXPECT_TRUE(viewer->Readout().startsWith("Freq ")) << viewer->Readout().toStdString();
    EXPECT_TRUE(viewer->Readout().contains("period ")) << viewer->Readout().toStdString();
    EXPECT_TRUE(viewer->Readout().endsWith("dB ")) << viewer->Readout().toStdString();
    QTest::keyRelease(viewer, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(viewer->SpectrumTrace(), -1) << "releasing Shift returns to the time traces";

    QTest::mouseMove(viewer, QPoint(2, 2)); // the margin: no time, only the start
    EXPECT_EQ(viewer->CursorTime(), 0);
    EXPECT_TRUE(viewer->Readout().startsWith("start ")) << viewer->Readout().toStdString();

    QTest::keyClick(viewer, Qt::Key_F11);
    EXPECT_TRUE(viewer->CaptionHidden());
    EXPECT_TRUE(viewer->windowFlags().testFlag(Qt::FramelessWindowHint));
    QTest::keyClick(viewer, Qt::Key_F11);
    EXPECT_FALSE(viewer->CaptionHidden());
    EXPECT_FALSE(viewer->windowFlags().testFlag(Qt::FramelessWindowHint));
}

// A larger font redraws the graph with wider margins, and the mouse follows the picture: the
// plot's left axis is drawn where the mouse reads the first shown time. Catches a viewer that
// keeps its old picture after the font changes, or maps the mouse through the scale-1 margins
// while the picture has grown ones (clicks pick times beside the pointer).
TEST_F(GraphViewerTest, ALargerFontGrowsTheMarginsAndTheMouseFollowsThePicture) {
    CGraphView* viewer = OpenDrawn();
    const int scale1Axis = LogicalToDevice(viewer->size(), PlotLeft, 0).x();
    for (const int pixels : {12, 18, 24}) { // Qt's default 9 pt, then 1.5 and 2 times it
        QFont font = viewer->font();
        font.setPixelSize(pixels);
        const int rendersBefore = viewer->RenderCount();
        viewer->setFont(font);
        viewer->repaint();
        EXPECT_GT(viewer->RenderCount(), rendersBefore) << pixels;
        const int axis = viewer->Frame().Map(PlotLeft, 0).x();
        if (pixels == 12)
            EXPECT_EQ(axis, scale1Axis);
        else
            EXPECT_GT(axis, scale1Axis) << pixels << " px: the margins grow with the texts";
        int axisRows = 0; // of the plot's height, rows where the axis is drawn at that column
        const int top = viewer->Frame().Map(0, PlotTop).y(),
                  bottom = viewer->Frame().Map(0, PlotBottom).y();
        for (int y = top; y <= bottom; ++y)
            axisRows += viewer->Picture().pixelColor(axis, y) == QColor(220, 220, 220);
        EXPECT_GT(axisRows, (bottom - top) * 9 / 10) << pixels;
        QTest::mouseMove(viewer, At(*viewer, kStart + kHour));
        EXPECT_NEAR(viewer->CursorTime(), kStart + kHour, 40) << pixels;
    }
}

TEST_F(GraphViewerTest, AWrittenRecordRedrawsTheOpenViewer) {
    CGraphView* viewer = OpenDrawn();
    const int renders = viewer->RenderCount();
    std::thread writer([this] { View.Session().LogFile().NotifyLogViewer(); });
    writer.join();
    EXPECT_TRUE(WaitFor([&] { return viewer->RenderCount() > renders; }, kWaitMs));
}

TEST_F(GraphViewerTest, DeleteSectionCutsTheShownRecordsAfterAsking) {
    EXPECT_TRUE(View.OnCommand(cmd::DeleteSection)) << "no viewer: nothing to do";
    CGraphView* viewer = OpenDrawn();
    const int64_t from = kStart + 4 * kHour, to = kStart + 6 * kHour;
    Click(*viewer, Qt::LeftButton, from);
    Click(*viewer, Qt::RightButton, to);
    const int64_t shownStart = viewer->Window().DisplayStart;
    const int64_t shownEnd = viewer->Window().DisplayEnd;
    const int64_t cut = shownEnd - shownStart;
    ASSERT_GT(cut, kHour);
    const std::vector<int64_t> old = LineTimes(Log);

    Answer = false;
    View.OnCommand(cmd::DeleteSection);
    ASSERT_EQ(Questions.size(), 1);
    EXPECT_TRUE(Questions[0].startsWith("You are about to remove the section"));
    EXPECT_EQ(LineTimes(Log), old) << "Cancel keeps the file";
    EXPECT_TRUE(viewer->SectionMarked());

    Answer = true;
    View.OnCommand(cmd::DeleteSection);
    std::vector<int64_t> expected;
    for (int64_t t : old)
        if (t < shownStart) expected.push_back(t + cut);
    expected.push_back(shownStart + cut); // time-only records break the trace at the joint
    expected.push_back(shownEnd);
    for (int64_t t : old)
        if (t > shownEnd) expected.push_back(t);
    EXPECT_EQ(LineTimes(Log), expected);
    EXPECT_FALSE(viewer->SectionMarked());
    EXPECT_FALSE(View.CommandStatus(cmd::DeleteSection).Enabled);
    viewer->repaint();
    EXPECT_EQ(viewer->Window().DisplayStart, kStart + cut);
}

TEST_F(GraphViewerTest, SettingsDialogChecksAppliesAndResets) {
    QStringList messages;
    View.Hooks.MessageSink = [&](const QString& m) { messages << m; };
    std::vector<std::function<void(CPostDia&)>> script;
    int openings = 0;
    View.Hooks.GraphSettingsDialogHook = [&](CPostDia& d) {
        if (openings < static_cast<int>(script.size()))
            script[static_cast<size_t>(openings)](d);
        else
            d.reject();
        ++openings;
    };

    script.push_back([&](CPostDia& d) {
        EXPECT_TRUE(d.Trace(0).On->isChecked());
        EXPECT_FALSE(d.Trace(3).On->isChecked());
        d.Trace(3).Coefficient->setText("1.5");
        d.accept();
        EXPECT_EQ(d.result(), QDialog::Rejected) << "a coefficient above 0.99 is refused";
        EXPECT_EQ(messages.size(), 1);
        d.Trace(3).Coefficient->setText("0.25");
        d.Trace(3).Max->setText("ten");
        d.accept();
        EXPECT_EQ(d.result(), QDialog::Rejected) << "a limit must be a number";
        d.Trace(3).Max->setText("10");
        d.Trace(3).On->setChecked(true);
        d.Trace(3).Hold->setChecked(true);
        d.TitleEdit()->setText("Bench test");
        d.accept();
    });
    EXPECT_TRUE(View.OnCommand(cmd::ViewerSettings));
    ASSERT_NE(View.LogViewer(), nullptr) << "the command opens the viewer first";
    EXPECT_EQ(openings, 1);
    EXPECT_EQ(Store.GetInt("Graph", "TraceEnabled3", 0), 1);
    EXPECT_EQ(Store.GetInt("Graph", "HoldMin3", 0), 1) << "Hold sets both limits";
    EXPECT_DOUBLE_EQ(View.LogViewer()->Settings().Traces[3].FiltCoeff, 0.25);
    EXPECT_DOUBLE_EQ(View.LogViewer()->Settings().Traces[3].MaxHold, 10);
    EXPECT_EQ(Store.GetText("Graph", "Title", ""), "Bench test");

    script.push_back([](CPostDia& d) { d.ResetButton()->click(); });
    script.push_back([](CPostDia& d) {
        EXPECT_FALSE(d.Trace(3).Hold->isChecked()) << "reopened showing the defaults";
        d.reject();
    });
    View.OnCommand(cmd::ViewerSettings);
    EXPECT_EQ(openings, 3);
    EXPECT_EQ(View.LogViewer()->Settings().VGrid, 10);
    EXPECT_EQ(Store.GetInt("Graph", "HoldMax3", 1), 0) << "the reset is saved";
}

} // namespace
} // namespace kv
