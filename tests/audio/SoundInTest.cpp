// SPDX-License-Identifier: GPL-3.0-or-later
// CSoundIn against a scripted capture source: ring order, the countdown of a wake-up, overruns,
// buffer lengths, device choice, failure messages and closing while a buffer is analysed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/SoundIn.h"
#include "support/WaitUntil.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

class FakeSource : public CaptureSource {
public:
    std::vector<std::string> InputDevices() override { return Names; }
    int DefaultInputDevice() override { return Default; }
    int QueryDevice(int) override { return QueryCode; }
    int Open(int device, const CaptureFormat& format, CaptureRing& ring) override {
        OpenedDevice = device;
        Format = format;
        Ring = &ring;
        return OpenCode;
    }
    bool Start() override { return StartOk; }
    void Close() override {}

    // Writes `frames` mono frames whose values count up from `first`.
    size_t Write(size_t frames, int16_t first) {
        std::vector<int16_t> data(frames);
        for (size_t i = 0; i < frames; ++i)
            data[i] = static_cast<int16_t>(first + static_cast<int16_t>(i));
        return Ring->Write(data.data(), frames);
    }

    std::vector<std::string> Names{"HDA Intel PCH", "USB Audio"};
    int Default = 0, QueryCode = 0, OpenCode = 0, OpenedDevice = -1;
    bool StartOk = true;
    CaptureFormat Format;
    CaptureRing* Ring = nullptr;
};

struct Delivery {
    size_t N;
    int16_t First;
    int Remaining;
};

// Records deliveries; a buffer whose first sample equals `HoldAt` blocks until released.
class Recorder {
public:
    void operator()(size_t n, int16_t* samples, int remaining,
                    std::optional<int64_t> = std::nullopt) {
        {
            std::lock_guard lock(Mutex);
            Log.push_back({n, samples[0], remaining});
        }
        if (samples[0] == HoldAt) {
            Holding = true;
            while (!Released.load())
                std::this_thread::sleep_for(1ms);
        }
    }
    std::vector<Delivery> Wait(size_t count) {
        test::WaitUntil(
            [&] {
                std::lock_guard lock(Mutex);
                return Log.size() >= count;
            },
            5s);
        std::lock_guard lock(Mutex);
        return Log;
    }
    void WaitUntilHolding() {
        test::WaitUntil([&] { return Holding.load(); }, 5s);
    }
    std::mutex Mutex;
    std::vector<Delivery> Log;
    int16_t HoldAt = -1;
    std::atomic<bool> Holding{false}, Released{false};
};

struct Fixture {
    explicit Fixture(int ring, double samplesPerBuffer)
        : Sound(
              Source,
              [this](size_t n, int16_t* s, int r, std::optional<int64_t>) {
                  Record(n, s, r);
                  // The analysis hands its centring adjustment over on this thread, as here.
                  if (Buffers++ == 0 && AdjustAfterFirstBuffer != 0)
                      Sound.SetBufferAdjust(AdjustAfterFirstBuffer);
              },
              [this](const std::string& m) { Messages.push_back(m); }) {
        Sound.SetRingSize(ring);
        Sound.SetSamplesPerBuffer(samplesPerBuffer);
    }
    ~Fixture() {
        Record.Released = true;
        Sound.Close();
    }
    FakeSource Source;
    Recorder Record;
    double AdjustAfterFirstBuffer = 0;
    std::atomic<int> Buffers{0};
    std::vector<std::string> Messages;
    CSoundIn Sound;
};

