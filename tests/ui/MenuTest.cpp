// SPDX-License-Identifier: GPL-3.0-or-later
// The menus, tool bar and keys of the frame as a user meets them: labels, shortcuts, order,
// separators, status prompts and tool tips, and the check and enable rules in the states that
// matter.
#include <gtest/gtest.h>

#include <QMenuBar>
#include <QPainter>
#include <QTest>
#include <QToolBar>
#include <filesystem>
#include <unistd.h>

#include "SignalSource.h"
#include "ui/app/MainFrame.h"
#include "ui/app/ToolBarIcons.h"
#include "ui/common/CommandTable.h"

namespace kv {
namespace {

// One line per entry: "-" for a separator, "> Label" opens a submenu, "<" closes it.
QStringList Describe(const QMenu* menu) {
    QStringList lines;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) {
            lines << "-";
        } else if (a->menu()) {
            lines << "> " + a->text();
            lines << Describe(a->menu());
            lines << "<";
        } else {
            lines << a->text();
        }
    }
    return lines;
}

struct Menus : ::testing::Test {
    test::SignalSource Source;
    test::CountingSink Speaker;
    CMainFrame Frame{CMainFrame::Options{nullptr, &Source, &Speaker, {}}};

    QMenu* TopMenu(const QString& title) {
        for (QAction* a : Frame.menuBar()->actions())
            if (a->text() == title) return a->menu();
        return nullptr;
    }
    CommandState State(int id) { return Frame.View().CommandStatus(id); }
};

TEST_F(Menus, FileMenuReadsAsTheUserExpects) {
    ASSERT_NE(TopMenu("&File"), nullptr);
    const QStringList expected = {"&Print immediate\tCtrl+P",
                                  "Prin&t ...",
                                  "Print tape ...",
                                  "-",
                                  "Choose logfile ...",
                                  "Clear log file contents",
                                  "Enable logging ?",
                                  "Annotate log ...",
                                  "Show log file viewer ?",
                                  "Viewer settings ...",
                                  "Delete section of graph ...",
                                  "Reset viewer defaults",
                                  "-",
                                  "Choose QC textfile ...",
                                  "-",
                                  "Choose waveform file ...",
                                  "-",
                                  "E&xit"};
    EXPECT_EQ(Describe(TopMenu("&File")), expected);
}

TEST_F(Menus, CommandsMenuWithItsSubmenusAndKeys) {
    const QStringList lines = Describe(TopMenu("&Commands"));
    const QStringList start = {"> Train", "1 pps", "14400",  "18000",  "19800",  "21600", "25200",
                               "28800",   "36000", "300 Hz", "330 Hz", "360 Hz", "<"};
    EXPECT_EQ(lines.mid(0, start.size()), start);
    EXPECT_TRUE(lines.contains("Pendulum clock ?")) << "a second entry keeps its own label";
    const qsizetype escapement = lines.indexOf("> Escapement");
    ASSERT_GE(escapement, 0);
    EXPECT_EQ(lines.mid(escapement + 1, 8), (QStringList{"Lever", "Coaxial 1", "Coaxial 2", "AP 1",
                                                         "AP 2", "Pendulum", "Tuning fork", "<"}));
    for (const char* item : {"Freeze waveform\tF", "1.0\tHome", "Start internet cal\tCtrl+I",
                             "Start GPS cal\tCtrl+G", "Start local standard cal\tCtrl+S",
                             "Finish calibration\tCtrl+F", "Auto &centring ", "High-pass filter?",
                             "Record waveform file ?", "Playback waveform file ?", "Se&ttings ..."})
        EXPECT_TRUE(lines.contains(item)) << item;
    EXPECT_EQ(lines.last(), "Se&ttings ...");
    EXPECT_EQ(Describe(TopMenu("View")), (QStringList{"Full screen\tF11", "Title ..."}));
    EXPECT_EQ(Describe(TopMenu("&Help")),
              (QStringList{"&Help Topics", "-", "&About Kestrovane..."}));
}

TEST_F(Menus, AcceleratorsBindTheirCommandsNotTheLabels) {
    EXPECT_TRUE(
        Frame.KeyActionFor(cmd::PrintImmediate)->shortcuts().contains(QKeySequence("Ctrl+P")));
    EXPECT_TRUE(Frame.KeyActionFor(cmd::FullScreen)->shortcuts().contains(QKeySequence("F11")));
    EXPECT_TRUE(Frame.KeyActionFor(cmd::Zoom1)->shortcuts().contains(QKeySequence("Home")));
    EXPECT_EQ(Frame.KeyActionFor(cmd::Mag1), nullptr)
        << "its label shows Home, which is not its key";
    EXPECT_TRUE(Frame.KeyActionFor(cmd::Freeze)->shortcuts().contains(QKeySequence("F")));
}

