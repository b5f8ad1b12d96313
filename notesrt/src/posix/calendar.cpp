// calendar.cpp - the POSIX side of the calendar calls of platform.h.
#include "platform.h"

namespace nrt {

void GmTime(std::time_t at, std::tm* out) { gmtime_r(&at, out); }

std::time_t GmTimeToSeconds(std::tm* fields) { return timegm(fields); }

void LocalTime(std::time_t at, std::tm* out, long* eastSeconds) {
    localtime_r(&at, out);
    *eastSeconds = out->tm_gmtoff;
}

}  // namespace nrt