TEST(SoundIn, BuffersDoneAtOneWakeUpCountDownInRingOrder) {
    Fixture f(20, 100);
    f.Record.HoldAt = 0;
    ASSERT_EQ(f.Sound.Start(), 0);
    ASSERT_EQ(f.Source.Write(100, 0), 100u);
    f.Record.WaitUntilHolding();
    ASSERT_EQ(f.Source.Write(300, 100), 300u); // three buffers finish while the first is analysed
    f.Record.Released = true;
    const auto log = f.Record.Wait(4);
    ASSERT_EQ(log.size(), 4u);
    const int16_t first[] = {0, 100, 200, 300};
    const int remaining[] = {19, 18, 17, 16};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(log[i].N, 100u);
        EXPECT_EQ(log[i].First, first[i]);
        EXPECT_EQ(log[i].Remaining, remaining[i]);
    }
    ASSERT_EQ(f.Source.Write(100, 400), 100u); // a new wake-up counts from the ring size again
    const auto later = f.Record.Wait(5);
    ASSERT_EQ(later.size(), 5u);
    EXPECT_EQ(later[4].Remaining, 19);
    EXPECT_EQ(f.Sound.Overruns(), 0u);
}

TEST(SoundIn, AFullRingIsCountedAsAnOverrunAndNothingIsLost) {
    Fixture f(3, 100);
    f.Record.HoldAt = 0;
    ASSERT_EQ(f.Sound.Start(), 0);
    ASSERT_EQ(f.Source.Write(300, 0), 300u);
    f.Record.WaitUntilHolding();
    std::thread device([&] { f.Source.Write(100, 300); }); // waits: every buffer is full
    test::WaitUntil([&] { return f.Sound.FullRingWaits() != 0; }, 5s);
    EXPECT_EQ(f.Sound.FullRingWaits(), 1u);
    f.Record.Released = true;
    device.join();
    const auto log = f.Record.Wait(4);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].Remaining, 2);
    EXPECT_EQ(log[1].Remaining, 1);
    EXPECT_EQ(log[2].Remaining, 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(log[i].First, 100 * i);
    EXPECT_GE(f.Sound.Overruns(), 1u);
}

TEST(SoundIn, BufferLengthsCarryTheFractionAndTheAdjustment) {
    Fixture f(2, 100.5);
    ASSERT_EQ(f.Sound.Start(), 0);
    f.Source.Write(100 + 101 + 100 + 101, 0);
    auto log = f.Record.Wait(4);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].N, 100u);
    EXPECT_EQ(log[1].N, 101u);
    EXPECT_EQ(log[2].N, 100u);
    EXPECT_EQ(log[3].N, 101u);
}

TEST(SoundIn, ALargeAdjustmentIsSpreadOverBuffersOfAtMostTwiceTheNominal) {
    Fixture f(2, 100);
    f.AdjustAfterFirstBuffer = 300; // consumed by the requeue that follows the first buffer
    ASSERT_EQ(f.Sound.Start(), 0);
    f.Source.Write(100 + 100 + 200 + 200 + 200 + 100, 0);
    auto log = f.Record.Wait(6);
    ASSERT_EQ(log.size(), 6u);
    const size_t expected[] = {100, 100, 200, 200, 200, 100};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(log[i].N, expected[i]) << i;
}

TEST(SoundIn, ChoosesTheDeviceByNameWithoutRegardToCase) {
    Fixture f(2, 100);
    f.Sound.DeviceName = "usb audio";
    f.Sound.SampleRate = 48000;
    f.Sound.Channels = 2;
    ASSERT_EQ(f.Sound.Start(), 0);
    EXPECT_EQ(f.Source.OpenedDevice, 1);
    EXPECT_EQ(f.Sound.OpenedDeviceName, "USB Audio") << "the device's own name, for its mixer";
    EXPECT_EQ(f.Source.Format.SampleRate, 48000u);
    EXPECT_EQ(f.Source.Format.Channels, 2);
    f.Sound.Close();
    f.Sound.DeviceName = "Nothing by this name";
    f.Source.Default = 1;
    ASSERT_EQ(f.Sound.Start(), 0);
    EXPECT_EQ(f.Source.OpenedDevice, 1); // the default device
    f.Source.Default = 0;
    f.Sound.Close();
    ASSERT_EQ(f.Sound.Start(), 0);
    EXPECT_EQ(f.Source.OpenedDevice, 0);
    EXPECT_EQ(f.Sound.OpenedDeviceName, "HDA Intel PCH");
}

