// SPDX-License-Identifier: GPL-3.0-or-later
// The clocked source: its one device, its pace against CLOCK_MONOTONIC with and without a rate
// offset, a new schedule after a stall; and CSoundIn falling back to it during playback when the
// sound system has no usable input device.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/ClockedSource.h"
#include "audio/SoundIn.h"
#include "support/WaitUntil.h"

namespace kv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A buffer handed to the analysis: when it arrived and the frames delivered up to its end.
struct Arrival {
    double Seconds;
    uint64_t Frames;
};

// CSoundIn capturing from a ClockedSource with buffers of `bufferFrames`, logging arrivals.
class PacedCapture {
public:
    PacedCapture(unsigned rate, size_t bufferFrames, int ring = 40)
        : Sound(Clocked,
                [this](size_t n, int16_t* s, int, std::optional<int64_t>) { OnBuffer(n, s); }) {
        Sound.SampleRate = rate;
        Sound.SetRingSize(ring);
        Sound.SetSamplesPerBuffer(static_cast<double>(bufferFrames));
    }
    ~PacedCapture() { Sound.Close(); }

    void OnBuffer(size_t n, const int16_t* samples) {
        const double t = SecondsSince(Started);
        if (StallFirst > 0s && Frames == 0) std::this_thread::sleep_for(StallFirst);
        Frames += n;
        NonZero += static_cast<size_t>(
            std::count_if(samples, samples + n, [](int16_t v) { return v != 0; }));
        std::lock_guard lock(Mutex);
        Log.push_back({t, Frames});
    }

    // Captures for `seconds` and returns the arrivals.
    std::vector<Arrival> Run(double seconds) {
        Started = Clock::now();
        EXPECT_EQ(Sound.Start(), 0);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        Sound.Close();
        std::lock_guard lock(Mutex);
        return Log;
    }

    ClockedSource Clocked;
    std::chrono::milliseconds StallFirst{0};
    Clock::time_point Started;
    uint64_t Frames = 0;
    size_t NonZero = 0;
    std::mutex Mutex;
    std::vector<Arrival> Log;
    CSoundIn Sound;
};

// The stream's rate against the steady clock, in ppm away from `rate`. Each buffer arrives a
// little after the clock time of its last frame; the least late arrival in the first and in the
// last 0.6 s mark two points of the stream's own schedule, free of most scheduling delay.
double MeasuredOffsetPpm(const std::vector<Arrival>& log, unsigned rate) {
    const auto lateness = [&](const Arrival& a) { return a.Seconds - a.Frames / double(rate); };
    const auto byLateness = [&](const Arrival& x, const Arrival& y) {
        return lateness(x) < lateness(y);
    };
    const double end = log.back().Seconds;
    const auto firstEnd =
        std::find_if(log.begin(), log.end(), [](const Arrival& a) { return a.Seconds > 0.6; });
    const auto lastBegin = std::find_if(log.begin(), log.end(),
                                        [&](const Arrival& a) { return a.Seconds > end - 0.6; });
    const Arrival a = *std::min_element(log.begin(), firstEnd, byLateness);
    const Arrival b = *std::min_element(lastBegin, log.end(), byLateness);
    const double measured = double(b.Frames - a.Frames) / (b.Seconds - a.Seconds);
    return (measured / rate - 1.0) * 1e6;
}

TEST(ClockedSource, OffersOneDeviceThatNeedsNoSoundCard) {
    ClockedSource source;
    CaptureRing ring;
    EXPECT_EQ(source.InputDevices(), std::vector<std::string>{ClockedSource::DeviceName});
    EXPECT_EQ(source.QueryDevice(0), SoundInOk);
    EXPECT_EQ(source.QueryDevice(1), SoundInBadDeviceId);
    EXPECT_FALSE(source.Start()) << "nothing opened";
    EXPECT_EQ(source.Open(1, CaptureFormat{48000, 1}, ring), SoundInBadDeviceId);
    EXPECT_EQ(source.Open(0, CaptureFormat{0, 1}, ring), SoundInBadFormat);
    EXPECT_EQ(source.Open(0, CaptureFormat{48000, 0}, ring), SoundInBadFormat);
    EXPECT_EQ(source.Open(0, CaptureFormat{48000, 1}, ring), SoundInOk);
    source.SetRateOffsetPpm(std::nan(""));
    EXPECT_EQ(source.RateOffsetPpm(), 0.0);
    source.SetRateOffsetPpm(-3e6);
    EXPECT_EQ(source.RateOffsetPpm(), -100000.0);
}

TEST(ClockedSource, DeliversSilenceAtTheSampleRateOfTheSteadyClock) {
    PacedCapture capture(48000, 960);
    const std::vector<Arrival> log = capture.Run(2.5);
    ASSERT_GT(log.size(), 90u);
    EXPECT_EQ(capture.NonZero, 0u);
    const double ppm = MeasuredOffsetPpm(log, 48000);
    EXPECT_NEAR(ppm, 0.0, 100.0);
    // From the first buffer to the last, sound never runs ahead of the clock, and falls behind it
    // only by the reader's wake-up on a busy machine.
    constexpr double EarlyAllowance = 0.005, LateAllowance = 0.05;
    const double sound = (log.back().Frames - log.front().Frames) / 48000.0;
    const double elapsed = log.back().Seconds - log.front().Seconds;
    EXPECT_LT(sound - elapsed, EarlyAllowance);
    EXPECT_LT(elapsed - sound, LateAllowance);
    EXPECT_EQ(capture.Clocked.Resyncs(), 0u);
    std::printf("[ measured ] nominal pace: %+.1f ppm over %.2f s\n", ppm, log.back().Seconds);
}

