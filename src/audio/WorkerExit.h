// SPDX-License-Identifier: GPL-3.0-or-later
// Ending the capture and output workers: a worker sets its stop flag to 2 and signals when it has
// ended; Close waits a bounded time for that and abandons a worker that is stuck (the worker
// holds a share of its session, so it ends by itself later without touching freed memory).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kv {

// Waits up to `limit` for `stopFlag` to reach 2, then joins the worker; a worker still busy is
// detached. Returns true when the worker was abandoned. Nothing to do when it is not running.
inline bool JoinOrAbandon(std::thread& worker, std::mutex& endMutex, std::condition_variable& ended,
                          const std::atomic<int>& stopFlag,
                          std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    if (!worker.joinable()) return false;
    std::unique_lock lock(endMutex);
    const bool done =
        ended.wait_for(lock, limit, [&] { return stopFlag.load(std::memory_order_acquire) == 2; });
    lock.unlock();
    if (!done) {
        worker.detach();
        return true;
    }
    worker.join();
    return false;
}

} // namespace kv
