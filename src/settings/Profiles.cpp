// SPDX-License-Identifier: GPL-3.0-or-later
// Profiles: the private-profile file operations and the load and save orders of a profile.
#include "settings/Profiles.h"

#include <mutex>

#include "settings/IniFile.h"
#include "settings/SettingRanges.h"
#include "settings/SettingsPaths.h"
#include "settings/TextNumbers.h"

namespace kv {

namespace {

// The first `count` characters (UTF-8 code points) of `text`.
std::string FirstCharacters(std::string text, size_t count) {
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (starts && characters++ == count) {
            text.resize(i);
            break;
        }
    }
    return text;
}

size_t CharacterCount(std::string_view text) {
    size_t count = 0;
    for (char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

IniFile Read(const std::string& path) {
    IniFile ini;
    if (!path.empty()) ini.Load(path);
    return ini;
}

// Numbers are limited to their key's range as they are read.
double GetDouble(const PrivateProfileFile& f, const std::string& s, const char* key, double now) {
    const double loaded =
        ParseLeadingDouble(f.GetString(s, key, FormatDouble(now, DoubleFormat::General)));
    return LimitSetting(key, loaded, now);
}
int GetInt(const PrivateProfileFile& f, const std::string& s, const char* key, int now) {
    return LimitSetting(key, f.GetInt(s, key, now), now);
}

// Steps 1 to 13 of a profile load, under the analysis lock.
void LoadLockedPart(const PrivateProfileFile& f, const std::string& s, AnalysisCore& core,
                    const ToolBarRefresh& refresh) {
    AnalysisParameters& p = core.Params;
    p.EscapeWheelTeeth = GetInt(f, s, "EscapeWheelTeeth", p.EscapeWheelTeeth);
    p.Positions = GetInt(f, s, "Positions", p.Positions);
    p.Averaging = GetInt(f, s, "Averaging", p.Averaging);
    p.UnlockThreshold = GetInt(f, s, "UnlockThreshold", p.UnlockThreshold);
    p.Coaxial = GetInt(f, s, "Coaxial", p.Coaxial);
    core.RecomputeConstants();
    p.FreeWheel = GetInt(f, s, "FreeWheel", p.FreeWheel);
    p.Stabilization = GetDouble(f, s, "Stabilization", p.Stabilization);
    p.Tau = GetDouble(f, s, "Tau", p.Tau);
    p.PositionAveragingTime = GetDouble(f, s, "PositionAveragingTime", p.PositionAveragingTime);
    p.Sequence = f.GetString(s, "Sequence", p.Sequence);
    p.LiftAngle = GetDouble(f, s, "LiftAngle", p.LiftAngle);
    core.RecomputeConstants();
    if (refresh.LiftAngle) refresh.LiftAngle();
    p.MeasuringTime = GetDouble(f, s, "MeasuringTime", p.MeasuringTime);
    if (refresh.MeasuringTime) refresh.MeasuringTime();
    core.ResetReference();
    p.MaxAmplitude = GetDouble(f, s, "MaxAmplitude", p.MaxAmplitude);
}

} // namespace

int32_t PrivateProfileFile::GetInt(std::string_view section, std::string_view key,
                                   int32_t fallback) const {
    const auto text = Read(path_).Get(section, key);
    return text ? ParseInt32(*text) : fallback;
}

std::string PrivateProfileFile::GetString(std::string_view section, std::string_view key,
                                          std::string_view fallback) const {
    const auto text = Read(path_).Get(section, key);
    return FirstCharacters(text ? *text : std::string(fallback), MaxTextLength);
}

bool PrivateProfileFile::WriteString(std::string_view section, std::string_view key,
                                     std::string_view text) {
    if (path_.empty()) return false;
    IniFile ini;
    if (ini.Load(path_) == IniFile::LoadResult::Failed) return false;
    return ini.Set(section, key, text) && ini.Save(path_);
}

std::vector<std::string> PrivateProfileFile::SectionNames() const {
    std::vector<std::string> names = Read(path_).SectionNames();
    size_t used = 1; // the terminator of the list
    for (size_t i = 0; i < names.size(); ++i) {
        used += CharacterCount(names[i]) + 1;
        if (used > SectionListLength) {
            names.resize(i);
            break;
        }
    }
    return names;
}

std::string ProfileFilePath() {
    const std::string folder = DataFolder();
    return folder.empty() ? std::string() : folder + "profiles.ini";
}

void LoadProfile(const PrivateProfileFile& file, const std::string& profile, AnalysisCore& core,
                 const ToolBarRefresh& refresh) {
    if (profile.empty()) return;
    {
        const auto lock = core.HoldAnalysis();
        LoadLockedPart(file, profile, core, refresh);
    }
    AnalysisParameters& p = core.Params;
    const std::string train = file.GetString(profile, "TickInterval", p.TickInterval);
    if (ParseTrainText(train).Kind != TrainTextKind::Rejected) { // else the train stays
        {
            const auto lock = core.HoldAnalysis();
            p.TickInterval = train;
        }
        core.ParseTrain(train);
    }
    const double mute = GetDouble(file, profile, "PostTickMute", p.PostTickMute);
    const double silence = GetDouble(file, profile, "PreTickSilence", p.PreTickSilence);
    {
        const auto lock = core.HoldAnalysis();
        p.PostTickMute = mute;
        p.PreTickSilence = silence;
    }
    core.RecomputeConstants();
}

bool SaveProfile(PrivateProfileFile& file, const std::string& profile,
                 const AnalysisParameters& p) {
    if (profile.empty()) return false;
    auto g = [](double v) { return FormatDouble(v, DoubleFormat::General); };
    auto d = [](int v) { return std::to_string(v); };
    const std::pair<const char*, std::string> keys[] = {
        {"TickInterval", p.TickInterval},
        {"LiftAngle", g(p.LiftAngle)},
        {"MeasuringTime", g(p.MeasuringTime)},
        {"EscapeWheelTeeth", d(p.EscapeWheelTeeth)},
        {"Positions", d(p.Positions)},
        {"Coaxial", d(p.Coaxial)},
        {"FreeWheel", d(p.FreeWheel)},
        {"PositionAveragingTime", g(p.PositionAveragingTime)},
        {"Stabilization", g(p.Stabilization)},
        {"Tau", g(p.Tau)},
        {"Sequence", p.Sequence},
        {"Averaging", d(p.Averaging)},
        {"UnlockThreshold", d(p.UnlockThreshold)},
        {"PostTickMute", g(p.PostTickMute)},
        {"PreTickSilence", g(p.PreTickSilence)},
        {"MaxAmplitude", g(p.MaxAmplitude)},
    };
    bool all = true;
    for (const auto& [key, text] : keys)
        all = file.WriteString(profile, key, text) && all;
    return all;
}

std::vector<ProfileMenuItem> ProfileMenu(const PrivateProfileFile& file,
                                         const std::string& profile) {
    std::vector<ProfileMenuItem> menu;
    const std::string selected = FoldCase(profile);
    for (std::string& name : file.SectionNames()) {
        const bool checked = !profile.empty() && FoldCase(name) == selected;
        menu.push_back({std::move(name), checked, false});
    }
    menu.push_back({"<none>", profile.empty(), true});
    return menu;
}

void ApplyProfileChoice(const std::vector<ProfileMenuItem>& menu, int choice, std::string& profile,
                        const PrivateProfileFile& file, AnalysisCore& core,
                        const ToolBarRefresh& refresh) {
    if (choice < 1 || static_cast<size_t>(choice) > menu.size()) return;
    const ProfileMenuItem& item = menu[static_cast<size_t>(choice) - 1];
    if (item.None) {
        profile.clear();
        return;
    }
    profile = item.Name;
    LoadProfile(file, profile, core, refresh);
}

bool ProfileChooserEnabled(const AnalysisCore& core) {
    return !core.LocalStandardRun;
}

} // namespace kv
