// SPDX-License-Identifier: GPL-3.0-or-later
// Files through the operating system, for what the standard streams cannot do: exclusive creation,
// reads and writes at an offset, flushing to disk, permissions. A file is an open descriptor (an
// int, -1 for none). Failures return false / nothing and leave errno set, as the C library does,
// so callers word their own messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kv {

enum class OpenMode {
    Read,      // read only; a FIFO or device node does not block the open
    ReadWrite, // read and write, created when missing, never truncated
    CreateNew, // write only, a new file: fails with EEXIST when the name exists
};

enum class FileKind { Regular, Directory, SymbolicLink, Other };

struct FileStatus {
    FileKind Kind = FileKind::Other;
    uint64_t Size = 0;
    unsigned Permissions = 0; // the mode's permission bits (07777)
};

// A descriptor or -1. Files are created with mode 0666 less the umask; never inherited by
// programs this one starts.
int OpenFile(const std::string& path, OpenMode mode);
// Closes the descriptor; false when the system reports that the data may not have been written.
bool CloseFile(int fd);

// Closes a descriptor when leaving scope.
class ScopedFile {
public:
    explicit ScopedFile(int fd) : Fd(fd) {}
    ~ScopedFile();
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    int Get() const { return Fd; }

private:
    int Fd;
};

// Reads up to `size` bytes at `offset`, fewer only where the file ends; nothing on a read error.
std::optional<size_t> ReadAt(int fd, void* out, size_t size, uint64_t offset);
// Writes all `size` bytes at `offset`.
bool WriteAt(int fd, const void* data, size_t size, uint64_t offset);
// Writes all `size` bytes at the file's current position and moves it on.
bool WriteAll(int fd, const void* data, size_t size);
std::optional<FileStatus> StatusOf(int fd);
bool TruncateFile(int fd, uint64_t length);
bool SetPermissions(int fd, unsigned permissions);
// Flushes the file's data and size to the disk.
bool SyncFile(int fd);

// The status of what `path` names, following symbolic links; nothing when it cannot be seen.
std::optional<FileStatus> StatusOfPath(const std::string& path);
// The same without following a symbolic link at the end of `path`.
std::optional<FileStatus> LinkStatusOfPath(const std::string& path);
// The absolute path with every symbolic link resolved; nothing when a part is missing.
std::optional<std::string> ResolvedPath(const std::string& path);
bool RemoveFile(const std::string& path);
// Replaces `to` atomically.
bool RenameFile(const std::string& from, const std::string& to);
// One folder, mode 0777 less the umask; its parent must exist.
bool MakeFolder(const std::string& path);
// Flushes a folder's entries (a rename or a new file in it) to the disk; best effort.
void SyncFolder(const std::string& path);

// For names that must not collide with those another running copy of the program makes.
unsigned ProcessId();

} // namespace kv