// A menu draws an item's shortcut after its label unless the label has a tab of its own.
void ExpectNoKeysBeyondTheLabels(const QMenu* menu) {
    for (QAction* a : menu->actions()) {
        if (a->menu()) {
            ExpectNoKeysBeyondTheLabels(a->menu());
        } else if (!a->isSeparator() && !a->text().contains('\t')) {
            EXPECT_TRUE(a->shortcuts().isEmpty()) << a->text().toStdString() << " would show "
                                                  << a->shortcut().toString().toStdString();
        }
    }
}

TEST_F(Menus, MenuItemsShowOnlyTheKeysTheirLabelsName) {
    for (QAction* top : Frame.menuBar()->actions())
        ExpectNoKeysBeyondTheLabels(top->menu());
}

TEST_F(Menus, PromptsAndTipsAreTheSystemsOwnTexts) {
    QAction* raise = Frame.ActionFor(cmd::RaiseThreshold);
    ASSERT_NE(raise, nullptr);
    EXPECT_EQ(raise->statusTip(), "Increase unlock threshold");
    EXPECT_EQ(raise->toolTip(), "Raise unlock threshol");
    EXPECT_EQ(Frame.ActionFor(cmd::Feed10)->toolTip(), "Paer feed ten");
    EXPECT_EQ(Frame.ActionFor(cmd::ChooseWaveform)->toolTip(), "Traing file");
    EXPECT_EQ(Frame.ActionFor(cmd::Run)->statusTip(), "Start-Stop");
}

TEST_F(Menus, ToolBarOrderWithSeparators) {
    QList<int> ids;
    for (QAction* a : Frame.ToolBarButtons())
        ids << (a->isSeparator() ? 0 : a->data().toInt());
    const QList<int> expected = {32771, 0,     32889, 0,     32866, 0,     32776, 32895, 0,
                                 32899, 32945, 0,     32796, 32832, 32892, 32939, 0,     32943,
                                 32968, 32969, 32975, 0,     32872, 32842, 32937, 0,     32865,
                                 0,     32878, 32877, 32876, 0,     32799, 0,     57669};
    EXPECT_EQ(ids, expected);
    for (QAction* a : Frame.ToolBarButtons()) {
        if (a->isSeparator()) continue;
        EXPECT_FALSE(a->icon().isNull()) << a->data().toInt();
    }
}

TEST_F(Menus, KeysWithoutMenuItemsReachTheirCommands) {
    Frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Frame));
    Frame.View().setFocus();
    const int before = Frame.View().Core().Params.UnlockThreshold;
    QTest::keyClick(&Frame.View(), Qt::Key_Up);
    EXPECT_EQ(Frame.View().Core().Params.UnlockThreshold, before + 327);
    QTest::keyClick(&Frame.View(), Qt::Key_Down);
    EXPECT_EQ(Frame.View().Core().Params.UnlockThreshold, before);
    QTest::keyClick(&Frame.View(), Qt::Key_Home);
    EXPECT_EQ(Frame.View().App().DisplayZoom, 1.0) << "Home is waveform free zoom 1";
    QTest::keyClick(&Frame.View(), Qt::Key_F);
    EXPECT_TRUE(Frame.View().Core().Trace.Frozen);
    QTest::keyClick(&Frame.View(), Qt::Key_Up, Qt::ShiftModifier); // no handler: nothing
    EXPECT_EQ(Frame.View().Core().Params.UnlockThreshold, before);
}

TEST_F(Menus, CheckAndEnableRulesStoppedAndRunning) {
    EXPECT_FALSE(State(cmd::Run).Checked);
    EXPECT_FALSE(State(cmd::TrainButton).Enabled) << "train detection needs a measurement";
    EXPECT_TRUE(State(cmd::Train18000).Checked);
    EXPECT_FALSE(State(cmd::Train28800).Checked);
    EXPECT_TRUE(State(cmd::Lever).Checked);
    for (int id : {cmd::Coaxial2, cmd::AP1, cmd::AP2})
        EXPECT_FALSE(State(id).Enabled) << id;
    EXPECT_TRUE(State(cmd::Measure8).Checked);
    EXPECT_TRUE(State(cmd::PaperTape).Checked);
    EXPECT_TRUE(State(cmd::Feed1).Checked);
    Frame.View().Core().Settings.DuplexAudio = 0;
    Source.Signal.assign(48000 * 5, 0);
    Frame.View().Session().Run();
    EXPECT_TRUE(State(cmd::Run).Checked);
    EXPECT_TRUE(State(cmd::TrainButton).Enabled);
    Frame.View().Session().Run();
}

