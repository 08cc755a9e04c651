// SPDX-License-Identifier: GPL-3.0-or-later
// Persistent settings of the measuring view that live outside the analysis core. Together with
// AnalysisCore::Params, AnalysisCore::Settings and the timestamp clock's trim factor they make up
// the "Settings" section of the settings store.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kv {

inline constexpr int CalibrationSlots = 48;

// A calibration run in progress, stored so that it continues after a restart: the least-squares
// sums, one slot per index, and how much reference time and how many samples the run has
// gathered, pauses excluded.
struct CalibrationSums {
    std::array<double, CalibrationSlots> SumX{};
    std::array<double, CalibrationSlots> SumY{};
    std::array<double, CalibrationSlots> SumXY{};
    std::array<double, CalibrationSlots> SumXX{};
    std::array<int64_t, CalibrationSlots> N{};
    int64_t StartTime = 0;    // 100 ns gathered before the run last continued
    int64_t StartSample = 0;  // samples gathered before the run last continued
    int64_t TotalTime = 0;    // 100 ns up to the latest point
    int64_t TotalSamples = 0; // samples up to the latest point
};

inline constexpr int MicrophoneSource = 4099;
inline constexpr int LineInSource = 4098;

struct AppSettings {
    // Display and measurement options
    int CellFactor = 8;
    int PaperTape = 1;
    int CursorDisk = 1;
    std::string Title;
    int MinInvalTime = 90;
    int Motorised = 0;
    int PositionsToText = 0;
    // Trace points per decimated sample of the waveform view (the analysis draws its trace at
    // it, AnalysisCore::Trace.Zoom); a fork train resets both.
    double DisplayZoom = 0.5;

    // Audio
    std::string SoundDeviceStr;
    std::string SoundDeviceOutStr;
    int Source = MicrophoneSource;

    // Files and logging
    std::string LogFile2;
    std::string TextFile2;
    std::string WaveFile2;
    int LogInterval = 10;
    int MaxLogsize = 0;
    std::string Profile;

    // Time references
    std::string SNTPServer = "pool.ntp.org";
    int SNTPPort = 123;
    std::string GPSPort; // empty: none chosen, the first serial port found is used
    int GPSBaud = 4800;

    // Calibration run
    int CalDebug = 0;
    int CalUpdateInterval = 10000;
    CalibrationSums Cal;
    // The calibration mode word as the file stores it: the calibration engine takes it after a
    // load and puts its own in before a save; in between it may be out of date.
    int StoredCalibrationMode = 0;
};

} // namespace kv
