// SPDX-License-Identifier: GPL-3.0-or-later
// The measuring loop of the view: Run and Stop, their messages, the timers by id, auto-stop,
// centring and the repaint throttle, driven through the view with a test capture device.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "../settings/SettingsTestSupport.h"
#include "PumpEvents.h"
#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "audio/WaveFile.h"
#include "settings/SettingsStore.h"
#include "ui/view/ChildView.h"

namespace kv {
namespace {

using test::WaitFor;

std::vector<int16_t> Watch(double rateSecondsPerDay, double seconds, unsigned sampleRate) {
    synth::SynthOptions o;
    o.BeatsPerHour = 18000;
    o.RateSecondsPerDay = rateSecondsPerDay;
    o.Seconds = seconds;
    o.SampleRate = sampleRate;
    return synth::Synthesize(o).Samples;
}

struct LoopFixture : ::testing::Test {
    test::SignalSource Source;
    test::CountingSink Speaker;
    CChildView View{nullptr, &Source, &Speaker};
    QStringList Messages;

    void SetUp() override {
        View.Hooks.MessageSink = [this](const QString& m) { Messages << m; };
        View.Core().Settings.SampleRate = 48000;
        View.Core().Settings.Centre = 0;
        View.resize(800, 600);
    }
    void TearDown() override {
        if (View.Session().IsRunning()) View.Session().Run();
    }
    double RateSecondsPerDay() {
        const auto lock = View.Core().HoldAnalysis();
        return View.Core().Measurement.Rate * 86400.0;
    }
};

TEST_F(LoopFixture, RunMeasuresTheWatchAndStopEndsEverything) {
    Source.Signal = Watch(8.0, 30.0, 48000);
    Source.Speed = 8.0;
    View.Session().Run();
    ASSERT_TRUE(View.Session().IsRunning());
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_EQ(Source.Format.SampleRate, 48000u);
    EXPECT_EQ(View.Timers().Interval(TimerAutoStop), 6000); // 30 beats at 18000 vph
    ASSERT_TRUE(WaitFor([&] { return Source.Delivered > 48000u * 25; }, 20000));
    {
        const auto lock = View.Core().HoldAnalysis();
        EXPECT_TRUE(View.Core().Measurement.RateWindowFull);
    }
    EXPECT_NEAR(RateSecondsPerDay(), 8.0, 0.5);

    View.Session().Run();
    EXPECT_FALSE(View.Session().IsRunning());
    for (int id :
         {int{TimerAutoStop}, int{TimerTrainDetect}, int{TimerCentre}, int{TimerRepaintRetry}})
        EXPECT_FALSE(View.Timers().IsActive(id)) << id;
    const size_t delivered = Source.Delivered;
    QTest::qWait(100);
    EXPECT_EQ(Source.Delivered, delivered) << "the device is closed at Stop";
}

TEST_F(LoopFixture, MissingInputDeviceShowsBothMessagesInOneBoxAndStaysStopped) {
    Source.Names.clear();
    View.Session().Run();
    EXPECT_FALSE(View.Session().IsRunning());
    EXPECT_TRUE(Messages.isEmpty()) << "shown after the command, not inside it";
    QCoreApplication::processEvents();
    EXPECT_EQ(Messages, QStringList{"No sound devices found !\n"
                                    "Please check wave-in device. Unable to continue."});
    EXPECT_FALSE(View.Timers().IsActive(TimerAutoStop));
}

TEST_F(LoopFixture, DeviceThatFailsToOpenReportsItsOwnMessageFirst) {
    Source.OpenCode = SoundInAllocated;
    View.Session().Run();
    EXPECT_FALSE(View.Session().IsRunning());
    QCoreApplication::processEvents();
    EXPECT_EQ(Messages, QStringList{"Specified resource is already allocated.\n"
                                    "Please check wave-in device. Unable to continue."});
    View.Session().Run();
    QCoreApplication::processEvents();
    EXPECT_EQ(Messages.size(), 2) << "every Run that cannot start says why";
}

TEST_F(LoopFixture, TheWatchIsHeardThroughTheSpeakerWhileMeasuring) {
    Source.Signal = Watch(0.0, 10.0, 48000);
    Source.Speed = 2.0;
    View.Session().Run();
    ASSERT_TRUE(View.Session().IsRunning());
    EXPECT_EQ(Speaker.Rate, 48000u);
    ASSERT_TRUE(WaitFor([&] { return Speaker.Played > 48000u; }, 5000));
    EXPECT_TRUE(Messages.isEmpty());
    View.Session().Run();
    EXPECT_EQ(View.Session().MonitorOutput().MonitorLength(), 0u)
        << "the monitor copy is freed at Stop";
}

TEST_F(LoopFixture, MissingOutputDeviceSwitchesDuplexAudioOffAndMeasuringGoesOn) {
    Speaker.Names.clear();
    Source.Signal = Watch(0.0, 5.0, 48000);
    View.Session().Run();
    EXPECT_TRUE(View.Session().IsRunning());
    QCoreApplication::processEvents();
    EXPECT_EQ(Messages, QStringList{"No sound devices found !\n"
                                    "Please check wave-out device. Continuing without sound-out."});
    EXPECT_EQ(View.Core().Settings.DuplexAudio, 0);
    View.Session().Run();
    View.Session().Run();
    QCoreApplication::processEvents();
    EXPECT_EQ(Messages.size(), 1) << "shown once: the setting stays off";
    View.Core().Settings.DuplexAudio = 1;
    View.Session().Run();
    View.Session().Run();
    QCoreApplication::processEvents();
    EXPECT_EQ(Messages.size(), 1) << "a machine without an output is told once per start";
}

TEST_F(LoopFixture, PlaybackIsMeasuredAndHeardWithoutDuplexAudioThenLiveInputResumes) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kv-loop-" + std::to_string(::getpid()) + ".wav"))
                                 .string();
    ASSERT_TRUE(WriteWaveFile(path, Watch(-4.0, 20.0, 44100), 44100, 1));
    View.Core().Settings.DuplexAudio = 0;
    View.Core().Settings.SampleRate = 96000;
    View.App().WaveFile2 = path;
    View.Session().TogglePlayback();
    ASSERT_TRUE(WaitFor([&] { return View.Session().IsRunning(); }, 2000));
    EXPECT_TRUE(View.Session().WaveformState().Playing());
    EXPECT_EQ(Source.Format.SampleRate, 44100u) << "capture at the file's rate";
    ASSERT_TRUE(WaitFor([&] { return Speaker.Played > 44100u / 2; }, 5000)) << "heard";
    EXPECT_EQ(Speaker.Rate, 44100u);

