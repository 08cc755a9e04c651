// SPDX-License-Identifier: GPL-3.0-or-later
// The services the analysis core asks of its owner: the measuring loop, tool-bar boxes, timers,
// the capture object, recording and playback, the monitor output, the log writer and tick
// notification. The view implements them; the command-line analyser implements the few it needs.
// All are called at most once per buffer or per command, never from the per-sample loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

// Timer ids the analysis, the calibration and the measuring loop ask their host for; every timer
// is one-shot. The view's own timers (ui/view/ViewTimers.h) use other ids.
enum TimerId : int {
    TimerAutoStop = 100,
    TimerTrainDetect = 102,
    TimerCentre = 104,
    TimerCalibrationCycle = 106,
    TimerPerBuffer = 107,
    TimerClearCalibrationText = 108,
};

// Modes of a log record request.
enum LogMode : int { LogNothing = -1, LogPeriodic = 0, LogForced = 1, LogTimeOnly = 2 };

class AnalysisHost {
public:
    virtual ~AnalysisHost() = default;

    // Measuring loop: stop and start a measurement (the core's Running flag follows).
    virtual void StopMeasurement() = 0;
    virtual void StartMeasurement() = 0;

    // Tool-bar boxes showing the train, measuring time and lift angle.
    virtual void RefreshTrainBox() {}
    virtual void RefreshMeasuringTimeBox() {}
    virtual void RefreshLiftAngleBox() {}
    // A fork train drew its trace at `zoom` from now on: a display zoom the owner keeps follows.
    virtual void TraceZoomReset(double /*zoom*/) {}

    // One-shot timers by id, and the throttled repaint.
    virtual void StartTimer(int id, unsigned milliseconds) = 0;
    virtual void KillTimer(int id) = 0;
    virtual void RequestRepaint() {}

    // Capture and output objects.
    virtual void SetCaptureRingSize(int) {}
    virtual void SetCaptureSamplesPerBuffer(double) {}
    virtual void SetCaptureBufferAdjust(double) {}
    virtual void SetOutputRingSize(int) {}

    // Capture thread, per buffer: recording or playback substitution of the raw samples, then
    // the monitor copy. The substitution returns the index of the first sample that does not
    // continue the sound before it (a looping playback's wrap), or a negative value.
    virtual int64_t RecordOrPlayBuffer(int16_t* /*samples*/, size_t /*count*/) { return -1; }
    virtual void MonitorCopy(const int16_t* /*samples*/, size_t /*count*/) {}

    // Capture thread: a log record request after each buffer.
    virtual void WriteLogRecord(int /*mode*/) {}

    // Capture thread: tick notification to an external listener, if one was found at Run.
    virtual void NotifyTick(uint32_t /*milliseconds*/, uint32_t /*beatCountLow*/) {}
};

// A host whose measuring-loop services do nothing, where no view runs: benchmarks and fuzzing.
class IdleAnalysisHost : public AnalysisHost {
public:
    void StopMeasurement() override {}
    void StartMeasurement() override {}
    void StartTimer(int, unsigned) override {}
    void KillTimer(int) override {}
};

} // namespace kv
