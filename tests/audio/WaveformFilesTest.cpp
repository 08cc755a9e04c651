// SPDX-License-Identifier: GPL-3.0-or-later
// Waveform recording and playback: the recorded header and data, the exclusive create, the
// playback reading rules (rate and channel switch, 24/32-bit conversion, short and unreadable
// files), wrapping with the loop count, the end of playback and random start positions; and a
// recording played back on a machine without a sound card, measured by the analysis.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../analysis/CoreHarness.h"
#include "TickSynthesizer.h"
#include "audio/ClockedSource.h"
#include "audio/SoundIn.h"
#include "audio/WaveFile.h"
#include "audio/WaveformFiles.h"
#include "support/WaitUntil.h"

namespace kv {
namespace {

using Bytes = std::vector<uint8_t>;

// A fresh folder per test, removed with its files.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = ::testing::TempDir() + "kv-waveform-XXXXXX";
        Path = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder() {
        for (const std::string& f : Made)
            std::remove(f.c_str());
        std::remove(Path.c_str());
    }
    std::string File(const std::string& name) {
        Made.push_back(Path + "/" + name);
        return Made.back();
    }
    std::string Path;
    std::vector<std::string> Made;
};

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

uint32_t At32(const Bytes& b, size_t offset) {
    return b[offset] | b[offset + 1] << 8 | b[offset + 2] << 16 | uint32_t{b[offset + 3]} << 24;
}

uint16_t At16(const Bytes& b, size_t offset) {
    return static_cast<uint16_t>(b[offset] | b[offset + 1] << 8);
}

std::string TextAt(const Bytes& b, size_t offset) {
    return std::string(b.begin() + static_cast<long>(offset),
                       b.begin() + static_cast<long>(offset) + 4);
}

// A 44-byte header with the given format fields (sizes 0), followed by `data`.
Bytes WaveImage(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data) {
    Bytes b(44, 0);
    const auto put16 = [&](size_t at, uint16_t v) {
        b[at] = static_cast<uint8_t>(v);
        b[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    const auto put32 = [&](size_t at, uint32_t v) {
        put16(at, static_cast<uint16_t>(v));
        put16(at + 2, static_cast<uint16_t>(v >> 16));
    };
    std::copy_n("RIFF", 4, b.begin());
    std::copy_n("WAVEfmt ", 8, b.begin() + 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, channels);
    put32(24, rate);
    put16(34, bits);
    std::copy_n("data", 4, b.begin() + 36);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// 16-bit little-endian bytes of the values.
Bytes Pcm16(const std::vector<int16_t>& values) {
    Bytes b;
    for (int16_t v : values) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
    return b;
}

std::vector<int16_t> Ramp(size_t count, int16_t first = 1) {
    std::vector<int16_t> v(count);
    for (size_t i = 0; i < count; ++i)
        v[i] = static_cast<int16_t>(first + static_cast<int>(i % 30000));
    return v;
}

// Plays `path` from a fresh object and returns `count` samples taken in buffers of `n`.
std::vector<int16_t> PlayBack(const std::string& path, size_t count, size_t n) {
    WaveformFiles files;
    unsigned rate = 96000;
    int channels = 1;
    if (!files.OpenForReading(path, rate, channels)) return {};
    std::vector<int16_t> out(count, -1);
    for (size_t at = 0; at < count; at += n)
        files.Process(out.data() + at, std::min(n, count - at));
    return out;
}

TEST(WaveformRecording, TenSecondsAt96kHzMonoGiveTheHeaderAndTheRawSamples) {
    TempFolder dir;
    const std::string path = dir.File("ten.wav");
    WaveformFiles files;
    ASSERT_TRUE(files.OpenForWriting(path, 96000, 1));
    EXPECT_TRUE(files.Recording());
    const Bytes opened = ReadBytes(path);
    ASSERT_EQ(opened.size(), 44u);
    EXPECT_EQ(At32(opened, 4), 0u); // the sizes are written when recording ends
    EXPECT_EQ(At32(opened, 40), 0u);

    const std::vector<int16_t> sound = Ramp(960000, -15000);
    std::vector<int16_t> buffer;
    for (size_t at = 0; at < sound.size(); at += 19200) {
        buffer.assign(sound.begin() + static_cast<long>(at),
                      sound.begin() + static_cast<long>(at + 19200));
        files.Process(buffer.data(), buffer.size());
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.end(), sound.begin() + static_cast<long>(at)))
            << "recording leaves the buffer as captured";
    }
    files.CloseRecording();
    EXPECT_FALSE(files.Recording());

    const Bytes b = ReadBytes(path);
    ASSERT_EQ(b.size(), 44u + 1920000u);
    EXPECT_EQ(TextAt(b, 0), "RIFF");
    EXPECT_EQ(At32(b, 4), 1920036u);
    EXPECT_EQ(TextAt(b, 8), "WAVE");
    EXPECT_EQ(TextAt(b, 12), "fmt ");
    EXPECT_EQ(At32(b, 16), 16u);
    EXPECT_EQ(At16(b, 20), 1u);
    EXPECT_EQ(At16(b, 22), 1u);
    EXPECT_EQ(At32(b, 24), 96000u);
    EXPECT_EQ(At32(b, 28), 192000u);
    EXPECT_EQ(At16(b, 32), 2u);
    EXPECT_EQ(At16(b, 34), 16u);
    EXPECT_EQ(TextAt(b, 36), "data");
    EXPECT_EQ(At32(b, 40), 1920000u);
    EXPECT_EQ(Bytes(b.begin() + 44, b.end()), Pcm16(sound));
}

TEST(WaveformRecording, NeverOverwritesAFileAndRefusesWhatCannotBeCreated) {
    TempFolder dir;
    const std::string existing = dir.File("taken.wav");
    WriteBytes(existing, {'k', 'e', 'e', 'p'});
    WaveformFiles files;
    EXPECT_FALSE(files.OpenForWriting(existing, 96000, 1));
    EXPECT_FALSE(files.Recording());
    EXPECT_EQ(ReadBytes(existing), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(files.OpenForWriting(dir.Path + "/no/such/folder.wav", 96000, 1));
    EXPECT_FALSE(files.OpenForWriting(dir.File("zero.wav"), 96000, 0));

    ASSERT_TRUE(files.OpenForWriting(dir.File("first.wav"), 48000, 1));
    EXPECT_FALSE(files.OpenForWriting(dir.File("second.wav"), 48000, 1)) << "one at a time";
    EXPECT_TRUE(files.Recording());
}

TEST(WaveformRecording, AnInterruptedRecordingKeepsWhatWasWritten) {
    TempFolder dir;
    const std::string path = dir.File("interrupted.wav");
    WaveformFiles recorder;
    ASSERT_TRUE(recorder.OpenForWriting(path, 48000, 1));
    std::vector<int16_t> sound = Ramp(3000, 100);
    for (size_t at = 0; at < sound.size(); at += 1000)
        recorder.Process(sound.data() + at, 1000);
    // The recording is still open: both sizes are 0, yet every buffer is in the file.
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(At32(b, 4), 0u);
    EXPECT_EQ(b.size(), 44u + 6000u);
    EXPECT_EQ(PlayBack(path, 3000, 700), sound);
}

TEST(WaveformRecording, AStereoCaptureRecordsWholeFramesAndPlaysBackAsTheirMean) {
    TempFolder dir;
    const std::string path = dir.File("stereo.wav");
    WaveformFiles files;
    ASSERT_TRUE(files.OpenForWriting(path, 44100, 2));
    std::vector<int16_t> frames = {100, 300, -100, -301, 7, 8, -32768, -32768};
    files.Process(frames.data(), 4); // 4 frames of 2 samples
    files.CloseRecording();
    const Bytes b = ReadBytes(path);
    EXPECT_EQ(At16(b, 22), 2u);
    EXPECT_EQ(At16(b, 32), 4u);
    EXPECT_EQ(At32(b, 40), 16u);
    // One mono sample per frame; halves round away from zero.
    EXPECT_EQ(PlayBack(path, 4, 4), (std::vector<int16_t>{200, -201, 8, -32768}));
}

TEST(WaveformPlayback, AFileOfAnotherRateSwitchesTheCaptureAndClosingRestoresIt) {
    TempFolder dir;
    const std::string at48 = dir.File("48k.wav");
    const std::string at44 = dir.File("44k.wav");
    WriteBytes(at48, WaveImage(1, 48000, 16, Pcm16(Ramp(100))));
    WriteBytes(at44, WaveImage(2, 44100, 16, Pcm16(Ramp(100))));
    WaveformFiles files;
    unsigned rate = 96000;
    int channels = 1;
    ASSERT_TRUE(files.OpenForReading(at48, rate, channels));
    EXPECT_TRUE(files.Playing());
    EXPECT_EQ(rate, 48000u);
    EXPECT_EQ(channels, 1);
    files.ClosePlayback(rate, channels);
    EXPECT_FALSE(files.Playing());
    EXPECT_EQ(files.PlaybackLength(), 0u);
    EXPECT_EQ(rate, 96000u);

    // Opening another file while playing keeps the user's own format to come back to.
    ASSERT_TRUE(files.OpenForReading(at48, rate, channels));
    ASSERT_TRUE(files.OpenForReading(at44, rate, channels));
    EXPECT_EQ(rate, 44100u);
    EXPECT_EQ(channels, 2);
    EXPECT_FALSE(files.OpenForReading(dir.Path + "/missing.wav", rate, channels));
    EXPECT_TRUE(files.Playing()) << "a refused file leaves the playback as it was";
    EXPECT_EQ(rate, 44100u);
    unsigned untouched = 12345;
    int untouchedChannels = 3;
    files.CloseAll(rate, channels);
    files.ClosePlayback(untouched, untouchedChannels); // nothing left to give back
    EXPECT_EQ(rate, 96000u);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(untouched, 12345u);
    EXPECT_EQ(untouchedChannels, 3);

    // A file at the capture's own rate changes nothing, so closing it changes nothing either.
    unsigned same = 48000;
    ASSERT_TRUE(files.OpenForReading(at48, same, channels));
    same = 22050; // the user changed the rate during playback
    files.ClosePlayback(same, channels);
    EXPECT_EQ(same, 22050u);
}

TEST(WaveformPlayback, WideSamplesKeepTheirUpperTwoBytesAndEightBitOnesAreScaledUp) {
    TempFolder dir;
    Bytes data24, data32;
    std::vector<int16_t> expected;
    for (int i = 0; i < 100; ++i) {
        const auto v = static_cast<int16_t>(i * 600 - 30000);
        const auto u = static_cast<uint16_t>(v);
        data24.insert(data24.end(), {0xAB, static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8)});
        data32.insert(data32.end(),
                      {0xCD, 0xEF, static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8)});
        expected.push_back(v);
    }
    ASSERT_EQ(data24.size(), 300u);
    const std::string path24 = dir.File("24.wav");
    const std::string path32 = dir.File("32.wav");
    const std::string path8 = dir.File("8.wav");
    WriteBytes(path24, WaveImage(1, 48000, 24, data24));
    WriteBytes(path32, WaveImage(1, 48000, 32, data32));
    // A complete 8-bit header (sizes, byte rate, block align): 8-bit samples are unsigned.
    Bytes image8 = WaveImage(1, 48000, 8, {128, 0, 255});
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            image8[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(4, 36 + 3);
    put32(28, 48000);
    image8[32] = 1;
    put32(40, 3);
    WriteBytes(path8, image8);

    WaveformFiles files;
    unsigned rate = 48000;
    int channels = 1;
    ASSERT_TRUE(files.OpenForReading(path24, rate, channels));
    EXPECT_EQ(files.PlaybackLength(), 100u); // 200 bytes of 16-bit data
    EXPECT_EQ(PlayBack(path24, 100, 100), expected);
    EXPECT_EQ(PlayBack(path32, 100, 33), expected);
    EXPECT_EQ(PlayBack(path8, 3, 3), (std::vector<int16_t>{0, -32768, 32512}));
}

TEST(WaveformPlayback, ReachingTheEndMidBufferCompletesFromTheStartAndCountsTheLoop) {
    TempFolder dir;
    const std::string path = dir.File("loop.wav");
    const std::vector<int16_t> data = Ramp(1000);
    WriteBytes(path, WaveImage(1, 48000, 16, Pcm16(data)));
    WaveformFiles files;
    unsigned rate = 48000;
    int channels = 1;
    ASSERT_TRUE(files.OpenForReading(path, rate, channels));
    std::vector<int16_t> buffer(300);
    for (int i = 0; i < 3; ++i)
        files.Process(buffer.data(), buffer.size());
    EXPECT_EQ(files.LoopCount(), 0);
    files.Process(buffer.data(), buffer.size()); // 100 from the end, 200 from the start
    EXPECT_EQ(files.LoopCount(), 1);
    EXPECT_TRUE(files.Playing());
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 100, data.begin() + 900));
    EXPECT_TRUE(std::equal(buffer.begin() + 100, buffer.end(), data.begin()));
    files.Process(buffer.data(), buffer.size());
    files.Process(buffer.data(), buffer.size());
    files.Process(buffer.data(), 200); // up to the end exactly
    EXPECT_EQ(files.LoopCount(), 1);
    EXPECT_EQ(files.PlaybackPosition(), 1000u);
    files.Process(buffer.data(), buffer.size()); // nothing left: a whole buffer from the start
    EXPECT_EQ(files.LoopCount(), 2);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin()));
}

