// SPDX-License-Identifier: GPL-3.0-or-later
// Bounded waiting for tests: a condition another thread brings about is polled until it holds or
// the time-out passes, so a fault shows as a failed expectation instead of a hung test.
#pragma once

#include <chrono>
#include <thread>

namespace kv::test {

// Looks often enough that a test waits hardly longer than needed, yet leaves the core to the
// thread under test.
inline constexpr std::chrono::milliseconds WaitPollInterval{1};

// Polls `condition` until it holds or `timeout` passes; returns whether it holds at the end.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds poll = WaitPollInterval) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(poll);
    }
    return true;
}

} // namespace kv::test
