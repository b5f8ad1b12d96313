// tasks.h - the tasks a console has loaded: starting them in the data
// directory, reading their output line by line, noticing when they have
// started (their first AddInIdle) and when they end, and stopping them.
#ifndef ZELREP_NSERVER_TASKS_H
#define ZELREP_NSERVER_TASKS_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "process.h"

namespace nserver {

class TaskTable {
public:
    // A whole line a task wrote (without its newline).
    using LineHandler =
        std::function<void(const std::string& task, pid_t pid, bool isError, const std::string& line)>;
    // A task finished its start-up.
    using ReadyHandler = std::function<void(const std::string& task, pid_t pid)>;
    // A task ended; status as ReapChild gives it; started tells whether it
    // had finished its start-up.
    using EndHandler = std::function<void(const std::string& task, pid_t pid, int status, bool started)>;

    TaskTable(LineHandler onLine, ReadyHandler onReady, EndHandler onEnd);
    ~TaskTable();
    TaskTable(const TaskTable&) = delete;
    TaskTable& operator=(const TaskTable&) = delete;

    // Starts path with args (argv[0] is name) in dataDir, which it also gets
    // as NOTES_DATA_DIR. False with *error when it could not be started.
    bool Start(const std::string& path, const std::string& name, const std::vector<std::string>& args,
               const std::string& dataDir, pid_t* pid, std::string* error);

    // The pipes to watch: every task's output streams and start-up report.
    std::vector<PipeEnd> Pipes() const;
    // Reads from one of them that has something to read or has ended.
    void ReadFrom(PipeEnd pipe);
    // Reports and forgets every task that has ended.
    void ReapEnded();

    void AskAllToStop();
    void KillAll();
    // "name (process pid)" of each task still running.
    std::vector<std::string> Running() const;
    bool Empty() const { return tasks_.empty(); }
    bool IsRunning(pid_t pid) const { return tasks_.count(pid) != 0; }
    // The tasks loaded as word (the program) or with word among their
    // arguments, letter case aside: those a "tell word" is meant for.
    std::vector<pid_t> Matching(const std::string& word) const;
    // The names a "tell" can reach: every task's arguments that could be a
    // queue name, upper-cased (for completion).
    std::vector<std::string> TellNames() const;

private:
    struct Stream {
        PipeEnd fd = kNoPipe;
        std::string partial;
    };
    struct Task {
        std::string name;
        std::vector<std::string> args;
        Stream out, err;
        PipeEnd readyFd = kNoPipe;  // until the start-up report (or its end) is read
        bool started = false;
    };

    void ReadStream(const std::string& task, pid_t pid, bool isError, Stream* stream, bool drain);
    void ReadStartUp(pid_t pid, Task* task);
    void Finish(pid_t pid, int status);

    LineHandler onLine_;
    ReadyHandler onReady_;
    EndHandler onEnd_;
    std::map<pid_t, Task> tasks_;
};

}  // namespace nserver

#endif
