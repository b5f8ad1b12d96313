// schedule.h - the schedule's arithmetic: a count of units as an interval
// in seconds, and a count read from its digits.
//
// The interval goes to AddInSecondsHaveElapsed as a DWORD, so a schedule
// whose interval does not fit 32 bits is refused rather than wrapped; and
// a count too large for an unsigned long is refused rather than cut to
// ULONG_MAX. Written for any width of unsigned long, so that the same
// answers are tested where long has 32 bits and where it has 64. Owned by
// the configuration object (config.cpp) and the SCHVAL command.
#ifndef ZELREP_SCHEDULE_H
#define ZELREP_SCHEDULE_H

template <typename Long>
class ScheduleArithmetic {
public:
    static const Long kMaxInterval = (Long)0xFFFFFFFFu;

    // The seconds of count units of unitSeconds each; false when they are
    // more than kMaxInterval.
    static bool Interval(Long count, Long unitSeconds, Long* seconds) {
        if (unitSeconds == 0 || count > kMaxInterval / unitSeconds) return false;
        *seconds = count * unitSeconds;
        return true;
    }

    // The count written in digits (the empty text gives 0); false for a
    // character that is not a digit or a count that does not fit a Long.
    static bool Count(const char* digits, Long* count) {
        Long value = 0;
        for (; *digits != '\0'; ++digits) {
            if (*digits < '0' || *digits > '9') return false;
            Long digit = (Long)(*digits - '0');
            if (value > (Long)(((Long)~(Long)0 - digit) / 10)) return false;
            value = (Long)(value * 10 + digit);
        }
        *count = value;
        return true;
    }
};

typedef ScheduleArithmetic<unsigned long> Schedule;

#endif
