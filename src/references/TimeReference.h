// SPDX-License-Identifier: GPL-3.0-or-later
// One reading of a time reference: how far the timestamp clock is from the reference. The
// calibration worker treats the SNTP server, the GPS receiver and later the local standard alike.
#pragma once

#include <functional>
#include <string>

namespace kv {

// Asked before each query or attempt of a reading; false once the reading is no longer wanted
// (the calibration was paused, is finishing or is no longer of this reference's kind).
using StillWanted = std::function<bool()>;

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
};

} // namespace kv
