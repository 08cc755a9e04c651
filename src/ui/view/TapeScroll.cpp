// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/view/TapeScroll.h"

#include <algorithm>

#include "analysis/AnalysisCore.h"

namespace kv {

int TapeScroll::Offset(const AnalysisCore& core) const {
    const TapeState& tape = core.Tape;
    if (tape.Restarts != SeenRestarts) return 0;
    if (core.Detector.BufferCounter == SeenBuffers) return Base;
    const long long written = static_cast<long long>(tape.TapeWriteIndex) - SeenWrite;
    const long long offset = Base != 0 || Held ? Base + written : Base;
    return static_cast<int>(std::clamp<long long>(offset, 0, tape.TapeWriteIndex));
}

void TapeScroll::Set(const AnalysisCore& core, int offset) {
    Base = offset;
    SeenWrite = core.Tape.TapeWriteIndex;
    SeenBuffers = core.Detector.BufferCounter;
    SeenRestarts = core.Tape.Restarts;
}

void TapeScroll::Hold(const AnalysisCore& core, bool held) {
    Set(core, Offset(core));
    Held = held;
}

} // namespace kv
