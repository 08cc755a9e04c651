// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/WaveFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// ---- Hand-made WAV images, assembled independently of the code under test ------------------

void Add16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void Add32(Bytes& b, uint32_t v) {
    Add16(b, static_cast<uint16_t>(v));
    Add16(b, static_cast<uint16_t>(v >> 16));
}

void AddId(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(id[i]));
}

void AddBytes(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

uint32_t Get32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A chunk with its pad byte when the body is odd.
Bytes Chunk(const char* id, const Bytes& body) {
    Bytes b;
    AddId(b, id);
    Add32(b, static_cast<uint32_t>(body.size()));
    AddBytes(b, body);
    if (body.size() % 2 != 0) b.push_back(0);
    return b;
}

Bytes Riff(std::initializer_list<Bytes> chunks) {
    Bytes body;
    for (const Bytes& c : chunks)
        AddBytes(body, c);
    Bytes b;
    AddId(b, "RIFF");
    Add32(b, static_cast<uint32_t>(body.size() + 4));
    AddId(b, "WAVE");
    AddBytes(b, body);
    return b;
}

Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes b;
    Add16(b, tag);
    Add16(b, channels);
    Add32(b, rate);
    Add32(b, rate * channels * bits / 8);
    Add16(b, static_cast<uint16_t>(channels * bits / 8));
    Add16(b, bits);
    return b;
}

Bytes Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    return Chunk("fmt ", FmtBody(tag, channels, rate, bits));
}

// WAVE_FORMAT_EXTENSIBLE block; `guidTail` is the fixed part of the sub-format GUID.
Bytes ExtensibleFmt(uint16_t subFormat, uint16_t channels, uint32_t rate, uint16_t bits,
                    Bytes guidTail = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38,
                                      0x9B, 0x71}) {
    Bytes b = FmtBody(0xFFFE, channels, rate, bits);
    Add16(b, 22);   // extension size
    Add16(b, bits); // valid bits
    Add32(b, channels == 2 ? 3u : 4u);
    Add32(b, subFormat);
    AddBytes(b, guidTail);
    return Chunk("fmt ", b);
}

Bytes Samples16(std::initializer_list<int> values) {
    Bytes b;
    for (int v : values)
        Add16(b, static_cast<uint16_t>(static_cast<int16_t>(v)));
    return b;
}

// The 44-byte header of our own recordings with the given size fields.
Bytes OwnHeader(uint32_t rate, uint16_t channels, uint32_t riffSize, uint32_t dataSize) {
    Bytes b;
    AddId(b, "RIFF");
    Add32(b, riffSize);
    AddId(b, "WAVE");
    AddId(b, "fmt ");
    Add32(b, 16);
    Add16(b, 1);
    Add16(b, channels);
    Add32(b, rate);
    Add32(b, rate * 2);
    Add16(b, static_cast<uint16_t>(channels * 2));
    Add16(b, 16);
    AddId(b, "data");
    Add32(b, dataSize);
    return b;
}

Bytes Float32Data(std::initializer_list<float> values) {
    Bytes b;
    for (float v : values) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        Add32(b, bits);
    }
    return b;
}

kv::WaveReadResult Parse(const Bytes& b) {
    return kv::ParseWave(b.data(), b.size());
}

std::vector<int16_t> Values(std::initializer_list<int> values) {
    return std::vector<int16_t>(values.begin(), values.end());
}

// ---- Files in a private temporary folder ---------------------------------------------------

class WaveFileDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kv-wavetest-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        Dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(Dir, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(Dir, ec);
    }
    std::string Path(const std::string& name) const { return Dir + "/" + name; }

    static Bytes Load(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void Store(const std::string& path, const Bytes& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    std::string Dir;
};

using WaveWriterTest = WaveFileDirTest;
using WaveFileReadTest = WaveFileDirTest;

// ---- Writer --------------------------------------------------------------------------------

TEST_F(WaveWriterTest, WritesExactHeaderAndFillsSizesOnClose) {
    const std::string path = Path("stereo.wav");
    kv::WaveWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(path, 48000, 2, &error)) << error;
    EXPECT_TRUE(writer.IsOpen());

    const Bytes expected = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W',  'A',  'V',
                            'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,    1,    0,
                            2,   0,   0x80, 0xBB, 0,   0,   0x00, 0x77, 0x01, 0x00, 4,
                            0,   16,  0,    'd',  'a', 't', 'a',  0,    0,    0,    0};
    EXPECT_EQ(Load(path), expected) << "header while recording";

    const int16_t frames[] = {1, -1, 256, -256, 32767, -32768};
    ASSERT_TRUE(writer.Append(frames, 6));
    ASSERT_TRUE(writer.Close());
    EXPECT_FALSE(writer.IsOpen());

    Bytes finished = expected;
    finished[4] = 48; // 56 - 8
    finished[40] = 12;
    AddBytes(finished, {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0x7F, 0x00, 0x80});
    EXPECT_EQ(Load(path), finished);
}

