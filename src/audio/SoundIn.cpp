// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/SoundIn.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <strings.h>

#include "audio/WorkerExit.h"
#include "platform/Priority.h"

namespace kv {

namespace {

// Buffers grow to twice the nominal length while a centring adjustment is spread over them.
constexpr double CapacityPerNominal = 2.0;

} // namespace

std::string OpenErrorMessage(int code) {
    switch (code) {
    case SoundInUnspecified:
        return "Unspecified error.";
    case SoundInBadDeviceId:
        return "Specified device identifier is out of range.";
    case SoundInNotEnabled:
        return "Driver failed enable.";
    case SoundInAllocated:
        return "Specified resource is already allocated.";
    case SoundInInvalidHandle:
        return "Device handle invalid.";
    case SoundInNoDriver:
        return "No device driver is present.";
    case SoundInNoMemory:
        return "Unable to allocate or lock memory.";
    case SoundInNotSupported:
        return "Function not supported.";
    case SoundInBadErrorNumber:
        return "Error number out of range.";
    case SoundInInvalidFlag:
        return "Invalid flag passed.";
    case SoundInInvalidParameter:
        return "Invalid parameter passed.";
    case SoundInHandleBusy:
        return "Handle in use.";
    case SoundInBadFormat:
        return "Unsupported waveform-audio format.";
    default:
        return "";
    }
}

int SelectDevice(const std::vector<std::string>& names, const std::string& wanted, int fallback) {
    for (size_t i = 0; i < names.size(); ++i)
        if (strcasecmp(names[i].c_str(), wanted.c_str()) == 0) return static_cast<int>(i);
    return names.empty() ? 0 : fallback;
}

std::string DeviceNameOf(const std::vector<std::string>& names, int device,
                         const std::string& wanted) {
    const bool listed = device >= 0 && device < static_cast<int>(names.size());
    return listed ? names[static_cast<size_t>(device)] : wanted;
}

CSoundIn::CSoundIn(CaptureSource& source, BufferCallback onBuffer, MessageSink onMessage)
    : Source(source), OnMessage(std::move(onMessage)), Session(std::make_shared<CaptureSession>()) {
    Session->OnBuffer = std::move(onBuffer);
}

CSoundIn::~CSoundIn() {
    Close();
}

int CSoundIn::Fail(int code, const std::string& message) {
    if (!message.empty() && OnMessage && !Quiet) OnMessage(message);
    Active->Close();
    Session->Ring.Release();
    return code;
}

int CSoundIn::Start() {
    Close();
    RenewSessionIfAbandoned();
    int code = FallbackFirst ? SoundInUnspecified : StartOn(Source, Fallback != nullptr);
    if (code != SoundInOk && Fallback != nullptr) code = StartOn(*Fallback, false);
    if (code != SoundInOk) Active = &Source; // nothing is open
    return code;
}

// Opens `source`, queues the ring, starts the worker and then the stream.
int CSoundIn::StartOn(CaptureSource& source, bool quiet) {
    Active = &source;
    Quiet = quiet;
    const int code = OpenDevice();
    if (code != SoundInOk) return code;
    if (QueueRing() != SoundInOk) return Fail(SoundInNoMemory, "Failed to prepare header !");
    Session->LastIndex = Session->Ring.Count() - 1;
    Session->StopFlag.store(0, std::memory_order_release);
    Worker = std::thread(&CSoundIn::RunWorker, Session);
    if (!source.Start()) {
        const int failed = SoundInUnspecified;
        Close();
        RenewSessionIfAbandoned();
        return Fail(failed, "Failed to start wave-in !");
    }
    return SoundInOk;
}

// Chooses the device, checks it and opens it for 16-bit PCM.
int CSoundIn::OpenDevice() {
    CaptureSource& source = *Active;
    const std::vector<std::string> names = source.InputDevices();
    if (names.empty()) return Fail(SoundInNoDevices, "No sound devices found !");
    const int device = SelectDevice(names, DeviceName, source.DefaultInputDevice());
    if (const int code = source.QueryDevice(device); code != SoundInOk)
        return Fail(code, "Cannot determine sound device capabilities !");
    const int ring = std::clamp(RingSize, 1, CaptureRing::MaxBuffers);
    const double nominal = Session->Lengths.GetSamplesPerBuffer();
    const auto capacity =
        static_cast<size_t>(std::max(1.0, CapacityPerNominal * std::ceil(nominal)));
    if (!Session->Ring.Allocate(ring, capacity, Channels))
        return Fail(SoundInNoMemory, "Failed to prepare header !");
    Session->Ring.SetArrivalClock(Session->Arrival);
    Session->ArrivalTicksPerFrame = Session->ArrivalTicksPerSecond / std::max(1u, SampleRate);
    const int code = source.Open(device, CaptureFormat{SampleRate, Channels}, Session->Ring);
    if (code != SoundInOk) return Fail(code, OpenErrorMessage(code));
    OpenedDeviceName = DeviceNameOf(names, device, DeviceName);
    return code;
}

// Gives every buffer its first length and queues it.
int CSoundIn::QueueRing() {
    CaptureSession& s = *Session;
    s.Lengths.Restart();
    for (int i = 0; i < s.Ring.Count(); ++i) {
        const size_t n = s.Lengths.InitialLength();
        if (!s.Ring.EnsureCapacity(i, n)) return SoundInNoMemory;
        s.Ring.Queue(i, n);
    }
    return SoundInOk;
}

void CSoundIn::RenewSessionIfAbandoned() {
    if (!Abandoned) return;
    auto fresh = std::make_shared<CaptureSession>();
    fresh->OnBuffer = Session->OnBuffer;
    fresh->Hold = Session->Hold;
    fresh->Arrival = Session->Arrival;
    fresh->ArrivalTicksPerSecond = Session->ArrivalTicksPerSecond;
    fresh->Lengths.SetSamplesPerBuffer(Session->Lengths.GetSamplesPerBuffer());
    Session = std::move(fresh);
    Abandoned = false;
}

void CSoundIn::SetStopFlag(CaptureSession& s, int value) {
    if (s.Hold) {
        const auto lock = s.Hold();
        s.StopFlag.store(value, std::memory_order_release);
    } else {
        s.StopFlag.store(value, std::memory_order_release);
    }
}

void CSoundIn::Close() {
    CaptureSession& s = *Session;
    if (s.StopFlag.load(std::memory_order_acquire) == 0) SetStopFlag(s, 1);
    s.Ring.Stop();
    Active->Close();
    if (JoinOrAbandon(Worker, s.EndMutex, s.Ended, s.StopFlag)) Abandoned = true;
    if (!Abandoned) s.Ring.Release();
}

void CSoundIn::RunWorker(std::shared_ptr<CaptureSession> session) {
    CaptureSession& s = *session;
    const int count = s.Ring.Count();
    RaiseCurrentThreadPriority();
    PinCurrentThreadToFirstCpu();
    while (s.StopFlag.load(std::memory_order_acquire) == 0) {
        s.Ring.WaitForDone();
        if (ProcessDoneBuffers(s, count) != 0) break;
    }
    SetStopFlag(s, 2);
    std::lock_guard lock(s.EndMutex);
    s.Ended.notify_all();
}

// Hands every finished buffer to the analysis in ring order, counting down from the ring size;
// returns the stop flag.
int CSoundIn::ProcessDoneBuffers(CaptureSession& s, int count) {
    int index = (s.LastIndex + 1) % count;
    int remaining = count;
    while (s.Ring.IsDone(index) && s.StopFlag.load(std::memory_order_acquire) == 0) {
        --remaining;
        if (remaining < 1) s.OverrunCount.fetch_add(1, std::memory_order_relaxed);
        s.OnBuffer(s.Ring.RecordedFrames(index), s.Ring.Data(index), remaining,
                   EndCounter(s, index));
        if (s.StopFlag.load(std::memory_order_acquire) != 0) break;
        s.LastIndex = index;
        Requeue(s, index);
        index = (index + 1) % count;
    }
    return s.StopFlag.load(std::memory_order_acquire);
}

// The counter at the buffer's last frame: its block's arrival less the frames that followed it.
std::optional<int64_t> CSoundIn::EndCounter(const CaptureSession& s, int index) {
    const BufferArrival& arrival = s.Ring.Arrival(index);
    if (!arrival.Stamped) return std::nullopt;
    const double late = static_cast<double>(arrival.LateFrames) * s.ArrivalTicksPerFrame;
    return arrival.Counter - std::llround(late);
}

void CSoundIn::Requeue(CaptureSession& s, int index) {
    const size_t n = s.Lengths.RequeueLength();
    if (!s.Ring.EnsureCapacity(index, n)) {
        s.Ring.Queue(index, s.Ring.CapacityFrames(index)); // keep capturing at the old size
        return;
    }
    s.Ring.Queue(index, n);
}

} // namespace kv
