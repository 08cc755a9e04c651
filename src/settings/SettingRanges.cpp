// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SettingRanges.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/AnalysisParameters.h"

namespace kv {

namespace {

enum class OutOfRange { Clamp, KeepCurrent };

struct Range {
    const char* Key;
    double Low, High;
    OutOfRange Rule = OutOfRange::Clamp;
};

constexpr double IntMax = std::numeric_limits<int32_t>::max();
constexpr double FullScale = 32767.0;                                 // the largest 16-bit sample
constexpr double MostRowsPerEntry = -10.0, MostEntriesPerRow = 100.0; // the feed commands' ends

const Range Ranges[] = {
    // Analysis parameters, as the settings dialog accepts them (percentages as fractions)
    {"LiftAngle", MinLiftAngle, MaxLiftAngle},
    {"MeasuringTime", 0.0, MaxMeasuringTime},
    {"MaxAmplitude", 30.0, 400.0},
    {"UnlockThreshold", 1.0, FullScale}, // the threshold commands' limits
    {"PostTickMute", 0.0, 0.99},
    {"PreTickSilence", 0.0, 0.99},
    {"FreeWheel", 0.0, 100.0},
    {"Coaxial", 0.0, static_cast<double>(EscapementType::TuningFork), OutOfRange::KeepCurrent},
    {"EscapeWheelTeeth", 0.0, 120.0},
    {"Positions", 1.0, 6.0},
    {"PositionAveragingTime", 1.0, MaxMeasuringTime},
    {"Stabilization", 0.0, 300.0},
    {"Tau", 0.2, 1000.0},
    // Display: "Large fonts" and normal; the magnification, zoom and feed commands' ends
    {"CellFactor", 5.0, 8.0},
    {"Zoom", 0.25, 8.0},
    {"DisplayZoom", 0.5, 10.0},
    {"SlowFeed", MostRowsPerEntry, MostEntriesPerRow},
    // Audio: the mixer bar's extra gain; the capture ring's 40 buffers; rates a card may offer
    {"AudioScale", 0.25, 128.0},
    {"MinBuffers", 2.0, 40.0},
    {"SampleRate", 1000.0, 768000.0, OutOfRange::KeepCurrent},
    // Calibration factors: outside them the sample constants of the analysis lose their meaning
    {"CalFactor22", 0.5, 2.0, OutOfRange::KeepCurrent},
    {"CalFactor44", 0.5, 2.0, OutOfRange::KeepCurrent},
    {"CalFactor48", 0.5, 2.0, OutOfRange::KeepCurrent},
    {"CalFactor96", 0.5, 2.0, OutOfRange::KeepCurrent},
    // Logging and the time references
    {"LogInterval", 0.0, 86400.0},
    {"MaxLogsize", 0.0, IntMax},
    {"SNTPPort", 1.0, 65535.0, OutOfRange::KeepCurrent},
    {"GPSBaud", 1.0, 4000000.0, OutOfRange::KeepCurrent},
};

const Range* FindRange(std::string_view key) {
    for (const Range& r : Ranges)
        if (key == r.Key) return &r;
    return nullptr;
}

} // namespace

double LimitSetting(std::string_view key, double loaded, double current) {
    const Range* r = FindRange(key);
    if (r == nullptr || (loaded >= r->Low && loaded <= r->High)) return loaded;
    if (r->Rule == OutOfRange::KeepCurrent || std::isnan(loaded)) return current;
    return std::clamp(loaded, r->Low, r->High);
}

int32_t LimitSetting(std::string_view key, int32_t loaded, int32_t current) {
    // Every limit is a whole number, so the limited value is one too.
    return static_cast<int32_t>(
        LimitSetting(key, static_cast<double>(loaded), static_cast<double>(current)));
}

} // namespace kv
