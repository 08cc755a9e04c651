// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer bar on a real desktop sound stack: a PulseAudio server of the test's own, with a null
// sink as the speaker and a null source as the microphone, reached through ALSA's "pulse" device.
// The program binds its faders to the simple controls "Capture" and "Master", moves them (the
// server follows) and follows changes made with amixer and pactl. Without a server the binding
// fails with its diagnostic text.
#include <gtest/gtest.h>

#include <QTest>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "PumpEvents.h"
#include "SignalSource.h"
#include "SynthPresets.h"
#include "audio/mixer/AlsaMixerControl.h"
#include "ui/app/MainFrame.h"
#include "ui/bars/MixerBar.h"

extern char** environ;

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::WaitFor;

// Runs a shell command; its standard output.
std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        std::array<char, 256> chunk{};
        while (std::fgets(chunk.data(), chunk.size(), pipe))
            text += chunk.data();
        ::pclose(pipe);
    }
    return text;
}

bool Installed(const char* program) {
    return !Output(std::string("command -v ") + program).empty();
}

// The first channel's raw volume in a pactl volume line ("front-left: 26214 /  40% / ...").
long FirstVolume(const std::string& pactl) {
    const size_t colon = pactl.find("front-left:");
    return colon == std::string::npos ? -1 : std::strtol(pactl.c_str() + colon + 11, nullptr, 10);
}

// Environment variables the server and its clients read, set for the test and restored after.
class ScopedEnvironment {
public:
    void Set(const char* name, const std::string& value) {
        Remember(name);
        ::setenv(name, value.c_str(), 1);
    }
    void Unset(const char* name) {
        Remember(name);
        ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : Saved)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }

private:
    void Remember(const char* name) {
        const char* old = std::getenv(name);
        Saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

// A PulseAudio server in a runtime folder of its own; stopped by Stop or the destructor.
class PulseServer {
public:
    explicit PulseServer(const fs::path& dir) : Dir(dir) {}
    ~PulseServer() { Stop(); }

    bool Start() {
        const fs::path config = Dir / "server.pa";
        std::ofstream(config) << "load-module module-native-protocol-unix auth-anonymous=1\n"
                                 "load-module module-null-sink sink_name=speaker\n"
                                 "load-module module-null-source source_name=microphone\n"
                                 "set-default-sink speaker\n"
                                 "set-default-source microphone\n";
        const std::string configText = config.string();
        const char* argv[] = {"pulseaudio",
                              "-n",
                              "-F",
                              configText.c_str(),
                              "--exit-idle-time=-1",
                              "--daemonize=no",
                              "--log-target=stderr",
                              nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string log = (Dir / "server.log").string();
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT, 0644);
        const int error =
            posix_spawnp(&Pid, "pulseaudio", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            Pid = -1;
            return false;
        }
        // Up when the controls answer through ALSA's pulse device.
        return WaitFor(
            [] {
                return Output("amixer -D pulse sget Master").find("Playback") != std::string::npos;
            },
            10000, 50);
    }
    void Stop() {
        if (Pid <= 0) return;
        ::kill(Pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 500 && ::waitpid(Pid, &status, WNOHANG) == 0; ++i)
            ::usleep(10000);
        if (::waitpid(Pid, &status, WNOHANG) == 0) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, &status, 0);
        }
        Pid = -1;
    }

private:
    fs::path Dir;
    pid_t Pid = -1;
};

struct PulseMixer : ::testing::Test {
    fs::path Dir = fs::temp_directory_path() / ("kv-pulse-" + std::to_string(::getpid()));
    ScopedEnvironment Environment;
    test::SignalSource Source;
    // Both devices are the sound server's, as PortAudio names them on a desktop.
    test::FakePlaybackSink Speaker{test::FakePlaybackSink::Playing::RealTime, {"pulse"}};
    AlsaMixerControl InputMixer;
    AlsaMixerControl OutputMixer;
    std::unique_ptr<CMainFrame> Frame;
    QStringList Messages;

