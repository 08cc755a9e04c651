// SPDX-License-Identifier: GPL-3.0-or-later
// NMEA sentences: the commands written to the receiver, byte for byte, and the ZDA time fields.
#include "references/Nmea.h"

#include <gtest/gtest.h>

#include "timebase/NtpTime.h"

namespace kv {
namespace {

uint64_t Utc(int y, int mo, int d, int h, int mi, int s, int ms) {
    CalendarTime t{};
    t.Year = y, t.Month = mo, t.Day = d, t.Hour = h, t.Minute = mi, t.Second = s;
    t.Milliseconds = ms;
    return Utc100nsFromCalendar(t);
}

TEST(NmeaCommands, FramingAndChecksumOfThePsrf103Commands) {
    EXPECT_EQ(FrameNmeaSentence("PSRF103,08,00,01,01"), "$PSRF103,08,00,01,01*2D\r\n");
    EXPECT_EQ(FrameNmeaSentence("PSRF103,00,00,00,01"), "$PSRF103,00,00,00,01*24\r\n");
    EXPECT_EQ(FrameNmeaSentence("PSRF103,03,00,05,01"), "$PSRF103,03,00,05,01*22\r\n");
    EXPECT_EQ(NmeaChecksum(""), 0);
    EXPECT_EQ(FrameNmeaSentence("\x0A"), "$\n*0A\r\n"); // two upper-case digits, leading zero
}

TEST(NmeaCommands, CalibrationAndStandardOutputConfigurations) {
    const std::vector<std::string> calibration = {
        "$PSRF103,00,00,00,01*24\r\n", "$PSRF103,01,00,00,01*25\r\n",
        "$PSRF103,02,00,00,01*26\r\n", "$PSRF103,03,00,00,01*27\r\n",
        "$PSRF103,04,00,00,01*20\r\n", "$PSRF103,05,00,00,01*21\r\n",
        "$PSRF103,06,00,00,01*22\r\n", "$PSRF103,07,00,00,01*23\r\n",
        "$PSRF103,08,00,01,01*2D\r\n"};
    const std::vector<std::string> standard = {
        "$PSRF103,00,00,01,01*25\r\n", "$PSRF103,01,00,01,01*24\r\n",
        "$PSRF103,02,00,01,01*27\r\n", "$PSRF103,03,00,05,01*22\r\n",
        "$PSRF103,04,00,01,01*21\r\n", "$PSRF103,05,00,01,01*20\r\n",
        "$PSRF103,06,00,01,01*23\r\n", "$PSRF103,07,00,01,01*22\r\n",
        "$PSRF103,08,00,01,01*2D\r\n"};
    EXPECT_EQ(GpsMessageConfiguration(false), calibration);
    EXPECT_EQ(GpsMessageConfiguration(true), standard);
}

TEST(ZdaTime, TimeFieldsWithAndWithoutDecimals) {
    EXPECT_EQ(ParseZdaTime("123456.789,09,12,2026,00,00*5C\r\n"),
              Utc(2026, 12, 9, 12, 34, 56, 789));
    EXPECT_EQ(ParseZdaTime("123456,09,12,2026,00,00*5C\r\n"), Utc(2026, 12, 9, 12, 34, 56, 0));
    EXPECT_EQ(ParseZdaTime("000000.00,01,01,2000,"), Utc(2000, 1, 1, 0, 0, 0, 0));
    EXPECT_EQ(ParseZdaTime("235959.5,31,12,1999,"), Utc(1999, 12, 31, 23, 59, 59, 500));
    // A fraction that rounds to a whole second carries into the next one.
    EXPECT_EQ(ParseZdaTime("235959.9996,31,12,1999,"), Utc(2000, 1, 1, 0, 0, 0, 0));
    // The trailing checksum is not looked at.
    EXPECT_EQ(ParseZdaTime("120000,01,06,2024,00,00*00\r\n"), Utc(2024, 6, 1, 12, 0, 0, 0));
}

TEST(ZdaTime, MissingOrMalformedFieldsGiveNoTime) {
    for (const char* text : {
             "123456.789,09,12,,00,00*5C\r\n", // empty year
             "123456.789,09,12,2026",          // year not followed by a comma
             ",09,12,2026,",                   // empty time
             "123456.789,,12,2026,",           // empty day
             "1234,09,12,2026,",               // no seconds
             "12x456,09,12,2026,",             // not a number
             "123456.789,09,1z,2026,",
             "243456,09,12,2026,",        // hour 24
             "126056,09,12,2026,",        // minute 60
             "123461,09,12,2026,",        // second 61
             "123456,30,02,2026,",        // 30 February
             "123456,09,13,2026,",        // month 13
             "123456,09,12,1500,",        // before the 1601 time scale
             "123456,09,12,99999999999,", // beyond any receiver's date
             "123456,09,12,inf,",
             "123456,nan,12,2026,",
             "123456.-5,09,12,2026,",
             "",
         })
        EXPECT_FALSE(ParseZdaTime(text)) << text;
}

TEST(ZdaTime, NumbersAreRoundedHalfAwayFromZero) {
    EXPECT_EQ(ParseZdaTime("123456,8.5,12,2026,"), Utc(2026, 12, 9, 12, 34, 56, 0));
    EXPECT_EQ(ParseZdaTime("123456.0004,09,12,2026,"), Utc(2026, 12, 9, 12, 34, 56, 0));
    EXPECT_EQ(ParseZdaTime("123456.0006,09,12,2026,"), Utc(2026, 12, 9, 12, 34, 56, 1));
}

} // namespace
} // namespace kv
