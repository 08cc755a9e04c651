// SPDX-License-Identifier: GPL-3.0-or-later
// The log viewer's settings: the defaults of a fresh installation, the store's keys and their
// round trip, missing and malformed keys, and the defaults reset.
#include <gtest/gtest.h>

#include "LogTestSupport.h"
#include "logview/model/GraphSettings.h"

namespace kv::test {
namespace {

TEST(GraphSettingsTest, AFreshInstallationShowsFiveTracesInThreeStrips) {
    const GraphSettings s = GraphSettings::Defaults();
    std::vector<int> enabled;
    for (int i = 0; i < TraceCount; ++i)
        if (s.Traces[i].Enabled) enabled.push_back(i);
    EXPECT_EQ(enabled, (std::vector<int>{0, 1, 2, 4, 5}));
    // Rate and average rate share the top strip, the average rate's scale on the right.
    EXPECT_EQ(s.Traces[4].Strip(), s.Traces[0].Strip());
    EXPECT_TRUE(s.Traces[4].ScaleOnRight());
    EXPECT_FALSE(s.Traces[0].ScaleOnRight());
    EXPECT_TRUE(s.Traces[1].HoldMax && s.Traces[1].HoldMin);
    EXPECT_EQ(s.Traces[1].MinHold, 90.0);
    EXPECT_EQ(s.Traces[1].MaxHold, 340.0);
    EXPECT_TRUE(s.Traces[2].WrapSuppress);
    EXPECT_FALSE(s.Traces[2].HoldMax); // so the deviation is not folded
    EXPECT_EQ(s.Traces[6].FiltCoeff, 0.05);
    EXPECT_EQ(s.Traces[0].Label, "    Rate (s/d)");
    EXPECT_EQ(s.Traces[6].Label, "Trace 7");
    EXPECT_EQ(s.Traces[7].Label, "Barometric pressure mB");
    EXPECT_EQ(s.Traces[0].TraceColor, 0x002323EBu); // 235, 35, 35 with red in the low byte
    EXPECT_EQ(s.Traces[3].BackColor, 0x00FFFFFFu);
    EXPECT_EQ(s.CustomColors[8], s.Traces[0].TraceTColor);
    EXPECT_EQ(s.CustomColors[14], s.Traces[6].TraceTColor);
    EXPECT_EQ(s.CustomColors[15], Rgb(240, 240, 240));
    EXPECT_EQ(s.Title, std::string(23, ' ') + "Long term performance");
    EXPECT_EQ(s.VGrid, 10);
    EXPECT_EQ(s.Span, 0);
}

class GraphSettingsStoreTest : public ::testing::Test {
protected:
    LogTempDir Dir;
    SettingsStore Store{Dir.File("Kestrovane.ini")};
};

TEST_F(GraphSettingsStoreTest, EverySettingSurvivesASaveUnderItsKey) {
    GraphSettings saved = GraphSettings::Defaults();
    TraceSettings& t = saved.Traces[5];
    t.Enabled = false;
    t.Position = 6;
    t.Label = "  Beat error, ms";
    t.Mag = 1000;
    t.Ofs = -0.25;
    t.Derivative = 1;
    t.FiltCoeff = 0.125;
    t.HoldMax = true;
    t.MaxHold = 2.5e-5;
    t.Precision = -1;
    t.HGrid = 4;
    t.ROPCode = 9;
    t.BackColor = Rgb(1, 2, 3);
    saved.GridColor = Rgb(10, 20, 30);
    saved.LogX = true;
    saved.Interval = 30;
    saved.Span = 120;
    saved.Title = "Calibre 2824";
    saved.CustomColors[3] = Rgb(4, 5, 6);
    SaveGraphSettings(Store, saved);
    ASSERT_TRUE(Store.Save());

    EXPECT_EQ(Store.GetInt(GraphSection, "GraphTrace5", -1), 6);
    EXPECT_EQ(Store.GetText(GraphSection, "MaxHold5", ""), "2.5e-05");
    EXPECT_EQ(Store.GetText(GraphSection, "Derivativ5", ""), "1");
    EXPECT_EQ(Store.GetInt("Settings", "CustomColor3", 0), static_cast<int>(Rgb(4, 5, 6)));

    SettingsStore reread(Store.Path());
    ASSERT_TRUE(reread.Load());
    GraphSettings loaded = GraphSettings::Defaults();
    LoadGraphSettings(reread, loaded);
    const TraceSettings& l = loaded.Traces[5];
    EXPECT_EQ(l.Enabled, false);
    EXPECT_EQ(l.Position, 6);
    EXPECT_EQ(l.Label, "  Beat error, ms"); // leading blanks kept
    EXPECT_EQ(l.Mag, 1000);
    EXPECT_EQ(l.Ofs, -0.25);
    EXPECT_EQ(l.Derivative, 1);
    EXPECT_EQ(l.FiltCoeff, 0.125);
    EXPECT_TRUE(l.HoldMax);
    EXPECT_EQ(l.MaxHold, 2.5e-5);
    EXPECT_EQ(l.Precision, -1);
    EXPECT_EQ(l.HGrid, 4);
    EXPECT_EQ(l.ROPCode, 9);
    EXPECT_EQ(l.BackColor, Rgb(1, 2, 3));
    EXPECT_EQ(loaded.GridColor, Rgb(10, 20, 30));
    EXPECT_TRUE(loaded.LogX);
    EXPECT_EQ(loaded.Interval, 30);
    EXPECT_EQ(loaded.Span, 120);
    EXPECT_EQ(loaded.Title, "Calibre 2824");
    EXPECT_EQ(loaded.CustomColors[3], Rgb(4, 5, 6));
}

TEST_F(GraphSettingsStoreTest, MissingKeysKeepTheirValuesAndBadOnesAreLimited) {
    Store.WriteText(GraphSection, "Mag0", "abc");     // not a number: 0
    Store.WriteInt(GraphSection, "GraphTrace1", 12);  // no such strip
    Store.WriteText(GraphSection, "FiltCoeff2", "3"); // would make the filter unstable
    Store.WriteInt(GraphSection, "Derivativ3", -4);
    Store.WriteText(GraphSection, "Title", "Mine");
    GraphSettings s = GraphSettings::Defaults();
    s.Traces[4].Label = "kept";
    LoadGraphSettings(Store, s);
    EXPECT_EQ(s.Traces[0].Mag, 0.0);
    EXPECT_EQ(s.Traces[1].Position, 7);
    EXPECT_EQ(s.Traces[2].FiltCoeff, 0.99);
    EXPECT_EQ(s.Traces[3].Derivative, 0);
    EXPECT_EQ(s.Traces[4].Label, "kept");
    EXPECT_EQ(s.Title, "Mine");
    EXPECT_EQ(s.Traces[1].MaxHold, 340.0);
}

TEST(GraphSettingsResetTest, TheResetRestoresTracesButNotColoursTitleOrSpan) {
    GraphSettings s = GraphSettings::Defaults();
    for (TraceSettings& t : s.Traces) {
        t.Enabled = !t.Enabled;
        t.Position = 3;
        t.Label = "x";
        t.Mag = 5;
        t.Derivative = 2;
        t.HoldMax = t.HoldMin = t.WrapSuppress = true;
        t.HGrid = 3;
        t.BackColor = t.TraceColor = t.TraceTColor = t.TraceGridColor = Rgb(1, 1, 1);
    }
    s.VGrid = 0;
    s.Title = "mine";
    s.Span = 60;
    s.Interval = 5;
    s.LogX = true;
    TraceResults results;
    results[3].FilterSeedA = results[3].FilterSeedB = 4.0;
    results[3].Integral = 99.0;
    results[3].ScaleMax = 7.0;

    ResetTraceDefaults(s, results);
    const GraphSettings defaults = GraphSettings::Defaults();
    for (int i = 0; i < TraceCount; ++i) {
        const TraceSettings &t = s.Traces[i], &d = defaults.Traces[i];
        EXPECT_EQ(t.Enabled, d.Enabled) << i;
        EXPECT_EQ(t.Position, i);
        EXPECT_EQ(t.Label, d.Label);
        EXPECT_EQ(t.Mag, 1.0);
        EXPECT_EQ(t.Derivative, 0);
        EXPECT_EQ(t.HoldMax, d.HoldMax);
        EXPECT_EQ(t.WrapSuppress, d.WrapSuppress);
        EXPECT_EQ(t.HGrid, 0);
        EXPECT_EQ(t.BackColor, Rgb(255, 255, 255));
        EXPECT_EQ(t.TraceColor, Rgb(1, 1, 1)); // the three colours stay
        EXPECT_EQ(t.TraceGridColor, Rgb(1, 1, 1));
        EXPECT_FALSE(HasValue(results[i].FilterSeedA));
        EXPECT_FALSE(HasValue(results[i].FilterSeedB));
        EXPECT_EQ(results[i].Integral, 0.0);
    }
    EXPECT_EQ(results[3].ScaleMax, 7.0); // the next load sets the scales
    EXPECT_EQ(s.VGrid, 10);
    EXPECT_EQ(s.Title, "mine");
    EXPECT_EQ(s.Span, 60);
    EXPECT_EQ(s.Interval, 5);
    EXPECT_TRUE(s.LogX);
}

} // namespace
} // namespace kv::test
