// ostime.cpp - the clock, time constants, comparison and difference, and
// the TIME breakdown of a TIMEDATE.
//
// Order: the wildcard comes before every other value; the rest order by
// instant to the hundredth, the zone byte ignored. A time-only value counts
// as that time on day 0, a date-only value as midnight GMT of its date.
// TIME.dst tells whether the zone observes daylight saving time; whether
// daylight time is in effect follows from the date and the server's rule.
#include <limits>

#include "ostime.h"
#include "nsferr.h"
#include "timecalc.h"
#include "timeutil.h"

namespace nrt {
namespace {

bool IsFullWildcard(const TIMEDATE& td) { return !HasTimeOfDay(td) && !HasDate(td); }

int64_t OrderTicks(const TIMEDATE& td) {
    int64_t day = HasDate(td) ? (int64_t)(td.Innards[1] & kJulianDayMask) : 0;
    int64_t ticks = HasTimeOfDay(td) ? (int64_t)td.Innards[0] : 0;
    return day * kTicksPerDay + ticks;
}

void ClearFields(TIME* time) {
    time->year = time->month = time->day = time->weekday = 0;
    time->hour = time->minute = time->second = time->hundredth = 0;
}

void SetFields(TIME* time, const WallClock& clock) {
    time->year = clock.year;
    time->month = clock.month;
    time->day = clock.day;
    time->hour = clock.hour;
    time->minute = clock.minute;
    time->second = clock.second;
    time->hundredth = clock.hundredth;
}

// Fills the fields from time->GM as seen in the zone. The wildcard and
// the missing half of a date-only or time-only value give zero fields.
BOOL ExpandInZone(TIME* time, const Zone& zone) {
    const TIMEDATE gm = time->GM;
    ClearFields(time);
    if (IsFullWildcard(gm)) return FALSE;
    int64_t wall = 0;
    if (!WallTicksOf(gm, zone, &wall)) return TRUE;
    WallClock clock = WallClockOf(wall);
    if (!HasDate(gm)) clock.year = clock.month = clock.day = 0;
    SetFields(time, clock);
    if (!HasDate(gm)) return FALSE;
    time->weekday = WeekdayOf(FloorDiv(wall, kTicksPerDay));
    return clock.year >= 1 && clock.year <= 32767 ? FALSE : TRUE;
}

constexpr LONG kLongMax = std::numeric_limits<LONG>::max();
constexpr LONG kLongMin = std::numeric_limits<LONG>::min();

LONG ClampToLong(int64_t value) {
    if (value > kLongMax) return kLongMax;
    if (value < kLongMin) return kLongMin;
    return (LONG)value;
}

}  // namespace
}  // namespace nrt

using nrt::Zone;

