// The atomic save: write, flush and rename a temporary file beside the target.
#include "settings/AtomicFile.h"

#include <cerrno>
#include <cstring>

#include "platform/FileAccess.h"

namespace kv {

namespace {

constexpr size_t ReadChunkBytes = 65536; // a settings file is read in a few pieces at most

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
    const std::optional<FileStatus> link = LinkStatusOfPath(path);
    if (!link || link->Kind != FileKind::SymbolicLink) return path;
    return ResolvedPath(path).value_or(path);
}

// Creates a fresh temporary file next to `target`; -1 on failure.
int CreateTemporary(const std::string& target, std::string& tempPath) {
    const std::string folder = ParentOf(target);
    const std::string base = target.substr(target.find_last_of('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder + "/." + base + ".tmp" + std::to_string(ProcessId()) + "-" +
                   std::to_string(attempt);
        const int fd = OpenFile(tempPath, OpenMode::CreateNew);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Writes, keeps the old file's permissions and flushes; closes fd in every case.
bool FillTemporary(int fd, const std::string& target, std::string_view text) {
    bool ok = WriteAll(fd, text.data(), text.size());
    if (ok) {
        const std::optional<FileStatus> old = StatusOfPath(target);
        if (old) ok = SetPermissions(fd, old->Permissions);
    }
    if (ok) ok = SyncFile(fd);
    const int saved = errno;
    if (!CloseFile(fd) && ok) return false;
    errno = saved;
    return ok;
}

} // namespace

FileReadResult ReadWholeFile(const std::string& path, size_t maxSize, std::string& text,
                             std::string& error) {
    text.clear();
    const ScopedFile file(OpenFile(path, OpenMode::Read));
    if (file.Get() < 0) {
        if (errno == ENOENT) return FileReadResult::Missing;
        error = Describe("Cannot open", path, errno);
        return FileReadResult::Failed;
    }
    const std::optional<FileStatus> status = StatusOf(file.Get());
    if (!status || status->Kind != FileKind::Regular || status->Size > maxSize) {
        error = "Not a settings file (not a regular file or too large): " + path;
        return FileReadResult::Failed;
    }
    char buffer[ReadChunkBytes];
    for (uint64_t offset = 0;; offset += sizeof buffer) {
        const std::optional<size_t> got = ReadAt(file.Get(), buffer, sizeof buffer, offset);
        if (!got) error = Describe("Cannot read", path, errno);
        if (got && text.size() + *got > maxSize) error = "Not a settings file (too large): " + path;
        if (!error.empty()) {
            text.clear();
            return FileReadResult::Failed;
        }
        text.append(buffer, *got);
        if (*got < sizeof buffer) return FileReadResult::Read; // the file ends here
    }
}

bool WriteFileAtomically(const std::string& path, std::string_view text, std::string& error) {
    const std::string target = ResolveTarget(path);
    std::string tempPath;
    const int fd = CreateTemporary(target, tempPath);
    if (fd < 0) {
        error = Describe("Cannot create a file beside", target, errno);
        return false;
    }
    if (!FillTemporary(fd, target, text) || !RenameFile(tempPath, target)) {
        error = Describe("Cannot write", target, errno);
        RemoveFile(tempPath);
        return false;
    }
    SyncFolder(ParentOf(target));
    return true;
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (const std::optional<FileStatus> status = StatusOfPath(path))
        return status->Kind == FileKind::Directory;
    const std::string parent = ParentOf(path);
    if (parent != path && !MakeDirectories(parent)) return false;
    return MakeFolder(path) || errno == EEXIST;
}

} // namespace kv
