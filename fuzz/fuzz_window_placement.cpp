// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the saved window placement text: any text is refused or gives numbers
// within the screen's coordinates that format back to a text parsing to the same numbers.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "settings/PlacementText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using kv::fuzz::Require;
    const auto parsed = kv::ParsePlacementText({reinterpret_cast<const char*>(data), size});
    if (!parsed) return 0;
    const auto& c = parsed->Coordinates;
    for (const int32_t v : c)
        Require(v >= -kv::PlacementCoordinateLimit && v <= kv::PlacementCoordinateLimit,
                "coordinates within the screen's range");
    // What the window code computes from them: the normal rectangle's size.
    const int width = c[6] - c[4], height = c[7] - c[5];
    Require(width >= -2 * kv::PlacementCoordinateLimit &&
                height <= 2 * kv::PlacementCoordinateLimit,
            "the size fits");
    Require(kv::ParsePlacementText(parsed->Format()) == parsed, "format, parse gives the same");
    return 0;
}
