// SPDX-License-Identifier: GPL-3.0-or-later
// How far the view has scrolled the paper tape back from its newest entry. The view keeps it; the
// analysis only writes entries. A scrolled tape, and one being marked, stays on its rows while
// new entries are written: the offset grows by every entry written since it was last set, and
// once buffers have been processed since then it is at most the write index. Clearing the tape
// or a new run (TapeState::Restarts) brings it back to the newest entries.
#pragma once

#include <cstdint>

namespace kv {

class AnalysisCore;

class TapeScroll {
public:
    // All three are called with the analysis lock held.
    int Offset(const AnalysisCore& core) const;
    // An offset of 0 follows the newest entries again, unless the scroll is held.
    void Set(const AnalysisCore& core, int offset);
    // While held (a marking drag) even an offset of 0 keeps its rows.
    void Hold(const AnalysisCore& core, bool held);

private:
    int Base = 0; // the offset when last set
    bool Held = false;
    // The tape as it was when the offset was last set.
    int SeenWrite = 0;
    int64_t SeenBuffers = 0;
    uint32_t SeenRestarts = 0;
};

} // namespace kv
