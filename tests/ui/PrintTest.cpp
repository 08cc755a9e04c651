// SPDX-License-Identifier: GPL-3.0-or-later
// The three print commands through the main frame, printed to PDF files through the printer seam
// and rasterized with poppler's pdftoppm at one pixel per PDF point: the window picture with its
// aspect ratio, the tape in strips (5 on a portrait sheet, 7 on a landscape one, newest entry at
// the top left, continued in the next strip, at most 8 dots a row at feed 1:10), the log viewer's
// graph while the viewer is open, and the failures: no default printer, a cancelled dialog, a
// document that cannot be started.
#include <algorithm>
#include <gtest/gtest.h>

#include <QAbstractPrintDialog>
#include <QApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../settings/SettingsTestSupport.h"
#include "PumpEvents.h"
#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "ui/app/MainFrame.h"
#include "ui/common/CommandTable.h"
#include "ui/logview/GraphView.h"
#include "ui/print/PrintJob.h"

namespace kv {
namespace {

using test::WaitFor;

constexpr int PointsPerInch = 72; // printer pixels = PDF points = raster pixels at -r 72
constexpr int WaitMs = 3000;
constexpr int64_t LogStart = 1700000000;

bool Black(QRgb c) {
    return qRed(c) < 80 && qGreen(c) < 80 && qBlue(c) < 80;
}
bool White(QRgb c) {
    return qRed(c) > 245 && qGreen(c) > 245 && qBlue(c) > 245;
}
bool AllWhite(const QImage& image, QRect area) {
    area &= image.rect();
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (!White(image.pixel(x, y))) return false;
    return true;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A field of pdfinfo's report, without the padding after its colon.
std::string InfoField(const std::string& report, const std::string& name) {
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0) {
            const size_t value = line.find_first_not_of(' ', name.size() + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
    return {};
}

// Mean absolute difference per channel of two images of the same size, 0 ... 255.
double MeanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

struct PrintTest : ::testing::Test {
    test::TempFolder Folder;
    // No print server can be reached: the default printer is looked for at a socket that does
    // not exist, so no real printer is ever used.
    test::ScopedEnvironment Environment{{"XDG_DATA_HOME", Folder / "data"},
                                        {"CUPS_SERVER", Folder / "no-print-server.sock"},
                                        {"PRINTER", std::nullopt},
                                        {"LPDEST", std::nullopt}};
    test::SignalSource Source;
    test::CountingSink Speaker; // the machine's sound system is never opened
    CMainFrame Frame{CMainFrame::Options{nullptr, &Source, &Speaker, {}}};
    CChildView& View = Frame.View();
    AnalysisCore& Core = View.Core();
    QStringList Messages;
    std::vector<int> PrinterRequests; // command ids the printer seam was asked for
    QPageLayout::Orientation Orientation = QPageLayout::Portrait;
    std::string PdfPath = Folder / "page.pdf";
    int EnabledChanges = 0;

    struct EnabledWatch : QObject {
        int& Count;
        explicit EnabledWatch(int& count) : Count(count) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::EnabledChange) ++Count;
            return false;
        }
    } Watch{EnabledChanges};

    void SetUp() override {
        View.Hooks.MessageSink = [this](const QString& text) { Messages << text; };
        View.Hooks.PrinterHook = [this](int id) {
            PrinterRequests.push_back(id);
            return PdfPrinter(PdfPath);
        };
        {
            const auto lock = Core.HoldAnalysis();
            Core.Settings.SampleRate = 48000;
            Core.Settings.Centre = 0;
            Core.Params.TickInterval = "18000 vph";
            Core.ParseTrain("18000 vph");
        }
        View.App().PaperTape = 1;
        View.App().CursorDisk = 0;
        Frame.resize(1000, 800);
        Frame.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Frame));
        Frame.installEventFilter(&Watch);
    }
    void TearDown() override {
        Frame.removeEventFilter(&Watch);
        if (CGraphView* viewer = View.LogViewer()) delete viewer;
    }

