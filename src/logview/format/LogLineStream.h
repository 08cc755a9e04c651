// SPDX-License-Identifier: GPL-3.0-or-later
// A log's lines read a chunk at a time, so that reading takes one chunk and one line of memory
// whatever the file holds: the encoding from the first bytes (DetectLogEncoding), lines cut as
// LogLines cuts them, UTF-16 decoded, and an 8-bit line that is not UTF-8 read as Windows-1252
// exactly as DecodeLogText reads the whole file.
//
// Free functions that keep no state between calls; any thread may call them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace kv {

// A line longer than this in the file is skipped without being held: a record with its date and
// annotation takes a few hundred bytes, so only a damaged or foreign file has one this long.
inline constexpr size_t MaxLogLineBytes = size_t{1} << 16;

// Bytes read at a time: few reads for a large log, little memory beside its records.
inline constexpr size_t LogChunkBytes = size_t{1} << 18;

struct LogLine {
    std::string_view Text; // UTF-8, without the CR; empty when TooLong
    bool TooLong = false;  // beyond the line limit, skipped
    uint64_t Begin = 0;    // file offset of its first byte, after the line feeds before it
    uint64_t End = 0;      // file offset just past its CR
};

struct LogReadLimits {
    size_t MaxLineBytes = MaxLogLineBytes;
    size_t ChunkBytes = LogChunkBytes; // rounded up to an even count of at least 16
};

// Up to `size` bytes at `offset` into `out`, fewer only at the end of the file; nothing on a read
// error.
using LogByteReader = std::function<std::optional<size_t>(uint64_t offset, char* out, size_t size)>;

// Called for each complete line in file order; false stops the read.
using LogLineHandler = std::function<bool(const LogLine&)>;

enum class LogReadEnd { Finished, Stopped, ReadFailed };

// Reads the first `size` bytes of a log through `read`. A file that grows meanwhile is read up to
// `size`; one cut short ends where its bytes end.
LogReadEnd ReadLogLines(const LogByteReader& read, uint64_t size, const LogLineHandler& onLine,
                        const LogReadLimits& limits = {});

// A reader of bytes in memory, which must outlive it.
LogByteReader MemoryReader(std::string_view bytes);

// ReadLogLines over the bytes of a log in memory.
LogReadEnd ReadLogLines(std::string_view bytes, const LogLineHandler& onLine,
                        const LogReadLimits& limits = {});

} // namespace kv
