// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/WaveFile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <utility>

#include "audio/SampleConversion.h"
#include "platform/FileAccess.h"

namespace kv {
namespace {

constexpr uint16_t TagPcm = 1;
constexpr uint16_t TagFloat = 3;
constexpr uint16_t TagExtensible = 0xFFFE;
constexpr size_t RiffHeaderSize = 12; // "RIFF", size, "WAVE"
constexpr size_t ChunkHeaderSize = 8; // id, size
constexpr size_t FmtMinSize = 16;
constexpr size_t FmtExtensibleSize = 40;
// Both size fields are 32 bit: the data may grow until L - 8 no longer fits.
constexpr uint64_t MaxDataBytes = 0xFFFFFFFFull - (WaveHeaderSize - 8);

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p) {
    return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16;
}

uint64_t Le64(const uint8_t* p) {
    return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, static_cast<uint16_t>(v));
    Put16(p + 2, static_cast<uint16_t>(v >> 16));
}

bool IdIs(const uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

// Short lower-case text for an errno value, suitable after "FILE: ".
std::string ErrnoText(int err) {
    switch (err) {
    case ENOENT:
        return "no such file";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EISDIR:
        return "is a directory";
    case EEXIST:
        return "file exists";
    case ENOTDIR:
        return "not a directory";
    case ENOSPC:
        return "disk full";
    case EROFS:
        return "read-only file system";
    default:
        break;
    }
    std::string text = std::generic_category().message(err);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

WaveReadResult Failure(std::string reason) {
    WaveReadResult result;
    result.Error = std::move(reason);
    return result;
}

// ---- Reading -------------------------------------------------------------------------------

struct Format {
    uint16_t Tag = 0;
    uint16_t Channels = 0;
    uint32_t Rate = 0;
    uint16_t Bits = 0;
};

// Where the chunks of interest lie; bodies are clamped to the bytes actually present.
struct Layout {
    const uint8_t* Fmt = nullptr;
    uint32_t FmtDeclared = 0;
    size_t FmtAvailable = 0;
    bool HasData = false;
    size_t DataOffset = 0;
    size_t DataSize = 0;
};

std::string CheckRiffHeader(const uint8_t* bytes, size_t size) {
    const std::string notWav = "not a WAV file (no RIFF/WAVE header)";
    if (size == 0) return "empty file";
    if (std::memcmp(bytes, "RIFF", std::min<size_t>(size, 4)) != 0) return notWav;
    if (size < RiffHeaderSize) return "truncated header";
    if (!IdIs(bytes + 8, "WAVE")) return notWav;
    return {};
}

// Records the data chunk whose header starts at `pos`. Returns true when the data runs to the
// end of the file, which ends the walk.
bool NoteData(Layout& layout, const uint8_t* bytes, size_t size, size_t pos) {
    const uint32_t declared = Le32(bytes + pos + 4);
    const size_t body = pos + ChunkHeaderSize;
    // A recording that never reached Close has both size fields still 0.
    const bool unfinished = declared == 0 && Le32(bytes + 4) == 0;
    layout.HasData = true;
    layout.DataOffset = body;
    layout.DataSize = unfinished ? size - body : std::min<size_t>(declared, size - body);
    return unfinished;
}

// Walks the chunk list after the RIFF header, skipping chunks we do not use (and their pad
// bytes), until both "fmt " and "data" are found or the bytes run out.
Layout WalkChunks(const uint8_t* bytes, size_t size) {
    Layout layout;
    size_t pos = RiffHeaderSize;
    while (size - pos >= ChunkHeaderSize) {
        const uint8_t* head = bytes + pos;
        const uint32_t declared = Le32(head + 4);
        const size_t body = pos + ChunkHeaderSize;
        if (IdIs(head, "fmt ") && layout.Fmt == nullptr) {
            layout.Fmt = bytes + body;
            layout.FmtDeclared = declared;
            layout.FmtAvailable = std::min<size_t>(declared, size - body);
        } else if (IdIs(head, "data") && !layout.HasData) {
            if (NoteData(layout, bytes, size, pos)) break;
        }
        if (layout.Fmt != nullptr && layout.HasData) break;
        const uint64_t next = uint64_t{body} + declared + (declared & 1u);
        if (next >= size) break;
        pos = static_cast<size_t>(next);
    }
    return layout;
}

// WAVE_FORMAT_EXTENSIBLE names the real format in a GUID whose last 12 bytes are fixed.
std::string ResolveExtensible(const Layout& layout, Format& format) {
    static constexpr uint8_t GuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                             0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (layout.FmtDeclared < FmtExtensibleSize) return "bad fmt chunk (extensible too short)";
    if (layout.FmtAvailable < FmtExtensibleSize) return "truncated header";
    const uint8_t* guid = layout.Fmt + 24;
    const uint32_t subFormat = Le32(guid);
    if (std::memcmp(guid + 4, GuidTail, sizeof GuidTail) != 0 || subFormat > 0xFFFF)
        return "unsupported WAV format (unknown extensible sub-format)";
    format.Tag = static_cast<uint16_t>(subFormat);
    return {};
}

bool IsSupported(const Format& format) {
    const uint16_t bits = format.Bits;
    if (format.Tag == TagPcm) return bits == 8 || bits == 16 || bits == 24 || bits == 32;
    if (format.Tag == TagFloat) return bits == 32 || bits == 64;
    return false;
}

// Reads the format block; returns an error text, empty when the format is usable.
std::string ParseFormat(const Layout& layout, Format& format) {
    if (layout.Fmt == nullptr) return "no fmt chunk";
    if (layout.FmtDeclared < FmtMinSize) return "bad fmt chunk (too short)";
    if (layout.FmtAvailable < FmtMinSize) return "truncated header";
    format.Tag = Le16(layout.Fmt);
    format.Channels = Le16(layout.Fmt + 2);
    format.Rate = Le32(layout.Fmt + 4);
    format.Bits = Le16(layout.Fmt + 14);
    if (format.Tag == TagExtensible) {
        if (std::string error = ResolveExtensible(layout, format); !error.empty()) return error;
    }
    if (format.Channels == 0) return "zero channels";
    if (format.Rate == 0) return "zero sample rate";
    if (!IsSupported(format))
        return "unsupported WAV format (tag " + std::to_string(format.Tag) + ", " +
               std::to_string(format.Bits) + " bits)";
    return {};
}

using SampleDecoder = int16_t (*)(const uint8_t*);

int16_t DecodeU8(const uint8_t* p) {
    return static_cast<int16_t>((p[0] - 128) * 256);
}
int16_t DecodeS16(const uint8_t* p) {
    return static_cast<int16_t>(Le16(p));
}
// Wider integers keep their two most significant bytes.
int16_t DecodeS24(const uint8_t* p) {
    return static_cast<int16_t>(Le16(p + 1));
}
int16_t DecodeS32(const uint8_t* p) {
    return static_cast<int16_t>(Le16(p + 2));
}

int16_t DecodeF32(const uint8_t* p) {
    return FloatToS16(std::bit_cast<float>(Le32(p)));
}
int16_t DecodeF64(const uint8_t* p) {
    return FloatToS16(std::bit_cast<double>(Le64(p)));
}

SampleDecoder DecoderFor(const Format& format) {
    if (format.Tag == TagFloat) return format.Bits == 32 ? DecodeF32 : DecodeF64;
    switch (format.Bits) {
    case 8:
        return DecodeU8;
    case 16:
        return DecodeS16;
    case 24:
        return DecodeS24;
    default:
        return DecodeS32;
    }
}

// Converts whole frames to mono 16 bit; a trailing partial frame is dropped.
std::vector<int16_t> DecodeMono(const uint8_t* data, size_t size, const Format& format) {
    if constexpr (std::endian::native == std::endian::little) {
        if (format.Tag == TagPcm && format.Bits == 16 && format.Channels == 1) {
            std::vector<int16_t> mono(size / 2); // the common case: already what we need
            if (!mono.empty()) std::memcpy(mono.data(), data, mono.size() * 2);
            return mono;
        }
    }
    const SampleDecoder decode = DecoderFor(format);
    const size_t step = format.Bits / 8u;
    const size_t channels = format.Channels;
    std::vector<int16_t> mono(size / (step * channels));
    for (int16_t& out : mono) {
        int64_t sum = 0;
        for (size_t c = 0; c < channels; ++c, data += step)
            sum += decode(data);
        out = RoundedMean(sum, static_cast<int64_t>(channels));
    }
    return mono;
}

WaveReadResult Decode(const uint8_t* bytes, size_t size) {
    if (std::string error = CheckRiffHeader(bytes, size); !error.empty()) return Failure(error);
    const Layout layout = WalkChunks(bytes, size);
    Format format;
    if (std::string error = ParseFormat(layout, format); !error.empty()) return Failure(error);
    if (!layout.HasData) return Failure("no data chunk");

    WaveReadResult result;
    result.Data.SampleRate = format.Rate;
    result.Data.Channels = format.Channels;
    result.Data.BitsPerSample = format.Bits;
    result.Data.FormatTag = format.Tag;
    result.Data.Samples = DecodeMono(bytes + layout.DataOffset, layout.DataSize, format);
    result.Ok = true;
    return result;
}

// Leaves new elements uninitialised: a file's bytes are read over them straight away.
template <class T> struct UninitialisedAllocator : std::allocator<T> {
    template <class U> struct rebind { using other = UninitialisedAllocator<U>; };
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
};
using FileBytes = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

std::string ReadAll(int fd, FileBytes& bytes) {
    const std::optional<size_t> got = ReadAt(fd, bytes.data(), bytes.size(), 0);
    if (!got) return "read error (" + ErrnoText(errno) + ")";
    bytes.resize(*got); // the file may have shrunk while we read it
    return {};
}

// Loads a whole regular file; returns an error text, empty on success.
std::string LoadFile(const std::string& path, FileBytes& bytes) {
    const ScopedFile file(OpenFile(path, OpenMode::Read)); // a FIFO is refused below
    if (file.Get() < 0) return ErrnoText(errno);
    const std::optional<FileStatus> status = StatusOf(file.Get());
    if (!status) return ErrnoText(errno);
    if (status->Kind == FileKind::Directory) return "is a directory";
    if (status->Kind != FileKind::Regular) return "not a regular file";
    if (status->Size == 0) return "empty file";
    if (status->Size > std::numeric_limits<size_t>::max() / 2) return "file too large";
    bytes.resize(static_cast<size_t>(status->Size));
    return ReadAll(file.Get(), bytes);
}

// ---- Writing -------------------------------------------------------------------------------

std::array<uint8_t, WaveHeaderSize> MakeHeader(uint32_t sampleRate, uint16_t channels) {
    std::array<uint8_t, WaveHeaderSize> h{}; // both size fields stay 0 until Close
    std::memcpy(&h[0], "RIFF", 4);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    Put32(&h[16], 16);
    Put16(&h[20], TagPcm);
    Put16(&h[22], channels);
    Put32(&h[24], sampleRate);
    // Our recordings have always carried rate x 2 here, whatever the channel count; readers
    // (ours included) derive the frame size from channels and bits instead.
    Put32(&h[28], sampleRate * 2u);
    Put16(&h[32], static_cast<uint16_t>(channels * 2u));
    Put16(&h[34], 16);
    std::memcpy(&h[36], "data", 4);
    return h;
}

// Fills in L - 8 at offset 4 and L - 44 at offset 40 from the file's actual length L.
std::string WriteSizes(int fd) {
    const std::optional<FileStatus> status = StatusOf(fd);
    if (!status) return "cannot finish file (" + ErrnoText(errno) + ")";
    const uint64_t length = status->Size;
    if (length < WaveHeaderSize) return "cannot finish file (header missing)";
    const auto clamp32 = [](uint64_t v) {
        return static_cast<uint32_t>(std::min<uint64_t>(v, 0xFFFFFFFFu));
    };
    uint8_t field[4];
    Put32(field, clamp32(length - 8));
    bool ok = WriteAt(fd, field, 4, 4);
    Put32(field, clamp32(length - WaveHeaderSize));
    ok = ok && WriteAt(fd, field, 4, 40);
    return ok ? std::string() : "cannot finish file (" + ErrnoText(errno) + ")";
}

// Error text for a failed create: a missing path component means the folder is missing, and
// O_EXCL reports an existing directory as an existing file.
std::string CreateErrorText(int err, const std::string& path) {
    const std::optional<FileStatus> existing = err == EEXIST ? StatusOfPath(path) : std::nullopt;
    if (existing && existing->Kind == FileKind::Directory) return "is a directory";
    return err == ENOENT ? "no such directory" : ErrnoText(err);
}

} // namespace

WaveReadResult ParseWave(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr) size = 0;
    try {
        return Decode(bytes, size);
    } catch (const std::bad_alloc&) {
        return Failure("out of memory");
    }
}

