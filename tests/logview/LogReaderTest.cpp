// SPDX-License-Identifier: GPL-3.0-or-later
// The reader's rules for a log text: the encoding from the first bytes, lines that need their
// CR and one more character, fields split at tab, comma, space and semicolon, numbers in the C
// library's forms, and the tags and filter markers found anywhere in a line. The chunked reader
// gives the lines of the whole text wherever a chunk cuts, and skips a line beyond its limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "LogTestSupport.h"
#include "logview/format/LogEncoding.h"
#include "logview/format/LogLineReader.h"
#include "logview/format/LogLineStream.h"

namespace kv::test {
namespace {

std::vector<std::string> ReadLines(std::string_view text) {
    std::vector<std::string> lines;
    LogLines reader(text);
    for (std::string_view line; reader.Next(line);)
        lines.emplace_back(line);
    return lines;
}

std::vector<std::string> Chunked(std::string_view bytes, size_t chunk, size_t maxLine = SIZE_MAX) {
    std::vector<std::string> lines;
    const auto add = [&](const LogLine& line) {
        lines.push_back(line.TooLong ? "(too long)" : std::string(line.Text));
        return true;
    };
    ReadLogLines(bytes, add, {maxLine, chunk});
    return lines;
}

TEST(LogEncodingTest, AZeroByteAmongTheFirstTenMakesAFileUtf16) {
    EXPECT_EQ(DetectLogEncoding(Wide("1351951509\t1")), LogEncoding::Utf16Le);
    EXPECT_EQ(DetectLogEncoding("1351951509\t-2.3\r\n"), LogEncoding::EightBit);
    EXPECT_EQ(DetectLogEncoding(std::string("1") + std::string(9, 'x') + '\0'),
              LogEncoding::EightBit); // the eleventh byte does not count
    EXPECT_EQ(DetectLogEncoding("1\r\n"), LogEncoding::EightBit);
    EXPECT_EQ(DetectLogEncoding(""), LogEncoding::Utf16Le); // what new records are written in
}

TEST(LogEncodingTest, TextsDecodeFromBothEncodingsAndLegacyLinesFromWindows1252) {
    EXPECT_EQ(DecodeLogText(Wide("12\t3\r\n"), LogEncoding::Utf16Le), "12\t3\r\n");
    // "é" and a character beyond the basic plane (a surrogate pair) in UTF-16.
    const std::string wide =
        Wide("a") + std::string("\xE9\x00", 2) + std::string("\x3D\xD8\x00\xDE", 4) + Wide("!");
    EXPECT_EQ(DecodeLogText(wide, LogEncoding::Utf16Le), "a\xC3\xA9\xF0\x9F\x98\x80!");
    // An incomplete last code unit (a record being written) and an unpaired surrogate.
    EXPECT_EQ(DecodeLogText(Wide("ab") + "c", LogEncoding::Utf16Le), "ab");
    EXPECT_EQ(DecodeLogText(std::string("\x00\xD8", 2) + Wide("x"), LogEncoding::Utf16Le),
              "\xEF\xBF\xBDx");
    // 8-bit: UTF-8 lines stay, a line that is not UTF-8 is Windows-1252, each line on its own.
    EXPECT_EQ(DecodeLogText("caf\xC3\xA9\r\ncaf\xE9 \x80\r\n", LogEncoding::EightBit),
              "caf\xC3\xA9\r\ncaf\xC3\xA9 \xE2\x82\xAC\r\n");
    EXPECT_EQ(EncodeLogText("1\t\xC3\xA9", LogEncoding::Utf16Le), Wide("1\t") + "\xE9" + '\0');
    EXPECT_EQ(EncodeLogText("1\t\xC3\xA9", LogEncoding::EightBit), "1\t\xC3\xA9");
}

TEST(LogLinesTest, ALineRunsToItsCrAndCountsOnlyWithACharacterAfterIt) {
    EXPECT_EQ(ReadLines("1\t2\r\n3\t4\r\n"), (std::vector<std::string>{"1\t2", "3\t4"}));
    EXPECT_EQ(ReadLines("\n\n1\r\n"), (std::vector<std::string>{"1"})); // leading LFs skipped
    EXPECT_EQ(ReadLines("1\r\n2"), (std::vector<std::string>{"1"}));    // no CR LF yet
    EXPECT_EQ(ReadLines("1\r\n2\r"), (std::vector<std::string>{"1"}));  // CR, nothing after
    EXPECT_EQ(ReadLines("1\r2\r\n"), (std::vector<std::string>{"1", "2"}));
    EXPECT_TRUE(ReadLines("1\n2\n").empty()); // line feeds alone end no line
    EXPECT_TRUE(ReadLines("").empty());

    LogLines reader("1\r\n2\t3");
    std::string_view line;
    while (reader.Next(line)) {
    }
    EXPECT_EQ(reader.Remainder(), "2\t3");
}

TEST(LogFieldsTest, FieldsSplitAtAnyDelimiterAndEndAtTheSemicolon) {
    const LogFields full = SplitLogFields("1351951509\t-2.3\t284.1\t0.512\t0\t-1.97\t0.00031\t0\t;"
                                          "03/11/12 14:05:09\t<TAG0>x</TAG>");
    EXPECT_EQ(full.Time, "1351951509");
    EXPECT_EQ(full.Values[0], "-2.3");
    EXPECT_EQ(full.Values[6], "0");
    EXPECT_EQ(full.Values[7], ""); // the empty field before the semicolon

    const LogFields mixed = SplitLogFields("10,1 2\t\t4;5\t6");
    EXPECT_EQ(mixed.Values[0], "1");
    EXPECT_EQ(mixed.Values[1], "2");
    EXPECT_EQ(mixed.Values[2], ""); // consecutive delimiters: no value
    EXPECT_EQ(mixed.Values[3], "4");
    EXPECT_EQ(mixed.Values[4], ""); // after the semicolon nothing is a field

    EXPECT_EQ(SplitLogFields("\t5").Time, "");
    EXPECT_EQ(SplitLogFields("77").Values[0], "");
    const LogTimeSplit split = SplitTimeField("77;note");
    EXPECT_EQ(split.Time, "77");
    EXPECT_EQ(split.Delimiter, ';');
    EXPECT_EQ(split.Rest, "note");
    EXPECT_EQ(SplitTimeField("77").Delimiter, '\0');
}

TEST(LogFieldsTest, NumbersReadAsTheCLibraryReadsThemAndAnythingElseAsZero) {
    EXPECT_EQ(ParseLogNumber("1351951509"), 1351951509.0);
    EXPECT_EQ(ParseLogNumber("1.2e-05"), 1.2e-05);
    EXPECT_EQ(ParseLogNumber("-2.3"), -2.3);
    EXPECT_EQ(ParseLogNumber("+4"), 4.0);
    EXPECT_EQ(ParseLogNumber(".5"), 0.5);
    EXPECT_EQ(ParseLogNumber("0x10"), 16.0);
    EXPECT_EQ(ParseLogNumber("12abc"), 12.0);
    EXPECT_EQ(ParseLogNumber("abc"), 0.0);
    EXPECT_EQ(ParseLogNumber("1e999"), 0.0); // an overflow never becomes infinity
    EXPECT_EQ(ParseLogNumber("nan"), 0.0);
    EXPECT_EQ(ParseLogNumber(""), 0.0);
}

TEST(LogTagTest, TagsChooseTheirTraceByASingleDigitAndNeedTheirClosing) {
    const auto tag = FindLogTag("1\t2\t;03/11/12\t<TAG2>after cleaning, oil; new</TAG>");
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->Trace, 2);
    EXPECT_EQ(tag->Kind, TagKind::Note);
    EXPECT_EQ(tag->Text, "after cleaning, oil; new");

