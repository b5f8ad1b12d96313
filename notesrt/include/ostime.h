/* ostime.h - time values: constants, comparison, the TIME breakdown. */
#ifndef NOTESRT_OSTIME_H
#define NOTESRT_OSTIME_H

#include "global.h"

#define TIMEDATE_MINIMUM 0
#define TIMEDATE_MAXIMUM 1
#define TIMEDATE_WILDCARD 2

#define ALLDAY 0xFFFFFFFF /* Innards[0]: date only */
#define ANYDAY 0xFFFFFFFF /* Innards[1]: time only */

#define TICKS_IN_SECOND 100
#define TICKS_IN_MINUTE 6000
#define TICKS_IN_HOUR 360000
#define TICKS_IN_DAY 8640000

/* Broken-down time. zone is positive west of GMT (EST = 5); fractional
 * zones carry the minutes in the high digits (India = -3005). */
typedef struct {
    int year;      /* 1-32767 */
    int month;     /* 1-12 */
    int day;       /* 1-31 */
    int weekday;   /* 1-7, Sunday = 1 */
    int hour;      /* 0-23 */
    int minute;    /* 0-59 */
    int second;    /* 0-59 */
    int hundredth; /* 0-99 */
    int dst;       /* the zone observes daylight saving time; whether it is
                      in effect follows from the date */
    int zone;
    TIMEDATE GM;
} TIME;

NRT_EXTERN_C_BEGIN

void LNPUBLIC OSCurrentTIMEDATE(TIMEDATE* retTime);
void LNPUBLIC OSCurrentTimeZone(int* retZone, int* retDST);
void LNPUBLIC TimeConstant(WORD type, TIMEDATE* td);
int LNPUBLIC TimeDateCompare(const TIMEDATE* t1, const TIMEDATE* t2);
LONG LNPUBLIC TimeDateDifference(const TIMEDATE* t1, const TIMEDATE* t2);
/* t1 - t2 in seconds, to the hundredth; 0 when either is the wildcard. */
void LNPUBLIC TimeDateDifferenceFloat(const TIMEDATE* t1, const TIMEDATE* t2, NUMBER* retDifference);
/* Both return FALSE on success, TRUE on error. */
BOOL LNPUBLIC TimeGMToLocalZone(TIME* time);
BOOL LNPUBLIC TimeGMToLocal(TIME* time);
BOOL LNPUBLIC TimeLocalToGM(TIME* time);
/* Adds (or subtracts) whole seconds to a time that has a date and a time
 * of day; ERR_BAD_PARAM for other values or a result out of range. */
STATUS LNPUBLIC TimeDateAdjustSeconds(TIMEDATE* td, LONG seconds);

NRT_EXTERN_C_END

#define TimeDateClear(t) TimeConstant(TIMEDATE_MINIMUM, (t))
#define TimeDateEqual(a, b) (TimeDateCompare((a), (b)) == 0)

#endif
