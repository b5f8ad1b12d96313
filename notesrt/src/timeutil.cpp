// timeutil.cpp - conversions between TIMEDATE and ticks, and the clock.
#include "timeutil.h"

#ifdef _WIN32
#define _CRT_RAND_S  // rand_s, the system's random source
#include <stdlib.h>
#else
#include <sys/random.h>
#include <unistd.h>
#endif
#include <errno.h>
#include <time.h>

#include <chrono>
#include <thread>

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
    // Short waits (a hundredth or two): sleep a little and look again.
    while (CurrentTicks() < ticks) std::this_thread::sleep_for(std::chrono::microseconds(500));
}

TIMEDATE RandomTimedate() {
    uint64_t bits = 0;
#ifdef _WIN32
    unsigned int low = 0, high = 0;
    if (rand_s(&low) == 0 && rand_s(&high) == 0) bits = ((uint64_t)high << 32) | low;
#else
    if (getrandom(&bits, sizeof bits, 0) != (ssize_t)sizeof bits)
        bits = ((uint64_t)getpid() << 32) ^ (uint64_t)CurrentTicks() ^ (uint64_t)(uintptr_t)&bits;
#endif
    TIMEDATE td;
    td.Innards[0] = (DWORD)bits;
    td.Innards[1] = (DWORD)(bits >> 32);
    return td;
}

}  // namespace nrt
