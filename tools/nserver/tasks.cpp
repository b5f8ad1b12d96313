// tasks.cpp - task processes of the console. Each task runs in its own
// process group (a Ctrl-C at the terminal reaches only the console, which
// then stops the tasks in order) and receives SIGTERM should the console
// itself die. Output is relayed one whole line at a time; a line longer
// than 64 KiB is passed on in pieces. Each task gets the write end of a
// start-up pipe (NRT_READY_FD): the runtime writes one byte to it when the
// task first asks AddInIdle, and the pipe closes without it when the task
// ends before.
#include "tasks.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <strings.h>

#include <cerrno>
#include <cctype>
#include <cstring>

namespace nserver {
namespace {

constexpr size_t kMaxRelayedLine = 65536;

// In the child: never returns. Reports an exec failure's errno on report.
[[noreturn]] void ExecTask(const std::string& path, const std::vector<std::string>& argv,
                           const std::string& dataDir, int out, int err, int report, int ready) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    int failure = 0;
    if (chdir(dataDir.c_str()) != 0 || setenv("NOTES_DATA_DIR", dataDir.c_str(), 1) != 0 ||
        fcntl(ready, F_SETFD, 0) != 0 || setenv("NRT_READY_FD", std::to_string(ready).c_str(), 1) != 0) {
        failure = errno;
    } else {
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(path.c_str(), args.data());
        failure = errno;
    }
    if (write(report, &failure, sizeof(failure)) < 0) _exit(127);
    _exit(127);
}

// Waits for the child's exec: 0 when it ran, else its errno.
int ExecResult(int report) {
    int failure = 0;
    ssize_t n;
    do {
        n = read(report, &failure, sizeof(failure));
    } while (n < 0 && errno == EINTR);
    return n == sizeof(failure) ? failure : 0;
}

}  // namespace

TaskTable::TaskTable(LineHandler onLine, ReadyHandler onReady, EndHandler onEnd)
    : onLine_(std::move(onLine)), onReady_(std::move(onReady)), onEnd_(std::move(onEnd)) {}

TaskTable::~TaskTable() {
    for (auto& entry : tasks_) {
        for (Stream* stream : {&entry.second.out, &entry.second.err})
            if (stream->fd >= 0) close(stream->fd);
        if (entry.second.readyFd >= 0) close(entry.second.readyFd);
    }
}

