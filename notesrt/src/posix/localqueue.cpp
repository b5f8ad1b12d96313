// localqueue.cpp - the POSIX side of the local queues of platform.h: Unix
// datagram sockets in the private directory (osfiles.h).
//
// A queue is a socket file DATA/.notesrt/queues/<name>, bound by the
// process that created it and reached through the directory's descriptor,
// so neither the length of the data directory's path nor a directory
// swapped in meanwhile matters. Only the server's user and root may enter
// that directory, so nobody else can take a queue's name, read its
// messages or send to it; and both ends check: a sender puts only to a
// socket file of the server's user, the reader takes only datagrams whose
// credentials are the server's user's or root's. A socket file left by a
// process that died answers "connection refused": its name is free and the
// next creator takes it over; creation is serialised by a lock on the
// directory.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "addinrt.h"
#include "mq.h"
#include "osfiles.h"
#include "platform.h"
#include "status.h"

namespace nrt {

struct QueueEndpoint {
    std::string dataDir;
    std::string name;
    int fd = -1;
    int dirFd = -1;        // the queue directory, holding the socket file
    struct stat bound {};  // the socket file as bound: closing removes only that one

    ~QueueEndpoint() { CloseQueue(*this, false); }
};

namespace {

// How long a put waits for room in a full queue before it gives up.
constexpr int kFullQueueWaitMs = 1000;

int OpenDatagramSocket() { return socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0); }

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

// A failure of the queue directory, as the queue's status: a queue that
// is not there, or that belongs to another user.
STATUS QueueFailure(STATUS status, const std::string& what) {
    if (ERR(status) == ERR_NOEXIST) return Fail(ERR_NO_SUCH_MQ, what);
    if (ERR(status) == ERR_NOACCESS) return Fail(ERR_MQ_OTHER_USER, what);
    return status;
}

STATUS SocketFailure(int error, const std::string& what) {
    if (error == ECONNREFUSED || error == ENOENT) return Fail(ERR_NO_SUCH_MQ, what + " has ended");
    if (error == EACCES || error == EPERM) return Fail(ERR_MQ_OTHER_USER, what);
    return StatusFromErrno(error, what);
}

STATUS OpenQueueDirectory(const std::string& dataDir, bool create, const std::string& what, int* dirFd) {
    STATUS status = OpenPrivateDirectory(dataDir, "queues", create, dirFd);
    return status == NOERROR ? NOERROR : QueueFailure(status, what);
}

// Connects a new socket with the queue's socket file, which must be a socket
// of the server's user.
STATUS ConnectToQueue(const std::string& dataDir, const std::string& name, const std::string& what, int* fd) {
    *fd = -1;
    int dirFd = -1;
    STATUS status = OpenQueueDirectory(dataDir, false, what, &dirFd);
    if (status != NOERROR) return status;
    struct stat info;
    int error = fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    if (error == 0 && (!S_ISSOCK(info.st_mode) || !IsServerUser(dataDir, info.st_uid))) error = EPERM;
    int socketFd = error == 0 ? OpenDatagramSocket() : -1;
    if (error == 0 && socketFd < 0) error = errno;
    if (error == 0) error = ConnectInDirectory(socketFd, dirFd, name);
    close(dirFd);
    if (error != 0) {
        if (socketFd >= 0) close(socketFd);
        return SocketFailure(error, what);
    }
    *fd = socketFd;
    return NOERROR;
}

// Binds the queue's socket, taking over a file left by a process that
// died; whatever else of another user holds the name goes. Called with the
// queue directory locked.
STATUS BindLocked(QueueEndpoint& queue, const std::string& what) {
    const char* file = queue.name.c_str();
    struct stat info;
    if (fstatat(queue.dirFd, file, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        (!S_ISSOCK(info.st_mode) || !IsServerUser(queue.dataDir, info.st_uid)))
        unlinkat(queue.dirFd, file, 0);
    int probe = OpenDatagramSocket();
    if (probe < 0) return StatusFromErrno(errno, what);
    int error = ConnectInDirectory(probe, queue.dirFd, queue.name);
    close(probe);
    if (error == 0) return Fail(ERR_DUPLICATE_MQ, what);
    if (error == ECONNREFUSED) unlinkat(queue.dirFd, file, 0);
    else if (error != ENOENT) return SocketFailure(error, what);
    queue.fd = OpenDatagramSocket();
    if (queue.fd < 0) return StatusFromErrno(errno, what);
    int on = 1;
    setsockopt(queue.fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on));
    error = BindInDirectory(queue.fd, queue.dirFd, queue.name);
    if (error == EADDRINUSE) return Fail(ERR_DUPLICATE_MQ, what);
    if (error != 0) return StatusFromErrno(error, what);
    fchmodat(queue.dirFd, file, NewFileMode(), 0);
    GiveToServerUser(queue.dataDir, queue.dirFd, file);
    fstatat(queue.dirFd, file, &queue.bound, AT_SYMLINK_NOFOLLOW);
    return NOERROR;
}

// Sends on a socket connected to the queue; when the queue is full, waits
// a moment for the reader to make room.
ssize_t SendWithRoom(int fd, const std::string& datagram) {
    for (int attempt = 0;; ++attempt) {
        ssize_t sent = send(fd, datagram.data(), datagram.size(), MSG_DONTWAIT);
        if (sent >= 0 || errno == EINTR) {
            if (sent >= 0) return sent;
            continue;
        }
        if (errno != EAGAIN || attempt > 0) return -1;
        pollfd room = {fd, POLLOUT, 0};
        poll(&room, 1, kFullQueueWaitMs);
    }
}

// Datagrams of the server's user and of root only.
bool FromAllowedSender(msghdr* header, const std::string& dataDir) {
    for (cmsghdr* c = CMSG_FIRSTHDR(header); c != nullptr; c = CMSG_NXTHDR(header, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_CREDENTIALS) continue;
        ucred credentials;
        std::memcpy(&credentials, CMSG_DATA(c), sizeof(credentials));
        return IsServerUser(dataDir, credentials.uid);
    }
    return false;
}

}  // namespace