// A capture clock 25 % slow takes three samples where the recording has four (a large error, so
// the interpolated values are easy to check); a step out of range plays the file as it is.
TEST(WaveformPlayback, AStepOtherThanOneResamplesTheRecordingByInterpolation) {
    TempFolder dir;
    const std::string path = dir.File("ramp.wav");
    std::vector<int16_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<int16_t>(3 * i);
    WriteBytes(path, WaveImage(1, 48000, 16, Pcm16(data)));
    WaveformFiles files;
    unsigned rate = 48000;
    int channels = 1;
    ASSERT_TRUE(files.OpenForReading(path, rate, channels));
    files.SetPlaybackStep(4.0 / 3.0);
    std::vector<int16_t> buffer(300);
    files.Process(buffer.data(), buffer.size());
    for (size_t i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 4 * static_cast<int>(i)) << i; // 3 * (i * 4/3)
    EXPECT_NEAR(static_cast<double>(files.PlaybackPosition()), 400.0, 1.0);
    files.Process(buffer.data(), buffer.size()); // 600 more recorded samples: to the end
    files.Process(buffer.data(), buffer.size());
    EXPECT_EQ(files.LoopCount(), 1) << "the resampled playback wraps like the plain one";

    files.SetPlaybackStep(3.0); // no card is off by a factor of three
    const size_t at = files.PlaybackPosition();
    files.Process(buffer.data(), 10);
    EXPECT_EQ(files.PlaybackPosition(), at + 10);
}