    void SetUp() override {
        if (!Installed("pulseaudio")) GTEST_SKIP() << "pulseaudio is not installed";
        ASSERT_TRUE(Installed("pactl") && Installed("amixer"))
            << "pactl (pulseaudio-utils) and amixer (alsa-utils) check the server's volumes";
        fs::create_directories(Dir / "pulse");
        const fs::path client = Dir / "client.conf";
        std::ofstream(client) << "autospawn = no\n"; // only the test's server, never another
        Environment.Set("HOME", Dir.string());
        Environment.Set("XDG_RUNTIME_DIR", Dir.string());
        Environment.Set("PULSE_RUNTIME_PATH", (Dir / "pulse").string());
        Environment.Set("PULSE_CLIENTCONFIG", client.string());
        Environment.Set("XDG_DATA_HOME", (Dir / "data").string());
        Environment.Set("XDG_CONFIG_HOME", (Dir / "config").string());
        Environment.Unset("PULSE_SERVER");
        Frame = std::make_unique<CMainFrame>(CMainFrame::Options{nullptr, &Source, &Speaker, {}});
        View().Hooks.MessageSink = [this](const QString& m) { Messages << m; };
        View().Session().Mixer().UseMixers(InputMixer, OutputMixer);
        Source.Names = {"pulse"};
        View().App().SoundDeviceStr = "pulse";
        View().App().SoundDeviceOutStr = "pulse";
        View().Core().Settings.SampleRate = 48000;
        View().Core().Settings.DuplexAudio = 1;
        Frame->show();
    }
    void TearDown() override {
        if (Frame && View().Session().IsRunning()) View().Session().Run();
        Frame.reset();
        fs::remove_all(Dir);
    }
    CChildView& View() { return Frame->View(); }
    MixerBar& Bar() { return Frame->Mixer(); }
    void Restart() {
        if (View().Session().IsRunning()) View().Session().Run();
        View().Session().Run();
        QCoreApplication::processEvents();
    }
};

TEST_F(PulseMixer, BindsCaptureAndMasterMovesThemAndFollowsOutsideChanges) {
    PulseServer server(Dir);
    ASSERT_TRUE(server.Start()) << "the test's own PulseAudio server did not come up";
    Output("pactl set-source-volume microphone 50%");
    Output("pactl set-sink-volume speaker 40%");
    Restart();
    ASSERT_TRUE(View().Session().IsRunning());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('|').toStdString();
    QSlider* mic = Bar().MicrophoneSlider();
    QSlider* speaker = Bar().SpeakerSlider();
    ASSERT_TRUE(mic->isEnabled()) << View().Session().Mixer().MicrophoneFader().DiagnosticText();
    ASSERT_TRUE(speaker->isEnabled()) << View().Session().Mixer().SpeakerFader().DiagnosticText();
    EXPECT_EQ(View().Session().Mixer().MicrophoneFader().LineName(), "Capture");
    EXPECT_EQ(View().Session().Mixer().SpeakerFader().LineName(), "Master");
    EXPECT_EQ(mic->maximum(), 100);
    EXPECT_EQ(mic->value(), 50);
    EXPECT_EQ(speaker->value(), 60);
    EXPECT_EQ(View().Session().Mixer().AgcStepSize, 655);

    // The program moves the server's volumes.
    // A position stands for whole steps of 655 on the 0..65535 scale; the server's range is
    // 0..65536 (100 %).
    auto raw = [](int steps) { return steps * 655.0 * 65536 / 65535; };
    mic->setValue(20); // 80 steps up
    speaker->setValue(70);
    EXPECT_NEAR(FirstVolume(Output("pactl get-source-volume microphone")), raw(80), 1);
    EXPECT_NEAR(FirstVolume(Output("pactl get-sink-volume speaker")), raw(30), 1);

    // And follows the desktop's own changes.
    QTest::qWait(2 * CMixerFader::EchoWindowMs);
    Output("amixer -D pulse sset Capture 25%");
    EXPECT_TRUE(WaitFor([&] { return mic->value() == 75; }, 5000)) << mic->value();
    Output("pactl set-sink-volume speaker 90%");
    EXPECT_TRUE(WaitFor([&] { return speaker->value() == 10; }, 5000)) << speaker->value();

    // The automatic level control raises the server's capture volume on a silent input: no tick
    // is heard yet and no noise holds the level back.
    const long before = FirstVolume(Output("pactl get-source-volume microphone"));
    Bar().AlcBox()->click();
    EXPECT_TRUE(WaitFor(
        [&] { return FirstVolume(Output("pactl get-source-volume microphone")) > before; }, 5000));

    // The server ends: the faders let go of it, and the next start says why.
    View().Session().Run();
    server.Stop();
    EXPECT_TRUE(WaitFor([&] { return !mic->isEnabled(); }, 5000));
    Restart();
    const QString all = Messages.join('|');
    EXPECT_TRUE(all.contains(QStringLiteral("Failed to initialise input fader. Please check "
                                            "mixer device.\r\nDiagnostic information follows:"
                                            "\r\nCould not open mixer device\r\n")))
        << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("Failed to initialise spkr fader.")))
        << all.toStdString();
    EXPECT_TRUE(Bar().AlcBox()->isHidden());
}