    std::unique_ptr<QPrinter> PdfPrinter(const std::string& path) const {
        auto printer = std::make_unique<QPrinter>(QPrinter::ScreenResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(QString::fromStdString(path));
        printer->setResolution(PointsPerInch);
        printer->setPageSize(QPageSize(QPageSize::A4));
        printer->setPageOrientation(Orientation);
        printer->setPageMargins(QMarginsF(0, 0, 0, 0));
        return printer;
    }

    // Rasterizes the printed PDF; fails the test unless it holds exactly one page.
    QImage PrintedPage() const {
        const std::string prefix = Folder / "raster";
        const std::string command = "pdftoppm -png -r 72 -aa no -aaVector no '" + PdfPath + "' '" +
                                    prefix + "' 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_FALSE(std::filesystem::exists(prefix + "-2.png")) << "more than one page";
        QImage page(QString::fromStdString(prefix + "-1.png"));
        EXPECT_FALSE(page.isNull()) << "no page rasterized";
        return page.convertToFormat(QImage::Format_RGB32);
    }

    void Run(int id) { Frame.RouteCommand(id); }

    int ScreenHeight() const { return View.screen()->size().height(); }

    // Measures `seconds` of a synthetic 18000 vph lever watch through the analysis, one beat per
    // buffer as the capture thread hands them over.
    void MeasureWatch(double seconds) {
        synth::SynthOptions o;
        o.Seconds = seconds;
        o.RateSecondsPerDay = 30;
        const std::vector<int16_t> signal = synth::Synthesize(o).Samples;
        Core.BeginRun();
        SetRunning(true);
        const size_t n = static_cast<size_t>(std::lround(Core.Derived.SamplesPerBeat));
        for (size_t at = 0; at + n <= signal.size(); at += n) {
            std::vector<int16_t> buffer(signal.begin() + at, signal.begin() + at + n);
            Core.ProcessBuffer(n, buffer.data(), Core.Derived.CaptureBufferCount - 1);
        }
        SetRunning(false);
        Core.EndRun();
    }
    void SetRunning(bool running) {
        const auto lock = Core.HoldAnalysis();
        Core.Measurement.Running = running;
    }
};

// --- The window picture ---

// The tape band of the window picture ends where the printed picture ends, and its edges lie at
// 3/8 and 5/8 of the picture's width: the picture fills the page's width or its height, whichever
// keeps all of it on the page, with the window's aspect ratio.
TEST_F(PrintTest, WindowPictureIsScaledKeepingItsAspectRatio) {
    Run(cmd::Feed10);
    MeasureWatch(30); // a tape longer than the window is high
    {
        const auto lock = Core.HoldAnalysis();
        Core.Trace.Shown = false; // only the tape reaches down the middle of the window
    }
    View.repaint();
    const QSize picture = View.Picture().size();
    ASSERT_FALSE(picture.isEmpty());
    for (QPageLayout::Orientation o : {QPageLayout::Portrait, QPageLayout::Landscape}) {
        Orientation = o;
        Run(cmd::Print);
        const QImage page = PrintedPage();
        // The smaller of the two scales: the page's width, or its height when the window is
        // relatively taller than the page.
        const double byWidth = double(page.width()) / picture.width();
        const double byHeight = double(page.height()) / picture.height();
        const bool fillsWidth = byWidth <= byHeight;
        const double scale = std::min(byWidth, byHeight);
        const int width = static_cast<int>(picture.width() * scale);
        const int height = static_cast<int>(picture.height() * scale);
        const int x = width / 2 + width / 16, y = height / 4;
        int bottom = 0;
        while (bottom < page.height() && !White(page.pixel(x, bottom)))
            ++bottom;
        EXPECT_NEAR(bottom, height, 3) << "orientation " << o;
        int left = x, right = x;
        while (left > 0 && !White(page.pixel(left - 1, y)))
            --left;
        while (right + 1 < page.width() && !White(page.pixel(right + 1, y)))
            ++right;
        EXPECT_NEAR(left, width * 3 / 8, 3) << "orientation " << o;
        EXPECT_NEAR(right, width * 5 / 8, 3) << "orientation " << o;
        EXPECT_TRUE(AllWhite(page, fillsWidth ? QRect(0, height + 3, page.width(), page.height())
                                              : QRect(width + 3, 0, page.width(), page.height())))
            << "nothing beyond the picture, orientation " << o;
    }
    EXPECT_EQ(PrinterRequests, (std::vector<int>{cmd::Print, cmd::Print}));
    EXPECT_TRUE(Messages.isEmpty());
}

TEST(PictureScaling, FillsTheNarrowSideOfThePageAndNeverOverflowsIt) {
    // Portrait page: the full width. Landscape page: the full height.
    EXPECT_EQ(ScaledPictureSize(QSize(600, 800), QSize(800, 600)), QSize(600, 450));
    EXPECT_EQ(ScaledPictureSize(QSize(800, 600), QSize(800, 600)), QSize(800, 600));
    EXPECT_EQ(ScaledPictureSize(QSize(1000, 600), QSize(800, 600)), QSize(800, 600));
    // A picture far wider than the page is fitted to its width instead of being cut off.
    EXPECT_EQ(ScaledPictureSize(QSize(842, 595), QSize(1000, 300)), QSize(842, 252));
    // A picture far taller than a portrait page is fitted to its height.
    EXPECT_EQ(ScaledPictureSize(QSize(595, 842), QSize(300, 1000)), QSize(252, 842));
    EXPECT_TRUE(ScaledPictureSize(QSize(595, 842), QSize()).isEmpty());
}

// --- The tape ---

// Columns that are black from the top of the page to its bottom: the strip borders.
std::vector<int> BorderColumns(const QImage& page) {
    std::vector<int> columns;
    for (int x = 0; x < page.width(); ++x) {
        int black = 0;
        for (int y = 0; y < page.height(); ++y)
            black += Black(page.pixel(x, y));
        if (black >= page.height() - 1) columns.push_back(x);
    }
    return columns;
}

std::vector<int> ExpectedBorders(int pageWidth, int strips) {
    std::vector<int> columns;
    for (int k = 0; k < strips; ++k)
        columns.push_back(k * (pageWidth / strips));
    if (columns.back() != pageWidth - 1) columns.push_back(pageWidth - 1);
    return columns;
}

TEST_F(PrintTest, TapeIsPrintedInFiveStripsOnPortraitAndSevenOnLandscape) {
    MeasureWatch(10);
    Orientation = QPageLayout::Portrait;
    Run(cmd::PrintTape);
    QImage page = PrintedPage();
    ASSERT_LT(page.width(), page.height());
    EXPECT_EQ(BorderColumns(page), ExpectedBorders(page.width(), 5));

    Orientation = QPageLayout::Landscape;
    Run(cmd::PrintTape);
    page = PrintedPage();
    ASSERT_GT(page.width(), page.height());
    EXPECT_EQ(BorderColumns(page), ExpectedBorders(page.width(), 7));
    EXPECT_EQ(PrinterRequests, (std::vector<int>{cmd::PrintTape, cmd::PrintTape}));
}

// Every ticked entry of a measured tape is a 2 x 2 dot at its row (its age in screen rows scaled
// to the page, here 10 rows an entry at feed 10) and its column in the strip, the newest at the
// top of the leftmost strip, older ones continuing at the top of the second strip; the rows
// between entries and the strips beyond stay empty.
TEST_F(PrintTest, TapeRunsFromTheTopOfTheLeftStripIntoTheNext) {
    Run(cmd::Feed10); // each entry 10 screen rows below the next newer one
    MeasureWatch(20);
    Orientation = QPageLayout::Portrait;
    Run(cmd::PrintTape);
    const QImage page = PrintedPage();
    const int vp = page.height(), ws = page.width() / 5, vs = ScreenHeight();

    std::vector<std::pair<long long, long long>> dots; // row offset, column in the strip
    {
        const auto lock = Core.HoldAnalysis();
        const TapeState& tape = Core.Tape;
        for (long long i = tape.TapeWriteIndex; i >= 1; --i) {
            const TapeEntry& e = tape.Entries[static_cast<size_t>(i)];
            if (e.Time == 0) continue;
            const long long b = (tape.TapeWriteIndex - i) * vp / vs * 10;
            if (b < 5LL * vp) dots.emplace_back(b, TapeColumn(e.Phase, Core.Settings.Zoom, ws));
        }
    }
    ASSERT_GT(dots.size(), 80u) << "the watch was measured";
    EXPECT_LT(dots.front().first, 30) << "the newest entry is at the top";
    ASSERT_GT(dots.back().first, vp) << "the tape reaches the second strip";
    ASSERT_LT(dots.back().first, 2LL * vp) << "and ends there";

    QImage expected(page.size(), QImage::Format_RGB32);
    expected.fill(Qt::white);
    for (auto [b, c] : dots) {
        const int x = static_cast<int>(ws * (b / vp) + c), y = static_cast<int>(b % vp);
        for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx)
                expected.setPixel(x + dx, y + dy, qRgb(0, 0, 0));
    }
    for (int x : ExpectedBorders(page.width(), 5))
        for (int y = 0; y < vp; ++y)
            expected.setPixel(x, y, qRgb(0, 0, 0));
    int wrong = 0;
    for (int y = 0; y < vp; ++y)
        for (int x = 0; x < page.width(); ++x)
            wrong += Black(page.pixel(x, y)) != Black(expected.pixel(x, y));
    EXPECT_EQ(wrong, 0) << "pixels that differ from the dots and borders of the tape";
}

