// SPDX-License-Identifier: GPL-3.0-or-later
// Number texts that read and write "." as the decimal point whatever locale the process runs in.
// The desktop's locale (a decimal comma in German, French ...) must never change what a train
// text, a settings file, a log or a status line means.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// printf into a std::string, in the "C" locale.
std::string FormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads a leading decimal number like strtod in the "C" locale: leading blanks are skipped, a
// text that does not start with a number gives 0. Infinities and NaN also give 0, so "nan" or
// "1e999" never reaches a caller as a number.
double ParseLeadingDouble(std::string_view text);

// The whole text (leading blanks allowed) as a finite number in the "C" locale; false when
// anything follows the number.
bool ParseWholeDouble(std::string_view text, double& value);

} // namespace kv