    View.Session().TogglePlayback();
    EXPECT_FALSE(View.Session().WaveformState().Playing());
    EXPECT_EQ(View.Core().Settings.SampleRate, 96000u) << "the user's rate is back";
    ASSERT_TRUE(WaitFor([&] { return View.Session().IsRunning(); }, 2000))
        << "live measuring resumes";
    EXPECT_EQ(Source.Format.SampleRate, 96000u);
    const size_t heard = Speaker.Played;
    QTest::qWait(300);
    EXPECT_EQ(Speaker.Played, heard) << "the file is no longer played";
    std::filesystem::remove(path);
}

TEST_F(LoopFixture, ARecordingAfterAPlaybackIsCapturedAndLabelledAtTheUsersRate) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kv-rec-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string played = (dir / "played.wav").string();
    const std::string recorded = (dir / "recorded.wav").string();
    ASSERT_TRUE(WriteWaveFile(played, Watch(-4.0, 20.0, 48000), 48000, 1));
    test::ScopedEnvironment environment{{"XDG_DATA_HOME", (dir / "data").string()}};
    SettingsStore store((dir / "settings.ini").string());
    struct CloseBeforeTheStore {
        CChildView& View;
        ~CloseBeforeTheStore() { View.OnDestroy(); }
    } closer{View};
    View.OnCreate(&store);
    ASSERT_FALSE(View.Session().WaveformState().Playing()) << "nothing at the default path";
    View.Core().Settings.DuplexAudio = 0;
    View.Core().Settings.SampleRate = 96000;
    View.App().WaveFile2 = played;
    View.Session().TogglePlayback();
    ASSERT_TRUE(WaitFor([&] { return View.Session().IsRunning(); }, 2000));
    ASSERT_EQ(Source.Format.SampleRate, 48000u);

