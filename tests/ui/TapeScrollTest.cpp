// SPDX-License-Identifier: GPL-3.0-or-later
// The view's tape scroll while the analysis writes new entries: a scrolled or marked tape keeps
// its rows, a tape at its newest entry follows, and a clear or a new run brings it back.
#include <gtest/gtest.h>

#include "../analysis/CoreHarness.h"
#include "ui/view/TapeScroll.h"

namespace kv {
namespace {

using test::ClickTrain;
using test::CoreHarness;

constexpr int Rate = 48000;

struct TapeScrollTest : ::testing::Test {
    void SetUp() override {
        h.StartForClicks();
        train.Seconds = 32; // the tape, then two seconds for each case
        sound = train.Make();
        Feed(0, 25); // a tape well over a hundred entries long
    }
    void Feed(int fromSecond, int toSecond) {
        ASSERT_LE(static_cast<size_t>(Rate * toSecond), sound.size()) << "past the train's end";
        h.Feed(std::vector<int16_t>(sound.begin() + Rate * fromSecond,
                                    sound.begin() + Rate * toSecond));
    }
    CoreHarness h;
    ClickTrain train;
    std::vector<int16_t> sound;
    TapeScroll scroll;
};

TEST_F(TapeScrollTest, ScrolledOrHeldTapeKeepsItsRowsWhileEntriesAreWritten) {
    struct Case {
        const char* what;
        int offset;
        bool held;
        int expectedGrowth; // entries the offset grows by over the ten beats fed
    } cases[] = {
        {"scrolled back", 100, false, 10},
        {"at the newest entry", 0, false, 0},
        {"marking at the newest entry", 0, true, 10},
    };
    int second = 25;
    for (const Case& c : cases) {
        scroll.Set(h.Core, c.offset);
        scroll.Hold(h.Core, c.held);
        const int before = h.Core.Tape.TapeWriteIndex;
        Feed(second, second + 2);
        second += 2;
        ASSERT_EQ(h.Core.Tape.TapeWriteIndex, before + 10) << c.what;
        EXPECT_EQ(scroll.Offset(h.Core), c.offset + c.expectedGrowth) << c.what;
        scroll.Hold(h.Core, false);
    }
}

TEST_F(TapeScrollTest, OffsetBeyondTheTapeStopsAtItsFirstEntryOnceBuffersArrive) {
    scroll.Set(h.Core, 100000);
    EXPECT_EQ(scroll.Offset(h.Core), 100000) << "nothing is limited before a buffer";
    Feed(25, 27);
    EXPECT_EQ(scroll.Offset(h.Core), h.Core.Tape.TapeWriteIndex);
}

TEST_F(TapeScrollTest, ClearingTheTapeOrANewRunReturnsToTheNewestEntry) {
    struct Case {
        const char* what;
        void (*restart)(AnalysisCore&);
    } cases[] = {
        {"clear", [](AnalysisCore& core) { core.ClearTape(); }},
        {"run", [](AnalysisCore& core) { core.BeginRun(); }},
    };
    for (const Case& c : cases) {
        scroll.Set(h.Core, 20);
        c.restart(h.Core);
        EXPECT_EQ(scroll.Offset(h.Core), 0) << c.what;
    }
}

} // namespace
} // namespace kv
