// SPDX-License-Identifier: GPL-3.0-or-later
// Measuring as the session's parts see it: the waveform transport stops it for a new source and
// starts it again on the recording, and saves the waveform file the user chose. The measuring
// session implements it.
//
// Threads: user-interface thread only.
#pragma once

namespace kv {

class MeasuringControl {
public:
    virtual bool MeasurementRunning() const = 0;
    virtual void StartMeasurement() = 0;
    // Before a new source (another recording, or live input after a playback): a positional run
    // is given up and measuring stops. True when measuring was running.
    virtual bool StopForNewSource() = 0;
    virtual void SaveSettings() = 0;

protected:
    ~MeasuringControl() = default;
};

} // namespace kv
