// SPDX-License-Identifier: GPL-3.0-or-later
// Automatic level control during the program's own playback: a recording whose ticks peak at 5 %
// of full scale and one that clips are measured as well as a well-levelled recording of the same
// watch, once the playback gain has settled. No fader is bound here, as on a machine without a
// sound card's mixer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "FreshHomeFrame.h"
#include "PumpEvents.h"
#include "SignalSource.h"
#include "SynthPresets.h"
#include "TickSynthesizer.h"
#include "audio/WaveFile.h"
#include "ui/app/MainFrame.h"

namespace kv {
namespace {

using test::WaitFor;

constexpr unsigned Rate = 48000;
constexpr double Seconds = 70; // about 35 s to settle from 160 %, then the measuring window
constexpr double Speed = 10;   // the capture paces the playback at ten times real time

struct Readings {
    double Rate = NAN;
    double BeatError = NAN;
    double Amplitude = NAN;
    double Gain = NAN; // the playback gain at the end
    int Clipped = 0;   // samples clipped in the last buffer
};

struct PlaybackAgc : test::FreshHomeFrame {
    PlaybackAgc() : FreshHomeFrame("kv-playagc-") {}
    QStringList Messages;

    void SetUp() override {
        FreshHomeFrame::SetUp();
        View().Hooks.MessageSink = [this](const QString& m) { Messages << m; };
        // From the start, no loop.
        View().Session().Transport().PlaybackStartDraw = [] { return 0; };
        AnalysisCore& core = View().Core();
        core.Params.TickInterval = "28800 vph";
        core.ParseTrain("28800 vph");
        core.Settings.SampleRate = Rate;
        core.Settings.DuplexAudio = 0;
        Source.Speed = Speed;
    }

    // The watch recorded with its loudest click at `peak` of full scale (clipped above 1).
    std::string Record(double peak) {
        constexpr double SynthesizedPeak = 0.5;
        synth::SynthOptions o;
        o.BeatsPerHour = 28800;
        o.RateSecondsPerDay = 5.0;
        o.BeatErrorMs = 0.5;
        o.AmplitudeDeg = 280;
        o.SampleRate = Rate;
        o.Seconds = Seconds;
        o.UnlockPeak = SynthesizedPeak / o.DropGain;
        o.Seed = 9;
        std::vector<int16_t> samples = synth::Synthesize(o).Samples;
        for (int16_t& x : samples)
            x = static_cast<int16_t>(
                std::clamp(std::lround(x * peak / SynthesizedPeak), -32768L, 32767L));
        const std::string path = (Home / ("at" + std::to_string(peak) + ".wav")).string();
        EXPECT_TRUE(WriteWaveFile(path, samples, Rate, 1));
        return path;
    }

    // The synthesizer's quiet laptop microphone at `level` times its own level (clipped above
    // full scale).
    std::string RecordLaptop(double level) {
        synth::SynthPreset p = *synth::FindPreset("laptop-mic");
        p.Options.Seconds = Seconds;
        std::vector<int16_t> samples = synth::SynthesizeRealistic(p.Options, p.Realism).Samples;
        for (int16_t& x : samples)
            x = static_cast<int16_t>(std::clamp(std::lround(x * level), -32768L, 32767L));
        const std::string path = (Home / ("laptop" + std::to_string(level) + ".wav")).string();
        EXPECT_TRUE(WriteWaveFile(path, samples, p.Options.SampleRate, 1));
        return path;
    }

    // Plays the recording once through with ALC on or off; the readings at its end.
    Readings Play(const std::string& path, bool agc) {
        MeasuringSession& session = View().Session();
        View().Core().Settings.AGC = agc;
        View().App().WaveFile2 = path;
        const size_t before = Source.Delivered;
        session.TogglePlayback();
        EXPECT_TRUE(WaitFor([&] { return session.IsRunning(); }, 2000));
        const size_t end = before + static_cast<size_t>((Seconds - 1) * Rate);
        EXPECT_TRUE(WaitFor([&] { return Source.Delivered >= end; }, 60000));
        Readings r;
        {
            const auto lock = View().Core().HoldAnalysis();
            const MeasurementState& m = View().Core().Measurement;
            r = {m.Rate * 86400, std::fabs(m.BeatError * View().Core().Derived.BeatPeriod * 1000),
                 m.Amplitude, View().Core().PlaybackGain, View().Core().Detector.ClipCount};
        }
        session.TogglePlayback();
        return r;
    }
};

bool MeasuresLike(const Readings& r, const Readings& reference) {
    return std::fabs(r.Rate - reference.Rate) <= 0.3 &&
           std::fabs(r.BeatError - reference.BeatError) <= 0.1 &&
           std::fabs(r.Amplitude - reference.Amplitude) <= 0.03 * reference.Amplitude;
}

TEST_F(PlaybackAgc, QuietAndClippingRecordingsMeasureLikeAWellLevelledOne) {
    const Readings reference = Play(Record(0.5), false);
    EXPECT_NEAR(reference.BeatError, 0.5, 0.1);
    EXPECT_NEAR(reference.Amplitude, 280, 0.03 * 280);
    EXPECT_EQ(reference.Gain, 1.0);
    for (const double peak : {0.05, 1.6}) {
        const Readings r = Play(Record(peak), true);
        // The gain brought the loudest click to about three times the 5 % threshold, whichever
        // side it started from.
        EXPECT_NEAR(std::log(r.Gain), std::log(3 * 0.05 / peak), std::log(2.0)) << "peak " << peak;
        EXPECT_TRUE(MeasuresLike(r, reference))
            << "peak " << peak << ": " << r.Rate << " s/d " << r.BeatError << " ms " << r.Amplitude
            << " against " << reference.Rate << " s/d " << reference.BeatError << " ms "
            << reference.Amplitude;
    }
    EXPECT_EQ(View().Core().Settings.AGC, 1) << "nothing to bind is no failure";
}

// A quiet laptop microphone (ticks at 2-3 % of full scale, noise 26 dB under them, the level
// wandering) and the same driven far into clipping: with ALC on, the window reads the watch within
// the recording's 70 s, and the loud one no longer clips.
TEST_F(PlaybackAgc, AQuietAndAClippingMicrophoneReadTheWatch) {
    constexpr double TruthRate = 5.0, TruthBeatError = 0.5, TruthAmplitude = 260;
    AnalysisCore& core = View().Core();
    core.Params.TickInterval = "21600 vph";
    core.ParseTrain("21600 vph");
    for (const double level : {1.0, 60.0}) {
        const Readings r = Play(RecordLaptop(level), true);
        EXPECT_NEAR(r.Rate, TruthRate, 0.5) << "x" << level;
        EXPECT_NEAR(r.BeatError, TruthBeatError, 0.15) << "x" << level;
        EXPECT_NEAR(r.Amplitude, TruthAmplitude, 0.05 * TruthAmplitude) << "x" << level;
        EXPECT_EQ(r.Clipped, 0) << "x" << level;
    }
}

} // namespace
} // namespace kv