bool TaskTable::Start(const std::string& path, const std::string& name,
                      const std::vector<std::string>& args, const std::string& dataDir, pid_t* pid,
                      std::string* error) {
    int out[2], err[2], report[2], ready[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0 ||
        pipe2(ready, O_CLOEXEC) != 0) {
        *error = std::string("cannot make pipes: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> argv = {name};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t child = fork();
    if (child == 0) ExecTask(path, argv, dataDir, out[1], err[1], report[1], ready[1]);
    int forkError = errno;
    for (int fd : {out[1], err[1], report[1], ready[1]}) close(fd);
    int failure = child < 0 ? forkError : ExecResult(report[0]);
    close(report[0]);
    if (failure != 0) {
        for (int fd : {out[0], err[0], ready[0]}) close(fd);
        if (child > 0) waitpid(child, nullptr, 0);
        *error = std::strerror(failure);
        return false;
    }
    Task& task = tasks_[child];
    task.name = name;
    task.args = args;
    task.out.fd = out[0];
    task.err.fd = err[0];
    task.readyFd = ready[0];
    *pid = child;
    return true;
}

void TaskTable::AddPollFds(std::vector<pollfd>* fds) const {
    for (const auto& entry : tasks_) {
        for (const Stream* stream : {&entry.second.out, &entry.second.err})
            if (stream->fd >= 0) fds->push_back({stream->fd, POLLIN, 0});
        if (entry.second.readyFd >= 0) fds->push_back({entry.second.readyFd, POLLIN, 0});
    }
}

void TaskTable::ReadReady(const std::vector<pollfd>& fds) {
    for (const pollfd& ready : fds) {
        if (!(ready.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        for (auto& entry : tasks_) {
            Task& task = entry.second;
            if (task.out.fd == ready.fd) ReadStream(task.name, entry.first, false, &task.out, false);
            if (task.err.fd == ready.fd) ReadStream(task.name, entry.first, true, &task.err, false);
            if (task.readyFd == ready.fd) ReadStartUp(entry.first, &task);
        }
    }
}

// The start-up report: a byte when the task started, else end of file.
void TaskTable::ReadStartUp(pid_t pid, Task* task) {
    char byte = 0;
    ssize_t n;
    do {
        n = read(task->readyFd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    close(task->readyFd);
    task->readyFd = -1;
    if (n != 1) return;
    task->started = true;
    onReady_(task->name, pid);
}

// One read, or with drain every byte already written (the task ended).
void TaskTable::ReadStream(const std::string& task, pid_t pid, bool isError, Stream* stream, bool drain) {
    if (drain) fcntl(stream->fd, F_SETFL, fcntl(stream->fd, F_GETFL) | O_NONBLOCK);
    for (;;) {
        char buffer[8192];
        ssize_t n = read(stream->fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) {
            stream->partial.append(buffer, size_t(n));
            size_t newline;
            while ((newline = stream->partial.find('\n')) != std::string::npos ||
                   stream->partial.size() >= kMaxRelayedLine) {
                size_t cut = newline != std::string::npos ? newline : kMaxRelayedLine;
                std::string line = stream->partial.substr(0, cut);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                stream->partial.erase(0, newline != std::string::npos ? cut + 1 : cut);
                onLine_(task, pid, isError, line);
            }
            if (drain) continue;
            return;
        }
        if (n < 0 && errno == EAGAIN && !drain) return;
        // End of file (or nothing more while draining): the stream is done.
        if (!stream->partial.empty()) onLine_(task, pid, isError, stream->partial);
        stream->partial.clear();
        close(stream->fd);
        stream->fd = -1;
        return;
    }
}

void TaskTable::ReapEnded() {
    for (;;) {
        int status = 0;
        pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid <= 0) return;
        Finish(pid, status);
    }
}

void TaskTable::Finish(pid_t pid, int status) {
    auto found = tasks_.find(pid);
    if (found == tasks_.end()) return;
    Task& task = found->second;
    for (bool isError : {false, true}) {
        Stream* stream = isError ? &task.err : &task.out;
        if (stream->fd >= 0) ReadStream(task.name, pid, isError, stream, true);
    }
    if (task.readyFd >= 0) ReadStartUp(pid, &task);  // a report written just before the end
    std::string name = task.name;
    bool started = task.started;
    tasks_.erase(found);
    onEnd_(name, pid, status, started);
}

void TaskTable::SignalAll(int signal) {
    for (const auto& entry : tasks_) kill(entry.first, signal);
}

std::vector<pid_t> TaskTable::Matching(const std::string& word) const {
    std::vector<pid_t> found;
    for (const auto& entry : tasks_) {
        bool match = strcasecmp(entry.second.name.c_str(), word.c_str()) == 0;
        for (const std::string& arg : entry.second.args)
            match = match || strcasecmp(arg.c_str(), word.c_str()) == 0;
        if (match) found.push_back(entry.first);
    }
    return found;
}

std::vector<std::string> TaskTable::TellNames() const {
    std::vector<std::string> names;
    for (const auto& entry : tasks_) {
        for (const std::string& arg : entry.second.args) {
            if (arg.empty() || arg[0] == '-' || arg.find_first_of("=./") != std::string::npos) continue;
            std::string name;
            for (char c : arg) name += char(std::toupper((unsigned char)c));
            names.push_back(name);
        }
    }
    return names;
}

std::vector<std::string> TaskTable::Running() const {
    std::vector<std::string> names;
    for (const auto& entry : tasks_)
        names.push_back(entry.second.name + " (process " + std::to_string(entry.first) + ")");
    return names;
}

}  // namespace nserver
