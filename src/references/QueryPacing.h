// SPDX-License-Identifier: GPL-3.0-or-later
// How often a time server may be asked: a token bucket per server on a clock of its own, so that
// tests can run hours of pacing in a moment.
#pragma once

namespace kv {

// Seconds on a monotonic scale and a way to wait; a fake in tests moves time on at once.
class PacingClock {
public:
    virtual ~PacingClock() = default;
    virtual double Now() = 0;
    virtual void Sleep(double seconds) = 0;
};

// std::chrono::steady_clock and std::this_thread::sleep_for; shared by every thread.
PacingClock& SteadyPacingClock();

// A token bucket after chrony's `ratelimit` defaults, which public servers use: a full bucket
// allows kBurst queries back to back, then one token comes back every interval. Used by one
// thread at a time (its owner's).
class QueryBudget {
public:
    static constexpr int kBurst = 8;                      // chrony's default burst
    static constexpr double kMinIntervalSeconds = 8.0;    // chrony's default interval, 2^3 s
    static constexpr double kMaxIntervalSeconds = 1024.0; // RFC 5905's longest poll, 2^10 s

    explicit QueryBudget(PacingClock& clock);

    // Takes a token when one is there.
    bool TryTake();
    double SecondsUntilToken();
    // A Kiss-o'-Death RATE: the interval doubles (up to kMaxIntervalSeconds) and the bucket is
    // emptied, so the next query is a full new interval away.
    void SlowDown();

private:
    void Refill();

    PacingClock& clock_;
    double tokens_ = kBurst;
    double interval_ = kMinIntervalSeconds;
    double refilled_;
};

} // namespace kv
