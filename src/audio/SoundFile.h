// SPDX-License-Identifier: GPL-3.0-or-later
// Recordings in the formats libsndfile reads (every WAV variant, FLAC, Ogg/Vorbis, Opus, MP3,
// AIFF, CAF ...), read as a stream of mono 16-bit samples: frames are mixed down to one channel
// and every sample format is converted the way the WAV reader converts it, so a file gives the
// same samples whichever reader opens it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

// Mono 16-bit samples from somewhere, a block at a time.
class MonoSampleStream {
public:
    virtual ~MonoSampleStream() = default;
    virtual unsigned SampleRate() const = 0;
    // Fills `out` with up to `count` samples; fewer only at the end of the stream.
    virtual size_t Read(int16_t* out, size_t count) = 0;
    // How many samples the whole stream holds, when that is known before reading it (a
    // compressed file may only give an estimate).
    virtual std::optional<uint64_t> Length() const { return std::nullopt; }
};

// Samples already in memory.
class MemorySampleStream : public MonoSampleStream {
public:
    MemorySampleStream(std::vector<int16_t> samples, unsigned sampleRate);
    unsigned SampleRate() const override { return Rate; }
    size_t Read(int16_t* out, size_t count) override;
    std::optional<uint64_t> Length() const override { return Samples.size(); }

private:
    std::vector<int16_t> Samples;
    unsigned Rate;
    size_t Position = 0;
};

// A sound file opened through libsndfile. Reading allocates nothing after Open.
class SoundFileStream : public MonoSampleStream {
public:
    SoundFileStream();
    ~SoundFileStream() override;
    SoundFileStream(const SoundFileStream&) = delete;
    SoundFileStream& operator=(const SoundFileStream&) = delete;

    // False with a short reason in `error` when libsndfile cannot read the file.
    bool Open(const std::string& path, std::string& error);
    unsigned SampleRate() const override;
    int Channels() const;
    size_t Read(int16_t* out, size_t count) override;
    std::optional<uint64_t> Length() const override;

private:
    struct Handle;
    std::unique_ptr<Handle> File;
};

// The whole file at once, mono 16-bit; false with a reason when libsndfile cannot read it.
bool ReadSoundFile(const std::string& path, std::vector<int16_t>& mono, unsigned& sampleRate,
                   int& channels, std::string& error);

// The file-name extensions (lower case, without the dot, sorted, each once) of the recordings
// the linked libsndfile reads: the extension of every major format it reports, and the other
// names those formats commonly go by ("ogg" and "opus" for its Ogg container, "mp3" when it
// decodes MPEG audio, "aif" for AIFF ...). Header-less raw files are left out: they cannot be
// read without being told their format.
std::vector<std::string> ReadableSoundFileExtensions();

} // namespace kv
