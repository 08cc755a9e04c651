// SPDX-License-Identifier: GPL-3.0-or-later
// The calibration mode word (stored as "Calibrating"): which calibration runs and in which phase.
// The local standard is the exact value LocalCalibrationMode; a reference run sets the bit of its
// kind in the registry, 1 << id.
#pragma once

#include "references/ReferenceRegistry.h"

namespace kv {

// Mode word value of a local-standard calibration.
inline constexpr int LocalCalibrationMode = 16;

} // namespace kv

namespace kv::calflags {

inline constexpr int None = 0;
inline constexpr int ReferenceKinds = (1 << ReferenceRegistry::MaxKinds) - 1;
inline constexpr int LowBits = 0xFF;
inline constexpr int Paused = 0x100;     // measuring was stopped during the run
inline constexpr int StartPhase = 0x200; // the next good reading steps the clock
inline constexpr int Finishing = 0x400;  // the user asked to finish the run
static_assert((ReferenceKinds & LocalCalibrationMode) == 0, "the kinds' bits stay below 16");

inline constexpr int ReferenceBit(ReferenceId id) {
    return 1 << id;
}
inline bool IsReferenceRun(int flags) {
    return (flags & ReferenceKinds) != 0;
}
// A reference run whose worker may read: neither paused nor finishing.
inline bool IsActiveReferenceRun(int flags) {
    return IsReferenceRun(flags) && (flags & (Paused | Finishing)) == 0;
}
// The kind of a reference run among `kinds` registered, or -1 when the word names none, more than
// one or one not registered (a damaged or foreign settings file).
inline ReferenceId ReferenceOf(int flags, int kinds) {
    const int bits = flags & ReferenceKinds;
    for (ReferenceId id = 0; id < kinds; ++id)
        if (bits == ReferenceBit(id)) return id;
    return -1;
}

} // namespace kv::calflags
