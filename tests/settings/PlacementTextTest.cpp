// SPDX-License-Identifier: GPL-3.0-or-later
// The saved window placement text: ten numbers, refused when any does not fit the screen's
// coordinates, and written back as it was read.
#include <gtest/gtest.h>

#include "settings/PlacementText.h"

namespace kv {
namespace {

TEST(PlacementText, ReadsTenNumbersWithBlanksAndSignsAndWritesThemBack) {
    const auto p = ParsePlacementText(" 0, +3,-1,-1 ,-1,-1,10,20,810,620,extra");
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->Show, 3u);
    EXPECT_EQ(p->Coordinates[4], 10);
    EXPECT_EQ(p->Coordinates[7], 620);
    EXPECT_EQ(p->Format(), "0,3,-1,-1,-1,-1,10,20,810,620");
    EXPECT_EQ(ParsePlacementText(p->Format()), p);
    // A negative word reads as the unsigned word with the same bits, as "%u" reads it.
    EXPECT_EQ(ParsePlacementText("-1,1,0,0,0,0,0,0,1,1")->Flags, 0xFFFFFFFFu);
}

TEST(PlacementText, NumbersBeyondTheScreensCoordinatesAreRefused) {
    for (const char* text :
         {"1,1,1,1,5,1,1,2147483648,0,0", "0,1,0,0,0,0,-2147483648,0,2147483647,0",
          "0,1,0,0,0,0,0,0,16777216,0", "0,1,0,0,0,0,0,0,0,99999999999999999999",
          "4294967296,1,0,0,0,0,0,0,0,0", "0,1,0,0,0,0,0,0,0,", "0,1,0,0,0,0,0,0,0",
          "0,1,0,0,0,0,0,0,0,1x", "0,1,0,0,0,0,0,0,+-1,1", ""})
        EXPECT_FALSE(ParsePlacementText(text).has_value()) << text;
    const auto widest = ParsePlacementText("0,1,0,0,0,0,-16777215,0,16777215,0");
    ASSERT_TRUE(widest.has_value());
    EXPECT_EQ(widest->Coordinates[6], PlacementCoordinateLimit);
}

} // namespace
} // namespace kv
