// SPDX-License-Identifier: GPL-3.0-or-later
// The text of a saved window placement: ten comma-separated decimal numbers "%u,%u,%d,%d,%d,%d,
// %d,%d,%d,%d" (flags, show state, minimized x and y, maximized x and y, and the normal
// rectangle's left, top, right and bottom). Parsed here, without any window system, so that a
// damaged text is refused before anything computes with it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// The largest coordinate accepted: Qt's largest window size (QWIDGETSIZE_MAX), far beyond any
// screen, small enough that sums and differences of two coordinates fit an int.
inline constexpr int32_t PlacementCoordinateLimit = (1 << 24) - 1;

struct PlacementNumbers {
    uint32_t Flags = 0;
    uint32_t Show = 0;
    // Minimized x, y, maximized x, y, normal left, top, right, bottom.
    std::array<int32_t, 8> Coordinates{};

    std::string Format() const;
    bool operator==(const PlacementNumbers&) const = default;
};

// Nothing unless the first ten comma-separated fields are whole decimal numbers (blanks around
// them and a sign allowed; fields after the tenth are ignored), the flags and the show state fit
// 32 bits (a negative one is taken as the unsigned word with the same bits, as "%u" reads it) and
// every coordinate lies within +-PlacementCoordinateLimit.
std::optional<PlacementNumbers> ParsePlacementText(std::string_view text);

} // namespace kv
