// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/PortAudioSource.h"

#include <alsa/asoundlib.h>

#include <portaudio.h>

namespace kv {

namespace {

// The closest capture result code for a PortAudio error.
int CodeFor(PaError error) {
    switch (error) {
    case paNoError:
        return SoundInOk;
    case paInvalidDevice:
        return SoundInBadDeviceId;
    case paDeviceUnavailable:
        return SoundInAllocated;
    case paInsufficientMemory:
        return SoundInNoMemory;
    case paNotInitialized:
    case paHostApiNotFound:
    case paInvalidHostApi:
        return SoundInNoDriver;
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paInvalidChannelCount:
        return SoundInBadFormat;
    case paInvalidFlag:
        return SoundInInvalidFlag;
    case paBadIODeviceCombination:
    case paIncompatibleHostApiSpecificStreamInfo:
    case paBadBufferPtr:
        return SoundInInvalidParameter;
    case paBadStreamPtr:
        return SoundInInvalidHandle;
    case paCanNotReadFromAnOutputOnlyStream:
    case paCanNotReadFromACallbackStream:
        return SoundInNotSupported;
    default:
        return SoundInUnspecified;
    }
}

int OnBlock(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
            PaStreamCallbackFlags statusFlags, void* self) {
    const bool more = static_cast<PortAudioSource*>(self)->Deliver(
        static_cast<const int16_t*>(input), frames, (statusFlags & paInputOverflow) != 0);
    return more ? paContinue : paComplete;
}

// ALSA reports every device it fails to probe on standard error; the failures that matter come
// back through PortAudio's error codes and are shown with their own messages.
void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

bool InitialisePortAudio() {
    snd_lib_error_set_handler(IgnoreAlsaMessage);
    return Pa_Initialize() == paNoError;
}

} // namespace

int SoundCodeForPortAudioError(int error) {
    return CodeFor(error);
}

bool InitialisePortAudioQuietly() {
    return InitialisePortAudio();
}

PortAudioSource::PortAudioSource() : Initialised(InitialisePortAudio()) {}

PortAudioSource::~PortAudioSource() {
    Close();
    if (Initialised) Pa_Terminate();
}

std::vector<std::string> PortAudioSource::InputDevices() {
    std::vector<std::string> names;
    const int count = Initialised ? Pa_GetDeviceCount() : 0;
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && info->maxInputChannels > 0) names.emplace_back(info->name ? info->name : "");
    }
    return names;
}

// Input device ids count input devices only; PortAudio's ids count every device.
int PortAudioSource::ToPortAudioDevice(int inputIndex) {
    const int count = Initialised ? Pa_GetDeviceCount() : 0;
    for (int i = 0, seen = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info && info->maxInputChannels > 0 && seen++ == inputIndex) return i;
    }
    return paNoDevice;
}

int PortAudioSource::DefaultInputDevice() {
    const PaDeviceIndex wanted = Initialised ? Pa_GetDefaultInputDevice() : paNoDevice;
    const int count = Initialised ? Pa_GetDeviceCount() : 0;
    for (int i = 0, seen = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info || info->maxInputChannels <= 0) continue;
        if (i == wanted) return seen;
        ++seen;
    }
    return 0;
}

int PortAudioSource::QueryDevice(int device) {
    const int id = ToPortAudioDevice(device);
    return id != paNoDevice && Pa_GetDeviceInfo(id) ? SoundInOk : SoundInBadDeviceId;
}

int PortAudioSource::Open(int device, const CaptureFormat& format, CaptureRing& ring) {
    Close();
    if (!Initialised) return SoundInNoDriver;
    PaStreamParameters in{};
    in.device = ToPortAudioDevice(device);
    if (in.device == paNoDevice) return SoundInBadDeviceId;
    in.channelCount = format.Channels;
    in.sampleFormat = paInt16;
    in.suggestedLatency = Pa_GetDeviceInfo(in.device)->defaultHighInputLatency;
    Ring = &ring;
    PaStream* stream = nullptr;
    const PaError error = Pa_OpenStream(&stream, &in, nullptr, format.SampleRate,
                                        paFramesPerBufferUnspecified, paNoFlag, &OnBlock, this);
    Stream = error == paNoError ? stream : nullptr;
    return CodeFor(error);
}

bool PortAudioSource::Start() {
    return Stream && Pa_StartStream(static_cast<PaStream*>(Stream)) == paNoError;
}

void PortAudioSource::Close() {
    if (!Stream) return;
    if (Ring) Ring->Stop(); // a callback waiting for a free buffer returns
    Pa_AbortStream(static_cast<PaStream*>(Stream));
    Pa_CloseStream(static_cast<PaStream*>(Stream));
    Stream = nullptr;
}

bool PortAudioSource::Deliver(const int16_t* frames, unsigned long count, bool overflowed) {
    if (overflowed) Overflows.fetch_add(1, std::memory_order_relaxed);
    if (frames) Ring->Write(frames, count);
    return !Ring->Stopped();
}

std::vector<std::string> ListInputDevices() {
    PortAudioSource source;
    return source.InputDevices();
}

} // namespace kv
