// tell.cpp - "tell TASK COMMAND": the command text goes to the task's
// queue as it was typed; "tell TASK quit" makes the queue quit, which the
// task reads as the server closing it. A text the task could not read
// whole is not sent.
#include "tell.h"

#include <strings.h>

#include <cctype>

#include "mq.h"
#include "osmisc.h"

namespace nserver {
namespace {

std::string ErrorText(STATUS status) {
    char text[256];
    OSLoadString(NULLHANDLE, ERR(status), text, sizeof(text) - 1);
    return text;
}

}  // namespace

std::string TaskQueueName(const std::string& task) {
    std::string name = TASK_QUEUE_PREFIX;
    for (char c : task) name += char(std::toupper((unsigned char)c));
    return name;
}

bool DeliverTell(const std::string& task, const std::string& command, std::string* error) {
    std::string queueName = TaskQueueName(task);
    MQHANDLE queue = 0;
    STATUS status = MQOpen(queueName.c_str(), 0, &queue);
    if (ERR(status) == ERR_NO_SUCH_MQ) {
        *error = "Task " + task + " is not running (no message queue " + queueName + ").";
        return false;
    }
    if (command.size() > kMaxTellText) {
        *error = "Command too long for " + task + " (" + std::to_string(command.size()) +
                 " bytes; a task reads at most " + std::to_string(kMaxTellText) + "); not sent.";
        if (status == NOERROR) MQClose(queue, 0);
        return false;
    }
    if (status == NOERROR) {
        if (strcasecmp(command.c_str(), "quit") == 0)
            MQPutQuitMsg(queue);
        else
            status = MQPut(queue, MQ_LOWPRIORITY, command.data(), WORD(command.size()), 0);
        MQClose(queue, 0);
    }
    if (status != NOERROR) *error = "Cannot tell " + task + " (" + queueName + "): " + ErrorText(status) + ".";
    return status == NOERROR;
}

}  // namespace nserver