TEST(WaveformPlayback, DataThatCannotFillABufferEndsPlayback) {
    TempFolder dir;
    const std::string empty = dir.File("empty.wav");
    const std::string shorter = dir.File("short.wav");
    WriteBytes(empty, WaveImage(1, 48000, 16, {}));
    WriteBytes(shorter, WaveImage(1, 48000, 16, Pcm16({1, 2, 3})));
    WaveformFiles files;
    unsigned rate = 96000;
    int channels = 1;
    ASSERT_TRUE(files.OpenForReading(empty, rate, channels)); // exactly 44 bytes
    EXPECT_TRUE(files.Playing());
    EXPECT_EQ(files.PlaybackLength(), 0u);
    std::vector<int16_t> buffer(8, 999);
    files.Process(buffer.data(), buffer.size());
    EXPECT_FALSE(files.Playing());
    EXPECT_EQ(files.LoopCount(), 0);
    EXPECT_EQ(buffer, std::vector<int16_t>(8, 0));
    EXPECT_EQ(rate, 48000u) << "the capture format waits for ClosePlayback";
    files.ClosePlayback(rate, channels);
    EXPECT_EQ(rate, 96000u);

    ASSERT_TRUE(files.OpenForReading(shorter, rate, channels));
    buffer.assign(8, 999);
    files.Process(buffer.data(), buffer.size()); // the end, once more from the start, not enough
    EXPECT_FALSE(files.Playing());
    EXPECT_EQ(buffer, (std::vector<int16_t>{1, 2, 3, 1, 2, 3, 0, 0}));
    files.Process(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, (std::vector<int16_t>{1, 2, 3, 1, 2, 3, 0, 0})) << "no longer played";
}

