// SPDX-License-Identifier: GPL-3.0-or-later
// Loading and saving the "Settings" section of the settings store, and the default file names.
//
// The section is spread over the analysis core (Params, Settings), AppSettings (with the
// calibration mode word the calibration engine hands over) and the timestamp clock's trim
// factor. Load and save follow a fixed key order; the store file keeps that order for keys it did
// not hold before.
#pragma once

#include <functional>

#include "analysis/AnalysisCore.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "timebase/SampleClock.h"

namespace kv {

inline constexpr const char* SettingsSection = "Settings";

// Tool-bar boxes to refresh after a load changed the value they show; empty ones are skipped.
struct ToolBarRefresh {
    std::function<void()> LiftAngle;
    std::function<void()> MeasuringTime;
};

// Reads the whole section; an absent key keeps the value in memory (a "%g" key rounded to six
// significant digits). Every number is limited to its key's range as it is read (LimitSetting);
// a TickInterval that names no train is ignored; PerformanceScaleFactor is applied only strictly
// between 0.95 and 1.05; the 32-bit CalFactor of older versions is the default of the four
// calibration factors; CalUpdateInterval is never read; a file without the calibration run's
// totals (earlier versions) takes them from its start totals or, when those are zero under
// stored points, from the latest point the sums place. Runs before capture starts.
void LoadSettings(const SettingsStore& store, AnalysisCore& core, AppSettings& app,
                  TimestampClock& clock, const ToolBarRefresh& refresh = {});

// Writes the section into the store and saves the store file. While a profile is selected the
// sixteen analysis-parameter keys are not written. While a calibration may run, the caller holds
// the calibration lock (CalibrationEngine::HoldForSaving), which keeps the mode word, the sums and
// the trim factor still. Returns the result of the file save.
bool SaveSettings(SettingsStore& store, const AnalysisCore& core, const AppSettings& app,
                  const TimestampClock& clock);

// Fills an empty LogFile2 and TextFile2 with a fresh "Vex<hex>.log" / ".txt" name in the
// documents folder (created if missing) and an empty WaveFile2 with <data folder>/cal.wav.
// A name that cannot be determined stays empty.
void MakeDefaultFileNames(AppSettings& app);

} // namespace kv
