// SPDX-License-Identifier: GPL-3.0-or-later
// What a measuring session needs from the window that shows it: notices for the user, repaints,
// the one-shot timers by id, and a way back onto the user-interface thread. The session stays
// free of any window toolkit; the measuring view implements this.
#pragma once

#include <functional>
#include <string>

#include "calibration/CalibrationQuestions.h"

namespace kv {

class SessionHost {
public:
    virtual ~SessionHost() = default;

    // --- Any thread ---
    // A device or measuring notice for the user.
    virtual void Notice(const std::string& text) = 0;
    // The readings changed and the window should be drawn again.
    virtual void RequestRepaint() = 0;
    // Runs `task` on the user-interface thread after the command that is running now.
    virtual void Post(std::function<void()> task) = 0;
    // (Re)starts or kills the one-shot timer `id`; its expiry reaches MeasuringSession::OnTimer.
    virtual void StartTimer(int id, unsigned milliseconds) = 0;
    virtual void KillTimer(int id) = 0;

    // --- User-interface thread ---
    // Measuring started or stopped.
    virtual void ShowRunning(bool running) = 0;
    // The automatic gain step moved the input level.
    virtual void ShowInputLevel(int level) = 0;
    // The faders were bound again, or ALC, mute or the extra gain changed: the mixer bar shows
    // them anew (and watches the faders' new poll descriptors).
    virtual void ShowMixer() = 0;
    // The train, measuring time or lift angle changed: their boxes show it again.
    virtual void ShowTrain() = 0;
    virtual void ShowMeasuringTime() = 0;
    virtual void ShowLiftAngle() = 0;
    // The calibration's questions to the user (message boxes and the end dialog).
    virtual CalibrationQuestions& Questions() = 0;
};

} // namespace kv
