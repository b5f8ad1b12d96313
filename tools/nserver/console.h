// console.h - the server console: reads commands (from its input, from
// notes.ini's ServerTasks at start, from other shells through its control
// socket), runs them, relays task output, and stops every task when it
// ends.
#ifndef ZELREP_NSERVER_CONSOLE_H
#define ZELREP_NSERVER_CONSOLE_H

#include <string>

namespace nserver {

struct ConsoleSettings {
    std::string dataDir;  // absolute; the runtime already points at it
    std::string binDir;   // where "load" finds programs
    int killAfterSeconds = 10;
    bool service = false;  // no input: runs until quit (from a caller) or SIGTERM
    int waitSeconds = 5;   // how long a caller waits for a task's answer or start-up
};

// Runs until "quit", "exit", end of input (not as a service), SIGTERM,
// SIGHUP or, without a terminal, SIGINT; returns the exit code.
int RunConsole(const ConsoleSettings& settings);

}  // namespace nserver

#endif
