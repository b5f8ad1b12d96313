// timeutil.cpp - conversions between TIMEDATE and ticks, and the clock.
#include "timeutil.h"

#include <errno.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include "ostime.h"
#include "timecalc.h"

namespace nrt {

// High byte of Innards[1]: the zone of the server's settings.
static DWORD ServerZoneBits() { return ZoneBitsOf(ServerZone()); }

bool IsWildcard(const TIMEDATE& td) {
    return td.Innards[0] == ALLDAY || td.Innards[1] == ANYDAY;
}

int64_t TicksOf(const TIMEDATE& td) {
    if (IsWildcard(td)) return kWildcardTicks;
    int64_t day = td.Innards[1] & 0x00FFFFFF;
    return day * kTicksPerDay + td.Innards[0];
}

TIMEDATE TimedateFromTicks(int64_t ticks) {
    TIMEDATE td;
    if (ticks < 0) ticks = 0;
    td.Innards[0] = (DWORD)(ticks % kTicksPerDay);
    td.Innards[1] = (DWORD)(ticks / kTicksPerDay) | ServerZoneBits();
    return td;
}

int64_t CurrentTicks() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (kUnixEpochJulianDay * kTicksPerDay) + (int64_t)now.tv_sec * 100 +
           now.tv_nsec / 10000000;
}

void SleepUntilTicks(int64_t ticks) {
    int64_t unixTicks = ticks - kUnixEpochJulianDay * kTicksPerDay;
    struct timespec at;
    at.tv_sec = (time_t)(unixTicks / 100);
    at.tv_nsec = (long)(unixTicks % 100) * 10000000;
    while (CurrentTicks() < ticks && clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

TIMEDATE RandomTimedate() {
    uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, 0) != (ssize_t)sizeof bits)
        bits = ((uint64_t)getpid() << 32) ^ (uint64_t)CurrentTicks() ^ (uint64_t)(uintptr_t)&bits;
    TIMEDATE td;
    td.Innards[0] = (DWORD)bits;
    td.Innards[1] = (DWORD)(bits >> 32);
    return td;
}

}  // namespace nrt
