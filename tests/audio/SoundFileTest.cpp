// SPDX-License-Identifier: GPL-3.0-or-later
// Recordings in the common audio formats: the same synthetic watch written by libsndfile as WAV,
// FLAC, Ogg/Vorbis, Opus, MP3, AIFF and CAF, read back as a stream and measured; damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sndfile.h>
#include <string>
#include <vector>

#include "TickSynthesizer.h"
#include "audio/SoundFile.h"
#include "audio/WaveformFiles.h"
#include "cli/AnalyzeSession.h"
#include "settings/SettingsTestSupport.h"

namespace kv {
namespace {

constexpr double TrueRate = 6.0;       // s/d
constexpr double TrueBeatError = 0.4;  // ms
constexpr double TrueAmplitude = 260.; // degrees

struct Watch {
    std::vector<int16_t> Samples; // interleaved
    unsigned Rate;
    int Channels;
};

Watch MakeWatch(unsigned rate, int channels) {
    synth::SynthOptions o;
    o.BeatsPerHour = 21600;
    o.SampleRate = rate;
    o.RateSecondsPerDay = TrueRate;
    o.BeatErrorMs = TrueBeatError;
    o.AmplitudeDeg = TrueAmplitude;
    o.Seconds = 40;
    o.Channels = static_cast<uint16_t>(channels);
    o.Seed = 5;
    return {synth::Synthesize(o).Samples, rate, channels};
}

// Writes the watch through libsndfile in `format`; false when this libsndfile cannot write it.
bool WriteWatch(const std::string& path, const Watch& w, int format) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(w.Rate);
    info.channels = w.Channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    const auto frames = static_cast<sf_count_t>(w.Samples.size() / static_cast<size_t>(w.Channels));
    // Floating-point files get samples scaled to full scale 1.0.
    const int sub = format & SF_FORMAT_SUBMASK;
    std::vector<double> scaled;
    if (sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE)
        for (int16_t v : w.Samples)
            scaled.push_back(v / 32767.0);
    const bool ok = (scaled.empty() ? sf_writef_short(file, w.Samples.data(), frames)
                                    : sf_writef_double(file, scaled.data(), frames)) == frames;
    return sf_close(file) == 0 && ok;
}

Reading Measure(const std::string& path) {
    SoundFileStream stream;
    std::string error;
    EXPECT_TRUE(stream.Open(path, error)) << error;
    AnalyzeOptions options;
    options.Train = "21600";
    AnalyzeSession session(options);
    Reading last;
    session.Run(stream, [&](const Reading& r) { last = r; });
    return last;
}

struct FormatCase {
    const char* Name;
    int Format;
    unsigned Rate;
    int Channels;
    double AmplitudeBound; // fraction of the true amplitude
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.Name;
}

class Formats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(Formats, TheSameWatchReadsWithinTheInstrumentsBounds) {
    const FormatCase& c = GetParam();
    test::TempFolder dir;
    const std::string path = (dir / std::string("watch.") + c.Name);
    if (!WriteWatch(path, MakeWatch(c.Rate, c.Channels), c.Format))
        GTEST_SKIP() << "this libsndfile cannot write " << c.Name;
    const Reading r = Measure(path);
    ASSERT_TRUE(r.RateSecondsPerDay && r.BeatErrorMs && r.AmplitudeDegrees) << ReadingToJson(r);
    EXPECT_NEAR(*r.RateSecondsPerDay, TrueRate, 0.3);
    EXPECT_NEAR(std::fabs(*r.BeatErrorMs), TrueBeatError, 0.07);
    EXPECT_NEAR(*r.AmplitudeDegrees, TrueAmplitude, c.AmplitudeBound * TrueAmplitude);
    std::printf("%s: rate %+.3f s/d, beat error %.3f ms, amplitude %.1f deg\n", c.Name,
                *r.RateSecondsPerDay, *r.BeatErrorMs, *r.AmplitudeDegrees);
}

INSTANTIATE_TEST_SUITE_P(
    Audio, Formats,
    ::testing::Values(FormatCase{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, 0.03},
                      FormatCase{"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 44100, 2, 0.03},
                      FormatCase{"wavex", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 96000, 2, 0.03},
                      FormatCase{"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1, 0.03},
                      FormatCase{"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 1, 0.03},
                      FormatCase{"opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 1, 0.03},
                      FormatCase{"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 1, 0.05},
                      FormatCase{"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 48000, 2, 0.03},
                      FormatCase{"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 48000, 1, 0.03}),
    [](const auto& info) {
        std::string name = info.param.Name;
        for (char& ch : name)
            if (ch == '.') ch = '_';
        return name;
    });

TEST(SoundFileStream, AStereoFileIsTheMeanOfItsChannelsAsTheWaveReaderMixesIt) {
    test::TempFolder dir;
    const std::string path = (dir / "stereo.flac");
    const Watch stereo{{100, 301, -7, -8, 32767, 32767, -32768, 1}, 48000, 2};
    ASSERT_TRUE(WriteWatch(path, stereo, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    SoundFileStream stream;
    std::string error;
    ASSERT_TRUE(stream.Open(path, error)) << error;
    EXPECT_EQ(stream.SampleRate(), 48000u);
    EXPECT_EQ(stream.Channels(), 2);
    std::vector<int16_t> mono(8);
    ASSERT_EQ(stream.Read(mono.data(), mono.size()), 4u);
    mono.resize(4);
    EXPECT_EQ(mono, (std::vector<int16_t>{201, -8, 32767, -16384})); // halves away from zero
}

TEST(SoundFileStream, DamagedFilesAreRefusedOrEndEarlyWithoutHarm) {
    test::TempFolder dir;
    const Watch watch = MakeWatch(48000, 1);
    const std::string flac = (dir / "damaged.flac");
    ASSERT_TRUE(WriteWatch(flac, watch, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    {
        std::fstream f(flac, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(0);
        f.write("XXXX", 4); // the stream marker is gone
    }
    SoundFileStream refused;
    std::string error;
    EXPECT_FALSE(refused.Open(flac, error));
    EXPECT_FALSE(error.empty());

    const std::string ogg = (dir / "truncated.ogg");
    ASSERT_TRUE(WriteWatch(ogg, watch, SF_FORMAT_OGG | SF_FORMAT_VORBIS));
    std::filesystem::resize_file(ogg, std::filesystem::file_size(ogg) / 3);
    SoundFileStream truncated;
    if (truncated.Open(ogg, error)) {
        std::vector<int16_t> block(4096);
        size_t total = 0;
        while (const size_t n = truncated.Read(block.data(), block.size()))
            total += n;
        EXPECT_LT(total, watch.Samples.size()); // what the file still holds, then the end
    }
}

TEST(SoundFileStream, OnlyRegularFilesAreOpened) {
    test::TempFolder dir;
    SoundFileStream stream;
    std::string error;
    EXPECT_FALSE(stream.Open(dir.Path(), error));
    EXPECT_FALSE(stream.Open((dir / "missing.flac"), error));
    EXPECT_EQ(stream.Read(nullptr, 10), 0u);
}

TEST(WaveformPlaybackFormats, AFlacRecordingPlaysAtItsOwnRateAndChannels) {
    test::TempFolder dir;
    const std::string path = (dir / "watch.flac");
    ASSERT_TRUE(WriteWatch(path, MakeWatch(44100, 2), SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    WaveformFiles files;
    unsigned rate = 48000;
    int channels = 1;
    ASSERT_TRUE(files.OpenForReading(path, rate, channels));
    EXPECT_EQ(rate, 44100u);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(files.PlaybackLength(), static_cast<size_t>(40 * 44100));
    files.ClosePlayback(rate, channels);
    EXPECT_EQ(rate, 48000u);
    EXPECT_EQ(channels, 1);
}

// The file dialogs' "Sound files" filter lists what the linked libsndfile reads, asked at run
// time: its formats' own extensions and their common other names, never header-less raw files.
TEST(ReadableSoundFileExtensions, ListTheFormatsThisLibsndfileReads) {
    const std::vector<std::string> names = ReadableSoundFileExtensions();
    const auto has = [&](const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    for (const char* name : {"wav", "flac", "ogg", "oga", "aiff", "aif", "caf", "w64", "rf64"})
        EXPECT_TRUE(has(name)) << name;
    EXPECT_FALSE(has("raw"));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "each name once";
    for (const std::string& name : names) {
        EXPECT_FALSE(name.empty());
        EXPECT_EQ(name.find('.'), std::string::npos) << name;
        for (char c : name)
            EXPECT_FALSE(std::isupper(static_cast<unsigned char>(c))) << name;
    }
    // MP3 and Opus are listed exactly when this libsndfile can write them, so reads them too.
    test::TempFolder dir;
    const Watch watch = MakeWatch(44100, 1);
    EXPECT_EQ(has("mp3"),
              WriteWatch(dir / "w.mp3", watch, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III));
    EXPECT_EQ(has("opus"),
              WriteWatch(dir / "w.opus", MakeWatch(48000, 1), SF_FORMAT_OGG | SF_FORMAT_OPUS));
}

TEST(SoundFileStream, KnowsItsLengthBeforeReading) {
    test::TempFolder dir;
    const std::string path = (dir / "watch.flac");
    ASSERT_TRUE(WriteWatch(path, MakeWatch(44100, 2), SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    SoundFileStream stream;
    std::string error;
    ASSERT_TRUE(stream.Open(path, error)) << error;
    ASSERT_TRUE(stream.Length().has_value());
    EXPECT_EQ(*stream.Length(), 40u * 44100u);
    EXPECT_EQ(MemorySampleStream(std::vector<int16_t>(123), 8000).Length(), 123u);
}

} // namespace
} // namespace kv
