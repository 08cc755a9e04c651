// SPDX-License-Identifier: GPL-3.0-or-later
// The calibration in the whole program on the offscreen platform, without a sound card, in real
// time: the simulated card's clock is set off by [Simulation] SampleClockPpm, and the
// calibration has to find that error again, against a quartz-perfect recording (local standard)
// or against a real SNTP server on 127.0.0.1. Minutes long: these run as their own CTest entries
// with the label "long".
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <unistd.h>

#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "audio/WaveFile.h"
#include "settings/SettingsPaths.h"
#include "support/ChronyServer.h"
#include "ui/app/MainFrame.h"
#include "ui/dialogs/DEndCal.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr double SecondsPerDay = 86400.0;

// The number after `label` in `text`, or NaN.
double NumberAfter(const std::string& text, const std::string& label) {
    const size_t at = text.rfind(label);
    if (at == std::string::npos) return std::nan("");
    return std::strtod(text.c_str() + at + label.size(), nullptr);
}

struct LongCalibration : ::testing::Test {
    fs::path Home = fs::temp_directory_path() / ("kv-cal-e2e-" + std::to_string(::getpid()));
    fs::path Recording = Home / "watch.wav";
    test::SignalSource NoMicrophone;
    test::CountingSink NoSpeaker;
    RecordingClockSetter SystemClock; // the machine's clock is never set
    QStringList Asked;
    std::unique_ptr<SettingsStore> Store;
    std::unique_ptr<CMainFrame> Frame;

