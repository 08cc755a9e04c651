// SPDX-License-Identifier: GPL-3.0-or-later
// The per-user settings store: named sections of 32-bit integers and texts kept in an INI file
// (ConfigFilePath()). Values live in memory between Load() and Save(); Save() replaces the file
// atomically. One store per process and file: a second store on the same file would overwrite
// the first one's changes when it saves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/IniFile.h"
#include "settings/TextNumbers.h"

namespace kv {

class SettingsStore {
public:
    explicit SettingsStore(std::string path);

    // Reads the file. A missing file is an empty store (true). An unreadable file also leaves
    // the store empty but returns false, and Save() then refuses to replace that file.
    bool Load();
    // Creates the file's folder if needed and writes the store atomically; false with
    // LastError() when the file could not be written (the old file is then intact).
    bool Save();

    const std::string& Path() const { return path_; }
    const std::string& LastError() const { return lastError_; }

    // The four operations of the store; absent keys give the default.
    int32_t GetInt(std::string_view section, std::string_view key, int32_t fallback) const;
    bool WriteInt(std::string_view section, std::string_view key, int32_t value);
    std::string GetText(std::string_view section, std::string_view key,
                        std::string_view fallback) const;
    bool WriteText(std::string_view section, std::string_view key, std::string_view text);

    // A double stored as text in its key's format. The default text is `current` printed in
    // that format, so an absent "%g" key gives `current` rounded to six significant digits.
    double GetDouble(std::string_view section, std::string_view key, DoubleFormat format,
                     double current) const;
    bool WriteDouble(std::string_view section, std::string_view key, DoubleFormat format,
                     double value);

    // A 64-bit integer as two signed 32-bit keys; each half defaults to the current half.
    int64_t GetInt64(std::string_view section, std::string_view highKey, std::string_view lowKey,
                     int64_t current) const;
    bool WriteInt64(std::string_view section, std::string_view highKey, std::string_view lowKey,
                    int64_t value);

    IniFile& Document() { return ini_; }
    const IniFile& Document() const { return ini_; }

private:
    std::string path_;
    IniFile ini_;
    bool unreadable_ = false;
    std::string lastError_;
};

} // namespace kv
