// SPDX-License-Identifier: GPL-3.0-or-later
// The two-letter codes of a positional run's positions (PD pendant down, DU dial up ...), read
// from the Sequence setting, and the group each code belongs to in the results summary.
#pragma once

#include <string>

namespace kv {

// The code of position `position` (1-based): the sequence is trimmed, upper-cased and stripped of
// everything but letters, and the code is the letter pair at places 2n-1 and 2n. Empty when the
// position is below 1 or the sequence has too few letters.
std::string PositionCode(const std::string& sequence, int position);

// Dial positions ("D...") and pendant or crown positions ("P...", "C...") are summarised apart.
enum class PositionGroup { None, Dial, Pendant };
PositionGroup GroupOf(const std::string& code);

} // namespace kv
