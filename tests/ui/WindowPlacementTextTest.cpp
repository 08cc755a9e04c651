// SPDX-License-Identifier: GPL-3.0-or-later
// A saved placement whose numbers do not fit the screen's coordinates is refused before a
// rectangle is made from it.
#include <gtest/gtest.h>

#include "ui/common/WindowPlacement.h"

namespace kv {
namespace {

TEST(WindowPlacementText, NumbersBeyondTheScreensCoordinatesAreRefused) {
    EXPECT_FALSE(WindowPlacement::Parse("1,1,1,1,5,1,1,2147483648,0,0").has_value());
    EXPECT_FALSE(WindowPlacement::Parse("0,1,0,0,0,0,-2147483648,0,2147483647,0").has_value());
    const auto p = WindowPlacement::Parse("0,1,0,0,0,0,-16777215,-5,16777215,5");
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->Normal.width(), 2 * 16777215);
    EXPECT_EQ(p->Normal.height(), 10);
}

} // namespace
} // namespace kv