    EXPECT_EQ(FindLogTag("<TAG9>x</TAG>")->Trace, 1);  // modulo 8
    EXPECT_EQ(FindLogTag("<TAG12>x</TAG>")->Trace, 0); // several characters
    EXPECT_EQ(FindLogTag("<TAGa>x</TAG>")->Trace, 0);
    EXPECT_EQ(FindLogTag("<TAG>x</TAG>")->Trace, 0);
    EXPECT_EQ(FindLogTag("<TAG3></TAG>")->Text, "");
    EXPECT_EQ(FindLogTag("5 <TAG1>in a field</TAG>\t6")->Text, "in a field");
    EXPECT_FALSE(FindLogTag("<TAG1 no closing"));
    EXPECT_FALSE(FindLogTag("<TAG1>no end tag"));
    EXPECT_FALSE(FindLogTag("no tag"));

    const auto line = FindLogTag("<TAG1>first</TAG> <TGG4>second</TAG>");
    EXPECT_EQ(line->Kind, TagKind::NoteWithLine); // "<TGG" is looked for first
    EXPECT_EQ(line->Trace, 4);
    EXPECT_EQ(line->Text, "second");
}

TEST(LogTagTest, FilterMarkersNameOneTraceOrAll) {
    const auto zero = FindFilterMarker("1\t2\t;<FZ3>");
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->Kind, FilterMarkerKind::Zero);
    EXPECT_EQ(zero->Trace, 3);
    const auto all = FindFilterMarker("<FR>");
    EXPECT_EQ(all->Kind, FilterMarkerKind::Restart);
    EXPECT_EQ(all->Trace, -1);
    EXPECT_EQ(FindFilterMarker("<FR9>")->Trace, 1);
    EXPECT_EQ(FindFilterMarker("<FR1> <FZ2>")->Kind, FilterMarkerKind::Zero); // "<FZ" first
    EXPECT_FALSE(FindFilterMarker("<FZ12>"));
    EXPECT_FALSE(FindFilterMarker("<FZ"));
    EXPECT_FALSE(FindFilterMarker("<FX1>"));
}

