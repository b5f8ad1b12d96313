// localsock.cpp - abstract datagram sockets and process liveness tokens.
#include "localsock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include "env.h"

namespace nrt {
namespace {

uint64_t Fnv1a(const std::string& text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
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

std::string DataScopedName(const char* kind, const std::string& name) {
    char hash[24];
    std::snprintf(hash, sizeof(hash), "%016llx", (unsigned long long)Fnv1a(DataDirectory()));
    return std::string("zelrep:") + hash + ":" + kind + ":" + name;
}

int OpenDatagramSocket() { return socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

bool AbstractAddress(const std::string& name, sockaddr_un* address, socklen_t* length) {
    if (name.size() > kMaxSocketNameLength) return false;
    std::memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    // The leading NUL of sun_path selects the abstract namespace.
    std::memcpy(address->sun_path + 1, name.data(), name.size());
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return true;
}

int BindAbstract(int fd, const std::string& name) {
    sockaddr_un address;
    socklen_t length;
    if (!AbstractAddress(name, &address, &length)) return ENAMETOOLONG;
    return bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 ? 0 : errno;
}

bool AbstractNameBound(const std::string& name) {
    sockaddr_un address;
    socklen_t length;
    if (!AbstractAddress(name, &address, &length)) return false;
    int fd = OpenDatagramSocket();
    if (fd < 0) return false;
    // Connecting a datagram socket only checks that a peer is bound there.
    bool bound = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    close(fd);
    return bound;
}

std::string ProcessToken() {
    TokenHolder& holder = Holder();
    std::lock_guard<std::mutex> lock(holder.mutex);
    if (holder.fd >= 0 && holder.owner == getpid()) return holder.token;
    if (holder.fd >= 0) close(holder.fd);
    holder.fd = OpenDatagramSocket();
    holder.token = NewToken();
    holder.owner = getpid();
    if (holder.fd >= 0) BindAbstract(holder.fd, TokenSocketName(holder.token));
    return holder.token;
}

bool TokenAlive(const std::string& token) { return AbstractNameBound(TokenSocketName(token)); }

}  // namespace nrt