TEST(SoundIn, FailuresGiveTheirMessagesAndCodes) {
    Fixture f(2, 100);
    f.Source.Names.clear();
    EXPECT_EQ(f.Sound.Start(), 2);
    f.Source.Names = {"Mic"};
    f.Source.QueryCode = SoundInBadDeviceId;
    EXPECT_EQ(f.Sound.Start(), SoundInBadDeviceId);
    f.Source.QueryCode = 0;
    f.Source.OpenCode = SoundInAllocated;
    EXPECT_EQ(f.Sound.Start(), SoundInAllocated);
    f.Source.OpenCode = SoundInBadFormat;
    EXPECT_EQ(f.Sound.Start(), SoundInBadFormat);
    f.Source.OpenCode = 77; // a code without a message
    EXPECT_EQ(f.Sound.Start(), 77);
    f.Source.OpenCode = 0;
    f.Source.StartOk = false;
    EXPECT_NE(f.Sound.Start(), 0);
    EXPECT_FALSE(f.Sound.Running());
    // The program's own texts, the space before "!" included: kept on purpose.
    const std::vector<std::string> expected = {
        "No sound devices found !", "Cannot determine sound device capabilities !",
        "Specified resource is already allocated.", "Unsupported waveform-audio format.",
        "Failed to start wave-in !"};
    EXPECT_EQ(f.Messages, expected);
}

TEST(SoundIn, CloseStopsAWorkerWhoseAnalysisNoticesTheStop) {
    std::recursive_mutex analysisLock;
    std::atomic<bool> running{true}, inside{false};
    std::atomic<int> buffers{0};
    FakeSource source;
    CSoundIn sound(source, [&](size_t, int16_t*, int, std::optional<int64_t>) {
        std::lock_guard lock(analysisLock); // the analysis holds its lock for a whole buffer
        inside = true;
        while (running.load()) // the sample loop stops early once measuring stops
            std::this_thread::sleep_for(1ms);
        ++buffers;
    });
    sound.SetCallbackLock([&] { return std::unique_lock(analysisLock); });
    sound.SetRingSize(2);
    sound.SetSamplesPerBuffer(100);
    ASSERT_EQ(sound.Start(), 0);
    source.Write(200, 0);
    ASSERT_TRUE(test::WaitUntil([&] { return inside.load(); }, 5s));
    running = false;
    const auto start = std::chrono::steady_clock::now();
    sound.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(sound.WorkerAbandoned());
    const int handled = buffers.load();
    EXPECT_GE(handled, 1);
    EXPECT_LE(handled, 2);
    EXPECT_EQ(source.Write(100, 200), 0u); // the ring refuses sound once closed
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(buffers.load(), handled); // and the worker has ended
}

TEST(SoundIn, CloseGivesUpOnAWorkerStuckInTheCallbackAfterFiveSeconds) {
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto inside = std::make_shared<std::atomic<bool>>(false);
    FakeSource source;
    CSoundIn sound(source, [release, inside](size_t, int16_t*, int, std::optional<int64_t>) {
        *inside = true;
        while (!release->load())
            std::this_thread::sleep_for(1ms);
    });
    sound.SetRingSize(2);
    sound.SetSamplesPerBuffer(100);
    ASSERT_EQ(sound.Start(), 0);
    source.Write(100, 0);
    ASSERT_TRUE(test::WaitUntil([&] { return inside->load(); }, 5s));
    const auto start = std::chrono::steady_clock::now();
    sound.Close();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 4900ms);
    EXPECT_LT(took, 6s);
    EXPECT_TRUE(sound.WorkerAbandoned());
    *release = true; // the abandoned worker ends by itself
    source.Names = {"Mic"};
    EXPECT_EQ(sound.Start(), 0); // a fresh capture after an abandoned worker
}

} // namespace
} // namespace kv