TEST(WaveformPlayback, UnreadableShortOrMissingFilesAreRefusedSilently) {
    TempFolder dir;
    const std::string tooShort = dir.File("43.wav");
    Bytes header = WaveImage(1, 48000, 16, {});
    header.pop_back();
    WriteBytes(tooShort, header);
    const std::string zeroRate = dir.File("zero-rate.wav");
    WriteBytes(zeroRate, WaveImage(1, 0, 16, Pcm16(Ramp(10))));
    const std::string zeroChannels = dir.File("zero-channels.wav");
    WriteBytes(zeroChannels, WaveImage(0, 48000, 16, Pcm16(Ramp(10))));
    const std::string folder = dir.File("folder.wav");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string fifo = dir.File("fifo.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string garbage = dir.File("garbage.wav");
    Bytes noise(5000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(i * 7919u >> 3);
    WriteBytes(garbage, noise);

    WaveformFiles files;
    for (const std::string& path :
         {dir.Path + "/missing.wav", tooShort, zeroRate, zeroChannels, folder, fifo, garbage}) {
        unsigned rate = 96000;
        int channels = 1;
        EXPECT_FALSE(files.OpenForReading(path, rate, channels)) << path;
        EXPECT_FALSE(files.Playing()) << path;
        EXPECT_EQ(rate, 96000u) << path;
        EXPECT_EQ(channels, 1) << path;
    }
    rmdir(folder.c_str());
}

TEST(WaveformPlayback, RandomStartPositionsFollowTheFractionOfTheData) {
    TempFolder dir;
    const std::string path = dir.File("random.wav");
    const std::vector<int16_t> data = Ramp(1000);
    WriteBytes(path, WaveImage(1, 48000, 16, Pcm16(data)));
    WaveformFiles files;
    unsigned rate = 48000;
    int channels = 1;
    ASSERT_TRUE(files.OpenForReading(path, rate, channels));
    // L = 2000 bytes: byte 2 * trunc(2000 * q / 32767 * 0.5), in samples the trunc itself.
    const std::pair<int, size_t> cases[] = {{0, 0},       {3276, 99},   {3277, 100},
                                            {16384, 500}, {32766, 999}, {32767, 1000},
                                            {-5, 0},      {40000, 1000}};
    for (const auto& [q, expected] : cases) {
        files.RandomStart(q);
        EXPECT_EQ(files.PlaybackPosition(), expected) << q;
    }
    std::vector<int16_t> buffer(10);
    files.RandomStart(3277);
    files.Process(buffer.data(), buffer.size());
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin() + 100));
    files.RandomStart(32767); // at the very end: the next buffer comes from the start
    files.Process(buffer.data(), buffer.size());
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin()));
    EXPECT_EQ(files.LoopCount(), 1);
}

