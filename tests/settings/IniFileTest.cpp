// SPDX-License-Identifier: GPL-3.0-or-later
// The INI document: names without regard to case, line ends, preserved foreign content, garbage,
// duplicated sections, quoting, and saves that fail without harming the old file.
#include <string>

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"
#include "settings/IniFile.h"

namespace kv {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

IniFile Parsed(const std::string& text) {
    IniFile ini;
    ini.Parse(text);
    return ini;
}

TEST(IniFile, NamesMatchInAnyCaseAndKeepTheirFirstSpelling) {
    IniFile ini = Parsed("[Settings]\nLiftAngle=52\n");
    EXPECT_EQ(ini.Get("SETTINGS", "liftangle"), "52");
    ASSERT_TRUE(ini.Set("settings", "LIFTANGLE", "60"));
    ASSERT_TRUE(ini.Set("sEttings", "NewKey", "1"));
    ASSERT_TRUE(ini.Set("Settings", "NEWKEY", "2"));
    EXPECT_EQ(ini.Serialize(), "[Settings]\nLiftAngle=60\nNewKey=2\n");
    EXPECT_EQ(ini.Get("Other", "LiftAngle"), std::nullopt);
}

TEST(IniFile, ReadsCrLfFilesAndWritesThemBackWithCrLf) {
    IniFile ini = Parsed("[A]\r\nk=v\r\n; note\r\n");
    EXPECT_EQ(ini.Get("a", "K"), "v");
    ini.Set("A", "k2", "w");
    ini.Set("B", "x", "1");
    EXPECT_EQ(ini.Serialize(), "[A]\r\nk=v\r\nk2=w\r\n; note\r\n[B]\r\nx=1\r\n");
    EXPECT_EQ(Parsed("[A]\nk=v\n").Serialize(), "[A]\nk=v\n");
}

TEST(IniFile, ForeignSectionsKeysAndCommentsSurviveAWrite) {
    const std::string text = "; written by hand\n"
                             "[Initial]\n"
                             "WindowPos = 1,2,3,4\n"
                             "[Settings]\n"
                             "# comment\n"
                             "Unknown=keep me\n"
                             "Title=old\n"
                             "\n"
                             "[Graph]\n"
                             "TraceColor0=255\n";
    IniFile ini = Parsed(text);
    ASSERT_TRUE(ini.Set("Settings", "Title", "new"));
    std::string expected = text;
    expected.replace(expected.find("Title=old"), 9, "Title=new");
    EXPECT_EQ(ini.Serialize(), expected);
    EXPECT_EQ(ini.Get("Initial", "WindowPos"), "1,2,3,4");
}

TEST(IniFile, GarbageLinesAreIgnoredAndKept) {
    std::string text = "stray=before any section\n"
                       "[Settings]\n"
                       "no equals sign here\n"
                       "=value without key\n"
                       "[unterminated header\n"
                       "\x01\x02\xff\xfe binary\n";
    text += std::string("nul\0inside=1\n", 13);
    text += std::string(100000, 'x') + "\n";
    text += "Good = 7 \n";
    IniFile ini = Parsed(text);
    EXPECT_EQ(ini.Get("Settings", "Good"), "7");
    EXPECT_EQ(ini.Get("Settings", "stray"), std::nullopt);
    EXPECT_EQ(ini.Keys("Settings"),
              (std::vector<std::string>{std::string("nul\0inside", 10), "Good"}));
    EXPECT_EQ(ini.Serialize(), text);
}

TEST(IniFile, DuplicatedSectionsMergeAndTheFirstValueWins) {
    IniFile ini = Parsed("[A]\nk=1\n[B]\nx=1\n[a]\nk=2\nm=3\n");
    EXPECT_EQ(ini.Get("A", "k"), "1");
    EXPECT_EQ(ini.Get("A", "m"), "3");
    EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ini.Keys("a"), (std::vector<std::string>{"k", "m"}));
    ini.Set("A", "k", "5");
    ini.Set("A", "m", "6");
    ini.Set("A", "n", "7");
    EXPECT_EQ(ini.Serialize(), "[A]\nk=5\nn=7\n[B]\nx=1\n[a]\nk=2\nm=6\n");
}