TEST_F(WaveWriterTest, TenSecondsAt96kHzMonoInBuffers) {
    const std::string path = Path("long.wav");
    std::vector<int16_t> buffer(9600);
    std::vector<int16_t> all;
    kv::WaveWriter writer;
    ASSERT_TRUE(writer.Open(path, 96000, 1));
    for (int b = 0; b < 100; ++b) {
        for (size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = static_cast<int16_t>((b * 9600 + static_cast<int>(i)) * 7);
        ASSERT_TRUE(writer.Append(buffer.data(), buffer.size()));
        all.insert(all.end(), buffer.begin(), buffer.end());
    }
    ASSERT_TRUE(writer.Close());

    const Bytes bytes = Load(path);
    ASSERT_EQ(bytes.size(), 44u + 1920000u);
    EXPECT_EQ(Get32(bytes, 4), 1920036u);
    EXPECT_EQ(Get32(bytes, 40), 1920000u);
    const kv::WaveReadResult read = kv::ReadWaveFile(path);
    ASSERT_TRUE(read.Ok) << read.Error;
    EXPECT_EQ(read.Data.Samples, all);
}

TEST_F(WaveWriterTest, NeverOverwritesAnExistingFile) {
    const std::string path = Path("precious.wav");
    const Bytes precious = {'k', 'e', 'e', 'p'};
    Store(path, precious);

    kv::WaveWriter writer;
    std::string error;
    EXPECT_FALSE(writer.Open(path, 96000, 1, &error));
    EXPECT_EQ(error, "file exists");
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(kv::WriteWaveFile(path, {1, 2, 3}, 96000, 1, &error));
    EXPECT_EQ(error, "file exists");
    EXPECT_EQ(Load(path), precious);
}

TEST_F(WaveWriterTest, RefusesBadArgumentsAndPaths) {
    std::string error;
    kv::WaveWriter writer;
    EXPECT_FALSE(writer.Open(Path("a.wav"), 96000, 0, &error));
    EXPECT_EQ(error, "zero channels");
    EXPECT_FALSE(writer.Open(Path("a.wav"), 0, 1, &error));
    EXPECT_EQ(error, "zero sample rate");
    EXPECT_FALSE(std::filesystem::exists(Path("a.wav")));
    EXPECT_FALSE(writer.Open(Path("missing/a.wav"), 96000, 1, &error));
    EXPECT_EQ(error, "no such directory");
    EXPECT_FALSE(writer.Open(Dir, 96000, 1, &error));
    EXPECT_EQ(error, "is a directory");
    EXPECT_FALSE(writer.IsOpen());
}

TEST_F(WaveWriterTest, CallsOutsideAnOpenFileFail) {
    kv::WaveWriter writer;
    const int16_t s[] = {1, 2};
    EXPECT_FALSE(writer.Append(s, 2));
    EXPECT_FALSE(writer.Close());

    ASSERT_TRUE(writer.Open(Path("a.wav"), 8000, 1));
    std::string error;
    EXPECT_FALSE(writer.Open(Path("b.wav"), 8000, 1, &error));
    EXPECT_EQ(error, "already open");
    EXPECT_TRUE(writer.IsOpen()) << "a refused second Open leaves the first file open";
    EXPECT_TRUE(writer.Append(s, 0));
    ASSERT_TRUE(writer.Close());
    EXPECT_FALSE(writer.Append(s, 2));
    EXPECT_EQ(Load(Path("a.wav")).size(), 44u);
}

TEST_F(WaveWriterTest, DestructorFinishesTheFile) {
    const std::string path = Path("scoped.wav");
    {
        kv::WaveWriter writer;
        ASSERT_TRUE(writer.Open(path, 22050, 1));
        const int16_t s[] = {5, 6, 7};
        ASSERT_TRUE(writer.Append(s, 3));
    }
    const Bytes bytes = Load(path);
    ASSERT_EQ(bytes.size(), 50u);
    EXPECT_EQ(Get32(bytes, 4), 42u);
    EXPECT_EQ(Get32(bytes, 40), 6u);
}

TEST_F(WaveWriterTest, RecordingInProgressIsReadable) {
    const std::string path = Path("live.wav");
    kv::WaveWriter writer;
    ASSERT_TRUE(writer.Open(path, 96000, 1));
    const int16_t s[] = {100, -200, 300, -400, 500};
    ASSERT_TRUE(writer.Append(s, 5));

    const Bytes bytes = Load(path);
    ASSERT_EQ(bytes.size(), 54u);
    EXPECT_EQ(Get32(bytes, 4), 0u);
    EXPECT_EQ(Get32(bytes, 40), 0u);
    const kv::WaveReadResult read = kv::ReadWaveFile(path);
    ASSERT_TRUE(read.Ok) << read.Error;
    EXPECT_EQ(read.Data.Samples, Values({100, -200, 300, -400, 500}));
    EXPECT_TRUE(writer.Close());
}

TEST_F(WaveWriterTest, RoundTripsMonoAndMixesStereo) {
    std::vector<int16_t> mono;
    for (int i = 0; i < 1000; ++i)
        mono.push_back(static_cast<int16_t>(i * 65 - 32768));
    mono.push_back(32767);
    ASSERT_TRUE(kv::WriteWaveFile(Path("mono.wav"), mono, 44100, 1));
    const kv::WaveReadResult m = kv::ReadWaveFile(Path("mono.wav"));
    ASSERT_TRUE(m.Ok) << m.Error;
    EXPECT_EQ(m.Data.Samples, mono);
    EXPECT_EQ(m.Data.SampleRate, 44100u);
    EXPECT_EQ(m.Data.Channels, 1);
    EXPECT_EQ(m.Data.BitsPerSample, 16);
    EXPECT_EQ(m.Data.FormatTag, 1);

    ASSERT_TRUE(
        kv::WriteWaveFile(Path("stereo.wav"), Values({100, 300, -50, -150, 7, 7}), 48000, 2));
    const kv::WaveReadResult s = kv::ReadWaveFile(Path("stereo.wav"));
    ASSERT_TRUE(s.Ok) << s.Error;
    EXPECT_EQ(s.Data.Samples, Values({200, -100, 7}));
    EXPECT_EQ(s.Data.Channels, 2);
    EXPECT_EQ(s.Data.SampleRate, 48000u);
}

TEST_F(WaveWriterTest, EmptyRecordingIsA44ByteFileWithNoSamples) {
    ASSERT_TRUE(kv::WriteWaveFile(Path("empty.wav"), {}, 96000, 1));
    const Bytes bytes = Load(Path("empty.wav"));
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(Get32(bytes, 4), 36u);
    EXPECT_EQ(Get32(bytes, 40), 0u);
    const kv::WaveReadResult read = kv::ReadWaveFile(Path("empty.wav"));
    ASSERT_TRUE(read.Ok) << read.Error;
    EXPECT_TRUE(read.Data.Samples.empty());
    EXPECT_EQ(read.Data.SampleRate, 96000u);
}

// ---- Reading our own layout ----------------------------------------------------------------

TEST(WaveParseTest, OwnLayoutWithUnsetOrOversizedSizes) {
    Bytes interrupted = OwnHeader(96000, 1, 0, 0);
    AddBytes(interrupted, Samples16({1, 2, 3, 4}));
    kv::WaveReadResult r = Parse(interrupted);
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({1, 2, 3, 4}));
    EXPECT_EQ(r.Data.SampleRate, 96000u);

    Bytes oversized = OwnHeader(96000, 1, 0xFFFFFFF0u, 0xFFFFFFF0u);
    AddBytes(oversized, Samples16({9, -9, 8, -8, 7}));
    r = Parse(oversized);
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({9, -9, 8, -8, 7}));
    EXPECT_LE(r.Data.Samples.capacity(), oversized.size());

    for (uint32_t riff : {0u, 36u}) {
        r = Parse(OwnHeader(8000, 1, riff, 0));
        ASSERT_TRUE(r.Ok) << r.Error;
        EXPECT_TRUE(r.Data.Samples.empty());
    }
}

