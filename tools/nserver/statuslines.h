// statuslines.h - the live status lines of the data directory as the
// console shows them: the "show tasks" table, and each task's status text
// by process (for the message when a task is killed). Read by the console
// and by a one-shot "show tasks" when no console runs.
#ifndef ZELREP_NSERVER_STATUSLINES_H
#define ZELREP_NSERVER_STATUSLINES_H

#include <sys/types.h>

#include <map>
#include <string>

namespace nserver {

// "Task  Status" and one row per line, or "No task is running.".
std::string TaskListText();
// The status texts of each process (several lines joined with "; ").
std::map<pid_t, std::string> StatusTextsByProcess();

}  // namespace nserver

#endif
