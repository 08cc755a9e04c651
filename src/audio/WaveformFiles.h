// SPDX-License-Identifier: GPL-3.0-or-later
// Waveform files: recording of the raw captured sound to a .wav file and playback of such a file
// in place of the live input. The owner uses every operation under the analysis lock; Process runs
// on the capture thread inside ProcessBuffer, before any filtering.
//
// Playback reads the whole file into memory. Only the file length and the header fields at
// offsets 22 (channels), 24 (sample rate) and 34 (bits per sample) are used; the data is taken to
// run from offset 44 to the end of the file. 32-bit and 24-bit samples keep their two upper bytes,
// anything else is taken as 16-bit. Frames of several channels are mixed down to one sample,
// because the analysis reads one mono sample per frame.
//
// Recording and playback exclude each other: opening one while the other is active is refused
// (the commands always close the other first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/WaveFile.h"

namespace kv {

class WaveformFiles {
public:
    bool Recording() const { return IsRecording; }
    bool Playing() const { return IsPlaying; }
    // Times playback wrapped from the end of the data to its start.
    int LoopCount() const { return Loops; }

    // Creates `path` (never overwriting an existing file) with a 44-byte header whose two size
    // fields stay 0 until CloseRecording. False when the file cannot be created, or while
    // recording or playing.
    bool OpenForWriting(const std::string& path, unsigned sampleRate, int channels);
    // Writes both sizes from the file's length and closes. Each buffer is written through as it
    // comes, so a recording that never reaches this point keeps everything written.
    void CloseRecording();

    // Reads the file for playback. Refused silently (false, nothing changed) when it cannot be
    // read, is shorter than 44 bytes, names a sample rate or channel count no capture can use, or
    // while recording. On success an earlier playback is closed (giving its format back), then
    // `sampleRate` and `channels` take the file's values; the ones they replace are kept for
    // ClosePlayback.
    bool OpenForReading(const std::string& path, unsigned& sampleRate, int& channels);
    // Ends playback (also one that ended by itself), frees the data, clears the loop count and
    // gives back the sample rate and channel count that OpenForReading replaced.
    void ClosePlayback(unsigned& sampleRate, int& channels);

    // Capture thread, once per buffer of n frames: while recording, appends the n frames (raw,
    // all channels) to the file; while playing, overwrites the first n samples with playback
    // data, wrapping to the start at the end. When the data cannot fill a buffer even from the
    // start, the rest of the buffer is silenced and playback ends. Allocates nothing.
    // Returns the index of the first sample played after a wrap (the end of the recording joined
    // to its start) or after a move (RandomStart), or NoSplice.
    static constexpr int64_t NoSplice = -1;
    int64_t Process(int16_t* samples, size_t n);

    // Recorded samples played per captured sample: 1 plays the file as it is; another value
    // resamples it (linear interpolation), as a capture clock running fast or slow would hear a
    // sound recorded at the nominal rate. Values outside 0.5 to 2 are refused (1 is kept).
    void SetPlaybackStep(double step);
    // Moves playback to byte 2 * trunc(L * q / 32767 * 0.5) of the L data bytes; q in 0..32767.
    // The next buffer played reports the move as a splice at its first sample.
    void RandomStart(int q);

    // The capture rate the user chose: the one a playback replaced, else `current`.
    unsigned UserSampleRate(unsigned current) const { return SavedRate != 0 ? SavedRate : current; }

    // Closes a recording and a playback (giving back the replaced rate and channel count).
    void CloseAll(unsigned& sampleRate, int& channels);

    // Samples of playback data in memory, and the next one to be played.
    size_t PlaybackLength() const { return Data.size(); }
    // The playback data, mono 16-bit, as it is played.
    const std::vector<int16_t>& PlaybackData() const { return Data; }
    size_t PlaybackPosition() const { return Position; }

private:
    void Record(const int16_t* samples, size_t n);
    int64_t Play(int16_t* samples, size_t n);
    size_t CopyPlayback(int16_t* out, size_t n);
    size_t ResamplePlayback(int16_t* out, size_t n);

    WaveWriter Writer;
    int RecordChannels = 1;
    bool IsRecording = false;

    std::vector<int16_t> Data; // the playback memory file, mono 16-bit
    size_t Position = 0;
    double Step = 1.0;     // recorded samples per played sample
    double Fraction = 0.0; // how far between Position and the next sample, 0 to 1
    bool IsPlaying = false;
    bool Moved = false; // RandomStart moved the playback since the last buffer
    int Loops = 0;
    unsigned SavedRate = 0; // 0: nothing to give back
    int SavedChannels = 0;
};

} // namespace kv
