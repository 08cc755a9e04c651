// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/AnalyzeProgress.h"

#include <algorithm>
#include <cmath>

#include "text/NumberText.h"

namespace kv {

namespace {

constexpr const char* Prefix = "kestrovane-analyze: ";
constexpr int SecondsPerMinute = 60;
constexpr int SecondsPerHour = 3600;
constexpr double Hundred = 100.0;

} // namespace

AnalyzeProgress::AnalyzeProgress(bool terminal, bool quiet, std::optional<uint64_t> totalSamples,
                                 unsigned sampleRate)
    : Enabled(terminal && !quiet), Total(totalSamples), Rate(std::max(1u, sampleRate)) {
    if (Total && *Total == 0) Total.reset();
}

std::string AnalyzeProgress::Duration(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(std::max(0.0, seconds)));
    const long long hours = whole / SecondsPerHour;
    const long long minutes = whole / SecondsPerMinute % SecondsPerMinute;
    const long long rest = whole % SecondsPerMinute;
    if (hours > 0) return FormatC("%lld:%02lld:%02lld", hours, minutes, rest);
    return FormatC("%lld:%02lld", minutes, rest);
}

std::string AnalyzeProgress::Text(uint64_t done, double elapsed) const {
    if (!Total) return Prefix + Duration(static_cast<double>(done) / Rate) + " of sound analysed";
    const double share = std::min(1.0, static_cast<double>(done) / static_cast<double>(*Total));
    const int percent = static_cast<int>(std::floor(share * Hundred));
    std::string text = Prefix + std::to_string(percent) + "% analysed";
    if (done > 0 && share < 1.0) text += ", " + Duration(elapsed * (1.0 - share) / share) + " left";
    return text;
}

std::string AnalyzeProgress::Draw(const std::string& text) {
    std::string out = "\r" + text;
    if (text.size() < ShownLength) out += std::string(ShownLength - text.size(), ' ');
    ShownLength = text.size();
    EverShown = OnScreen = true;
    return out;
}

std::string AnalyzeProgress::Update(uint64_t done, double elapsed) {
    if (!Enabled || elapsed < DelaySeconds || elapsed - LastDraw < RefreshSeconds) return {};
    LastDraw = elapsed;
    return Draw(Text(done, elapsed));
}

std::string AnalyzeProgress::Clear() {
    if (!OnScreen) return {};
    OnScreen = false;
    const std::string blank = "\r" + std::string(ShownLength, ' ') + "\r";
    ShownLength = 0;
    return blank;
}

std::string AnalyzeProgress::Finish(uint64_t done, double elapsed) {
    if (!EverShown) return {};
    const std::string what =
        Total ? std::string("100%") : Duration(static_cast<double>(done) / Rate) + " of sound";
    std::string out = Draw(Prefix + what + " analysed in " + Duration(elapsed)) + "\n";
    OnScreen = false;
    ShownLength = 0;
    return out;
}

} // namespace kv