// At feed 1:10 about ten entries fall on each printed row; a row takes at most 8 dots. The
// entries' columns are spread so that every dot stands apart and can be counted.
TEST_F(PrintTest, AtFeedOneInTenNoRowHoldsMoreThanEightDots) {
    constexpr int Entries = 3000, Spread = 35, Step = 3, Margin = 6;
    Orientation = QPageLayout::Landscape; // 595 printed rows for a screen's height
    Run(cmd::Feed10th);
    const double entriesPerRow = 10.0 * ScreenHeight() / 595;
    ASSERT_GT(entriesPerRow, 9.0) << "more entries to a row than it may print";
    ASSERT_LT(entriesPerRow, Spread / 2.0) << "entries of two rows stand apart";
    const int ws = 842 / 7;
    {
        const auto lock = Core.HoldAnalysis();
        TapeState& tape = Core.Tape;
        tape.Entries.assign(Entries + 1, TapeEntry{});
        for (int i = 1; i <= Entries; ++i) {
            const int column = Margin + Step * (i % Spread);
            // The phase whose column is `column`, half a pixel in.
            const double phase = (0.5 - (column + 0.5) / ws) / (4.0 * Core.Settings.Zoom);
            tape.Entries[static_cast<size_t>(i)] = TapeEntry{1, phase, {}};
        }
        tape.TapeWriteIndex = Entries;
    }
    Run(cmd::PrintTape);
    const QImage page = PrintedPage();
    ASSERT_EQ(page.width() / 7, ws);
    auto black = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < page.width() && y < page.height() && Black(page.pixel(x, y));
    };
    int rowsWithEight = 0, dotsSeen = 0;
    for (int strip = 0; strip < 7; ++strip)
        for (int y = 0; y < page.height(); ++y) {
            int dots = 0;
            for (int x = strip * ws + 1; x < (strip + 1) * ws - 1; ++x)
                dots += black(x, y) && black(x + 1, y + 1) && !black(x, y - 1) && !black(x - 1, y);
            EXPECT_LE(dots, 8) << "strip " << strip << " row " << y;
            rowsWithEight += dots == 8;
            dotsSeen += dots;
        }
    const int rows = static_cast<int>((Entries - 1LL) * 595 / ScreenHeight() / 10) + 1;
    EXPECT_GE(rowsWithEight, rows - 1) << "every row but the oldest is printed full";
    EXPECT_LE(dotsSeen, 8 * rows);
}