WaveReadResult ReadWaveFile(const std::string& path) {
    FileBytes bytes;
    try {
        if (std::string error = LoadFile(path, bytes); !error.empty()) return Failure(error);
    } catch (const std::bad_alloc&) {
        return Failure("file too large");
    }
    return ParseWave(bytes.data(), bytes.size());
}

WaveWriter::~WaveWriter() {
    if (IsOpen()) Close();
}

bool WaveWriter::Open(const std::string& path, uint32_t sampleRate, uint16_t channels,
                      std::string* error) {
    const auto fail = [&](std::string reason) {
        Fail(std::move(reason));
        if (error != nullptr) *error = LastError_;
        return false;
    };
    if (IsOpen()) return fail("already open");
    if (channels == 0) return fail("zero channels");
    if (channels > 0x7FFF) return fail("too many channels");
    if (sampleRate == 0) return fail("zero sample rate");
    const int fd = OpenFile(path, OpenMode::CreateNew);
    if (fd < 0) return fail(CreateErrorText(errno, path));
    Fd_ = fd;
    DataBytes_ = 0;
    const auto header = MakeHeader(sampleRate, channels);
    if (!WriteAll(header.data(), header.size())) {
        std::string reason = LastError_;
        CloseFile(std::exchange(Fd_, -1));
        RemoveFile(path); // we created it a moment ago
        return fail(std::move(reason));
    }
    LastError_.clear();
    return true;
}

