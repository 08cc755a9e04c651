// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program on the offscreen platform without a sound card: a settings file that names
// only the waveform file, start-up plays that recording, and once the measuring window has filled
// the readouts agree with the recording's truth. Settings and placement survive a restart.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "audio/WaveFile.h"
#include "settings/SettingsPaths.h"
#include "ui/app/MainFrame.h"
#include "ui/view/StatusText.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

struct EndToEnd : ::testing::Test {
    fs::path Home = fs::temp_directory_path() / ("kv-e2e-" + std::to_string(::getpid()));
    fs::path Recording = Home / "watch.wav";
    test::SignalSource NoMicrophone;
    test::CountingSink NoSpeaker;
    QStringList Messages;

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
        unsetenv("XDG_DOCUMENTS_DIR");
        fs::remove_all(Home);
    }

    void WriteSettings(const std::string& text) {
        fs::create_directories(fs::path(ConfigFilePath()).parent_path());
        std::ofstream(ConfigFilePath()) << text;
    }
    std::unique_ptr<CMainFrame> Start(SettingsStore& store) {
        store.Load();
        CMainFrame::Options o{&store, &NoMicrophone, &NoSpeaker, {}};
        auto frame = std::make_unique<CMainFrame>(o);
        frame->View().Hooks.MessageSink = [this](const QString& m) { Messages << m; };
        // Playback starts at the beginning: a loop back to the start would put a jump of phase
        // into the measuring window.
        frame->View().Session().Transport().PlaybackStartDraw = [] { return 0; };
        return frame;
    }
};

TEST_F(EndToEnd, PlaysTheNamedRecordingAtStartUpAndShowsItsReadings) {
    synth::SynthOptions o;
    o.BeatsPerHour = 18000;
    o.RateSecondsPerDay = -6.0;
    o.BeatErrorMs = 0.6;
    o.AmplitudeDeg = 290;
    o.SampleRate = 48000;
    o.Seconds = 30;
    ASSERT_TRUE(WriteWaveFile(Recording.string(), synth::Synthesize(o).Samples, 48000, 1));
    WriteSettings("[Settings]\nWaveFile2=" + Recording.string() + "\n");
    SettingsStore store(ConfigFilePath());
    auto frame = Start(store);
    CChildView& view = frame->View();
    frame->resize(1280, 800);
    frame->show();

    QElapsedTimer clock;
    clock.start();
    auto windowFull = [&] {
        const auto lock = view.Core().HoldAnalysis();
        return view.Core().Measurement.RateWindowFull && view.Core().Measurement.BeatErrorStable;
    };
    while (!windowFull() && clock.elapsed() < 25000)
        QTest::qWait(50);
    ASSERT_TRUE(windowFull());
    EXPECT_TRUE(view.Session().WaveformState().Playing());
    EXPECT_EQ(view.Core().Settings.SampleRate, 48000u) << "capture follows the file's rate";
    QTest::qWait(2500); // a few more measurements, then read what is displayed
    view.repaint();

    auto lock = view.Core().HoldAnalysis();
    const MeasurementState& m = view.Core().Measurement;
    const RateReadout rate = RateReadoutText(
        {false, 0, m.Rate, m.RateWindowFull, false, 48000.0 * view.Core().Params.MeasuringTime});
    const std::string amplitude = AmplitudeText(m.Amplitude, view.Core().Params.LiftAngle, false,
                                                EscapementType::Lever, false);
    const double accumulated = m.AccumulatedRate * 86400;
    const int loops = view.Session().WaveformState().LoopCount();
    const int overruns = view.Core().Detector.OverrunCount;
    const std::string beat =
        BeatErrorText(m.BeatError, view.Core().Derived.BeatPeriod, false, m.BeatErrorStable, false);
    lock.unlock();
    double shownRate = 0, shownAmplitude = 0, shownBeat = 0;
    ASSERT_EQ(std::sscanf(rate.Text.c_str(), "Rate %lf", &shownRate), 1) << rate.Text;
    ASSERT_EQ(std::sscanf(amplitude.c_str(), "Amplitude %lf", &shownAmplitude), 1) << amplitude;
    ASSERT_EQ(std::sscanf(beat.c_str(), "Beat error %lf", &shownBeat), 1) << beat;
    EXPECT_FALSE(rate.Orange);
    // An empty store gives the sample clock its long-standing default factor for 48 kHz, which
    // the rate shows: c (1 + r) - 1.
    const double factor = 1.00003109815019;
    const double expected = (factor * (1.0 - 6.0 / 86400) - 1.0) * 86400;
    EXPECT_NEAR(shownRate, expected, 0.5)
        << "accumulated " << accumulated << " loops " << loops << " overruns " << overruns;
    EXPECT_NEAR(shownAmplitude, 290, 15);
    EXPECT_NEAR(std::fabs(shownBeat), 0.6, 0.1);

    // The readout is drawn in blue at the top left once the window is full.
    const QImage& picture = view.Picture();
    int blue = 0;
    for (int y = 0; y < picture.height() / 20; ++y)
        for (int x = 0; x < picture.width() / 4; ++x)
            blue += picture.pixelColor(x, y) == QColor(0, 0, 200);
    EXPECT_GT(blue, 20);
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(
        Messages[0].endsWith("Please check wave-out device. Continuing without sound-out."));
}

TEST_F(EndToEnd, SettingsAndPlacementSurviveARestart) {
    {
        SettingsStore store(ConfigFilePath());
        auto frame = Start(store);
        frame->View().Core().ParseTrain("21600 vph");
        frame->View().Core().Params.TickInterval = "21600 vph";
        frame->View().App().Title = "Omega 565";
        frame->setGeometry(40, 50, 900, 700);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
        frame->close();
    }
    SettingsStore store(ConfigFilePath());
    auto frame = Start(store);
    EXPECT_EQ(frame->View().App().Title, "Omega 565");
    EXPECT_EQ(frame->View().Core().Params.TickInterval, "21600 vph");
    EXPECT_NEAR(frame->View().Core().Derived.BeatPeriod, 1.0 / 6, 1e-12);
    const auto placement = frame->StoredPlacement();
    ASSERT_TRUE(placement.has_value());
    EXPECT_EQ(placement->Normal.size(), QSize(900, 700));
    EXPECT_FALSE(frame->View().App().WaveFile2.empty()) << "default file names are made";
    EXPECT_FALSE(frame->View().App().LogFile2.empty());
}

} // namespace
} // namespace kv
