// SPDX-License-Identifier: GPL-3.0-or-later
// The motorised positioner: an outside device that turns the watch when it hears DTMF tone
// commands on the sound output. A command is a 32-bit word (direction, mode and step count of
// both axes) sent as eight DTMF digits, each 50 ms of tone and 50 ms of silence. Where each
// position lies, in the positioner's own steps, comes from microphone.ini in the data folder.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace kv {

// Where the positioner stands, in its own steps; 0,0 is home. Each axis holds
// PositionerMinSteps to PositionerMaxSteps.
inline constexpr int PositionerMinSteps = std::numeric_limits<int16_t>::min();
inline constexpr int PositionerMaxSteps = std::numeric_limits<int16_t>::max();
struct PositionerPoint {
    int16_t X = 0;
    int16_t Y = 0;
    bool operator==(const PositionerPoint&) const = default;
};

// The positioner file beside the profiles: "microphone.ini" in the data folder.
std::string PositionerFilePath();
// The point of position `code`: keys code+"0" (first axis) and code+"1" (second axis) of section
// "Microphone". Absent or empty keys, and a missing or unreadable file, read as 0. Throws
// std::invalid_argument, naming the file, the key, its value and the allowed range, for a value
// that is no whole number from PositionerMinSteps to PositionerMaxSteps: read any other way it
// would send the watch to a position nobody asked for.
PositionerPoint ReadPositionerPoint(const std::string& path, const std::string& code);

// Command modes: a move between positions, and the empty command that ends a return home.
inline constexpr int PositionerMoveMode = 2;
inline constexpr int PositionerIdleMode = 0;
inline constexpr int CommandDigitCount = 8;
// The most steps one command moves an axis: the count has 12 bits.
inline constexpr int PositionerMaxCommandSteps = 4095;

// High half: bit 14 set for a negative dx, bits 12-13 the mode, bits 0-11 |dx| modulo 4096; low
// half likewise for dy, with bit 15 always set. Moves keep |dx| and |dy| within
// PositionerMaxCommandSteps.
uint32_t PositionerCommandWord(int dx, int dy, int mode);
// The word's eight 4-bit groups, most significant first.
std::array<int, CommandDigitCount> CommandDigits(uint32_t word);
// The keypad symbol of a group value: 0-9, A-D for 10-13, '#' for 14, '*' for 15.
char DtmfSymbol(int value);

struct DtmfPair {
    int LowHz = 0;
    int HighHz = 0;
};
// The ITU-T Q.23 frequency pair of the keypad symbol of `value` (0 to 15).
DtmfPair DtmfFrequencies(int value);

// Samples per tone and per pause: 50 ms at `sampleRate`.
unsigned DtmfSegmentSamples(unsigned sampleRate);
// The digits as 16-bit samples at `sampleRate`: per digit the two cosines times 8192, then as
// many samples of silence.
std::vector<int16_t> DtmfSamples(const std::array<int, CommandDigitCount>& digits,
                                 unsigned sampleRate);

// Plays a clip once on the sound output and waits for it: true when it was played within
// `timeout`, false when it was discarded.
class ClipOutput {
public:
    virtual ~ClipOutput() = default;
    virtual unsigned SampleRate() const = 0;
    // False when no sound output would carry a clip (duplex audio off): every clip is discarded.
    virtual bool Available() const = 0;
    virtual bool PlayClip(std::vector<int16_t> samples, std::chrono::milliseconds timeout) = 0;
};

// A millisecond tick count and sleeping; tests substitute a clock that only counts.
class MillisecondClock {
public:
    virtual ~MillisecondClock() = default;
    virtual uint32_t NowMs() = 0; // monotonic, wraps at 2^32
    virtual void SleepMs(uint32_t milliseconds) = 0;
};
MillisecondClock& SteadyMillisecondClock();

// Sends commands and remembers where the positioner stands and until when it is still moving.
// Threads: the user-interface thread only; each command blocks it for the wait before the
// command (the earlier commands' movement) and the playback of the tones.
class Positioner {
public:
    Positioner(ClipOutput& output, MillisecondClock& clock) : Output(output), Clock(clock) {}

    // How long a played command waits for the output before it is discarded.
    static constexpr std::chrono::milliseconds ClipTimeout{3000};

    // Moves to `target` in move mode, in as many commands as an axis needs at
    // PositionerMaxCommandSteps each (at least one), and returns the tones' total duration.
    unsigned MoveTo(PositionerPoint target);
    // Back to 0,0, then an empty command; sleeps through both and a beat.
    void ReturnHome(unsigned beatPeriodMs);
    PositionerPoint Current() const { return At; }

private:
    // Waits while the positioner is busy, sends one command and returns the tones' duration in
    // milliseconds. The positioner is then busy for the duration plus 5 ms per step of the longer
    // axis for each mode below 4.
    unsigned Move(int dx, int dy, int mode);

    ClipOutput& Output;
    MillisecondClock& Clock;
    PositionerPoint At;
    uint32_t BusyUntil = 0;
    bool BusySet = false; // no command sent yet: never busy
};

} // namespace kv
