// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/AnalyzeSession.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "audio/SoundIn.h"
#include "text/NumberText.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

std::string JsonNumber(std::optional<double> value) {
    if (!value || !std::isfinite(*value)) return "null";
    return FormatC("%.10g", *value);
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += FormatC("\\u%04x", static_cast<unsigned>(c));
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace

std::string ReadingToJson(const Reading& r) {
    std::string json = "{";
    json += "\"t\":" + JsonNumber(r.Seconds);
    json += ",\"train\":" + JsonString(r.Train);
    json += ",\"beat_period\":" + JsonNumber(r.BeatPeriod);
    json += ",\"rate_sd\":" + JsonNumber(r.RateSecondsPerDay);
    json += std::string(",\"rate_window_full\":") + (r.RateWindowFull ? "true" : "false");
    json += ",\"accumulated_rate_sd\":" + JsonNumber(r.AccumulatedRateSecondsPerDay);
    json += ",\"amplitude_deg\":" + JsonNumber(r.AmplitudeDegrees);
    json += ",\"beat_error_ms\":" + JsonNumber(r.BeatErrorMs);
    json += ",\"beat_count\":" + std::to_string(r.BeatCount);
    json += ",\"deviation_s\":" + JsonNumber(r.DeviationSeconds);
    json += ",\"signal_noise_db\":" + JsonNumber(r.SignalNoiseDb);
    json += ",\"ticks\":" + std::to_string(r.Ticks);
    if (r.RefinedTicks) json += ",\"refined_ticks\":" + std::to_string(*r.RefinedTicks);
    if (r.FallbackTicks) json += ",\"fallback_ticks\":" + std::to_string(*r.FallbackTicks);
    return json + "}";
}

AnalyzeSession::AnalyzeSession(const AnalyzeOptions& options) : Options(options), Analysis(*this) {}

void AnalyzeSession::ApplyOptions() {
    AnalysisCore& a = Analysis;
    a.Params.LiftAngle = ClampLiftAngle(Options.LiftAngle);
    a.Params.Coaxial = Options.Escapement;
    a.Params.UnlockThreshold = std::clamp(
        static_cast<int>(RoundHalfAway(Options.ThresholdPercent / 100.0 * 32767.0)), 1, 32767);
    a.Params.Averaging = Options.Averaging;
    a.Params.EscapeWheelTeeth = std::clamp(Options.Teeth, 0, MaxTeeth);
    a.Settings.HPF = Options.Hpf;
    a.Settings.PrecisionTiming = Options.Precise;
    a.Settings.AutoThreshold = Options.AutoThreshold;
    a.Settings.AudioScale = Options.Scale;
    a.Settings.AGC = Options.Agc;
    a.Trace.Shown = false;
    a.PlayingBack = true;
}

void AnalyzeSession::StartAnalysis(unsigned sampleRate) {
    Analysis.Settings.SampleRate = sampleRate;
    ApplyOptions();
    const bool detectTrain = ParseTrainText(Options.Train).Kind == TrainTextKind::StartAuto;
    if (!detectTrain) {
        Analysis.Params.TickInterval = Options.Train;
        Analysis.ParseTrain(Options.Train);
    }
    Analysis.SetMeasuringTime(FormatC("%.17g", Options.MeasuringTime));
    StartMeasurement();
    if (detectTrain) Analysis.ParseTrain("AUTO");
    NextReport = Options.Every;
}

// After each analysed buffer: audio time advances, due timers run, a reading may be due.
void AnalyzeSession::AfterBuffer(size_t n, unsigned sampleRate) {
    AudioMs = AudioMs + static_cast<double>(n) * 1000.0 / sampleRate;
    FireDueTimers();
    if (Options.Every > 0.0 && AudioMs / 1000.0 >= NextReport) {
        Report(CurrentReading());
        while (NextReport <= AudioMs / 1000.0)
            NextReport += Options.Every;
    }
}

namespace {

// Reads a stream ahead by one block, so that the end is known before the last buffer is analysed.
class SampleLookahead {
public:
    explicit SampleLookahead(MonoSampleStream& input) : Input(input), Block(BlockSamples) {}

    bool AtEnd() {
        Refill();
        return Start == End;
    }

    // Up to `count` samples; fewer only at the end.
    size_t Take(int16_t* out, size_t count) {
        size_t done = 0;
        while (done < count && !AtEnd()) {
            const size_t n = std::min(count - done, End - Start);
            std::copy_n(Block.data() + Start, n, out + done);
            Start += n;
            done += n;
        }
        return done;
    }

private:
    // Samples read from the stream at a time.
    static constexpr size_t BlockSamples = 16384;

    void Refill() {
        if (Start < End) return;
        Start = 0;
        End = Input.Read(Block.data(), Block.size());
    }

    MonoSampleStream& Input;
    std::vector<int16_t> Block;
    size_t Start = 0;
    size_t End = 0;
};

} // namespace

void AnalyzeSession::Run(MonoSampleStream& input,
                         const std::function<void(const Reading&)>& report) {
    const unsigned sampleRate = input.SampleRate();
    SampleLookahead ahead(input);
    // A periodic reading at the very end would repeat the final one.
    Report = [&](const Reading& r) {
        if (!ahead.AtEnd()) report(r);
    };
    StartAnalysis(sampleRate);
    std::vector<int16_t> buffer;
    uint64_t position = 0;
    while (!ahead.AtEnd()) {
        const size_t wanted = QueuedLengths.front();
        QueuedLengths.pop_front();
        if (buffer.size() < wanted) buffer.resize(wanted);
        const size_t n = ahead.Take(buffer.data(), wanted);
        Analysis.ProcessBuffer(n, buffer.data(), Analysis.Derived.CaptureBufferCount - 1);
        QueuedLengths.push_back(Lengths.RequeueLength());
        position += n;
        AudioMs = static_cast<double>(position) * 1000.0 / sampleRate;
        AfterBuffer(0, sampleRate);
        if (Progress) Progress(position);
    }
    report(CurrentReading());
}

void AnalyzeSession::Run(std::vector<int16_t> samples, unsigned sampleRate,
                         const std::function<void(const Reading&)>& report) {
    MemorySampleStream input(std::move(samples), sampleRate);
    Run(input, report);
}

bool AnalyzeSession::RunLive(CaptureSource& source, const std::string& device, unsigned sampleRate,
                             double seconds, const std::function<void(const Reading&)>& report,
                             std::string& error) {
    if (ParseTrainText(Options.Train).Kind == TrainTextKind::StartAuto) {
        error = "--train AUTO needs a recording; give the train for live input";
        return false;
    }
    std::mutex messageLock;
    std::string messages;
    CSoundIn sound(
        source,
        [this, sampleRate, seconds](size_t n, int16_t* samples, int remaining,
                                    std::optional<int64_t> endCounter) {
            // A device faster than real time (a file, a null clock) may deliver more than was
            // asked for before the waiting loop looks again; the reading covers exactly S seconds.
            if (AudioMs >= seconds * 1000.0) return;
            Analysis.ProcessBuffer(n, samples, remaining, endCounter);
            AfterBuffer(n, sampleRate);
        },
        [&](const std::string& m) {
            std::lock_guard lock(messageLock);
            messages += messages.empty() ? m : " " + m;
        });
    sound.SetCallbackLock([this] { return Analysis.HoldAnalysis(); });
    sound.DeviceName = device;
    sound.SampleRate = sampleRate;
    Live = &sound;
    Report = report;
    StartAnalysis(sampleRate);
    if (sound.Start() != 0) {
        Live = nullptr;
        std::lock_guard lock(messageLock);
        error = messages.empty() ? "cannot start sound capture" : messages;
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int64_t>(seconds * 2000 + 10000));
    while (AudioMs < seconds * 1000.0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    sound.Close();
    Live = nullptr;
    report(CurrentReading());
    return true;
}

Reading AnalyzeSession::CurrentReading() const {
    const auto lock = Analysis.HoldAnalysis();
    const AnalysisCore& a = Analysis;
    const MeasurementState& m = a.Measurement;
    const double T = a.Derived.BeatPeriod;
    const bool fork = a.Derived.ForkMode();
    Reading r;
    r.Seconds = AudioMs / 1000.0;
    r.Train = a.Params.TickInterval;
    r.BeatPeriod = T;
    if (m.RateMeasured) r.RateSecondsPerDay = m.Rate * 86400.0;
    r.RateWindowFull = m.RateWindowFull;
    if (m.MeasuredTime > 0.0) {
        r.AccumulatedRateSecondsPerDay = m.AccumulatedRate * 86400.0;
        r.DeviationSeconds = m.Deviation;
    }
    if (!fork && a.Params.Escapement() != EscapementType::Pendulum && m.AmplitudeTrusted &&
        m.Amplitude > a.Params.LiftAngle)
        r.AmplitudeDegrees = m.Amplitude;
    if (!fork && m.BeatErrorStable) r.BeatErrorMs = m.BeatError * T * 1000.0;
    r.BeatCount = a.Detector.BeatCount;
    if (a.Detector.UnlockCount > 0) r.SignalNoiseDb = 20.0 * std::log10(a.Detector.SignalToNoise);
    r.Ticks = a.Detector.UnlockCount;
    if (a.PrecisionTimingInForce()) {
        r.RefinedTicks = a.Refiner.RefinedTicks();
        r.FallbackTicks = a.Refiner.FallbackTicks();
    }
    return r;
}

void AnalyzeSession::StopMeasurement() {
    for (int id : {TimerAutoStop, TimerTrainDetect, TimerCentre})
        KillTimer(id);
    Analysis.EndRun();
    QueuedLengths.clear();
}

void AnalyzeSession::StartMeasurement() {
    Analysis.BeginRun();
    Lengths.Restart();
    QueuedLengths.clear();
    for (int i = 0; i < Analysis.Derived.CaptureBufferCount; ++i)
        QueuedLengths.push_back(Lengths.InitialLength());
    StartTimer(TimerAutoStop, Analysis.AutoStopDelayMs());
    if (Analysis.Settings.Centre)
        StartTimer(TimerCentre, static_cast<unsigned>(Analysis.Derived.BeatPeriod * 4000.0));
}

void AnalyzeSession::SetCaptureRingSize(int n) {
    if (Live) Live->SetRingSize(n);
}

void AnalyzeSession::SetCaptureSamplesPerBuffer(double samples) {
    Lengths.SetSamplesPerBuffer(samples);
    if (Live) Live->SetSamplesPerBuffer(samples);
}

void AnalyzeSession::SetCaptureBufferAdjust(double samples) {
    Lengths.SetBufferAdjust(samples);
    if (Live) Live->SetBufferAdjust(samples);
}

void AnalyzeSession::StartTimer(int id, unsigned milliseconds) {
    TimerDue[id] = AudioMs + milliseconds;
}

void AnalyzeSession::KillTimer(int id) {
    TimerDue.erase(id);
}

void AnalyzeSession::FireDueTimers() {
    for (;;) {
        auto due =
            std::min_element(TimerDue.begin(), TimerDue.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        if (due == TimerDue.end() || due->second > AudioMs) return;
        const int id = due->first;
        TimerDue.erase(due); // one-shot
        OnTimer(id);
    }
}

void AnalyzeSession::OnTimer(int id) {
    switch (id) {
    case TimerAutoStop:
        Analysis.OnAutoStopTimer();
        break;
    case TimerTrainDetect:
        Analysis.ParseTrain("TAUTO");
        break;
    case TimerCentre:
        if (Analysis.Measurement.Running) Analysis.CentreNow();
        break;
    case TimerPerBuffer:
        if (Analysis.Settings.AGC && Analysis.Measurement.Running)
            InputLevel =
                Analysis.AutomaticGainStep(SoftwareGainStep, InputLevel).value_or(InputLevel);
        break;
    default: // the repaint has nothing to do without a window
        break;
    }
}

} // namespace kv