// A note is printed from its entry's row at the strip's left edge: the page with the note differs
// from the page without it only right of that edge and from that row down.
TEST_F(PrintTest, TapeNotesArePrintedAtTheStripsLeftEdge) {
    Run(cmd::Feed10);
    MeasureWatch(30);
    Run(cmd::PrintTape);
    const QImage plain = PrintedPage();
    const int vp = plain.height(), ws = plain.width() / 5;
    const int age = vp / (vp / ScreenHeight() * 10) + 3; // an entry near the second strip's top
    {
        const auto lock = Core.HoldAnalysis();
        TapeEntry& entry = Core.Tape.Entries[static_cast<size_t>(Core.Tape.TapeWriteIndex - age)];
        ASSERT_NE(entry.Time, 0u) << "a ticked entry";
        entry.Text = "WWWW";
    }
    Run(cmd::PrintTape);
    const QImage noted = PrintedPage();
    const long long b = static_cast<long long>(age) * vp / ScreenHeight() * 10;
    ASSERT_EQ(b / vp, 1) << "the note's entry is in the second strip";
    const QRect note(ws, static_cast<int>(b % vp), ws, 20);
    int inside = 0, outside = 0;
    for (int y = 0; y < vp; ++y)
        for (int x = 0; x < noted.width(); ++x)
            if (Black(noted.pixel(x, y)) != Black(plain.pixel(x, y)))
                ++(note.contains(x, y) ? inside : outside);
    EXPECT_GT(inside, 20) << "the note's ink";
    EXPECT_EQ(outside, 0);
}

