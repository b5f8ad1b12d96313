// timeutil.h - TIMEDATE as a count of hundredths, for storage and
// arithmetic inside the runtime.
//
// Ticks count hundredths of a second since midnight GMT at the start of
// Julian day 0, so they order like the instants they stand for and fit an
// SQLite integer. The zone byte of a TIMEDATE never changes its instant.
#ifndef NOTESRT_SRC_TIMEUTIL_H
#define NOTESRT_SRC_TIMEUTIL_H

#include <cstdint>

#include "global.h"

namespace nrt {

// Julian day number of 1970-01-01.
constexpr int64_t kUnixEpochJulianDay = 2440588;
constexpr int64_t kTicksPerDay = 8640000;

// The wildcard (and any time-only or date-only value) has no instant;
// it counts as earlier than every real time.
constexpr int64_t kWildcardTicks = -1;

bool IsWildcard(const TIMEDATE& td);
int64_t TicksOf(const TIMEDATE& td);
// A TIMEDATE of the instant, carrying the server's zone in its high byte.
TIMEDATE TimedateFromTicks(int64_t ticks);
// The wall clock, in ticks.
int64_t CurrentTicks();
// Returns once the wall clock reads ticks or later.
void SleepUntilTicks(int64_t ticks);
// 64 random bits in a TIMEDATE (the random part of UNIDs and replica IDs),
// drawn from the kernel each time: a generator state copied by fork()
// would give parent and child the same values.
TIMEDATE RandomTimedate();

}  // namespace nrt

#endif
