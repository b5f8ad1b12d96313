// process_posix.cpp - task processes on POSIX: fork and exec with pipes;
// each task runs in its own process group (a Ctrl-C at the terminal reaches
// only the console, which then stops the tasks in order) and receives
// SIGTERM, which the runtime turns into AddInIdle, when asked to stop or
// should the console itself die. The console learns of an ended child
// through SIGCHLD and reaps it here.
#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nserver {
namespace {

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

bool IsProgramFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool StartChild(const std::string& path, const std::vector<std::string>& argv, const std::string& dataDir,
                pid_t* pid, ChildPipes* pipes, std::string* error) {
    int out[2], err[2], report[2], ready[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0 ||
        pipe2(ready, O_CLOEXEC) != 0) {
        *error = std::string("cannot make pipes: ") + std::strerror(errno);
        return false;
    }
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
    *pid = child;
    *pipes = ChildPipes{out[0], err[0], ready[0]};
    return true;
}

ReadResult ReadPipe(PipeEnd pipe, char* buffer, size_t size, bool wait, size_t* length) {
    int fd = int(pipe);
    if (!wait) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    for (;;) {
        ssize_t n = read(fd, buffer, size);
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) {
            *length = size_t(n);
            return ReadResult::kData;
        }
        return n < 0 && errno == EAGAIN ? ReadResult::kNothing : ReadResult::kEnd;
    }
}

bool HasInput(PipeEnd pipe) {
    pollfd ready = {int(pipe), POLLIN, 0};
    return poll(&ready, 1, 0) == 1;
}

void ClosePipe(PipeEnd pipe) { close(int(pipe)); }

bool ReapChild(pid_t* pid, int* status) {
    *pid = waitpid(-1, status, WNOHANG);
    return *pid > 0;
}

std::string EndDescription(int status) {
    if (WIFEXITED(status)) return "with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    return "";
}

void AskChildToStop(pid_t pid) { kill(pid, SIGTERM); }

void KillChild(pid_t pid) { kill(pid, SIGKILL); }

}  // namespace nserver
