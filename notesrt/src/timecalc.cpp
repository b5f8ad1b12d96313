// timecalc.cpp - Julian day numbers, zone bits and the daylight saving
// rule. Pure arithmetic; the settings come from intl.cpp.
#include "timecalc.h"

#include <cstdlib>

#include "timeutil.h"

namespace nrt {
namespace {

constexpr int kMaxZoneHours = 15;

// Julian day of the week-th weekday of the month (week -1: the last one).
int64_t TransitionDay(int year, int month, int week, int weekday) {
    if (week < 0 || week > 4) {
        int64_t last = JulianDayOf(year, month, DaysInMonth(year, month));
        return last - ((WeekdayOf(last) - weekday + 7) % 7);
    }
    int64_t first = JulianDayOf(year, month, 1);
    int64_t firstMatch = first + ((weekday - WeekdayOf(first) + 7) % 7);
    return firstMatch + 7 * (week - 1);
}

}  // namespace

int64_t FloorDiv(int64_t value, int64_t divisor) {
    int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

int64_t JulianDayOf(int year, int month, int day) {
    // Count years from March, so that the leap day ends the year.
    int64_t march = (14 - month) / 12;
    int64_t y = (int64_t)year + 4800 - march;
    int64_t m = month + 12 * march - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

CivilDate CivilDateOf(int64_t julianDay) {
    int64_t a = julianDay + 32044;
    int64_t centuries = (4 * a + 3) / 146097;
    int64_t inCentury = a - 146097 * centuries / 4;
    int64_t years = (4 * inCentury + 3) / 1461;
    int64_t inYear = inCentury - 1461 * years / 4;
    int64_t m = (5 * inYear + 2) / 153;
    CivilDate date;
    date.day = (int)(inYear - (153 * m + 2) / 5 + 1);
    date.month = (int)(m + 3 - 12 * (m / 10));
    date.year = (int)(100 * centuries + years - 4800 + m / 10);
    return date;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

WallClock WallClockOf(int64_t ticks) {
    int64_t day = FloorDiv(ticks, kTicksPerDay);
    int64_t inDay = ticks - day * kTicksPerDay;
    CivilDate date = CivilDateOf(day);
    WallClock clock;
    clock.year = date.year;
    clock.month = date.month;
    clock.day = date.day;
    clock.hour = (int)(inDay / kTicksPerHour);
    clock.minute = (int)(inDay / kTicksPerMinute % 60);
    clock.second = (int)(inDay / kTicksPerSecond % 60);
    clock.hundredth = (int)(inDay % kTicksPerSecond);
    return clock;
}

int64_t TicksOfWallClock(const WallClock& clock) {
    return JulianDayOf(clock.year, clock.month, clock.day) * kTicksPerDay +
           clock.hour * kTicksPerHour + clock.minute * kTicksPerMinute +
           clock.second * kTicksPerSecond + clock.hundredth;
}

bool IsValidWallClock(const WallClock& clock) {
    return clock.year >= 1 && clock.year <= 32767 && clock.month >= 1 && clock.month <= 12 &&
           clock.day >= 1 && clock.day <= DaysInMonth(clock.year, clock.month) &&
           clock.hour >= 0 && clock.hour <= 23 && clock.minute >= 0 && clock.minute <= 59 &&
           clock.second >= 0 && clock.second <= 59 && clock.hundredth >= 0 &&
           clock.hundredth <= 99;
}

int WeekdayOf(int64_t julianDay) { return (int)((julianDay + 1) % 7) + 1; }

Zone ZoneOfBits(DWORD innards1) {
    Zone zone;
    int minutes = (int)((innards1 >> 24) & 0x0F) * 60 + (int)((innards1 >> 28) & 0x03) * 15;
    zone.westMinutes = (innards1 & 0x40000000) ? -minutes : minutes;
    zone.observesDst = (innards1 & 0x80000000) != 0;
    return zone;
}

DWORD ZoneBitsOf(const Zone& zone) {
    int minutes = std::abs(zone.westMinutes);
    DWORD bits = (DWORD)(minutes / 60 & 0x0F) << 24;
    bits |= (DWORD)((minutes % 60) / 15) << 28;
    if (zone.westMinutes < 0) bits |= 0x40000000;
    if (zone.observesDst) bits |= 0x80000000;
    return bits;
}

bool ZoneOfTimeFields(int zoneField, int dstField, Zone* zone) {
    int magnitude = std::abs(zoneField);
    int hours = magnitude % 100;
    int minutes = magnitude / 100;
    if (hours > kMaxZoneHours || minutes % 15 != 0 || minutes >= 60) return false;
    int total = hours * 60 + minutes;
    zone->westMinutes = zoneField < 0 ? -total : total;
    zone->observesDst = dstField != 0;
    return true;
}

int TimeFieldOfZone(const Zone& zone) {
    int magnitude = std::abs(zone.westMinutes);
    int field = (magnitude % 60) * 100 + magnitude / 60;
    return zone.westMinutes < 0 ? -field : field;
}

bool DstInEffect(const Zone& zone, int64_t gmTicks) {
    if (!zone.observesDst) return false;
    int64_t standard = gmTicks - zone.westMinutes * kTicksPerMinute;
    int year = CivilDateOf(FloorDiv(standard, kTicksPerDay)).year;
    DstLaw law = ServerDstLaw();
    // Daylight time starts at 02:00 standard time and ends at 02:00
    // daylight time, which is 01:00 standard time.
    int64_t start = TransitionDay(year, law.startMonth, law.startWeek, law.startDay) *
                        kTicksPerDay + 2 * kTicksPerHour;
    int64_t end = TransitionDay(year, law.endMonth, law.endWeek, law.endDay) *
                      kTicksPerDay + 1 * kTicksPerHour;
    if (start < end) return standard >= start && standard < end;
    return standard >= start || standard < end;  // southern hemisphere
}

int64_t WallOffsetTicks(const Zone& zone, int64_t gmTicks) {
    int64_t offset = zone.westMinutes * kTicksPerMinute;
    return DstInEffect(zone, gmTicks) ? offset - kTicksPerHour : offset;
}

bool WallTicksOf(const TIMEDATE& td, const Zone& zone, int64_t* wall) {
    if (!HasTimeOfDay(td) && !HasDate(td)) return false;
    if (HasTimeOfDay(td) && td.Innards[0] >= (DWORD)kTicksPerDay) return false;
    if (!HasDate(td)) {
        // Without a date there is no daylight time: standard offset only.
        int64_t ticks = (int64_t)td.Innards[0] - zone.westMinutes * kTicksPerMinute;
        *wall = ticks - FloorDiv(ticks, kTicksPerDay) * kTicksPerDay;
        return true;
    }
    int64_t midnight = (int64_t)(td.Innards[1] & kJulianDayMask) * kTicksPerDay;
    if (!HasTimeOfDay(td)) {
        *wall = midnight;
        return true;
    }
    int64_t instant = midnight + td.Innards[0];
    *wall = instant - WallOffsetTicks(zone, instant);
    return true;
}

int64_t GmTicksOfWall(const Zone& zone, int64_t wallTicks) {
    int64_t standard = wallTicks + zone.westMinutes * kTicksPerMinute;
    int64_t daylight = standard - kTicksPerHour;
    return DstInEffect(zone, daylight) ? daylight : standard;
}

}  // namespace nrt
