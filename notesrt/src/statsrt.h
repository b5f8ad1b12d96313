// statsrt.h - the runtime's side of the statistics (stats.cpp).
#ifndef NOTESRT_SRC_STATSRT_H
#define NOTESRT_SRC_STATSRT_H

namespace nrt {

// Removes every statistic this process set (at termination).
void DeleteAllStatistics();

}  // namespace nrt

#endif
