// pipes.cpp - local queues as message-mode named pipes (winsys.h).
//
// A queue's pipe is \\.\pipe\zelrep-<data directory>-<name>, the data
// directory given by a hash of its full name without regard to case. Its
// creator holds a mutex of the same name, made anew only when no live
// process holds it (wine lets FILE_FLAG_FIRST_PIPE_INSTANCE make a second
// first instance, so the pipe alone cannot tell), and makes the first
// instance of the pipe. Windows removes both with their last handles, so a
// killed creator leaves nothing behind. A thread of the
// creator takes the senders one at a time: each connects, writes one
// message and waits for the thread's acknowledgement, given once MQGet can
// read the message, then closes. The thread makes the next instance before
// it lets go of the last one, so the name stays held. Messages are kept in
// order for MQGet; when it has kMaxWaiting unread, the thread makes no
// instance until it has room, and senders wait for a moment and answer
// that the queue is full.
// The pipes' default security lets only the creator's user (and the
// administrators) write.
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "winsys.h"

namespace nrt {

struct QueueEndpoint {
    std::string pipeName;
    HANDLE holder = nullptr;                  // the mutex that holds the name
    HANDLE listening = INVALID_HANDLE_VALUE;  // the instance the next sender reaches
    HANDLE stop = nullptr;                    // set when the queue closes
    std::thread taker;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> datagrams;
    bool closing = false;

    ~QueueEndpoint() { CloseQueue(*this, true); }
};

namespace {

constexpr size_t kMaxWaiting = 64;
constexpr DWORD kPipeBuffer = 65536;
// How long a sender waits for the creator to take it.
constexpr DWORD kSenderPatienceMs = 1000;

int LastErrno() { return ErrnoOfWindowsError(GetLastError()); }

// The name of the mutex that holds the pipe's name.
std::string HolderName(const std::string& pipeName) { return pipeName.substr(pipeName.rfind('\\') + 1); }

HANDLE NewInstance(const std::string& pipeName, bool first) {
    DWORD open = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    return CreateNamedPipeA(pipeName.c_str(), open, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, 1, kPipeBuffer, 0, nullptr);
}

// Waits for an overlapped operation begun on pipe; false when it failed or
// the queue closes meanwhile. ERROR_MORE_DATA counts as done, with the
// error left for the caller.
bool Finish(HANDLE pipe, OVERLAPPED* operation, HANDLE stop, DWORD* bytes) {
    HANDLE events[2] = {operation->hEvent, stop};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, operation, bytes, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, operation, bytes, FALSE) || GetLastError() == ERROR_MORE_DATA;
}

// Waits until a sender has connected to the listening instance.
bool Accept(QueueEndpoint& queue, HANDLE event) {
    OVERLAPPED operation = {};
    operation.hEvent = event;
    if (ConnectNamedPipe(queue.listening, &operation)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) return true;
    DWORD unused = 0;
    return error == ERROR_IO_PENDING && Finish(queue.listening, &operation, queue.stop, &unused);
}

// One whole message of the connected instance pipe.
bool ReadMessage(HANDLE pipe, HANDLE event, HANDLE stop, std::string* message) {
    char chunk[4096];
    for (;;) {
        OVERLAPPED operation = {};
        operation.hEvent = event;
        DWORD got = 0;
        BOOL done = ReadFile(pipe, chunk, sizeof(chunk), nullptr, &operation);
        DWORD error = done ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_IO_PENDING && !Finish(pipe, &operation, stop, &got)) return false;
        if (error == ERROR_IO_PENDING || error == ERROR_SUCCESS || error == ERROR_MORE_DATA)
            error = GetOverlappedResult(pipe, &operation, &got, FALSE) ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) return false;
        message->append(chunk, got);
        if (error == ERROR_SUCCESS) return true;
    }
}

// Tells the sender on pipe that its message can be read, and waits a
// moment for it to go: letting go of the instance before would take the
// acknowledgement back.
void Acknowledge(HANDLE pipe, HANDLE event, HANDLE stop) {
    OVERLAPPED operation = {};
    operation.hEvent = event;
    DWORD bytes = 0;
    if (!WriteFile(pipe, "A", 1, nullptr, &operation) && GetLastError() == ERROR_IO_PENDING)
        Finish(pipe, &operation, stop, &bytes);
    char unused;
    operation = {};
    operation.hEvent = event;
    if (ReadFile(pipe, &unused, 1, nullptr, &operation) || GetLastError() != ERROR_IO_PENDING) return;
    HANDLE events[2] = {event, stop};
    if (WaitForMultipleObjects(2, events, FALSE, kSenderPatienceMs) != WAIT_OBJECT_0) CancelIo(pipe);
    GetOverlappedResult(pipe, &operation, &bytes, TRUE);
}

// Waits until MQGet has room for another message; false once the queue closes.
bool AwaitRoom(QueueEndpoint& queue) {
    std::unique_lock<std::mutex> lock(queue.mutex);
    queue.changed.wait(lock, [&] { return queue.closing || queue.datagrams.size() < kMaxWaiting; });
    return !queue.closing;
}

