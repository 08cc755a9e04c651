// SPDX-License-Identifier: GPL-3.0-or-later
// Analysis parameters, trains, escapement types and the sample constants derived from them.
#pragma once

#include <optional>
#include <string>

#include "timebase/SampleClock.h"

namespace kv {

enum class EscapementType : int {
    Lever = 0,
    Coaxial1 = 1,
    Coaxial2 = 2,
    AP1 = 3,
    AP2 = 4,
    Pendulum = 5,
    TuningFork = 6,
};

// Below this beat period the analysis runs in tuning-fork mode.
inline constexpr double ForkModePeriod = 0.021;
// The lift angles the analysis works with, in degrees.
inline constexpr double MinLiftAngle = 20.0;
inline constexpr double MaxLiftAngle = 100.0;
// The longest measuring time, in seconds (about 28 hours): the settings dialog's limit.
inline constexpr double MaxMeasuringTime = 100000.0;
// The most buffers the capture ring takes.
inline constexpr int MaxCaptureBuffers = 40;

// The profile parameters; each field is named by its settings key.
struct AnalysisParameters {
    std::string TickInterval = "18000 vph";
    double LiftAngle = 52.0;
    double MaxAmplitude = 330.0;
    int UnlockThreshold = 1638;
    double PostTickMute = 0.9;
    double PreTickSilence = 0.1;
    int FreeWheel = 4;
    double MeasuringTime = 8.0;
    int Averaging = 0;
    int Coaxial = 0; // EscapementType code
    int EscapeWheelTeeth = 0;
    int Positions = 5;
    std::string Sequence = "PD-PL-PU-DD-DU-PR";
    double PositionAveragingTime = 12.0;
    double Stabilization = 4.0;
    double Tau = 10.0;

    EscapementType Escapement() const { return static_cast<EscapementType>(Coaxial); }
};

// Settings outside the profile that the analysis reads.
struct AnalysisSettings {
    int HPF = 1;
    int AGC = 0;
    int Autostop = 1;
    int DiscardOdd = 0;
    int Centre = 1;
    int MinBuffers = 2;
    unsigned SampleRate = 96000;
    int DuplexAudio = 1;
    double AudioScale = 1.0;
    double Zoom = 1.0;
    int Logging = 0;
    int SlowFeed = 1;
    CalibrationFactors Cal;
    // Unlock times refined to a fraction of a sample for the rate and deviation (0: off).
    int PrecisionTiming = 0;
    // The unlock threshold follows the noise floor and the unlock peaks (0: the set threshold).
    int AutoThreshold = 0;
};

// Constants derived from the beat period and the parameters; recomputed, never stored.
struct DerivedConstants {
    double BeatPeriod = 0.2;
    double SamplesPerBeat = 0.0;
    int MuteSamples = 0;
    int PreSilenceSamples = 0;
    int LiftSamplesMin = 0;
    int LiftSamplesMax = 0;
    int BeatsPerBuffer = 1;
    int BuffersPerBeat = 1;
    double MinMeasureInterval = 0.3;
    int DatumSamples = 0;
    int CaptureBufferCount = MaxCaptureBuffers;
    double SamplesPerBuffer = 52800.0;
    double WaveformDecimation = 1.0;
    int WaveformTraceLength = 0;

    bool ForkMode() const { return BeatPeriod < ForkModePeriod; }
};

// Rounding half away from zero and truncation toward zero, as all sample arithmetic uses.
inline long long RoundHalfAway(double x) {
    return static_cast<long long>(x < 0 ? x - 0.5 : x + 0.5);
}

// --- Train texts ---

enum class TrainTextKind { TooShort, StartAuto, StepAuto, Period, Rejected };

struct TrainText {
    TrainTextKind Kind = TrainTextKind::Rejected;
    double Period = 0.0; // seconds, for Kind == Period
};

// Parses a train text such as "18000 vph", "2.5 Hz", "1 sec", "AUTO".
TrainText ParseTrainText(const std::string& text);
// Formats a beat period as train text: "%g sec", "%g vph" or "%g Hz", a text that parses back
// to the period (to six significant digits).
std::string FormatTrain(double period);

// Parses a measuring-time text ("8", "2 min", "1 hour"); empty text gives nothing. The result is
// at most MaxMeasuringTime and at least beatPeriod/2 + minMeasureInterval.
std::optional<double> ParseMeasuringTime(const std::string& text, double beatPeriod,
                                         double minMeasureInterval);

// --- Derived-value rules ---

int BeatsPerBufferFor(double period);
int BuffersPerBeatFor(double period);
double MinMeasureIntervalFor(double period);
int CaptureBufferCountFor(double period, int minBuffers);
// Limits to MinLiftAngle..MaxLiftAngle.
double ClampLiftAngle(double degrees);

// Fills the sample constants of `d` from its BeatPeriod, the parameters and the sample rate.
void ComputeSampleConstants(DerivedConstants& d, const AnalysisParameters& p, double effectiveRate,
                            int displayWidthPixels);

} // namespace kv
