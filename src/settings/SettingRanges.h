// SPDX-License-Identifier: GPL-3.0-or-later
// The range of every numeric setting and profile key, applied as a value is loaded, so a damaged
// or hand-edited file can neither overflow the sample arithmetic nor make the display unusable.
// The ranges are those the settings dialog accepts, else those the program's own commands keep
// the value in.
#pragma once

#include <cstdint>
#include <string_view>

namespace kv {

// The value to use for `key` after `loaded` was read from a file while `current` was in memory:
// `loaded` itself when it lies in the key's range or the key has none; otherwise `loaded` limited
// to the range, or `current` for keys where a value between the limits would mean something else
// (a code, a device setting).
double LimitSetting(std::string_view key, double loaded, double current);
int32_t LimitSetting(std::string_view key, int32_t loaded, int32_t current);

} // namespace kv
