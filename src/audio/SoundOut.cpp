// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/SoundOut.h"

#include <chrono>

#include "audio/SoundIn.h"
#include "audio/WorkerExit.h"
#include "platform/Priority.h"
#include "platform/ThreadCpuTime.h"

namespace kv {

std::string OutputOpenErrorMessage(int code) {
    switch (code) {
    case SoundInBadDeviceId:
    case SoundInAllocated:
    case SoundInNoDriver:
    case SoundInNoMemory:
    case SoundInBadFormat:
        return OpenErrorMessage(code);
    default:
        return "";
    }
}

CSoundOut::CSoundOut(std::shared_ptr<MonitorState> monitor, PlaybackSink& sink,
                     MessageSink onMessage)
    : MonitorPtr(std::move(monitor)), Sink(sink), OnMessage(std::move(onMessage)),
      Session(std::make_shared<OutputSession>()) {
    Session->Monitor = MonitorPtr;
}

CSoundOut::~CSoundOut() {
    Close();
}

size_t CSoundOut::SamplesPerBuffer() const {
    return Session->SamplesPerBuffer.load(std::memory_order_relaxed);
}

size_t CSoundOut::BlockCapacityBytes() const {
    return Session->CapacityBytes.load(std::memory_order_relaxed);
}

double CSoundOut::WorkerCpuSeconds() const {
    return Worker.joinable() ? ThreadCpuSeconds(WorkerHandle) : 0.0;
}

int CSoundOut::Fail(int code, const std::string& message) {
    if (!message.empty() && OnMessage) OnMessage(message);
    Session->Ring.Stop();
    Sink.Close();
    if (!Abandoned) Session->Ring.Release();
    return code;
}

int CSoundOut::Start() {
    Close();
    RenewSessionIfAbandoned();
    if (const int code = OpenDevice(); code != SoundInOk) return code;
    if (QueueRing() != SoundInOk) return Fail(SoundInNoMemory, "Failed to prepare header !");
    OutputSession& s = *Session;
    s.LastIndex = s.Ring.Count() - 1;
    s.StopFlag.store(0, std::memory_order_release);
    Worker = std::thread(&CSoundOut::RunWorker, Session);
    WorkerHandle = Worker.native_handle();
    if (const int code = Sink.Start(); code != SoundInOk) {
        Close();
        return Fail(code, "Failed to add buffer !");
    }
    return SoundInOk;
}

// Chooses the device, checks it and opens it for 16-bit mono PCM at the capture rate.
int CSoundOut::OpenDevice() {
    const std::vector<std::string> names = Sink.OutputDevices();
    if (names.empty()) return Fail(SoundInNoDevices, "No sound devices found !");
    const int device = SelectDevice(names, DeviceName, Sink.DefaultOutputDevice());
    if (const int code = Sink.QueryDevice(device); code != SoundInOk)
        return Fail(code, "Cannot determine sound device capabilities !");
    Session->Rate = SampleRate;
    const int code = Sink.Open(device, SampleRate, Session->Ring);
    if (code != SoundInOk) return Fail(code, OutputOpenErrorMessage(code));
    OpenedDeviceName = DeviceNameOf(names, device, DeviceName);
    return code;
}

// Gives every buffer a zero-filled block of the current capacity and queues it with the current
// length.
int CSoundOut::QueueRing() {
    OutputSession& s = *Session;
    const size_t capacity = s.CapacityBytes.load(std::memory_order_relaxed) / 2;
    if (!s.Ring.Allocate(RingSize, capacity)) return SoundInNoMemory;
    for (int i = 0; i < s.Ring.Count(); ++i)
        s.Ring.Queue(i, s.SamplesPerBuffer.load(std::memory_order_relaxed));
    return SoundInOk;
}

void CSoundOut::RenewSessionIfAbandoned() {
    if (!Abandoned) return;
    auto fresh = std::make_shared<OutputSession>();
    fresh->Monitor = MonitorPtr;
    fresh->SamplesPerBuffer.store(SamplesPerBuffer(), std::memory_order_relaxed);
    fresh->CapacityBytes.store(BlockCapacityBytes(), std::memory_order_relaxed);
    Session = std::move(fresh);
    Abandoned = false;
}

void CSoundOut::SetStopFlag(OutputSession& s, int value) {
    std::lock_guard lock(s.Monitor->MonitorLock);
    s.StopFlag.store(value, std::memory_order_release);
}

void CSoundOut::Close() {
    OutputSession& s = *Session;
    if (s.StopFlag.load(std::memory_order_acquire) == 0) SetStopFlag(s, 1);
    s.Ring.Stop();
    Sink.Close();
    if (JoinOrAbandon(Worker, s.EndMutex, s.Ended, s.StopFlag)) Abandoned = true;
    if (!Abandoned) s.Ring.Release();
}

void CSoundOut::RunWorker(std::shared_ptr<OutputSession> session) {
    OutputSession& s = *session;
    RaiseCurrentThreadPriority();
    while (s.StopFlag.load(std::memory_order_acquire) == 0) {
        s.Ring.WaitForDone();
        if (ServeDoneBuffers(s) != 0) break;
    }
    SetStopFlag(s, 2);
    std::lock_guard lock(s.EndMutex);
    s.Ended.notify_all();
}

// Refills every played buffer in ring order and queues it again; returns the stop flag.
int CSoundOut::ServeDoneBuffers(OutputSession& s) {
    const int count = s.Ring.Count();
    int index = (s.LastIndex + 1) % count;
    while (s.StopFlag.load(std::memory_order_acquire) == 0 && s.Ring.IsDone(index)) {
        s.LastIndex = index;
        const size_t produced = s.Monitor->Fill(s.Ring.Data(index), s.Ring.Capacity(index), s.Rate);
        if (s.StopFlag.load(std::memory_order_acquire) != 0) break;
        ApplyProduced(s, produced);
        Requeue(s, index);
        index = (index + 1) % count;
    }
    return s.StopFlag.load(std::memory_order_acquire);
}

// The buffer length follows the produced count; the block capacity grows to fit it and shrinks
// only when it would be less than a third used.
void CSoundOut::ApplyProduced(OutputSession& s, size_t produced) {
    const size_t bytes = 2 * produced;
    const size_t capacity = s.CapacityBytes.load(std::memory_order_relaxed);
    if (produced == s.SamplesPerBuffer.load(std::memory_order_relaxed) && bytes <= capacity) return;
    s.SamplesPerBuffer.store(produced, std::memory_order_relaxed);
    if (bytes > capacity || 3 * bytes < capacity)
        s.CapacityBytes.store(bytes, std::memory_order_relaxed);
}

void CSoundOut::Requeue(OutputSession& s, int index) {
    const size_t capacity = s.CapacityBytes.load(std::memory_order_relaxed) / 2;
    if (s.Ring.Capacity(index) != capacity) s.Ring.Resize(index, capacity); // kept when refused
    s.Ring.Queue(index, s.SamplesPerBuffer.load(std::memory_order_relaxed));
}

} // namespace kv
