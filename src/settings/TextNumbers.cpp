// Locale-independent number texts: the calling thread switches to the "C" locale while it formats
// or parses, so a desktop session in a locale with a decimal comma reads and writes "0.9".
#include "settings/TextNumbers.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace kv {

namespace {

locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// Makes the "C" locale current on this thread for the guard's lifetime.
class CLocaleScope {
public:
    CLocaleScope() : previous_(uselocale(CLocale())) {}
    ~CLocaleScope() { uselocale(previous_); }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_;
};

const char* FormatText(DoubleFormat format) {
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
    CLocaleScope c;
    const char* pattern = FormatText(format);
    const int length = std::snprintf(nullptr, 0, pattern, value);
    if (length <= 0) return "0";
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), pattern, value);
    text.resize(static_cast<size_t>(length));
    return text;
}

double ParseDouble(std::string_view text) {
    const std::string copy(text); // strtod needs a terminated string
    const double value = strtod_l(copy.c_str(), nullptr, CLocale());
    return std::isfinite(value) ? value : 0.0;
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
