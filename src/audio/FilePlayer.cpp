// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/FilePlayer.h"

#include <algorithm>
#include <cstring>

#include "audio/SoundIn.h"

namespace kv {

FilePlayer::FilePlayer(PlaybackSink& sink) : Sink(sink) {}

FilePlayer::~FilePlayer() {
    Stop();
}

bool FilePlayer::Start(std::vector<int16_t> samples, unsigned sampleRate,
                       const std::string& deviceName) {
    Stop();
    if (samples.empty() || sampleRate == 0) return false;
    if (OpenDevice(sampleRate, deviceName) != SoundInOk) return false;
    BufferSamples = std::clamp(sampleRate / BuffersPerSecond, 1u, MaxBufferSamples);
    if (!Ring.Allocate(BufferCount, BufferSamples)) {
        Stop();
        return false;
    }
    Samples = std::move(samples);
    Position = 0;
    for (int i = 0; i < Ring.Count(); ++i)
        Refill(i);
    Worker = std::thread(&FilePlayer::Run, this);
    if (Sink.Start() != SoundInOk) {
        Stop();
        return false;
    }
    return true;
}

// Chooses the device by name, checks it and opens it; 0 or the failing SoundInCode.
int FilePlayer::OpenDevice(unsigned sampleRate, const std::string& deviceName) {
    const std::vector<std::string> names = Sink.OutputDevices();
    if (names.empty()) return SoundInNoDevices;
    const int device = SelectDevice(names, deviceName, Sink.DefaultOutputDevice());
    if (const int code = Sink.QueryDevice(device); code != SoundInOk) return code;
    const int code = Sink.Open(device, sampleRate, Ring);
    DeviceOpen = code == SoundInOk;
    if (!DeviceOpen) Sink.Close();
    return code;
}

void FilePlayer::Stop() {
    Ring.Stop(); // wakes a worker waiting for a played buffer
    if (DeviceOpen) Sink.Close();
    DeviceOpen = false;
    if (Worker.joinable()) Worker.join();
    Ring.Release();
    std::vector<int16_t>().swap(Samples);
    Position = 0;
}

void FilePlayer::Run() {
    const int count = Ring.Count();
    int index = 0;
    while (!Ring.Stopped()) {
        Ring.WaitForDone();
        for (; !Ring.Stopped() && Ring.IsDone(index); index = (index + 1) % count)
            Refill(index);
    }
}

// Fills the buffer with the next stretch of the samples, wrapping to the first one as often as
// needed, and queues it.
void FilePlayer::Refill(int index) {
    int16_t* out = Ring.Data(index);
    for (size_t done = 0; done < BufferSamples;) {
        const size_t n = std::min(BufferSamples - done, Samples.size() - Position);
        std::memcpy(out + done, Samples.data() + Position, n * sizeof(int16_t));
        done += n;
        Position = (Position + n) % Samples.size();
    }
    Ring.Queue(index, BufferSamples);
}

} // namespace kv
