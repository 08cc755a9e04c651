// SPDX-License-Identifier: GPL-3.0-or-later
// The positioner's side of positional runs: position codes, the command word and its digits, the
// DTMF tones, the positioner file and the timing of commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string_view>
#include <unistd.h>

#include "positions/PositionCodes.h"
#include "positions/Positioner.h"
#include "support/DtmfDecoder.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

TEST(PositionCodes, PairsOfLettersFromTheSequence) {
    const std::string standard = "PD-PL-PU-DD-DU-PR";
    const char* expected[] = {"PD", "PL", "PU", "DD", "DU", "PR"};
    for (int n = 1; n <= 6; ++n)
        EXPECT_EQ(PositionCode(standard, n), expected[n - 1]) << n;
    EXPECT_EQ(PositionCode(standard, 0), "");
    EXPECT_EQ(PositionCode(standard, 7), "");
    EXPECT_EQ(PositionCode(standard, -1), "");
}

TEST(PositionCodes, LowerCaseSpacesAndCommasWithFivePositions) {
    std::vector<std::string> codes;
    for (int n = 1; n <= 5; ++n)
        codes.push_back(PositionCode(" pd pl,pu ", n));
    EXPECT_EQ(codes, (std::vector<std::string>{"PD", "PL", "PU", "", ""}));
    EXPECT_EQ(PositionCode("d\xc3\xa4u-pd", 1), "DU") << "bytes of a non-ASCII letter are dropped";
    EXPECT_EQ(PositionCode("dup", 2), "") << "a lone letter makes no code";
}

TEST(PositionCodes, DialAndPendantGroups) {
    EXPECT_EQ(GroupOf("DU"), PositionGroup::Dial);
    EXPECT_EQ(GroupOf("PL"), PositionGroup::Pendant);
    EXPECT_EQ(GroupOf("CU"), PositionGroup::Pendant);
    EXPECT_EQ(GroupOf("XY"), PositionGroup::None);
    EXPECT_EQ(GroupOf(""), PositionGroup::None);
}

std::string DigitText(uint32_t word) {
    std::string text;
    for (int d : CommandDigits(word))
        text += DtmfSymbol(d);
    return text;
}

TEST(PositionerCommand, MoveFromOnePointToAnotherGivesTheWordAndDigits) {
    // (100, -20) to (40, 30): dx = -60, dy = 50 in move mode.
    const uint32_t word = PositionerCommandWord(-60, 50, PositionerMoveMode);
    EXPECT_EQ(word >> 16, 0x603Cu);
    EXPECT_EQ(word & 0xFFFF, 0xA032u);
    EXPECT_EQ(DigitText(word), "603CA032");
}

TEST(PositionerCommand, SignsModesAndStepCountsModulo4096) {
    EXPECT_EQ(PositionerCommandWord(0, 0, PositionerIdleMode), 0x00008000u);
    EXPECT_EQ(PositionerCommandWord(5, -7, 3), 0x30057007u | 0x8000u);
    EXPECT_EQ(PositionerCommandWord(4097, 0, 0) >> 16, 1u) << "the step count wraps at 4096";
    EXPECT_EQ(PositionerCommandWord(-4096, 0, 0) >> 16, 0x4000u);
    EXPECT_EQ(PositionerCommandWord(-32768, 32767, 1), 0x50009FFFu)
        << "bit 15 of the high half is never set";
    EXPECT_EQ(DigitText(0x0123EFDB), "0123#*DB");
}

TEST(PositionerTones, KeypadFrequencyPairs) {
    const std::pair<int, std::pair<int, int>> keys[] = {
        {1, {697, 1209}},  {0, {941, 1336}},  {5, {770, 1336}},  {9, {852, 1477}},
        {10, {697, 1633}}, {13, {941, 1633}}, {14, {941, 1477}}, {15, {941, 1209}}};
    for (const auto& [value, pair] : keys) {
        EXPECT_EQ(DtmfFrequencies(value).LowHz, pair.first) << value;
        EXPECT_EQ(DtmfFrequencies(value).HighHz, pair.second) << value;
    }
}

