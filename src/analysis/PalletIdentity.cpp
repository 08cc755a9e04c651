// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/PalletIdentity.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// Ticks of each parity averaged before a new count is matched: enough to average out the noise of
// single ticks, few enough that the sign is settled within two seconds at 18000 vph.
constexpr int TicksToDecide = 8;
// The running mean then follows the latest ticks of this many, so a slow change of level or
// position does not leave the learnt shapes behind.
constexpr int TicksAveraged = 32;
// The swapped matching must fit this much better than the kept one: pallets that sound alike
// give two nearly equal fits, and noise alone must not turn the sign.
constexpr double SwapMargin = 0.6;
// The pallets' mean centroids tell them apart on their own when they differ by this many
// standard errors: the order then holds from one start to the next.
constexpr double CentroidSignificance = 3.0;

// The envelope in ShapeBins sections, each its share of the whole: independent of the level.
bool ShapeOf(const int* envelope, int count, PalletIdentity::Shape& shape) {
    shape.fill(0.0);
    if (count < PalletIdentity::ShapeBins) return false;
    double total = 0.0;
    for (int i = 0; i < count; ++i) {
        const double v = std::abs(envelope[i]);
        shape[static_cast<size_t>(int64_t{i} * PalletIdentity::ShapeBins / count)] += v;
        total += v;
    }
    if (total <= 0.0) return false;
    for (double& s : shape)
        s /= total;
    return true;
}

double Distance(const PalletIdentity::Shape& a, const PalletIdentity::Shape& b) {
    double d = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        d += std::fabs(a[i] - b[i]);
    return d;
}

// Where a shape's sound lies on average, in sections from the unlock.
double Centroid(const PalletIdentity::Shape& shape) {
    double c = 0.0;
    for (size_t i = 0; i < shape.size(); ++i)
        c += static_cast<double>(i) * shape[i];
    return c;
}

} // namespace

void PalletIdentity::RestartCount() {
    CurrentTicks = {};
    Decided = false;
}

bool PalletIdentity::AddTick(int64_t beat, const int* envelope, int count) {
    Shape shape;
    if (!ShapeOf(envelope, count, shape)) return false;
    const int parity = static_cast<int>(beat & 1);
    int& n = CurrentTicks[static_cast<size_t>(parity)];
    n = std::min(n + 1, TicksAveraged);
    Shape& mean = Current[static_cast<size_t>(parity)];
    for (size_t i = 0; i < shape.size(); ++i)
        mean[i] += (shape[i] - mean[i]) / n;
    const double centroid = Centroid(shape);
    CentroidMean[static_cast<size_t>(parity)] +=
        (centroid - CentroidMean[static_cast<size_t>(parity)]) / n;
    CentroidSquare[static_cast<size_t>(parity)] +=
        (centroid * centroid - CentroidSquare[static_cast<size_t>(parity)]) / n;
    const bool swapped = !Decided && CurrentTicks[0] >= TicksToDecide &&
                         CurrentTicks[1] >= TicksToDecide && Decide();
    if (Decided)
        for (int p = 0; p < 2; ++p)
            Learnt[static_cast<size_t>(Pallet(p))] = Current[static_cast<size_t>(p)];
    return swapped;
}

// Matches this count's parities to the pallets; true when they changed places. The first pallet
// is the one whose sound comes earlier in its tick, so the sign is the same at every start of the
// program; pallets too alike to tell that way for sure are matched to the shapes learnt before.
bool PalletIdentity::Decide() {
    Decided = true;
    const bool wasEvenFirst = EvenIsFirstPallet;
    double variance = 0.0; // of the difference of the two mean centroids
    for (size_t p = 0; p < 2; ++p)
        variance +=
            std::max(CentroidSquare[p] - CentroidMean[p] * CentroidMean[p], 0.0) / CurrentTicks[p];
    const double difference = CentroidMean[0] - CentroidMean[1];
    if (difference * difference > CentroidSignificance * CentroidSignificance * variance) {
        EvenIsFirstPallet = difference < 0.0;
        HaveLearnt = true;
        return EvenIsFirstPallet != wasEvenFirst;
    }
    if (!HaveLearnt) { // alike so far: the count's parity stands until the shapes say more
        HaveLearnt = true;
        return false;
    }
    const double kept = Distance(Current[0], Learnt[static_cast<size_t>(Pallet(0))]) +
                        Distance(Current[1], Learnt[static_cast<size_t>(Pallet(1))]);
    const double swapped = Distance(Current[0], Learnt[static_cast<size_t>(Pallet(1))]) +
                           Distance(Current[1], Learnt[static_cast<size_t>(Pallet(0))]);
    if (swapped >= SwapMargin * kept) return false;
    EvenIsFirstPallet = !EvenIsFirstPallet;
    return true;
}

} // namespace kv
