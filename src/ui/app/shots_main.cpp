// SPDX-License-Identifier: GPL-3.0-or-later
// kestrovane-shots OUTDIR: the user guide's pictures, drawn by the measuring window itself. A
// synthetic watch recording is played through the real window on the offscreen platform, with no
// sound card (the playback is paced by the computer's clock), in a scratch home folder so the
// user's settings are never touched. Once the readings have settled it saves the window, its
// paper tape, the settings dialog and the log viewer (on a synthetic two-day log) as PNG files.
// `kestrovane-shots --window FILE` saves only the measuring window, as soon as the readings have
// settled, at the screen scale QT_SCALE_FACTOR asks for: the window is 1280 x 800 screen pixels.
// `kestrovane-shots --logviewer FILE` saves only the log viewer the same way.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimer>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>

#include "TickSynthesizer.h"
#include "audio/CaptureSource.h"
#include "audio/PlaybackSink.h"
#include "audio/WaveFile.h"
#include "settings/SettingsPaths.h"
#include "settings/SettingsStore.h"
#include "ui/app/MainFrame.h"
#include "ui/common/CommandTable.h"
#include "ui/dialogs/TrainDia.h"
#include "ui/logview/GraphView.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

constexpr int UsageError = 2;
constexpr int PictureFailed = 1;
constexpr uint32_t SampleRate = 48000;
constexpr double RecordingSeconds = 150; // longer than the run: the playback never loops
constexpr QSize FrameSize(1280, 800);    // a laptop screen's window, readable when scaled down
// The readings settle once the 8 s measuring window is full; more than three times that means
// the window is not measuring.
constexpr int SettleTimeoutMs = 30000;
// After settling the tape keeps running for a while, so it shows a stretch of dots.
constexpr int TapeRunMs = 50000;
constexpr int ShowDelayMs = 500; // lets a new window lay out and paint
constexpr int PollMs = 50;

// No sound card at all: no output device either, so the playback is paced by the clock.
class NoOutput : public PlaybackSink {
public:
    std::vector<std::string> OutputDevices() override { return {}; }
    int QueryDevice(int) override { return SoundInBadDeviceId; }
    int Open(int, unsigned, PlaybackRing&) override { return SoundInBadDeviceId; }
    int Start() override { return SoundInBadDeviceId; }
    void Close() override {}
};

// The watch in the pictures: a 21600 vph lever watch a little fast, with a beat error a
// watchmaker would correct and a healthy amplitude.
synth::SynthOptions SampleWatch() {
    synth::SynthOptions o;
    o.BeatsPerHour = 21600;
    o.RateSecondsPerDay = 6.0;
    o.BeatErrorMs = 0.7;
    o.AmplitudeDeg = 275;
    o.SampleRate = SampleRate;
    o.Seconds = RecordingSeconds;
    o.StartOffset = 0.1;
    o.Seed = 7;
    return o;
}

// The watch of the log viewer's picture, a record a minute over two days.
namespace logged {
constexpr long long Start = 1717236000; // 1 June 2024, 10:00 UTC
constexpr int Minutes = 48 * 60;
constexpr int WoundAtMinute = 24 * 60;         // wound once, a day in
constexpr double HoursWoundBefore = 6;         // the mainspring's hours of running at the start
constexpr double RoomMean = 22, RoomSwing = 3; // degrees C, a day's rise and fall
constexpr double WarmingHour = 9;     // hours after the start when the room warms through its mean
constexpr double Rate = 3;            // s/d at the room's mean and a full spring
constexpr double RatePerDegree = 0.4; // s/d per degree C
constexpr double RatePerHourRun = 0.02;                      // s/d per hour since winding
constexpr double Amplitude = 285, AmplitudePerHourRun = 1.6; // degrees
constexpr double BeatError = 0.0003;                         // seconds
// Small, quick wiggles, so the traces look measured rather than drawn.
constexpr double RateWiggle = 0.15, AmplitudeWiggle = 1.5, BeatErrorWiggle = 0.00002;
} // namespace logged

