// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor state shared by the capture thread, the output worker and the user-interface thread:
// a copy of the latest captured buffer, the mute switch, the one-shot play-out clip and the
// low-pass state of the monitor sound. The capture thread copies each buffer in; the output worker
// fills its buffers from here, paced by the capture through the "new input" event.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace kv {

// An auto-reset event: Set wakes a waiter, and the wait that sees it clears it.
class AutoResetEvent {
public:
    void Set();
    void Reset();
    // True when the event was set within `timeout`; the event is clear afterwards.
    bool WaitFor(std::chrono::milliseconds timeout);

private:
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Signalled = false;
};

class MonitorState {
public:
    // Guards everything below and the output worker's stop flag. The analysis lock may be held
    // when it is taken, never the reverse.
    mutable std::recursive_mutex MonitorLock;

    // Capture thread, once per buffer: with duplex audio keeps a copy of the n raw samples
    // (growing the buffer to 1.5 n when it is too small) and signals new input; without it frees
    // the copy.
    void Copy(const int16_t* samples, size_t n, bool duplexAudio);
    // Frees the copy; the output plays silence until the next copy.
    void Free();

    // Output worker: fills `out` (room for `requested` samples) and returns the number of samples
    // the buffer should play. Waits first for new input, at most a quarter of the latest input
    // buffer's duration at `outputRate`. A pending clip comes first; otherwise the low-passed copy,
    // unless muted; otherwise `requested` zero samples.
    size_t Fill(int16_t* out, size_t requested, unsigned outputRate);

    // Plays `samples` once through the output and waits until they have been played: true then,
    // false when the wait timed out (the clip is emptied) or the clip was dropped or replaced.
    // Call without holding the monitor lock. An empty clip counts as played.
    bool QueueClip(std::vector<int16_t> samples,
                   std::optional<std::chrono::milliseconds> timeout = std::nullopt);
    // Empties a pending clip; its waiter returns false.
    void DropClip();

    void SetMute(bool mute);
    bool Muted() const;
    size_t MonitorLength() const;
    size_t MonitorCapacity() const;
    bool ClipPending() const;

private:
    struct ClipWaiter {
        bool Ended = false;
        bool Played = false;
    };
    struct PlayoutClip {
        std::vector<int16_t> Data;
        size_t Remaining = 0;
        size_t Position = 0;
        ClipWaiter* Waiter = nullptr;
    };
    std::chrono::milliseconds InputWait(unsigned outputRate) const;
    size_t PlayClip(int16_t* out, size_t requested);
    size_t PlayMonitor(int16_t* out, size_t requested);
    void EndClip(bool played);

    std::vector<int16_t> Buffer; // its size is the capacity
    size_t Length = 0;
    bool Mute = false;
    PlayoutClip Clip;
    double LowPass = 0.0;
    AutoResetEvent NewInput;
    std::condition_variable_any ClipDone; // with MonitorLock
};

} // namespace kv