TEST_F(Menus, LocalCalibrationGreysRunTrainsAndClear) {
    {
        const auto lock = Frame.View().Session().Calibration().State().HoldLock();
        Frame.View().Session().Calibration().State().SetMode(LocalCalibrationMode);
    }
    for (int id : {cmd::Run, cmd::Train21600, cmd::Clear})
        EXPECT_FALSE(State(id).Enabled) << id;
    EXPECT_TRUE(State(cmd::Lever).Enabled);
}

TEST_F(Menus, ForkModeGreysTriggeredZoomAndLargeMagnifications) {
    Frame.RouteCommand(cmd::TuningFork);
    EXPECT_TRUE(State(cmd::TuningFork).Checked);
    EXPECT_TRUE(State(cmd::Fork300).Checked);
    EXPECT_FALSE(State(cmd::Zoom5).Enabled);
    EXPECT_TRUE(State(cmd::Zoom05).Enabled);
    EXPECT_FALSE(State(cmd::Mag2).Enabled);
    EXPECT_TRUE(State(cmd::Mag025).Enabled);
    const auto zoom = Frame.View().PopupItems(cmd::ZoomPopup);
    ASSERT_EQ(zoom.size(), 5u);
    EXPECT_FALSE(zoom[0].Enabled);
    EXPECT_TRUE(zoom[4].Enabled);
}

TEST_F(Menus, FeedCommandsToggleBackToNormal) {
    Frame.RouteCommand(cmd::Feed10th);
    EXPECT_EQ(Frame.View().Core().Settings.SlowFeed, 10);
    Frame.RouteCommand(cmd::Feed10th);
    EXPECT_EQ(Frame.View().Core().Settings.SlowFeed, 1);
    Frame.RouteCommand(cmd::Feed10);
    EXPECT_EQ(Frame.View().Core().Settings.SlowFeed, -10);
    Frame.RouteCommand(cmd::Feed10);
    EXPECT_EQ(Frame.View().Core().Settings.SlowFeed, 1);
    const auto feeds = Frame.View().PopupItems(cmd::FeedPopup);
    ASSERT_EQ(feeds.size(), 10u);
    EXPECT_EQ(feeds[0].Label, "10");
    EXPECT_EQ(feeds[3].Label, "1/1");
    EXPECT_TRUE(feeds[3].Checked);
    Frame.View().ApplyPopupChoice(cmd::FeedPopup, 10);
    EXPECT_EQ(Frame.View().Core().Settings.SlowFeed, 100);
    Frame.View().ApplyPopupChoice(cmd::MagPopup, 3);
    EXPECT_EQ(Frame.View().Core().Settings.Zoom, 2.0);
}

TEST_F(Menus, CursorDiskWithTheTapeHiddenShowsTheTape) {
    Frame.RouteCommand(cmd::PaperTape);
    EXPECT_EQ(Frame.View().App().PaperTape, 0);
    Frame.RouteCommand(cmd::CursorDisk); // off
    Frame.RouteCommand(cmd::CursorDisk); // on again: the tape comes back
    EXPECT_EQ(Frame.View().App().CursorDisk, 1);
    EXPECT_EQ(Frame.View().App().PaperTape, 1);
}

TEST_F(Menus, RecordingIsOfferedOnlyForANewFileName) {
    Frame.View().App().WaveFile2 = "/nonexistent-dir/none.wav";
    EXPECT_TRUE(State(cmd::RecordWaveform).Enabled);
    Frame.View().App().WaveFile2 = "/proc/self/status"; // exists
    EXPECT_FALSE(State(cmd::RecordWaveform).Enabled);
    EXPECT_TRUE(State(cmd::PlaybackWaveform).Enabled);
}