TEST(WaveformPlayback, RecordingAndPlaybackExcludeEachOther) {
    TempFolder dir;
    const std::string played = dir.File("played.wav");
    WriteBytes(played, WaveImage(1, 48000, 16, Pcm16(Ramp(50, 1000))));
    WaveformFiles files;
    unsigned rate = 96000;
    int channels = 1;
    std::vector<int16_t> buffer(10, 5);
    files.Process(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, std::vector<int16_t>(10, 5)) << "neither active: the buffer is untouched";

    ASSERT_TRUE(files.OpenForWriting(dir.File("rec.wav"), 96000, 1));
    EXPECT_FALSE(files.OpenForReading(played, rate, channels));
    EXPECT_EQ(rate, 96000u);
    files.Process(buffer.data(), buffer.size());
    EXPECT_EQ(buffer, std::vector<int16_t>(10, 5)) << "recorded, not replaced";
    files.CloseRecording();

    ASSERT_TRUE(files.OpenForReading(played, rate, channels));
    EXPECT_FALSE(files.OpenForWriting(dir.File("other.wav"), rate, channels));
    EXPECT_FALSE(files.Recording());
    files.Process(buffer.data(), buffer.size());
    EXPECT_EQ(buffer[0], 1000);
}

// The analysis core of a view whose capture runs through CSoundIn, with recording and playback
// forwarded to WaveformFiles, on a computer whose sound system offers no input device.
class PlaybackView : public test::CoreHarness {
public:
    PlaybackView()
        : Sound(
              Devices,
              [this](size_t n, int16_t* samples, int remaining, std::optional<int64_t>) {
                  Core.ProcessBuffer(n, samples, remaining);
                  Analysed += n;
              },
              [this](const std::string& m) { Messages.push_back(m); }) {
        Sound.SetCallbackLock([this] { return Core.HoldAnalysis(); });
    }
    ~PlaybackView() override { Sound.Close(); }

