// SPDX-License-Identifier: GPL-3.0-or-later
#include "references/QueryPacing.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kv {
namespace {

class SteadyClock final : public PacingClock {
public:
    double Now() override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void Sleep(double seconds) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
};

} // namespace

PacingClock& SteadyPacingClock() {
    static SteadyClock clock;
    return clock;
}

QueryBudget::QueryBudget(PacingClock& clock) : clock_(clock), refilled_(clock.Now()) {}

void QueryBudget::Refill() {
    const double now = clock_.Now();
    tokens_ = std::min<double>(kBurst, tokens_ + (now - refilled_) / interval_);
    refilled_ = now;
}

bool QueryBudget::TryTake() {
    Refill();
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
}

double QueryBudget::SecondsUntilToken() {
    Refill();
    return std::max(0.0, (1 - tokens_) * interval_);
}

void QueryBudget::SlowDown() {
    interval_ = std::min(kMaxIntervalSeconds, interval_ * 2);
    tokens_ = 0;
    refilled_ = clock_.Now();
}

} // namespace kv
