// Whole-file reads and crash-safe whole-file writes for the settings and profile files.
#pragma once

#include <cstddef>
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

// Creates the folder and its missing parents (mode 0777 less the umask). True when it exists.
bool MakeDirectories(const std::string& path);

} // namespace kv
