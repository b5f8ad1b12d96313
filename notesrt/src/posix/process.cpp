// process.cpp - the POSIX side of the process calls of platform.h: pid,
// random source, liveness tokens (abstract-namespace Unix sockets), stop
// signals, the start-up descriptor and the console's standard output.
//
// A liveness token is an abstract-namespace socket name, held by the
// kernel only while its socket is open: a process that died (even by
// SIGKILL) leaves nothing behind.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform.h"

namespace nrt {
namespace {

// The abstract address of name: the leading NUL of sun_path selects the
// abstract namespace.
bool AbstractAddress(const std::string& name, sockaddr_un* address, socklen_t* length) {
    if (name.size() > sizeof(address->sun_path) - 1) return false;
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path + 1, name.data(), name.size());
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return true;
}

std::string TokenSocketName(const std::string& token) { return "zelrep:live:" + token; }

int OpenDatagramSocket() { return socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

struct TokenHolder {
    std::mutex mutex;
    std::string token;
    int fd = -1;
    pid_t owner = 0;  // a forked child makes its own token
};

TokenHolder& Holder() {
    static TokenHolder holder;
    return holder;
}

std::string NewToken() {
    char text[48];
    std::snprintf(text, sizeof(text), "%ld-%016llx", (long)getpid(), (unsigned long long)RandomNumber());
    return text;
}

void (*g_onStop)() = nullptr;

void OnStopSignal(int) { g_onStop(); }

}  // namespace

unsigned long ProcessId() { return (unsigned long)getpid(); }

uint64_t RandomNumber() {
    uint64_t value = 0;
    size_t done = 0;
    while (done < sizeof(value)) {
        ssize_t n = getrandom(reinterpret_cast<char*>(&value) + done, sizeof(value) - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    return value;
}

std::string ProcessToken() {
    TokenHolder& holder = Holder();
    std::lock_guard<std::mutex> lock(holder.mutex);
    if (holder.fd >= 0 && holder.owner == getpid()) return holder.token;
    if (holder.fd >= 0) close(holder.fd);
    holder.fd = OpenDatagramSocket();
    holder.token = NewToken();
    holder.owner = getpid();
    sockaddr_un address;
    socklen_t length;
    if (holder.fd >= 0 && AbstractAddress(TokenSocketName(holder.token), &address, &length))
        bind(holder.fd, reinterpret_cast<sockaddr*>(&address), length);
    return holder.token;
}

bool TokenAlive(const std::string& token) {
    sockaddr_un address;
    socklen_t length;
    if (!AbstractAddress(TokenSocketName(token), &address, &length)) return false;
    int fd = OpenDatagramSocket();
    if (fd < 0) return false;
    // Connecting a datagram socket only checks that a peer is bound there.
    bool bound = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    close(fd);
    return bound;
}

void InstallStopHandlers(void (*onStop)()) {
    g_onStop = onStop;
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted reads and writes go on; waits (poll) return early, so a
    // task blocked on its queue notices the request at once.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void YieldToOthers() { sched_yield(); }

int TakeReadyDescriptor() {
    const char* text = std::getenv("NRT_READY_FD");
    if (text == nullptr) return -1;
    char* end = nullptr;
    long fd = std::strtol(text, &end, 10);
    unsetenv("NRT_READY_FD");
    if (*end != '\0' || fd < 3 || fcntl(int(fd), F_SETFD, FD_CLOEXEC) != 0) return -1;
    return int(fd);
}

void AtFork(void (*prepare)(), void (*parent)(), void (*child)()) { pthread_atfork(prepare, parent, child); }

std::thread StartQuietThread(std::function<void()> body) {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread thread;
    try {
        thread = std::thread(std::move(body));
    } catch (...) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return thread;
}

bool StdoutIsPipe() {
    struct stat info;
    return fstat(STDOUT_FILENO, &info) == 0 && S_ISFIFO(info.st_mode);
}

bool MayHoldOutput(FILE* out) { return __fpending(out) > 0; }

}  // namespace nrt
