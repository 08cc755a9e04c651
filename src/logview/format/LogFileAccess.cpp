// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/format/LogFileAccess.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/FileAccess.h"

namespace kv {

namespace {

constexpr int64_t kTrimTrigger = 512; // characters above the limit before a trim
constexpr int64_t kTrimTarget = 40;   // characters above the limit kept by a trim
constexpr size_t kChunkBytes = 1 << 16;
constexpr size_t kEncodingProbeBytes = 10; // what the reader's encoding rule looks at

size_t CharacterBytes(LogEncoding encoding) {
    return encoding == LogEncoding::Utf16Le ? 2 : 1;
}

// Exactly n bytes at offset, or false with errno set.
bool ReadFully(int fd, char* data, size_t n, int64_t offset) {
    const std::optional<size_t> got = ReadAt(fd, data, n, static_cast<uint64_t>(offset));
    if (got && *got < n) errno = ENODATA; // the file was cut short meanwhile
    return got && *got == n;
}

// Whether the character of `width` bytes at p is a line feed.
bool IsLineFeed(const char* p, size_t width) {
    return p[0] == '\n' && (width == 1 || p[1] == 0);
}

// Byte offset just past the first "\n" character in [from, end), with from > 0 and a multiple of
// the character width; 0 when there is none, nothing on a read failure.
std::optional<int64_t> FindRecordStart(int fd, int64_t from, int64_t end, size_t width) {
    std::vector<char> chunk(kChunkBytes);
    for (int64_t at = from; at < end;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(kChunkBytes, end - at));
        if (!ReadFully(fd, chunk.data(), n, at)) return std::nullopt;
        for (size_t i = 0; i + width <= n; i += width)
            if (IsLineFeed(&chunk[i], width)) return at + static_cast<int64_t>(i + width);
        at += static_cast<int64_t>(n);
    }
    return 0;
}

} // namespace

LogFileHandle::LogFileHandle(const std::string& path) : path_(path) {
    Reopen();
}

bool LogFileHandle::Reopen() {
    if (fd_ >= 0) CloseFile(fd_);
    fd_ = path_.empty() ? -1 : OpenFile(path_, OpenMode::ReadWrite);
    if (path_.empty()) errno = ENOENT;
    return fd_ >= 0;
}

LogFileHandle::~LogFileHandle() {
    if (fd_ >= 0) CloseFile(fd_);
}

std::optional<LogEncoding> LogFileEncoding(int fd) {
    char probe[kEncodingProbeBytes];
    const std::optional<size_t> got = ReadAt(fd, probe, sizeof probe, 0);
    if (!got) return std::nullopt;
    return DetectLogEncoding(std::string_view(probe, *got));
}

TrimResult TrimLogFile(LogFileHandle& file, int64_t maxLogsize, LogEncoding encoding) {
    if (maxLogsize <= 0) return TrimResult::Unchanged;
    const std::optional<FileStatus> status = StatusOf(file.Fd());
    if (!status) return TrimResult::Failed;
    if (status->Kind != FileKind::Regular) return TrimResult::Unchanged; // a device is not cut
    const auto width = static_cast<int64_t>(CharacterBytes(encoding));
    const auto characters = static_cast<int64_t>(status->Size) / width;
    const int64_t limit = maxLogsize * 1024;
    if (characters <= limit + kTrimTrigger) return TrimResult::Unchanged;
    const int64_t end = characters * width;
    const std::optional<int64_t> start = FindRecordStart(
        file.Fd(), end - (limit + kTrimTarget) * width, end, CharacterBytes(encoding));
    if (!start) return TrimResult::Failed;
    if (*start == 0) return TrimResult::Unchanged;
    if (!ReplaceFileFromRange(file.Path(), file.Fd(), static_cast<uint64_t>(*start),
                              static_cast<uint64_t>(end), TemporaryName::Fixed))
        return TrimResult::Failed;
    file.Reopen();
    return TrimResult::Trimmed;
}

bool ClearLogFile(const std::string& path) {
    const LogFileHandle file(path);
    return file.IsOpen() && TruncateFile(file.Fd(), 0);
}

} // namespace kv
