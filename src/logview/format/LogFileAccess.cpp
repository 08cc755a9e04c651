#include "logview/format/LogFileAccess.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/FileAccess.h"

namespace kv {

namespace {

constexpr int64_t kTrimTrigger = 512; // characters above the limit before a trim
constexpr int64_t kTrimTarget = 40;   // characters above the limit kept by a trim
constexpr size_t kChunkBytes = 1 << 16;

// Exactly n bytes at offset, or false.
bool ReadFully(int fd, char* data, size_t n, int64_t offset) {
    const std::optional<size_t> got = ReadAt(fd, data, n, static_cast<uint64_t>(offset));
    return got && *got == n;
}

// Byte offset just past the first UTF-16 "\n" in [from, end), with from > 0 and even; 0 when there
// is none, nothing on a read failure.
std::optional<int64_t> FindRecordStart(int fd, int64_t from, int64_t end) {
    std::vector<char> chunk(kChunkBytes);
    for (int64_t at = from; at < end;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(kChunkBytes, end - at));
        if (!ReadFully(fd, chunk.data(), n, at)) return std::nullopt;
        for (size_t i = 0; i + 1 < n; i += 2)
            if (chunk[i] == '\n' && chunk[i + 1] == 0) return at + static_cast<int64_t>(i) + 2;
        at += static_cast<int64_t>(n);
    }
    return 0;
}

// Moves the bytes [from, end) to the start of the file; the source always lies after the target.
bool MoveToStart(int fd, int64_t from, int64_t end) {
    std::vector<char> chunk(kChunkBytes);
    for (int64_t at = from; at < end;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(kChunkBytes, end - at));
        if (!ReadFully(fd, chunk.data(), n, at) ||
            !WriteAt(fd, chunk.data(), n, static_cast<uint64_t>(at - from)))
            return false;
        at += static_cast<int64_t>(n);
    }
    return true;
}

} // namespace

LogFileHandle::LogFileHandle(const std::string& path) {
    if (!path.empty()) fd_ = OpenFile(path, OpenMode::ReadWrite);
}

LogFileHandle::~LogFileHandle() {
    if (fd_ >= 0) CloseFile(fd_);
}

TrimResult TrimLogFile(int fd, int64_t maxLogsize) {
    if (maxLogsize <= 0) return TrimResult::Unchanged;
    const std::optional<FileStatus> status = StatusOf(fd);
    if (!status) return TrimResult::Failed;
    const auto characters = static_cast<int64_t>(status->Size / 2);
    const int64_t limit = maxLogsize * 1024;
    if (characters <= limit + kTrimTrigger) return TrimResult::Unchanged;
    const int64_t end = characters * 2;
    const std::optional<int64_t> start = FindRecordStart(fd, end - (limit + kTrimTarget) * 2, end);
    if (!start) return TrimResult::Failed;
    if (*start == 0) return TrimResult::Unchanged;
    if (!MoveToStart(fd, *start, end) || !TruncateFile(fd, static_cast<uint64_t>(end - *start)))
        return TrimResult::Failed;
    return TrimResult::Trimmed;
}

bool AppendToLogFile(int fd, std::string_view bytes) {
    const std::optional<FileStatus> status = StatusOf(fd);
    if (!status) return false;
    const uint64_t end = status->Size;
    if (WriteAt(fd, bytes.data(), bytes.size(), end)) return true;
    TruncateFile(fd, end); // best effort; a device file cannot be cut
    return false;
}

bool ClearLogFile(const std::string& path) {
    const LogFileHandle file(path);
    return file.IsOpen() && TruncateFile(file.Fd(), 0);
}

} // namespace kv