TEST(ClockedSource, ARateOffsetRunsThatManyPpmFast) {
    PacedCapture capture(96000, 1920);
    capture.Clocked.SetRateOffsetPpm(500.0);
    const std::vector<Arrival> log = capture.Run(2.5);
    ASSERT_GT(log.size(), 90u);
    const double ppm = MeasuredOffsetPpm(log, 96000);
    EXPECT_NEAR(ppm, 500.0, 100.0);
    std::printf("[ measured ] +500 ppm pace: %+.1f ppm over %.2f s\n", ppm, log.back().Seconds);
}

TEST(ClockedSource, AStalledAnalysisStartsANewScheduleInsteadOfABurst) {
    PacedCapture capture(48000, 960, 4); // the ring holds 80 ms
    capture.StallFirst = 700ms;          // the stream falls ~0.6 s behind its clock
    const std::vector<Arrival> log = capture.Run(1.3);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(capture.Clocked.Resyncs(), 1u);
    // The lost time is not caught up: sound time stays about 0.6 s behind clock time.
    EXPECT_LT(log.back().Frames / 48000.0, log.back().Seconds - 0.45);
    EXPECT_GT(log.back().Frames / 48000.0, log.back().Seconds - 0.8);
}

// A capture source scripted for CSoundIn's choice between the sound card and the fallback.
class ScriptedDevice : public CaptureSource {
public:
    std::vector<std::string> InputDevices() override { return Names; }
    int QueryDevice(int) override { return SoundInOk; }
    int Open(int, const CaptureFormat&, CaptureRing&) override {
        ++Opens;
        return OpenCode;
    }
    bool Start() override { return StartOk; }
    void Close() override { ++Closes; }

    std::vector<std::string> Names{"USB Audio"};
    int OpenCode = SoundInOk;
    bool StartOk = true;
    int Opens = 0, Closes = 0;
};

struct FallbackCapture {
    FallbackCapture()
        : Sound(
              Device, [this](size_t n, int16_t*, int, std::optional<int64_t>) { Frames += n; },
              [this](const std::string& m) { Messages.push_back(m); }) {
        Sound.SampleRate = 48000;
        Sound.SetRingSize(4);
        Sound.SetSamplesPerBuffer(480);
    }
    ~FallbackCapture() { Sound.Close(); }
    // Waits until `frames` arrived, at most 2 s.
    bool Receives(size_t frames) {
        return test::WaitUntil([&] { return Frames.load() >= frames; }, 2s);
    }

    ScriptedDevice Device;
    ClockedSource Clocked;
    std::atomic<size_t> Frames{0};
    std::vector<std::string> Messages;
    CSoundIn Sound;
};

TEST(SoundInFallback, NoInputDeviceAtAllUsesTheFallbackWithoutAMessage) {
    FallbackCapture f;
    f.Device.Names.clear();
    f.Sound.SetPlaybackFallback(&f.Clocked);
    ASSERT_EQ(f.Sound.Start(), SoundInOk);
    EXPECT_TRUE(f.Sound.UsingFallback());
    EXPECT_TRUE(f.Receives(2400));
    f.Sound.Close();
    EXPECT_EQ(f.Messages, std::vector<std::string>{});

    f.Sound.SetPlaybackFallback(nullptr); // playback over: a missing device is reported again
    EXPECT_EQ(f.Sound.Start(), SoundInNoDevices);
    // The program's own text, the space before "!" included: kept on purpose.
    EXPECT_EQ(f.Messages, std::vector<std::string>{"No sound devices found !"});
}

TEST(SoundInFallback, ADeviceThatFailsToOpenOrStartIsReplacedByTheFallback) {
    FallbackCapture f;
    f.Sound.SetPlaybackFallback(&f.Clocked);
    f.Device.OpenCode = SoundInAllocated;
    ASSERT_EQ(f.Sound.Start(), SoundInOk);
    EXPECT_TRUE(f.Sound.UsingFallback());
    EXPECT_TRUE(f.Receives(960));
    f.Sound.Close();

    f.Device.OpenCode = SoundInOk;
    f.Device.StartOk = false;
    const int closes = f.Device.Closes;
    f.Frames = 0;
    ASSERT_EQ(f.Sound.Start(), SoundInOk);
    EXPECT_TRUE(f.Sound.UsingFallback());
    EXPECT_GT(f.Device.Closes, closes) << "the device that failed to start is closed";
    EXPECT_TRUE(f.Receives(960));
    EXPECT_EQ(f.Messages, std::vector<std::string>{});
}

TEST(SoundInFallback, AWorkingDeviceIsPreferredAndAFailingFallbackSpeaksForItself) {
    FallbackCapture f;
    f.Sound.SetPlaybackFallback(&f.Clocked);
    ASSERT_EQ(f.Sound.Start(), SoundInOk);
    EXPECT_FALSE(f.Sound.UsingFallback());
    EXPECT_EQ(f.Device.Opens, 1);
    EXPECT_EQ(f.Clocked.FramesDelivered(), 0u);
    f.Sound.Close();

    f.Device.Names.clear();
    f.Sound.SampleRate = 0; // a format not even the fallback can run
    EXPECT_EQ(f.Sound.Start(), SoundInBadFormat);
    EXPECT_FALSE(f.Sound.Running());
    EXPECT_FALSE(f.Sound.UsingFallback()) << "nothing is open";
    EXPECT_EQ(f.Messages, std::vector<std::string>{"Unsupported waveform-audio format."});
}

} // namespace
} // namespace kv
