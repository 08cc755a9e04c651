// SPDX-License-Identifier: GPL-3.0-or-later
// Typed access to the settings file: integers and doubles as decimal text.
#include "settings/SettingsStore.h"

#include "platform/AtomicFile.h"

namespace kv {

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) {}

bool SettingsStore::Load() {
    const IniFile::LoadResult result = ini_.Load(path_);
    unreadable_ = result == IniFile::LoadResult::Failed;
    lastError_ = ini_.LastError();
    return !unreadable_;
}

bool SettingsStore::Save() {
    if (path_.empty()) {
        lastError_ = "No folder for the settings file (neither XDG_CONFIG_HOME nor HOME is set)";
        return false;
    }
    if (unreadable_) {
        lastError_ = "Not replacing the unreadable settings file " + path_;
        return false;
    }
    const size_t slash = path_.find_last_of('/');
    if (slash != std::string::npos && slash > 0) MakeDirectories(path_.substr(0, slash));
    const bool saved = ini_.Save(path_);
    lastError_ = ini_.LastError();
    return saved;
}

int32_t SettingsStore::GetInt(std::string_view section, std::string_view key,
                              int32_t fallback) const {
    const auto text = ini_.Get(section, key);
    return text ? ParseInt32(*text) : fallback;
}

bool SettingsStore::WriteInt(std::string_view section, std::string_view key, int32_t value) {
    return ini_.Set(section, key, std::to_string(value));
}

std::string SettingsStore::GetText(std::string_view section, std::string_view key,
                                   std::string_view fallback) const {
    auto text = ini_.Get(section, key);
    return text ? std::move(*text) : std::string(fallback);
}

bool SettingsStore::WriteText(std::string_view section, std::string_view key,
                              std::string_view text) {
    return ini_.Set(section, key, text);
}

double SettingsStore::GetDouble(std::string_view section, std::string_view key, DoubleFormat format,
                                double current) const {
    return ParseLeadingDouble(GetText(section, key, FormatDouble(current, format)));
}

bool SettingsStore::WriteDouble(std::string_view section, std::string_view key, DoubleFormat format,
                                double value) {
    return WriteText(section, key, FormatDouble(value, format));
}

int64_t SettingsStore::GetInt64(std::string_view section, std::string_view highKey,
                                std::string_view lowKey, int64_t current) const {
    const int32_t high = GetInt(section, highKey, HighHalf(current));
    const int32_t low = GetInt(section, lowKey, LowHalf(current));
    return JoinHalves(high, low);
}

bool SettingsStore::WriteInt64(std::string_view section, std::string_view highKey,
                               std::string_view lowKey, int64_t value) {
    const bool high = WriteInt(section, highKey, HighHalf(value));
    return WriteInt(section, lowKey, LowHalf(value)) && high;
}

} // namespace kv