    void SetCaptureRingSize(int n) override { Sound.SetRingSize(n); }
    void SetCaptureSamplesPerBuffer(double s) override {
        CoreHarness::SetCaptureSamplesPerBuffer(s);
        Sound.SetSamplesPerBuffer(s);
    }
    void SetCaptureBufferAdjust(double s) override { Sound.SetBufferAdjust(s); }
    int64_t RecordOrPlayBuffer(int16_t* samples, size_t n) override {
        const int64_t splice = Files.Process(samples, n);
        Core.PlayingBack = Files.Playing();
        return splice;
    }

    NoCaptureDevice Devices;
    ClockedSource Clocked;
    WaveformFiles Files;
    std::vector<std::string> Messages;
    std::atomic<size_t> Analysed{0};
    CSoundIn Sound;
};

TEST(PlaybackWithoutSoundCard, ARecordingIsMeasuredAtItsKnownRate) {
    TempFolder dir;
    const std::string path = dir.File("watch.wav");
    synth::SynthOptions o;
    o.BeatsPerHour = 21600;
    o.RateSecondsPerDay = 7.5;
    o.BeatErrorMs = 0.4;
    o.SampleRate = 48000;
    o.Seconds = 14;
    o.Seed = 5;
    ASSERT_TRUE(WriteWaveFile(path, synth::Synthesize(o).Samples, o.SampleRate, 1));

    PlaybackView view;
    {
        const auto lock = view.Core.HoldAnalysis();
        ASSERT_TRUE(view.Files.OpenForReading(path, view.Sound.SampleRate, view.Sound.Channels));
        view.Core.PlayingBack = true;
    }
    EXPECT_EQ(view.Sound.SampleRate, 48000u);
    view.Sound.SetPlaybackFallback(&view.Clocked);
    view.Start(view.Sound.SampleRate, "21600 vph");
    ASSERT_EQ(view.Sound.Start(), 0);
    EXPECT_TRUE(view.Sound.UsingFallback());

    const size_t wanted = 11 * 48000;
    test::WaitUntil([&] { return view.Analysed.load() >= wanted; }, std::chrono::seconds(20));
    {
        const auto lock = view.Core.HoldAnalysis();
        view.Core.Measurement.Running = false; // Stop: the analysis first, then the capture
    }
    view.Sound.Close();

    EXPECT_GE(view.Analysed.load(), wanted);
    EXPECT_EQ(view.Messages, std::vector<std::string>{});
    EXPECT_GE(view.Clocked.FramesDelivered(), wanted);
    const auto lock = view.Core.HoldAnalysis();
    const MeasurementState& m = view.Core.Measurement;
    ASSERT_TRUE(m.RateMeasured);
    EXPECT_TRUE(m.RateWindowFull);
    EXPECT_NEAR(m.Rate * 86400.0, 7.5, 0.5);
    std::printf("[ measured ] played back without a sound card: %+.3f s/d (recorded +7.5)\n",
                m.Rate * 86400.0);
    EXPECT_TRUE(view.Files.Playing());
    EXPECT_EQ(view.Files.LoopCount(), 0);
    view.Files.ClosePlayback(view.Sound.SampleRate, view.Sound.Channels);
    EXPECT_EQ(view.Sound.SampleRate, 96000u);
}

} // namespace
} // namespace kv
