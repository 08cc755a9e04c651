// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "audio/BufferLengths.h"

namespace kv {
namespace {

TEST(BufferLengths, FractionalLengthsAlternate) {
    BufferLengthSequence s;
    s.SetSamplesPerBuffer(19200.5);
    s.Restart();
    EXPECT_EQ(s.InitialLength(), 19200u);
    EXPECT_EQ(s.InitialLength(), 19201u);
    EXPECT_EQ(s.RequeueLength(), 19200u);
    EXPECT_EQ(s.RequeueLength(), 19201u);
}

TEST(BufferLengths, LargeNegativeAdjustSpreadsThroughCarry) {
    BufferLengthSequence s;
    s.SetSamplesPerBuffer(19200);
    s.SetBufferAdjust(-30000);
    EXPECT_EQ(s.RequeueLength(), 1u);
    EXPECT_DOUBLE_EQ(s.Carry(), -10801.0);
    EXPECT_EQ(s.RequeueLength(), 8399u);
    EXPECT_EQ(s.RequeueLength(), 19200u);
}

TEST(BufferLengths, LargePositiveAdjustIsCapped) {
    BufferLengthSequence s;
    s.SetSamplesPerBuffer(19200);
    s.SetBufferAdjust(40000);
    EXPECT_EQ(s.RequeueLength(), 38400u);
    EXPECT_EQ(s.RequeueLength(), 38400u);
    EXPECT_EQ(s.RequeueLength(), 20800u);
    EXPECT_EQ(s.RequeueLength(), 19200u);
}

TEST(BufferLengths, TotalFollowsNominalPlusAdjustments) {
    BufferLengthSequence s;
    s.SetSamplesPerBuffer(9600.37);
    size_t total = 0;
    for (int i = 0; i < 1000; ++i) {
        if (i == 10) s.SetBufferAdjust(-1234.5);
        total += s.RequeueLength();
    }
    EXPECT_NEAR(static_cast<double>(total), 9600.37 * 1000 - 1234.5, 1.0);
}

} // namespace
} // namespace kv
