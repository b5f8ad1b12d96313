// consoleos_posix.cpp - the console's operating-system side on POSIX (see
// consoleos.h). Signal handlers write one letter each to a pipe the console
// polls with everything else (SIGCHLD: a task ended; SIGTERM, SIGHUP: stop;
// SIGINT: an interrupt).
//
// Standard output is shared with whoever started the console, so it is not
// switched to non-blocking mode; instead each write is only made when poll
// says the descriptor takes it, and is kept small enough for what that
// promise covers: a pipe then has room for PIPE_BUF bytes, a terminal for
// a little less than 256 characters once newlines become two. Sockets (a
// service's journal) take MSG_DONTWAIT; files never block.
#include "consoleos.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace nserver {
namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    char code = signal == SIGCHLD ? 'c' : signal == SIGINT ? 'i' : 'q';
    int saved = errno;
    if (write(g_signalPipe[1], &code, 1) < 0) {
        // The pipe is full: a wake-up is already pending.
    }
    errno = saved;
}

int Descriptor(const Watch& watch) {
    switch (watch.source) {
    case Source::kStopRequests:
        return g_signalPipe[0];
    case Source::kInput:
        return STDIN_FILENO;
    case Source::kOutput:
        return STDOUT_FILENO;
    default:
        return int(watch.handle);
    }
}

enum class OutputKind { kFile, kPipe, kTerminal, kSocket };

OutputKind KindOfOutput() {
    struct stat info;
    if (fstat(STDOUT_FILENO, &info) != 0) return OutputKind::kFile;
    if (isatty(STDOUT_FILENO)) return OutputKind::kTerminal;
    if (S_ISFIFO(info.st_mode)) return OutputKind::kPipe;
    if (S_ISSOCK(info.st_mode)) return OutputKind::kSocket;
    return OutputKind::kFile;
}

OutputKind StandardOutputKind() {
    static const OutputKind kind = KindOfOutput();
    return kind;
}

bool OutputTakesNow() {
    pollfd ready = {STDOUT_FILENO, POLLOUT, 0};
    return poll(&ready, 1, 0) == 1 && (ready.revents & POLLOUT);
}

}  // namespace

void InstallStopRequests(bool service) {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    if (service) ::signal(SIGHUP, SIG_IGN);  // no terminal to lose
    ::signal(SIGPIPE, SIG_IGN);              // a closed terminal must not kill the console
}

std::string TakeStopRequests() {
    std::string requests;
    char codes[64];
    ssize_t n;
    while ((n = read(g_signalPipe[0], codes, sizeof(codes))) > 0) requests.append(codes, size_t(n));
    return requests;
}

void Wait(std::vector<Watch>* watches, int timeoutMs) {
    std::vector<pollfd> fds;
    for (const Watch& watch : *watches)
        fds.push_back({Descriptor(watch), short(((watch.wanted & kReadable) ? POLLIN : 0) |
                                                ((watch.wanted & kWritable) ? POLLOUT : 0)),
                       0});
    int polled = poll(fds.data(), fds.size(), timeoutMs);
    for (size_t i = 0; i < fds.size(); ++i) {
        short events = polled > 0 ? fds[i].revents : 0;
        (*watches)[i].ready = short(((events & POLLIN) ? kReadable : 0) | ((events & POLLOUT) ? kWritable : 0) |
                                    ((events & (POLLHUP | POLLERR)) ? kEnded : 0));
    }
}

bool InputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

long ReadInput(char* buffer, size_t size) {
    ssize_t n = read(STDIN_FILENO, buffer, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return -1;
    return n < 0 ? 0 : long(n);
}

size_t OutputChunk() {
    switch (StandardOutputKind()) {
    case OutputKind::kPipe:
        return PIPE_BUF;
    case OutputKind::kTerminal:
        return 120;
    default:
        return 0;
    }
}

long WriteOutput(const char* data, size_t size) {
    OutputKind kind = StandardOutputKind();
    if ((kind == OutputKind::kPipe || kind == OutputKind::kTerminal) && !OutputTakesNow()) return 0;
    for (;;) {
        ssize_t n = kind == OutputKind::kSocket ? send(STDOUT_FILENO, data, size, MSG_DONTWAIT | MSG_NOSIGNAL)
                                                : write(STDOUT_FILENO, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        return n <= 0 ? -1 : long(n);
    }
}

std::string ProgramDirectory() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    std::string exe(path, size_t(n));
    return exe.substr(0, exe.find_last_of('/'));
}

}  // namespace nserver
