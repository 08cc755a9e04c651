// SPDX-License-Identifier: GPL-3.0-or-later
// Files and texts for the log viewer tests: a temporary folder, raw file bytes, UTF-16 and 8-bit
// log texts made here rather than by the code under test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace kv::test {

// UTF-16LE bytes of an ASCII text.
inline std::string Wide(std::string_view ascii) {
    std::string out;
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// The ASCII text of UTF-16LE bytes whose high bytes are all zero ("" otherwise).
inline std::string Narrow(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        if (bytes[i + 1] != '\0') return "";
        out += bytes[i];
    }
    return out;
}

// The CRLF-terminated lines of a text.
inline std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return std::move(bytes).str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class LogTempDir {
public:
    LogTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kv-logmodel-XXXXXX").string();
        Path = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~LogTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    LogTempDir(const LogTempDir&) = delete;
    LogTempDir& operator=(const LogTempDir&) = delete;
    std::string File(const std::string& name) const { return Path + "/" + name; }
    std::string Path;
};

} // namespace kv::test
