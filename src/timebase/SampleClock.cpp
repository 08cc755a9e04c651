// SPDX-License-Identifier: GPL-3.0-or-later
#include "timebase/SampleClock.h"

#include <cmath>
#include <ctime>
#include <limits>
#include <stdexcept>

namespace kv {
namespace {

// Seconds from 1601-01-01 (the 100 ns UTC scale) to the Unix epoch.
constexpr uint64_t kUnixEpochIn100ns = 11644473600ULL * 10000000ULL;

// Double -> int64 by truncation toward zero, saturating instead of overflowing.
int64_t TruncToInt64(double v) {
    constexpr double kLimit = 9223372036854775808.0; // 2^63
    if (std::isnan(v)) return 0;
    if (v >= kLimit) return std::numeric_limits<int64_t>::max();
    if (v <= -kLimit) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

// Signed offsets applied to unsigned UTC values wrap instead of overflowing.
uint64_t AddWrapping(uint64_t a, int64_t b) {
    return a + static_cast<uint64_t>(b);
}

int64_t DifferenceWrapping(uint64_t a, uint64_t b) {
    return static_cast<int64_t>(a - b);
}

class SystemSource final : public ClockSource {
public:
    int64_t ReadCounter() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    }
    double CounterFrequency() override { return 1e9; }
    uint64_t SystemUtc100ns() override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return kUnixEpochIn100ns + static_cast<uint64_t>(ts.tv_sec) * 10000000ULL +
               static_cast<uint64_t>(ts.tv_nsec) / 100;
    }
};

// Shared by the const and the writable lookup.
template <class Factors> auto& FactorSlot(unsigned sampleRate, Factors& f) {
    if (sampleRate > 72000) return f.CalFactor96;
    if (sampleRate > 46000) return f.CalFactor48;
    if (sampleRate > 33000) return f.CalFactor44;
    return f.CalFactor22;
}

} // namespace

ClockSource& SystemClockSource() {
    static SystemSource source;
    return source;
}

double& CalFactorSlotFor(unsigned sampleRate, CalibrationFactors& f) {
    return FactorSlot(sampleRate, f);
}

double CalFactorFor(unsigned sampleRate, const CalibrationFactors& f) {
    return FactorSlot(sampleRate, f);
}

double EffectiveSampleRate(unsigned sampleRate, const CalibrationFactors& f) {
    return sampleRate * CalFactorFor(sampleRate, f);
}

double FactorToSecondsPerDay(double factor) {
    return (factor - 1.0) * 86400.0;
}

double SecondsPerDayToFactor(double secondsPerDay) {
    return secondsPerDay / 86400.0 + 1.0;
}

TimestampClock::TimestampClock(ClockSource& source) : source_(source) {
    InitTimestampClock();
}

void TimestampClock::InitTimestampClock() {
    const double frequency = source_.CounterFrequency();
    if (!std::isfinite(frequency) || frequency <= 0.0)
        throw std::runtime_error("timestamp clock: counter frequency must be a positive number");
    std::lock_guard lock(mutex_);
    frequency_ = frequency;
    f100_ = frequency * 1e-7;
    trim_ = 1.0;
    // The counter is read just after the system time, so both describe the same instant.
    const uint64_t utc = source_.SystemUtc100ns();
    const int64_t counter = source_.ReadCounter();
    base_ = DifferenceWrapping(utc, ScaledLocked(counter, trim_));
}

int64_t TimestampClock::ReadCounter() const {
    return source_.ReadCounter();
}

uint64_t TimestampClock::SystemUtc() const {
    return source_.SystemUtc100ns();
}

uint64_t TimestampClock::ScaledLocked(int64_t counter, double trim) const {
    return static_cast<uint64_t>(TruncToInt64(counter / (trim * f100_)));
}

uint64_t TimestampClock::ToUtcLocked(int64_t counter, double trim) const {
    return AddWrapping(ScaledLocked(counter, trim), base_);
}

