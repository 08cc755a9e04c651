// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/SoundFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <optional>
#include <sndfile.h>

#include "audio/SampleConversion.h"
#include "platform/FileAccess.h"

namespace kv {

namespace {

// Frames converted per libsndfile call: large enough that the call costs little per frame, small
// enough that the scratch block stays in the cache.
constexpr size_t BlockFrames = 4096;
// More channels than any recording device gives: such a file is refused, not mixed.
constexpr int MaxChannels = 32;

// Formats whose samples are floating point, or decoded to floating point, are read as doubles
// and converted as the WAV reader converts float samples. Integer formats are read as 16-bit
// values, which libsndfile takes from the top 16 bits of wider samples as the WAV reader does.
bool ReadsAsFloat(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return true;
    default:
        return false;
    }
}

// Whether the linked libsndfile reads a subtype (codec), such as Opus inside Ogg.
bool ReadsSubtype(int subtype) {
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &info, sizeof info) == 0 &&
            info.format == subtype)
            return true;
    }
    return false;
}

// The names files of a major format go by besides the one libsndfile reports.
std::vector<std::string> OtherExtensions(int major) {
    switch (major) {
    case SF_FORMAT_AIFF:
        return {"aif", "aifc"};
    case SF_FORMAT_AU:
        return {"snd"};
    case SF_FORMAT_SVX:
        return {"svx", "8svx"};
    case SF_FORMAT_OGG: {
        std::vector<std::string> names{"ogg"};
        if (ReadsSubtype(SF_FORMAT_OPUS)) names.emplace_back("opus");
        return names;
    }
    case SF_FORMAT_MPEG: {
        std::vector<std::string> names;
        if (ReadsSubtype(SF_FORMAT_MPEG_LAYER_III)) names.emplace_back("mp3");
        if (ReadsSubtype(SF_FORMAT_MPEG_LAYER_II)) names.emplace_back("mp2");
        if (ReadsSubtype(SF_FORMAT_MPEG_LAYER_I)) names.emplace_back("mp1");
        return names;
    }
    default:
        return {};
    }
}

} // namespace

std::vector<std::string> ReadableSoundFileExtensions() {
    std::vector<std::string> extensions;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0) continue;
        const int major = info.format & SF_FORMAT_TYPEMASK;
        if (major == SF_FORMAT_RAW) continue;
        if (info.extension && *info.extension) extensions.emplace_back(info.extension);
        for (std::string& name : OtherExtensions(major))
            extensions.push_back(std::move(name));
    }
    for (std::string& name : extensions)
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::sort(extensions.begin(), extensions.end());
    extensions.erase(std::unique(extensions.begin(), extensions.end()), extensions.end());
    return extensions;
}

struct SoundFileStream::Handle {
    int Descriptor = -1;
    SNDFILE* File = nullptr;
    SF_INFO Info{};
    bool Float = false;
    std::vector<int16_t> Integers; // one block of interleaved frames
    std::vector<double> Doubles;

    ~Handle() {
        if (File) sf_close(File);
        if (Descriptor >= 0) CloseFile(Descriptor);
    }

    // Mixes `frames` interleaved frames of the scratch block down to mono.
    void Mix(int16_t* out, size_t frames) const {
        const auto channels = static_cast<size_t>(Info.channels);
        for (size_t f = 0; f < frames; ++f) {
            int64_t sum = 0;
            for (size_t c = 0; c < channels; ++c) {
                const size_t i = f * channels + c;
                sum += Float ? FloatToS16(Doubles[i]) : Integers[i];
            }
            out[f] = channels == 1 ? static_cast<int16_t>(sum)
                                   : RoundedMean(sum, static_cast<int64_t>(channels));
        }
    }
};

MemorySampleStream::MemorySampleStream(std::vector<int16_t> samples, unsigned sampleRate)
    : Samples(std::move(samples)), Rate(sampleRate) {}

size_t MemorySampleStream::Read(int16_t* out, size_t count) {
    const size_t n = std::min(count, Samples.size() - Position);
    if (n > 0) std::memcpy(out, Samples.data() + Position, n * sizeof(int16_t));
    Position += n;
    return n;
}

SoundFileStream::SoundFileStream() = default;
SoundFileStream::~SoundFileStream() = default;

bool SoundFileStream::Open(const std::string& path, std::string& error) {
    auto handle = std::make_unique<Handle>();
    // Only regular files: a FIFO or a device would block or never end.
    handle->Descriptor = OpenFile(path, OpenMode::Read);
    if (handle->Descriptor < 0) {
        error = "cannot open the file";
        return false;
    }
    const std::optional<FileStatus> status = StatusOf(handle->Descriptor);
    if (!status || status->Kind != FileKind::Regular) {
        error = "not a regular file";
        return false;
    }
    handle->File = sf_open_fd(handle->Descriptor, SFM_READ, &handle->Info, SF_FALSE);
    if (!handle->File) {
        error = sf_strerror(nullptr);
        return false;
    }
    const SF_INFO& info = handle->Info;
    if (info.channels < 1 || info.channels > MaxChannels || info.samplerate <= 0) {
        error = "unsupported channel count or sample rate";
        return false;
    }
    handle->Float = ReadsAsFloat(info.format);
    // Decoders that overshoot full scale clip instead of wrapping around.
    sf_command(handle->File, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    try {
        const size_t values = BlockFrames * static_cast<size_t>(info.channels);
        if (handle->Float)
            handle->Doubles.resize(values);
        else
            handle->Integers.resize(values);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    }
    File = std::move(handle);
    return true;
}

unsigned SoundFileStream::SampleRate() const {
    return File ? static_cast<unsigned>(File->Info.samplerate) : 0;
}

int SoundFileStream::Channels() const {
    return File ? File->Info.channels : 0;
}

size_t SoundFileStream::Read(int16_t* out, size_t count) {
    if (!File) return 0;
    if (!File->Float && File->Info.channels == 1) { // nothing to convert: straight into `out`
        const sf_count_t got = sf_readf_short(File->File, out, static_cast<sf_count_t>(count));
        return got > 0 ? static_cast<size_t>(got) : 0;
    }
    size_t done = 0;
    while (done < count) {
        const auto want = static_cast<sf_count_t>(std::min(BlockFrames, count - done));
        const sf_count_t got = File->Float
                                   ? sf_readf_double(File->File, File->Doubles.data(), want)
                                   : sf_readf_short(File->File, File->Integers.data(), want);
        if (got <= 0) break;
        File->Mix(out + done, static_cast<size_t>(got));
        done += static_cast<size_t>(got);
        if (got < want) break;
    }
    return done;
}

std::optional<uint64_t> SoundFileStream::Length() const {
    if (!File || File->Info.frames < 0 || File->Info.frames == SF_COUNT_MAX) return std::nullopt;
    return static_cast<uint64_t>(File->Info.frames);
}

bool ReadSoundFile(const std::string& path, std::vector<int16_t>& mono, unsigned& sampleRate,
                   int& channels, std::string& error) {
    SoundFileStream stream;
    if (!stream.Open(path, error)) return false;
    sampleRate = stream.SampleRate();
    channels = stream.Channels();
    try {
        std::vector<int16_t> samples;
        std::vector<int16_t> block(BlockFrames);
        while (const size_t n = stream.Read(block.data(), block.size()))
            samples.insert(samples.end(), block.begin(), block.begin() + static_cast<long>(n));
        mono = std::move(samples);
    } catch (const std::bad_alloc&) {
        error = "file too large";
        return false;
    }
    return true;
}

} // namespace kv
