// tasks.h - the tasks a console has loaded: starting them in the data
// directory, reading their output line by line, noticing when they end,
// and stopping them.
#ifndef ZELREP_NSERVER_TASKS_H
#define ZELREP_NSERVER_TASKS_H

#include <poll.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace nserver {

class TaskTable {
public:
    // A whole line a task wrote (without its newline).
    using LineHandler = std::function<void(const std::string& task, bool isError, const std::string& line)>;
    // A task ended; status as from waitpid.
    using EndHandler = std::function<void(const std::string& task, pid_t pid, int status)>;

    TaskTable(LineHandler onLine, EndHandler onEnd);
    ~TaskTable();
    TaskTable(const TaskTable&) = delete;
    TaskTable& operator=(const TaskTable&) = delete;

    // Starts path with args (argv[0] is name) in dataDir, which it also gets
    // as NOTES_DATA_DIR. False with *error when it could not be started.
    bool Start(const std::string& path, const std::string& name, const std::vector<std::string>& args,
               const std::string& dataDir, pid_t* pid, std::string* error);

    void AddPollFds(std::vector<pollfd>* fds) const;
    // Reads from every descriptor poll reported.
    void ReadReady(const std::vector<pollfd>& fds);
    // Reports and forgets every task that has ended.
    void ReapEnded();

    void SignalAll(int signal);
    // "name (process pid)" of each task still running.
    std::vector<std::string> Running() const;
    bool Empty() const { return tasks_.empty(); }

private:
    struct Stream {
        int fd = -1;
        std::string partial;
    };
    struct Task {
        std::string name;
        Stream out, err;
    };

    void ReadStream(const std::string& task, bool isError, Stream* stream, bool drain);
    void Finish(pid_t pid, int status);

    LineHandler onLine_;
    EndHandler onEnd_;
    std::map<pid_t, Task> tasks_;
};

}  // namespace nserver

#endif
