// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing of .wav files: recordings of the captured sound and files made by other
// programs for playback and offline analysis.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

// Size of the header the writer puts in front of the samples.
inline constexpr size_t WaveHeaderSize = 44;

struct WaveData {
    uint32_t SampleRate = 0;
    uint16_t Channels = 0;        // as in the file
    uint16_t BitsPerSample = 0;   // as in the file
    uint16_t FormatTag = 0;       // 1 PCM, 3 float (resolved from EXTENSIBLE)
    std::vector<int16_t> Samples; // mono, 16-bit
};

struct WaveReadResult {
    bool Ok = false;
    std::string Error; // short reason for "FILE: reason" messages; empty when Ok
    WaveData Data;
};

// Decodes a whole .wav image held in memory. Multi-channel frames are mixed down to mono and
// every supported sample format is converted to signed 16 bit. Never reads outside the buffer.
WaveReadResult ParseWave(const uint8_t* bytes, size_t size);

// Reads the file at `path` and decodes it with ParseWave.
WaveReadResult ReadWaveFile(const std::string& path);

// Writes a recording with the 44-byte header; never overwrites an existing file.
// The two size fields stay 0 until Close, so an interrupted recording is still readable.
class WaveWriter {
public:
    WaveWriter() = default;
    ~WaveWriter(); // closes (writing the sizes) if open
    WaveWriter(const WaveWriter&) = delete;
    WaveWriter& operator=(const WaveWriter&) = delete;

    bool Open(const std::string& path, uint32_t sampleRate, uint16_t channels,
              std::string* error = nullptr);
    bool Append(const int16_t* samples, size_t count); // raw interleaved 16-bit samples
    bool Close();                                      // writes L-8 at 4, L-44 at 40
    bool IsOpen() const;

    // Reason of the last failed Open, Append or Close.
    const std::string& LastError() const { return LastError_; }

private:
    bool Fail(std::string reason);
    bool WriteAll(const void* data, size_t size);

    int Fd_ = -1;
    uint64_t DataBytes_ = 0;
    std::string LastError_;
};

// Convenience: whole file at once (used by tools and tests). Fails if the file exists.
bool WriteWaveFile(const std::string& path, const std::vector<int16_t>& interleaved,
                   uint32_t sampleRate, uint16_t channels, std::string* error = nullptr);

} // namespace kv