TEST(WaveParseTest, OddByteCountsAndPartialFrames) {
    // 7 data bytes of mono 16-bit: the last byte is half a sample; a pad byte follows.
    Bytes odd = Chunk("data", {1, 0, 2, 0, 3, 0, 4});
    kv::WaveReadResult r = Parse(Riff({Fmt(1, 1, 8000, 16), odd, Chunk("LIST", {'a', 'b'})}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({1, 2, 3}));

    // Stereo with two and a half frames.
    r = Parse(Riff({Fmt(1, 2, 8000, 16), Chunk("data", Samples16({10, 20, 30, 40, 50}))}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({15, 35}));

    // 24-bit: 301 bytes hold 100 samples.
    Bytes b24(301, 0);
    r = Parse(Riff({Fmt(1, 1, 8000, 24), Chunk("data", b24)}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples.size(), 100u);
}

// ---- Foreign files -------------------------------------------------------------------------

TEST(WaveParseTest, WalksPastChunksItDoesNotUse) {
    const Bytes data = Chunk("data", Samples16({-5, 6, -7}));
    const Bytes list = Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 2, 0, 0, 0, 'x', 0});
    const Bytes fact = Chunk("fact", {3, 0, 0, 0});
    const Bytes junk = Chunk("junk", {0xEE, 0xEE, 0xEE}); // odd size with pad byte
    const Bytes bext = Chunk("bext", Bytes(602, 0x20));

    for (const Bytes& file : {Riff({bext, Fmt(1, 1, 44100, 16), list, fact, junk, data}),
                              Riff({junk, Fmt(1, 1, 44100, 16), junk, data}),
                              Riff({data, list, Fmt(1, 1, 44100, 16)})}) {
        const kv::WaveReadResult r = Parse(file);
        ASSERT_TRUE(r.Ok) << r.Error;
        EXPECT_EQ(r.Data.Samples, Values({-5, 6, -7}));
        EXPECT_EQ(r.Data.SampleRate, 44100u);
    }
}

TEST(WaveParseTest, ConvertsIntegerFormats) {
    kv::WaveReadResult r = Parse(Riff({Fmt(1, 1, 8000, 8), Chunk("data", {0, 128, 255, 64, 1})}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({-32768, 0, 32512, -16384, -32512}));
    EXPECT_EQ(r.Data.BitsPerSample, 8);

    // 24 bit keeps bytes 1..2 of each sample: 300 bytes give 100 samples.
    Bytes b24;
    std::vector<int16_t> expected;
    for (int i = 0; i < 100; ++i) {
        const auto v = static_cast<int16_t>(i * 331 - 16000);
        b24.push_back(0x5A);
        Add16(b24, static_cast<uint16_t>(v));
        expected.push_back(v);
    }
    ASSERT_EQ(b24.size(), 300u);
    r = Parse(Riff({Fmt(1, 1, 96000, 24), Chunk("data", b24)}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, expected);
    EXPECT_EQ(r.Data.BitsPerSample, 24);

    // 32 bit keeps bytes 2..3.
    r = Parse(Riff({Fmt(1, 1, 96000, 32), Chunk("data", {0x11, 0x22, 0x34, 0x12, 0xFF, 0xFF, 0x00,
                                                         0x80, 0, 0, 0xFF, 0x7F})}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({0x1234, -32768, 32767}));
}

TEST(WaveParseTest, ConvertsFloatWithScalingClampingAndRounding) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Bytes data = Float32Data({0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 1.5f, -3.0f, nan, 0.25f});
    kv::WaveReadResult r = Parse(Riff({Fmt(3, 1, 48000, 32), Chunk("data", data)}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({0, 16384, -16384, 32767, -32767, 32767, -32768, 0, 8192}));
    EXPECT_EQ(r.Data.FormatTag, 3);

    Bytes d64;
    for (double v : {0.25, -2.0, 1e-9}) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        Add32(d64, static_cast<uint32_t>(bits));
        Add32(d64, static_cast<uint32_t>(bits >> 32));
    }
    r = Parse(Riff({Fmt(3, 1, 48000, 64), Chunk("data", d64)}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({8192, -32768, 0}));
}

TEST(WaveParseTest, MixesChannelsToMono) {
    kv::WaveReadResult r = Parse(Riff(
        {Fmt(1, 2, 44100, 16), Chunk("data", Samples16({1000, 3000, -100, -300, 32767, 32767,
                                                        -32768, -32768, 10000, -10000, 3, 6}))}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({2000, -200, 32767, -32768, 0, 5}));
    EXPECT_EQ(r.Data.Channels, 2);
    EXPECT_EQ(r.Data.SampleRate, 44100u);

    r = Parse(Riff({Fmt(1, 3, 8000, 8), Chunk("data", {128, 160, 192, 0, 0, 0})}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({8192, -32768}));
    EXPECT_EQ(r.Data.Channels, 3);
}

TEST(WaveParseTest, ResolvesExtensibleFormats) {
    Bytes pcm24;
    for (int v : {1000, 3000, -400, -600}) {
        pcm24.push_back(0);
        Add16(pcm24, static_cast<uint16_t>(static_cast<int16_t>(v)));
    }
    kv::WaveReadResult r = Parse(Riff({ExtensibleFmt(1, 2, 96000, 24), Chunk("data", pcm24)}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({2000, -500}));
    EXPECT_EQ(r.Data.FormatTag, 1);
    EXPECT_EQ(r.Data.BitsPerSample, 24);

    r = Parse(Riff({ExtensibleFmt(3, 1, 48000, 32), Chunk("data", Float32Data({-0.5f, 1.0f}))}));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Data.Samples, Values({-16384, 32767}));
    EXPECT_EQ(r.Data.FormatTag, 3);
}

// ---- Refusals ------------------------------------------------------------------------------

TEST(WaveParseTest, RefusesWithAClearReason) {
    const Bytes data = Chunk("data", Samples16({1, 2}));
    Bytes shortFmt = FmtBody(1, 1, 8000, 16);
    shortFmt.resize(14);
    Bytes hugeJunk;
    AddId(hugeJunk, "JUNK");
    Add32(hugeJunk, 0xFFFFFFF0u);
    Bytes notWave = Riff({Fmt(1, 1, 8000, 16), data});
    std::memcpy(&notWave[8], "AVI ", 4);
    const Bytes own = OwnHeader(96000, 1, 0, 0);

    const struct {
        const char* Name;
        Bytes File;
        std::string Error;
    } cases[] = {
        {"empty", {}, "empty file"},
        {"text",
         {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '\n'},
         "not a WAV file (no RIFF/WAVE header)"},
        {"short text", {'h', 'i'}, "not a WAV file (no RIFF/WAVE header)"},
        {"RIFF but AVI", notWave, "not a WAV file (no RIFF/WAVE header)"},
        {"RIFF cut", {'R', 'I', 'F', 'F', 0, 0}, "truncated header"},
        {"header cut in fmt", Bytes(own.begin(), own.begin() + 30), "truncated header"},
        {"no fmt", Riff({data}), "no fmt chunk"},
        {"no data", Riff({Fmt(1, 1, 8000, 16)}), "no data chunk"},
        {"zero channels", Riff({Fmt(1, 0, 8000, 16), data}), "zero channels"},
        {"zero rate", Riff({Fmt(1, 1, 0, 16), data}), "zero sample rate"},
        {"ADPCM", Riff({Fmt(2, 1, 8000, 4), data}), "unsupported WAV format (tag 2, 4 bits)"},
        {"12 bit", Riff({Fmt(1, 1, 8000, 12), data}), "unsupported WAV format (tag 1, 12 bits)"},
        {"16 bit float", Riff({Fmt(3, 1, 8000, 16), data}),
         "unsupported WAV format (tag 3, 16 bits)"},
        {"extensible ADPCM", Riff({ExtensibleFmt(2, 1, 8000, 4), data}),
         "unsupported WAV format (tag 2, 4 bits)"},
        {"extensible foreign GUID", Riff({ExtensibleFmt(1, 1, 8000, 16, Bytes(12, 0x42)), data}),
         "unsupported WAV format (unknown extensible sub-format)"},
        {"fmt too short", Riff({Chunk("fmt ", shortFmt), data}), "bad fmt chunk (too short)"},
        {"huge chunk hides the rest", Riff({hugeJunk, Fmt(1, 1, 8000, 16), data}), "no fmt chunk"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const kv::WaveReadResult r = Parse(c.File);
        EXPECT_FALSE(r.Ok);
        EXPECT_EQ(r.Error, c.Error);
        EXPECT_TRUE(r.Data.Samples.empty());
    }
}

TEST(WaveParseTest, EveryTruncationIsHandled) {
    const Bytes file = Riff({Chunk("LIST", {'a', 'b', 'c'}), ExtensibleFmt(1, 2, 48000, 24),
                             Chunk("data", Bytes(60, 0x33))});
    for (size_t n = 0; n <= file.size(); ++n) {
        const kv::WaveReadResult r = kv::ParseWave(file.data(), n);
        EXPECT_TRUE(r.Ok || !r.Error.empty()) << "length " << n;
        EXPECT_LE(r.Data.Samples.size(), n / 6) << "length " << n;
    }
    EXPECT_EQ(Parse(file).Data.Samples.size(), 10u);
}

TEST_F(WaveFileReadTest, RefusesFilesThatCannotBeRead) {
    EXPECT_EQ(kv::ReadWaveFile(Path("nothing.wav")).Error, "no such file");
    EXPECT_EQ(kv::ReadWaveFile(Dir).Error, "is a directory");
    Store(Path("empty.wav"), {});
    EXPECT_EQ(kv::ReadWaveFile(Path("empty.wav")).Error, "empty file");
    const Bytes own = OwnHeader(96000, 1, 0, 0);
    Store(Path("cut.wav"), Bytes(own.begin(), own.begin() + 20));
    EXPECT_EQ(kv::ReadWaveFile(Path("cut.wav")).Error, "truncated header");
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    EXPECT_EQ(kv::ReadWaveFile(Path("pipe")).Error, "not a regular file");
}

TEST_F(WaveFileReadTest, RefusesAFileWithoutReadPermission) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
    const std::string path = Path("locked.wav");
    ASSERT_TRUE(kv::WriteWaveFile(path, {1, 2, 3}, 8000, 1));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const kv::WaveReadResult r = kv::ReadWaveFile(path);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Error, "permission denied");
}

} // namespace
