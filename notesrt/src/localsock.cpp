// localsock.cpp - socket files in a directory, and process liveness tokens.
#include "localsock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

namespace nrt {
namespace {

// The address of name in the directory dirFd, through the process's own
// view of its descriptors; false when it does not fit.
bool AddressInDirectory(int dirFd, const std::string& name, sockaddr_un* address, socklen_t* length) {
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    int written = std::snprintf(address->sun_path, sizeof(address->sun_path), "/proc/self/fd/%d/%s",
                                dirFd, name.c_str());
    if (written < 0 || size_t(written) >= sizeof(address->sun_path)) return false;
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(written) + 1);
    return true;
}

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
    std::random_device device;
    uint64_t random = (uint64_t(device()) << 32) | device();
    char text[48];
    std::snprintf(text, sizeof(text), "%ld-%016llx", (long)getpid(), (unsigned long long)random);
    return text;
}

}  // namespace

int OpenDatagramSocket() { return socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

int BindInDirectory(int fd, int dirFd, const std::string& name) {
    sockaddr_un address;
    socklen_t length;
    if (!AddressInDirectory(dirFd, name, &address, &length)) return ENAMETOOLONG;
    return bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 ? 0 : errno;
}

int ConnectInDirectory(int fd, int dirFd, const std::string& name) {
    sockaddr_un address;
    socklen_t length;
    if (!AddressInDirectory(dirFd, name, &address, &length)) return ENAMETOOLONG;
    return connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 ? 0 : errno;
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

}  // namespace nrt
