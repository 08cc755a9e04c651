// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/PortAudioSink.h"

#include <algorithm>

#include <portaudio.h>

#include "audio/CaptureSource.h"
#include "audio/PortAudioSource.h"
#include "platform/Priority.h"

namespace kv {

namespace {

// Frames per write: Close waits at most this long for the device thread.
constexpr size_t ChunkFrames = 2048;

} // namespace

PortAudioSink::PortAudioSink() : Initialised(InitialisePortAudioQuietly()) {}

PortAudioSink::~PortAudioSink() {
    Close();
    if (Initialised) Pa_Terminate();
}

// PortAudio's ids of the devices that can play; output device ids index this list.
std::vector<int> PortAudioSink::OutputDeviceIds() const {
    std::vector<int> ids;
    const int count = Initialised ? Pa_GetDeviceCount() : 0;
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && info->maxOutputChannels > 0) ids.push_back(i);
    }
    return ids;
}

std::vector<std::string> PortAudioSink::OutputDevices() {
    std::vector<std::string> names;
    for (const int id : OutputDeviceIds()) {
        const char* name = Pa_GetDeviceInfo(id)->name;
        names.emplace_back(name ? name : "");
    }
    return names;
}

int PortAudioSink::DefaultOutputDevice() {
    const std::vector<int> ids = OutputDeviceIds();
    const PaDeviceIndex wanted = Initialised ? Pa_GetDefaultOutputDevice() : paNoDevice;
    const auto at = std::find(ids.begin(), ids.end(), wanted);
    return at == ids.end() ? 0 : static_cast<int>(at - ids.begin());
}

int PortAudioSink::QueryDevice(int device) {
    const std::vector<int> ids = OutputDeviceIds();
    return device >= 0 && device < static_cast<int>(ids.size()) ? SoundInOk : SoundInBadDeviceId;
}

int PortAudioSink::Open(int device, unsigned sampleRate, PlaybackRing& ring) {
    Close();
    if (!Initialised) return SoundInNoDriver;
    const std::vector<int> ids = OutputDeviceIds();
    if (device < 0 || device >= static_cast<int>(ids.size())) return SoundInBadDeviceId;
    PaStreamParameters out{};
    out.device = ids[static_cast<size_t>(device)];
    out.channelCount = 1;
    out.sampleFormat = paInt16;
    out.suggestedLatency = Pa_GetDeviceInfo(out.device)->defaultHighOutputLatency;
    PaStream* stream = nullptr;
    const PaError error = Pa_OpenStream(&stream, nullptr, &out, sampleRate,
                                        paFramesPerBufferUnspecified, paNoFlag, nullptr, nullptr);
    Stream = error == paNoError ? stream : nullptr;
    Ring = Stream ? &ring : nullptr;
    return SoundCodeForPortAudioError(error);
}

int PortAudioSink::Start() {
    if (!Stream) return SoundInInvalidHandle;
    if (const PaError error = Pa_StartStream(static_cast<PaStream*>(Stream)); error != paNoError)
        return SoundCodeForPortAudioError(error);
    Device = std::thread(&PortAudioSink::Play, this);
    return SoundInOk;
}

void PortAudioSink::Close() {
    if (!Stream) return;
    Ring->Stop(); // the device thread stops after its current chunk
    if (Device.joinable()) Device.join();
    Pa_AbortStream(static_cast<PaStream*>(Stream));
    Pa_CloseStream(static_cast<PaStream*>(Stream));
    Stream = nullptr;
    Ring = nullptr;
}

void PortAudioSink::Play() {
    RaiseCurrentThreadPriority();
    while (const auto block = Ring->WaitForNext()) {
        Write(*block);
        Ring->FinishNext();
    }
}

// Hands one buffer to the stream in chunks, so that a stop is noticed promptly. Errors other than
// an underflow lose the rest of the buffer; the next buffer tries again.
void PortAudioSink::Write(std::span<const int16_t> block) {
    auto* stream = static_cast<PaStream*>(Stream);
    for (size_t done = 0; done < block.size() && !Ring->Stopped();) {
        const size_t n = std::min(ChunkFrames, block.size() - done);
        const PaError error = Pa_WriteStream(stream, block.data() + done, n);
        if (error == paOutputUnderflowed) Underflows.fetch_add(1, std::memory_order_relaxed);
        if (error != paNoError && error != paOutputUnderflowed) return;
        done += n;
    }
}

std::vector<std::string> ListOutputDevices() {
    PortAudioSink sink;
    return sink.OutputDevices();
}

} // namespace kv
