// fault.h - the runtime's side of fault injection (see nrt_fault.h).
#ifndef NOTESRT_SRC_FAULT_H
#define NOTESRT_SRC_FAULT_H

#include "global.h"

namespace nrt {

// Counts one call of the kind; true with the status to fail with when this
// call is the one chosen to fail.
bool FaultHit(int kind, STATUS* status);

}  // namespace nrt

#endif
