// addinrt.h - the runtime's side of the add-in services (addin.cpp):
// started by AddInSDKInit, ended by AddInSDKTerm and NotesTerm.
#ifndef NOTESRT_SRC_ADDINRT_H
#define NOTESRT_SRC_ADDINRT_H

#include "global.h"

namespace nrt {

// Installs the SIGTERM/SIGINT handlers, starts the timers' clock and
// creates the default status line named after the program.
void StartAddInServices(const char* programPath);
// Deletes this process's status lines and statistics.
void StopAddInServices();
// True once a stop was asked for (signal or NRTRequestStop).
bool StopRequested();
// The module handle of this program (nonzero once started).
HMODULE ModuleHandle();

}  // namespace nrt

#endif
