// SPDX-License-Identifier: GPL-3.0-or-later
// The calling thread switches to the "C" locale while it formats or parses; other threads keep
// theirs.
#include "text/NumberText.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
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

} // namespace

std::string FormatC(const char* format, ...) {
    CLocaleScope c;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

double ParseLeadingDouble(std::string_view text) {
    const std::string copy(text); // strtod needs a terminated string
    const double value = strtod_l(copy.c_str(), nullptr, CLocale());
    return std::isfinite(value) ? value : 0.0;
}

bool ParseWholeDouble(std::string_view text, double& value) {
    const std::string copy(text);
    char* end = nullptr;
    const double parsed = strtod_l(copy.c_str(), &end, CLocale());
    if (end == copy.c_str() || *end != '\0' || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

} // namespace kv