bool WaveWriter::Append(const int16_t* samples, size_t count) {
    if (!IsOpen()) return Fail("not open");
    if (count == 0) return true;
    if (samples == nullptr) return Fail("no samples");
    if (count > (MaxDataBytes - DataBytes_) / 2) return Fail("file too large for WAV");
    if constexpr (std::endian::native == std::endian::little) {
        if (!WriteAll(samples, count * 2)) return false;
    } else {
        std::array<uint8_t, 4096> chunk; // byte-swapped in pieces, no allocation
        for (size_t done = 0; done < count;) {
            const size_t n = std::min(count - done, chunk.size() / 2);
            for (size_t i = 0; i < n; ++i)
                Put16(&chunk[2 * i], static_cast<uint16_t>(samples[done + i]));
            if (!WriteAll(chunk.data(), n * 2)) return false;
            done += n;
        }
    }
    DataBytes_ += count * 2;
    return true;
}

bool WaveWriter::Close() {
    if (!IsOpen()) return Fail("not open");
    const int fd = std::exchange(Fd_, -1);
    std::string error = WriteSizes(fd);
    if (!CloseFile(fd) && error.empty()) error = "close failed (" + ErrnoText(errno) + ")";
    return error.empty() || Fail(std::move(error));
}

bool WaveWriter::IsOpen() const {
    return Fd_ >= 0;
}

bool WaveWriter::Fail(std::string reason) {
    LastError_ = std::move(reason);
    return false;
}

bool WaveWriter::WriteAll(const void* data, size_t size) {
    errno = 0; // stays 0 when the system wrote nothing without naming an error
    if (kv::WriteAll(Fd_, data, size)) return true;
    return Fail(errno != 0 ? "write failed (" + ErrnoText(errno) + ")" : "write failed");
}

bool WriteWaveFile(const std::string& path, const std::vector<int16_t>& interleaved,
                   uint32_t sampleRate, uint16_t channels, std::string* error) {
    WaveWriter writer;
    if (!writer.Open(path, sampleRate, channels, error)) return false;
    const bool appended = writer.Append(interleaved.data(), interleaved.size());
    std::string reason = writer.LastError();
    const bool closed = writer.Close();
    if (appended && closed) return true;
    if (error != nullptr) *error = appended ? writer.LastError() : reason;
    RemoveFile(path); // do not leave a half-written file behind
    return false;
}

} // namespace kv
