// timetext_test.cpp - TIMEDATE to text and back: the default shape, every
// format, zone labels, date orders, round trips, and bad input.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "misc.h"
#include "nrt_env.h"
#include "ostime.h"
#include "testenv.h"

namespace {

const TFMT kSortKeyFormat = {TDFMT_FULL, TTFMT_FULL, TZFMT_ALWAYS, TSFMT_DATETIME};

class TimeTextTest : public DataDirTest {
protected:
    void WriteIni(const std::string& text) {
        testenv::WriteFile(DataPath("notes.ini"), text);
        ASSERT_EQ(NOERROR, NRTSetDataDirectory(dataDir_.c_str()));
    }
    // A GMT wall time, with the zone bits given.
    static TIMEDATE At(int y, int mo, int d, int h, int mi, int s, int zone = 0, int dst = 0) {
        TIME t;
        std::memset(&t, 0, sizeof t);
        t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s;
        t.zone = 0;
        EXPECT_FALSE(TimeLocalToGM(&t));
        TIME zoned;
        std::memset(&zoned, 0, sizeof zoned);
        zoned.zone = zone, zoned.dst = dst;
        zoned.GM = t.GM;
        EXPECT_FALSE(TimeGMToLocalZone(&zoned));
        EXPECT_FALSE(TimeLocalToGM(&zoned));  // same instant, zone bits set
        return zoned.GM;
    }
    static std::string Text(const TIMEDATE& td, const TFMT* format = &kSortKeyFormat,
                            const INTLFORMAT* intl = nullptr, STATUS* status = nullptr) {
        char buf[MAXALPHATIMEDATE + 1];
        std::memset(buf, 'X', sizeof buf);
        WORD length = 77;
        STATUS result = ConvertTIMEDATEToText(intl, format, &td, buf, MAXALPHATIMEDATE, &length);
        if (status != nullptr) *status = result;
        if (result != NOERROR) return "<error>";
        EXPECT_EQ('X', buf[length]);  // not terminated
        return std::string(buf, length);
    }
    static STATUS Parse(const std::string& text, TIMEDATE* td, size_t* used = nullptr,
                        const TFMT* format = &kSortKeyFormat, WORD maxLen = MAXWORD) {
        char* cursor = const_cast<char*>(text.c_str());
        STATUS status = ConvertTextToTIMEDATE(nullptr, format, &cursor, maxLen, td);
        if (used != nullptr) *used = (size_t)(cursor - text.c_str());
        return status;
    }
    static void ExpectSameSecond(const TIMEDATE& a, const TIMEDATE& b) {
        EXPECT_EQ(0, TimeDateDifference(&a, &b));
        EXPECT_EQ(a.Innards[0] / 100, b.Innards[0] / 100);
    }
};

TEST_F(TimeTextTest, DefaultShapeIsYearFirstTwelveHourWithZone) {
    EXPECT_EQ("2026/12/07 08:43:21 PM GMT", Text(At(2026, 12, 7, 20, 43, 21)));
    EXPECT_EQ("2026/01/05 12:05:00 AM GMT", Text(At(2026, 1, 5, 0, 5, 0)));
    EXPECT_EQ("2026/01/05 12:30:00 PM GMT", Text(At(2026, 1, 5, 12, 30, 0)));
    EXPECT_EQ("2026/01/05 11:59:59 PM GMT", Text(At(2026, 1, 5, 23, 59, 59)));
    EXPECT_EQ("0001/01/01 01:00:00 AM GMT", Text(At(1, 1, 1, 1, 0, 0)));
    TFMT plain = {TDFMT_FULL, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATETIME};
    EXPECT_EQ("2026/12/07 08:43:21 PM", Text(At(2026, 12, 7, 20, 43, 21), &plain));
    EXPECT_EQ("2026/12/07 08:43:21 PM", Text(At(2026, 12, 7, 20, 43, 21), nullptr));
}

TEST_F(TimeTextTest, TextsSortInTimeOrderAcrossDaysAndYears) {
    TIMEDATE times[] = {At(1999, 12, 31, 23, 0, 0), At(2000, 1, 1, 1, 0, 0),
                        At(2026, 2, 3, 4, 5, 6), At(2026, 10, 3, 4, 5, 6)};
    for (size_t i = 1; i < sizeof times / sizeof times[0]; ++i)
        EXPECT_LT(Text(times[i - 1]), Text(times[i]));
}

TEST_F(TimeTextTest, RandomTimesRoundTripToTheSecondInEveryFullFormat) {
    WriteIni("TimeZone=5\nDST=1\n");
    std::mt19937 random(11);
    const TFMT formats[] = {kSortKeyFormat,
                            {TDFMT_FULL4, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATETIME},
                            {TDFMT_FULL, TTFMT_FULL, TZFMT_SOMETIMES, TSFMT_CDATETIME}};
    const int zones[][2] = {{5, 1}, {0, 0}, {-1, 1}, {-3005, 0}, {3003, 1}, {8, 0}};
    for (int i = 0; i < 3000; ++i) {
        TIMEDATE td;
        td.Innards[0] = random() % 8640000;
        td.Innards[1] = 1721426 + random() % 3652000;  // years 1 to 9999
        const int* zone = zones[random() % 6];
        TIME t;
        std::memset(&t, 0, sizeof t);
        t.GM = td, t.zone = zone[0], t.dst = zone[1];
        ASSERT_FALSE(TimeGMToLocalZone(&t));
        if (TimeLocalToGM(&t)) continue;
        // The hour repeated when daylight time ends is ambiguous without a
        // label; it is read as daylight time.
        const TFMT& format = formats[i % 3];
        std::string text = Text(t.GM, &format);
        TIMEDATE back;
        size_t used = 0;
        ASSERT_EQ(NOERROR, Parse(text, &back, &used, &format)) << text;
        EXPECT_EQ(text.size(), used) << text;
        if (format.Zone != TZFMT_ALWAYS && TimeDateDifference(&back, &t.GM) == -3600) continue;
        EXPECT_EQ(0, TimeDateDifference(&back, &t.GM)) << text;
        EXPECT_EQ(t.GM.Innards[0] / 100, back.Innards[0] / 100) << text;
    }
}

TEST_F(TimeTextTest, EveryFormatIsReadBack) {
    TIMEDATE td = At(2031, 7, 14, 15, 42, 9, -1, 1);
    for (BYTE date = 0; date <= TDFMT_DPARTIAL4; ++date)
        for (BYTE time = 0; time <= TTFMT_HOUR; ++time)
            for (BYTE zone = 0; zone <= TZFMT_ALWAYS; ++zone)
                for (BYTE structure = 0; structure <= TSFMT_CDATETIME; ++structure) {
                    TFMT format = {date, time, zone, structure};
                    std::string text = Text(td, &format);
                    TIMEDATE back;
                    size_t used = 0;
                    ASSERT_EQ(NOERROR, Parse(text, &back, &used, &format))
                        << text << " " << (int)date << (int)time << (int)zone << (int)structure;
                    EXPECT_EQ(text.size(), used) << text;
                }
}

TEST_F(TimeTextTest, FormatsShowTheirParts) {
    TIMEDATE td = At(2031, 7, 14, 15, 42, 9);
    TFMT format = {TDFMT_PARTIAL, TTFMT_PARTIAL, TZFMT_NEVER, TSFMT_DATETIME};
    EXPECT_EQ("07/14 03:42 PM", Text(td, &format));
    format = {TDFMT_DPARTIAL, TTFMT_HOUR, TZFMT_ALWAYS, TSFMT_DATETIME};
    EXPECT_EQ("2031/07 03 PM GMT", Text(td, &format));
    format = {TDFMT_CPARTIAL, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATE};
    EXPECT_EQ("2031/07/14", Text(td, &format));  // not the current year
    format = {TDFMT_FULL, TTFMT_FULL, TZFMT_ALWAYS, TSFMT_TIME};
    EXPECT_EQ("03:42:09 PM GMT", Text(td, &format));

    TIMEDATE now;
    OSCurrentTIMEDATE(&now);
    format = {TDFMT_FULL, TTFMT_PARTIAL, TZFMT_NEVER, TSFMT_CDATETIME};
    EXPECT_EQ(0u, Text(now, &format).find("Today "));
    TIMEDATE back;
    ASSERT_EQ(NOERROR, Parse(Text(now, &format), &back, nullptr, &format));
    EXPECT_LT(std::abs(TimeDateDifference(&back, &now)), 60);
}

TEST_F(TimeTextTest, ZoneLabelsNameTheStoredZoneAndDaylightTime) {
    EXPECT_EQ("2026/07/01 08:00:00 AM EDT", Text(At(2026, 7, 1, 12, 0, 0, 5, 1)));
    EXPECT_EQ("2026/01/01 07:00:00 AM EST", Text(At(2026, 1, 1, 12, 0, 0, 5, 1)));
    EXPECT_EQ("2026/07/01 02:00:00 PM CEDT", Text(At(2026, 7, 1, 12, 0, 0, -1, 1)));
    EXPECT_EQ("2026/01/01 05:30:00 PM ZE5B", Text(At(2026, 1, 1, 12, 0, 0, -3005, 0)));
    EXPECT_EQ("2026/01/01 08:30:00 AM ZW3B", Text(At(2026, 1, 1, 12, 0, 0, 3003, 0)));
    EXPECT_EQ("2026/01/02 02:00:00 AM ZE10", Text(At(2026, 1, 1, 16, 0, 0, -10, 0)));

    TIMEDATE back;
    ASSERT_EQ(NOERROR, Parse("2026/07/01 08:00:00 AM EDT", &back));
    ExpectSameSecond(At(2026, 7, 1, 12, 0, 0), back);
    EXPECT_EQ(0x85000000u, back.Innards[1] & 0xFF000000u);
    ASSERT_EQ(NOERROR, Parse("2026/01/01 05:30:00 PM ZE5B", &back));
    ExpectSameSecond(At(2026, 1, 1, 12, 0, 0), back);
    ASSERT_EQ(NOERROR, Parse("2026/01/01 12:00:00 PM utc", &back));
    ExpectSameSecond(At(2026, 1, 1, 12, 0, 0), back);

    // SOMETIMES labels only a zone other than the server's.
    TFMT sometimes = {TDFMT_FULL, TTFMT_FULL, TZFMT_SOMETIMES, TSFMT_DATETIME};
    EXPECT_EQ("2026/01/01 12:00:00 PM", Text(At(2026, 1, 1, 12, 0, 0), &sometimes));
    EXPECT_EQ("2026/01/01 07:00:00 AM EST", Text(At(2026, 1, 1, 12, 0, 0, 5, 0), &sometimes));
    // NEVER shows the server's wall clock.
    WriteIni("TimeZone=-1\nDST=1\n");
    TFMT never = {TDFMT_FULL, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATETIME};
    EXPECT_EQ("2026/07/01 02:00:00 PM", Text(At(2026, 7, 1, 12, 0, 0, 5, 1), &never));
    ASSERT_EQ(NOERROR, Parse("2026/07/01 02:00:00 PM", &back));
    ExpectSameSecond(At(2026, 7, 1, 12, 0, 0), back);
}

TEST_F(TimeTextTest, DateOrderClockAndYearDigitsFollowTheSettings) {
    WriteIni("DateOrder=DMY\nClock=24\n");
    TIMEDATE td = At(2026, 12, 7, 20, 43, 21);
    EXPECT_EQ("07/12/2026 20:43:21 GMT", Text(td));
    TIMEDATE back;
    ASSERT_EQ(NOERROR, Parse("07/12/2026 20:43:21 GMT", &back));
    ExpectSameSecond(td, back);
    ASSERT_EQ(NOERROR, Parse("2026/12/07 08:43:21 PM", &back));  // year first is unambiguous
    ExpectSameSecond(td, back);

    WriteIni("DateOrder=MDY\n");
    EXPECT_EQ("12/07/2026 08:43:21 PM GMT", Text(td));
    ASSERT_EQ(NOERROR, Parse("12/07/2026 20:43:21", &back));  // 24-hour input
    ExpectSameSecond(td, back);

    INTLFORMAT intl;
    OSGetIntlSettings(&intl, sizeof intl);
    intl.Flags &= ~DATE_4DIGIT_YEAR;
    EXPECT_EQ("12/07/98 08:43:21 PM GMT", Text(At(1998, 12, 7, 20, 43, 21), &kSortKeyFormat, &intl));
    EXPECT_EQ("12/07/2026 08:43:21 PM GMT", Text(td, &kSortKeyFormat, &intl));
    ASSERT_EQ(NOERROR, Parse("12/07/98 08:43:21 PM GMT", &back));
    ExpectSameSecond(At(1998, 12, 7, 20, 43, 21), back);
    ASSERT_EQ(NOERROR, Parse("12/07/26 08:43:21 PM GMT", &back));
    ExpectSameSecond(td, back);
}

TEST_F(TimeTextTest, DateOnlyTimeOnlyAndTheWildcard) {
    TIMEDATE dateOnly = At(2026, 12, 7, 0, 0, 0);
    dateOnly.Innards[0] = ALLDAY;
    dateOnly.Innards[1] &= 0x00FFFFFF;
    EXPECT_EQ("2026/12/07", Text(dateOnly));
    TIMEDATE back;
    ASSERT_EQ(NOERROR, Parse("2026/12/07", &back));
    EXPECT_EQ(ALLDAY, back.Innards[0]);
    EXPECT_EQ(dateOnly.Innards[1], back.Innards[1]);

    TIMEDATE timeOnly = {{(20 * 3600 + 43 * 60 + 21) * 100, ANYDAY}};
    EXPECT_EQ("08:43:21 PM GMT", Text(timeOnly));
    ASSERT_EQ(NOERROR, Parse("08:43:21 PM GMT", &back));
    EXPECT_EQ(ANYDAY, back.Innards[1]);
    EXPECT_EQ(timeOnly.Innards[0], back.Innards[0]);

    STATUS status = NOERROR;
    TIMEDATE wildcard;
    TimeConstant(TIMEDATE_WILDCARD, &wildcard);
    Text(wildcard, &kSortKeyFormat, nullptr, &status);
    EXPECT_EQ(ERR_TDO_CONV, status);
    TFMT timeOnlyFormat = {TDFMT_FULL, TTFMT_FULL, TZFMT_NEVER, TSFMT_TIME};
    Text(dateOnly, &timeOnlyFormat, nullptr, &status);
    EXPECT_EQ(ERR_TDO_CONV, status);
    TIMEDATE maximum;
    TimeConstant(TIMEDATE_MAXIMUM, &maximum);  // beyond year 9999
    Text(maximum, &kSortKeyFormat, nullptr, &status);
    EXPECT_EQ(ERR_TDO_CONV, status);
}

TEST_F(TimeTextTest, SmallBufferIsNeverOverrun) {
    TIMEDATE td = At(2026, 12, 7, 20, 43, 21);
    char buf[40];
    std::memset(buf, 'X', sizeof buf);
    WORD length = 99;
    EXPECT_EQ(ERR_TDO_CONV, ConvertTIMEDATEToText(nullptr, &kSortKeyFormat, &td, buf, 25, &length));
    EXPECT_EQ(0, length);
    for (char c : buf) EXPECT_EQ('X', c);
    EXPECT_EQ(NOERROR, ConvertTIMEDATEToText(nullptr, &kSortKeyFormat, &td, buf, 26, &length));
    EXPECT_EQ(26, length);
    EXPECT_EQ('X', buf[26]);
}

TEST_F(TimeTextTest, ReadingStopsAfterWhatItTookAndWithinMaxLen) {
    TIMEDATE td;
    size_t used = 0;
    ASSERT_EQ(NOERROR, Parse("  2026/12/07 08:43:21 PM GMT, next", &td, &used));
    EXPECT_EQ(28u, used);
    ASSERT_EQ(NOERROR, Parse("2026/12/07 08:43:21 PM later", &td, &used));
    EXPECT_EQ(22u, used);  // an unknown word is left alone
    ASSERT_EQ(NOERROR, Parse("2026/12/07 08:43:21 PM GMT", &td, &used, &kSortKeyFormat, 10));
    EXPECT_EQ(10u, used);
    EXPECT_EQ(ALLDAY, td.Innards[0]);
    ASSERT_EQ(NOERROR, Parse("2026/12/07 08:43:21.97 PM", &td, &used));
    EXPECT_EQ((20 * 3600 + 43 * 60 + 21) * 100u, td.Innards[0]);  // hundredths dropped
}

TEST_F(TimeTextTest, BadTextIsRefusedAndLeavesThePointer) {
    const char* bad[] = {"",          "garbage",          "2026/02/30",      "2026/13/01",
                         "25:00:00",  "13:00:00 PM",      "00:10 AM",        "2026/12/07 24:00",
                         "99999/1/1", "1234567890/1/1",   "/12/07",          "2026/12/07 8:",
                         "12",        "0000/01/01 01:00",
                         "0001/01/01 00:30:00 AM CEDT"};  // GMT falls before year 1
    for (const char* text : bad) {
        TIMEDATE td = {{1, 2}};
        size_t used = 7;
        EXPECT_EQ(ERR_TDI_CONV, Parse(text, &td, &used)) << text;
        EXPECT_EQ(0u, used) << text;
        EXPECT_EQ(1u, td.Innards[0]) << text;
    }
}

TEST_F(TimeTextTest, BadSettingsAndFormatsAreRefused) {
    TIMEDATE td = At(2026, 12, 7, 20, 43, 21);
    INTLFORMAT intl;
    OSGetIntlSettings(&intl, sizeof intl);
    std::strcpy(intl.DateString, ":");  // same as the time separator
    STATUS status = NOERROR;
    Text(td, &kSortKeyFormat, &intl, &status);
    EXPECT_EQ(ERR_IFMT, status);
    OSGetIntlSettings(&intl, sizeof intl);
    std::memset(intl.AMString, 'A', sizeof intl.AMString);  // not terminated
    Text(td, &kSortKeyFormat, &intl, &status);
    EXPECT_EQ(ERR_IFMT, status);
    TFMT bad = {TDFMT_FULL, 9, TZFMT_NEVER, TSFMT_DATETIME};
    Text(td, &bad, nullptr, &status);
    EXPECT_EQ(ERR_TFMT, status);
    char text[] = "2026/12/07";
    char* cursor = text;
    EXPECT_EQ(ERR_TFMT, ConvertTextToTIMEDATE(nullptr, &bad, &cursor, 10, &td));
}

}  // namespace