TEST_F(Menus, RecordingAndPlaybackExcludeEachOther) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kv-menus-" + std::to_string(::getpid()) + ".wav"))
                                 .string();
    std::filesystem::remove(path);
    Frame.View().App().WaveFile2 = path;
    Frame.View().Core().Settings.DuplexAudio = 0;
    Frame.RouteCommand(cmd::RecordWaveform);
    EXPECT_TRUE(State(cmd::RecordWaveform).Checked);
    EXPECT_TRUE(State(cmd::RecordWaveform).Enabled) << "a recording can always be ended";
    EXPECT_FALSE(State(cmd::PlaybackWaveform).Enabled);
    Frame.RouteCommand(cmd::RecordWaveform);
    EXPECT_FALSE(State(cmd::RecordWaveform).Checked);
    EXPECT_FALSE(State(cmd::RecordWaveform).Enabled) << "the file exists now";
    Frame.RouteCommand(cmd::PlaybackWaveform);
    EXPECT_TRUE(State(cmd::PlaybackWaveform).Checked);
    Frame.RouteCommand(cmd::PlaybackWaveform);
    EXPECT_FALSE(State(cmd::PlaybackWaveform).Checked);
    std::filesystem::remove(path);
}

TEST_F(Menus, AnnotateNeedsTheTapeOrAnActiveLog) {
    Frame.View().App().LogFile2.clear();
    EXPECT_TRUE(State(cmd::AnnotateLog).Enabled) << "the note goes on the tape";
    EXPECT_FALSE(State(cmd::ClearLog).Enabled);
    EXPECT_FALSE(State(cmd::EnableLogging).Enabled);
    Frame.RouteCommand(cmd::PaperTape);
    EXPECT_FALSE(State(cmd::AnnotateLog).Enabled);
}

// The size of a tool-bar button's picture.
const QSize ButtonPicture(16, 15);

// The pixels of a tool-bar sized picture that are drawn at all.
QImage Ink(const QPixmap& picture) {
    return picture.toImage().convertToFormat(QImage::Format_Alpha8);
}

// What a character no font has looks like when drawn as the tool bar draws its glyphs.
QImage MissingGlyph(int pixelSize) {
    QPixmap picture(ButtonPicture);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    p.setFont(font);
    p.drawText(picture.rect(), Qt::AlignCenter, QString(QChar(0xE83A))); // private use: no glyph
    p.end();
    return Ink(picture);
}

TEST_F(Menus, ToolBarPicturesAreNoMissingGlyphs) {
    // The glyph sizes of the tool bar: one character, and two or three.
    const QImage missing[] = {MissingGlyph(13), MissingGlyph(9)};
    for (int id : ToolBarLayout()) {
        if (id == 0) continue;
        const QImage ink = Ink(ToolBarIcon(id).pixmap(ButtonPicture));
        for (const QImage& box : missing)
            EXPECT_NE(ink, box) << id << " is drawn as a missing glyph";
    }
}

// Pixels that differ clearly between two pictures laid on the menu's white background.
int ClearlyDifferent(const QPixmap& a, const QPixmap& b) {
    auto flat = [](const QPixmap& picture) {
        QImage image(picture.size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter(&image).drawPixmap(0, 0, picture);
        return image;
    };
    const QImage x = flat(a), y = flat(b);
    // A colour step of this size (sum over the channels) is plain to see.
    constexpr int Plain = 200;
    int n = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QColor c = x.pixelColor(col, row), d = y.pixelColor(col, row);
            n += std::abs(c.red() - d.red()) + std::abs(c.green() - d.green()) +
                     std::abs(c.blue() - d.blue()) >=
                 Plain;
        }
    return n;
}

TEST_F(Menus, CheckedCommandsShowAFramedPicture) {
    // At least a frame around the 16 x 15 picture differs: 2 * (16 + 15) - 4 pixels.
    constexpr int FramePixels = 58;
    for (int id : {cmd::Autostop, cmd::PaperTape, cmd::Hpf, cmd::Lever}) {
        const QIcon icon = ToolBarIcon(id);
        EXPECT_GE(ClearlyDifferent(icon.pixmap(ButtonPicture, QIcon::Normal, QIcon::On),
                                   icon.pixmap(ButtonPicture, QIcon::Normal, QIcon::Off)),
                  FramePixels)
            << id;
    }
    QAction* tape = Frame.ActionFor(cmd::PaperTape);
    Frame.UpdateActions({tape});
    EXPECT_TRUE(tape->isChecked());
    EXPECT_FALSE(tape->icon().isNull()) << "the menu item shows the same picture";
}

} // namespace
} // namespace kv
