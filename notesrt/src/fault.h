// fault.h - the runtime's side of fault injection (see nrt_fault.h).
#ifndef NOTESRT_SRC_FAULT_H
#define NOTESRT_SRC_FAULT_H

#include "global.h"

namespace nrt {

// Counts one call of the kind; true with the status to fail with when this
// call is chosen to fail. The power-cut kind also cuts the power.
bool FaultHit(int kind, STATUS* status);
// True from the moment the power was cut until the reboot.
bool PowerIsOff();
// True while writes not yet synced are to be recorded.
bool KeepsUnsynced();
// Powers on again after a reboot, with no cut still to come.
void RestorePower();

}  // namespace nrt

#endif
