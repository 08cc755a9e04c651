// SPDX-License-Identifier: GPL-3.0-or-later
// The texts of the measuring view: the status block at the bottom left, the three readouts, the
// top-right texts, the stabilizing line and the small labels of the waveform, tape and tooth chart.
// Pure functions of the values they show, so every format and precision rule is testable without
// drawing. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/AnalysisParameters.h"
#include "positions/PositionCodes.h"
#include "text/NumberText.h"

namespace kv {

// Hours, minutes and seconds of a duration: truncate(t/3600), truncate((t mod 3600)/60), t mod 60.
struct HoursMinutesSeconds {
    int Hours = 0;
    int Minutes = 0;
    double Seconds = 0.0;
};
HoursMinutesSeconds SplitDuration(double seconds);

// --- Status block rows (row r has its top at H - r*L1) ---

// Below this signal/noise ratio (about 30 dB) row 1 is drawn red.
inline constexpr double PoorSignalToNoise = 31.6;
bool PoorSignal(double signalToNoise);
std::string SignalNoiseText(double signalToNoise, unsigned sampleRate);             // row 1
std::string FilterText(bool highPassOn, bool forkMode);                             // row 2
std::string DatumOffsetText(double offsetSeconds);                                  // row 3
std::string AllanText(double allanDeviation, double tau, int allanCount);           // row 4
std::string DeviationText(double deviation, double tickElapsed, int64_t beatCount); // row 5
std::string AccumulatedRateText(double accumulatedRate, double measuredTime);       // row 6
std::string FeedText(double magnification, double waveformZoom, int feed);          // row 8
std::string LiftAngleText(double liftAngle, EscapementType escapement);             // row 9
std::string TrainLineText(double beatPeriod, double rate, bool forkMode);           // row 10
std::string ProfileText(const std::string& profile);                                // row 11

// Row 7. Outside a positional run (Position 0) the shown time is the smaller of MeasuringTime and
// the span of the deviation history; during a run it is the time measured in this position since
// it settled (0 while settling).
struct MeasuredTimeInputs {
    int Position = 0;
    bool HistoryEmpty = true;
    double HistorySpan = 0.0; // Time of the last DevMes point minus that of the first
    double MeasuringTime = 0.0;
    double MeasuredTime = 0.0;
    double PreviousPositionEnd = 0.0; // PositionEndTime of the previous position
    double Stabilization = 0.0;
    double PositionAveragingTime = 0.0;
    std::string PositionCode;
};
std::string MeasuredTimeText(const MeasuredTimeInputs& in);

// --- Readouts ---

// The rate formats by measuring-window size Ns (samples) and mode.
enum class RateMode { CursorAveraging, Cursor, CompleteAveraging, Complete, Incomplete };
const char* RateFormat(double windowSamples, RateMode mode);

struct RateReadoutInputs {
    bool ManualCursor = false;
    double CursorRate = 0.0; // s/d
    double Rate = 0.0;       // fraction (s/s)
    bool WindowFull = false;
    bool Averaging = false;
    double WindowSamples = 0.0; // SampleRate * (MeasuringTime or PositionAveragingTime)
};
struct RateReadout {
    std::string Text;
    bool Orange = false; // automatic mode with the measuring window not yet full
};
RateReadout RateReadoutText(const RateReadoutInputs& in);

// Cursor rate in s/d from the disk angle and the tape factor G.
double CursorRate(double theta, double tapeFactor);

// Empty when the row is blank (fork mode, pendulum, amplitude at or below the lift angle).
std::string AmplitudeText(double amplitude, double liftAngle, bool averaging,
                          EscapementType escapement, bool forkMode);
// Empty in fork mode and while the beat error is not stable.
std::string BeatErrorText(double beatError, double beatPeriod, bool averaging, bool stable,
                          bool forkMode);

// Top right: "Playing:" and "Loop:" lines while playing back, "Recording:" while recording, else
// the title. Empty lines are not drawn.
struct TopRightTexts {
    std::string Line0;
    std::string Line1;
    // Where the waveform file's path starts in Line0 (npos: no path), so that a drawing too
    // narrow for it can shorten the folders and keep the file name.
    size_t PathStart = std::string::npos;
};
TopRightTexts TopRightText(bool playingBack, bool recording, const std::string& waveFile,
                           int loopCount, const std::string& title);

std::string StabilizingText(int position, const std::string& code);
inline constexpr const char* FrozenNotice = "Waveform frozen, press 'F' to release";

// Lines of a text separated by CR LF (a lone LF also ends a line).
std::vector<std::string> SplitLines(const std::string& text);

// --- Labels ---

std::string IntervalLabel(double seconds);                           // unlock to drop, "ms"
std::string TapeWidthLabel(double beatPeriod, double magnification); // time across the tape
std::string ClockTimeText(uint64_t utc100ns);                        // "hh:mm:ss.mmm" of day
std::string ToothNumberLabel(int tooth);                             // "%2d"
std::string ToothScaleLabel(double milliseconds);                    // "%+2.2f ms"
std::string UnlockThresholdText(int threshold);                      // percent of full scale
std::string OverrunText(int overruns);                               // "df %u"
std::string UnpaintedText(int unpainted);                            // "dp %u"

} // namespace kv