STATUS BindQueue(const std::string& dataDir, const std::string& name, const std::string& what,
                 std::shared_ptr<QueueEndpoint>* endpoint) {
    auto queue = std::make_shared<QueueEndpoint>();
    queue->dataDir = dataDir;
    queue->name = name;
    STATUS status = OpenQueueDirectory(dataDir, true, what, &queue->dirFd);
    if (status != NOERROR) return status;
    flock(queue->dirFd, LOCK_EX);
    status = BindLocked(*queue, what);
    flock(queue->dirFd, LOCK_UN);
    if (status == NOERROR) *endpoint = std::move(queue);
    return status;
}

// With release, the socket file goes, unless another process has taken the
// name over meanwhile.
void CloseQueue(QueueEndpoint& queue, bool release) {
    if (release && queue.dirFd >= 0) {
        flock(queue.dirFd, LOCK_EX);
        struct stat info;
        if (fstatat(queue.dirFd, queue.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            info.st_ino == queue.bound.st_ino && info.st_dev == queue.bound.st_dev)
            unlinkat(queue.dirFd, queue.name.c_str(), 0);
        flock(queue.dirFd, LOCK_UN);
    }
    if (queue.fd >= 0) close(queue.fd);
    if (queue.dirFd >= 0) close(queue.dirFd);
    queue.fd = queue.dirFd = -1;
}

STATUS ProbeQueue(const std::string& dataDir, const std::string& name, const std::string& what) {
    int fd = -1;
    STATUS status = ConnectToQueue(dataDir, name, what, &fd);
    if (fd >= 0) close(fd);
    return status;
}

STATUS SendToQueue(const std::string& dataDir, const std::string& name, const std::string& datagram) {
    int fd = -1;
    STATUS status = ConnectToQueue(dataDir, name, "queue", &fd);
    if (status != NOERROR) return status;
    ssize_t sent = SendWithRoom(fd, datagram);
    int error = errno;
    close(fd);
    if (sent >= 0) return NOERROR;
    if (error == EAGAIN) return Fail(ERR_MQ_EXCEEDED_QUOTA, "queue is full");
    return SocketFailure(error, "queue");
}

long ReceiveFromQueue(QueueEndpoint& queue, std::vector<char>* buffer) {
    for (;;) {
        iovec data = {buffer->data(), buffer->size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr header;
        std::memset(&header, 0, sizeof(header));
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof(control);
        ssize_t n = recvmsg(queue.fd, &header, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
        if (n > 0 && FromAllowedSender(&header, queue.dataDir)) return long(n);
    }
}

bool AwaitQueue(QueueEndpoint& queue, std::chrono::steady_clock::time_point deadline, bool forever) {
    for (;;) {
        int wait_ms = -1;
        if (!forever) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return false;
            wait_ms = int(left);
        }
        pollfd waiting = {queue.fd, POLLIN, 0};
        int ready = poll(&waiting, 1, wait_ms);
        if (ready > 0) return true;
        if (ready == 0) return false;
        // A signal: go on waiting unless it asked the task to stop.
        if (errno != EINTR || StopRequested()) return false;
    }
}

}  // namespace nrt