    ASSERT_TRUE(View.Session().Save());
    EXPECT_EQ(store.GetInt("Settings", "SampleRate", 0), 96000)
        << "the file's borrowed rate is not the user's";

    View.Session().SetWaveformFile(recorded);
    View.Session().ToggleRecording();
    ASSERT_TRUE(WaitFor([&] { return View.Session().IsRunning(); }, 2000));
    ASSERT_TRUE(WaitFor([&] { return Source.Delivered > 96000u; }, 5000));
    const unsigned capturedAt = Source.Format.SampleRate;
    View.Session().ToggleRecording();
    const WaveReadResult file = ReadWaveFile(recorded);
    ASSERT_TRUE(file.Ok) << file.Error;
    EXPECT_EQ(capturedAt, 96000u);
    EXPECT_EQ(file.Data.SampleRate, capturedAt) << "the header says the rate the samples came at";
    std::filesystem::remove_all(dir);
}

TEST_F(LoopFixture, ADeviceThatDeliversNothingIsNamedAsTheReason) {
    Source.Stalled = true;
    View.Session().Run();
    ASSERT_TRUE(View.Session().IsRunning());
    ASSERT_TRUE(WaitFor([&] { return !Messages.isEmpty(); }, 9000))
        << "a start that cannot measure says why";
    EXPECT_TRUE(Messages[0].startsWith("No sound arrives from the input device"));
    View.Session().Run();
    Source.Stalled = false;
    Source.Signal = Watch(0.0, 20.0, 48000);
    Source.Speed = 4.0;
    View.Session().Run();
    QTest::qWait(7000);
    EXPECT_EQ(Messages.size(), 1) << "a device that delivers says nothing";
}

TEST_F(LoopFixture, APlaybackWhoseDeviceDeliversNothingGoesOnWithoutIt) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kv-stalled-" + std::to_string(::getpid()) + ".wav"))
                                 .string();
    ASSERT_TRUE(WriteWaveFile(path, Watch(3.0, 30.0, 48000), 48000, 1));
    Source.Stalled = true;
    View.Core().Settings.DuplexAudio = 0;
    View.App().WaveFile2 = path;
    View.Session().TogglePlayback();
    ASSERT_TRUE(WaitFor([&] { return View.Session().IsRunning(); }, 2000));
    auto ticks = [&] {
        const auto lock = View.Core().HoldAnalysis();
        return View.Core().Detector.UnlockCount;
    };
    EXPECT_TRUE(WaitFor([&] { return ticks() > 10; }, 12000)) << "measured without the device";
    EXPECT_TRUE(Messages.isEmpty());
    View.Session().TogglePlayback();
    std::filesystem::remove(path);
}

TEST_F(LoopFixture, AFileThatIsNotAWavRecordingIsRefusedWithAWord) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kv-notwav-" + std::to_string(::getpid()) + ".wav"))
                                 .string();
    std::ofstream(path) << "these are my notes, not a recording";
    View.App().WaveFile2 = path;
    View.Session().TogglePlayback();
    QCoreApplication::processEvents();
    EXPECT_FALSE(View.Session().WaveformState().Playing());
    EXPECT_FALSE(View.Session().IsRunning());
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_EQ(Messages[0], QString("Cannot play %1: it is not a WAV recording this program can "
                                   "read.")
                               .arg(QString::fromStdString(path)));
    std::filesystem::remove(path);

    View.App().WaveFile2 = path; // missing: nothing to say, it may be recorded to
    View.Session().TogglePlayback();
    QCoreApplication::processEvents();
    EXPECT_EQ(Messages.size(), 1);
}

