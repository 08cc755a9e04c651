// The chunked line reader against the whole-text reader (DecodeLogText and LogLines): the same
// lines whatever the chunk size, wherever a chunk cuts a code unit, a surrogate pair, a UTF-8
// sequence or an 8-bit segment; and a line beyond the limit skipped without upsetting the next.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "LogTestSupport.h"
#include "logview/format/LogEncoding.h"
#include "logview/format/LogLineReader.h"
#include "logview/format/LogLineStream.h"

namespace kv::test {
namespace {

std::vector<std::string> Whole(std::string_view bytes) {
    const std::string text = DecodeLogText(bytes, DetectLogEncoding(bytes));
    std::vector<std::string> lines;
    LogLines reader(text);
    for (std::string_view line; reader.Next(line);)
        lines.emplace_back(line);
    return lines;
}

std::vector<std::string> Chunked(std::string_view bytes, size_t chunk, size_t maxLine = SIZE_MAX) {
    std::vector<std::string> lines;
    ReadLogLines(bytes,
                 [&](const LogLine& line) {
                     lines.push_back(line.TooLong ? "(too long)" : std::string(line.Text));
                     return true;
                 },
                 {maxLine, chunk});
    return lines;
}

// Random texts of pieces that put line breaks, legacy bytes, UTF-8 sequences and surrogates
// everywhere a chunk may cut.
TEST(LogLineStreamTest, ChunksGiveTheLinesOfTheWholeText) {
    const std::vector<std::string> eightBit = {
        "\r",           "\n",           "\r\n", "1351951509", "\t-2.5", ";",
        "\xC3\xA9",     "\xE9",         "\x80", "\xE2\x82",   "\xAC",   "\xF0\x9F\x98\x80",
        "\xED\xA0\x80", "<TAG1>x</TAG>"};
    const auto unit = [](char16_t u) {
        return std::string{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    };
    const std::vector<std::string> wide = {Wide("\r"),
                                           Wide("\n"),
                                           Wide("\r\n"),
                                           Wide("1000"),
                                           Wide("\t2"),
                                           unit(0xE9),
                                           unit(0xD83D),
                                           unit(0xDE00),
                                           unit(0x10D),
                                           unit(0xDC00),
                                           unit(0xD83D) + unit(0xDE00),
                                           "x"}; // "x": an odd byte
    std::mt19937 random(11);
    for (int n = 0; n < 600; ++n) {
        const bool utf16 = n % 2 == 1;
        const std::vector<std::string>& pieces = utf16 ? wide : eightBit;
        std::string bytes = utf16 ? Wide("7") : "7";
        for (unsigned k = random() % 80; k > 0; --k)
            bytes += pieces[random() % pieces.size()];
        for (const size_t chunk : {16, 18, 22, 64, 1 << 18})
            ASSERT_EQ(Chunked(bytes, chunk), Whole(bytes)) << n << " chunk " << chunk;
    }
}

TEST(LogLineStreamTest, ALineBeyondTheLimitIsSkippedAndTheNextReadWhole) {
    constexpr size_t kLimit = 40;
    for (const bool utf16 : {false, true}) {
        const auto encode = [utf16](const std::string& s) { return utf16 ? Wide(s) : s; };
        const size_t width = utf16 ? 2 : 1;
        const std::string fits(kLimit / width, '5');
        const std::string over(kLimit / width + 1, '6');
        const std::string bytes = encode("1\r\n" + fits + "\r\n" + over + "\r\n2\t\xE9\r\n");
        EXPECT_EQ(Chunked(bytes, 16, kLimit),
                  (std::vector<std::string>{"1", fits, "(too long)", Whole(bytes).back()}));
    }
}

} // namespace
} // namespace kv::test
