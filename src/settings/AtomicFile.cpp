// POSIX file operations behind the atomic save: open/write/fsync/rename on a temporary file.
#include "settings/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {

std::string Describe(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ": " + std::strerror(err);
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a save must replace: the target of a symbolic link, else the path itself.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    return path;
}

bool WriteAll(int fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Creates a fresh temporary file next to `target`; -1 on failure.
int CreateTemporary(const std::string& target, std::string& tempPath) {
    const std::string folder = ParentOf(target);
    const std::string base = target.substr(target.find_last_of('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder + "/." + base + ".tmp" + std::to_string(getpid()) + "-" +
                   std::to_string(attempt);
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Writes, keeps the old file's permissions and flushes; closes fd in every case.
bool FillTemporary(int fd, const std::string& target, std::string_view text) {
    struct stat old {};
    bool ok = WriteAll(fd, text);
    if (ok && stat(target.c_str(), &old) == 0) ok = fchmod(fd, old.st_mode & 07777) == 0;
    if (ok) ok = fsync(fd) == 0;
    const int saved = errno;
    if (close(fd) != 0 && ok) return false;
    errno = saved;
    return ok;
}

void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

} // namespace

FileReadResult ReadWholeFile(const std::string& path, size_t maxSize, std::string& text,
                             std::string& error) {
    text.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return FileReadResult::Missing;
        error = Describe("Cannot open", path, errno);
        return FileReadResult::Failed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > maxSize) {
        close(fd);
        error = "Not a settings file (not a regular file or too large): " + path;
        return FileReadResult::Failed;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = Describe("Cannot read", path, errno);
        if (n > 0 && text.size() + static_cast<size_t>(n) > maxSize)
            error = "Not a settings file (too large): " + path;
        if (n <= 0 || !error.empty()) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (!error.empty()) text.clear();
    return error.empty() ? FileReadResult::Read : FileReadResult::Failed;
}

bool WriteFileAtomically(const std::string& path, std::string_view text, std::string& error) {
    const std::string target = ResolveTarget(path);
    std::string tempPath;
    const int fd = CreateTemporary(target, tempPath);
    if (fd < 0) {
        error = Describe("Cannot create a file beside", target, errno);
        return false;
    }
    if (!FillTemporary(fd, target, text) || rename(tempPath.c_str(), target.c_str()) != 0) {
        error = Describe("Cannot write", target, errno);
        unlink(tempPath.c_str());
        return false;
    }
    SyncFolder(ParentOf(target));
    return true;
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const std::string parent = ParentOf(path);
    if (parent != path && !MakeDirectories(parent)) return false;
    return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

} // namespace kv
