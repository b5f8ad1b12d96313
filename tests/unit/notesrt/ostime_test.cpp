// ostime_test.cpp - time constants, ordering, differences, the TIME
// breakdown with zones and daylight time, the clock and the international
// settings read from notes.ini.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "intl.h"
#include "nrt_env.h"
#include "ostime.h"
#include "testenv.h"

namespace {

const DWORD kJan1st2026 = 2461042;  // Julian day of 2026-01-01

TIMEDATE Td(DWORD ticks, DWORD day) { return TIMEDATE{{ticks, day}}; }

TIMEDATE Constant(WORD type) {
    TIMEDATE td;
    TimeConstant(type, &td);
    return td;
}

class OsTimeTest : public DataDirTest {
protected:
    void WriteIni(const std::string& text) {
        testenv::WriteFile(DataPath("notes.ini"), text);
        ASSERT_EQ(NOERROR, NRTSetDataDirectory(dataDir_.c_str()));  // reread
    }
    static TIME Local(int y, int mo, int d, int h, int mi, int s, int zone, int dst) {
        TIME t;
        std::memset(&t, 0, sizeof t);
        t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s;
        t.zone = zone, t.dst = dst;
        return t;
    }
};

TEST_F(OsTimeTest, WildcardFirstThenInstantToTheHundredth) {
    TIMEDATE wildcard = Constant(TIMEDATE_WILDCARD);
    TIMEDATE minimum = Constant(TIMEDATE_MINIMUM);
    TIMEDATE maximum = Constant(TIMEDATE_MAXIMUM);
    TIMEDATE a = Td(500, kJan1st2026), b = Td(501, kJan1st2026);
    TIMEDATE aInOtherZone = Td(500, kJan1st2026 | 0x85000000);
    TIMEDATE lateDay = Td(8639999, kJan1st2026), nextDay = Td(0, kJan1st2026 + 1);
    EXPECT_EQ(0u, minimum.Innards[0] | minimum.Innards[1]);
    for (const TIMEDATE& other : {minimum, maximum, a}) {
        EXPECT_EQ(-1, TimeDateCompare(&wildcard, &other));
        EXPECT_EQ(1, TimeDateCompare(&other, &wildcard));
    }
    EXPECT_EQ(0, TimeDateCompare(&wildcard, &wildcard));
    EXPECT_EQ(1, TimeDateCompare(&maximum, &a));
    EXPECT_EQ(-1, TimeDateCompare(&minimum, &a));
    EXPECT_EQ(-1, TimeDateCompare(&a, &b));
    EXPECT_EQ(1, TimeDateCompare(&b, &a));
    EXPECT_EQ(0, TimeDateCompare(&a, &aInOtherZone));
    EXPECT_EQ(-1, TimeDateCompare(&lateDay, &nextDay));
}

TEST_F(OsTimeTest, DifferenceInSecondsClampedAtTheEnds) {
    TIMEDATE a = Td(360000, kJan1st2026 + 1);  // 01:00 next day
    TIMEDATE b = Td(8640000 - 6000, kJan1st2026);  // 23:59 the day before
    EXPECT_EQ(3660, TimeDateDifference(&a, &b));
    EXPECT_EQ(-3660, TimeDateDifference(&b, &a));
    TIMEDATE halfSecond = Td(360050, kJan1st2026 + 1);
    EXPECT_EQ(0, TimeDateDifference(&halfSecond, &a));
    TIMEDATE minimum = Constant(TIMEDATE_MINIMUM);
    TIMEDATE wildcard = Constant(TIMEDATE_WILDCARD);
    EXPECT_EQ(INT32_MAX, TimeDateDifference(&a, &minimum));  // 6700 years do not fit
    EXPECT_EQ(INT32_MIN, TimeDateDifference(&minimum, &a));
    EXPECT_EQ(INT32_MAX, TimeDateDifference(&a, &wildcard));
    EXPECT_EQ(0, TimeDateDifference(&wildcard, &wildcard));
}

TEST_F(OsTimeTest, DocumentedWorkedExamplesPackAndUnpack) {
    // 2:49:04 PM in a zone 5 hours west that observes daylight time.
    TIME est = Local(1996, 12, 10, 14, 49, 4, 5, 1);
    ASSERT_FALSE(TimeLocalToGM(&est));
    EXPECT_EQ(0x006CDCC0u, est.GM.Innards[0]);
    EXPECT_EQ(0x852563FCu, est.GM.Innards[1]);
    EXPECT_EQ(3, est.weekday);  // a Tuesday

    // The same wall time 5:30 east, no daylight time: 09:19:04 GMT.
    TIME india = Local(1996, 12, 10, 14, 49, 4, -3005, 0);
    ASSERT_FALSE(TimeLocalToGM(&india));
    EXPECT_EQ((9u * 3600 + 19 * 60 + 4) * 100, india.GM.Innards[0]);
    EXPECT_EQ(0x652563FCu, india.GM.Innards[1]);

    TIME back;
    std::memset(&back, 0, sizeof back);
    back.GM = india.GM;
    ASSERT_FALSE(TimeGMToLocal(&back));  // zone taken from the value
    EXPECT_EQ(-3005, back.zone);
    EXPECT_EQ(14, back.hour);
    EXPECT_EQ(49, back.minute);
    EXPECT_EQ(10, back.day);

    back.zone = 0, back.dst = 0;
    ASSERT_FALSE(TimeGMToLocalZone(&back));  // the GMT fields
    EXPECT_EQ(9, back.hour);
    EXPECT_EQ(19, back.minute);
}

TEST_F(OsTimeTest, DaylightTimeFollowsTheServerRule) {
    TIME summer = Local(2026, 7, 1, 12, 0, 0, 5, 1);
    ASSERT_FALSE(TimeLocalToGM(&summer));
    EXPECT_EQ(16u * 360000, summer.GM.Innards[0]);  // EDT: 4 hours west
    TIME winter = Local(2026, 1, 15, 12, 0, 0, 5, 1);
    ASSERT_FALSE(TimeLocalToGM(&winter));
    EXPECT_EQ(17u * 360000, winter.GM.Innards[0]);

    // Default rule: second Sunday of March to first Sunday of November.
    TIME beforeSwitch = Local(2026, 3, 8, 1, 59, 0, 5, 1);
    TIME afterSwitch = Local(2026, 3, 8, 3, 0, 0, 5, 1);
    ASSERT_FALSE(TimeLocalToGM(&beforeSwitch));
    ASSERT_FALSE(TimeLocalToGM(&afterSwitch));
    EXPECT_EQ(60, TimeDateDifference(&afterSwitch.GM, &beforeSwitch.GM));

    // A southern rule (October to April) puts July in standard time.
    WriteIni("DSTLaw=10,1,1,4,1,1\n");
    TIME southern = Local(2026, 7, 1, 12, 0, 0, -10, 1);
    ASSERT_FALSE(TimeLocalToGM(&southern));
    EXPECT_EQ(2u * 360000, southern.GM.Innards[0]);
    TIME expanded;
    std::memset(&expanded, 0, sizeof expanded);
    expanded.GM = southern.GM;
    expanded.zone = -10, expanded.dst = 1;
    ASSERT_FALSE(TimeGMToLocalZone(&expanded));
    EXPECT_EQ(12, expanded.hour);
}

TEST_F(OsTimeTest, BadFieldsAndZonesAreRefused) {
    TIME t = Local(2026, 2, 29, 12, 0, 0, 0, 0);  // not a leap year
    EXPECT_TRUE(TimeLocalToGM(&t));
    t = Local(2024, 2, 29, 12, 0, 0, 0, 0);
    EXPECT_FALSE(TimeLocalToGM(&t));
    t = Local(2026, 1, 1, 24, 0, 0, 0, 0);
    EXPECT_TRUE(TimeLocalToGM(&t));
    t = Local(2026, 13, 1, 0, 0, 0, 0, 0);
    EXPECT_TRUE(TimeLocalToGM(&t));
    t = Local(2026, 1, 1, 0, 0, 0, 705, 0);  // 7 minutes is no zone
    EXPECT_TRUE(TimeLocalToGM(&t));
    EXPECT_TRUE(TimeGMToLocalZone(&t));
    t.zone = 0;
    t.GM = Td(9000000, kJan1st2026);  // past the end of the day
    EXPECT_TRUE(TimeGMToLocalZone(&t));
    EXPECT_TRUE(TimeLocalToGM(nullptr));
}

TEST_F(OsTimeTest, WildcardExpandsToFieldsBeforeEveryRealTime) {
    TIME wild;
    std::memset(&wild, 0x55, sizeof wild);
    wild.zone = 0, wild.dst = 0;
    TimeConstant(TIMEDATE_WILDCARD, &wild.GM);
    EXPECT_FALSE(TimeGMToLocalZone(&wild));
    TIME real;
    std::memset(&real, 0, sizeof real);
    real.GM = Td(0, 1721426);
    ASSERT_FALSE(TimeGMToLocalZone(&real));
    EXPECT_EQ(1, real.year);
    int wildFields[] = {wild.year, wild.month, wild.day, wild.hour, wild.minute, wild.second,
                        wild.hundredth};
    for (int field : wildFields) EXPECT_EQ(0, field);
    EXPECT_LT(wild.year, real.year);
}

TEST_F(OsTimeTest, DateOnlyAndTimeOnlyExpandTheirHalf) {
    TIME t;
    std::memset(&t, 0, sizeof t);
    t.GM = Td(ALLDAY, kJan1st2026);
    t.zone = 5;
    ASSERT_FALSE(TimeGMToLocalZone(&t));  // a date is not moved by the zone
    EXPECT_EQ(2026, t.year);
    EXPECT_EQ(1, t.day);
    EXPECT_EQ(0, t.hour);
    t.GM = Td(2 * 360000, ANYDAY);
    ASSERT_FALSE(TimeGMToLocalZone(&t));
    EXPECT_EQ(0, t.year);
    EXPECT_EQ(21, t.hour);  // 02:00 GMT is 21:00 five hours west
}

TEST_F(OsTimeTest, AdjustSecondsCrossesDaysAndKeepsTheZone) {
    TIMEDATE td = Td(8640000 - 100, kJan1st2026 | 0x85000000);
    ASSERT_EQ(NOERROR, TimeDateAdjustSeconds(&td, 2));
    EXPECT_EQ(100u, td.Innards[0]);
    EXPECT_EQ((kJan1st2026 + 1) | 0x85000000, td.Innards[1]);
    ASSERT_EQ(NOERROR, TimeDateAdjustSeconds(&td, -86400));
    EXPECT_EQ(kJan1st2026 | 0x85000000, td.Innards[1]);
    TIMEDATE wildcard = Constant(TIMEDATE_WILDCARD);
    EXPECT_NE(NOERROR, TimeDateAdjustSeconds(&wildcard, 1));
    TIMEDATE minimum = Constant(TIMEDATE_MINIMUM);
    EXPECT_NE(NOERROR, TimeDateAdjustSeconds(&minimum, -1));
    EXPECT_EQ(0u, minimum.Innards[0]);
}

TEST_F(OsTimeTest, ClockCarriesTheServerZone) {
    WriteIni("TimeZone=-3005\nDST=0\n");
    TIMEDATE now;
    OSCurrentTIMEDATE(&now);
    EXPECT_EQ(0x65000000u, now.Innards[1] & 0xFF000000u);  // east, 5 h + 2 quarters
    std::time_t unixNow = std::time(nullptr);
    TIMEDATE expected = Td((DWORD)(unixNow % 86400) * 100, (DWORD)(2440588 + unixNow / 86400));
    EXPECT_NEAR(0, TimeDateDifference(&now, &expected), 2);
    int zone = 0, dst = 1;
    OSCurrentTimeZone(&zone, &dst);
    EXPECT_EQ(-3005, zone);
    EXPECT_EQ(0, dst);
}

TEST_F(OsTimeTest, IntlSettingsFollowNotesIni) {
    INTLFORMAT intl;
    OSGetIntlSettings(&intl, sizeof intl);
    EXPECT_EQ(DATE_YMD | DATE_4DIGIT_YEAR, intl.Flags);
    EXPECT_EQ(0, intl.TimeZone);

    WriteIni("DateOrder=dmy\nClock=24\nTimeZone=5\nDST=1\n");
    OSGetIntlSettings(&intl, sizeof intl);
    EXPECT_EQ(DATE_DMY | DATE_4DIGIT_YEAR | CLOCK_24_HOUR | DAYLIGHT_SAVINGS, intl.Flags);
    EXPECT_EQ(5, intl.TimeZone);

    // Unreadable values keep the defaults.
    WriteIni("DateOrder=sideways\nClock=13\nTimeZone=abc\nDST=x\n");
    OSGetIntlSettings(&intl, sizeof intl);
    EXPECT_EQ(DATE_YMD | DATE_4DIGIT_YEAR, intl.Flags);
    EXPECT_EQ(0, intl.TimeZone);
}

TEST_F(OsTimeTest, IntlSettingsFillOnlyTheGivenSize) {
    unsigned char bytes[sizeof(INTLFORMAT) + 8];
    std::memset(bytes, 0xAB, sizeof bytes);
    OSGetIntlSettings(reinterpret_cast<INTLFORMAT*>(bytes), 4);
    EXPECT_EQ(0xAB, bytes[4]);
    EXPECT_EQ(sizeof(INTLFORMAT), bytes[3]);  // Length
    OSGetIntlSettings(reinterpret_cast<INTLFORMAT*>(bytes), 1000);
    EXPECT_EQ(0xAB, bytes[sizeof(INTLFORMAT)]);
}

TEST_F(OsTimeTest, ZoneAndDaylightRuleDefaultToTheSystemsWithoutTimeZone) {
#ifdef _WIN32
    GTEST_SKIP() << "sets the system's zone through TZ, which Windows takes only with the US daylight rule";
#else
    const char* saved = std::getenv("TZ");
    std::string before = saved ? saved : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // Central Europe: last Sundays of March and October
    WriteIni("DateOrder=YMD\n");
    INTLFORMAT intl;
    OSGetIntlSettings(&intl, sizeof intl);
    EXPECT_EQ(-1, intl.TimeZone);
    EXPECT_TRUE(intl.Flags & DAYLIGHT_SAVINGS);

    // The rule is the system's: noon in July is daylight time (GMT+2), in
    // January standard time (GMT+1).
    auto gmOf = [](int month, int hour, int zone, int dst) {
        TIME time = {};
        time.year = 2026;
        time.month = month;
        time.day = 15;
        time.hour = hour;
        time.zone = zone;
        time.dst = dst;
        EXPECT_FALSE(TimeLocalToGM(&time));
        return time.GM;
    };
    TIMEDATE summer = gmOf(7, 12, -1, 1), summerGm = gmOf(7, 10, 0, 0);
    TIMEDATE winter = gmOf(1, 12, -1, 1), winterGm = gmOf(1, 11, 0, 0);
    EXPECT_EQ(0, TimeDateCompare(&summer, &summerGm));
    EXPECT_EQ(0, TimeDateCompare(&winter, &winterGm));
    int zone = 0, dst = 0;
    OSCurrentTimeZone(&zone, &dst);
    EXPECT_EQ(-1, zone);

    WriteIni("TimeZone=5\n");  // notes.ini still decides when it says
    OSGetIntlSettings(&intl, sizeof intl);
    EXPECT_EQ(5, intl.TimeZone);
    EXPECT_FALSE(intl.Flags & DAYLIGHT_SAVINGS);
    if (saved)
        setenv("TZ", before.c_str(), 1);
    else
        unsetenv("TZ");
#endif
}

TEST_F(OsTimeTest, SettingsThatAreNotUsedOrBreakAPassAreNamed) {
    auto warnings = [this](const std::string& ini) {
        WriteIni(ini);
        std::vector<std::string> texts;
        NRTCheckSettings([](void* into, const char* text) { static_cast<std::vector<std::string>*>(into)->push_back(text); },
                         &texts);
        return texts;
    };
    EXPECT_TRUE(warnings("TimeZone=-1\nDST=1\nDateOrder=YMD\nClock=12\nDSTLaw=3,-1,1,10,-1,1\n").empty());
    EXPECT_TRUE(warnings("").empty());
    std::vector<std::string> named = warnings("TimeZone=Europe/Berlin\nDST=yes\nDSTLaw=3,2\nDateOrder=DMY\nClock=24\n");
    ASSERT_EQ(5u, named.size());
    EXPECT_EQ(0u, named[0].find("notes.ini: TimeZone=Europe/Berlin is not a zone")) << named[0];
    EXPECT_EQ(0u, named[1].find("notes.ini: DST=yes is neither 0 nor 1")) << named[1];
    EXPECT_EQ(0u, named[2].find("notes.ini: DSTLaw=3,2 is not month,week,weekday")) << named[2];
    EXPECT_EQ(0u, named[3].find("notes.ini: DateOrder=DMY writes time texts that do not sort")) << named[3];
    EXPECT_EQ(0u, named[4].find("notes.ini: Clock=24 writes times without AM/PM")) << named[4];
    named = warnings("TimeZone=1300\nDateOrder=sideways\nClock=13\n");
    ASSERT_EQ(3u, named.size());
    EXPECT_EQ(0u, named[1].find("notes.ini: DateOrder=SIDEWAYS is not YMD, MDY or DMY; YMD is used")) << named[1];
    EXPECT_EQ(0u, named[2].find("notes.ini: Clock=13 is neither 12 nor 24")) << named[2];
}

}  // namespace
