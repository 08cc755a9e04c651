// SPDX-License-Identifier: GPL-3.0-or-later
// A looping playback measured as the capture delivers it: the wrap joins two unrelated moments of a
// recording, which must read as a break in the signal, not as a rate error; auto-centring, which
// only changes buffer lengths, never moves a tick; and no interruption of the sound enters the
// accumulated rate or the deviation.
#include <gtest/gtest.h>

#include <cmath>

#include "../settings/SettingsTestSupport.h"
#include "CoreHarness.h"
#include "TickSynthesizer.h"
#include "audio/WaveFile.h"
#include "audio/WaveformFiles.h"

namespace kv::test {
namespace {

constexpr unsigned Rate = 48000;
// One sample of timing (21 us) over the 8 s rate window is about 0.23 s/d.
constexpr double RateTolerance = 0.3;
// RandomStart's value runs 0..32767 over the whole recording.
constexpr double RandomStartSteps = 32767.0;

// Plays a recording in a loop in place of the (silent) capture, as the view does.
class LoopingHost : public CoreHarness {
public:
    int64_t RecordOrPlayBuffer(int16_t* samples, size_t n) override {
        return Files.Process(samples, n);
    }
    bool Open(const std::string& path) {
        unsigned rate = Rate;
        int channels = 1;
        Core.PlayingBack = Files.OpenForReading(path, rate, channels);
        return Core.PlayingBack;
    }
    // Feeds `seconds` of capture in one-second steps, calling `each` after every step.
    template <typename Check> void Measure(double seconds, Check each) {
        for (double t = 1; t <= seconds; ++t) {
            Feed(std::vector<int16_t>(Rate, 0));
            each(t);
        }
    }
    // Moves the playback on by `samples`, give or take 1/32767 of the recording, as a start at a
    // random place does.
    void MoveBy(size_t samples) {
        const double to = static_cast<double>(Files.PlaybackPosition() + samples);
        Files.RandomStart(
            static_cast<int>(std::ceil(to * RandomStartSteps / Files.PlaybackLength())));
    }
    WaveformFiles Files;
};

std::string WriteWatch(const TempFolder& dir, double vph, double rate, double seconds,
                       synth::SynthResult* made = nullptr) {
    synth::SynthOptions o;
    o.BeatsPerHour = vph;
    o.RateSecondsPerDay = rate;
    o.BeatErrorMs = 0.5;
    o.AmplitudeDeg = 260;
    o.SampleRate = Rate;
    o.Seconds = seconds;
    const std::string path = dir / "watch.wav";
    synth::SynthResult watch = synth::Synthesize(o);
    EXPECT_TRUE(WriteWaveFile(path, watch.Samples, Rate, 1));
    if (made) *made = std::move(watch);
    return path;
}

TEST(LoopingPlayback, TheWrapIsABreakNotARateError) {
    TempFolder dir;
    // 20.3 s is not a whole number of beats: every wrap splices the ticks with a phase jump.
    const std::string path = WriteWatch(dir, 21600, -10.0, 20.3);
    LoopingHost host;
    ASSERT_TRUE(host.Open(path));
    host.Start(Rate, "21600 vph");
    int checked = 0;
    double lastOffset = NAN;
    host.Measure(75, [&](double t) {
        const MeasurementState& m = host.Core.Measurement;
        if (!m.RateWindowFull) return;
        ++checked;
        EXPECT_NEAR(m.Rate * 86400.0, -10.0, RateTolerance) << "at " << t;
        EXPECT_NEAR(m.AccumulatedRate * 86400.0, -10.0, RateTolerance) << "at " << t;
        // The deviation follows the rate alone, without a step where the recording wraps.
        const double offset = m.Deviation - m.TickElapsed * -10.0 / 86400.0;
        if (!std::isnan(lastOffset)) {
            EXPECT_NEAR(offset, lastOffset, 0.0003) << "at " << t;
        }
        lastOffset = offset;
    });
    EXPECT_GE(host.Files.LoopCount(), 3);
    EXPECT_GT(checked, 55);

    // The tape shows each break as a row without a tick.
    int emptyRows = 0;
    const TapeState& tape = host.Core.Tape;
    for (int i = 2; i < tape.TapeWriteIndex; ++i)
        emptyRows += tape.Entries[static_cast<size_t>(i)].Time == 0;
    EXPECT_GE(emptyRows, host.Files.LoopCount());
}

struct Snapshot {
    double Rate, Deviation, AccumulatedRate;
    int64_t LastTick;
};

std::vector<Snapshot> MeasureSeamless(bool centreEverySecond) {
    TempFolder dir;
    // 18000 vph at +4.5 s/d is a beat of exactly 9599.5 samples; 30 double beats loop seamlessly.
    const std::string path = WriteWatch(dir, 18000, 4.5, 30 * 19199.0 / Rate);
    LoopingHost host;
    EXPECT_TRUE(host.Open(path));
    host.Start(Rate);
    std::vector<Snapshot> seen;
    host.Measure(40, [&](double) {
        if (centreEverySecond) host.Core.CentreNow();
        const MeasurementState& m = host.Core.Measurement;
        seen.push_back({m.Rate, m.Deviation, m.AccumulatedRate, host.Core.Detector.LastTickSample});
    });
    return seen;
}

TEST(LoopingPlayback, CentringMovesBuffersNeverTicks) {
    const std::vector<Snapshot> plain = MeasureSeamless(false);
    const std::vector<Snapshot> centred = MeasureSeamless(true);
    ASSERT_EQ(plain.size(), centred.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(plain[i].LastTick, centred[i].LastTick) << "second " << i;
        EXPECT_NEAR(plain[i].Rate, centred[i].Rate, 1e-12) << "second " << i;
        EXPECT_NEAR(plain[i].Deviation, centred[i].Deviation, 1e-12) << "second " << i;
        EXPECT_NEAR(plain[i].AccumulatedRate, centred[i].AccumulatedRate, 1e-12) << "second " << i;
    }
    EXPECT_NEAR(centred.back().Rate * 86400.0, 86400.0 / 19199.0, RateTolerance);
}

// A centring shift, a restart (the train entered again, Clear) or a jump of the playback, falling
// between a tick's unlock and its drop: the accumulated rate and the deviation take no interval
// that spans it, with and without precision timing.
TEST(LoopingPlayback, InterruptionsNeverEnterTheAccumulatedRateOrTheDeviation) {
    constexpr double WatchRate = -3.0, SecondsPerDay = 86400.0;
    constexpr size_t TenBeatsAndFiveMs = 10 * 9600 + 240; // at 18000 vph and 48 kHz
    TempFolder dir;
    synth::SynthResult watch;
    const std::string path = WriteWatch(dir, 18000, WatchRate, 35, &watch);
    const double unlock =
        *std::upper_bound(watch.UnlockTimes.begin(), watch.UnlockTimes.end(), 12.0);
    const auto cut = static_cast<size_t>((unlock + watch.LiftTime / 2) * Rate);
    using Interruption = void (*)(LoopingHost&);
    const std::pair<const char*, Interruption> interruptions[] = {
        {"centring", [](LoopingHost& h) { h.Core.CentreNow(); }},
        {"train entered again", [](LoopingHost& h) { h.Core.ParseTrain("18000 vph"); }},
        {"Clear", [](LoopingHost& h) { h.Core.Clear("8 s"); }},
        {"playback moved", [](LoopingHost& h) { h.MoveBy(TenBeatsAndFiveMs); }},
    };
    for (const int precise : {0, 1}) {
        for (const auto& [name, interrupt] : interruptions) {
            LoopingHost host;
            ASSERT_TRUE(host.Open(path));
            host.Core.Settings.PrecisionTiming = precise;
            host.Start(Rate);
            host.Feed(std::vector<int16_t>(cut, 0));
            interrupt(host);
            host.Feed(std::vector<int16_t>(30 * Rate - cut, 0));
            const MeasurementState& m = host.Core.Measurement;
            EXPECT_NEAR(m.AccumulatedRate * SecondsPerDay, WatchRate, 0.05) << name << precise;
            EXPECT_NEAR(m.Deviation, m.TickElapsed * WatchRate / SecondsPerDay, 0.2e-3)
                << name << precise;
        }
    }
}

} // namespace
} // namespace kv::test
