#include "audio/BufferLengths.h"

#include <algorithm>
#include <cmath>

namespace kv {

size_t BufferLengthSequence::InitialLength() {
    const double n = std::max(1.0, std::trunc(SamplesPerBuffer + FractionalCarry));
    FractionalCarry = SamplesPerBuffer + FractionalCarry - n;
    return static_cast<size_t>(n);
}

size_t BufferLengthSequence::RequeueLength() {
    const double wanted = std::trunc(SamplesPerBuffer + BufferAdjust + FractionalCarry);
    const double most = std::max(1.0, std::trunc(2.0 * SamplesPerBuffer));
    const double n = std::clamp(wanted, 1.0, most);
    FractionalCarry = FractionalCarry + SamplesPerBuffer + BufferAdjust - n;
    BufferAdjust = 0.0;
    return static_cast<size_t>(n);
}

} // namespace kv
