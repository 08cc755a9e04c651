// File operations on the log file. The file is opened once per operation and never locked, so
// other programs (and the log viewer) can read and write it at any time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "logview/format/LogEncoding.h"

namespace kv {

// Larger files are not read whole (by the viewer or a section deletion): they would take
// seconds at every render.
inline constexpr uint64_t MaxLogFileBytes = uint64_t{1} << 30;

// The log file opened for reading and writing: created when missing, never truncated.
class LogFileHandle {
public:
    explicit LogFileHandle(const std::string& path);
    ~LogFileHandle();
    LogFileHandle(const LogFileHandle&) = delete;
    LogFileHandle& operator=(const LogFileHandle&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

enum class TrimResult { Unchanged, Trimmed, Failed };

// The encoding the file is in, from its first bytes; UTF-16 for an empty file. Nothing when they
// cannot be read.
std::optional<LogEncoding> LogFileEncoding(int fd);

// Size limit of maxLogsize units of 1024 characters (none when maxLogsize <= 0), a character
// being a byte of an 8-bit file and two of a UTF-16 one. A file of more than the limit + 512
// characters is cut to its last limit + 40 characters, starting after the first line end among
// them; without a line end there it stays as it is.
TrimResult TrimLogFile(int fd, int64_t maxLogsize, LogEncoding encoding = LogEncoding::Utf16Le);

// Writes `bytes` at the end of the file. On a failed or short write the file is cut back to its
// earlier length, so no partial line is left for the next record to run into.
bool AppendToLogFile(int fd, std::string_view bytes);

// Sets the file's length to 0, creating it when missing.
bool ClearLogFile(const std::string& path);

} // namespace kv
