// SPDX-License-Identifier: GPL-3.0-or-later
// Train texts and the rules that derive sample constants from the beat period.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "analysis/AnalysisParameters.h"
#include "text/NumberText.h"

namespace kv {

namespace {

// From this frequency up a "Hz" text counts beats per second, below it oscillations.
constexpr double BeatFrequencyFrom = 100.0;
// Fast trains put several beats in a buffer: a fork's fill 0.1 s, others up to 24 ms.
constexpr double ForkBufferSeconds = 0.1;
constexpr double FastTrainBufferSeconds = 0.024;
// Slow trains split a beat into buffers of about a quarter second.
constexpr double SplitBeatsFrom = 0.25;
constexpr double BuffersPerSecondOfSlowBeat = 4.0;
// Measuring intervals span at least 0.1 s less half a beat, and at least one and a half beats.
constexpr double ShortestMeasureSpan = 0.1;
constexpr double MeasureBeatsAtLeast = 1.5;
// The capture ring holds about four seconds of sound.
constexpr double RingSeconds = 4.0;

std::string UpperCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Reads the leading decimal number of a trimmed text; no digits gives 0. Only decimal notation
// counts: hexadecimal, "inf" and "nan" are not numbers here.
double LeadingNumber(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return 0.0;
    const size_t last = text.find_first_not_of("0123456789.eE+-", first);
    return ParseLeadingDouble(
        std::string_view(text).substr(first, last == std::string::npos ? last : last - first));
}

struct TrainUnit {
    const char* Name;
    double (*Period)(double value);
};

double VibrationsPerHour(double v) {
    return 3600.0 / v;
}
double VibrationsPerSecond(double v) {
    return 1.0 / v;
}
double VibrationsPerMinute(double v) {
    return 60.0 / v;
}
// Below 100 a frequency names the oscillation (two beats a cycle); from 100 up, beats per second.
double Frequency(double v) {
    return v >= BeatFrequencyFrom ? 1.0 / v : 0.5 / v;
}
double Seconds(double v) {
    return v;
}
double Minutes(double v) {
    return 60.0 * v;
}

constexpr TrainUnit TrainUnits[] = {
    {"VPH", VibrationsPerHour}, {"VPS", VibrationsPerSecond}, {"VPM", VibrationsPerMinute},
    {"HZ", Frequency},          {"CPS", Frequency},           {"SEC", Seconds},
    {"MIN", Minutes},
};

// The text of a period in the unit of its range.
std::string TrainTextOf(double period) {
    if (period > 1.0) return FormatC("%g sec", period);
    // A frequency text below 100 Hz would read back as an oscillation (half the period): such
    // trains are written in vph.
    const std::string hertz = FormatC("%g", 1.0 / period);
    if (period > ForkModePeriod || ParseLeadingDouble(hertz) < BeatFrequencyFrom)
        return FormatC("%g vph", 3600.0 / period);
    return hertz + " Hz";
}

} // namespace

TrainText ParseTrainText(const std::string& text) {
    if (text.size() < 3) return {TrainTextKind::TooShort, 0.0};
    std::string upper = UpperCase(text);
    if (upper.rfind("TAUTO", 0) == 0) return {TrainTextKind::StepAuto, 0.0};
    if (upper.rfind("AUTO", 0) == 0) return {TrainTextKind::StartAuto, 0.0};

    double (*toPeriod)(double) = VibrationsPerHour;
    size_t cut = std::string::npos;
    for (const TrainUnit& unit : TrainUnits) {
        cut = upper.find(unit.Name);
        if (cut != std::string::npos) {
            toPeriod = unit.Period;
            break;
        }
    }
    if (cut == std::string::npos)
        cut = upper.find("AUTO"); // "TAUTO" also ends in "AUTO"; vph is assumed either way
    if (cut != std::string::npos && cut >= 1 && upper.compare(cut - 1, 5, "TAUTO") == 0) --cut;

    double period = toPeriod(LeadingNumber(upper.substr(0, cut)));
    if (!(period <= 60.0 && period >= 0.001)) return {TrainTextKind::Rejected, 0.0};
    return {TrainTextKind::Period, period};
}

std::string FormatTrain(double period) {
    // Six digits may carry a period across the edge of its unit's range (0.0100000007 s gives
    // "360000 vph", which reads back as 0.01 s, "100 Hz"): the text of the rounded period is the
    // one that reads back to itself.
    const std::string first = TrainTextOf(period);
    const TrainText back = ParseTrainText(first);
    return back.Kind == TrainTextKind::Period ? TrainTextOf(back.Period) : first;
}

std::optional<double> ParseMeasuringTime(const std::string& text, double beatPeriod,
                                         double minMeasureInterval) {
    if (text.empty()) return std::nullopt;
    std::string upper = UpperCase(text);
    double scale = 1.0;
    static const std::pair<const char*, double> units[] = {
        {"SEC", 1.0}, {"MIN", 60.0}, {"HOUR", 3600.0}};
    for (const auto& [name, factor] : units) {
        size_t at = upper.find(name);
        if (at != std::string::npos) {
            upper.resize(at);
            scale = factor;
            break;
        }
    }
    const double seconds = std::min(LeadingNumber(upper) * scale, MaxMeasuringTime);
    return std::max(seconds, beatPeriod / 2.0 + minMeasureInterval);
}

int BeatsPerBufferFor(double period) {
    if (period < ForkModePeriod) return static_cast<int>(RoundHalfAway(ForkBufferSeconds / period));
    if (period <= FastTrainBufferSeconds)
        return static_cast<int>(RoundHalfAway(FastTrainBufferSeconds / period));
    return 1;
}

int BuffersPerBeatFor(double period) {
    return period >= SplitBeatsFrom
               ? static_cast<int>(RoundHalfAway(BuffersPerSecondOfSlowBeat * period))
               : 1;
}

double MinMeasureIntervalFor(double period) {
    return std::max(ShortestMeasureSpan - period / 2.0, MeasureBeatsAtLeast * period);
}

int CaptureBufferCountFor(double period, int minBuffers) {
    double buffersIn4s =
        BuffersPerBeatFor(period) * RingSeconds / period / BeatsPerBufferFor(period);
    long long count = std::max<long long>(RoundHalfAway(buffersIn4s), minBuffers);
    return static_cast<int>(std::min<long long>(count, MaxCaptureBuffers));
}

double ClampLiftAngle(double degrees) {
    return std::clamp(degrees, MinLiftAngle, MaxLiftAngle);
}

void ComputeSampleConstants(DerivedConstants& d, const AnalysisParameters& p, double effectiveRate,
                            int displayWidthPixels) {
    constexpr double HalfPi = 1.5707963267948966;
    d.SamplesPerBeat = effectiveRate * d.BeatPeriod;
    d.MuteSamples = static_cast<int>(d.SamplesPerBeat * p.PostTickMute);
    d.PreSilenceSamples = static_cast<int>((d.SamplesPerBeat - d.MuteSamples) * p.PreTickSilence);
    d.LiftSamplesMin = static_cast<int>(
        std::asin(std::min(1.0, p.LiftAngle / 2.0 / p.MaxAmplitude)) / HalfPi * d.SamplesPerBeat);
    d.LiftSamplesMax = static_cast<int>(std::asin(std::min(1.0, p.LiftAngle / 2.0 / 60.0)) /
                                        HalfPi * d.SamplesPerBeat);
    d.SamplesPerBuffer = effectiveRate * d.BeatPeriod * d.BeatsPerBuffer / d.BuffersPerBeat;
    d.WaveformDecimation = std::max(1.0, d.SamplesPerBeat / std::max(1, displayWidthPixels));
    d.WaveformTraceLength =
        static_cast<int>(RoundHalfAway(d.SamplesPerBeat / d.WaveformDecimation));
}

} // namespace kv
