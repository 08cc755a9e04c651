// SPDX-License-Identifier: GPL-3.0-or-later
// Tells the two pallets apart by the shape of their ticks, so that the sign of the beat error
// stays with the same pallet when the beat count starts again (Clear, a restart, a new lock, a
// playback's loop). The count's parity alone only says which tick happened to come first.
//
// Each tick's envelope is reduced to a level-free shape; the shapes are averaged per parity of the
// beat count. Once both parities have enough ticks after a new count, they are matched against
// the shapes learnt before: when the pallets now sit on the other parities, the sign turns.
// Pallets that sound alike cannot be told apart and keep the sign the count gives.
//
// A member of AnalysisCore, called on the capture thread under the analysis lock. It allocates
// nothing.
#pragma once

#include <array>
#include <cstdint>

namespace kv {

class PalletIdentity {
public:
    static constexpr int ShapeBins = 16; // envelope sections of a tick's shape
    using Shape = std::array<double, ShapeBins>;

    // The beat count starts again: which parity holds which pallet is learnt anew.
    void RestartCount();
    // The envelope of the tick at `beat`, `count` samples from its unlock. True when the pallets
    // were found on the other parities: signed sums kept so far change their sign.
    bool AddTick(int64_t beat, const int* envelope, int count);
    // +1 or -1: the sign a beat error measured with the even beat as the latest tick takes.
    double Sign() const { return EvenIsFirstPallet ? 1.0 : -1.0; }

private:
    bool Decide();
    int Pallet(int parity) const { return EvenIsFirstPallet ? parity : 1 - parity; }

    std::array<Shape, 2> Current{}; // per parity since the count started
    std::array<int, 2> CurrentTicks{};
    std::array<double, 2> CentroidMean{};   // per parity: of each tick's shape
    std::array<double, 2> CentroidSquare{}; // and of its square, for the scatter
    std::array<Shape, 2> Learnt{};          // per pallet
    bool HaveLearnt = false;
    bool Decided = false; // the parities of this count are matched to the pallets
    bool EvenIsFirstPallet = true;
};

} // namespace kv
