// SPDX-License-Identifier: GPL-3.0-or-later
// Setting the operating system's clock. Production code sets CLOCK_REALTIME; tests use the
// recording fake and never change the machine's clock.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

namespace kv {

// Called from the calibration worker thread; implementations need no state between calls.
class SystemClockSetter {
public:
    virtual ~SystemClockSetter() = default;
    // Sets the clock to utc100ns (100 ns units since 1601-01-01 UTC). False when the system
    // refuses, for example without the right to change the time (CAP_SYS_TIME); the clock is
    // then unchanged.
    virtual bool SetUtc(uint64_t utc100ns) = 0;
};

// clock_settime(CLOCK_REALTIME).
SystemClockSetter& PosixSystemClockSetter();

// Stands in for the system clock in tests: keeps the last time it accepted, or refuses every
// request and keeps nothing. Any thread may call it.
class RecordingClockSetter final : public SystemClockSetter {
public:
    explicit RecordingClockSetter(bool accepts = true) : accepts_(accepts) {}
    bool SetUtc(uint64_t utc100ns) override {
        std::lock_guard lock(mutex_);
        ++requests_;
        if (accepts_) lastSet_ = utc100ns;
        return accepts_;
    }
    std::optional<uint64_t> LastSet() const {
        std::lock_guard lock(mutex_);
        return lastSet_;
    }
    int Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    mutable std::mutex mutex_;
    const bool accepts_;
    std::optional<uint64_t> lastSet_;
    int requests_ = 0;
};

} // namespace kv
