// SPDX-License-Identifier: GPL-3.0-or-later
// A playback measured in the window: the recording reaches the analysis whole and in order while
// the start of measuring or the analysis is held up, and a newly chosen recording is a new
// measurement.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "FreshHomeFrame.h"
#include "PumpEvents.h"
#include "TickSynthesizer.h"
#include "audio/WaveFile.h"
#include "support/FakeMixerControl.h"

namespace kv {
namespace {

using test::WaitFor;

constexpr unsigned Rate = 48000;
constexpr double SecondsPerDay = 86400.0;
constexpr double RandomStartSteps = 32767.0; // RandomStart's value runs 0..32767 over the data

// A capture mixer that takes a second to open, as a sound card's can on a busy machine: the start
// of measuring is held up after the capture has begun.
struct SlowMixer : test::FakeMixerControl {
    bool Open(const std::string& device) override {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return FakeMixerControl::Open(device);
    }
};

struct PlaybackMeasurement : test::FreshHomeFrame {
    PlaybackMeasurement() : FreshHomeFrame("kv-playmeasure-") {}

    void SetUp() override {
        FreshHomeFrame::SetUp();
        View().Hooks.MessageSink = [](const QString&) {};
        AnalysisCore& core = View().Core();
        core.Params.TickInterval = "18000 vph";
        core.ParseTrain("18000 vph");
        core.Settings.DuplexAudio = 0;
    }
    MeasuringSession& Session() { return View().Session(); }
    SlowMixer Microphone; // the frame's faders use the mixers until TearDown
    test::FakeMixerControl Speakers;

    // A watch of `rate` s/d recorded for `seconds`; its path.
    std::string Record(const std::string& name, double rate, double seconds) {
        synth::SynthOptions o;
        o.BeatsPerHour = 18000;
        o.RateSecondsPerDay = rate;
        o.SampleRate = Rate;
        o.Seconds = seconds;
        const std::string path = (Home / name).string();
        EXPECT_TRUE(WriteWaveFile(path, synth::Synthesize(o).Samples, Rate, 1));
        return path;
    }
    // Waits until the running measurement has analysed `seconds` of sound since its start.
    bool Analysed(double seconds) {
        return WaitFor(
            [&] {
                const auto lock = View().Core().HoldAnalysis();
                return View().Core().Measurement.Running &&
                       View().Core().Detector.SamplePosition >= seconds * Rate;
            },
            30000);
    }
};

// Without a sound card the computer's clock paces the playback. A mixer slow to open holds up the
// start after the capture has begun, then the analysis stops taking buffers for longer than the
// capture ring holds: still the playback starts where it was drawn and goes on sample by sample,
// and the deviation and the accumulated rate are the watch's.
TEST_F(PlaybackMeasurement, StallsDelayTheRecordingAndNeverSkipAnyOfIt) {
    constexpr double WatchRate = 6.0;
    constexpr size_t DrawnStart = 25 * 9600 + 480; // 25 beats and 10 ms into the recording
    Session().Mixer().UseMixers(Microphone, Speakers);
    Source.Names.clear(); // no input device: the clocked source captures
    View().App().WaveFile2 = Record("plus6.wav", WatchRate, 20);
    Session().TogglePlayback(); // opens the file now, starts measuring after this command
    const size_t length = Session().WaveformState().PlaybackLength();
    const int q = static_cast<int>(std::ceil(DrawnStart * RandomStartSteps / length));
    const auto start = static_cast<size_t>(static_cast<double>(length) * q / RandomStartSteps);
    Session().Transport().PlaybackStartDraw = [q] { return q; };
    ASSERT_TRUE(Analysed(2));
    {
        const auto stall = View().Core().HoldAnalysis();
        std::this_thread::sleep_for(std::chrono::seconds(5)); // the ring holds 4 s
    }
    ASSERT_TRUE(Analysed(9));

    const auto lock = View().Core().HoldAnalysis();
    const auto analysed = static_cast<size_t>(View().Core().Detector.SamplePosition);
    EXPECT_EQ(Session().WaveformState().PlaybackPosition(), (start + analysed) % length);
    EXPECT_EQ(Session().WaveformState().LoopCount(), static_cast<int>((start + analysed) / length));
    const MeasurementState& m = View().Core().Measurement;
    EXPECT_NEAR(m.Deviation, m.TickElapsed * WatchRate / SecondsPerDay, 0.5e-3);
    EXPECT_NEAR(m.AccumulatedRate * SecondsPerDay, WatchRate, 1.0);
}

// "Choose waveform file ..." during a playback: the accumulated rate is the new recording's alone.
TEST_F(PlaybackMeasurement, AChosenRecordingIsANewMeasurement) {
    constexpr double FirstRate = -3.0, SecondRate = 10.0;
    Source.Speed = 10; // the capture paces the playback at ten times real time
    Session().Transport().PlaybackStartDraw = [] { return 0; };
    View().App().WaveFile2 = Record("minus3.wav", FirstRate, 30);
    Session().TogglePlayback();
    ASSERT_TRUE(Analysed(20));
    Session().SetWaveformFile(Record("plus10.wav", SecondRate, 30));
    ASSERT_TRUE(Analysed(20));
    const auto lock = View().Core().HoldAnalysis();
    EXPECT_NEAR(View().Core().Measurement.AccumulatedRate * SecondsPerDay, SecondRate, 0.5);
}

} // namespace
} // namespace kv
