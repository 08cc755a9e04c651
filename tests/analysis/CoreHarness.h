// SPDX-License-Identifier: GPL-3.0-or-later
// A host for the analysis core in tests: runs the measuring loop, records timer and box calls,
// and feeds signals in capture-sized buffers.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include "analysis/AnalysisCore.h"
#include "audio/BufferLengths.h"

namespace kv::test {

class CoreHarness : public AnalysisHost {
public:
    CoreHarness() : Core(*this) {}

    void StopMeasurement() override {
        ++Stops;
        Core.EndRun();
    }
    void StartMeasurement() override {
        ++Starts;
        Core.BeginRun();
        Lengths.Restart();
        Queue.clear();
        for (int i = 0; i < Core.Derived.CaptureBufferCount; ++i)
            Queue.push_back(Lengths.InitialLength());
    }
    void StartTimer(int id, unsigned ms) override { Timers[id] = ms; }
    void KillTimer(int id) override { Timers.erase(id); }
    void RefreshTrainBox() override { ++TrainBoxRefreshes; }
    void RefreshMeasuringTimeBox() override { ++MeasuringTimeBoxRefreshes; }
    void SetCaptureSamplesPerBuffer(double s) override { Lengths.SetSamplesPerBuffer(s); }
    void SetCaptureBufferAdjust(double s) override { Lengths.SetBufferAdjust(s); }
    void WriteLogRecord(int mode) override { LogModes.push_back(mode); }

    // Sets the sample rate and train, then starts measuring.
    void Start(unsigned sampleRate, const char* train = "18000 vph") {
        Core.Settings.SampleRate = sampleRate;
        Core.Params.TickInterval = train;
        Core.ParseTrain(train);
        StartMeasurement();
    }

    // Starts with the DC blocker and without centring, for exact impulse timing (ClickTrain).
    void StartForClicks(unsigned sampleRate = 48000, const char* train = "18000 vph") {
        Core.Settings.HPF = 0;
        Core.Settings.Centre = 0;
        Start(sampleRate, train);
    }

    // Feeds the signal buffer by buffer with capture lengths; returns the samples consumed.
    size_t Feed(std::vector<int16_t> signal) {
        size_t position = 0;
        while (position < signal.size() && !Queue.empty()) {
            size_t n = std::min(Queue.front(), signal.size() - position);
            Queue.erase(Queue.begin());
            Core.ProcessBuffer(n, signal.data() + position, Core.Derived.CaptureBufferCount - 1);
            Queue.push_back(Lengths.RequeueLength());
            position += n;
        }
        return position;
    }

    AnalysisCore Core;
    BufferLengthSequence Lengths;
    std::vector<size_t> Queue;
    std::map<int, unsigned> Timers;
    std::vector<int> LogModes;
    int Starts = 0, Stops = 0, TrainBoxRefreshes = 0, MeasuringTimeBoxRefreshes = 0;
};

// A click train made for exact timing with the high-pass filter off (the DC blocker turns a
// single-sample impulse into one loud sample followed by a faint tail). Each tick is an impulse at
// its unlock; with a lift, a louder drop follows after a one-sample quiet step.
struct ClickTrain {
    double SampleRate = 48000;
    double Seconds = 20;
    std::vector<double> Periods{0.2}; // beat lengths in turn, s
    double FirstTick = 0.05;
    double LiftSeconds = 0; // 0: no drop click
    int16_t UnlockLevel = 8000;
    int16_t DropLevel = 16000;
    std::vector<int> Missing; // beat indices left silent

    std::vector<int16_t> Make(std::vector<int64_t>* unlocks = nullptr) const {
        std::vector<int16_t> s(static_cast<size_t>(Seconds * SampleRate), 0);
        double t = FirstTick;
        for (int beat = 0; t * SampleRate + 1 < s.size(); ++beat) {
            const int64_t at = static_cast<int64_t>(std::llround(t * SampleRate));
            const bool silent = std::find(Missing.begin(), Missing.end(), beat) != Missing.end();
            if (!silent) {
                s[at] = UnlockLevel;
                if (unlocks) unlocks->push_back(at);
                if (LiftSeconds > 0) {
                    const int64_t drop = at + std::llround(LiftSeconds * SampleRate);
                    if (drop + 1 < static_cast<int64_t>(s.size())) {
                        s[drop] = static_cast<int16_t>(DropLevel / 64);
                        s[drop + 1] = DropLevel;
                    }
                }
            }
            t += Periods[beat % Periods.size()];
        }
        return s;
    }
};

} // namespace kv::test