uint64_t TimestampClock::CounterToUtc(int64_t counter) const {
    std::lock_guard lock(mutex_);
    return ToUtcLocked(counter, trim_);
}

double TimestampClock::CounterSpanToSeconds(int64_t span) const {
    std::lock_guard lock(mutex_);
    return span / (trim_ * frequency_);
}

double TimestampClock::GetTrim() const {
    std::lock_guard lock(mutex_);
    return trim_;
}

bool TimestampClock::SetTrim(double trim) {
    if (!std::isfinite(trim) || trim <= 0.0) return false;
    std::lock_guard lock(mutex_);
    // Re-base at the current counter value so the clock keeps reading the same time there.
    const int64_t counter = source_.ReadCounter();
    const uint64_t now = ToUtcLocked(counter, trim_);
    trim_ = trim;
    base_ = DifferenceWrapping(now, ScaledLocked(counter, trim));
    return true;
}

bool TimestampClock::StepClock(double seconds) {
    // 9e11 s (about 28500 years) keeps the step well inside 64 bits of 100 ns units.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 9e11) return false;
    std::lock_guard lock(mutex_);
    base_ = static_cast<int64_t>(
        AddWrapping(static_cast<uint64_t>(base_), TruncToInt64(seconds * 1e7)));
    return true;
}

uint64_t TimestampClock::NowUtc() const {
    return CounterToUtc(ReadCounter());
}

double TimestampClock::Frequency() const {
    std::lock_guard lock(mutex_);
    return frequency_;
}

TimestampClock& ProcessTimestampClock() {
    static TimestampClock clock(SystemClockSource());
    return clock;
}

void SampleCounterRegression::Reset() {
    TotalSamples = 0;
    StartSample = 0;
    CounterNow = 0;
    StartCounter = 0;
}

void SampleCounterRegression::AddBuffer(uint64_t n, int64_t counter, uint64_t samplePosition,
                                        unsigned sampleRate, const TimestampClock& clock) {
    if (sampleRate == 0) return; // no rate, no time scale: the buffer cannot be placed
    TotalSamples += n;
    CounterNow = counter;
    TimestampIntercept = 0.0;
    if (StartSample != 0) {
        AddPoint(sampleRate, clock);
    } else if (samplePosition >= sampleRate) { // start once one second has been analysed
        Start();
    }
}

void SampleCounterRegression::Start() {
    StartCounter = CounterNow;
    StartSample = TotalSamples;
    Sx = Sy = Sxy = Sxx = 0.0;
    Count = 1;
    TimestampSlope = 1.0;
}

void SampleCounterRegression::AddPoint(unsigned sampleRate, const TimestampClock& clock) {
    const double x = static_cast<double>(TotalSamples - StartSample) / sampleRate;
    const double y = clock.CounterSpanToSeconds(
        DifferenceWrapping(static_cast<uint64_t>(CounterNow), static_cast<uint64_t>(StartCounter)));
    ++Count;
    Sx += x;
    Sy += y;
    Sxy += x * y;
    Sxx += x * x;
    const double n = static_cast<double>(Count);
    const double d = n * Sxx - Sx * Sx;
    if (Count > 10 && std::fabs(d) > 1e-200) {
        TimestampSlope = (n * Sxy - Sx * Sy) / d;
        TimestampIntercept = (Sy * Sxx - Sx * Sxy) / d;
    }
}

uint64_t SampleCounterRegression::StampTick(uint64_t p, unsigned sampleRate,
                                            const TimestampClock& clock) const {
    if (sampleRate == 0) return clock.CounterToUtc(StartCounter);
    const double offset = static_cast<double>(DifferenceWrapping(p, StartSample));
    const double seconds = TimestampSlope * offset / sampleRate + TimestampIntercept;
    return AddWrapping(clock.CounterToUtc(StartCounter), TruncToInt64(seconds * 1e7));
}

} // namespace kv
