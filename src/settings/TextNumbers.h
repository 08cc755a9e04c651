// SPDX-License-Identifier: GPL-3.0-or-later
// Numbers as the settings and profile files store them: decimal integers and doubles printed with
// a fixed format per key, always in the "C" locale whatever locale the process runs in. Doubles
// are read with ParseLeadingDouble.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/NumberText.h"

namespace kv {

// The three formats of floating-point keys: "%g", "%.14f" and "%1.19f".
enum class DoubleFormat { General, Fixed14, Fixed19 };

std::string FormatDouble(double value, DoubleFormat format);

// Reads a leading decimal integer like strtol: leading blanks, an optional sign, digits; a text
// without digits gives 0. Values from 2^31 to 2^32-1 wrap to the negative 32-bit value with the
// same bits (a text written as unsigned reads back as the same 32-bit word); values beyond that
// saturate at the 32-bit limits.
int32_t ParseInt32(std::string_view text);

// The halves of a 64-bit value as stored under "...Hi" and "...Lo" keys, each a signed 32-bit
// integer, and the value put back together.
inline int32_t HighHalf(int64_t value) {
    return static_cast<int32_t>(static_cast<uint64_t>(value) >> 32);
}
inline int32_t LowHalf(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}
inline int64_t JoinHalves(int32_t high, int32_t low) {
    const uint64_t bits =
        (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | static_cast<uint32_t>(low);
    return static_cast<int64_t>(bits);
}

} // namespace kv