extern "C" {

void LNPUBLIC OSCurrentTIMEDATE(TIMEDATE* retTime) {
    if (retTime != nullptr) *retTime = nrt::TimedateFromTicks(nrt::CurrentTicks());
}

void LNPUBLIC OSCurrentTimeZone(int* retZone, int* retDST) {
    Zone zone = nrt::ServerZone();
    if (retZone != nullptr) *retZone = nrt::TimeFieldOfZone(zone);
    if (retDST != nullptr) *retDST = nrt::DstInEffect(zone, nrt::CurrentTicks()) ? 1 : 0;
}

void LNPUBLIC TimeConstant(WORD type, TIMEDATE* td) {
    if (td == nullptr) return;
    switch (type) {
        case TIMEDATE_MINIMUM:
            td->Innards[0] = 0;
            td->Innards[1] = 0;
            break;
        case TIMEDATE_MAXIMUM:
            td->Innards[0] = (DWORD)nrt::kTicksPerDay - 1;
            td->Innards[1] = nrt::kJulianDayMask;
            break;
        case TIMEDATE_WILDCARD:
            td->Innards[0] = ALLDAY;
            td->Innards[1] = ANYDAY;
            break;
        default:
            break;
    }
}

int LNPUBLIC TimeDateCompare(const TIMEDATE* t1, const TIMEDATE* t2) {
    if (t1 == nullptr || t2 == nullptr) return t1 == t2 ? 0 : (t1 == nullptr ? -1 : 1);
    bool wild1 = nrt::IsFullWildcard(*t1), wild2 = nrt::IsFullWildcard(*t2);
    if (wild1 || wild2) return wild1 == wild2 ? 0 : (wild1 ? -1 : 1);
    int64_t a = nrt::OrderTicks(*t1), b = nrt::OrderTicks(*t2);
    return a < b ? -1 : (a > b ? 1 : 0);
}

LONG LNPUBLIC TimeDateDifference(const TIMEDATE* t1, const TIMEDATE* t2) {
    if (t1 == nullptr || t2 == nullptr) return 0;
    bool wild1 = nrt::IsFullWildcard(*t1), wild2 = nrt::IsFullWildcard(*t2);
    // The wildcard lies before every time: infinitely far, clamped.
    if (wild1 || wild2) return wild1 == wild2 ? 0 : (wild1 ? nrt::kLongMin : nrt::kLongMax);
    int64_t ticks = nrt::OrderTicks(*t1) - nrt::OrderTicks(*t2);
    return nrt::ClampToLong(ticks / nrt::kTicksPerSecond);
}

void LNPUBLIC TimeDateDifferenceFloat(const TIMEDATE* t1, const TIMEDATE* t2, NUMBER* retDifference) {
    if (retDifference == nullptr) return;
    *retDifference = 0;
    if (t1 == nullptr || t2 == nullptr || nrt::IsFullWildcard(*t1) || nrt::IsFullWildcard(*t2)) return;
    *retDifference = NUMBER(nrt::OrderTicks(*t1) - nrt::OrderTicks(*t2)) / nrt::kTicksPerSecond;
}

BOOL LNPUBLIC TimeGMToLocalZone(TIME* time) {
    if (time == nullptr) return TRUE;
    Zone zone;
    if (!nrt::ZoneOfTimeFields(time->zone, time->dst, &zone)) return TRUE;
    return nrt::ExpandInZone(time, zone);
}

BOOL LNPUBLIC TimeGMToLocal(TIME* time) {
    if (time == nullptr) return TRUE;
    Zone zone;
    if (nrt::HasDate(time->GM)) zone = nrt::ZoneOfBits(time->GM.Innards[1]);
    time->zone = nrt::TimeFieldOfZone(zone);
    time->dst = zone.observesDst ? 1 : 0;
    return nrt::ExpandInZone(time, zone);
}

BOOL LNPUBLIC TimeLocalToGM(TIME* time) {
    if (time == nullptr) return TRUE;
    Zone zone;
    if (!nrt::ZoneOfTimeFields(time->zone, time->dst, &zone)) return TRUE;
    nrt::WallClock clock = {time->year, time->month,  time->day,      time->hour,
                            time->minute, time->second, time->hundredth};
    if (!nrt::IsValidWallClock(clock)) return TRUE;
    int64_t wall = nrt::TicksOfWallClock(clock);
    int64_t gm = nrt::GmTicksOfWall(zone, wall);
    int64_t day = nrt::FloorDiv(gm, nrt::kTicksPerDay);
    if (day < 0 || day > (int64_t)nrt::kJulianDayMask) return TRUE;
    time->GM.Innards[0] = (DWORD)(gm - day * nrt::kTicksPerDay);
    time->GM.Innards[1] = (DWORD)day | nrt::ZoneBitsOf(zone);
    time->weekday = nrt::WeekdayOf(nrt::FloorDiv(wall, nrt::kTicksPerDay));
    return FALSE;
}

STATUS LNPUBLIC TimeDateAdjustSeconds(TIMEDATE* td, LONG seconds) {
    if (td == nullptr || !nrt::HasTimeOfDay(*td) || !nrt::HasDate(*td)) return ERR_BAD_PARAM;
    int64_t ticks = nrt::OrderTicks(*td) + (int64_t)seconds * nrt::kTicksPerSecond;
    int64_t day = nrt::FloorDiv(ticks, nrt::kTicksPerDay);
    if (day < 0 || day > (int64_t)nrt::kJulianDayMask) return ERR_BAD_PARAM;
    td->Innards[0] = (DWORD)(ticks - day * nrt::kTicksPerDay);
    td->Innards[1] = (DWORD)day | (td->Innards[1] & ~nrt::kJulianDayMask);
    return NOERROR;
}

}  // extern "C"
