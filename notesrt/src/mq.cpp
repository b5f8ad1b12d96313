// mq.cpp - message queues between the processes of one data directory.
//
// A queue travels as a local queue of the platform (platform.h), named
// after the queue and held by the process that created it (the owner, the
// only reader). Every datagram starts with one kind byte: a message or the
// quit request. Messages arrive in the order sent; priorities are not used.
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
#include "mq.h"
#include "platform.h"
#include "status.h"

namespace nrt {
namespace {

constexpr char kMessage = 'M';
constexpr char kQuit = 'Q';
constexpr size_t kMaxQueueName = 64;

// Where a queue lives: its data directory and the name of its local queue.
struct QueuePlace {
    std::string dataDir;
    std::string file;
    std::string Key() const { return dataDir + "/" + file; }
};

// A queue created by this process.
struct OwnedQueue {
    QueuePlace place;
    std::shared_ptr<QueueEndpoint> endpoint;
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
    unsigned long pid = ProcessId();  // a forked child does not own its parent's queues
    std::map<std::string, std::unique_ptr<OwnedQueue>> owned;  // by place
    HandleTable<QueueHandle> handles;
};

// The registry, locked; a forked child first forgets the queues of its
// parent (their names stay bound by the parent).
Queues& LockedQueues(std::unique_lock<std::mutex>* lock) {
    static Queues queues;
    *lock = std::unique_lock<std::mutex>(queues.mutex);
    if (queues.pid != ProcessId()) {
        for (auto& entry : queues.owned) CloseQueue(*entry.second->endpoint, false);
        queues.owned.clear();
        std::vector<uint32_t> inherited;
        queues.handles.ForEach([&](uint32_t handle, const QueueHandle&) { inherited.push_back(handle); });
        for (uint32_t handle : inherited) queues.handles.Remove(handle);
        queues.pid = ProcessId();
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

// Caller holds the mutex.
STATUS CreateLocked(Queues& queues, const QueuePlace& place, const char* name) {
    std::string what = Described(name);
    if (queues.owned.count(place.Key())) return Fail(ERR_DUPLICATE_MQ, what);
    auto queue = std::make_unique<OwnedQueue>();
    queue->place = place;
    STATUS status = BindQueue(place.dataDir, place.file, what, &queue->endpoint);
    if (status != NOERROR) return status;
    queues.owned.emplace(place.Key(), std::move(queue));
    return NOERROR;
}

STATUS SendDatagram(const QueuePlace& place, char kind, const char* data, WORD length) {
    std::string datagram(1, kind);
    if (length > 0) datagram.append(data, length);
    return SendToQueue(place.dataDir, place.file, datagram);
}

// How long MQGet may wait: -1 forever, else milliseconds.
int64_t WaitBudget(DWORD options, DWORD timeout) {
    if (timeout != 0) return timeout;
    return (options & MQ_WAIT_FOR_MSG) ? -1 : 0;
}

STATUS Deliver(OwnedQueue& queue, long size, char* buffer, WORD buffer_length,
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
        status = nrt::ProbeQueue(place.dataDir, place.file, nrt::Described(queueName));
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
        nrt::CloseQueue(*handle->owned->endpoint, true);
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
        long size = nrt::ReceiveFromQueue(*owned.endpoint, &owned.datagram);
        if (size > 0) return nrt::Deliver(owned, size, buffer, bufferLength, retMsgLength);
        if (size < 0) return nrt::StatusFromErrno(errno, "reading a queue");
        if (budget == 0) return ERR_MQ_EMPTY;
        std::shared_ptr<nrt::QueueEndpoint> endpoint = owned.endpoint;
        lock.unlock();
        bool ready = nrt::AwaitQueue(*endpoint, deadline, budget < 0);
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
