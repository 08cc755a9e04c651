// SPDX-License-Identifier: GPL-3.0-or-later
// The priority logic at every kind of limit (through a fake scheduler), and the real scheduler on a
// thread of its own.
#include <gtest/gtest.h>

#include <cerrno>
#include <limits>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/Priority.h"

namespace kv {
namespace {

constexpr uint64_t Unlimited = std::numeric_limits<uint64_t>::max();
constexpr int NormalNice = 0;

// A scheduler with the limits, refusals and current state a test chooses; it records requests.
struct FakeScheduling : SchedulingSystem {
    SchedulingLimits Given;
    int CurrentNice = NormalNice;
    int RealTimeError = EPERM;
    int NiceError = 0;
    std::vector<int> RealTimeRequests;
    std::vector<int> NiceRequests;

    SchedulingLimits Limits() const override { return Given; }
    int SetRealTimePriority(int priority) override {
        RealTimeRequests.push_back(priority);
        return RealTimeError;
    }
    std::optional<int> Nice() const override { return CurrentNice; }
    int SetNice(int nice) override {
        NiceRequests.push_back(nice);
        if (NiceError == 0) CurrentNice = nice;
        return NiceError;
    }
};

FakeScheduling UserWithLimits(uint64_t realTime, uint64_t nice) {
    FakeScheduling system;
    system.Given.RealTimeLimit = realTime;
    system.Given.NiceLimit = nice;
    return system;
}

TEST(ProcessPriority, AsksForTheHighClassOrWhatTheNiceLimitAllows) {
    FakeScheduling unlimited = UserWithLimits(0, Unlimited);
    EXPECT_EQ(RaiseProcessPriority(unlimited), PriorityOutcome::Raised);
    EXPECT_EQ(unlimited.CurrentNice, HighPriorityNice);

    FakeScheduling partly = UserWithLimits(0, 25); // nice values down to 20 - 25 = -5
    EXPECT_EQ(RaiseProcessPriority(partly), PriorityOutcome::Raised);
    EXPECT_EQ(partly.CurrentNice, -5);

    FakeScheduling root = UserWithLimits(0, 0); // root is not bound by RLIMIT_NICE
    root.Given.Privileged = true;
    EXPECT_EQ(RaiseProcessPriority(root), PriorityOutcome::Raised);
    EXPECT_EQ(root.CurrentNice, HighPriorityNice);
}

TEST(ProcessPriority, HeldAtTheLimitIsNotAFailureAndNeverLowersThePriority) {
    FakeScheduling noRights = UserWithLimits(0, 0);
    EXPECT_EQ(RaiseProcessPriority(noRights), PriorityOutcome::HeldAtLimit);
    EXPECT_TRUE(noRights.NiceRequests.empty());

    FakeScheduling alreadyHigher = UserWithLimits(0, Unlimited);
    alreadyHigher.CurrentNice = -15;
    EXPECT_EQ(RaiseProcessPriority(alreadyHigher), PriorityOutcome::HeldAtLimit);
    EXPECT_EQ(alreadyHigher.CurrentNice, -15);

    FakeScheduling refused = UserWithLimits(0, Unlimited); // e.g. a container without the right
    refused.NiceError = EACCES;
    EXPECT_EQ(RaiseProcessPriority(refused), PriorityOutcome::HeldAtLimit);

    FakeScheduling broken = UserWithLimits(0, Unlimited);
    broken.NiceError = ESRCH;
    EXPECT_EQ(RaiseProcessPriority(broken), PriorityOutcome::Failed);
}

TEST(ThreadPriority, RealTimeAtTheHighestPriorityTheLimitPermits) {
    FakeScheduling user = UserWithLimits(50, 0);
    user.RealTimeError = 0;
    EXPECT_EQ(RaiseCurrentThreadPriority(user), PriorityOutcome::Raised);
    EXPECT_EQ(user.RealTimeRequests, std::vector<int>{50});
    EXPECT_TRUE(user.NiceRequests.empty());

    FakeScheduling root = UserWithLimits(0, 0);
    root.Given.Privileged = true;
    root.RealTimeError = 0;
    EXPECT_EQ(RaiseCurrentThreadPriority(root), PriorityOutcome::Raised);
    EXPECT_EQ(root.RealTimeRequests, std::vector<int>{root.Given.HighestRealTimePriority});
}

TEST(ThreadPriority, FallsBackToTheLowestPermittedNiceValue) {
    FakeScheduling noRealTime = UserWithLimits(0, 30); // nice values down to -10
    EXPECT_EQ(RaiseCurrentThreadPriority(noRealTime), PriorityOutcome::Raised);
    EXPECT_TRUE(noRealTime.RealTimeRequests.empty());
    EXPECT_EQ(noRealTime.CurrentNice, -10);

    FakeScheduling realTimeRefused = UserWithLimits(Unlimited, Unlimited);
    EXPECT_EQ(RaiseCurrentThreadPriority(realTimeRefused), PriorityOutcome::Raised);
    EXPECT_EQ(realTimeRefused.RealTimeRequests.size(), 1u);
    EXPECT_EQ(realTimeRefused.CurrentNice, -20);

    FakeScheduling noRights = UserWithLimits(0, 0);
    EXPECT_EQ(RaiseCurrentThreadPriority(noRights), PriorityOutcome::HeldAtLimit);
    EXPECT_TRUE(noRights.RealTimeRequests.empty());
    EXPECT_TRUE(noRights.NiceRequests.empty());
}

TEST(ThreadPriority, LimitsBeyondTheRangeAreClampedNotWrapped) {
    FakeScheduling huge = UserWithLimits(uint64_t{1} << 40, uint64_t{1} << 40);
    huge.RealTimeError = 0;
    EXPECT_EQ(RaiseCurrentThreadPriority(huge), PriorityOutcome::Raised);
    EXPECT_EQ(huge.RealTimeRequests, std::vector<int>{huge.Given.HighestRealTimePriority});
    EXPECT_EQ(LowestPermittedNice(huge.Given), -20);
}

int CallingThreadNice() {
    return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
}

// On the machine's own scheduler: the call reports what happened, and what it reports is true.
TEST(ThreadPriority, TheRealSchedulerRaisesOrHoldsTheCallingThread) {
    std::thread worker([] {
        const int niceBefore = CallingThreadNice();
        const PriorityOutcome outcome = RaiseCurrentThreadPriority();
        int policy = SCHED_OTHER;
        sched_param param{};
        ASSERT_EQ(pthread_getschedparam(pthread_self(), &policy, &param), 0);
        ASSERT_NE(outcome, PriorityOutcome::Failed);
        const bool raised = policy == SCHED_FIFO || CallingThreadNice() < niceBefore;
        EXPECT_EQ(raised, outcome == PriorityOutcome::Raised);
    });
    worker.join();
}

TEST(ThreadPriority, PinningLeavesOnlyTheFirstCpu) {
    bool pinned = false;
    cpu_set_t set;
    CPU_ZERO(&set);
    std::thread worker([&] {
        pinned = PinCurrentThreadToFirstCpu();
        pthread_getaffinity_np(pthread_self(), sizeof set, &set);
    });
    worker.join();
    if (!pinned) GTEST_SKIP() << "this machine refuses CPU affinity";
    EXPECT_TRUE(CPU_ISSET(0, &set));
    EXPECT_EQ(CPU_COUNT(&set), 1);
}

} // namespace
} // namespace kv
