// timecalc.h - calendar and time-zone arithmetic shared by the time calls
// (ostime.cpp), the text conversions (timetext.cpp) and the clock
// (timeutil.cpp), plus the server's zone settings read by intl.cpp.
//
// A zone is kept as minutes west of GMT (negative east) and whether it
// observes daylight saving time; the daylight rule is the server's.
#ifndef NOTESRT_SRC_TIMECALC_H
#define NOTESRT_SRC_TIMECALC_H

#include <cstdint>

#include "global.h"
#include "intl.h"

namespace nrt {

constexpr int64_t kTicksPerSecond = 100;
constexpr int64_t kTicksPerMinute = 6000;
constexpr int64_t kTicksPerHour = 360000;
constexpr DWORD kJulianDayMask = 0x00FFFFFF;

// Proleptic Gregorian calendar.
struct CivilDate {
    int year;
    int month;
    int day;
};
int64_t JulianDayOf(int year, int month, int day);
CivilDate CivilDateOf(int64_t julianDay);
int DaysInMonth(int year, int month);
int WeekdayOf(int64_t julianDay);  // 1 = Sunday

// A wall-clock reading: a date and a time of day.
struct WallClock {
    int year, month, day;
    int hour, minute, second, hundredth;
};
// Ticks count hundredths since midnight starting Julian day 0.
WallClock WallClockOf(int64_t ticks);
int64_t TicksOfWallClock(const WallClock& clock);
// Each part within its range (years 1 to 32767).
bool IsValidWallClock(const WallClock& clock);
int64_t FloorDiv(int64_t value, int64_t divisor);

struct Zone {
    int westMinutes = 0;
    bool observesDst = false;
};

// The zone recorded in the high byte of Innards[1], and back.
Zone ZoneOfBits(DWORD innards1);
DWORD ZoneBitsOf(const Zone& zone);
// The TIME structure's zone number (positive west; fractional zones as
// minutes * 100 + hours) and daylight flag. False when out of range.
bool ZoneOfTimeFields(int zoneField, int dstField, Zone* zone);
int TimeFieldOfZone(const Zone& zone);

// When daylight saving time starts and ends, in local standard time:
// month, week (1-4, or -1 for the last), weekday (1 = Sunday), at 02:00.
struct DstLaw {
    int startMonth = 3, startWeek = 2, startDay = 1;
    int endMonth = 11, endWeek = 1, endDay = 1;
};

// Whether the zone is on daylight time at the GMT instant (in ticks).
bool DstInEffect(const Zone& zone, int64_t gmTicks);
// Ticks to subtract from GMT to get the zone's wall clock at the instant.
int64_t WallOffsetTicks(const Zone& zone, int64_t gmTicks);
// The GMT instant of a wall-clock time in the zone. In the hour that is
// repeated when daylight time ends, daylight time is taken.
int64_t GmTicksOfWall(const Zone& zone, int64_t wallTicks);

// The halves of a TIMEDATE: a date-only value has no time of day
// (ALLDAY), a time-only value no date (ANYDAY); the wildcard has neither.
inline bool HasTimeOfDay(const TIMEDATE& td) { return td.Innards[0] != 0xFFFFFFFF; }
inline bool HasDate(const TIMEDATE& td) { return td.Innards[1] != 0xFFFFFFFF; }

// The value's wall clock in the zone, in ticks: a full value moved by the
// zone's offset at that instant, a date-only value at midnight of its date,
// a time-only value by the standard offset, kept within day 0. False for
// the wildcard and a time of day past its end.
bool WallTicksOf(const TIMEDATE& td, const Zone& zone, int64_t* wall);

// The server's settings from notes.ini (intl.cpp): its zone, its daylight
// rule, and the international format that goes with the zone.
Zone ServerZone();
DstLaw ServerDstLaw();
INTLFORMAT ServerIntl(const Zone& zone);

}  // namespace nrt

#endif