    void SetUp() override {
        fs::create_directories(Home);
        setenv("HOME", Home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_DATA_HOME");
        setenv("XDG_DOCUMENTS_DIR", (Home / "Documents").c_str(), 1);
        NoMicrophone.Names.clear();
        NoSpeaker.Names.clear();
    }
    void TearDown() override {
        Frame.reset();
        unsetenv("XDG_DOCUMENTS_DIR");
        fs::remove_all(Home);
    }
    // A watch of the given rate, long enough that no loop of the recording falls into the test.
    void WriteRecording(double rateSecondsPerDay, double seconds) {
        synth::SynthOptions o;
        o.BeatsPerHour = 18000;
        o.RateSecondsPerDay = rateSecondsPerDay;
        o.SampleRate = 48000;
        o.Seconds = seconds;
        ASSERT_TRUE(WriteWaveFile(Recording.string(), synth::Synthesize(o).Samples, 48000, 1));
    }
    CChildView& Start(const std::string& settings) {
        fs::create_directories(fs::path(ConfigFilePath()).parent_path());
        std::ofstream(ConfigFilePath())
            << "[Settings]\nWaveFile2=" << Recording.string() << "\nCentre=0\n"
            << settings;
        Store = std::make_unique<SettingsStore>(ConfigFilePath());
        Store->Load();
        CMainFrame::Options o{Store.get(), &NoMicrophone, &NoSpeaker, {}};
        CalibrationSeams seams;
        seams.ClockSetter = &SystemClock;
        Frame = std::make_unique<CMainFrame>(o, seams);
        CChildView& view = Frame->View();
        view.Hooks.MessageSink = [](const QString&) {};
        view.Hooks.QuestionHook = [this](const QString& text, QuestionButtons) {
            Asked << text;
            return text.startsWith("Time elapsed") ? Answer::Yes : Answer::No;
        };
        view.Session().Transport().PlaybackStartDraw = [] { return 0; };
        Frame->show();
        return view;
    }
    std::string Text(CChildView& view) {
        const CalibrationState& calibration = view.Session().Calibration().State();
        const auto lock = calibration.HoldLock();
        const auto analysis = view.Core().HoldAnalysis();
        return calibration.ShownText(view.Core());
    }
    double RateSecondsPerDay(CChildView& view) {
        const auto lock = view.Core().HoldAnalysis();
        return view.Core().Measurement.Rate * SecondsPerDay;
    }
};

template <typename Predicate> bool WaitFor(Predicate done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QTest::qWait(50);
    return done();
}

TEST_F(LongCalibration, LocalStandardFindsTheSimulatedCardError) {
    constexpr int RunMs = 125000; // a little over the two minutes the check is about
    WriteRecording(0.0, 200.0);   // a quartz-perfect reference
    CChildView& view = Start("[Simulation]\nSampleClockPpm=-25\n");
    EXPECT_EQ(view.Session().SimulatedClockPpm(), -25.0);
    ASSERT_TRUE(WaitFor([&] { return view.Session().IsRunning(); }, 10000));
    ASSERT_TRUE(WaitFor([&] { return view.CommandStatus(cmd::LocalCal).Enabled; }, 5000));
    ASSERT_TRUE(view.OnCommand(cmd::LocalCal));
    QTest::qWait(RunMs);
    ASSERT_TRUE(view.OnCommand(cmd::FinishCal));
    ASSERT_GE(Asked.size(), 1) << Text(view);
    const double suggested = NumberAfter(Asked[0].toStdString(), "Cal factor suggested ");
    EXPECT_NEAR(suggested, -2.16, 0.05) << Asked[0].toStdString();
    EXPECT_NEAR(FactorToSecondsPerDay(view.Core().Settings.Cal.CalFactor48), -2.16, 0.05)
        << "Yes applied the suggested factor";
    EXPECT_EQ(view.Session().Calibration().Flags(), 0);
}

TEST_F(LongCalibration, SntpAgainstALocalServerFindsTheSimulatedCardError) {
    if (!test::ChronyServer::Installed()) GTEST_SKIP() << "chronyd is not installed (chrony)";
    constexpr int ConvergeMs = 600000; // ten minutes at the normal update interval
    constexpr double Expected = 3.456; // 40 ppm in seconds per day
    constexpr double WatchRate = 5.0;  // the recording's own rate
    constexpr int SteadyUpdates = 3;   // suggestions in a row within the tolerance
    // Limited like a public server: a burst of 8, then one query per 8 s (2^3).
    test::ChronyServer chrony("ratelimit interval 3 burst 8\n");
    ASSERT_TRUE(chrony.Running());
    WriteRecording(WatchRate, 300.0); // loops; the analysis rejoins at the splice
    // The default factor: the analysis buffers end anywhere inside the simulated card's 10 ms
    // blocks, and only the blocks' arrival times keep the buffer times on the card's schedule.
    CChildView& view = Start("SNTPServer=127.0.0.1\nSNTPPort=" + std::to_string(chrony.Port()) +
                             "\n[Simulation]\nSampleClockPpm=40\n");
    const double initialFactor = FactorToSecondsPerDay(view.Core().Settings.Cal.CalFactor48);
    ASSERT_TRUE(WaitFor([&] { return view.Session().IsRunning(); }, 10000));
    ASSERT_TRUE(view.OnCommand(cmd::InternetCal));

    QElapsedTimer clock;
    clock.start();
    int steady = 0;
    std::string lastText;
    while (steady < SteadyUpdates && clock.elapsed() < ConvergeMs) {
        QTest::qWait(view.App().CalUpdateInterval);
        const std::string text = Text(view);
        if (text == lastText) continue;
        lastText = text;
        const double suggested = NumberAfter(text, "Cal factor suggested ");
        steady = std::fabs(suggested - Expected) < 0.1 ? steady + 1 : 0;
    }
    ASSERT_EQ(steady, SteadyUpdates) << "no convergence in ten minutes; last text:\n" << lastText;
    EXPECT_EQ(chrony.ServerStat("NTP packets dropped"), 0) << "a query beyond the server's limit";
    EXPECT_NEAR(RateSecondsPerDay(view), WatchRate - (Expected - initialFactor), 0.5)
        << "the card's error shows in the reading before the factor is applied";

    // The run survives Stop and Run: paused with its bins, then continued.
    const int64_t points = view.Session().Calibration().Progress().Bins.N[0];
    view.Session().Run();
    EXPECT_EQ(view.Session().Calibration().Flags(), 0x101);
    view.Session().Run();
    EXPECT_EQ(view.Session().Calibration().Flags(), 0x201);
    EXPECT_EQ(view.Session().Calibration().Progress().Bins.N[0], points);

    view.Hooks.EndCalibrationDialogHook = [](CDEndCal& dialog) {
        dialog.findChild<QRadioButton*>("id2225")->click(); // apply and end
        dialog.accept();
    };
    ASSERT_TRUE(view.OnCommand(cmd::FinishCal));
    EXPECT_EQ(view.Session().Calibration().Flags(), 0);
    EXPECT_NEAR(FactorToSecondsPerDay(view.Core().Settings.Cal.CalFactor48), Expected, 0.1);
    view.Session().Run(); // a fresh measurement with the new factor
    view.Session().Run();
    QTest::qWait(40000);
    EXPECT_NEAR(RateSecondsPerDay(view), WatchRate, 0.3);
    EXPECT_EQ(SystemClock.Requests(), 0);
}

// The polite client over half an hour, for the figures of a release note (run by name with
// --gtest_also_run_disabled_tests): every suggestion with its time and the server's counters, the
// factor within 0.1 s/d after eleven minutes, and not one query beyond the server's limit.
TEST_F(LongCalibration, DISABLED_HalfAnHourAgainstARateLimitedServer) {
    if (!test::ChronyServer::Installed()) GTEST_SKIP() << "chronyd is not installed (chrony)";
    constexpr qint64 RunMs = 30 * 60 * 1000;
    constexpr qint64 DeadlineMs = 11 * 60 * 1000;
    constexpr double Expected = 3.456; // 40 ppm in seconds per day
    constexpr long Burst = 8;          // the server's burst, then one query per 8 s
    test::ChronyServer chrony("ratelimit interval 3 burst 8\n");
    ASSERT_TRUE(chrony.Running());
    WriteRecording(5.0, 300.0);
    CChildView& view = Start("SNTPServer=127.0.0.1\nSNTPPort=" + std::to_string(chrony.Port()) +
                             "\n[Simulation]\nSampleClockPpm=40\n");
    ASSERT_TRUE(WaitFor([&] { return view.Session().IsRunning(); }, 10000));
    ASSERT_TRUE(view.OnCommand(cmd::InternetCal));
    QElapsedTimer clock;
    clock.start();
    std::string lastText;
    double atDeadline = std::nan("");
    std::printf("minutes  suggested s/d  received  dropped\n");
    while (clock.elapsed() < RunMs) {
        QTest::qWait(view.App().CalUpdateInterval);
        const std::string text = Text(view);
        if (text == lastText) continue;
        lastText = text;
        const double suggested = NumberAfter(text, "Cal factor suggested ");
        if (clock.elapsed() <= DeadlineMs) atDeadline = suggested;
        std::printf("%7.2f  %13.4f  %8ld  %7ld\n", clock.elapsed() / 60000.0, suggested,
                    chrony.ServerStat("NTP packets received"),
                    chrony.ServerStat("NTP packets dropped"));
        std::fflush(stdout);
    }
    EXPECT_NEAR(atDeadline, Expected, 0.1) << "after eleven minutes";
    EXPECT_NEAR(NumberAfter(lastText, "Cal factor suggested "), Expected, 0.1) << lastText;
    EXPECT_EQ(chrony.ServerStat("NTP packets dropped"), 0) << "so no Kiss-o'-Death either";
    EXPECT_LE(chrony.ServerStat("NTP packets received"), Burst + RunMs / 8000)
        << "on average at most one query per 8 s";
}

} // namespace
} // namespace kv
