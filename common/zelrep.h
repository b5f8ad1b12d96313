// zelrep.h - the task host: the scheduled pass wrapper that the console's
// REPLICATE and MIGRATE run, and the host's limits of the console queue.
// AddInMain itself is declared by the runtime (addin.h).
#ifndef ZELREP_ZELREP_H
#define ZELREP_ZELREP_H

#include "global.h"

class CConfig;

#ifdef _WIN32
// The platform's break into the debugger (kernel32), declared here because
// the platform's headers clash with the Notes types. Windows build only.
extern "C" __declspec(dllimport) void __stdcall DebugBreak(void);
#endif

#define MQ_RECEIVE_SIZE 256
#define MQ_READ_TIMEOUT_MS 2000

STATUS ExecuteReplication(CConfig* config, int incremental);

#endif
