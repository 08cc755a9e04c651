// SPDX-License-Identifier: GPL-3.0-or-later
// Named profiles of the sixteen analysis parameters, kept in "profiles.ini" in the data folder
// with the semantics of Windows private-profile files: one file access per key, section and key
// names without regard to case, a missing key giving the caller's default.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/AnalysisCore.h"
#include "settings/SettingsIO.h"

namespace kv {

// One INI file read and written one key per call, as GetPrivateProfileIntW,
// GetPrivateProfileStringW and WritePrivateProfileStringW do. Every read looks at the file as it
// is now; every write reads it, changes the one key and replaces it atomically. An empty path, a
// missing file or an unreadable file reads as empty and cannot be written.
class PrivateProfileFile {
public:
    explicit PrivateProfileFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }

    // A decimal integer as strtol reads it (a text without digits gives 0), or the default.
    int32_t GetInt(std::string_view section, std::string_view key, int32_t fallback) const;
    // The text or the default, cut to its first MaxTextLength characters.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view fallback) const;
    // Creates the file and the section as needed. False when the file cannot be read or written
    // (the old file then stays as it was) or the text cannot be stored in one line.
    bool WriteString(std::string_view section, std::string_view key, std::string_view text);
    // Section names in file order, each once, as long as they fit into a list of
    // SectionListLength characters (each name and the list ended by a terminator); names that
    // do not fit whole are left out.
    std::vector<std::string> SectionNames() const;

    static constexpr size_t MaxTextLength = 254;
    static constexpr size_t SectionListLength = 1024;

private:
    std::string path_;
};

// <data folder>/profiles.ini; empty when the data folder cannot be determined.
std::string ProfileFilePath();

// Reads the section `profile` into the analysis parameters; nothing when `profile` is empty. A
// missing key keeps the current value ("%g" keys rounded to six significant digits); every number
// is limited to its key's range (LimitSetting) and a train text that names no train is ignored.
// the analysis lock is held from EscapeWheelTeeth to MaxAmplitude; the train is applied with
// ParseTrain after that.
void LoadProfile(const PrivateProfileFile& file, const std::string& profile, AnalysisCore& core,
                 const ToolBarRefresh& refresh = {});

// Writes the sixteen keys to the section `profile`; nothing when `profile` is empty. True when
// every write succeeded (the program ignores the result).
bool SaveProfile(PrivateProfileFile& file, const std::string& profile,
                 const AnalysisParameters& params);

// One entry of the profile chooser: the profiles in file order, then "<none>".
struct ProfileMenuItem {
    std::string Name;
    bool Checked = false;
    bool None = false;
};

// The chooser's entries: a profile is checked when its name equals `profile` without regard to
// case; "<none>" is checked when `profile` is empty.
std::vector<ProfileMenuItem> ProfileMenu(const PrivateProfileFile& file,
                                         const std::string& profile);

// Applies the chooser's result: `choice` is the 1-based number of the chosen entry, 0 when
// nothing was chosen. A profile sets `profile` to its name as the file spells it and loads it;
// "<none>" empties `profile` and keeps the parameters.
void ApplyProfileChoice(const std::vector<ProfileMenuItem>& menu, int choice, std::string& profile,
                        const PrivateProfileFile& file, AnalysisCore& core,
                        const ToolBarRefresh& refresh = {});

// The chooser command is disabled while a local-standard calibration runs.
bool ProfileChooserEnabled(const AnalysisCore& core);

} // namespace kv
