#include "logview/format/LogRecordText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kv {

namespace {

constexpr double kSecondsPerDay = 86400.0;

// Appends a tab and, when `present`, the value.
void AppendField(std::string& out, bool present, double v) {
    out += '\t';
    if (present) AppendLogNumber(out, v);
}

double Amplitude(const LogReadings& r) {
    const double lift = r.LiftSum / r.LiftCount;
    return r.LiftAngle / (2.0 * std::sin(0.5 * M_PI * lift / r.BeatPeriod));
}

// Length of the UTF-8 sequence a lead byte opens; 0 for a byte that cannot open one.
int SequenceLength(unsigned char c) {
    if (c < 0x80) return 1;
    if ((c >> 5) == 0x6) return 2;
    if ((c >> 4) == 0xE) return 3;
    if ((c >> 3) == 0x1E) return 4;
    return 0;
}

// Decodes the code point at s[i] and moves i past it; a malformed sequence gives U+FFFD and moves
// i one byte on.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const auto lead = static_cast<unsigned char>(s[i]);
    const int length = SequenceLength(lead);
    if (length == 0 || i + length > s.size()) return ++i, U'\uFFFD';
    char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return ++i, U'\uFFFD';
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return ++i, U'\uFFFD';
    i += length;
    return cp;
}

void AppendUnit(std::string& out, char32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>((unit >> 8) & 0xFF);
}

} // namespace

void AppendLogNumber(std::string& out, double v) {
    if (!std::isfinite(v)) return;
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 6);
    out.append(text, result.ptr);
}

void AppendTimeField(std::string& out, int64_t unixSeconds) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, unixSeconds);
    out.append(text, result.ptr);
}

void AppendValueFields(std::string& out, const LogReadings& r) {
    const bool elapsed = r.TickElapsed > r.BeatPeriod;
    const double averageRate = elapsed ? r.Deviation / r.TickElapsed * kSecondsPerDay : 0.0;
    AppendField(out, r.RateWindowFull, r.Rate * kSecondsPerDay);
    AppendField(out, r.LiftCount > 0 && !r.Pendulum, r.LiftCount > 0 ? Amplitude(r) : 0.0);
    AppendField(out, true, r.Deviation);
    AppendField(out, true, r.Temperature);
    AppendField(out, elapsed && averageRate > -9999.0, averageRate);
    AppendField(out, r.BeatErrorCount > 0,
                r.BeatErrorCount > 0 ? r.BeatErrorSum / r.BeatErrorCount * r.BeatPeriod : 0.0);
    AppendField(out, true, r.Pressure);
}

void AppendDateText(std::string& out, const CalendarTime& t) {
    char text[64];
    const int year = (t.Year % 100 + 100) % 100;
    const int n = std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", t.Day, t.Month,
                                year, t.Hour, t.Minute, t.Second);
    if (n > 0) out.append(text, static_cast<size_t>(n) < sizeof text ? n : sizeof text - 1);
}

std::string Utf16LeFromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() * 2);
    for (size_t i = 0; i < utf8.size();) {
        const char32_t cp = DecodeUtf8(utf8, i);
        if (cp < 0x10000) {
            AppendUnit(out, cp);
        } else {
            AppendUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
            AppendUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    return out;
}

} // namespace kv
