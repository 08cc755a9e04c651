// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a desktop opens it: `kestrovane FILE` plays and measures that recording at once
// while the stored waveform file setting stays as it was, a file it cannot read is named in a
// message and the window opens as usual, and the file dialog of recordings offers every format
// the sound-file library reads first.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <unistd.h>

#include "PumpEvents.h"
#include "SignalSource.h"
#include "TickSynthesizer.h"
#include "audio/SoundFile.h"
#include "audio/WaveFile.h"
#include "settings/SettingsPaths.h"
#include "settings/SettingsStore.h"
#include "support/FlacFile.h"
#include "ui/app/MainFrame.h"
#include "ui/app/WindowArguments.h"
#include "ui/common/CommandTable.h"
#include "ui/dialogs/FileFilters.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::WaitFor;

constexpr unsigned Rate = 48000;
constexpr double SecondsPerDay = 86400.0;
constexpr double StoredRate = -20.0; // s/d of the recording the settings name
constexpr double OpenedRate = 12.0;  // s/d of the recording given on the command line
constexpr int MeasureWithinMs = 30000;

std::vector<int16_t> Watch(double rate) {
    synth::SynthOptions o;
    o.BeatsPerHour = 18000;
    o.RateSecondsPerDay = rate;
    o.SampleRate = Rate;
    o.Seconds = 40;
    return synth::Synthesize(o).Samples;
}

bool WriteFlac(const fs::path& path, const std::vector<int16_t>& samples) {
    return test::WriteFlac(path, samples, Rate);
}

class OpenFile : public ::testing::Test {
protected:
    void SetUp() override {
        Home = fs::temp_directory_path() / ("kv-openfile-" + std::to_string(::getpid()));
        fs::create_directories(Home);
        setenv("XDG_DATA_HOME", Home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", Home.c_str(), 1);
        Stored = Home / "my-watch.wav";
        ASSERT_TRUE(WriteWaveFile(Stored.string(), Watch(StoredRate), Rate, 1));
        fs::create_directories(fs::path(ConfigFilePath()).parent_path());
        // No calibration factor, so the window reads the recording's own rate; no output device.
        std::ofstream(ConfigFilePath()) << "[Settings]\nWaveFile2=" << Stored.string()
                                        << "\nCalFactor48=1.00000000000000\nDuplexAudio=0\n";
        Source.Speed = 10; // the capture paces the playback at ten times real time
    }
    void TearDown() override {
        if (Frame && Frame->View().Session().IsRunning()) Frame->View().Session().Run();
        Frame.reset();
        Store.reset();
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(Home);
    }

    // The window as `kestrovane FILE` starts it, shown.
    CChildView& Start(const std::string& file) {
        Store = std::make_unique<SettingsStore>(ConfigFilePath());
        Store->Load();
        CMainFrame::Options options{Store.get(), &Source, &Speaker, {}, file};
        Frame = std::make_unique<CMainFrame>(options);
        CChildView& view = Frame->View();
        view.Hooks.MessageSink = [this](const QString& m) { Messages << m; };
        view.Session().Transport().PlaybackStartDraw = [] { return 0; };
        Frame->ShowAtStart();
        return view;
    }

    // The rate over a full measuring window, once there is one.
    std::optional<double> RateReading(CChildView& view) {
        const auto lock = view.Core().HoldAnalysis();
        const MeasurementState& m = view.Core().Measurement;
        if (!m.Running || !m.RateMeasured || !m.RateWindowFull) return std::nullopt;
        return m.Rate * SecondsPerDay;
    }

    // The waveform file the settings file on disk names.
    std::string StoredWaveFile() {
        SettingsStore disk(ConfigFilePath());
        disk.Load();
        return disk.GetText("Settings", "WaveFile2", "");
    }

    fs::path Home;
    fs::path Stored;
    test::SignalSource Source;
    test::CountingSink Speaker;
    std::unique_ptr<SettingsStore> Store;
    std::unique_ptr<CMainFrame> Frame;
    QStringList Messages;
};

TEST_F(OpenFile, AFlacFileOnTheCommandLineIsMeasuredAndTheStoredWaveformFileKept) {
    const fs::path flac = Home / "bench recording.flac";
    ASSERT_TRUE(WriteFlac(flac, Watch(OpenedRate)));
    CChildView& view = Start(flac.string());

    ASSERT_TRUE(WaitFor([&] { return RateReading(view).has_value(); }, MeasureWithinMs));
    // A few more windows, so the reading is of the file's steady ticks.
    const int64_t beats = [&] {
        const auto lock = view.Core().HoldAnalysis();
        return view.Core().Detector.BeatCount;
    }();
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto lock = view.Core().HoldAnalysis();
            return view.Core().Detector.BeatCount > beats + 20;
        },
        MeasureWithinMs));
    const std::optional<double> rate = RateReading(view);
    ASSERT_TRUE(rate.has_value());
    EXPECT_NEAR(*rate, OpenedRate, 1.0) << "the opened file's watch, not the stored one's";
    EXPECT_TRUE(view.Session().Playback().Playing);
    EXPECT_EQ(view.App().WaveFile2, flac.string()) << "shown as the file being played";
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
    EXPECT_TRUE(Frame->isVisible());

    // Saved while it plays and when the window closes: the stored setting is the user's own.
    ASSERT_TRUE(view.Session().Save());
    EXPECT_EQ(StoredWaveFile(), Stored.string());
    if (view.Session().IsRunning()) view.Session().Run();
    Frame.reset();
    EXPECT_EQ(StoredWaveFile(), Stored.string());
}