// Random texts of pieces that put line breaks, legacy bytes, UTF-8 sequences and surrogates
// everywhere a chunk may cut.
TEST(LogLineStreamTest, ChunksGiveTheLinesOfTheWholeText) {
    const std::vector<std::string> eightBit = {
        "\r",           "\n",   "\r\n", "1351951509", "\t-2.5",           ";",
        "\xC3\xA9",     "\xE9", "\x80", "\xE2\x82",   "\xF0\x9F\x98\x80", "\xED\xA0\x80",
        "<TAG1>x</TAG>"};
    std::vector<std::string> wide = {Wide("\r"), Wide("\n"), Wide("\r\n"), Wide("1000\t2"), "x"};
    for (const char16_t unit :
         {0xE9, 0xD83D, 0xDE00, 0x10D, 0xDC00}) // surrogate halves pair by chance
        wide.push_back({static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)});
    std::mt19937 random(11);
    for (int n = 0; n < 600; ++n) {
        const std::vector<std::string>& pieces = n % 2 ? wide : eightBit;
        std::string bytes = n % 2 ? Wide("7") : "7";
        for (unsigned k = random() % 80; k > 0; --k)
            bytes += pieces[random() % pieces.size()];
        for (const size_t chunk : {16, 18, 22, 64, 1 << 18})
            ASSERT_EQ(Chunked(bytes, chunk),
                      ReadLines(DecodeLogText(bytes, DetectLogEncoding(bytes))))
                << n << " chunk " << chunk;
    }
}

TEST(LogLineStreamTest, ALineBeyondTheLimitIsSkippedAndTheNextReadWhole) {
    constexpr size_t kLimit = 40;
    for (const size_t width : {1, 2}) {
        const std::string fits(kLimit / width, '5'), over(kLimit / width + 1, '6');
        const std::string text = "1\r\n" + fits + "\r\n" + over + "\r\n2\t\xE9\r\n";
        const std::string bytes = width == 2 ? Wide(text) : text;
        EXPECT_EQ(Chunked(bytes, 16, kLimit),
                  (std::vector<std::string>{"1", fits, "(too long)", "2\t\xC3\xA9"}));
    }
}

} // namespace
} // namespace kv::test
