#include "logview/format/LogFileAccess.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kv {

namespace {

constexpr int64_t kTrimTrigger = 512; // characters above the limit before a trim
constexpr int64_t kTrimTarget = 40;   // characters above the limit kept by a trim
constexpr size_t kChunkBytes = 1 << 16;

bool ReadFully(int fd, char* data, size_t n, int64_t offset) {
    while (n > 0) {
        const ssize_t got = pread(fd, data, n, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        n -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

bool WriteFully(int fd, const char* data, size_t n, int64_t offset) {
    while (n > 0) {
        const ssize_t put = pwrite(fd, data, n, offset);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        n -= static_cast<size_t>(put);
        offset += put;
    }
    return true;
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
        if (!ReadFully(fd, chunk.data(), n, at) || !WriteFully(fd, chunk.data(), n, at - from))
            return false;
        at += static_cast<int64_t>(n);
    }
    return true;
}

} // namespace

LogFileHandle::LogFileHandle(const std::string& path) {
    if (!path.empty()) fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

LogFileHandle::~LogFileHandle() {
    if (fd_ >= 0) close(fd_);
}

TrimResult TrimLogFile(int fd, int64_t maxLogsize) {
    if (maxLogsize <= 0) return TrimResult::Unchanged;
    struct stat st {};
    if (fstat(fd, &st) != 0) return TrimResult::Failed;
    const int64_t characters = st.st_size / 2;
    const int64_t limit = maxLogsize * 1024;
    if (characters <= limit + kTrimTrigger) return TrimResult::Unchanged;
    const int64_t end = characters * 2;
    const std::optional<int64_t> start = FindRecordStart(fd, end - (limit + kTrimTarget) * 2, end);
    if (!start) return TrimResult::Failed;
    if (*start == 0) return TrimResult::Unchanged;
    if (!MoveToStart(fd, *start, end) || ftruncate(fd, end - *start) != 0)
        return TrimResult::Failed;
    return TrimResult::Trimmed;
}

bool AppendToLogFile(int fd, std::string_view bytes) {
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) return false;
    if (WriteFully(fd, bytes.data(), bytes.size(), end)) return true;
    const int cut = ftruncate(fd, end); // best effort; a device file cannot be cut
    static_cast<void>(cut);
    return false;
}

bool ClearLogFile(const std::string& path) {
    const LogFileHandle file(path);
    return file.IsOpen() && ftruncate(file.Fd(), 0) == 0;
}

} // namespace kv
