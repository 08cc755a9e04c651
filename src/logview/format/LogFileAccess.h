// SPDX-License-Identifier: GPL-3.0-or-later
// File operations on the log file. The file is opened once per operation and never locked, so
// other programs (and the log viewer) can read and write it at any time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "logview/format/LogEncoding.h"

namespace kv {

// Larger files are not read whole (by the viewer or a section deletion): they would take
// seconds at every render.
inline constexpr uint64_t MaxLogFileBytes = uint64_t{1} << 30;

// The log file opened for reading and writing: created when missing, never truncated. When it
// cannot be opened, errno says why.
class LogFileHandle {
public:
    explicit LogFileHandle(const std::string& path);
    ~LogFileHandle();
    LogFileHandle(const LogFileHandle&) = delete;
    LogFileHandle& operator=(const LogFileHandle&) = delete;

    // Opens the path again: the file now there, after a trim replaced it or its folder was made.
    bool Reopen();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
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
// The kept part is copied to a temporary file beside the log (FixedTemporaryPath, whose leftover
// of a crash is removed first), which is then renamed over it: the file on disk is at every
// instant the old log or the trimmed one. A program holding the log open keeps the old file
// until it opens it again. After Trimmed the handle is reopened on the new file (check IsOpen);
// after Failed the log is as it was and errno says why.
TrimResult TrimLogFile(LogFileHandle& file, int64_t maxLogsize,
                       LogEncoding encoding = LogEncoding::Utf16Le);

// Sets the file's length to 0, creating it when missing.
bool ClearLogFile(const std::string& path);

} // namespace kv