TEST(PositionerTones, EachDigitIsFiftyMillisecondsOfToneAndOfSilence) {
    for (unsigned rate : {44100u, 48000u, 96000u}) {
        const std::array<int, 8> digits{6, 0, 3, 12, 10, 0, 3, 2};
        const std::vector<int16_t> s = DtmfSamples(digits, rate);
        const size_t n = rate / 20;
        ASSERT_EQ(s.size(), 16 * n) << rate;
        EXPECT_EQ(s[0], 16384) << "two cosines at phase 0, each 8192";
        EXPECT_EQ(s[n - 1] != 0 || s[n - 2] != 0, true);
        EXPECT_TRUE(std::all_of(s.begin() + static_cast<long>(n),
                                s.begin() + static_cast<long>(2 * n),
                                [](int16_t v) { return v == 0; }));
        EXPECT_EQ(*std::max_element(s.begin(), s.end()), 16384);
        EXPECT_EQ(test::Symbols(test::DecodeDtmf(s, rate)), "603CA032") << rate;
    }
}

struct ScriptedOutput : ClipOutput {
    unsigned SampleRate() const override { return Rate; }
    bool Available() const override { return true; }
    bool PlayClip(std::vector<int16_t> samples, std::chrono::milliseconds timeout) override {
        Clips.push_back(std::move(samples));
        Timeouts.push_back(timeout);
        return Plays;
    }
    unsigned Rate = 48000;
    bool Plays = true;
    std::vector<std::vector<int16_t>> Clips;
    std::vector<std::chrono::milliseconds> Timeouts;
};

// Time passes only when someone sleeps.
struct CountingClock : MillisecondClock {
    uint32_t NowMs() override { return Now; }
    void SleepMs(uint32_t ms) override {
        Sleeps.push_back(ms);
        Now += ms;
    }
    uint32_t Now = 0xFFFFFF00u; // close to the wrap of the tick count
    std::vector<uint32_t> Sleeps;
};

std::string ClipDigits(const std::vector<int16_t>& clip, unsigned rate) {
    return test::Symbols(test::DecodeDtmf(clip, rate));
}

TEST(PositionerTiming, CommandsWaitUntilThePositionerIsNoLongerBusy) {
    ScriptedOutput output;
    CountingClock clock;
    Positioner motor(output, clock);
    EXPECT_EQ(motor.MoveTo({100, -20}), 800u);
    EXPECT_TRUE(clock.Sleeps.empty()) << "an idle positioner takes a command at once";
    EXPECT_EQ(motor.Current(), (PositionerPoint{100, -20}));
    EXPECT_EQ(motor.MoveTo({40, 30}), 800u);
    // Busy for the tones (800 ms) and 5 ms per step of the longer axis (100) for modes 2 and 3.
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{800 + 5 * 100 * 2}));
    ASSERT_EQ(output.Clips.size(), 2u);
    EXPECT_EQ(ClipDigits(output.Clips[1], 48000), "603CA032");
    EXPECT_EQ(output.Timeouts[1], std::chrono::milliseconds(3000));
}

TEST(PositionerTiming, APositionerIdleForWeeksIsNotBusy) {
    ScriptedOutput output;
    CountingClock clock;
    Positioner motor(output, clock);
    motor.MoveTo({1, 1});
    clock.Now += 30u * 24 * 3600 * 1000; // beyond half the tick count's range
    motor.MoveTo({2, 2});
    EXPECT_TRUE(clock.Sleeps.empty());
}