// Choosing a waveform file afterwards makes that the setting, as always.
TEST_F(OpenFile, AWaveformFileChosenAfterwardsIsStored) {
    const fs::path flac = Home / "watch.flac";
    ASSERT_TRUE(WriteFlac(flac, Watch(OpenedRate)));
    CChildView& view = Start(flac.string());
    const fs::path chosen = Home / "chosen.wav";
    ASSERT_TRUE(WriteWaveFile(chosen.string(), Watch(0.0), Rate, 1));
    view.Session().SetWaveformFile(chosen.string());
    EXPECT_EQ(StoredWaveFile(), chosen.string());
    EXPECT_TRUE(view.Session().Playback().Playing);
}

// A file that is not a recording, or not there: the message names it, and the window opens and
// plays the stored waveform file as on any start.
TEST_F(OpenFile, AnUnreadableFileIsNamedAndTheWindowOpensAsUsual) {
    const fs::path text = Home / "notes.flac";
    std::ofstream(text) << "not a recording at all\n";
    const fs::path missing = Home / "missing.flac";
    for (const fs::path& file : {text, missing}) {
        Messages.clear();
        CChildView& view = Start(file.string());
        ASSERT_TRUE(WaitFor([&] { return !Messages.isEmpty(); }, 5000)) << file;
        ASSERT_EQ(Messages.size(), 1) << Messages.join('\n').toStdString();
        EXPECT_TRUE(Messages[0].startsWith("Cannot play " + QString::fromStdString(file.string())))
            << Messages[0].toStdString();
        EXPECT_TRUE(Frame->isVisible());
        EXPECT_TRUE(view.Session().Playback().Playing) << "the stored waveform file, as usual";
        EXPECT_EQ(view.App().WaveFile2, Stored.string());
        ASSERT_TRUE(WaitFor([&] { return RateReading(view).has_value(); }, MeasureWithinMs));
        EXPECT_NEAR(*RateReading(view), StoredRate, 1.0);
        if (view.Session().IsRunning()) view.Session().Run();
        Frame.reset();
        EXPECT_EQ(StoredWaveFile(), Stored.string());
    }
}

TEST(WindowArguments, AtMostOneFileMadeAbsolute) {
    const QString here = QStringLiteral("/home/user/recordings");
    WindowArguments a = ParseWindowArguments({"kestrovane"}, here);
    EXPECT_TRUE(a.File.isEmpty());
    EXPECT_TRUE(a.Error.isEmpty());
    EXPECT_FALSE(a.Help);
    a = ParseWindowArguments({"kestrovane", "watch.flac"}, here);
    EXPECT_EQ(a.File, "/home/user/recordings/watch.flac");
    a = ParseWindowArguments({"kestrovane", "../a b/watch.mp3"}, here);
    EXPECT_EQ(a.File, "/home/user/a b/watch.mp3");
    a = ParseWindowArguments({"kestrovane", "/tmp/w.ogg"}, here);
    EXPECT_EQ(a.File, "/tmp/w.ogg");
    a = ParseWindowArguments({"kestrovane", "file:///tmp/with%20space.wav"}, here);
    EXPECT_EQ(a.File, "/tmp/with space.wav");
    a = ParseWindowArguments({"kestrovane", "--", "-odd.wav"}, here);
    EXPECT_EQ(a.File, "/home/user/recordings/-odd.wav");
    EXPECT_TRUE(ParseWindowArguments({"kestrovane", "--help"}, here).Help);
    EXPECT_FALSE(ParseWindowArguments({"kestrovane", "a.wav", "b.wav"}, here).Error.isEmpty());
    EXPECT_FALSE(ParseWindowArguments({"kestrovane", "--bogus"}, here).Error.isEmpty());
}

TEST(SoundFileFilters, SoundFilesFirstThenWaveFilesAndAllFiles) {
    EXPECT_EQ(SoundFileFilters({"flac", "mp3", "wav"}),
              "Sound files (*.flac *.mp3 *.wav);;Wave files (*.wav);;All files (*)");
    EXPECT_EQ(SoundFileFilters({}), "Wave files (*.wav);;All files (*)");
    QStringList patterns;
    for (const std::string& extension : ReadableSoundFileExtensions())
        patterns << "*." + QString::fromStdString(extension);
    const QString filters = SoundFileFilters();
    EXPECT_EQ(filters,
              "Sound files (" + patterns.join(' ') + ");;Wave files (*.wav);;All files (*)");
    for (const char* pattern : {"*.wav", "*.flac", "*.ogg"})
        EXPECT_TRUE(patterns.contains(pattern)) << pattern;
}

// "Choose waveform file ..." shows the filters, "Sound files" selected.
TEST_F(OpenFile, TheWaveformFileDialogOffersSoundFilesFirst) {
    CChildView& view = Start({});
    QStringList filters;
    QString selected;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        filters = dialog->nameFilters();
        selected = dialog->selectedNameFilter();
        dialog->reject();
    });
    Frame->RouteCommand(cmd::ChooseWaveform);
    ASSERT_EQ(filters.size(), 3) << filters.join(";;").toStdString();
    EXPECT_TRUE(filters[0].startsWith("Sound files (*.")) << filters[0].toStdString();
    EXPECT_EQ(selected, filters[0]);
    EXPECT_EQ(filters[1], "Wave files (*.wav)");
    EXPECT_EQ(filters[2], "All files (*)");
    EXPECT_EQ(view.App().WaveFile2, Stored.string()) << "cancelled: nothing changes";
}

} // namespace
} // namespace kv
