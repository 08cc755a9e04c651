// SPDX-License-Identifier: GPL-3.0-or-later
// What the calibration tests share: a hand-driven counter and a host that records the timers and
// answers the questions as told.
#pragma once

#include <atomic>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "calibration/CalibrationEngine.h"

namespace kv::caltest {

inline constexpr unsigned Rate = 48000;
inline constexpr int64_t CounterPerSecond = 1'000'000'000; // the fake counter counts nanoseconds
inline constexpr uint64_t Utc2024 = 133'485'408'000'000'000ULL; // 2024-01-01 00:00 UTC in 100 ns

class ManualClockSource : public ClockSource {
public:
    std::atomic<int64_t> Counter{CounterPerSecond};
    int64_t ReadCounter() override { return Counter; }
    double CounterFrequency() override { return static_cast<double>(CounterPerSecond); }
    uint64_t SystemUtc100ns() override { return Utc2024; }
};

class RecordingHost : public CalibrationHost, public CalibrationQuestions {
public:
    void StartTimer(int id, unsigned ms) override {
        std::lock_guard lock(Mutex);
        Timers[id] = ms;
    }
    void KillTimer(int id) override {
        std::lock_guard lock(Mutex);
        Timers.erase(id);
    }
    void SetCaptureSamplesPerBuffer(double samples) override { SamplesPerBuffer = samples; }
    void SaveSettings() override { ++Saves; }
    CalibrationQuestions& Questions() override { return *this; }
    Answer Ask(const std::string& text, QuestionButtons, QuestionIcon) override {
        Asked.push_back(text);
        Answer a = Answers.empty() ? Answer::No : Answers.front();
        if (!Answers.empty()) Answers.pop_front();
        return a;
    }
    EndChoice ChooseEndOfRun(const std::string& report) override {
        Reports.push_back(report);
        return Choice;
    }
    // The delay timer `id` was last started with; -1 when it is not running.
    int Timer(int id) {
        std::lock_guard lock(Mutex);
        auto it = Timers.find(id);
        return it == Timers.end() ? -1 : static_cast<int>(it->second);
    }

    std::mutex Mutex;
    std::map<int, unsigned> Timers;
    double SamplesPerBuffer = 0.0;
    int Saves = 0;
    std::deque<Answer> Answers;
    std::vector<std::string> Asked, Reports;
    EndChoice Choice = EndChoice::Continue;
};

// The card, its clocks and the analysis an engine runs against; Advance moves them all on.
struct CalibrationRig {
    ManualClockSource Source;
    TimestampClock Clock{Source};
    IdleAnalysisHost AnalysisOwner;
    AnalysisCore Core{AnalysisOwner, Clock};
    AppSettings App;
    RecordingHost Host;
    RecordingClockSetter SystemClock;
    std::atomic<uint32_t> Ticks{1000};
    double SampleSeconds = 0.0; // card seconds of samples delivered so far
    double CardRateError = 0.0; // the card's true rate / nominal - 1

    // `seconds` of real time pass: the counter, the tick count and the card's samples move on.
    void Advance(double seconds) {
        Source.Counter += static_cast<int64_t>(seconds * CounterPerSecond);
        Ticks += static_cast<uint32_t>(seconds * 1000);
        SampleSeconds += seconds * (1.0 + CardRateError);
        const auto lock = Core.HoldAnalysis();
        Core.ClockRegression.TotalSamples =
            static_cast<uint64_t>(std::llround(SampleSeconds * Rate));
        Core.ClockRegression.CounterNow = Source.Counter;
    }
};

} // namespace kv::caltest
