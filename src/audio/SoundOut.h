// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor output: plays the latest captured sound, and any queued clip, through the chosen
// output device while measuring. A worker thread refills each buffer the device has played from
// the monitor state; the buffer's length follows what the fill produced.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/Monitor.h"
#include "audio/PlaybackRing.h"
#include "audio/PlaybackSink.h"

namespace kv {

// The message Start shows for an open failure of the output device, empty for codes that have
// none.
std::string OutputOpenErrorMessage(int code);

class CSoundOut {
public:
    using MessageSink = std::function<void(const std::string& message)>;
    static constexpr size_t InitialSamplesPerBuffer = 24000;
    static constexpr size_t InitialCapacityBytes = 96000;

    // `sink` must outlive this object; the monitor state is shared with an abandoned worker.
    CSoundOut(std::shared_ptr<MonitorState> monitor, PlaybackSink& sink,
              MessageSink onMessage = {});
    ~CSoundOut();
    CSoundOut(const CSoundOut&) = delete;
    CSoundOut& operator=(const CSoundOut&) = delete;

    // 0 on success, else a SoundInCode (SoundInNoDevices when there is no device); the failure's
    // message goes to the message sink.
    int Start();
    // Stops the device and the worker; waits at most 5 s for a worker that is stuck.
    void Close();

    // Stores the number of output buffers; takes effect at the next Start.
    void SetRingSize(int n) { RingSize = n; }

    unsigned SampleRate = 96000;
    std::string DeviceName;
    // The name of the device the last Start opened (the default one when none matched).
    std::string OpenedDeviceName;

    MonitorState& Monitor() { return *MonitorPtr; }
    int RingSizeSetting() const { return RingSize; }
    // The length the next buffer is queued with, and the block capacity buffers are brought to.
    size_t SamplesPerBuffer() const;
    size_t BlockCapacityBytes() const;
    bool Running() const { return Worker.joinable(); }
    // Whether the last Close gave up waiting for the worker.
    bool WorkerAbandoned() const { return Abandoned; }
    // CPU time the running worker has used so far, in seconds; 0 when there is none.
    double WorkerCpuSeconds() const;

private:
    // What the worker uses: shared so that an abandoned worker never touches freed memory.
    struct OutputSession {
        PlaybackRing Ring;
        std::shared_ptr<MonitorState> Monitor;
        unsigned Rate = 96000;
        std::atomic<size_t> SamplesPerBuffer{InitialSamplesPerBuffer};
        std::atomic<size_t> CapacityBytes{InitialCapacityBytes};
        std::atomic<int> StopFlag{2}; // 0 running, 1 stop requested, 2 worker ended
        int LastIndex = 0;
        std::mutex EndMutex;
        std::condition_variable Ended;
    };
    static void RunWorker(std::shared_ptr<OutputSession> session);
    static int ServeDoneBuffers(OutputSession& s);
    static void ApplyProduced(OutputSession& s, size_t produced);
    static void Requeue(OutputSession& s, int index);
    static void SetStopFlag(OutputSession& s, int value);

    int Fail(int code, const std::string& message);
    int OpenDevice();
    int QueueRing();
    void RenewSessionIfAbandoned();

    std::shared_ptr<MonitorState> MonitorPtr;
    PlaybackSink& Sink;
    MessageSink OnMessage;
    std::shared_ptr<OutputSession> Session;
    std::thread Worker;
    std::thread::native_handle_type WorkerHandle{};
    int RingSize = 2;
    bool Abandoned = false;
};

} // namespace kv
