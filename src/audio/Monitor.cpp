// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/Monitor.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kv {

namespace {

// The monitor's one-pole low-pass keeps 85 % of its state and takes 15 % of each new sample,
// softening the clicks for the ear.
constexpr double MonitorKeep = 0.85;
constexpr double MonitorTake = 0.15;
// A wait for fresh input lasts a quarter of the latest input buffer, in milliseconds.
constexpr unsigned long long InputWaitParts = 4;
constexpr unsigned long long MillisecondsPerSecond = 1000;

} // namespace

void AutoResetEvent::Set() {
    {
        std::lock_guard lock(Mutex);
        Signalled = true;
    }
    Changed.notify_one();
}

void AutoResetEvent::Reset() {
    std::lock_guard lock(Mutex);
    Signalled = false;
}

bool AutoResetEvent::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(Mutex);
    const bool set = Changed.wait_for(lock, timeout, [this] { return Signalled; });
    Signalled = false;
    return set;
}

void MonitorState::Copy(const int16_t* samples, size_t n, bool duplexAudio) {
    if (!duplexAudio) {
        Free();
        return;
    }
    if (!samples) n = 0;
    {
        std::lock_guard lock(MonitorLock);
        if (Buffer.size() < n) {
            try {
                Buffer = std::vector<int16_t>(n + n / 2); // room to spare: rarely reallocated
            } catch (const std::bad_alloc&) {
                Buffer = {};
                Length = 0;
                return;
            }
        }
        Length = n;
        if (n > 0) std::memcpy(Buffer.data(), samples, n * sizeof(int16_t));
    }
    NewInput.Set();
}

void MonitorState::Free() {
    std::lock_guard lock(MonitorLock);
    Buffer = {};
    Length = 0;
}

// A quarter of the latest input buffer's duration, in whole milliseconds.
std::chrono::milliseconds MonitorState::InputWait(unsigned outputRate) const {
    std::lock_guard lock(MonitorLock);
    if (outputRate == 0) return std::chrono::milliseconds(0);
    const auto quarter =
        static_cast<unsigned long long>(Length) * MillisecondsPerSecond / InputWaitParts;
    return std::chrono::milliseconds(quarter / outputRate);
}

size_t MonitorState::Fill(int16_t* out, size_t requested, unsigned outputRate) {
    NewInput.WaitFor(InputWait(outputRate));
    if (!out) requested = 0;
    std::lock_guard lock(MonitorLock);
    if (Clip.Remaining > 0) return PlayClip(out, requested);
    if (Length > 0 && !Mute) return PlayMonitor(out, requested);
    std::fill_n(out, requested, int16_t{0});
    return requested;
}

size_t MonitorState::PlayClip(int16_t* out, size_t requested) {
    const size_t k = std::min(requested, Clip.Remaining);
    std::copy_n(Clip.Data.data() + Clip.Position, k, out);
    Clip.Position += k;
    Clip.Remaining -= k;
    if (Clip.Remaining == 0)
        EndClip(true);
    else
        NewInput.Set(); // the rest goes into the next buffer without waiting
    return k;
}

// s = 0.85 s + 0.15 x smooths the copy; the state carries over from buffer to buffer. The buffer
// plays as many samples as the copy holds, even when fewer fit into `out`.
size_t MonitorState::PlayMonitor(int16_t* out, size_t requested) {
    const size_t count = std::min(requested, Length);
    const int16_t* in = Buffer.data();
    double s = LowPass;
    for (size_t i = 0; i < count; ++i) {
        s = MonitorKeep * s + MonitorTake * in[i];
        out[i] = static_cast<int16_t>(s);
    }
    LowPass = s;
    return Length;
}

// Frees the clip and tells its waiter how it ended. Called under the monitor lock.
void MonitorState::EndClip(bool played) {
    if (Clip.Waiter) {
        Clip.Waiter->Ended = true;
        Clip.Waiter->Played = played;
        Clip.Waiter = nullptr;
        ClipDone.notify_all();
    }
    Clip.Data = {};
    Clip.Remaining = Clip.Position = 0;
}

bool MonitorState::QueueClip(std::vector<int16_t> samples,
                             std::optional<std::chrono::milliseconds> timeout) {
    if (samples.empty()) return true;
    ClipWaiter waiter;
    std::unique_lock lock(MonitorLock);
    EndClip(false); // a clip still pending is replaced
    Clip.Remaining = samples.size();
    Clip.Data = std::move(samples);
    Clip.Waiter = &waiter;
    NewInput.Set(); // the next buffer takes the clip without waiting
    const auto ended = [&] { return waiter.Ended; };
    if (timeout)
        ClipDone.wait_for(lock, *timeout, ended);
    else
        ClipDone.wait(lock, ended);
    if (!waiter.Ended) EndClip(false);
    return waiter.Played;
}

void MonitorState::DropClip() {
    std::lock_guard lock(MonitorLock);
    EndClip(false);
}

void MonitorState::SetMute(bool mute) {
    std::lock_guard lock(MonitorLock);
    Mute = mute;
}

bool MonitorState::Muted() const {
    std::lock_guard lock(MonitorLock);
    return Mute;
}

size_t MonitorState::MonitorLength() const {
    std::lock_guard lock(MonitorLock);
    return Length;
}

size_t MonitorState::MonitorCapacity() const {
    std::lock_guard lock(MonitorLock);
    return Buffer.size();
}

bool MonitorState::ClipPending() const {
    std::lock_guard lock(MonitorLock);
    return Clip.Remaining > 0;
}

} // namespace kv
