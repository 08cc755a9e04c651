// SPDX-License-Identifier: GPL-3.0-or-later
// One reading of a time reference: how far the timestamp clock is from the reference. The
// calibration worker treats every reference of the registry (ReferenceRegistry.h) alike.
#pragma once

#include <functional>
#include <string>

namespace kv {

// Asked before each query or attempt of a reading; false once the reading is no longer wanted
// (the calibration was paused, is finishing or is no longer of this reference's kind).
using StillWanted = std::function<bool()>;

// Where the references are found, copied from the settings under the calibration lock; each
// reference reads its own fields.
struct ReferenceSettings {
    std::string SntpServer;
    int SntpPort = 0;
    std::string GpsPort;
    int GpsBaud = 0;
};

// A run's first reading gathers many queries or sentences, the later ones a few.
enum class ReadingPhase { Start, Running };

class TimeReference {
public:
    virtual ~TimeReference() = default;
    // Called on the calibration worker thread. True with the mean offset in seconds (reference
    // time minus timestamp clock) and an "Ok" status; false with the reason in status, or false
    // with status untouched when stillWanted() ended the reading.
    virtual bool ReadOffset(ReadingPhase phase, const StillWanted& stillWanted,
                            double& offsetSeconds, std::string& status) = 0;
    // User-interface thread, under the calibration lock: gets ready for a run (a receiver opens
    // its port) or ends one. False with the reason in error. A reference with nothing to open
    // is always ready.
    virtual bool Open(const ReferenceSettings& /*settings*/, std::string& /*error*/) {
        return true;
    }
    virtual void Close() {}
    virtual bool IsOpen() const { return false; }
};

} // namespace kv