// ALC on live input through the sound server: a quiet laptop microphone behind a preamplifier,
// heard at the level the server's capture volume sets (amplitude the cube of the volume, as the
// server's software volume), starts far too quiet. ALC raises the real fader until the watch is
// read, within 60 s of sound, and the readings stay.
TEST_F(PulseMixer, AlcBringsAQuietMicrophoneToTheWatchsReadings) {
    constexpr double Preamplifier = 8.0; // at full volume the ticks peak near a fifth of full scale
    constexpr double SoundSeconds = 80.0; // 60 s to settle, then the readings must hold
    constexpr double TruthRate = 5.0, TruthBeatError = 0.5, TruthAmplitude = 260;
    PulseServer server(Dir);
    ASSERT_TRUE(server.Start()) << "the test's own PulseAudio server did not come up";
    synth::SynthPreset p = *synth::FindPreset("laptop-mic");
    p.Options.Seconds = SoundSeconds;
    Source.Signal = synth::SynthesizeRealistic(p.Options, p.Realism).Samples;
    Source.Speed = 4.0;
    Output("pactl set-source-volume microphone 40%");
    const long start = FirstVolume(Output("pactl get-source-volume microphone"));
    View().Core().Params.TickInterval = "21600 vph";
    View().Core().ParseTrain("21600 vph");
    View().Core().Settings.AGC = 1;
    std::atomic<bool> following{true};
    std::thread volume([&] {
        while (following) {
            const long raw = FirstVolume(Output("pactl get-source-volume microphone"));
            if (raw >= 0) Source.Gain = Preamplifier * std::pow(raw / 65536.0, 3.0);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    Restart();
    ASSERT_TRUE(View().Session().IsRunning());
    ASSERT_TRUE(Bar().MicrophoneSlider()->isEnabled());
    // The 8 s rate follows each window's ticks, taken while the level moves; the accumulated rate
    // is the reading that has to be the watch's.
    for (const double seconds : {60.0, SoundSeconds - 1.0}) {
        EXPECT_TRUE(WaitFor([&] { return Source.Delivered >= seconds * 48000; }, 60000));
        const auto lock = View().Core().HoldAnalysis();
        const MeasurementState& m = View().Core().Measurement;
        EXPECT_NEAR(m.AccumulatedRate * 86400.0, TruthRate, 0.5) << "after " << seconds << " s";
        EXPECT_NEAR(m.Rate * 86400.0, TruthRate, 1.0) << "after " << seconds << " s";
        EXPECT_NEAR(std::fabs(m.BeatError * View().Core().Derived.BeatPeriod * 1000),
                    TruthBeatError, 0.15)
            << "after " << seconds << " s";
        EXPECT_TRUE(m.AmplitudeTrusted) << "after " << seconds << " s";
        EXPECT_NEAR(m.Amplitude, TruthAmplitude, 0.05 * TruthAmplitude)
            << "after " << seconds << " s";
    }
    following = false;
    volume.join();
    EXPECT_GT(FirstVolume(Output("pactl get-source-volume microphone")), start);
}

TEST_F(PulseMixer, WithoutAServerTheBindingFailsWithItsText) {
    Restart();
    ASSERT_TRUE(View().Session().IsRunning());
    EXPECT_TRUE(View().Session().Mixer().InputFaderFailed());
    EXPECT_EQ(View().Session().Mixer().MicrophoneFader().DiagnosticText(),
              "Could not open mixer device\r\n");
    EXPECT_FALSE(Bar().MicrophoneSlider()->isEnabled());
    ASSERT_FALSE(Messages.isEmpty());
    EXPECT_TRUE(Messages.join('|').contains(QStringLiteral("Could not open mixer device")));
}

} // namespace
} // namespace kv
