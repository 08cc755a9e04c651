// SPDX-License-Identifier: GPL-3.0-or-later
// Positional runs in the measuring window on the offscreen platform: a motorised six-position run
// started from the tool bar and measured from a synthetic recording without a sound card, a
// manual run resumed with Run after each prompt, Stop cancelling a run, and the command states.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QToolButton>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "../settings/SettingsTestSupport.h"
#include "PumpEvents.h"
#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "positions/PositionCodes.h"
#include "ui/app/MainFrame.h"
#include "ui/common/CommandTable.h"
#include "ui/dialogs/AnnotatePos.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::WaitFor;

constexpr double WatchRate = 3.0;        // s/d
constexpr double WatchBeatErrorMs = 0.4; // ms
constexpr double WatchAmplitude = 280.0; // degrees

std::vector<int16_t> Watch(double seconds) {
    synth::SynthOptions o;
    o.RateSecondsPerDay = WatchRate;
    o.BeatErrorMs = WatchBeatErrorMs;
    o.AmplitudeDeg = WatchAmplitude;
    o.Seconds = seconds;
    o.SampleRate = 48000;
    return synth::Synthesize(o).Samples;
}

// The file's UTF-16LE code units as text; false when a unit is not ASCII or the degree sign
// (which becomes '@').
bool DecodeUtf16(const std::string& bytes, std::string& text) {
    if (bytes.size() % 2 != 0) return false;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        const unsigned unit = static_cast<unsigned char>(bytes[i]) |
                              static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (unit == 0xB0)
            text += '@';
        else if (unit < 0x80)
            text += static_cast<char>(unit);
        else
            return false;
    }
    return true;
}

std::string FileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TableLine {
    int Number = 0;
    std::string Code;
    double Rate = 0, Amplitude = 0, BeatError = 0, Duration = 0;
};

// The position lines of a results table.
std::vector<TableLine> TableLines(const std::string& text) {
    std::vector<TableLine> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        TableLine t;
        char code[3] = {};
        if (std::sscanf(line.c_str(), "%2d %2s\t%lf\t%lf\t%lf\t%lf", &t.Number, code, &t.Rate,
                        &t.Amplitude, &t.BeatError, &t.Duration) == 6) {
            t.Code = code;
            lines.push_back(t);
        }
    }
    return lines;
}

struct PositionsUi : ::testing::Test {
    test::TempFolder Dir;
    test::ScopedEnvironment Environment{{"XDG_DATA_HOME", Dir.Path() + "/data"}};
    test::SignalSource Source;
    test::CountingSink Speaker;
    CMainFrame Frame{CMainFrame::Options{nullptr, &Source, &Speaker, {}}};
    CChildView& View = Frame.View();
    QStringList Messages;
    int AnnotateDialogs = 0;

    void SetUp() override {
        View.Hooks.MessageSink = [this](const QString& m) { Messages << m; };
        View.Core().Settings.SampleRate = 48000;
        View.Core().Settings.Centre = 0;
        View.App().TextFile2 = Dir.Path() + "/results.txt";
        View.App().LogFile2 = Dir.Path() + "/readings.log";
        View.App().Title = "Movement 6497";
        Frame.resize(1000, 700);
        Frame.show();
    }
    void TearDown() override {
        if (View.Session().IsRunning()) View.Session().Run();
    }
    void UsePositions(int positions, double seconds, double stabilization) {
        auto& p = View.Core().Params;
        p.Positions = positions;
        p.PositionAveragingTime = seconds;
        p.Stabilization = stabilization;
    }
    int CurrentPosition() {
        const auto lock = View.Core().HoldAnalysis();
        return View.Core().Measurement.CurrentPosition;
    }
    std::string Prompt() {
        const auto lock = View.Core().HoldAnalysis();
        return View.Core().PromptText;
    }
    // The tool bar's button of the positional command.
    QAbstractButton* PositionsButton() {
        for (QToolButton* button : Frame.findChildren<QToolButton*>())
            if (button->defaultAction() &&
                button->defaultAction()->data().toInt() == cmd::Positions)
                return button;
        return nullptr;
    }
};

