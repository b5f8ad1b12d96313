// console.h - the interactive server console: reads commands, runs them,
// relays task output, and stops every task when it ends.
#ifndef ZELREP_NSERVER_CONSOLE_H
#define ZELREP_NSERVER_CONSOLE_H

#include <string>

namespace nserver {

struct ConsoleSettings {
    std::string dataDir;  // absolute; the runtime already points at it
    std::string binDir;   // where "load" finds programs
    int killAfterSeconds = 10;
};

// Runs until "quit", "exit", end of input or SIGTERM/SIGINT/SIGHUP;
// returns the exit code.
int RunConsole(const ConsoleSettings& settings);

}  // namespace nserver

#endif