void TakeSenders(QueueEndpoint& queue) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    while (Accept(queue, event)) {
        HANDLE connected = queue.listening;
        std::string message;
        if (ReadMessage(connected, event, queue.stop, &message) && !message.empty()) {
            std::lock_guard<std::mutex> lock(queue.mutex);
            queue.datagrams.push_back(std::move(message));
            queue.changed.notify_all();
        }
        Acknowledge(connected, event, queue.stop);
        bool room = AwaitRoom(queue);
        queue.listening = room ? NewInstance(queue.pipeName, false) : INVALID_HANDLE_VALUE;
        DisconnectNamedPipe(connected);
        CloseHandle(connected);
        if (queue.listening == INVALID_HANDLE_VALUE) break;
    }
    CloseHandle(event);
}

// The sender's end of the pipe; waits a moment when every instance is busy.
HANDLE ConnectAsSender(const std::string& pipeName, int* error) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE pipe = CreateFileA(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        if (pipe != INVALID_HANDLE_VALUE) return pipe;
        *error = LastErrno();
        if (GetLastError() != ERROR_PIPE_BUSY || attempt > 0) break;
        WaitNamedPipeA(pipeName.c_str(), kSenderPatienceMs);
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

std::string QueuePipeName(const std::string& dataDir, const std::string& name) {
    uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (char c : dataDir) {
        hash ^= (unsigned char)(c == '\\' ? '/' : std::tolower((unsigned char)c));
        hash *= 0x100000001b3ull;
    }
    char prefix[48];
    std::snprintf(prefix, sizeof(prefix), "\\\\.\\pipe\\zelrep-%016llx-", (unsigned long long)hash);
    return prefix + name;
}

int CreateQueuePipe(const std::string& pipeName, std::shared_ptr<QueueEndpoint>* endpoint) {
    auto queue = std::make_shared<QueueEndpoint>();
    queue->pipeName = pipeName;
    queue->holder = CreateMutexA(nullptr, FALSE, HolderName(pipeName).c_str());
    if (queue->holder == nullptr) return LastErrno();
    if (GetLastError() == ERROR_ALREADY_EXISTS) return EADDRINUSE;
    queue->listening = NewInstance(pipeName, true);
    if (queue->listening == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_PIPE_BUSY ? EADDRINUSE : LastErrno();
    queue->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    try {
        queue->taker = std::thread(TakeSenders, std::ref(*queue));
    } catch (...) {
        return ENOMEM;
    }
    *endpoint = std::move(queue);
    return 0;
}

// The pipe goes with its last instance; a forked child is no matter here.
void CloseQueue(QueueEndpoint& queue, bool) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.closing = true;
        queue.changed.notify_all();
    }
    if (queue.stop != nullptr) SetEvent(queue.stop);
    if (queue.taker.joinable()) queue.taker.join();
    if (queue.listening != INVALID_HANDLE_VALUE) CloseHandle(queue.listening);
    if (queue.stop != nullptr) CloseHandle(queue.stop);
    if (queue.holder != nullptr) CloseHandle(queue.holder);
    queue.listening = INVALID_HANDLE_VALUE;
    queue.stop = queue.holder = nullptr;
}

int QueuePipeHeld(const std::string& pipeName) {
    HANDLE holder = OpenMutexA(SYNCHRONIZE, FALSE, HolderName(pipeName).c_str());
    if (holder == nullptr) return ENOENT;
    CloseHandle(holder);
    return 0;
}

int WriteToQueuePipe(const std::string& pipeName, const std::string& datagram) {
    int error = 0;
    HANDLE pipe = ConnectAsSender(pipeName, &error);
    if (pipe == INVALID_HANDLE_VALUE) return error;
    DWORD written = 0;
    bool sent = WriteFile(pipe, datagram.data(), DWORD(datagram.size()), &written, nullptr) &&
                written == datagram.size();
    error = sent ? 0 : LastErrno();
    char acknowledgement = 0;
    DWORD got = 0;
    if (sent && !ReadFile(pipe, &acknowledgement, 1, &got, nullptr)) error = ENOENT;  // the creator ended
    CloseHandle(pipe);
    return error;
}

long ReceiveFromQueue(QueueEndpoint& queue, std::vector<char>* buffer) {
    std::lock_guard<std::mutex> lock(queue.mutex);
    if (queue.datagrams.empty()) return 0;
    std::string datagram = std::move(queue.datagrams.front());
    queue.datagrams.pop_front();
    queue.changed.notify_all();
    size_t size = datagram.size() < buffer->size() ? datagram.size() : buffer->size();
    std::memcpy(buffer->data(), datagram.data(), size);
    return long(size);
}

bool WaitForDatagram(QueueEndpoint& queue, int milliseconds) {
    std::unique_lock<std::mutex> lock(queue.mutex);
    return queue.changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [&] { return !queue.datagrams.empty(); });
}

}  // namespace nrt
