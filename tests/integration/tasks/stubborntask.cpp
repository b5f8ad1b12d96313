// stubborntask.cpp - test task that never looks at AddInIdle, so only a
// kill ends it. It gives up by itself after a minute so that it never
// outlives a failed test for long.
#include <unistd.h>

#include "addin.h"

STATUS LNPUBLIC AddInMain(HMODULE, int, char*[]) {
    AddInSetStatusText("Ignoring stop requests");
    AddInLogMessageText("stubborn: started", NOERROR);
    for (int i = 0; i < 600; ++i) usleep(100000);
    AddInLogMessageText("stubborn: giving up", NOERROR);
    return NOERROR;
}
