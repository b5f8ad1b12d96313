// mq.cpp - message queues between the processes of one data directory.
//
// A queue is a Unix datagram socket file in the private directory of the
// data directory (DATA/.notesrt/queues, see osfiles.h), named after the
// queue and bound by the process that created it (the owner, the only
// reader). Only the server's user and root may enter that directory, so
// nobody else can take a queue's name, read its messages or send to it;
// and both ends check: a sender puts only to a socket file of the server's
// user, the reader takes only datagrams whose credentials are the server's
// user's or root's. A socket file left by a process that died answers
// "connection refused": its name is free and the next creator takes it
// over; creation is serialised by a lock on the directory. Every datagram
// starts with one kind byte: a message or the quit request. Messages
// arrive in the order sent; priorities are not used.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "addinrt.h"
#include "env.h"
#include "handles.h"
#include "localsock.h"
#include "mq.h"
#include "osfiles.h"
#include "status.h"

namespace nrt {
namespace {

constexpr char kMessage = 'M';
constexpr char kQuit = 'Q';
constexpr size_t kMaxQueueName = 64;
// How long a put waits for room in a full queue before it gives up.
constexpr int kFullQueueWaitMs = 1000;

// Where a queue lives: its data directory and the name of its socket file.
struct QueuePlace {
    std::string dataDir;
    std::string file;
    std::string Key() const { return dataDir + "/" + file; }
};

// A queue created by this process.
struct OwnedQueue {
    QueuePlace place;
    int fd = -1;
    int dirFd = -1;  // the queue directory, holding the socket file
    struct stat bound {};  // the socket file as bound: closing removes only that one
    bool quitting = false;
    int opens = 0;
    std::vector<char> datagram = std::vector<char>(MQ_MAX_MSGSIZE + 1);
};

struct QueueHandle {
    QueuePlace place;
    OwnedQueue* owned = nullptr;  // null for a handle to another process's queue
};

struct Queues {
    std::mutex mutex;
    pid_t pid = getpid();  // a forked child does not own its parent's queues
    std::map<std::string, std::unique_ptr<OwnedQueue>> owned;  // by place
    HandleTable<QueueHandle> handles;
};

void CloseDescriptors(OwnedQueue& queue) {
    if (queue.fd >= 0) close(queue.fd);
    if (queue.dirFd >= 0) close(queue.dirFd);
    queue.fd = queue.dirFd = -1;
}

// The registry, locked; a forked child first forgets the queues of its
// parent (their names stay bound by the parent).
Queues& LockedQueues(std::unique_lock<std::mutex>* lock) {
    static Queues queues;
    *lock = std::unique_lock<std::mutex>(queues.mutex);
    if (queues.pid != getpid()) {
        for (auto& entry : queues.owned) CloseDescriptors(*entry.second);
        queues.owned.clear();
        std::vector<uint32_t> inherited;
        queues.handles.ForEach([&](uint32_t handle, const QueueHandle&) { inherited.push_back(handle); });
        for (uint32_t handle : inherited) queues.handles.Remove(handle);
        queues.pid = getpid();
    }
    return queues;
}

STATUS CheckName(const char* name) {
    if (name == nullptr || *name == '\0' || std::strlen(name) > kMaxQueueName)
        return Fail(ERR_MQ_NAME, std::string("queue name \"") + (name ? name : "") + "\"");
    return NOERROR;
}

// Any name of up to 64 bytes gives a short file name of letters and digits.
QueuePlace PlaceOf(const char* name) {
    uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (const char* c = name; *c != '\0'; ++c) {
        hash ^= (unsigned char)*c;
        hash *= 0x100000001b3ull;
    }
    char file[24];
    std::snprintf(file, sizeof(file), "q%016llx", (unsigned long long)hash);
    return QueuePlace{DataDirectory(), file};
}

std::string Described(const char* name) { return std::string("queue ") + name; }

// A failure of the queue directory or of its socket files, as the queue's
// status: a queue that is not there, or that belongs to another user.
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

STATUS OpenQueueDirectory(const QueuePlace& place, bool create, const std::string& what, int* dirFd) {
    STATUS status = OpenPrivateDirectory(place.dataDir, "queues", create, dirFd);
    return status == NOERROR ? NOERROR : QueueFailure(status, what);
}

// Connects a new socket with the queue's socket file, which must be a socket
// of the server's user.
STATUS ConnectToQueue(const QueuePlace& place, const std::string& what, int* fd) {
    *fd = -1;
    int dirFd = -1;
    STATUS status = OpenQueueDirectory(place, false, what, &dirFd);
    if (status != NOERROR) return status;
    struct stat info;
    int error = fstatat(dirFd, place.file.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    if (error == 0 && (!S_ISSOCK(info.st_mode) || !IsServerUser(place.dataDir, info.st_uid)))
        error = EPERM;
    int socketFd = error == 0 ? OpenDatagramSocket() : -1;
    if (error == 0 && socketFd < 0) error = errno;
    if (error == 0) error = ConnectInDirectory(socketFd, dirFd, place.file);
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
STATUS BindLocked(OwnedQueue& queue, const std::string& what) {
    struct stat info;
    if (fstatat(queue.dirFd, queue.place.file.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        (!S_ISSOCK(info.st_mode) || !IsServerUser(queue.place.dataDir, info.st_uid)))
        unlinkat(queue.dirFd, queue.place.file.c_str(), 0);
    int probe = OpenDatagramSocket();
    if (probe < 0) return StatusFromErrno(errno, what);
    int error = ConnectInDirectory(probe, queue.dirFd, queue.place.file);
    close(probe);
    if (error == 0) return Fail(ERR_DUPLICATE_MQ, what);
    if (error == ECONNREFUSED) unlinkat(queue.dirFd, queue.place.file.c_str(), 0);
    else if (error != ENOENT) return SocketFailure(error, what);
    queue.fd = OpenDatagramSocket();
    if (queue.fd < 0) return StatusFromErrno(errno, what);
    int on = 1;
    setsockopt(queue.fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on));
    error = BindInDirectory(queue.fd, queue.dirFd, queue.place.file);
    if (error == EADDRINUSE) return Fail(ERR_DUPLICATE_MQ, what);
    if (error != 0) return StatusFromErrno(error, what);
    const char* file = queue.place.file.c_str();
    fchmodat(queue.dirFd, file, NewFileMode(), 0);
    GiveToServerUser(queue.place.dataDir, queue.dirFd, file);
    fstatat(queue.dirFd, file, &queue.bound, AT_SYMLINK_NOFOLLOW);
    return NOERROR;
}

// Caller holds the mutex.
STATUS CreateLocked(Queues& queues, const QueuePlace& place, const char* name) {
    std::string what = Described(name);
    if (queues.owned.count(place.Key())) return Fail(ERR_DUPLICATE_MQ, what);
    auto queue = std::make_unique<OwnedQueue>();
    queue->place = place;
    STATUS status = OpenQueueDirectory(place, true, what, &queue->dirFd);
    if (status != NOERROR) return status;
    flock(queue->dirFd, LOCK_EX);
    status = BindLocked(*queue, what);
    flock(queue->dirFd, LOCK_UN);
    if (status != NOERROR) {
        CloseDescriptors(*queue);
        return status;
    }
    queues.owned.emplace(place.Key(), std::move(queue));
    return NOERROR;
}

// Ends a queue of this process: its socket file goes, unless another
// process has taken the name over meanwhile.
void EndQueue(OwnedQueue& queue) {
    flock(queue.dirFd, LOCK_EX);
    struct stat info;
    if (fstatat(queue.dirFd, queue.place.file.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        info.st_ino == queue.bound.st_ino && info.st_dev == queue.bound.st_dev)
        unlinkat(queue.dirFd, queue.place.file.c_str(), 0);
    flock(queue.dirFd, LOCK_UN);
    CloseDescriptors(queue);
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

STATUS SendDatagram(const QueuePlace& place, char kind, const char* data, WORD length) {
    std::string datagram(1, kind);
    if (length > 0) datagram.append(data, length);
    int fd = -1;
    STATUS status = ConnectToQueue(place, "queue", &fd);
    if (status != NOERROR) return status;
    ssize_t sent = SendWithRoom(fd, datagram);
    int error = errno;
    close(fd);
    if (sent >= 0) return NOERROR;
    if (error == EAGAIN) return Fail(ERR_MQ_EXCEEDED_QUOTA, "queue is full");
    return SocketFailure(error, "queue");
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

// One datagram from a permitted sender: its length, 0 when none is waiting
// (errno EAGAIN) or -1 on failure.
ssize_t ReceiveDatagram(OwnedQueue& queue) {
    for (;;) {
        iovec data = {queue.datagram.data(), queue.datagram.size()};
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
        if (n > 0 && FromAllowedSender(&header, queue.place.dataDir)) return n;
    }
}

// How long MQGet may wait: -1 forever, else milliseconds.
int64_t WaitBudget(DWORD options, DWORD timeout) {
    if (timeout != 0) return timeout;
    return (options & MQ_WAIT_FOR_MSG) ? -1 : 0;
}

// Waits for a datagram; false when the time ran out or a stop was asked.
bool AwaitDatagram(int fd, std::chrono::steady_clock::time_point deadline, bool forever) {
    for (;;) {
        int wait_ms = -1;
        if (!forever) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return false;
            wait_ms = int(left);
        }
        pollfd waiting = {fd, POLLIN, 0};
        int ready = poll(&waiting, 1, wait_ms);
        if (ready > 0) return true;
        if (ready == 0) return false;
        // A signal: go on waiting unless it asked the task to stop.
        if (errno != EINTR || StopRequested()) return false;
    }
}

STATUS Deliver(OwnedQueue& queue, ssize_t size, char* buffer, WORD buffer_length,
               WORD* length) {
    if (queue.datagram[0] == kQuit) {
        queue.quitting = true;
        return ERR_MQ_QUITTING;
    }
    size_t message = size_t(size) - 1;
    size_t copied = message <= buffer_length ? message : buffer_length;
    if (buffer != nullptr) std::memcpy(buffer, queue.datagram.data() + 1, copied);
    if (length) *length = WORD(copied);
    return message <= buffer_length ? NOERROR : ERR_MQ_BFR_TOO_SMALL;
}

}  // namespace
}  // namespace nrt

extern "C" {

STATUS LNPUBLIC MQCreate(const char* queueName, WORD /*quota*/, DWORD /*options*/) {
    STATUS status = nrt::CheckName(queueName);
    if (status != NOERROR) return status;
    std::unique_lock<std::mutex> lock;
    nrt::Queues& queues = nrt::LockedQueues(&lock);
    return nrt::CreateLocked(queues, nrt::PlaceOf(queueName), queueName);
}

STATUS LNPUBLIC MQOpen(const char* queueName, DWORD options, MQHANDLE* retQueue) {
    if (retQueue == nullptr) return nrt::Fail(ERR_BAD_PARAM, "MQOpen without a handle");
    *retQueue = 0;
    STATUS status = nrt::CheckName(queueName);
    if (status != NOERROR) return status;
    nrt::QueuePlace place = nrt::PlaceOf(queueName);
    std::unique_lock<std::mutex> lock;
    nrt::Queues& queues = nrt::LockedQueues(&lock);
    if (!queues.owned.count(place.Key())) {
        int fd = -1;
        status = nrt::ConnectToQueue(place, nrt::Described(queueName), &fd);
        if (status == NOERROR) close(fd);
        if (ERR(status) == ERR_NO_SUCH_MQ && (options & MQ_OPEN_CREATE))
            status = nrt::CreateLocked(queues, place, queueName);
        if (status != NOERROR) return status;
    }
    auto handle = std::make_unique<nrt::QueueHandle>();
    handle->place = place;
    auto owned = queues.owned.find(place.Key());
    if (owned != queues.owned.end()) {
        handle->owned = owned->second.get();
        handle->owned->opens++;
    }
    *retQueue = queues.handles.Add(std::move(handle));
    return NOERROR;
}

STATUS LNPUBLIC MQClose(MQHANDLE queue, DWORD /*options*/) {
    std::unique_lock<std::mutex> lock;
    nrt::Queues& queues = nrt::LockedQueues(&lock);
    std::unique_ptr<nrt::QueueHandle> handle = queues.handles.Remove(queue);
    if (!handle) return nrt::Fail(ERR_MQ_EMPTY, "MQClose of an unknown queue handle");
    if (handle->owned != nullptr && --handle->owned->opens == 0) {
        nrt::EndQueue(*handle->owned);
        queues.owned.erase(handle->place.Key());
    }
    return NOERROR;
}

STATUS LNPUBLIC MQPut(MQHANDLE queue, WORD /*priority*/, const char* buffer, WORD length,
                      DWORD /*options*/) {
    nrt::QueuePlace place;
    {
        std::unique_lock<std::mutex> lock;
        nrt::Queues& queues = nrt::LockedQueues(&lock);
        nrt::QueueHandle* handle = queues.handles.Get(queue);
        if (handle == nullptr) return nrt::Fail(ERR_INVALID_HANDLE, "MQPut");
        if (handle->owned != nullptr && handle->owned->quitting)
            return nrt::Fail(ERR_MQ_QUITTING, "MQPut");
        place = handle->place;
    }
    if (length > MQ_MAX_MSGSIZE || (buffer == nullptr && length > 0))
        return nrt::Fail(ERR_BAD_PARAM, "MQPut message length");
    return nrt::SendDatagram(place, nrt::kMessage, buffer, length);
}

STATUS LNPUBLIC MQGet(MQHANDLE queue, char* buffer, WORD bufferLength, DWORD options,
                      DWORD timeout, WORD* retMsgLength) {
    if (retMsgLength) *retMsgLength = 0;
    std::unique_lock<std::mutex> lock;
    nrt::Queues& queues = nrt::LockedQueues(&lock);
    nrt::QueueHandle* handle = queues.handles.Get(queue);
    if (handle == nullptr || handle->owned == nullptr)
        return nrt::Fail(ERR_INVALID_HANDLE, "MQGet needs a handle to a queue this process created");
    nrt::OwnedQueue& owned = *handle->owned;
    int64_t budget = nrt::WaitBudget(options, timeout);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budget < 0 ? 0 : budget);
    for (;;) {
        if (owned.quitting) return ERR_MQ_QUITTING;
        ssize_t size = nrt::ReceiveDatagram(owned);
        if (size > 0) return nrt::Deliver(owned, size, buffer, bufferLength, retMsgLength);
        if (size < 0) return nrt::StatusFromErrno(errno, "reading a queue");
        if (budget == 0) return ERR_MQ_EMPTY;
        int fd = owned.fd;
        lock.unlock();
        bool ready = nrt::AwaitDatagram(fd, deadline, budget < 0);
        lock.lock();
        if (!ready) return ERR_MQ_TIMEOUT;
        if (queues.handles.Get(queue) == nullptr) return nrt::Fail(ERR_INVALID_HANDLE, "queue closed");
    }
}

void LNPUBLIC MQPutQuitMsg(MQHANDLE queue) {
    nrt::QueuePlace place;
    {
        std::unique_lock<std::mutex> lock;
        nrt::Queues& queues = nrt::LockedQueues(&lock);
        nrt::QueueHandle* handle = queues.handles.Get(queue);
        if (handle == nullptr) return;
        if (handle->owned != nullptr) {
            handle->owned->quitting = true;
            return;
        }
        place = handle->place;
    }
    nrt::SendDatagram(place, nrt::kQuit, nullptr, 0);
}

BOOL LNPUBLIC MQIsQuitPending(MQHANDLE queue) {
    std::unique_lock<std::mutex> lock;
    nrt::Queues& queues = nrt::LockedQueues(&lock);
    nrt::QueueHandle* handle = queues.handles.Get(queue);
    return handle != nullptr && handle->owned != nullptr && handle->owned->quitting;
}

}  // extern "C"