TEST(IniFile, DuplicatedKeysReadTheFirst) {
    IniFile ini = Parsed("[A]\nk=1\nK=2\n");
    EXPECT_EQ(ini.Get("A", "k"), "1");
    ini.Set("A", "k", "3");
    EXPECT_EQ(ini.Serialize(), "[A]\nk=3\nK=2\n");
}

TEST(IniFile, BlanksAndQuotesRoundTrip) {
    const std::vector<std::string> values = {"  padded  ", "\"quoted\"", "'single'", "\"",
                                             "a \"b\" c",  "",           "\t"};
    IniFile ini;
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_TRUE(ini.Set("S", "k" + std::to_string(i), values[i]));
    const IniFile back = Parsed(ini.Serialize());
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(back.Get("S", "k" + std::to_string(i)), values[i]) << i;
    // As Windows reads them: blanks around the value go, one pair of quotes goes.
    const IniFile windows = Parsed("[S]\n a = \" x \" \nb='y'\nc=\"z'\n");
    EXPECT_EQ(windows.Get("S", "a"), " x ");
    EXPECT_EQ(windows.Get("S", "b"), "y");
    EXPECT_EQ(windows.Get("S", "c"), "\"z'");
}

TEST(IniFile, RefusesWhatOneLineCannotHold) {
    IniFile ini = Parsed("[S]\nk=v\n");
    EXPECT_FALSE(ini.Set("S", "k", "two\nlines"));
    EXPECT_FALSE(ini.Set("S", "k", "cr\r"));
    EXPECT_FALSE(ini.Set("S", "a=b", "v"));
    EXPECT_FALSE(ini.Set("S", "", "v"));
    EXPECT_FALSE(ini.Set("S", ";k", "v"));
    EXPECT_FALSE(ini.Set("S", "[k", "v"));
    EXPECT_FALSE(ini.Set("", "k", "v"));
    EXPECT_FALSE(ini.Set("S\nT", "k", "v"));
    EXPECT_EQ(ini.Serialize(), "[S]\nk=v\n");
}

TEST(IniFile, SectionNamesWithBracketsAndBlanks) {
    IniFile ini;
    ASSERT_TRUE(ini.Set("Omega [cal. 8500]", "k", "1"));
    ASSERT_TRUE(ini.Set("  Spaced  ", "k", "2"));
    const IniFile back = Parsed(ini.Serialize());
    EXPECT_EQ(back.SectionNames(), (std::vector<std::string>{"Omega [cal. 8500]", "Spaced"}));
    EXPECT_EQ(back.Get("omega [CAL. 8500]", "k"), "1");
    EXPECT_EQ(back.Get("spaced", "k"), "2");
}

