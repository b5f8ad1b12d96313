// mq.cpp - message queues between the processes of one data directory.
//
// A queue is an abstract Unix datagram socket named after the data
// directory and the queue name, bound by the process that created it (the
// owner, the only reader). Because the kernel frees the name when the owner
// ends, a name held by a live process answers ERR_DUPLICATE_MQ and a name
// left by a process that died can be created again. Every datagram starts
// with one kind byte: a message or the quit request. The reader checks the
// sender's credentials and drops datagrams of other users (root excepted).
// Messages arrive in the order sent; priorities are not used.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "addinrt.h"
#include "handles.h"
#include "localsock.h"
#include "mq.h"
#include "status.h"

namespace nrt {
namespace {

constexpr char kMessage = 'M';
constexpr char kQuit = 'Q';
// The queue name part of the socket name leaves room for the scope.
constexpr size_t kMaxQueueName = 64;
// How long a put waits for room in a full queue before it gives up.
constexpr int kFullQueueWaitMs = 1000;

// A queue created by this process.
struct OwnedQueue {
    int fd = -1;
    bool quitting = false;
    int opens = 0;
    std::vector<char> datagram = std::vector<char>(MQ_MAX_MSGSIZE + 1);
};

struct QueueHandle {
    std::string scoped_name;
    OwnedQueue* owned = nullptr;  // null for a handle to another process's queue
};

struct Queues {
    std::mutex mutex;
    pid_t pid = getpid();  // a forked child does not own its parent's queues
    std::map<std::string, std::unique_ptr<OwnedQueue>> owned;  // by scoped name
    HandleTable<QueueHandle> handles;
};

// The registry, locked; a forked child first forgets the queues of its
// parent (their names stay bound by the parent).
Queues& LockedQueues(std::unique_lock<std::mutex>* lock) {
    static Queues queues;
    *lock = std::unique_lock<std::mutex>(queues.mutex);
    if (queues.pid != getpid()) {
        for (auto& entry : queues.owned) close(entry.second->fd);
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

std::string ScopedQueueName(const char* name) { return DataScopedName("mq", name); }

// Caller holds the mutex.
STATUS CreateLocked(Queues& queues, const std::string& scoped, const char* name) {
    if (queues.owned.count(scoped)) return Fail(ERR_DUPLICATE_MQ, std::string("queue ") + name);
    auto queue = std::make_unique<OwnedQueue>();
    queue->fd = OpenDatagramSocket();
    if (queue->fd < 0) return StatusFromErrno(errno, "queue socket");
    int on = 1;
    setsockopt(queue->fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on));
    int err = BindAbstract(queue->fd, scoped);
    if (err != 0) {
        close(queue->fd);
        if (err == EADDRINUSE) return Fail(ERR_DUPLICATE_MQ, std::string("queue ") + name);
        return StatusFromErrno(err, std::string("queue ") + name);
    }
    queues.owned.emplace(scoped, std::move(queue));
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

STATUS SendDatagram(const std::string& scoped, char kind, const char* data, WORD length) {
    sockaddr_un address;
    socklen_t address_length;
    if (!AbstractAddress(scoped, &address, &address_length)) return Fail(ERR_MQ_NAME, scoped);
    std::string datagram(1, kind);
    if (length > 0) datagram.append(data, length);
    int fd = OpenDatagramSocket();
    if (fd < 0) return StatusFromErrno(errno, "queue socket");
    ssize_t sent = -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), address_length) == 0)
        sent = SendWithRoom(fd, datagram);
    int err = errno;
    close(fd);
    if (sent >= 0) return NOERROR;
    if (err == ECONNREFUSED || err == ENOENT) return Fail(ERR_NO_SUCH_MQ, "queue has ended");
    if (err == EAGAIN) return Fail(ERR_MQ_EXCEEDED_QUOTA, "queue is full");
    return StatusFromErrno(err, "sending to a queue");
}

bool FromAllowedSender(msghdr* header) {
    for (cmsghdr* c = CMSG_FIRSTHDR(header); c != nullptr; c = CMSG_NXTHDR(header, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_CREDENTIALS) continue;
        ucred credentials;
        std::memcpy(&credentials, CMSG_DATA(c), sizeof(credentials));
        return credentials.uid == geteuid() || credentials.uid == 0;
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
        if (n > 0 && FromAllowedSender(&header)) return n;
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
    return nrt::CreateLocked(queues, nrt::ScopedQueueName(queueName), queueName);
}

STATUS LNPUBLIC MQOpen(const char* queueName, DWORD options, MQHANDLE* retQueue) {
    if (retQueue == nullptr) return nrt::Fail(ERR_BAD_PARAM, "MQOpen without a handle");
    *retQueue = 0;
    STATUS status = nrt::CheckName(queueName);
    if (status != NOERROR) return status;
    std::string scoped = nrt::ScopedQueueName(queueName);
    std::unique_lock<std::mutex> lock;
    nrt::Queues& queues = nrt::LockedQueues(&lock);
    bool exists = queues.owned.count(scoped) || nrt::AbstractNameBound(scoped);
    if (!exists && !(options & MQ_OPEN_CREATE))
        return nrt::Fail(ERR_NO_SUCH_MQ, std::string("queue ") + queueName);
    if (!exists && (status = nrt::CreateLocked(queues, scoped, queueName)) != NOERROR) return status;
    auto handle = std::make_unique<nrt::QueueHandle>();
    handle->scoped_name = scoped;
    auto owned = queues.owned.find(scoped);
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
        close(handle->owned->fd);
        queues.owned.erase(handle->scoped_name);
    }
    return NOERROR;
}

STATUS LNPUBLIC MQPut(MQHANDLE queue, WORD /*priority*/, const char* buffer, WORD length,
                      DWORD /*options*/) {
    std::string scoped;
    {
        std::unique_lock<std::mutex> lock;
        nrt::Queues& queues = nrt::LockedQueues(&lock);
        nrt::QueueHandle* handle = queues.handles.Get(queue);
        if (handle == nullptr) return nrt::Fail(ERR_INVALID_HANDLE, "MQPut");
        if (handle->owned != nullptr && handle->owned->quitting)
            return nrt::Fail(ERR_MQ_QUITTING, "MQPut");
        scoped = handle->scoped_name;
    }
    if (length > MQ_MAX_MSGSIZE || (buffer == nullptr && length > 0))
        return nrt::Fail(ERR_BAD_PARAM, "MQPut message length");
    return nrt::SendDatagram(scoped, nrt::kMessage, buffer, length);
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
    std::string scoped;
    {
        std::unique_lock<std::mutex> lock;
        nrt::Queues& queues = nrt::LockedQueues(&lock);
        nrt::QueueHandle* handle = queues.handles.Get(queue);
        if (handle == nullptr) return;
        if (handle->owned != nullptr) {
            handle->owned->quitting = true;
            return;
        }
        scoped = handle->scoped_name;
    }
    nrt::SendDatagram(scoped, nrt::kQuit, nullptr, 0);
}

BOOL LNPUBLIC MQIsQuitPending(MQHANDLE queue) {
    std::unique_lock<std::mutex> lock;
    nrt::Queues& queues = nrt::LockedQueues(&lock);
    nrt::QueueHandle* handle = queues.handles.Get(queue);
    return handle != nullptr && handle->owned != nullptr && handle->owned->quitting;
}

}  // extern "C"
