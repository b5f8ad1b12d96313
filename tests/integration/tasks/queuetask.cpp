// queuetask.cpp - test task that serves its console queue "MQ$" + NAME in
// upper case, the way an add-in task does: reads with a 256-byte buffer and
// a 2000 ms time-out, logs what arrives, shows the last message on its
// status line, and ends on AddInIdle or when the queue quits. After the
// quit it reads three more times and logs each answer.
#include <cctype>
#include <cstdio>

#include "addin.h"
#include "mq.h"

namespace {

const WORD kBufferLength = 256;

void ReportReadsAfterQuit(const char* name, MQHANDLE queue) {
    for (int i = 1; i <= 3; ++i) {
        char buffer[kBufferLength + 1];
        WORD length = 0;
        STATUS status = MQGet(queue, buffer, kBufferLength, 0, 100, &length);
        AddInLogMessageText("%s: read %d after quit answered %u", NOERROR, name, i, (unsigned)status);
    }
}

}  // namespace

STATUS LNPUBLIC AddInMain(HMODULE, int argc, char* argv[]) {
    const char* name = argc > 1 ? argv[1] : "queuetask";
    char queueName[80];
    int written = std::snprintf(queueName, sizeof(queueName), "%s%s", TASK_QUEUE_PREFIX, name);
    if (written < 0 || written >= int(sizeof(queueName))) return ERR_MQ_NAME;
    for (char* c = queueName; *c; ++c) *c = char(std::toupper((unsigned char)*c));

    STATUS status = MQCreate(queueName, 0, 0);
    MQHANDLE queue = 0;
    if (status == NOERROR) status = MQOpen(queueName, 0, &queue);
    if (status != NOERROR) {
        AddInLogMessageText("%s: cannot serve queue %s", status, name, queueName);
        return NOERROR;
    }
    AddInSetStatusText("Serving %s", queueName);
    AddInLogMessageText("%s: ready", NOERROR, name);

    bool quitting = false;
    while (!quitting && !AddInIdle()) {
        char buffer[kBufferLength + 1];
        WORD length = 0;
        status = MQGet(queue, buffer, kBufferLength, 0, 2000, &length);
        if (status == NOERROR) {
            buffer[length] = '\0';
            AddInLogMessageText("%s: received %u bytes: %s", NOERROR, name, (unsigned)length, buffer);
            AddInSetStatusText("Last message: %s", buffer);
        } else if (ERR(status) == ERR_MQ_QUITTING) {
            AddInLogMessageText("%s:  Shutting Down", NOERROR, name);
            quitting = true;
        } else if (ERR(status) == ERR_MQ_BFR_TOO_SMALL) {
            AddInLogMessageText("%s:  Buffer too small for message data", NOERROR, name);
        }
    }
    if (quitting) ReportReadsAfterQuit(name, queue);
    MQClose(queue, 0);
    AddInLogMessageText("%s:  Addin Process Exited.", NOERROR, name);
    return NOERROR;
}
