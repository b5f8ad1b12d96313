// calendar.cpp - the Windows side of the calendar calls of platform.h.
#include "platform.h"

namespace nrt {

void GmTime(std::time_t at, std::tm* out) { gmtime_s(out, &at); }

std::time_t GmTimeToSeconds(std::tm* fields) { return _mkgmtime(fields); }

void LocalTime(std::time_t at, std::tm* out, long* eastSeconds) {
    localtime_s(out, &at);
    std::tm copy = *out;
    *eastSeconds = long(_mkgmtime(&copy) - at);
}

}  // namespace nrt