TEST_F(PositionsUi, MotorisedSixPositionRunFromTheToolBar) {
    UsePositions(6, 30, 5);
    View.App().Motorised = 1;
    View.App().PositionsToText = 1;
    View.Session().LogFile().ToggleLogging();
    fs::create_directories(Dir.Path() + "/data/Vexlor");
    std::ofstream(Dir.Path() + "/data/Vexlor/microphone.ini")
        << "[Microphone]\nPD0=10\nPD1=-5\nPL0=20\nPU0=30\nDD1=15\nDU1=-15\nPR0=-10\n";
    // Each position takes 35 s of sound, and at ten times real time the sound goes on for several
    // seconds more while the window waits for the positioner's tones.
    Source.Signal = Watch(6 * 60.0);
    Source.Speed = 10.0;
    const std::string chosen = Dir.Path() + "/chosen.txt";
    View.Hooks.TextFileHook = [&](const QString&) { return QString::fromStdString(chosen); };
    View.Hooks.AnnotatePosHook = [&](CAnnotatePos& dialog) {
        ++AnnotateDialogs;
        EXPECT_EQ(dialog.FileEdit()->text().toStdString(), Dir.Path() + "/results.txt");
        EXPECT_EQ(dialog.TitleEdit()->text(), "Movement 6497");
        EXPECT_TRUE(dialog.CommentEdit()->text().isEmpty());
        dialog.BrowseButton()->click();
        dialog.CommentEdit()->setText("Serviced");
        return true;
    };

    QAbstractButton* button = PositionsButton();
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(WaitFor([&] { return button->isEnabled(); }, 2000));
    button->click();
    EXPECT_TRUE(View.Session().IsRunning());
    EXPECT_EQ(CurrentPosition(), 1);
    EXPECT_TRUE(View.CommandStatus(cmd::Positions).Checked);
    EXPECT_FALSE(View.CommandStatus(cmd::Clear).Enabled);
    ASSERT_TRUE(WaitFor([&] { return CurrentPosition() == 0; }, 150000)) << CurrentPosition();
    EXPECT_FALSE(View.Session().IsRunning());
    EXPECT_EQ(View.Session().Positions().PositionerAt(), (PositionerPoint{}));
    EXPECT_EQ(AnnotateDialogs, 1);

    const std::string results = View.Session().Positions().Results();
    EXPECT_EQ(Prompt(), chosen + " Movement 6497\r\n" + results + "Serviced");
    EXPECT_NE(results.find("Means: \tRate = "), std::string::npos) << results;
    const std::vector<TableLine> lines = TableLines(results);
    ASSERT_EQ(lines.size(), 6u) << results;
    const char* codes[] = {"PD", "PL", "PU", "DD", "DU", "PR"};
    const double factor = CalFactorFor(48000, View.Core().Settings.Cal);
    const double measuredRate = WatchRate + (factor - 1.0) * 86400.0;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].Number, static_cast<int>(i + 1));
        EXPECT_EQ(lines[i].Code, codes[i]);
        EXPECT_NEAR(lines[i].Rate, measuredRate, 0.3) << results;
        EXPECT_NEAR(lines[i].Amplitude, WatchAmplitude, WatchAmplitude * 0.03) << results;
        EXPECT_NEAR(lines[i].BeatError, WatchBeatErrorMs, 0.07) << results;
        EXPECT_GE(lines[i].Duration, 30.0 - 0.5) << results;
    }

    // The results file: title, table and comment as UTF-16LE, CR LF, no byte-order mark.
    const std::string bytes = FileBytes(chosen);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_FALSE(bytes[0] == '\xff' && bytes[1] == '\xfe') << "no byte-order mark";
    std::string text;
    ASSERT_TRUE(DecodeUtf16(bytes, text));
    std::string expected = "Movement 6497\r\n" + results + "Serviced\r\n\r\n";
    for (size_t at; (at = expected.find("\xc2\xb0")) != std::string::npos;)
        expected.replace(at, 2, "@");
    EXPECT_EQ(text, expected);
    EXPECT_FALSE(fs::exists(Dir.Path() + "/results.txt"));

    // Each position's hand-over annotated trace 2 of the log.
    std::string log;
    ASSERT_TRUE(DecodeUtf16(FileBytes(View.App().LogFile2), log));
    for (int n = 1; n <= 5; ++n) {
        const std::string tag = "<TAG2>" + std::to_string(n) + " " + codes[n - 1] + "  +";
        EXPECT_NE(log.find(tag), std::string::npos) << tag;
    }

    // The view draws the table in the middle.
    View.repaint();
    const QImage& picture = View.Picture();
    int brown = 0;
    for (int y = picture.height() / 2; y < picture.height(); ++y)
        for (int x = 0; x < picture.width() / 3; ++x)
            brown += picture.pixelColor(x, y) == QColor(128, 64, 64);
    EXPECT_GT(brown, 100);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("|").toStdString();
}

