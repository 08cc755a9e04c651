// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/format/LogLineStream.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "logview/format/LogEncoding.h"

namespace kv {

namespace {

constexpr size_t kMinChunkBytes = 16; // holds the encoding probe and any UTF-8 sequence

// A UTF-16LE unit in D800 … DBFF, the first of a pair.
bool IsHighSurrogate(const char* unit) {
    return (static_cast<unsigned char>(unit[1]) & 0xFC) == 0xD8;
}

// Cuts the bytes into lines as they arrive. The 8-bit rule decides per line-feed-ended segment
// whether it is UTF-8; the segment is checked ahead from its first byte above 0x7F, through the
// reader where it runs past the chunk, so no segment is ever held.
class LineCutter {
public:
    LineCutter(const LogByteReader& read, uint64_t size, const LogLineHandler& onLine,
               const LogReadLimits& limits)
        : Read(read), Size(size), OnLine(onLine), MaxLine(limits.MaxLineBytes),
          ChunkBytes(std::max(kMinChunkBytes, limits.ChunkBytes + limits.ChunkBytes % 2)) {}

    LogReadEnd Run() {
        std::string chunk;
        size_t carried = 0; // bytes kept from the previous chunk: an unfinished code unit or pair
        for (uint64_t at = 0; at < Size;) {
            const auto want = static_cast<size_t>(std::min<uint64_t>(ChunkBytes, Size - at));
            chunk.resize(carried + want);
            const std::optional<size_t> got = Read(at, chunk.data() + carried, want);
            if (!got) return LogReadEnd::ReadFailed;
            chunk.resize(carried + *got);
            if (at == 0) Start(chunk);
            const uint64_t chunkAt = at - carried;
            at += *got;
            const bool last = *got < want || at >= Size;
            const size_t usable = Usable(chunk, last);
            Cut(std::string_view(chunk).substr(0, usable), chunkAt, last);
            if (Failed) return LogReadEnd::ReadFailed;
            if (Stopped) return LogReadEnd::Stopped;
            if (last) break;
            chunk.erase(0, usable);
            carried = chunk.size();
        }
        return LogReadEnd::Finished;
    }

private:
    enum class Segment { Ascii, Utf8, Windows1252 }; // what the current 8-bit segment is

    void Start(std::string_view first) {
        Encoding = DetectLogEncoding(first);
        Width = Encoding == LogEncoding::Utf16Le ? 2 : 1;
    }

    // The bytes that hold whole units; a high surrogate waits for its partner unless the file
    // ends.
    size_t Usable(std::string_view chunk, bool last) const {
        size_t usable = chunk.size() - chunk.size() % Width;
        if (!last && Width == 2 && usable >= 2 && IsHighSurrogate(&chunk[usable - 2])) usable -= 2;
        return usable;
    }

    bool IsUnit(std::string_view data, size_t i, char c) const {
        return data[i] == c && (Width == 1 || data[i + 1] == '\0');
    }

    size_t FindBreak(std::string_view data, size_t i) const {
        while (i < data.size() && !IsUnit(data, i, '\r') && !IsUnit(data, i, '\n'))
            i += Width;
        return i;
    }

    void Cut(std::string_view data, uint64_t dataAt, bool last) {
        for (size_t i = 0; i < data.size() && !Stopped;) {
            if (CrSeen) { // a unit follows the CR, so the line counts
                CrSeen = false;
                Stopped = !OnLine(LogLine{TooLong ? std::string_view() : std::string_view(Text),
                                          TooLong, LineBegin, LineEnd});
                continue;
            }
            if (AtLineStart) {
                for (; i < data.size() && IsUnit(data, i, '\n'); i += Width)
                    Seg = Segment::Ascii;
                if (i == data.size()) break;
                AtLineStart = false;
                LineBegin = dataAt + i;
                LineBytes = 0;
                TooLong = false;
                Text.clear();
            }
            const size_t end = FindBreak(data, i);
            if (end > i) AddPiece(data, i, end, dataAt, last);
            if (end == data.size()) break;
            i = end + Width;
            if (data[end] == '\n') { // a line feed inside the line ends an 8-bit segment
                AddPiece(data, end, i, dataAt, last);
                Seg = Segment::Ascii;
                continue;
            }
            LineEnd = dataAt + i;
            CrSeen = true;
            AtLineStart = true;
        }
    }

