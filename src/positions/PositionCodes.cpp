// SPDX-License-Identifier: GPL-3.0-or-later
#include "positions/PositionCodes.h"

namespace kv {

namespace {

// ASCII only: the locale of the desktop must not turn a byte of a UTF-8 letter into a code.
bool IsAsciiLetter(char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
}

char AsciiUpper(char ch) {
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

} // namespace

std::string PositionCode(const std::string& sequence, int position) {
    std::string letters;
    for (char ch : sequence)
        if (IsAsciiLetter(ch)) letters.push_back(AsciiUpper(ch));
    if (position < 1 || letters.size() < 2 * static_cast<size_t>(position)) return {};
    return letters.substr(2 * static_cast<size_t>(position) - 2, 2);
}

PositionGroup GroupOf(const std::string& code) {
    if (code.empty()) return PositionGroup::None;
    if (code[0] == 'D') return PositionGroup::Dial;
    if (code[0] == 'P' || code[0] == 'C') return PositionGroup::Pendant;
    return PositionGroup::None;
}

} // namespace kv
