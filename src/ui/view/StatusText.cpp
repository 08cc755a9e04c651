// SPDX-License-Identifier: GPL-3.0-or-later
// Texts of the measuring view's status block, readouts and labels.
#include "ui/view/StatusText.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>

namespace kv {

HoursMinutesSeconds SplitDuration(double seconds) {
    HoursMinutesSeconds hms;
    if (!std::isfinite(seconds)) return hms;
    hms.Hours = static_cast<int>(std::clamp(std::trunc(seconds / 3600.0), -2e9, 2e9));
    hms.Minutes = static_cast<int>(std::fmod(seconds, 3600.0) / 60.0);
    hms.Seconds = std::fmod(seconds, 60.0);
    return hms;
}

bool PoorSignal(double signalToNoise) {
    return signalToNoise < PoorSignalToNoise;
}

std::string SignalNoiseText(double signalToNoise, unsigned sampleRate) {
    return FormatC("Signal/Noise %3.1f dB, sample rate %u", 20.0 * std::log10(signalToNoise),
                   sampleRate);
}

std::string FilterText(bool highPassOn, bool forkMode) {
    if (!highPassOn) return "Filter OFF";
    return forkMode ? "Bandpass filter ON" : "High-pass filter ON";
}

std::string DatumOffsetText(double offsetSeconds) {
    if (std::fabs(offsetSeconds) < 1.2)
        return FormatC("%+7.2f ms to datum", offsetSeconds * 1000.0);
    return FormatC("%+9.3f sec to datum", offsetSeconds);
}

std::string AllanText(double allanDeviation, double tau, int allanCount) {
    if (allanCount < 2)
        return FormatC("Allen deviation accumulating. Tau %1.2f secs, N=%d", tau, allanCount);
    return FormatC("Allen deviation %1.2e Tau %1.2f secs, N=%d", allanDeviation, tau, allanCount);
}

std::string DeviationText(double deviation, double tickElapsed, int64_t beatCount) {
    const HoursMinutesSeconds e = SplitDuration(tickElapsed);
    if (std::fabs(deviation) < 1.0)
        return FormatC("Deviation %+.3f ms in %d:%d:%.1f, %" PRId64 " ticks", deviation * 1000.0,
                       e.Hours, e.Minutes, e.Seconds, beatCount);
    return FormatC("Deviation %+.3f secs in %d:%d:%.1f, %" PRId64 " ticks", deviation, e.Hours,
                   e.Minutes, e.Seconds, beatCount);
}

std::string AccumulatedRateText(double accumulatedRate, double measuredTime) {
    // Nothing measured yet: a rate of 0 would read as a perfect watch.
    if (measuredTime <= 0.0) return {};
    const HoursMinutesSeconds t = SplitDuration(measuredTime);
    return FormatC("Accumulated rate %+1.2f s/d over %d:%d:%.1f", accumulatedRate * 86400.0,
                   t.Hours, t.Minutes, t.Seconds);
}

std::string FeedText(double magnification, double waveformZoom, int feed) {
    if (feed >= 1)
        return FormatC("Magnification x %g, Zoom x %g, Tape feed rate 1:%d", magnification,
                       waveformZoom, feed);
    return FormatC("Magnification x %g, Zoom x %g, Tape feed rate %d", magnification, waveformZoom,
                   -feed);
}

std::string LiftAngleText(double liftAngle, EscapementType escapement) {
    switch (escapement) {
    case EscapementType::Lever:
        return FormatC("Lift angle %5.1f\u00b0 (lever)", liftAngle);
    case EscapementType::Coaxial1:
    case EscapementType::Coaxial2:
        return FormatC("Lift angle %5.1f\u00b0 (coaxial)", liftAngle);
    default:
        return {};
    }
}

std::string TrainLineText(double beatPeriod, double rate, bool forkMode) {
    if (forkMode) {
        if (rate != 0.0)
            return FormatC("Fork freq (nominal) %g Hz (actual) %g Hz", 1.0 / beatPeriod,
                           (rate + 1.0) / beatPeriod);
        return FormatC("Fork freq (nominal) %g Hz", 1.0 / beatPeriod);
    }
    if (rate != 0.0)
        return FormatC("Train (nominal) %8.1f vph (actual) %8.1f vph", 3600.0 / beatPeriod,
                       (rate + 1.0) * 3600.0 / beatPeriod);
    return FormatC("Train (nominal) %8.1f vph", 3600.0 / beatPeriod);
}

std::string ProfileText(const std::string& profile) {
    return "Profile: " + (profile.empty() ? std::string("<none>") : profile);
}

std::string MeasuredTimeText(const MeasuredTimeInputs& in) {
    if (in.Position >= 1) {
        // Nothing is measured while the position settles: never a negative time.
        const double shown =
            std::max(0.0, in.MeasuredTime - in.PreviousPositionEnd - in.Stabilization);
        return FormatC("Measured time %1.2f of %1.2f secs in position %d (%s)", shown,
                       in.PositionAveragingTime, in.Position, in.PositionCode.c_str());
    }
    if (in.HistoryEmpty) return "Accumulating rate";
    return FormatC("Measured time %1.2f of %1.2f secs", std::min(in.MeasuringTime, in.HistorySpan),
                   in.MeasuringTime);
}

// Rows: Ns >= 1728000, 172800 <= Ns < 1728000, Ns < 172800; columns in RateMode order.
static const char* const RateFormats[3][5] = {
    {"Cursor %+6.2f s/d. Rate (av) %+6.3f s/d", "Cursor %+6.2f s/d. Rate %+6.2f s/d",
     "Rate (av) %+6.3f s/d", "Rate %+6.2f s/d", "Rate %+6.1f s/d"},
    {"Cursor %+6.2f s/d. Rate (av) %+6.2f s/d", "Cursor %+6.2f s/d. Rate %+6.1f s/d",
     "Rate (av) %+6.2f s/d", "Rate %+6.1f s/d", "Rate %+6.0f s/d"},
    {"Cursor %+6.2f s/d. Rate (av) %+6.1f s/d", "Cursor %+6.2f s/d. Rate %+6.0f s/d",
     "Rate (av) %+6.1f s/d", "Rate %+6.0f s/d", "Rate %+6.0f s/d"},
};

const char* RateFormat(double windowSamples, RateMode mode) {
    const int row = windowSamples >= 1728000.0 ? 0 : windowSamples >= 172800.0 ? 1 : 2;
    return RateFormats[row][static_cast<int>(mode)];
}

// The formats come from the table above; each takes one or two doubles.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
static std::string FormatRate(const char* format, double a) {
    return FormatC(format, a);
}
static std::string FormatRate(const char* format, double a, double b) {
    return FormatC(format, a, b);
}
#pragma GCC diagnostic pop

RateReadout RateReadoutText(const RateReadoutInputs& in) {
    const double rate = in.Rate * 86400.0;
    if (in.ManualCursor) {
        if (in.Rate == 0.0) return {FormatC("Cursor %+6.2f s/d", in.CursorRate), false};
        const RateMode mode = in.Averaging ? RateMode::CursorAveraging : RateMode::Cursor;
        return {FormatRate(RateFormat(in.WindowSamples, mode), in.CursorRate, rate), false};
    }
    const RateMode mode = !in.WindowFull ? RateMode::Incomplete
                          : in.Averaging ? RateMode::CompleteAveraging
                                         : RateMode::Complete;
    return {FormatRate(RateFormat(in.WindowSamples, mode), rate), !in.WindowFull};
}

double CursorRate(double theta, double tapeFactor) {
    return -std::tan(theta) / tapeFactor * 86400.0;
}

std::string AmplitudeText(double amplitude, double liftAngle, bool averaging,
                          EscapementType escapement, bool forkMode) {
    if (forkMode || escapement == EscapementType::Pendulum || !(amplitude > liftAngle)) return {};
    return averaging ? FormatC("Amplitude (av) %.1f\u00b0", amplitude)
                     : FormatC("Amplitude %.0f\u00b0", amplitude);
}

std::string BeatErrorText(double beatError, double beatPeriod, bool averaging, bool stable,
                          bool forkMode) {
    if (forkMode || !stable) return {};
    const double ms = beatError * beatPeriod * 1000.0;
    const double percent = beatError * 100.0;
    return averaging ? FormatC("Beat error (av) %3.2f ms (%3.2f%%)", ms, percent)
                     : FormatC("Beat error %3.2f ms (%3.2f%%)", ms, percent);
}

TopRightTexts TopRightText(bool playingBack, bool recording, const std::string& waveFile,
                           int loopCount, const std::string& title) {
    const std::string playing = "Playing:  ", recordingLabel = "Recording:  ";
    if (playingBack)
        return {playing + waveFile, FormatC("Loop:  %d", loopCount + 1), playing.size()};
    if (recording) return {recordingLabel + waveFile, {}, recordingLabel.size()};
    return {title, {}};
}

std::string StabilizingText(int position, const std::string& code) {
    return FormatC("Stabilizing position %d (%s)", position, code.c_str());
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') --stop;
        lines.push_back(text.substr(start, stop - start));
        start = end + 1;
    }
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

std::string IntervalLabel(double seconds) {
    return FormatC("%3.2f ms", seconds * 1000.0);
}

std::string TapeWidthLabel(double beatPeriod, double magnification) {
    return FormatC("%5.1f ms", beatPeriod * 250.0 / magnification);
}

std::string ClockTimeText(uint64_t utc100ns) {
    const uint64_t ms = utc100ns / 10000;
    const uint64_t s = ms / 1000;
    return FormatC("%02d:%02d:%02d.%03d", static_cast<int>(s / 3600 % 24),
                   static_cast<int>(s / 60 % 60), static_cast<int>(s % 60),
                   static_cast<int>(ms % 1000));
}

std::string ToothNumberLabel(int tooth) {
    return FormatC("%2d", tooth);
}

std::string ToothScaleLabel(double milliseconds) {
    return FormatC("%+2.2f ms", milliseconds);
}

std::string UnlockThresholdText(int threshold) {
    return FormatC("Unlock threshold %d%%", static_cast<int>(threshold * 100.0 / 32767.0 + 0.5));
}

std::string OverrunText(int overruns) {
    return FormatC("df %u", static_cast<unsigned>(overruns));
}

std::string UnpaintedText(int unpainted) {
    return FormatC("dp %u", static_cast<unsigned>(unpainted));
}

} // namespace kv