    // Adds data[from, to) to the current line.
    void AddPiece(std::string_view data, size_t from, size_t to, uint64_t dataAt, bool last) {
        const std::string_view piece = data.substr(from, to - from);
        if (Encoding == LogEncoding::EightBit && Seg == Segment::Ascii) {
            const auto high = std::find_if(piece.begin(), piece.end(), [](char c) {
                return static_cast<unsigned char>(c) >= 0x80;
            });
            if (high != piece.end()) {
                const size_t at = from + static_cast<size_t>(high - piece.begin());
                Seg = SegmentIsUtf8(data.substr(at), dataAt + at, last) ? Segment::Utf8
                                                                        : Segment::Windows1252;
            }
        }
        LineBytes += piece.size();
        if (TooLong) return;
        if (LineBytes > MaxLine) {
            TooLong = true;
            Text.clear();
            return;
        }
        AppendLogText(Text, piece, Encoding, Seg == Segment::Windows1252);
    }

    // Whether the 8-bit segment from `ahead` (at file offset `at`) to its line feed is UTF-8.
    bool SegmentIsUtf8(std::string_view ahead, uint64_t at, bool last) {
        size_t checked = 0;
        Utf8Check check = CheckUtf8ToLineFeed(ahead, last, checked);
        if (check != Utf8Check::Open) return check == Utf8Check::Valid;
        std::string window(ahead.substr(checked)); // a sequence the chunk cuts
        at += checked;
        while (check == Utf8Check::Open) {
            const size_t kept = window.size();
            const uint64_t readAt = at + kept;
            const auto want = static_cast<size_t>(std::min<uint64_t>(ChunkBytes, Size - readAt));
            window.resize(kept + want);
            const std::optional<size_t> got =
                want > 0 ? Read(readAt, window.data() + kept, want) : std::optional<size_t>(0);
            if (!got) {
                Failed = true;
                return true;
            }
            window.resize(kept + *got);
            check = CheckUtf8ToLineFeed(window, *got < want || readAt + *got >= Size, checked);
            at += checked;
            window.erase(0, checked);
        }
        return check == Utf8Check::Valid;
    }

    const LogByteReader& Read;
    const uint64_t Size;
    const LogLineHandler& OnLine;
    const size_t MaxLine;
    const size_t ChunkBytes;
    LogEncoding Encoding = LogEncoding::Utf16Le;
    size_t Width = 2;
    bool Failed = false;
    bool Stopped = false;
    bool AtLineStart = true;
    bool CrSeen = false; // the line has its CR; it counts when any unit follows
    bool TooLong = false;
    Segment Seg = Segment::Ascii;
    std::string Text;
    uint64_t LineBegin = 0;
    uint64_t LineEnd = 0;
    uint64_t LineBytes = 0;
};

} // namespace

LogReadEnd ReadLogLines(const LogByteReader& read, uint64_t size, const LogLineHandler& onLine,
                        const LogReadLimits& limits) {
    return LineCutter(read, size, onLine, limits).Run();
}

LogByteReader MemoryReader(std::string_view bytes) {
    return [bytes](uint64_t offset, char* out, size_t size) {
        const size_t from = static_cast<size_t>(std::min<uint64_t>(offset, bytes.size()));
        const size_t n = std::min(size, bytes.size() - from);
        std::memcpy(out, bytes.data() + from, n);
        return std::optional<size_t>(n);
    };
}

LogReadEnd ReadLogLines(std::string_view bytes, const LogLineHandler& onLine,
                        const LogReadLimits& limits) {
    return ReadLogLines(MemoryReader(bytes), bytes.size(), onLine, limits);
}

} // namespace kv
