// SPDX-License-Identifier: GPL-3.0-or-later
// What the calibration engine shares with the rest of the program: its lock, the mode word and the
// status text of a network or GPS run.
//
// Threads: the user-interface thread (commands, timers, the settings' load and save, the repaint)
// and the calibration worker take the lock; the capture thread never does. Whoever needs both
// this lock and the analysis core's AnalysisLock takes this one first. The lock is recursive: a
// holder may call operations that take it again. The mode word changes only under the lock; it is
// atomic because the command states read it without the lock, and each change also sets the
// analysis core's LocalStandardRun flag, which the capture thread reads. The status text is read
// and written under the lock. A local-standard run's text is the analysis's own
// (MeasurementState::LocalCalibrationText), rebuilt by the capture thread under AnalysisLock.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "analysis/AnalysisCore.h"

namespace kv {

class CalibrationState {
public:
    using Hold = std::unique_lock<std::recursive_mutex>;

    // `localStandardRun`: the analysis core's flag that follows the mode word.
    explicit CalibrationState(std::atomic<bool>& localStandardRun)
        : LocalStandardRun(localStandardRun) {}
    CalibrationState(const CalibrationState&) = delete;
    CalibrationState& operator=(const CalibrationState&) = delete;

    [[nodiscard]] Hold HoldLock() const { return Hold(Lock); }
    [[nodiscard]] Hold TryHoldLock() const { return Hold(Lock, std::try_to_lock); }

    // The mode word (calibration/CalibrationFlags.h); any thread may read it.
    int Mode() const { return Word; }
    // Under the lock.
    void SetMode(int mode);

    // Under the lock.
    std::string& Text() { return StatusText; }
    const std::string& Text() const { return StatusText; }
    // Under both locks: the text the display shows, the analysis's during a local-standard run.
    const std::string& ShownText(const AnalysisCore& core) const;

private:
    mutable std::recursive_mutex Lock;
    std::atomic<int> Word{0};
    std::atomic<bool>& LocalStandardRun;
    std::string StatusText;
};

} // namespace kv
