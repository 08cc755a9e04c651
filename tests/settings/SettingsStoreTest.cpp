// SPDX-License-Identifier: GPL-3.0-or-later
// The typed settings store: integers as strtol reads them, doubles in their key's format in the
// "C" locale, 64-bit values as signed halves, and a file that is only replaced when it was read.
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "../text/GermanLocale.h"
#include "SettingsTestSupport.h"
#include "settings/SettingsStore.h"

namespace kv {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

SettingsStore StoreWith(const TempFolder& folder, const std::string& text) {
    WriteFile(folder / "s.ini", text);
    SettingsStore store(folder / "s.ini");
    EXPECT_TRUE(store.Load());
    return store;
}

TEST(SettingsStore, IntegersReadLikeStrtolIntoThirtyTwoBits) {
    TempFolder folder;
    SettingsStore s = StoreWith(folder, "[S]\n"
                                        "plain=42\nneg=-7\nplus=+5\ntrailing=12abc\n"
                                        "word=abc\nempty=\nfraction=3.9\n"
                                        "unsigned=4294967295\nhigh=2147483648\n"
                                        "huge=99999999999999999999\ntiny=-99999999999\n");
    EXPECT_EQ(s.GetInt("S", "plain", 1), 42);
    EXPECT_EQ(s.GetInt("S", "neg", 1), -7);
    EXPECT_EQ(s.GetInt("S", "plus", 1), 5);
    EXPECT_EQ(s.GetInt("S", "trailing", 1), 12);
    EXPECT_EQ(s.GetInt("S", "word", 1), 0);
    EXPECT_EQ(s.GetInt("S", "empty", 1), 0);
    EXPECT_EQ(s.GetInt("S", "fraction", 1), 3);
    EXPECT_EQ(s.GetInt("S", "unsigned", 1), -1);
    EXPECT_EQ(s.GetInt("S", "high", 1), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(s.GetInt("S", "huge", 1), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(s.GetInt("S", "tiny", 1), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(s.GetInt("S", "absent", 77), 77);
    EXPECT_EQ(s.GetInt("Absent", "plain", 78), 78);
}

TEST(SettingsStore, DoublesUseTheirKeysFormat) {
    TempFolder folder;
    SettingsStore s(folder / "s.ini");
    s.WriteDouble("S", "g", DoubleFormat::General, 330.1234567);
    s.WriteDouble("S", "f14", DoubleFormat::Fixed14, 1.00003109815019);
    s.WriteDouble("S", "f19", DoubleFormat::Fixed19, 0.5);
    EXPECT_EQ(s.GetText("S", "g", ""), "330.123");
    EXPECT_EQ(s.GetText("S", "f14", ""), "1.00003109815019");
    EXPECT_EQ(s.GetText("S", "f19", ""), "0.5000000000000000000");
    EXPECT_EQ(s.GetDouble("S", "g", DoubleFormat::General, 1.0), 330.123);
}

TEST(SettingsStore, AnAbsentDoubleIsTheCurrentValueInTheKeysFormat) {
    SettingsStore s("");
    EXPECT_EQ(s.GetDouble("S", "x", DoubleFormat::General, 330.1234567), 330.123);
    EXPECT_EQ(s.GetDouble("S", "x", DoubleFormat::General, 1234567.0), 1.23457e6);
    EXPECT_NEAR(s.GetDouble("S", "x", DoubleFormat::Fixed14, 1.000031098150191234),
                1.000031098150191234, 1e-14);
    EXPECT_EQ(s.GetDouble("S", "x", DoubleFormat::Fixed19, 1.00001), 1.00001);
}

TEST(SettingsStore, DoubleTextsThatAreNoFiniteNumberReadAsZero) {
    TempFolder folder;
    SettingsStore s = StoreWith(folder, "[S]\na=abc\nb=nan\nc=inf\nd=1e999\ne= 2.5x\nf=-0.25\n");
    for (const char* key : {"a", "b", "c", "d"})
        EXPECT_EQ(s.GetDouble("S", key, DoubleFormat::General, 9.0), 0.0) << key;
    EXPECT_EQ(s.GetDouble("S", "e", DoubleFormat::General, 9.0), 2.5);
    EXPECT_EQ(s.GetDouble("S", "f", DoubleFormat::General, 9.0), -0.25);
}

TEST(SettingsStore, NumbersIgnoreTheProcessLocale) {
    test::GermanLocale german;
    ASSERT_TRUE(german.Active());
    SettingsStore s("");
    s.WriteDouble("S", "x", DoubleFormat::General, 0.9);
    EXPECT_EQ(s.GetText("S", "x", ""), "0.9");
    EXPECT_EQ(s.GetDouble("S", "x", DoubleFormat::General, 0.0), 0.9);
}

TEST(SettingsStore, SixtyFourBitValuesAsSignedHalves) {
    TempFolder folder;
    const std::string path = folder / "s.ini";
    const int64_t values[] = {0,
                              -1,
                              std::numeric_limits<int64_t>::min(),
                              std::numeric_limits<int64_t>::max(),
                              int64_t{0x0000000180000000},
                              static_cast<int64_t>(0x80000000FFFFFFFFull),
                              int64_t{123456789012345}};
    SettingsStore s(path);
    for (size_t i = 0; i < std::size(values); ++i)
        s.WriteInt64("S", "V" + std::to_string(i) + "Hi", "V" + std::to_string(i) + "Lo",
                     values[i]);
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(s.GetText("S", "V4Hi", ""), "1");
    EXPECT_EQ(s.GetText("S", "V4Lo", ""), "-2147483648");
    EXPECT_EQ(s.GetText("S", "V5Hi", ""), "-2147483648");
    EXPECT_EQ(s.GetText("S", "V5Lo", ""), "-1");
    SettingsStore back(path);
    ASSERT_TRUE(back.Load());
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(
            back.GetInt64("S", "V" + std::to_string(i) + "Hi", "V" + std::to_string(i) + "Lo", 5),
            values[i])
            << i;
    // A missing half keeps the current one.
    WriteFile(path, "[S]\nOnlyLo=7\n");
    back.Load();
    EXPECT_EQ(back.GetInt64("S", "OnlyHi", "OnlyLo", int64_t{3} << 32), (int64_t{3} << 32) | 7);
}

TEST(SettingsStore, SaveCreatesTheFolderAndWritesAtomically) {
    TempFolder folder;
    const std::string path = folder / "VexlorDemo/Kestrovane.ini";
    SettingsStore s(path);
    EXPECT_TRUE(s.Load()); // missing: an empty store
    s.WriteText("Settings", "Title", "Bench 3");
    s.WriteInt("Settings", "CellFactor", 5);
    ASSERT_TRUE(s.Save()) << s.LastError();
    EXPECT_EQ(ReadFile(path), "[Settings]\nTitle=Bench 3\nCellFactor=5\n");
}

TEST(SettingsStore, AnUnreadableFileIsNeverReplaced) {
    TempFolder folder;
    const std::string path = folder / "s.ini";
    WriteFile(path, "[Settings]\nTitle=old\n");
    std::filesystem::resize_file(path, IniFile::MaxFileSize + 1); // too large to be read
    SettingsStore s(path);
    EXPECT_FALSE(s.Load());
    EXPECT_FALSE(s.LastError().empty());
    s.WriteText("Settings", "Title", "x");
    EXPECT_FALSE(s.Save());
    EXPECT_NE(s.LastError().find(path), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(path), IniFile::MaxFileSize + 1);
}

TEST(SettingsStore, NoPathNoSave) {
    SettingsStore s("");
    s.WriteInt("Settings", "CellFactor", 5);
    EXPECT_FALSE(s.Save());
    EXPECT_FALSE(s.LastError().empty());
}

} // namespace
} // namespace kv
