// SPDX-License-Identifier: GPL-3.0-or-later
// The atomic save: write, flush and rename a temporary file beside the target.
#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/FileAccess.h"

namespace kv {

namespace {

constexpr size_t ReadChunkBytes = 65536;   // a settings file is read in a few pieces at most
constexpr size_t CopyChunkBytes = 1 << 20; // a large file is copied in a few system calls per MB
constexpr const char* FixedSuffix = "-replacing"; // never a process id, as unique names have

std::string Describe(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ": " + std::strerror(err);
}

// The file a save must replace: the target of a symbolic link, else the path itself.
std::string ResolveTarget(const std::string& path) {
    const std::optional<FileStatus> link = LinkStatusOfPath(path);
    if (!link || link->Kind != FileKind::SymbolicLink) return path;
    return ResolvedPath(path).value_or(path);
}

// The hidden name beside `target` that its temporary files start with.
std::string TemporaryStem(const std::string& target) {
    return ParentFolder(target) + "/." + target.substr(target.find_last_of('/') + 1) + ".tmp";
}

// Creates the temporary file for `target`; -1 on failure.
int CreateTemporary(const std::string& target, TemporaryName name, std::string& tempPath) {
    if (name == TemporaryName::Fixed) {
        tempPath = TemporaryStem(target) + FixedSuffix;
        RemoveFile(tempPath); // left by a crash; the exclusive open fails if it stays
        return OpenFile(tempPath, OpenMode::CreateNew);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath =
            TemporaryStem(target) + std::to_string(ProcessId()) + "-" + std::to_string(attempt);
        const int fd = OpenFile(tempPath, OpenMode::CreateNew);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Writes, keeps the old file's permissions and flushes; closes fd in every case.
bool FillTemporary(int fd, const std::string& target, const ContentPieces& next) {
    bool ok = true;
    for (std::string_view piece; ok && (ok = next(piece)) && !piece.empty();)
        ok = WriteAll(fd, piece.data(), piece.size());
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

// The step of a replacement that failed, for WriteFileAtomically's message.
enum class ReplaceStep { Done, Create, Write };

ReplaceStep Replace(const std::string& target, const ContentPieces& next, TemporaryName name) {
    std::string tempPath;
    const int fd = CreateTemporary(target, name, tempPath);
    if (fd < 0) return ReplaceStep::Create;
    if (!FillTemporary(fd, target, next) || !RenameFile(tempPath, target)) {
        const int saved = errno;
        RemoveFile(tempPath);
        errno = saved;
        return ReplaceStep::Write;
    }
    SyncFolder(ParentFolder(target));
    return ReplaceStep::Done;
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
    const ReplaceStep failed = Replace(
        target,
        [text, given = false](std::string_view& piece) mutable {
            piece = std::exchange(given, true) ? std::string_view() : text;
            return true;
        },
        TemporaryName::Unique);
    if (failed == ReplaceStep::Create)
        error = Describe("Cannot create a file beside", target, errno);
    else if (failed == ReplaceStep::Write)
        error = Describe("Cannot write", target, errno);
    return failed == ReplaceStep::Done;
}

bool ReplaceFileFromPieces(const std::string& path, const ContentPieces& next, TemporaryName name) {
    return Replace(ResolveTarget(path), next, name) == ReplaceStep::Done;
}

bool ReplaceFileFromRange(const std::string& path, int source, uint64_t begin, uint64_t end,
                          TemporaryName name) {
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(CopyChunkBytes, end - begin)));
    uint64_t at = begin;
    return ReplaceFileFromPieces(
        path,
        [&](std::string_view& piece) {
            const auto n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), end - at));
            const std::optional<size_t> got = ReadAt(source, buffer.data(), n, at);
            if (got && *got < n) errno = ENODATA; // the source was cut short meanwhile
            if (!got || *got < n) return false;
            piece = std::string_view(buffer.data(), n);
            at += n;
            return true;
        },
        name);
}

std::string FixedTemporaryPath(const std::string& path) {
    return TemporaryStem(ResolveTarget(path)) + FixedSuffix;
}

void RemoveLeftoverTemporary(const std::string& path) {
    RemoveFile(FixedTemporaryPath(path));
}

bool AppendWhole(int fd, std::string_view bytes) {
    const std::optional<FileStatus> status = StatusOf(fd);
    if (!status) return false;
    if (WriteAt(fd, bytes.data(), bytes.size(), status->Size)) return true;
    const int saved = errno;
    TruncateFile(fd, status->Size); // best effort; a device file cannot be cut
    errno = saved;
    return false;
}

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (const std::optional<FileStatus> status = StatusOfPath(path))
        return status->Kind == FileKind::Directory;
    const std::string parent = ParentFolder(path);
    if (parent != path && !MakeDirectories(parent)) return false;
    return MakeFolder(path) || errno == EEXIST;
}

} // namespace kv
