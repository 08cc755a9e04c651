// SPDX-License-Identifier: GPL-3.0-or-later
// The calibration mode word `Calibrating`: which calibration runs and in which phase.
#pragma once

namespace kv::calflags {

inline constexpr int None = 0;
inline constexpr int LocalStandard = 16; // the exact value, not a bit
inline constexpr int Sntp = 0x1;
inline constexpr int Gps = 0x2;
inline constexpr int ReferenceKinds = Sntp | Gps;
inline constexpr int LowBits = 0xFF;
inline constexpr int Paused = 0x100;     // measuring was stopped during the run
inline constexpr int StartPhase = 0x200; // the next good reading steps the clock
inline constexpr int Finishing = 0x400;  // the user asked to finish the run

inline bool IsReferenceRun(int flags) {
    return (flags & ReferenceKinds) != 0;
}
// A reference run whose worker may read: neither paused nor finishing.
inline bool IsActiveReferenceRun(int flags) {
    return IsReferenceRun(flags) && (flags & (Paused | Finishing)) == 0;
}

} // namespace kv::calflags
