// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/ClockedSource.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <vector>

#include "platform/Priority.h"

namespace kv {
namespace {

constexpr double MaxOffsetPpm = 100000.0;

int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SleepUntilNs(int64_t due) {
    timespec at{};
    at.tv_sec = static_cast<time_t>(due / 1000000000);
    at.tv_nsec = static_cast<long>(due % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

} // namespace

// When each frame of the stream has been "recorded": frames count from a base time at the
// nominal rate scaled by the offset. A new offset or a resync starts a new base.
struct ClockedSource::Schedule {
    int64_t BaseNs = 0;
    uint64_t BaseFrame = 0;
    double FramesPerSecond = 1.0;
    double Ppm = 0.0;

    void Rebase(int64_t ns, uint64_t frame, unsigned rate, double ppm) {
        BaseNs = ns;
        BaseFrame = frame;
        FramesPerSecond = rate * (1.0 + ppm * 1e-6);
        Ppm = ppm;
    }
    int64_t DueNs(uint64_t frame) const {
        return BaseNs +
               std::llround(static_cast<double>(frame - BaseFrame) * 1e9 / FramesPerSecond);
    }
};

ClockedSource::~ClockedSource() {
    Close();
}

std::vector<std::string> ClockedSource::InputDevices() {
    return {DeviceName};
}

int ClockedSource::QueryDevice(int device) {
    return device == 0 ? SoundInOk : SoundInBadDeviceId;
}

int ClockedSource::Open(int device, const CaptureFormat& format, CaptureRing& ring) {
    Close();
    if (device != 0) return SoundInBadDeviceId;
    if (format.SampleRate == 0 || format.Channels < 1) return SoundInBadFormat;
    Format = format;
    Ring = &ring;
    Delivered.store(0, std::memory_order_relaxed);
    return SoundInOk;
}

bool ClockedSource::Start() {
    if (Ring == nullptr || Pacer.joinable()) return false;
    StopRequested.store(false, std::memory_order_release);
    Pacer = std::thread(&ClockedSource::Run, this);
    return true;
}

void ClockedSource::Close() {
    if (Pacer.joinable()) {
        StopRequested.store(true, std::memory_order_release);
        Ring->Stop(); // a pacer waiting for a free buffer returns
        Pacer.join();
    }
    Ring = nullptr;
}

void ClockedSource::SetRateOffsetPpm(double ppm) {
    if (!std::isfinite(ppm)) return;
    OffsetPpm.store(std::clamp(ppm, -MaxOffsetPpm, MaxOffsetPpm), std::memory_order_relaxed);
}

void ClockedSource::Run() {
    RaiseCurrentThreadPriority();
    const unsigned block = std::max(1u, Format.SampleRate / BlocksPerSecond);
    const std::vector<int16_t> silence(static_cast<size_t>(block) * Ring->Channels(), 0);
    Schedule schedule;
    schedule.Rebase(MonotonicNs(), 0, Format.SampleRate, RateOffsetPpm());
    uint64_t frames = 0;
    while (!StopRequested.load(std::memory_order_acquire)) {
        if (const double ppm = RateOffsetPpm(); ppm != schedule.Ppm)
            schedule.Rebase(schedule.DueNs(frames), frames, Format.SampleRate, ppm);
        const int64_t due = schedule.DueNs(frames + block);
        SleepUntilNs(due);
        if (!DeliverBlock(silence.data(), block)) break;
        frames += block;
        if (const int64_t now = MonotonicNs(); now - due > MaxLagSeconds * 1e9) {
            schedule.Rebase(now, frames, Format.SampleRate, schedule.Ppm);
            ResyncCount.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

// Writes one block as a sound card's callback would; false once the ring has stopped.
bool ClockedSource::DeliverBlock(const int16_t* silence, unsigned frames) {
    const size_t stored = Ring->Write(silence, frames);
    Delivered.fetch_add(stored, std::memory_order_relaxed);
    return stored == frames && !Ring->Stopped();
}

} // namespace kv
