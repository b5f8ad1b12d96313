// localqueue.cpp - the Windows side of the local queues of platform.h, as
// Notes statuses; the pipes themselves are in pipes.cpp.
#include <cerrno>

#include "addinrt.h"
#include "mq.h"
#include "status.h"
#include "winsys.h"

namespace nrt {
namespace {

// How often a wait for a datagram looks whether a stop was asked.
constexpr int kStopCheckMs = 50;

STATUS QueueStatus(int error, const std::string& what) {
    switch (error) {
        case 0: return NOERROR;
        case EADDRINUSE: return Fail(ERR_DUPLICATE_MQ, what);
        case ENOENT: return Fail(ERR_NO_SUCH_MQ, what + " has ended");
        case EACCES: return Fail(ERR_MQ_OTHER_USER, what);
        case EAGAIN: return Fail(ERR_MQ_EXCEEDED_QUOTA, "queue is full");
        default: return StatusFromErrno(error, what);
    }
}

}  // namespace

STATUS BindQueue(const std::string& dataDir, const std::string& name, const std::string& what,
                 std::shared_ptr<QueueEndpoint>* endpoint) {
    return QueueStatus(CreateQueuePipe(QueuePipeName(dataDir, name), endpoint), what);
}

STATUS ProbeQueue(const std::string& dataDir, const std::string& name, const std::string& what) {
    return QueueStatus(QueuePipeHeld(QueuePipeName(dataDir, name)), what);
}

STATUS SendToQueue(const std::string& dataDir, const std::string& name, const std::string& datagram) {
    return QueueStatus(WriteToQueuePipe(QueuePipeName(dataDir, name), datagram), "queue");
}

bool AwaitQueue(QueueEndpoint& endpoint, std::chrono::steady_clock::time_point deadline, bool forever) {
    for (;;) {
        if (StopRequested()) return false;
        int wait = kStopCheckMs;
        if (!forever) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return false;
            if (left < wait) wait = int(left);
        }
        if (WaitForDatagram(endpoint, wait)) return true;
    }
}

}  // namespace nrt
