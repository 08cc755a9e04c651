// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/BufferLengths.h"

#include <algorithm>
#include <cmath>

namespace kv {

size_t BufferLengthSequence::InitialLength() {
    const double nominal = GetSamplesPerBuffer();
    const double n = std::max(1.0, std::trunc(nominal + FractionalCarry));
    FractionalCarry = nominal + FractionalCarry - n;
    return static_cast<size_t>(n);
}

size_t BufferLengthSequence::RequeueLength() {
    const double nominal = GetSamplesPerBuffer();
    const double adjust = BufferAdjust.exchange(0.0, std::memory_order_relaxed);
    const double wanted = std::trunc(nominal + adjust + FractionalCarry);
    const double most = std::max(1.0, std::trunc(2.0 * nominal));
    const double n = std::clamp(wanted, 1.0, most);
    FractionalCarry = FractionalCarry + nominal + adjust - n;
    return static_cast<size_t>(n);
}

} // namespace kv
