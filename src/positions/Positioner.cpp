// SPDX-License-Identifier: GPL-3.0-or-later
#include "positions/Positioner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "settings/IniFile.h"
#include "settings/SettingsPaths.h"

namespace kv {

namespace {

constexpr const char* PositionerFileName = "microphone.ini";
constexpr const char* PositionerSection = "Microphone";

// Command word layout.
constexpr uint32_t StepMask = 0x0FFF;      // 12 bits of step count: |d| modulo 4096
constexpr uint32_t ModeShift = 12;         // bits 12-13
constexpr uint32_t ModeMask = 0x3;         // modes 0 to 3
constexpr uint32_t NegativeBit = 0x4000;   // bit 14: the axis moves backwards
constexpr uint32_t LowHalfMarker = 0x8000; // bit 15 of the low half tells the halves apart
constexpr int HalfWordBits = 16;           // the first axis's half sits above the second's
constexpr int DigitBits = 4;
constexpr uint32_t DigitMask = 0xF;

// 50 ms of tone and 50 ms of silence: a twentieth of a second each.
constexpr unsigned SegmentsPerSecond = 20;
// Each cosine at a quarter of full scale: the pair peaks at half scale.
constexpr double ToneAmplitude = 8192.0;
constexpr unsigned MillisecondsPerSecond = 1000;
// The positioner needs 5 ms per step for each mode below 4.
constexpr uint32_t MsPerStepAndMode = 5;
constexpr int SlowestModePlusOne = 4;

// Keypad rows and columns of ITU-T Q.23.
constexpr int RowHz[4] = {697, 770, 852, 941};
constexpr int ColumnHz[4] = {1209, 1336, 1477, 1633};
// Row and column of the keypad symbol of each group value 0 to 15 (0-9, A-D, #, *).
constexpr int KeyRow[16] = {3, 0, 0, 0, 1, 1, 1, 2, 2, 2, 0, 1, 2, 3, 3, 3};
constexpr int KeyColumn[16] = {1, 0, 1, 2, 0, 1, 2, 0, 1, 2, 3, 3, 3, 3, 2, 0};
constexpr char KeySymbol[] = "0123456789ABCD#*";

// A whole decimal number with an optional sign and nothing else, within the positioner's range.
std::optional<int> ParseSteps(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < PositionerMinSteps ||
        value > PositionerMaxSteps)
        return std::nullopt;
    return value;
}

uint32_t AxisHalf(int d, int mode) {
    const uint32_t magnitude = static_cast<uint32_t>(std::abs(d)) & StepMask;
    const uint32_t direction = d < 0 ? NegativeBit : 0;
    return direction | ((static_cast<uint32_t>(mode) & ModeMask) << ModeShift) | magnitude;
}

// The longest time a command can keep the positioner busy: its tones (800 ms at any rate that is
// a multiple of 20 Hz, a little more at others) and 5 ms for each of the 4095 steps an axis can
// move in mode 0. A busy-until time further ahead than this lies in the past, beyond the tick
// count's wrap (a positioner idle for weeks).
constexpr uint32_t LongestTonesMs = 1000;
constexpr uint32_t LongestBusyMs =
    LongestTonesMs + MsPerStepAndMode * StepMask * static_cast<uint32_t>(SlowestModePlusOne);

class SteadyClock : public MillisecondClock {
public:
    uint32_t NowMs() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }
    void SleepMs(uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

} // namespace

std::string PositionerFilePath() {
    const std::string folder = DataFolder();
    return folder.empty() ? std::string() : folder + PositionerFileName;
}

PositionerPoint ReadPositionerPoint(const std::string& path, const std::string& code) {
    IniFile file;
    if (path.empty() || file.Load(path) != IniFile::LoadResult::Loaded) return {};
    auto axis = [&](const char* suffix) -> int16_t {
        const std::string key = code + suffix;
        const auto text = file.Get(PositionerSection, key);
        if (!text || text->empty()) return 0;
        const std::optional<int> steps = ParseSteps(*text);
        if (!steps)
            throw std::invalid_argument(
                path + ": " + key + "=" + *text + " is not a whole number of steps from " +
                std::to_string(PositionerMinSteps) + " to " + std::to_string(PositionerMaxSteps));
        return static_cast<int16_t>(*steps);
    };
    return {axis("0"), axis("1")};
}

uint32_t PositionerCommandWord(int dx, int dy, int mode) {
    return (AxisHalf(dx, mode) << HalfWordBits) | LowHalfMarker | AxisHalf(dy, mode);
}

std::array<int, CommandDigitCount> CommandDigits(uint32_t word) {
    std::array<int, CommandDigitCount> digits{};
    for (int i = 0; i < CommandDigitCount; ++i)
        digits[static_cast<size_t>(i)] =
            static_cast<int>((word >> (DigitBits * (CommandDigitCount - 1 - i))) & DigitMask);
    return digits;
}

char DtmfSymbol(int value) {
    return KeySymbol[value & static_cast<int>(DigitMask)];
}

DtmfPair DtmfFrequencies(int value) {
    const int v = value & static_cast<int>(DigitMask);
    return {RowHz[KeyRow[v]], ColumnHz[KeyColumn[v]]};
}

unsigned DtmfSegmentSamples(unsigned sampleRate) {
    return sampleRate / SegmentsPerSecond;
}

std::vector<int16_t> DtmfSamples(const std::array<int, CommandDigitCount>& digits,
                                 unsigned sampleRate) {
    const size_t n = DtmfSegmentSamples(sampleRate);
    std::vector<int16_t> samples(2 * n * digits.size(), 0);
    auto out = samples.begin();
    for (int digit : digits) {
        const DtmfPair pair = DtmfFrequencies(digit);
        const double low = 2.0 * M_PI * pair.LowHz / sampleRate;
        const double high = 2.0 * M_PI * pair.HighHz / sampleRate;
        for (size_t i = 0; i < n; ++i, ++out)
            *out = static_cast<int16_t>(
                (std::cos(low * static_cast<double>(i)) + std::cos(high * static_cast<double>(i))) *
                ToneAmplitude);
        out += static_cast<std::ptrdiff_t>(n); // the pause stays silent
    }
    return samples;
}

MillisecondClock& SteadyMillisecondClock() {
    static SteadyClock clock;
    return clock;
}

unsigned Positioner::Move(int dx, int dy, int mode) {
    const uint32_t waiting = BusyUntil - Clock.NowMs();
    if (BusySet && waiting > 0 && waiting <= LongestBusyMs) Clock.SleepMs(waiting);
    const unsigned rate = Output.SampleRate();
    const auto digits = CommandDigits(PositionerCommandWord(dx, dy, mode));
    std::vector<int16_t> tones = DtmfSamples(digits, rate);
    const size_t count = tones.size();
    Output.PlayClip(std::move(tones), ClipTimeout); // a discarded command is not repeated
    const unsigned duration =
        rate == 0 ? 0u : static_cast<unsigned>(count * MillisecondsPerSecond / rate);
    const uint32_t steps = static_cast<uint32_t>(std::max(std::abs(dx), std::abs(dy)));
    const uint32_t modeFactor = static_cast<uint32_t>(SlowestModePlusOne - mode);
    BusyUntil = Clock.NowMs() + duration + MsPerStepAndMode * steps * modeFactor;
    BusySet = true;
    return duration;
}

unsigned Positioner::MoveTo(PositionerPoint target) {
    // Each command takes both axes as far as one command can; where the positioner stands is
    // recorded after each, so it always matches the commands sent.
    auto part = [](int from, int to) {
        return std::clamp(to - from, -PositionerMaxCommandSteps, PositionerMaxCommandSteps);
    };
    unsigned duration = 0;
    do {
        const int dx = part(At.X, target.X);
        const int dy = part(At.Y, target.Y);
        duration += Move(dx, dy, PositionerMoveMode);
        At = {static_cast<int16_t>(At.X + dx), static_cast<int16_t>(At.Y + dy)};
    } while (At != target);
    return duration;
}

void Positioner::ReturnHome(unsigned beatPeriodMs) {
    Clock.SleepMs(MoveTo({}));
    Clock.SleepMs(beatPeriodMs + Move(0, 0, PositionerIdleMode));
}

} // namespace kv
