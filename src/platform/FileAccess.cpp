// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileAccess.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {

constexpr mode_t NewFileMode = 0666;   // read and write for all, less the umask
constexpr mode_t NewFolderMode = 0777; // likewise, with search
constexpr mode_t PermissionBits = 07777;

int OpenFlags(OpenMode mode) {
    switch (mode) {
    case OpenMode::Read:
        return O_RDONLY | O_NONBLOCK;
    case OpenMode::ReadWrite:
        return O_RDWR | O_CREAT;
    case OpenMode::CreateNew:
        return O_WRONLY | O_CREAT | O_EXCL;
    }
    return O_RDONLY;
}

FileStatus StatusFrom(const struct stat& info) {
    FileStatus status;
    if (S_ISREG(info.st_mode))
        status.Kind = FileKind::Regular;
    else if (S_ISDIR(info.st_mode))
        status.Kind = FileKind::Directory;
    else if (S_ISLNK(info.st_mode))
        status.Kind = FileKind::SymbolicLink;
    status.Size = static_cast<uint64_t>(info.st_size);
    status.Permissions = static_cast<unsigned>(info.st_mode & PermissionBits);
    return status;
}

} // namespace

int OpenFile(const std::string& path, OpenMode mode) {
    return ::open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, NewFileMode);
}

bool CloseFile(int fd) {
    return ::close(fd) == 0;
}

ScopedFile::~ScopedFile() {
    if (Fd >= 0) ::close(Fd);
}

std::optional<size_t> ReadAt(int fd, void* out, size_t size, uint64_t offset) {
    auto* bytes = static_cast<char*>(out);
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, bytes + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break; // the file ends (or shrank while we read it)
        got += static_cast<size_t>(n);
    }
    return got;
}

bool WriteAt(int fd, const void* data, size_t size, uint64_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
        const ssize_t n =
            ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO; // took nothing: say so rather than leave an older errno
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO; // took nothing: say so rather than leave an older errno
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::optional<FileStatus> StatusOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return std::nullopt;
    return StatusFrom(info);
}

bool TruncateFile(int fd, uint64_t length) {
    return ::ftruncate(fd, static_cast<off_t>(length)) == 0;
}

bool SetPermissions(int fd, unsigned permissions) {
    return ::fchmod(fd, static_cast<mode_t>(permissions) & PermissionBits) == 0;
}

bool SyncFile(int fd) {
    return ::fsync(fd) == 0;
}

std::optional<FileStatus> StatusOfPath(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return StatusFrom(info);
}

std::optional<FileStatus> LinkStatusOfPath(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return StatusFrom(info);
}

std::optional<std::string> ResolvedPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
    return std::string(resolved);
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), NewFolderMode) == 0;
}

void SyncFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

unsigned ProcessId() {
    return static_cast<unsigned>(::getpid());
}

} // namespace kv
