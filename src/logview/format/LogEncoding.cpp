// SPDX-License-Identifier: GPL-3.0-or-later
#include "logview/format/LogEncoding.h"

#include <algorithm>
#include <cstdint>

namespace kv {

namespace {

constexpr size_t kEncodingProbeBytes = 10; // the reader's rule looks at this many bytes
constexpr char32_t kReplacement = U'\uFFFD';

// Length of the UTF-8 sequence a lead byte opens; 0 for a byte that cannot open one.
int SequenceLength(unsigned char c) {
    if (c < 0x80) return 1;
    if ((c >> 5) == 0x6) return 2;
    if ((c >> 4) == 0xE) return 3;
    if ((c >> 3) == 0x1E) return 4;
    return 0;
}

// Decodes the code point at s[i] and moves i past it; a malformed sequence gives U+FFFD and
// moves i one byte on.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    const auto lead = static_cast<unsigned char>(s[i]);
    const int length = SequenceLength(lead);
    if (length == 0 || i + length > s.size()) return ++i, kReplacement;
    char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return ++i, kReplacement;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return ++i, kReplacement;
    i += length;
    return cp;
}

// Writes the UTF-8 bytes of cp at p and returns the position after them.
char* PutUtf8(char* p, char32_t cp) {
    if (cp < 0x80) {
        *p++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *p++ = static_cast<char>(0xC0 | (cp >> 6));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *p++ = static_cast<char>(0xE0 | (cp >> 12));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *p++ = static_cast<char>(0xF0 | (cp >> 18));
        *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return p;
}

void AppendUtf8(std::string& out, char32_t cp) {
    char bytes[4];
    out.append(bytes, PutUtf8(bytes, cp));
}

void AppendUnit(std::string& out, char32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>((unit >> 8) & 0xFF);
}

// Windows-1252 at 0x80 … 0x9F; the five unassigned bytes keep their own value, as Windows does.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendWindows1252(std::string& out, std::string_view line) {
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            out += c;
        else if (byte < 0xA0)
            AppendUtf8(out, kWindows1252High[byte - 0x80]);
        else
            AppendUtf8(out, byte);
    }
}

// Line by line, so a legacy line does not turn the UTF-8 lines around it into Windows-1252.
std::string DecodeEightBit(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t at = 0; at < bytes.size();) {
        const size_t end = std::min(bytes.find('\n', at), bytes.size() - 1) + 1;
        const std::string_view line = bytes.substr(at, end - at);
        size_t checked = 0;
        AppendLogText(out, line, LogEncoding::EightBit,
                      CheckUtf8ToLineFeed(line, true, checked) == Utf8Check::Invalid);
        at = end;
    }
    return out;
}

// Written through a pointer into a string sized for the worst case (three UTF-8 bytes per code
// unit): a log is read at every render, and appending byte by byte costs more than the rest.
void AppendUtf16Le(std::string& out, std::string_view bytes) {
    constexpr size_t kMaxUtf8PerUnit = 3;
    const size_t units = bytes.size() / 2;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto unit = [in](size_t i) {
        return static_cast<char16_t>(in[2 * i] | (in[2 * i + 1] << 8));
    };
    const size_t before = out.size();
    out.resize(before + units * kMaxUtf8PerUnit);
    char* const start = out.data();
    char* p = start + before;
    for (size_t i = 0; i < units; ++i) {
        const char16_t u = unit(i);
        if (u < 0x80) {
            *p++ = static_cast<char>(u);
        } else if (u >= 0xD800 && u < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
                   unit(i + 1) < 0xE000) {
            p = PutUtf8(p, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else {
            p = PutUtf8(p, u >= 0xD800 && u < 0xE000 ? kReplacement : char32_t{u});
        }
    }
    out.resize(static_cast<size_t>(p - start));
}

} // namespace

Utf8Check CheckUtf8ToLineFeed(std::string_view bytes, bool last, size_t& checked) {
    for (size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') return Utf8Check::Valid;
        if (c < 0x80) {
            ++i;
            continue;
        }
        const auto length = static_cast<size_t>(SequenceLength(c));
        if (!last && length != 0 && i + length > bytes.size()) {
            checked = i; // the sequence may end in the next bytes
            return Utf8Check::Open;
        }
        const size_t at = i;
        if (DecodeUtf8(bytes, i) == kReplacement && i == at + 1) return Utf8Check::Invalid;
    }
    checked = bytes.size();
    return last ? Utf8Check::Valid : Utf8Check::Open;
}

void AppendLogText(std::string& out, std::string_view bytes, LogEncoding encoding,
                   bool windows1252) {
    if (encoding == LogEncoding::Utf16Le)
        AppendUtf16Le(out, bytes);
    else if (windows1252)
        AppendWindows1252(out, bytes);
    else
        out += bytes;
}

LogEncoding DetectLogEncoding(std::string_view bytes) {
    if (bytes.empty()) return LogEncoding::Utf16Le;
    const std::string_view probe = bytes.substr(0, kEncodingProbeBytes);
    return probe.find('\0') != std::string_view::npos ? LogEncoding::Utf16Le
                                                      : LogEncoding::EightBit;
}

std::string DecodeLogText(std::string_view bytes, LogEncoding encoding) {
    if (encoding == LogEncoding::EightBit) return DecodeEightBit(bytes);
    std::string out;
    AppendUtf16Le(out, bytes);
    return out;
}

std::string EncodeLogText(std::string_view utf8, LogEncoding encoding) {
    return encoding == LogEncoding::Utf16Le ? Utf16LeFromUtf8(utf8) : std::string(utf8);
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