TEST(IniFile, ByteOrderMarks) {
    const IniFile utf8 = Parsed("\xEF\xBB\xBF[S]\nk=\xC3\xA4\n");
    EXPECT_EQ(utf8.Get("S", "k"), "\xC3\xA4");
    EXPECT_EQ(utf8.Serialize(), "\xEF\xBB\xBF[S]\nk=\xC3\xA4\n");
    // "[S]\r\nk=ä€😀\r\n" in UTF-16 LE, as Windows writes a Unicode profile file.
    const std::u16string wide = u"[S]\r\nk=\u00e4\u20ac\U0001F600\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : wide) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    const IniFile utf16 = Parsed(bytes);
    EXPECT_EQ(utf16.Get("s", "K"), "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16.Serialize(), "[S]\r\nk=\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\r\n");
}

std::string Utf16Le(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// The document after a save and a second load must be the one first loaded, changed by the write.
TEST(IniFile, AByteOrderMarkRepeatedAtTheStartCountsOnce) {
    IniFile wide = Parsed(Utf16Le(u"\uFEFF[Settings]\r\nLiftAngle=44\r\n"));
    EXPECT_EQ(wide.Get("Settings", "LiftAngle"), "44");
    ASSERT_TRUE(wide.Set("Settings", "LiftAngle", "45"));
    const IniFile back = Parsed(wide.Serialize());
    EXPECT_EQ(back.SectionNames(), std::vector<std::string>{"Settings"});
    EXPECT_EQ(back.Get("Settings", "LiftAngle"), "45");

    const IniFile narrow = Parsed("\xEF\xBB\xBF\xEF\xBB\xBF[S]\nk=1\n");
    EXPECT_EQ(narrow.Get("S", "k"), "1");
    EXPECT_EQ(narrow.Serialize(), "\xEF\xBB\xBF[S]\nk=1\n");
}

TEST(IniFile, CarriageReturnsEndLinesAndAreNoPartOfAValue) {
    const IniFile first = Parsed("[S]\r\nk=abc\r\r\nm=2\r\rn=x\ry\n");
    EXPECT_EQ(first.Get("S", "k"), "abc");
    EXPECT_EQ(first.Get("S", "m"), "2");
    EXPECT_EQ(first.Get("S", "n"), "x");
    const std::string saved = first.Serialize();
    EXPECT_EQ(saved, "[S]\r\nk=abc\r\nm=2\r\nn=x\r\ny\r\n");
    EXPECT_EQ(Parsed(saved).Serialize(), saved);
    // A value read from the file can always be written back.
    IniFile copy;
    EXPECT_TRUE(copy.Set("S", "n", *first.Get("S", "n")));
}

TEST(IniFileOnDisk, LoadsSavesAndReportsMissingFiles) {
    TempFolder folder;
    const std::string path = folder / "a.ini";
    IniFile ini;
    EXPECT_EQ(ini.Load(path), IniFile::LoadResult::Missing);
    ini.Set("S", "k", "v");
    ASSERT_TRUE(ini.Save(path)) << ini.LastError();
    EXPECT_EQ(ReadFile(path), "[S]\nk=v\n");
    IniFile back;
    EXPECT_EQ(back.Load(path), IniFile::LoadResult::Loaded);
    EXPECT_EQ(back.Get("S", "k"), "v");
    EXPECT_EQ(test::FileCount(folder.Path()), 1u); // no temporary file left behind
}

TEST(IniFileOnDisk, UnreadableFilesFailWithAReason) {
    TempFolder folder;
    IniFile ini;
    EXPECT_EQ(ini.Load(folder.Path()), IniFile::LoadResult::Failed); // a folder
    EXPECT_NE(ini.LastError().find(folder.Path()), std::string::npos);
    const std::string big = folder / "big.ini";
    std::filesystem::resize_file((WriteFile(big, ""), big), IniFile::MaxFileSize + 1);
    EXPECT_EQ(ini.Load(big), IniFile::LoadResult::Failed);
    EXPECT_FALSE(ini.LastError().empty());
}

TEST(IniFileOnDisk, AFailingWriteLeavesTheOldFileIntact) {
    TempFolder folder;
    const std::string path = folder / "a.ini";
    const std::string old = "[S]\nk=old\n";
    WriteFile(path, old);
    IniFile ini;
    ini.Load(path);
    ini.Set("S", "k", std::string(64 * 1024, 'n'));
    {
        test::FileSizeLimit limit(4096); // the disk is "full" after 4 KiB
        EXPECT_FALSE(ini.Save(path));
    }
    EXPECT_NE(ini.LastError().find("a.ini"), std::string::npos) << ini.LastError();
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(test::FileCount(folder.Path()), 1u);
    EXPECT_TRUE(ini.Save(path)); // and with room again it saves
    EXPECT_EQ(ReadFile(path).size(), 64 * 1024 + 7u);
}

TEST(IniFileOnDisk, AnUnwritableFolderLeavesTheOldFileIntact) {
    TempFolder folder;
    const std::string path = folder / "a.ini";
    WriteFile(path, "[S]\nk=old\n");
    chmod(folder.Path().c_str(), 0555);
    chmod(path.c_str(), 0444);
    const bool saved = test::RunUnprivileged([&] {
        IniFile ini;
        ini.Set("S", "k", "new");
        return ini.Save(path);
    });
    chmod(folder.Path().c_str(), 0755);
    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadFile(path), "[S]\nk=old\n");
}

TEST(IniFileOnDisk, SavingKeepsPermissionsAndFollowsSymbolicLinks) {
    TempFolder folder;
    const std::string target = folder / "real.ini";
    const std::string link = folder / "link.ini";
    WriteFile(target, "[S]\nk=1\n");
    chmod(target.c_str(), 0640);
    std::filesystem::create_symlink(target, link);
    IniFile ini;
    ini.Load(link);
    ini.Set("S", "k", "2");
    ASSERT_TRUE(ini.Save(link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "[S]\nk=2\n");
    struct stat st {};
    stat(target.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

} // namespace
} // namespace kv
