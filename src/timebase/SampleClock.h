// SPDX-License-Identifier: GPL-3.0-or-later
// Sound-card sample clock and the timestamp clock that turns performance-counter readings into UTC.
#pragma once

#include <cstdint>
#include <mutex>

namespace kv {

// Sources of the monotonic counter and the system UTC clock; replaceable in tests.
class ClockSource {
public:
    virtual ~ClockSource() = default;
    virtual int64_t ReadCounter() = 0;     // monotonic counter ticks
    virtual double CounterFrequency() = 0; // ticks per second
    virtual uint64_t SystemUtc100ns() = 0; // 100 ns units since 1601-01-01 UTC
};

// CLOCK_MONOTONIC_RAW in nanoseconds (F = 1e9) and CLOCK_REALTIME.
ClockSource& SystemClockSource();

// Ratio of the card's true sample rate to its nominal rate, one per rate family.
struct CalibrationFactors {
    double CalFactor22 = 1.0, CalFactor44 = 1.0, CalFactor48 = 1.0, CalFactor96 = 1.0;
};

// The factor that applies to a nominal capture rate: above 72000 Hz the 96 kHz factor, above
// 46000 Hz the 48 kHz one, above 33000 Hz the 44.1 kHz one, otherwise the 22.05 kHz one.
double CalFactorFor(unsigned sampleRate, const CalibrationFactors& f);
double& CalFactorSlotFor(unsigned sampleRate, CalibrationFactors& f);
// Nominal rate times the factor in use; sample counts are turned into seconds by dividing by it.
double EffectiveSampleRate(unsigned sampleRate, const CalibrationFactors& f);

// Factors and trims are shown to the user as seconds per day away from nominal.
double FactorToSecondsPerDay(double factor);
double SecondsPerDayToFactor(double secondsPerDay);

// The timestamp clock: counter values -> UTC (100 ns since 1601). All fields sit behind one small
// mutex, so SetTrim/StepClock may run while other threads convert counter values.
class TimestampClock {
public:
    // Initialises the clock from the source straight away (see InitTimestampClock).
    explicit TimestampClock(ClockSource& source = SystemClockSource());
    TimestampClock(const TimestampClock&) = delete;
    TimestampClock& operator=(const TimestampClock&) = delete;

    // Trim back to 1.0 and base chosen so that the current counter value maps to the system time.
    // Throws std::runtime_error when the source reports an unusable counter frequency.
    void InitTimestampClock();
    int64_t ReadCounter() const;
    uint64_t SystemUtc() const;                      // the source's UTC, 100 ns since 1601
    uint64_t CounterToUtc(int64_t counter) const;    // trunc(c / (s*F100)) + B
    double CounterSpanToSeconds(int64_t span) const; // dc / (s*F)
    double GetTrim() const;
    // Changes the trim without a jump of the clock at the current counter value.
    // Refuses (false, nothing changed) unless trim is finite and positive.
    bool SetTrim(double trim);
    // B += trunc(seconds*1e7). Refuses (false, nothing changed) a non-finite or absurd step.
    bool StepClock(double seconds);
    uint64_t NowUtc() const; // CounterToUtc(ReadCounter())
    double Frequency() const;

private:
    // trunc(c / (trim*F100)) and that plus B; callers hold mutex_.
    uint64_t ScaledLocked(int64_t counter, double trim) const;
    uint64_t ToUtcLocked(int64_t counter, double trim) const;

    ClockSource& source_;
    mutable std::mutex mutex_;
    double frequency_ = 1.0; // F, counter ticks per second
    double f100_ = 1e-7;     // F * 1e-7, counter ticks per 100 ns
    double trim_ = 1.0;      // s
    int64_t base_ = 0;       // B, 100 ns units
};

// The process-wide clock on the system clock source (constructed and initialised on first use).
TimestampClock& ProcessTimestampClock();

// Sample-to-counter regression, one update per analysed buffer: maps nominal sample seconds since
// the regression start onto counter seconds, so each tick can be stamped with a UTC time.
struct SampleCounterRegression {
    uint64_t TotalSamples = 0; // samples received since reset
    int64_t CounterNow = 0;    // counter read when the latest buffer arrived
    uint64_t StartSample = 0;  // S0; 0 = no regression running
    int64_t StartCounter = 0;  // Q0
    double Sx = 0, Sy = 0, Sxy = 0, Sxx = 0;
    int64_t Count = 0;
    double TimestampSlope = 1.0;     // counter seconds per nominal second of samples
    double TimestampIntercept = 0.0; // counter seconds at offset 0; only for the latest buffer

    // TotalSamples, StartSample, CounterNow, StartCounter = 0 (slope left as is).
    void Reset();
    // A new regression starts at the next buffer (the timestamp clock was stepped or trimmed);
    // the sample total runs on.
    void Restart() { StartSample = 0; }
    // Adds n samples read at counter value `counter`; samplePosition is the analysis
    // SamplePosition. A zero sample rate leaves the regression untouched.
    void AddBuffer(uint64_t n, int64_t counter, uint64_t samplePosition, unsigned sampleRate,
                   const TimestampClock& clock);
    // UTC (100 ns since 1601) of the sample at capture position p:
    // CounterToUtc(Q0) + trunc((TimestampSlope*(p - S0)/SampleRate + TimestampIntercept) * 1e7).
    // Positions before S0 give earlier times. A zero sample rate gives the start time.
    uint64_t StampTick(uint64_t p, unsigned sampleRate, const TimestampClock& clock) const;

private:
    void Start();
    void AddPoint(unsigned sampleRate, const TimestampClock& clock);
};

} // namespace kv
