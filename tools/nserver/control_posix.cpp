// control_posix.cpp - the console's control socket (see control.h).
//
// The socket's address is its name relative to DATA/.nserver, reached by
// changing into that directory for the bind or connect: so a data
// directory of any length works (a socket address holds 107 bytes). Both
// run before the console starts threads of its own, or in the one-shot
// program.
#include "control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace nserver {
namespace {

const char kSocketName[] = "control";
// How long a one-shot command waits for the console's next word.
constexpr int kAnswerTimeoutMs = 600000;

sockaddr_un SocketAddress() {
    sockaddr_un address;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, kSocketName, sizeof(kSocketName));
    return address;
}

// Runs body with directory as the current directory; false when it
// cannot be entered (errno set).
bool InDirectory(const std::string& directory, const std::function<void()>& body) {
    int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (here < 0 || chdir(directory.c_str()) != 0) {
        int saved = errno;
        if (here >= 0) close(here);
        errno = saved;
        return false;
    }
    body();
    int saved = errno;
    if (fchdir(here) != 0) {
        // The old directory is gone; the console works with absolute paths.
    }
    close(here);
    errno = saved;
    return true;
}

bool PeerAllowed(int fd) {
    ucred peer;
    socklen_t size = sizeof(peer);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
    return peer.uid == geteuid() || peer.uid == 0;
}

int NewSocket() { return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// Prints one answer line; sets *code for the last one.
void TakeAnswerLine(const std::string& line, int* code, bool* ended) {
    if (line.size() < 2) return;
    std::string text = line.substr(2);
    if (line[0] == 'O') std::printf("%s\n", text.c_str());
    if (line[0] == 'E') std::fprintf(stderr, "nserver: %s\n", text.c_str());
    if (line[0] == 'X') {
        *code = std::atoi(text.c_str());
        *ended = true;
    }
}

}  // namespace

bool ConsoleDirectory(const std::string& dataDir, std::string* path, std::string* error) {
    *path = dataDir + "/.nserver";
    if (mkdir(path->c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot make " + *path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (lstat(path->c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) {
        *error = *path + " is not a directory of this user; remove it";
        return false;
    }
    if ((info.st_mode & 0777) != 0700 && chmod(path->c_str(), 0700) != 0) {
        *error = "cannot make " + *path + " private: " + std::strerror(errno);
        return false;
    }
    return true;
}

ControlSocket::~ControlSocket() {
    if (fd_ < 0) return;
    close(fd_);
    unlink((directory_ + "/" + kSocketName).c_str());
}

bool ControlSocket::Listen(const std::string& dataDir, std::string* error) {
    if (!ConsoleDirectory(dataDir, &directory_, error)) return false;
    std::string unused;
    int other = ConnectToConsole(dataDir, &unused);
    if (other >= 0) {
        close(other);
        *error = "another console runs on " + dataDir;
        return false;
    }
    int fd = NewSocket();
    sockaddr_un address = SocketAddress();
    int result = -1;
    bool entered = InDirectory(directory_, [&] {
        unlink(kSocketName);  // left by a console that died
        result = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    });
    if (fd < 0 || !entered || result != 0 || listen(fd, 16) != 0) {
        *error = "cannot listen on " + directory_ + "/" + kSocketName + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fd_ = fd;
    return true;
}

int ControlSocket::Accept() {
    int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return -1;
    if (PeerAllowed(fd)) return fd;
    close(fd);
    return -1;
}

bool SendToCaller(int fd, std::string* output) {
    while (!output->empty()) {
        ssize_t n = send(fd, output->data(), output->size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) return false;
        output->erase(0, size_t(n));
    }
    return true;
}

long ReadFromCaller(int fd, char* buffer, size_t size) {
    ssize_t n = read(fd, buffer, size);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return -1;
    return n < 0 ? 0 : long(n);
}

void CloseCaller(int fd) { close(fd); }

int ConnectToConsole(const std::string& dataDir, std::string* error) {
    int fd = NewSocket();
    if (fd < 0) return -1;
    sockaddr_un address = SocketAddress();
    int result = -1;
    bool entered = InDirectory(dataDir + "/.nserver", [&] {
        result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    });
    if (entered && result == 0 && PeerAllowed(fd)) return fd;
    if (entered && result == 0) *error = "the console socket of " + dataDir + " belongs to another user";
    close(fd);
    return -1;
}

int RunOverConnection(int fd, const std::string& command) {
    int code = 1;
    bool ended = false;
    if (!WriteAll(fd, command + "\n")) {
        std::fprintf(stderr, "nserver: cannot reach the console: %s\n", std::strerror(errno));
        close(fd);
        return 1;
    }
    std::string partial;
    for (;;) {
        pollfd ready = {fd, POLLIN, 0};
        int polled = poll(&ready, 1, kAnswerTimeoutMs);
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) {
            std::fprintf(stderr, "nserver: the console did not answer\n");
            break;
        }
        char buffer[4096];
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        partial.append(buffer, size_t(n));
        size_t newline;
        while ((newline = partial.find('\n')) != std::string::npos) {
            TakeAnswerLine(partial.substr(0, newline), &code, &ended);
            partial.erase(0, newline + 1);
        }
    }
    close(fd);
    if (!ended) std::fprintf(stderr, "nserver: the console ended without an answer\n");
    return ended ? code : 1;
}

}  // namespace nserver
