// SPDX-License-Identifier: GPL-3.0-or-later
// A thread's CPU time counts that thread's work only: not the wall clock, not the other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/ThreadCpuTime.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

constexpr double BusySeconds = 0.05;
constexpr auto Patience = 10s; // bound on a loaded machine

TEST(ThreadCpuTime, GrowsWithTheThreadsOwnWorkOnly) {
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        while (!stop.load(std::memory_order_relaxed)) {
        }
    });
    std::mutex lock;
    std::condition_variable wake;
    bool release = false;
    std::thread idle([&] {
        std::unique_lock<std::mutex> hold(lock);
        wake.wait(hold, [&] { return release; });
    });

    const auto deadline = std::chrono::steady_clock::now() + Patience;
    while (ThreadCpuSeconds(busy.native_handle()) < BusySeconds &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    const double busySeconds = ThreadCpuSeconds(busy.native_handle());
    const double idleSeconds = ThreadCpuSeconds(idle.native_handle());

    stop = true;
    busy.join();
    {
        const std::lock_guard<std::mutex> hold(lock);
        release = true;
    }
    wake.notify_one();
    idle.join();

    EXPECT_GE(busySeconds, BusySeconds);
    EXPECT_LT(idleSeconds, BusySeconds / 2);
}

} // namespace
} // namespace kv
