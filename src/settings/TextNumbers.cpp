// SPDX-License-Identifier: GPL-3.0-or-later
// Settings numbers in the "C" locale, so a desktop session with a decimal comma still reads and
// writes "0.9".
#include "settings/TextNumbers.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "text/NumberText.h"

namespace kv {

namespace {

const char* FormatPattern(DoubleFormat format) {
    switch (format) {
    case DoubleFormat::Fixed14:
        return "%.14f";
    case DoubleFormat::Fixed19:
        return "%1.19f";
    case DoubleFormat::General:
        break;
    }
    return "%g";
}

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

} // namespace

std::string FormatDouble(double value, DoubleFormat format) {
    const std::string text = FormatC(FormatPattern(format), value);
    return text.empty() ? "0" : text;
}

int32_t ParseInt32(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr int64_t Cap = int64_t{1} << 33; // beyond every 32-bit reading
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min(Cap, magnitude * 10 + (text[i] - '0'));
    const int64_t value = negative ? -magnitude : magnitude;
    constexpr int64_t Min = std::numeric_limits<int32_t>::min();
    constexpr int64_t Max = std::numeric_limits<int32_t>::max();
    constexpr int64_t WordMax = std::numeric_limits<uint32_t>::max();
    if (value < Min) return std::numeric_limits<int32_t>::min();
    if (value <= Max) return static_cast<int32_t>(value);
    if (value <= WordMax) return static_cast<int32_t>(static_cast<uint32_t>(value));
    return std::numeric_limits<int32_t>::max();
}

} // namespace kv
