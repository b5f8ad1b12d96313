// looptask.cpp - test task that logs and loops on AddInIdle until asked to
// stop. Arguments: [NAME] [lines=N] [status=S]: N numbered lines are logged
// at start (for tests of concurrent logging); a status S makes AddInMain
// return S at once (for tests of the start-up shim).
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "addin.h"

STATUS LNPUBLIC AddInMain(HMODULE, int argc, char* argv[]) {
    const char* name = "looptask";
    long lines = 0;
    STATUS result = NOERROR;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "lines=", 6) == 0)
            lines = std::strtol(argv[i] + 6, nullptr, 10);
        else if (std::strncmp(argv[i], "status=", 7) == 0)
            result = STATUS(std::strtoul(argv[i] + 7, nullptr, 0));
        else
            name = argv[i];
    }
    AddInSetStatusText("Looping as %s", name);
    AddInLogMessageText("%s: started", NOERROR, name);
    if (result != NOERROR) return result;
    for (long i = 0; i < lines; ++i) AddInLogMessageText("%s: line %05ld", NOERROR, name, i);
    AddInLogMessageText("%s: logged %ld lines", NOERROR, name, lines);
    while (!AddInIdle()) usleep(20000);
    AddInLogMessageText("%s: stopping", NOERROR, name);
    return NOERROR;
}