TEST_F(LoopFixture, CentringHoldsBackTapeDotsUntilItsCountdownEnds) {
    View.Core().Settings.Centre = 1;
    Source.Signal = Watch(0.0, 40.0, 48000);
    Source.Speed = 4.0;
    View.Session().Run();
    EXPECT_EQ(View.Timers().Interval(TimerCentre), 800); // 4 beats of 0.2 s
    auto dots = [&] {
        const auto lock = View.Core().HoldAnalysis();
        int n = 0;
        for (const TapeEntry& e : View.Core().Tape.Entries)
            n += e.Time != 0;
        return n;
    };
    auto pending = [&] {
        const auto lock = View.Core().HoldAnalysis();
        return View.Core().CentringPending;
    };
    EXPECT_TRUE(pending());
    ASSERT_TRUE(WaitFor([&] { return !View.Timers().IsActive(TimerCentre); }, 3000));
    {
        const auto lock = View.Core().HoldAnalysis();
        EXPECT_GT(View.Core().CentringCountdown, 0);
    }
    // Both read under one lock: the countdown may end between two separate looks.
    auto dotsWhilePending = [&] {
        const auto lock = View.Core().HoldAnalysis();
        return View.Core().CentringPending ? dots() : -1;
    };
    for (int n = dotsWhilePending(); n >= 0 && Source.Delivered < 48000u * 30;
         n = dotsWhilePending())
        EXPECT_EQ(n, 0) << "no dots while centring is pending";
    ASSERT_FALSE(pending());
    EXPECT_TRUE(WaitFor([&] { return dots() > 10; }, 5000));
}

TEST_F(LoopFixture, AutoStopClearsTheReadingsWhenNoTicksArrive) {
    Source.Signal = Watch(5.0, 12.0, 48000); // then silence
    Source.Speed = 4.0;
    View.Session().Run();
    ASSERT_TRUE(WaitFor([&] { return Source.Delivered > 48000u * 11; }, 10000));
    EXPECT_NE(RateSecondsPerDay(), 0.0);
    // Silence from here on: the 6 s auto-stop delay runs out on the wall clock.
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto lock = View.Core().HoldAnalysis();
            return View.Core().NoSignal;
        },
        9000));
    const auto lock = View.Core().HoldAnalysis();
    EXPECT_EQ(View.Core().Measurement.Rate, 0.0);
    EXPECT_EQ(View.Core().Measurement.Amplitude, 0.0);
    EXPECT_TRUE(View.Core().Measurement.Running) << "measuring continues";
}

TEST_F(LoopFixture, AutostopToggleRestartsItsTimer) {
    View.Session().ToggleAutostop();
    EXPECT_EQ(View.Core().Settings.Autostop, 0);
    EXPECT_EQ(View.Timers().Interval(TimerAutoStop), 6000);
    View.Session().ToggleAutostop();
    EXPECT_EQ(View.Core().Settings.Autostop, 1);
}

TEST_F(LoopFixture, RepaintsWhileRunningAreThrottledAndTheLastIsNotLost) {
    Source.Signal.assign(48000 * 10, 0);
    View.show();
    View.Session().Run();
    QTest::qWait(200);
    const int before = View.PaintCount();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 450) {
        View.RequestRepaint();
        QCoreApplication::processEvents();
    }
    // Silence: the analysis itself asks for no repaint (no signal after auto-stop is not yet
    // set, but buffers of 0.2 s ask at most 3 times); the requests give at most one per 90 ms.
    const int made = View.PaintCount() - before;
    EXPECT_GE(made, 3);
    EXPECT_LE(made, 5 + 3);
    EXPECT_TRUE(View.Timers().IsActive(TimerRepaintRetry));
    const int afterBurst = View.PaintCount();
    QTest::qWait(150);
    EXPECT_GT(View.PaintCount(), afterBurst) << "timer 103 delivers the last request";
}

} // namespace
} // namespace kv
