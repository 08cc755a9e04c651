// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/WaveformFiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "audio/SampleConversion.h"
#include "audio/SoundFile.h"
#include "platform/FileAccess.h"

namespace kv {
namespace {

// Capture formats a played file may switch to; anything else is not a recording we can play.
constexpr unsigned MinPlaybackRate = 1000;
constexpr unsigned MaxPlaybackRate = 768000;
constexpr int MaxPlaybackChannels = 32;
// A random start takes a value 0..32767, a 15-bit random number, and starts anywhere in the
// recording: the byte offset it picks, halved, is the index of a 16-bit sample.
constexpr int HighestRandomValue = 32767;
constexpr double SamplesPerDataByte = 0.5;

struct PlaybackFormat {
    unsigned Rate = 0;
    int Channels = 0;
    int Bits = 0;
};

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p) {
    return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16;
}

PlaybackFormat ParseHeader(const uint8_t* header) {
    PlaybackFormat f;
    f.Channels = Le16(header + 22);
    f.Rate = Le32(header + 24);
    f.Bits = Le16(header + 34);
    return f;
}

// "RIFF" size "WAVE", a 16-byte PCM "fmt " chunk of 16, 24 or 32 bits and "data" right after it:
// the layout the program records, read without a decoder.
bool IsCanonicalPcmWave(const uint8_t* h) {
    constexpr uint16_t PcmTag = 1;
    constexpr uint32_t PcmFmtSize = 16;
    const uint16_t bits = Le16(h + 34);
    return std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVEfmt ", 8) == 0 &&
           Le32(h + 16) == PcmFmtSize && Le16(h + 20) == PcmTag &&
           (bits == 16 || bits == 24 || bits == 32) && std::memcmp(h + 36, "data", 4) == 0;
}

bool Playable(const PlaybackFormat& f) {
    return f.Rate >= MinPlaybackRate && f.Rate <= MaxPlaybackRate && f.Channels >= 1 &&
           f.Channels <= MaxPlaybackChannels;
}

// 32-bit samples keep bytes 2 and 3, 24-bit samples bytes 1 and 2, anything else is 16-bit.
// Whole frames only; a trailing partial frame is dropped.
std::vector<int16_t> ToMono16(const uint8_t* data, size_t size, const PlaybackFormat& f) {
    const size_t step = f.Bits == 32 ? 4 : f.Bits == 24 ? 3 : 2;
    const size_t high = step - 2;
    const size_t channels = static_cast<size_t>(f.Channels);
    std::vector<int16_t> mono(size / (step * channels));
    for (int16_t& out : mono) {
        int64_t sum = 0;
        for (size_t c = 0; c < channels; ++c, data += step)
            sum += static_cast<int16_t>(Le16(data + high));
        out = RoundedMean(sum, static_cast<int64_t>(channels));
    }
    return mono;
}

// Reads the header and the whole data of a 44-byte-header WAV file; false when it cannot be
// played.
enum class HeaderCheck { CanonicalOnly, AnyHeader };

bool LoadCanonicalWave(const std::string& path, PlaybackFormat& format, std::vector<int16_t>& mono,
                       HeaderCheck check) {
    const ScopedFile file(OpenFile(path, OpenMode::Read)); // only regular files are read
    if (file.Get() < 0) return false;
    const std::optional<FileStatus> status = StatusOf(file.Get());
    if (!status || status->Kind != FileKind::Regular) return false;
    const uint64_t length = status->Size;
    uint8_t header[WaveHeaderSize];
    if (length < WaveHeaderSize || ReadAt(file.Get(), header, WaveHeaderSize, 0) != WaveHeaderSize)
        return false;
    if (check == HeaderCheck::CanonicalOnly && !IsCanonicalPcmWave(header)) return false;
    format = ParseHeader(header);
    if (!Playable(format)) return false;
    try {
        std::vector<uint8_t> bytes(length - WaveHeaderSize);
        const std::optional<size_t> got =
            ReadAt(file.Get(), bytes.data(), bytes.size(), WaveHeaderSize);
        if (!got) return false;
        mono = ToMono16(bytes.data(), *got, format);
    } catch (const std::bad_alloc&) {
        return false; // too large to hold in memory
    }
    return true;
}

// Any other recording libsndfile reads (FLAC, Ogg, MP3, AIFF, float or extensible WAV ...).
bool LoadOtherFormat(const std::string& path, PlaybackFormat& format, std::vector<int16_t>& mono) {
    unsigned rate = 0;
    int channels = 0;
    std::string error;
    if (!ReadSoundFile(path, mono, rate, channels, error) || mono.empty()) return false;
    format.Rate = rate;
    format.Channels = channels;
    format.Bits = 16;
    return Playable(format);
}

// The program's own recordings and every plain PCM WAV are read as the 44-byte layout says;
// anything else through libsndfile; what libsndfile refuses is still tried as that layout.
bool LoadPlayback(const std::string& path, PlaybackFormat& format, std::vector<int16_t>& mono) {
    return LoadCanonicalWave(path, format, mono, HeaderCheck::CanonicalOnly) ||
           LoadOtherFormat(path, format, mono) ||
           LoadCanonicalWave(path, format, mono, HeaderCheck::AnyHeader);
}

} // namespace