// Two days of a watch's log: the rate follows the room temperature, the amplitude falls as the
// mainspring runs down, and a tag marks the winding.
void WriteTwoDayLog(const fs::path& path) {
    using namespace logged;
    std::ofstream log(path, std::ios::binary);
    double deviation = 0, rateSum = 0;
    for (int i = 0; i <= Minutes; ++i) {
        const double hours = i / 60.0;
        const double temperature =
            RoomMean + RoomSwing * std::sin(2 * std::numbers::pi * (hours - WarmingHour) / 24);
        const double run =
            i >= WoundAtMinute ? hours - WoundAtMinute / 60.0 : hours + HoursWoundBefore;
        const double rate = Rate + RatePerDegree * (temperature - RoomMean) + RatePerHourRun * run +
                            RateWiggle * std::sin(i / 7.0);
        const double amplitude =
            Amplitude - AmplitudePerHourRun * run + AmplitudeWiggle * std::sin(i / 11.0);
        const double beatError = BeatError + BeatErrorWiggle * std::sin(i / 90.0);
        deviation += rate / (24 * 60); // a minute's share of the day's gain
        rateSum += rate;
        char line[160];
        std::snprintf(line, sizeof line, "%lld\t%.3f\t%.1f\t%.4f\t%.2f\t%.3f\t%.8f\t0",
                      Start + 60LL * i, rate, amplitude, deviation, temperature, rateSum / (i + 1),
                      beatError);
        log << line << (i == WoundAtMinute ? "\t;<TGG1>wound</TAG>" : "") << "\r\n";
    }
}

void WriteSettings(const fs::path& recording, const fs::path& log) {
    fs::create_directories(fs::path(ConfigFilePath()).parent_path());
    std::ofstream(ConfigFilePath()) << "[Settings]\n"
                                    << "WaveFile2=" << recording.string() << "\n"
                                    << "LogFile2=" << log.string() << "\n"
                                    << "TickInterval=21600 vph\n"
                                    << "CalFactor48=1\n" // the clock of the playback is exact
                                    << "DuplexAudio=0\n"
                                    << "Zoom=4\n"; // the two lines of the beat error apart
}

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename Predicate> bool WaitUntil(Predicate done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        Wait(PollMs);
    return done();
}