TEST(PositionerTiming, ReturnHomeSendsTheWayBackThenAnEmptyCommand) {
    ScriptedOutput output;
    output.Rate = 96000;
    output.Plays = false; // not confirmed: discarded, the run goes on
    CountingClock clock;
    Positioner motor(output, clock);
    motor.MoveTo({3, -2});
    clock.Sleeps.clear();
    motor.ReturnHome(200);
    EXPECT_EQ(motor.Current(), (PositionerPoint{}));
    ASSERT_EQ(output.Clips.size(), 3u);
    EXPECT_EQ(ClipDigits(output.Clips[1], 96000), "6003A002") << "dx = -3, dy = 2";
    EXPECT_EQ(ClipDigits(output.Clips[2], 96000), "00008000");
    // Busy after the first move (800 + 5*3*2), the sleep through the way back (800), the rest of
    // the way back's busy time, then a beat plus the empty command's tones.
    EXPECT_EQ(clock.Sleeps, (std::vector<uint32_t>{830, 800, 30, 200 + 800}));
}

// The steps a clip's command moves each axis, decoded from its tones.
std::pair<int, int> ClipMove(const std::vector<int16_t>& clip) {
    uint32_t word = 0;
    for (char c : ClipDigits(clip, 48000))
        word = (word << 4) | static_cast<uint32_t>(std::string_view("0123456789ABCD#*").find(c));
    auto axis = [](uint32_t half) {
        return (half & 0x4000) != 0 ? -static_cast<int>(half & 0xFFF)
                                    : static_cast<int>(half & 0xFFF);
    };
    return {axis(word >> 16), axis(word & 0xFFFF)};
}

// Fault: a move of 4096 steps or more (or across the 16-bit range) went out wrapped while the
// full target was recorded as reached.
TEST(PositionerTiming, LongMovesAreSplitIntoCommandsThatAddUpToTheTarget) {
    const std::pair<PositionerPoint, PositionerPoint> cases[] = {
        {{}, {100, -20}},    {{}, {4095, 0}},     {{}, {4096, 0}},           {{}, {8191, -100}},
        {{}, {-4096, 4095}}, {{}, {-8190, 5000}}, {{32767, 0}, {-32768, 0}}, {{-12000, 300}, {}}};
    for (const auto& [from, to] : cases) {
        ScriptedOutput output;
        CountingClock clock;
        Positioner motor(output, clock);
        motor.MoveTo(from);
        output.Clips.clear();
        motor.MoveTo(to);
        int x = from.X, y = from.Y;
        for (const auto& clip : output.Clips) {
            const auto [dx, dy] = ClipMove(clip);
            x += dx, y += dy;
        }
        EXPECT_EQ(std::pair(x, y), (std::pair<int, int>(to.X, to.Y)));
        EXPECT_EQ(motor.Current(), to) << to.X << "," << to.Y;
    }
}

struct TempDir {
    fs::path Path = fs::temp_directory_path() / ("kv-positioner-" + std::to_string(::getpid()));
    TempDir() { fs::create_directories(Path); }
    ~TempDir() { fs::remove_all(Path); }
};

TEST(PositionerFile, PointsByCodeWithAbsentKeysAsZero) {
    TempDir dir;
    const fs::path file = dir.Path / "microphone.ini";
    std::ofstream(file) << "[microphone]\r\npd0=100\r\nPD1=-20\r\nPL0=40\r\nDU1=\r\n";
    EXPECT_EQ(ReadPositionerPoint(file.string(), "PD"), (PositionerPoint{100, -20}));
    EXPECT_EQ(ReadPositionerPoint(file.string(), "PL"), (PositionerPoint{40, 0}));
    EXPECT_EQ(ReadPositionerPoint(file.string(), "DU"), (PositionerPoint{}));
    EXPECT_EQ(ReadPositionerPoint(file.string(), "PR"), (PositionerPoint{}));
    EXPECT_EQ(ReadPositionerPoint((dir.Path / "missing.ini").string(), "PD"), (PositionerPoint{}));
    EXPECT_EQ(ReadPositionerPoint(dir.Path.string(), "PD"), (PositionerPoint{}))
        << "a folder is no file";
}

} // namespace
} // namespace kv