TEST_F(PositionsUi, ManualRunResumesWithRunAfterEachPrompt) {
    UsePositions(3, 4, 1);
    View.App().Motorised = 0;
    Source.Signal = Watch(20.0);
    Source.Speed = 8.0;
    ASSERT_TRUE(View.OnCommand(cmd::Positions));
    for (int n = 1; n <= 3; ++n) {
        const std::string prompt = "Please place watch in position " + std::to_string(n) +
                                   " of 3 (" + PositionCode("PD-PL-PU-DD-DU-PR", n) +
                                   ")\r\n and click 'Run' to continue.\r\n";
        ASSERT_TRUE(WaitFor([&] { return Prompt() == prompt; }, 20000)) << n << ": " << Prompt();
        EXPECT_FALSE(View.Session().IsRunning()) << "stopped for the turn";
        EXPECT_EQ(CurrentPosition(), n);
        View.OnCommand(cmd::Run);
        EXPECT_TRUE(View.Session().IsRunning());
        EXPECT_TRUE(Prompt().empty());
    }
    ASSERT_TRUE(WaitFor([&] { return CurrentPosition() == 0; }, 30000));
    const std::vector<TableLine> lines = TableLines(Prompt());
    ASSERT_EQ(lines.size(), 3u) << Prompt();
    for (const TableLine& line : lines)
        EXPECT_GT(line.Duration, 3.0) << Prompt();
    EXPECT_NE(Prompt().find("Positions 3\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(View.App().TextFile2)) << "not asked to save";
}

TEST_F(PositionsUi, StopDuringARunCancelsItAndWritesNothing) {
    UsePositions(2, 4, 1);
    View.App().Motorised = 1;
    View.App().PositionsToText = 1;
    View.Hooks.AnnotatePosHook = [&](CAnnotatePos&) {
        ++AnnotateDialogs;
        return true;
    };
    Source.Signal = Watch(20.0);
    Source.Speed = 4.0;
    View.OnCommand(cmd::Positions);
    ASSERT_EQ(CurrentPosition(), 1);
    ASSERT_TRUE(WaitFor([&] { return Source.Delivered > 48000u * 2; }, 5000));
    View.OnCommand(cmd::Run);
    EXPECT_FALSE(View.Session().IsRunning());
    EXPECT_EQ(CurrentPosition(), 0);
    EXPECT_FALSE(View.CommandStatus(cmd::Positions).Checked);
    QTest::qWait(300);
    EXPECT_EQ(CurrentPosition(), 0) << "no hand-over revives it";
    EXPECT_EQ(AnnotateDialogs, 0);
    EXPECT_FALSE(fs::exists(View.App().TextFile2));
    EXPECT_EQ(View.Session().Positions().PositionerAt(), (PositionerPoint{}));
}

TEST_F(PositionsUi, CommandStatesAndTheResultsFileChoice) {
    EXPECT_TRUE(View.CommandStatus(cmd::Positions).Enabled);
    EXPECT_FALSE(View.CommandStatus(cmd::Positions).Checked);
    View.Core().Params.PositionAveragingTime = 0;
    EXPECT_FALSE(View.CommandStatus(cmd::Positions).Enabled);
    View.Core().Params.PositionAveragingTime = 12;
    {
        const auto lock = View.Session().Calibration().State().HoldLock();
        View.Session().Calibration().State().SetMode(LocalCalibrationMode);
    }
    EXPECT_FALSE(View.CommandStatus(cmd::Positions).Enabled);
    {
        const auto lock = View.Session().Calibration().State().HoldLock();
        View.Session().Calibration().State().SetMode(0);
    }

    EXPECT_TRUE(View.CommandStatus(cmd::ChooseTextFile).Enabled);
    View.Hooks.TextFileHook = [&](const QString& initial) {
        EXPECT_EQ(initial.toStdString(), Dir.Path() + "/results.txt");
        return QString::fromStdString(Dir.Path() + "/qc.txt");
    };
    EXPECT_TRUE(View.OnCommand(cmd::ChooseTextFile));
    EXPECT_EQ(View.App().TextFile2, Dir.Path() + "/qc.txt");
    View.Hooks.TextFileHook = [](const QString&) { return QString(); };
    View.OnCommand(cmd::ChooseTextFile);
    EXPECT_EQ(View.App().TextFile2, Dir.Path() + "/qc.txt") << "Cancel keeps the file";
}

} // namespace
} // namespace kv