// --- The log viewer's graph ---

TEST_F(PrintTest, WithTheViewerOpenEveryPrintCommandPrintsTheGraph) {
    const std::string log = Folder / "watch.log";
    {
        std::ofstream out(log, std::ios::binary);
        for (int i = 0; i < 600; ++i)
            out << LogStart + int64_t{i} * 60 << '\t' << std::sin(i / 20.0) * 5 << "\r\n";
    }
    View.App().LogFile2 = log;
    MeasureWatch(60); // the window shows a long tape: a picture unlike the graph
    View.repaint();
    Run(cmd::ShowViewer);
    CGraphView* viewer = View.LogViewer();
    ASSERT_NE(viewer, nullptr);
    viewer->resize(900, 450); // an aspect ratio unlike the window's
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
    ASSERT_TRUE(WaitFor([&] { return viewer->Picture().size() == QSize(900, 450); }, WaitMs));
    viewer->repaint();
    const QImage graph = viewer->Picture();
    const QImage window = View.Picture();

    for (int id : {cmd::PrintImmediate, cmd::Print, cmd::PrintTape}) {
        const size_t before = PrinterRequests.size();
        if (id == cmd::PrintImmediate)
            QTest::keyClick(viewer, Qt::Key_P, Qt::ControlModifier); // Ctrl+P in the viewer
        else
            Run(id);
        ASSERT_TRUE(WaitFor([&] { return PrinterRequests.size() > before; }, WaitMs)) << id;
        const QImage page = PrintedPage();
        const int height = page.width() * graph.height() / graph.width();
        const QImage printed = page.copy(0, 0, page.width(), height);
        const QSize size = printed.size();
        const double toGraph = MeanDifference(
            printed, graph.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        const double toWindow = MeanDifference(
            printed, window.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        EXPECT_LT(toGraph, 8) << "command " << id;
        EXPECT_LT(toGraph * 2, toWindow) << "command " << id;
        EXPECT_TRUE(AllWhite(page, QRect(0, height + 3, page.width(), page.height())))
            << "nothing below the graph, command " << id;
    }
    EXPECT_EQ(PrinterRequests, (std::vector<int>{cmd::PrintImmediate, cmd::Print, cmd::PrintTape}));
}

// --- The job and its failures ---

TEST_F(PrintTest, JobIsNamedAfterTheFrameAndDisablesTheWindowWhileItRuns) {
    for (int id : {cmd::Print, cmd::PrintImmediate, cmd::PrintTape}) {
        Frame.UpdateActions({Frame.ActionFor(id)});
        EXPECT_TRUE(Frame.ActionFor(id)->isEnabled()) << id;
    }
    View.repaint();
    Run(cmd::Print);
    EXPECT_EQ(EnabledChanges, 2) << "disabled, then enabled again";
    EXPECT_TRUE(Frame.isEnabled());
    const std::string info = Folder / "info.txt";
    ASSERT_EQ(std::system(("pdfinfo '" + PdfPath + "' > '" + info + "'").c_str()), 0);
    const std::string text = Slurp(info);
    EXPECT_EQ(InfoField(text, "Title"), FrameTitle) << text;
    EXPECT_EQ(InfoField(text, "Pages"), "1") << text;
}

TEST_F(PrintTest, PrintImmediateWithoutAPrinterSaysSoAndDoesNothingElse) {
    ASSERT_TRUE(QPrinterInfo::defaultPrinter().isNull()) << "this test must not find a printer";
    View.Hooks.PrinterHook = nullptr; // the real default printer
    bool dialogShown = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            dialogShown = true;
            modal->close();
        }
    });
    closer.start(50);
    Run(cmd::PrintImmediate);
    EXPECT_EQ(Messages, QStringList{UnableToPrintText});
    EXPECT_FALSE(dialogShown);
    EXPECT_EQ(EnabledChanges, 0) << "no job was started";
    EXPECT_FALSE(std::filesystem::exists(PdfPath));
}

