// SPDX-License-Identifier: GPL-3.0-or-later
// Live sound capture: opens the chosen input device and hands every filled buffer, in capture
// order, to the analysis on a worker thread. Buffer lengths follow SamplesPerBuffer with the
// fractional carry, and a one-shot adjustment shifts the buffer grid (BufferLengthSequence).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "audio/BufferLengths.h"
#include "audio/CaptureRing.h"
#include "audio/CaptureSource.h"

namespace kv {

// Start's code when there is no input device at all.
inline constexpr int SoundInNoDevices = 2;

// The message Start shows for an open failure, empty for codes that have none.
std::string OpenErrorMessage(int code);

// The device chosen for `wanted`: the first whose name equals it without regard to case, else
// `fallback` (also when the list is empty).
int SelectDevice(const std::vector<std::string>& names, const std::string& wanted, int fallback);
// The name of device `device` in `names`, or `wanted` when the number names none.
std::string DeviceNameOf(const std::vector<std::string>& names, int device,
                         const std::string& wanted);

class CSoundIn {
public:
    // n samples per channel, the interleaved data, the countdown of the wake-up, and the counter
    // value at which the buffer's last frame arrived (none without an arrival clock).
    using BufferCallback = std::function<void(size_t n, int16_t* samples, int remaining,
                                              std::optional<int64_t> endCounter)>;
    using MessageSink = std::function<void(const std::string& message)>;

    // `source` must outlive this object.
    CSoundIn(CaptureSource& source, BufferCallback onBuffer, MessageSink onMessage = {});
    ~CSoundIn();
    CSoundIn(const CSoundIn&) = delete;
    CSoundIn& operator=(const CSoundIn&) = delete;

    // 0 on success, else a SoundInCode (SoundInNoDevices when there is no device); the failure's
    // message goes to the message sink.
    int Start();
    // Stops capture and the worker; waits at most 5 s for a worker busy in the callback.
    void Close();

    void SetRingSize(int n) { RingSize = n; }
    void SetSamplesPerBuffer(double samples) { Session->Lengths.SetSamplesPerBuffer(samples); }
    void SetBufferAdjust(double samples) { Session->Lengths.SetBufferAdjust(samples); }
    // Takes the lock the buffer callback runs under (the analysis lock): Close and the ending
    // worker set the stop flag under it, so no buffer is half analysed when measuring stops.
    using CallbackLock = std::function<std::unique_lock<std::recursive_mutex>()>;
    void SetCallbackLock(CallbackLock hold) { Session->Hold = std::move(hold); }
    // The counter (ticking `ticksPerSecond`) that stamps each buffer with the time its last frame
    // arrived, taken from the device's block rather than from when the worker woke; applies
    // from the next Start.
    void SetArrivalClock(CaptureRing::ArrivalClock clock, double ticksPerSecond) {
        Session->Arrival = std::move(clock);
        Session->ArrivalTicksPerSecond = ticksPerSecond;
    }
    // While a waveform file plays, capture needs no sound card: when the source has no device or
    // its device fails to open or start, Start uses `fallback` instead and shows no message for
    // the failure. nullptr clears it. The fallback must outlive the capture it is used for.
    void SetPlaybackFallback(CaptureSource* fallback) {
        Fallback = fallback;
        FallbackFirst = false;
    }
    // Makes Start use the fallback without trying the source: for a playback whose device was
    // started but delivered nothing. Cleared when the fallback is set or cleared.
    void PreferFallback() { FallbackFirst = Fallback != nullptr; }
    // Whether the running capture (or the last one) came from the fallback.
    bool UsingFallback() const { return Active != &Source; }

    unsigned SampleRate = 96000;
    int Channels = 1;
    std::string DeviceName;
    // The name of the device the last Start opened (the default one when none matched).
    std::string OpenedDeviceName;

    int RingSizeSetting() const { return RingSize; }
    double SamplesPerBuffer() const { return Session->Lengths.GetSamplesPerBuffer(); }
    // Buffers handed over with a countdown below 1: the whole ring was full at one wake-up.
    uint64_t Overruns() const { return Session->OverrunCount.load(std::memory_order_relaxed); }
    // Times the device found every buffer full and waited for the worker.
    uint64_t FullRingWaits() const { return Session->Ring.FullRingWaits(); }
    bool Running() const { return Worker.joinable(); }
    // Whether the last Close gave up waiting for the worker.
    bool WorkerAbandoned() const { return Abandoned; }

private:
    // What the worker uses: shared so that an abandoned worker never touches freed memory.
    struct CaptureSession {
        CaptureRing Ring;
        BufferLengthSequence Lengths;
        BufferCallback OnBuffer;
        CallbackLock Hold;
        CaptureRing::ArrivalClock Arrival;
        double ArrivalTicksPerSecond = 0.0;
        double ArrivalTicksPerFrame = 0.0; // set at each open from the sample rate
        std::atomic<int> StopFlag{2};      // 0 running, 1 stop requested, 2 worker ended
        int LastIndex = 0;
        std::atomic<uint64_t> OverrunCount{0};
        std::mutex EndMutex;
        std::condition_variable Ended;
    };
    static void RunWorker(std::shared_ptr<CaptureSession> session);
    static int ProcessDoneBuffers(CaptureSession& s, int count);
    static void Requeue(CaptureSession& s, int index);
    static void SetStopFlag(CaptureSession& s, int value);
    static std::optional<int64_t> EndCounter(const CaptureSession& s, int index);

    int StartOn(CaptureSource& source, bool quiet);
    int Fail(int code, const std::string& message);
    int OpenDevice();
    int QueueRing();
    void RenewSessionIfAbandoned();

    CaptureSource& Source;
    CaptureSource* Fallback = nullptr;
    bool FallbackFirst = false;
    CaptureSource* Active = &Source; // the source Start opened
    bool Quiet = false;              // failures of this attempt show no message
    MessageSink OnMessage;
    std::shared_ptr<CaptureSession> Session;
    std::thread Worker;
    int RingSize = CaptureRing::MaxBuffers;
    bool Abandoned = false;
};

} // namespace kv
