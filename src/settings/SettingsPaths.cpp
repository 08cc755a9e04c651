// SPDX-License-Identifier: GPL-3.0-or-later
// XDG folders from the environment and unique document names.
#include "settings/SettingsPaths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/AtomicFile.h"
#include "platform/FileAccess.h"

namespace kv {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// An XDG base folder: the variable when it holds an absolute path, else HOME + fallback.
std::string BaseFolder(const char* variable, const char* homeRelative) {
    const std::string value = Environment(variable);
    if (!value.empty() && value.front() == '/') return value;
    const std::string home = Environment("HOME");
    return home.empty() ? std::string() : home + "/" + homeRelative;
}

std::string ConfigHome() {
    return BaseFolder("XDG_CONFIG_HOME", ".config");
}

// A user-dirs value: quotes removed, a leading $HOME replaced; empty unless absolute.
std::string ExpandUserDir(std::string value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = Environment("HOME") + value.substr(5);
    return !value.empty() && value.front() == '/' ? value : std::string();
}

// The XDG_DOCUMENTS_DIR entry of user-dirs.dirs, or empty.
std::string DocumentsFromUserDirs() {
    const std::string config = ConfigHome();
    if (config.empty()) return {};
    std::string text, error;
    if (ReadWholeFile(config + "/user-dirs.dirs", 1 << 20, text, error) != FileReadResult::Read)
        return {};
    const std::string key = "XDG_DOCUMENTS_DIR=";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.rfind(key, 0) == 0) return ExpandUserDir(line.substr(key.size()));
        start = end + 1;
    }
    return {};
}

} // namespace

std::string ConfigFilePath() {
    const std::string config = ConfigHome();
    return config.empty() ? std::string() : config + "/VexlorDemo/Kestrovane.ini";
}

std::string DataFolder() {
    const std::string data = BaseFolder("XDG_DATA_HOME", ".local/share");
    return data.empty() ? std::string() : data + "/Vexlor/";
}

bool EnsureDataFolder() {
    const std::string folder = DataFolder();
    return !folder.empty() && MakeDirectories(folder.substr(0, folder.size() - 1));
}

std::string DocumentsFolder() {
    std::string folder = ExpandUserDir(Environment("XDG_DOCUMENTS_DIR"));
    if (folder.empty()) folder = DocumentsFromUserDirs();
    if (folder.empty() && !Environment("HOME").empty()) folder = Environment("HOME") + "/Documents";
    return folder;
}

std::string UniqueDocumentName(std::string folder, const std::string& extension) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty() || !MakeDirectories(folder)) return {};
    unsigned unique = (static_cast<unsigned>(std::time(nullptr)) ^ ProcessId()) & 0xFFFF;
    for (int attempt = 0; attempt < 0x10000; ++attempt, unique = (unique + 1) & 0xFFFF) {
        if (unique == 0) continue;
        char name[32];
        std::snprintf(name, sizeof name, "/Vex%X.", unique);
        const std::string path = folder + name + extension;
        // Claiming the name proves that no file has it; the empty file is removed again.
        const int fd = OpenFile(path, OpenMode::CreateNew);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return {};
        CloseFile(fd);
        RemoveFile(path);
        return path;
    }
    return {};
}

} // namespace kv
