// SPDX-License-Identifier: GPL-3.0-or-later
// Measures a recording exactly as the live program does: ProcessBuffer fed in capture-sized
// buffers whose lengths follow the beat with the fractional carry and centring adjustment, with
// the measuring view's one-shot timers run on audio time.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "analysis/AnalysisCore.h"
#include "audio/BufferLengths.h"
#include "audio/CaptureSource.h"
#include "audio/SoundFile.h"

namespace kv {

class CSoundIn;

// Sample rates a recording may have: sound cards offer 8 kHz to 384 kHz.
inline constexpr uint32_t LowestSampleRate = 8000;
inline constexpr uint32_t HighestSampleRate = 384000;

struct AnalyzeOptions {
    std::string Train = "18000 vph";
    double LiftAngle = 52.0;
    int Escapement = 0;
    int Hpf = 1;
    int Precise = 0;       // unlock times refined to a fraction of a sample
    int AutoThreshold = 0; // the threshold follows the noise floor
    double ThresholdPercent = 5.0;
    double MeasuringTime = 8.0;
    int Averaging = 0;
    double Scale = 1.0;
    int Agc = 0; // 1: the automatic gain step after every buffer, on the playback gain
    int Teeth = 0;
    double Every = 0.0; // seconds of audio between readings; 0 = only the last
    std::string File;
    bool Quiet = false;       // --quiet: no progress line on standard error
    bool ListDevices = false; // print the input devices instead of measuring
    std::string Device;       // measure live from this input device instead of a file
    double LiveSeconds = 0.0; // how long to measure live
    unsigned LiveSampleRate = 96000;
};

// The command line's defaults: the automatic threshold and precision timing, which read real
// microphones at any level alike. A fixed `--threshold` switches the automatic threshold off.
// The members' own defaults are the measuring window's start-up settings.
AnalyzeOptions CommandLineDefaults();

// One line of output: the readings after `Seconds` of audio.
struct Reading {
    double Seconds = 0.0;
    std::string Train;
    double BeatPeriod = 0.0;
    std::optional<double> RateSecondsPerDay;
    bool RateWindowFull = false;
    std::optional<double> AccumulatedRateSecondsPerDay; // none before the first interval
    std::optional<double> AmplitudeDegrees;
    std::optional<double> BeatErrorMs;
    int64_t BeatCount = 0;
    std::optional<double> DeviationSeconds; // none before the first interval
    std::optional<double> SignalNoiseDb;    // none before the first tick
    int64_t Ticks = 0;
    // Precision timing only: ticks timed by the refiner, and ticks that kept the detected time.
    std::optional<int64_t> RefinedTicks;
    std::optional<int64_t> FallbackTicks;
};

std::string ReadingToJson(const Reading& reading);

// Parses the command line; on failure returns nothing and sets `error`.
std::optional<AnalyzeOptions> ParseAnalyzeArguments(const std::vector<std::string>& args,
                                                    std::string& error);

class AnalyzeSession : private AnalysisHost {
public:
    explicit AnalyzeSession(const AnalyzeOptions& options);

    // Analyses a stream of mono samples a capture buffer at a time, filtering them in place as
    // the capture buffers are; `report` receives each reading. Memory does not grow with the
    // stream's length.
    void Run(MonoSampleStream& input, const std::function<void(const Reading&)>& report);
    // The same for samples in memory.
    void Run(std::vector<int16_t> samples, unsigned sampleRate,
             const std::function<void(const Reading&)>& report);

    // Measures `seconds` of live sound from `device` through the capture object; false (with the
    // capture's messages in `error`) when capture cannot start.
    bool RunLive(CaptureSource& source, const std::string& device, unsigned sampleRate,
                 double seconds, const std::function<void(const Reading&)>& report,
                 std::string& error);

    Reading CurrentReading() const;
    const AnalysisCore& Core() const { return Analysis; }

    // Called by Run after each analysed buffer with the samples analysed so far (progress).
    std::function<void(uint64_t samplesDone)> Progress;

private:
    void StopMeasurement() override;
    void StartMeasurement() override;
    void StartTimer(int id, unsigned milliseconds) override;
    void KillTimer(int id) override;
    void SetCaptureRingSize(int n) override;
    void SetCaptureSamplesPerBuffer(double samples) override;
    void SetCaptureBufferAdjust(double samples) override;

    void ApplyOptions();
    void StartAnalysis(unsigned sampleRate);
    void AfterBuffer(size_t n, unsigned sampleRate);
    void FireDueTimers();
    void OnTimer(int id);

    AnalyzeOptions Options;
    AnalysisCore Analysis;
    BufferLengthSequence Lengths;
    std::deque<size_t> QueuedLengths; // buffers handed to the "device", in capture order
    std::map<int, double> TimerDue;   // timer id -> audio time in ms
    std::atomic<double> AudioMs{0.0}; // written by the capture worker when live
    double NextReport = 0.0;
    std::function<void(const Reading&)> Report;
    CSoundIn* Live = nullptr; // the capture object while measuring live
    int InputLevel = 32768;   // the level the automatic gain step moves along with the gain
};

} // namespace kv