bool Save(const QImage& picture, const fs::path& path) {
    if (picture.isNull() || !picture.save(QString::fromStdString(path.string()))) {
        std::fprintf(stderr, "kestrovane-shots: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

// The tape strip with the marks around it (the tape-width arrows and their label) and the
// waveform's middle line, down to where the tape has reached after the run.
QImage TapeStrip(const QImage& view) {
    const int left = view.width() * 5 / 16, right = view.width() * 23 / 32;
    return view.copy(left, 0, right - left, view.height() * 9 / 16);
}

bool Settled(CChildView& view) {
    const auto lock = view.Core().HoldAnalysis();
    return view.Core().Measurement.RateWindowFull && view.Core().Measurement.BeatErrorStable;
}

bool ShootMeasuring(CMainFrame& frame, const fs::path& out) {
    if (!WaitUntil([&] { return Settled(frame.View()); }, SettleTimeoutMs)) {
        std::fprintf(stderr, "kestrovane-shots: the readings did not settle\n");
        return false;
    }
    Wait(TapeRunMs);
    frame.View().repaint();
    return Save(frame.grab().toImage(), out / "main-window.png") &&
           Save(TapeStrip(frame.View().Picture()), out / "paper-tape.png");
}

// The measuring window alone, once its readings have settled.
bool ShootWindow(CMainFrame& frame, const fs::path& file) {
    if (!WaitUntil([&] { return Settled(frame.View()); }, SettleTimeoutMs)) {
        std::fprintf(stderr, "kestrovane-shots: the readings did not settle\n");
        return false;
    }
    frame.View().repaint();
    return Save(frame.grab().toImage(), file);
}

bool ShootSettingsDialog(CMainFrame& frame, const fs::path& out) {
    bool saved = false;
    frame.View().Hooks.SettingsDialogHook = [&](CTrainDia& dialog) {
        dialog.show();
        Wait(ShowDelayMs);
        saved = Save(dialog.grab().toImage(), out / "settings-dialog.png");
        dialog.reject();
    };
    frame.RouteCommand(cmd::Settings);
    return saved;
}

// The log viewer on the two-day log, `size` logical pixels.
bool ShootLogViewer(CMainFrame& frame, const fs::path& file, QSize size) {
    frame.RouteCommand(cmd::ShowViewer);
    CGraphView* viewer = frame.View().LogViewer();
    if (!viewer) {
        std::fprintf(stderr, "kestrovane-shots: the log viewer did not open\n");
        return false;
    }
    viewer->resize(size);
    Wait(ShowDelayMs);
    return Save(viewer->grab().toImage(), file);
}

enum class Only { All, Window, LogViewer };

// Saves the guide's pictures into `out`, or only the measuring window or the log viewer as
// `file`.
int Shoot(const fs::path& out, Only only, const fs::path& file) {
    QTemporaryDir home;
    if (!home.isValid()) return PictureFailed;
    const fs::path scratch = home.path().toStdString();
    setenv("HOME", scratch.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
    setenv("XDG_DOCUMENTS_DIR", (scratch / "Documents").c_str(), 1);
    // A folder of a fixed name: the window shows the end of the path being played.
    fs::create_directories(scratch / "Recordings");
    const fs::path recording = scratch / "Recordings" / "sample-watch.wav";
    const fs::path log = scratch / "watch.log";
    if (!WriteWaveFile(recording.string(), synth::Synthesize(SampleWatch()).Samples, SampleRate, 1))
        return PictureFailed;
    WriteTwoDayLog(log);
    WriteSettings(recording, log);

    SettingsStore store(ConfigFilePath());
    store.Load();
    NoCaptureDevice microphone;
    NoOutput speaker;
    CMainFrame frame(CMainFrame::Options{&store, &microphone, &speaker, {}});
    frame.View().Hooks.MessageSink = [](const QString& text) {
        std::fprintf(stderr, "kestrovane-shots: message: %s\n", qPrintable(text));
    };
    // The settings dialog lists no devices of the machine the pictures are made on.
    frame.View().Hooks.InputDeviceNames = [] { return std::vector<std::string>{}; };
    frame.View().Hooks.OutputDeviceNames = [] { return std::vector<std::string>{}; };
    frame.View().Session().Transport().PlaybackStartDraw = [] { return 0; }; // same start every run
    // The same screen pixels at any scale factor.
    const qreal scale = qApp->devicePixelRatio();
    const QSize screenSize(static_cast<int>(FrameSize.width() / scale),
                           static_cast<int>(FrameSize.height() / scale));
    frame.resize(screenSize);
    frame.show();
    std::error_code ignored;
    if (only != Only::All) {
        const bool saved = only == Only::Window ? ShootWindow(frame, file)
                                                : ShootLogViewer(frame, file, screenSize);
        frame.RouteCommand(cmd::Run);
        return saved ? 0 : PictureFailed;
    }
    fs::create_directories(out, ignored);
    const bool done = ShootMeasuring(frame, out) && ShootSettingsDialog(frame, out) &&
                      ShootLogViewer(frame, out / "log-viewer.png", FrameSize);
    frame.RouteCommand(cmd::Run); // stop measuring before the window goes
    return done ? 0 : PictureFailed;
}

} // namespace
} // namespace kv

int main(int argc, char** argv) {
    // The pictures are the same on any machine: no display needed, times in UTC, dates in the C
    // locale (ISO 8601).
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TZ", "UTC", 1);
    setenv("LC_ALL", "C", 1);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
    if (argc == 3 && std::string(argv[1]) == "--window")
        return kv::Shoot({}, kv::Only::Window, argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--logviewer")
        return kv::Shoot({}, kv::Only::LogViewer, argv[2]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrovane-shots OUTDIR | kestrovane-shots --window FILE | "
                             "kestrovane-shots --logviewer FILE\n");
        return kv::UsageError;
    }
    return kv::Shoot(argv[1], kv::Only::All, {});
}
