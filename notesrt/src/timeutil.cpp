// timeutil.cpp - conversions between TIMEDATE and ticks, and the clock.
#include "timeutil.h"

#include <time.h>

#include <chrono>
#include <thread>

#include "ostime.h"
#include "platform.h"
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
    uint64_t bits = RandomNumber();
    TIMEDATE td;
    td.Innards[0] = (DWORD)bits;
    td.Innards[1] = (DWORD)(bits >> 32);
    return td;
}

}  // namespace nrt
