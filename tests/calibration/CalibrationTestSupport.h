// SPDX-License-Identifier: GPL-3.0-or-later
// What the calibration tests share: a hand-driven counter and a host that records the timers and
// answers the questions as told.
#pragma once

#include <atomic>
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

} // namespace kv::caltest