TEST_F(PrintTest, CancellingThePrintDialogPrintsNothing) {
    View.Hooks.PrinterHook = nullptr; // the real print dialog
    QString dialogClass;
    int minPage = 0, maxPage = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QAbstractPrintDialog*>(QApplication::activeModalWidget())) {
            dialogClass = QString::fromLatin1(dialog->metaObject()->className());
            minPage = dialog->minPage();
            maxPage = dialog->maxPage();
            dialog->reject();
        }
    });
    closer.start(50);
    for (int id : {cmd::Print, cmd::PrintTape})
        Run(id);
    closer.stop();
    EXPECT_EQ(dialogClass, "QPrintDialog");
    EXPECT_EQ(minPage, 1);
    EXPECT_EQ(maxPage, 1);
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_EQ(EnabledChanges, 0);
    // The seam's null printer is a cancelled dialog as well.
    View.Hooks.PrinterHook = [](int) { return std::unique_ptr<QPrinter>(); };
    Run(cmd::Print);
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_FALSE(std::filesystem::exists(PdfPath));
}

TEST_F(PrintTest, DocumentThatCannotStartGivesTheMessageAndReenablesTheWindow) {
    PdfPath = Folder / "missing-folder/page.pdf";
    for (int id : {cmd::Print, cmd::PrintTape}) {
        Messages.clear();
        Run(id);
        EXPECT_EQ(Messages, QStringList{UnableToPrintText}) << id;
        EXPECT_TRUE(Frame.isEnabled());
    }
    EXPECT_FALSE(std::filesystem::exists(PdfPath));
}

} // namespace
} // namespace kv
