// SPDX-License-Identifier: GPL-3.0-or-later
// The progress line of kestrovane-analyze, driven with made-up times and a made-up terminal: what
// is written on standard error, when, and that nothing is written off a terminal or with --quiet.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "cli/AnalyzeProgress.h"
#include "cli/AnalyzeSession.h"

namespace kv {
namespace {

constexpr unsigned Rate = 48000;
constexpr uint64_t Hour = 3600ull * Rate; // samples of an hour's recording

// Everything written for a file analysed evenly over `seconds`, one update per 10 ms.
std::string WholeRun(AnalyzeProgress& progress, uint64_t total, double seconds) {
    std::string written;
    const int steps = static_cast<int>(seconds * 100);
    for (int i = 1; i <= steps; ++i)
        written += progress.Update(total * static_cast<uint64_t>(i) / static_cast<uint64_t>(steps),
                                   i / 100.0);
    return written + progress.Finish(total, seconds);
}

TEST(AnalyzeProgress, NothingOffATerminalOrWithQuiet) {
    const std::pair<bool, bool> cases[] = {{false, false}, {false, true}, {true, true}};
    for (const auto& [terminal, quiet] : cases) {
        AnalyzeProgress progress(terminal, quiet, Hour, Rate);
        EXPECT_EQ(WholeRun(progress, Hour, 30.0), "") << terminal << quiet;
        EXPECT_EQ(progress.Clear(), "");
    }
}

TEST(AnalyzeProgress, AQuickFileWritesNothing) {
    AnalyzeProgress progress(true, false, Hour, Rate);
    EXPECT_EQ(WholeRun(progress, Hour, 0.9), "");
}

TEST(AnalyzeProgress, ShowsTheShareAndTheTimeLeftInPlaceAfterTheFirstSecond) {
    AnalyzeProgress progress(true, false, 100 * Rate, Rate);
    EXPECT_EQ(progress.Update(10 * Rate, 0.5), "") << "not within the first second";
    EXPECT_EQ(progress.Update(25 * Rate, 1.0), "\rkestrovane-analyze: 25% analysed, 0:03 left");
    EXPECT_EQ(progress.Update(26 * Rate, 1.1), "") << "at most four times a second";
    EXPECT_EQ(progress.Update(50 * Rate, 2.0), "\rkestrovane-analyze: 50% analysed, 0:02 left");
    // A shorter line blanks what the longer one leaves.
    AnalyzeProgress slow(true, false, 100 * Rate, Rate);
    const std::string first = slow.Update(1 * Rate, 100.0);
    EXPECT_EQ(first, "\rkestrovane-analyze: 1% analysed, 2:45:00 left");
    const std::string second = slow.Update(99 * Rate, 101.0);
    const std::string text = "\rkestrovane-analyze: 99% analysed, 0:02 left";
    ASSERT_LT(text.size(), first.size());
    EXPECT_EQ(second, text + std::string(first.size() - text.size(), ' '));
}

TEST(AnalyzeProgress, EndsWithTheWholeFileAndANewline) {
    AnalyzeProgress progress(true, false, 100 * Rate, Rate);
    const std::string written = WholeRun(progress, 100 * Rate, 12.3);
    EXPECT_NE(written.find('\r'), std::string::npos);
    EXPECT_EQ(written.find('\n'), written.size() - 1) << "one newline, at the very end";
    const std::string last = written.substr(written.rfind('\r'));
    EXPECT_EQ(last.substr(0, last.find_last_not_of(" \n") + 1),
              "\rkestrovane-analyze: 100% analysed in 0:13");
}

// Readings on standard output may share the terminal: the line is taken off before each, and
// drawn again at the next refresh.
TEST(AnalyzeProgress, MakesWayForReadingsOnTheSameTerminal) {
    AnalyzeProgress progress(true, false, 100 * Rate, Rate);
    const std::string line = progress.Update(25 * Rate, 1.0);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(progress.Clear(), "\r" + std::string(line.size() - 1, ' ') + "\r");
    EXPECT_EQ(progress.Clear(), "") << "nothing on the screen any more";
    EXPECT_EQ(progress.Update(26 * Rate, 1.1), "") << "the next refresh draws it";
    EXPECT_EQ(progress.Update(30 * Rate, 1.25), "\rkestrovane-analyze: 30% analysed, 0:03 left");
    EXPECT_EQ(progress.Clear().size(), line.size() + 1);
    // The end after a reading: the last line on a line of its own.
    EXPECT_EQ(progress.Finish(100 * Rate, 4.0), "\rkestrovane-analyze: 100% analysed in 0:04\n");
}

TEST(AnalyzeProgress, WithoutALengthCountsTheSoundsOwnTime) {
    AnalyzeProgress progress(true, false, std::nullopt, Rate);
    EXPECT_EQ(progress.Update(90 * Rate, 1.5), "\rkestrovane-analyze: 1:30 of sound analysed");
    EXPECT_EQ(progress.Finish(Hour, 3.2),
              "\rkestrovane-analyze: 1:00:00 of sound analysed in 0:04\n");
}

// A compressed file's length may be an estimate that the decoded sound outruns.
TEST(AnalyzeProgress, AnEstimatedLengthThatIsOutrunStopsAtAHundred) {
    AnalyzeProgress progress(true, false, 100 * Rate, Rate);
    EXPECT_EQ(progress.Update(103 * Rate, 2.0), "\rkestrovane-analyze: 100% analysed");
}

TEST(AnalyzeProgress, DurationsInWholeSecondsRoundedUp) {
    EXPECT_EQ(AnalyzeProgress::Duration(0), "0:00");
    EXPECT_EQ(AnalyzeProgress::Duration(7.2), "0:08");
    EXPECT_EQ(AnalyzeProgress::Duration(754), "12:34");
    EXPECT_EQ(AnalyzeProgress::Duration(3723), "1:02:03");
    EXPECT_EQ(AnalyzeProgress::Duration(-1), "0:00");
}

TEST(AnalyzeArguments, QuietSilencesTheProgress) {
    std::string error;
    EXPECT_FALSE(ParseAnalyzeArguments({"w.wav"}, error)->Quiet);
    const auto quiet = ParseAnalyzeArguments({"--quiet", "w.wav"}, error);
    ASSERT_TRUE(quiet) << error;
    EXPECT_TRUE(quiet->Quiet);
    EXPECT_EQ(quiet->File, "w.wav");
}

} // namespace
} // namespace kv
