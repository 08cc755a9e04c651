// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file reads and crash-safe writes: the settings and profile files, and the log files that
// are cut, trimmed and appended to while the program measures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kv {

enum class FileReadResult { Read, Missing, Failed };

// Reads the whole file. Missing when it does not exist; Failed (with `error`) when it cannot be
// read or is larger than maxSize bytes.
FileReadResult ReadWholeFile(const std::string& path, size_t maxSize, std::string& text,
                             std::string& error);

// Replaces the file's content with `text`: written to a temporary file in the same folder,
// flushed to disk, given the old file's permissions and renamed over the old file, then the
// folder is flushed. A symbolic link is followed, so the file it points to is replaced. On
// failure the old file is untouched, the temporary file is removed and `error` says why.
bool WriteFileAtomically(const std::string& path, std::string_view text, std::string& error);

// Hands out a file's new content piece by piece: sets `piece` to the next one (valid until the
// next call) and returns true, with an empty piece at the end; false when it cannot, errno
// saying why.
using ContentPieces = std::function<bool(std::string_view& piece)>;

// The name the new content is written under before it is renamed over the file.
enum class TemporaryName {
    Unique, // fresh for each replacement, so that two programs saving at once never meet
    Fixed,  // FixedTemporaryPath: cleared first, so crashes leave at most one file behind
};

// As WriteFileAtomically, the content streamed from `next` so that a large file is never held in
// memory whole. On failure the old file is untouched, the temporary file is removed and errno
// says why.
bool ReplaceFileFromPieces(const std::string& path, const ContentPieces& next, TemporaryName name);

// Replaces the file at `path` with the bytes [begin, end) of the open file `source` (which may be
// that same file), copied in pieces as ReplaceFileFromPieces does.
bool ReplaceFileFromRange(const std::string& path, int source, uint64_t begin, uint64_t end,
                          TemporaryName name);

// The fixed temporary file of `path`: hidden, beside the file a symbolic link points to.
std::string FixedTemporaryPath(const std::string& path);

// Removes the fixed temporary file of `path` that a crash during a replacement left behind.
void RemoveLeftoverTemporary(const std::string& path);

// Writes `bytes` at the end of the open file. On a failed or short write (a full disk) the file
// is cut back to its earlier length, so no partial line is left for the next one to run into;
// errno says why.
bool AppendWhole(int fd, std::string_view bytes);

// The folder part of a path: "." for a bare name, "/" for a name in the root.
std::string ParentFolder(const std::string& path);

// Creates the folder and its missing parents (mode 0777 less the umask). True when it exists.
bool MakeDirectories(const std::string& path);

} // namespace kv