bool WaveformFiles::OpenForWriting(const std::string& path, unsigned sampleRate, int channels) {
    if (IsRecording || IsPlaying || channels < 1 || channels > 0xFFFF) return false;
    if (!Writer.Open(path, sampleRate, static_cast<uint16_t>(channels))) return false;
    RecordChannels = channels;
    IsRecording = true;
    return true;
}

void WaveformFiles::CloseRecording() {
    if (Writer.IsOpen()) Writer.Close();
    IsRecording = false;
}

bool WaveformFiles::OpenForReading(const std::string& path, unsigned& sampleRate, int& channels) {
    PlaybackFormat format;
    std::vector<int16_t> mono;
    if (IsRecording || !LoadPlayback(path, format, mono)) return false;
    ClosePlayback(sampleRate, channels);
    Data = std::move(mono);
    Position = 0;
    Moved = false;
    Loops = 0;
    IsPlaying = true;
    if (format.Rate != sampleRate) SavedRate = std::exchange(sampleRate, format.Rate);
    if (format.Channels != channels) SavedChannels = std::exchange(channels, format.Channels);
    return true;
}

void WaveformFiles::ClosePlayback(unsigned& sampleRate, int& channels) {
    IsPlaying = false;
    Loops = 0;
    Position = 0;
    std::vector<int16_t>().swap(Data);
    if (SavedRate != 0) sampleRate = std::exchange(SavedRate, 0u);
    if (SavedChannels != 0) channels = std::exchange(SavedChannels, 0);
}

void WaveformFiles::CloseAll(unsigned& sampleRate, int& channels) {
    CloseRecording();
    ClosePlayback(sampleRate, channels);
}

int64_t WaveformFiles::Process(int16_t* samples, size_t n) {
    if (IsRecording) {
        Record(samples, n);
    } else if (IsPlaying) {
        return Play(samples, n);
    }
    return NoSplice;
}

// A failed write (a full disk) ends the recording; what reached the file stays playable.
void WaveformFiles::Record(const int16_t* samples, size_t n) {
    if (!Writer.Append(samples, n * static_cast<size_t>(RecordChannels))) CloseRecording();
}

// A move since the last buffer joins this buffer's first sample to another moment of the
// recording; a wrap in the same buffer lies inside the break that join already makes.
int64_t WaveformFiles::Play(int16_t* samples, size_t n) {
    const int64_t moved = std::exchange(Moved, false) ? 0 : NoSplice;
    const size_t beforeWrap = CopyPlayback(samples, n);
    if (beforeWrap == n) return moved;
    Position = 0;
    const size_t got = beforeWrap + CopyPlayback(samples + beforeWrap, n - beforeWrap);
    if (got == n) {
        ++Loops;
        return moved != NoSplice ? moved : static_cast<int64_t>(beforeWrap);
    }
    std::fill(samples + got, samples + n, int16_t{0});
    IsPlaying = false; // the data is kept until ClosePlayback gives the capture format back
    return NoSplice;
}

void WaveformFiles::SetPlaybackStep(double step) {
    constexpr double SlowestStep = 0.5, FastestStep = 2.0; // no sound card is that far off
    Step = std::isfinite(step) && step >= SlowestStep && step <= FastestStep ? step : 1.0;
    Fraction = 0.0;
}

size_t WaveformFiles::CopyPlayback(int16_t* out, size_t n) {
    if (Step != 1.0) return ResamplePlayback(out, n);
    const size_t k = std::min(n, Data.size() - std::min(Position, Data.size()));
    if (k > 0) std::memcpy(out, Data.data() + Position, k * sizeof(int16_t));
    Position += k;
    return k;
}

// Each played sample lies between two recorded ones; the last recorded sample ends a pass.
size_t WaveformFiles::ResamplePlayback(int16_t* out, size_t n) {
    size_t k = 0;
    while (k < n && Position + 1 < Data.size()) {
        const double first = Data[Position];
        out[k++] =
            static_cast<int16_t>(std::lround(first + (Data[Position + 1] - first) * Fraction));
        Fraction += Step;
        const auto whole = static_cast<size_t>(Fraction);
        Fraction -= static_cast<double>(whole);
        Position = std::min(Position + whole, Data.size());
    }
    return k;
}

void WaveformFiles::RandomStart(int q) {
    const double bytes = 2.0 * static_cast<double>(Data.size());
    const double half = bytes * std::clamp(q, 0, HighestRandomValue) / double{HighestRandomValue} *
                        SamplesPerDataByte;
    Position = std::min(Data.size(), static_cast<size_t>(half)); // in samples: byte 2 * half
    Moved = IsPlaying;
}

} // namespace kv
