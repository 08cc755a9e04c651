// SPDX-License-Identifier: GPL-3.0-or-later
// A capture source that needs no sound card: one input device whose stream is silence, written
// into the capture ring by a thread paced by CLOCK_MONOTONIC at the sample rate. Playback of a
// waveform file replaces the silence in ProcessBuffer, so a recording is measured on a machine
// without a sound card. The pace can run a chosen number of ppm fast or slow, which gives the
// sample-clock calibration a sound card with a known clock error.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "audio/CaptureSource.h"

namespace kv {

class ClockedSource : public CaptureSource {
public:
    static constexpr const char* DeviceName = "Waveform file (no sound card)";
    // Blocks are written every 10 ms of sound, like a sound card's periods; fewer would cost
    // wake-ups for nothing, since the analysis works on whole buffers of a tenth of a second.
    static constexpr unsigned BlocksPerSecond = 100;
    // A stream that falls this far behind its clock (a stalled analysis, a suspended machine)
    // starts a new schedule instead of catching up in one burst.
    static constexpr double MaxLagSeconds = 0.5;

    ClockedSource() = default;
    ~ClockedSource() override;
    ClockedSource(const ClockedSource&) = delete;
    ClockedSource& operator=(const ClockedSource&) = delete;

    std::vector<std::string> InputDevices() override;
    int QueryDevice(int device) override;
    int Open(int device, const CaptureFormat& format, CaptureRing& ring) override;
    bool Start() override;
    void Close() override;

    // Runs the stream's clock `ppm` parts per million fast (positive) or slow (negative);
    // takes effect at the next block without a jump. Values beyond +-100000 are clamped and a
    // non-finite value is ignored.
    void SetRateOffsetPpm(double ppm);
    double RateOffsetPpm() const { return OffsetPpm.load(std::memory_order_relaxed); }

    // Frames written into the ring since Open.
    uint64_t FramesDelivered() const { return Delivered.load(std::memory_order_relaxed); }
    // Times the stream fell more than MaxLagSeconds behind and restarted its schedule.
    uint64_t Resyncs() const { return ResyncCount.load(std::memory_order_relaxed); }

private:
    struct Schedule;
    void Run();
    bool DeliverBlock(const int16_t* silence, unsigned frames);

    CaptureFormat Format;
    CaptureRing* Ring = nullptr;
    std::thread Pacer;
    std::atomic<bool> StopRequested{false};
    std::atomic<double> OffsetPpm{0.0};
    std::atomic<uint64_t> Delivered{0};
    std::atomic<uint64_t> ResyncCount{0};
};

} // namespace kv
