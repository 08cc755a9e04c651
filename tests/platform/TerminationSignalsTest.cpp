// SPDX-License-Identifier: GPL-3.0-or-later
// Termination signals sent to this very process are recorded and wake the descriptor; the process
// carries on with its state intact, and the handlers that were there before come back.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <iterator>
#include <poll.h>
#include <vector>

#include "platform/TerminationSignals.h"

namespace kv {
namespace {

constexpr int WakeWaitMilliseconds = 2000; // bound: a raised signal is handled before raise returns

bool WokenWithin(int fd, int milliseconds) {
    pollfd wait{fd, POLLIN, 0};
    return ::poll(&wait, 1, milliseconds) == 1 && (wait.revents & POLLIN) != 0;
}

int BeforeCount = 0;
void CountingHandler(int) {
    ++BeforeCount;
}

// Each test starts and ends with a handler of its own on the three signals, so a fault in the
// code under test cannot end the test program.
constexpr int Handled[] = {SIGHUP, SIGINT, SIGTERM};

// Each test puts a counting handler of its own on the three signals, so a fault in the code under
// test cannot end the test program; the program's own handlers come back afterwards.
struct TerminationSignalsTest : ::testing::Test {
    struct sigaction Saved[std::size(Handled)]{};
    void SetUp() override {
        struct sigaction counting {};
        counting.sa_handler = CountingHandler;
        sigemptyset(&counting.sa_mask);
        for (size_t i = 0; i < std::size(Handled); ++i)
            sigaction(Handled[i], &counting, &Saved[i]);
        BeforeCount = 0;
    }
    void TearDown() override {
        for (size_t i = 0; i < std::size(Handled); ++i)
            sigaction(Handled[i], &Saved[i], nullptr);
    }
};

TEST_F(TerminationSignalsTest, ARaisedSignalWakesAndIsTakenOnce) {
    TerminationSignals signals;
    ASSERT_TRUE(signals.Installed());
    EXPECT_FALSE(WokenWithin(signals.WakeDescriptor(), 0));

    int state = 41;
    errno = EDOM;
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_EQ(errno, EDOM);
    ++state;
    EXPECT_EQ(state, 42);

    ASSERT_TRUE(WokenWithin(signals.WakeDescriptor(), WakeWaitMilliseconds));
    EXPECT_EQ(signals.TakePending(), std::vector<int>{SIGTERM});
    EXPECT_FALSE(WokenWithin(signals.WakeDescriptor(), 0));
    EXPECT_TRUE(signals.TakePending().empty());
    EXPECT_EQ(BeforeCount, 0);
}

TEST_F(TerminationSignalsTest, ABurstOfSignalsIsNeitherLostNorBlocking) {
    TerminationSignals signals;
    ASSERT_TRUE(signals.Installed());
    constexpr int MoreSignalsThanAPipeHoldsBytes = 100000;
    for (int i = 0; i < MoreSignalsThanAPipeHoldsBytes; ++i)
        std::raise(SIGINT);
    std::raise(SIGHUP);
    std::raise(SIGTERM);
    ASSERT_TRUE(WokenWithin(signals.WakeDescriptor(), WakeWaitMilliseconds));
    EXPECT_EQ(signals.TakePending(), (std::vector<int>{SIGHUP, SIGINT, SIGTERM}));

    std::raise(SIGINT); // a signal after the take wakes again
    ASSERT_TRUE(WokenWithin(signals.WakeDescriptor(), WakeWaitMilliseconds));
    EXPECT_EQ(signals.TakePending(), std::vector<int>{SIGINT});
}

TEST_F(TerminationSignalsTest, OneOwnerAtATimeAndThePreviousHandlersComeBack) {
    {
        TerminationSignals first;
        ASSERT_TRUE(first.Installed());
        TerminationSignals second;
        EXPECT_FALSE(second.Installed());
        EXPECT_EQ(second.WakeDescriptor(), -1);
        EXPECT_TRUE(second.TakePending().empty());
    }
    std::raise(SIGTERM);
    EXPECT_EQ(BeforeCount, 1);

    TerminationSignals again; // the handlers can be taken again once given back
    EXPECT_TRUE(again.Installed());
}

} // namespace
} // namespace kv
