// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/PlacementText.h"

#include <charconv>

namespace kv {

namespace {

constexpr int PlacementFields = 10;
constexpr std::string_view Blanks = " \t\n\v\f\r";

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(Blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

// A whole decimal integer with an optional sign, or nothing.
std::optional<int64_t> WholeNumber(std::string_view field) {
    field = Trim(field);
    if (field.size() > 1 && field[0] == '+' && field[1] != '-') field.remove_prefix(1);
    int64_t value = 0;
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value);
    if (field.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<uint32_t> Word(int64_t value) {
    constexpr int64_t Lowest = INT32_MIN, Highest = UINT32_MAX;
    if (value < Lowest || value > Highest) return std::nullopt;
    return static_cast<uint32_t>(value);
}

} // namespace

std::string PlacementNumbers::Format() const {
    std::string text = std::to_string(Flags) + "," + std::to_string(Show);
    for (const int32_t c : Coordinates)
        text += "," + std::to_string(c);
    return text;
}

std::optional<PlacementNumbers> ParsePlacementText(std::string_view text) {
    std::array<int64_t, PlacementFields> values{};
    for (int i = 0; i < PlacementFields; ++i) {
        const size_t comma = text.find(',');
        if (comma == std::string_view::npos && i < PlacementFields - 1) return std::nullopt;
        const auto value = WholeNumber(text.substr(0, comma));
        if (!value) return std::nullopt;
        values[i] = *value;
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
    }
    PlacementNumbers p;
    const auto flags = Word(values[0]), show = Word(values[1]);
    if (!flags || !show) return std::nullopt;
    p.Flags = *flags;
    p.Show = *show;
    for (size_t i = 0; i < p.Coordinates.size(); ++i) {
        const int64_t c = values[i + 2];
        if (c < -PlacementCoordinateLimit || c > PlacementCoordinateLimit) return std::nullopt;
        p.Coordinates[i] = static_cast<int32_t>(c);
    }
    return p;
}

} // namespace kv
