// tell.h - delivering a console command to a running task's queue, shared
// by the console's "tell" and the one-shot "nserver tell".
#ifndef ZELREP_NSERVER_TELL_H
#define ZELREP_NSERVER_TELL_H

#include <cstddef>
#include <string>

namespace nserver {

// The longest command text a task reads whole (zelrep's queue reads take
// 256 bytes, to which it adds the closing NUL).
constexpr size_t kMaxTellText = 256;

// "MQ$" followed by the task name in upper case.
std::string TaskQueueName(const std::string& task);

// Puts command on the task's queue; a command "quit" (any case) makes the
// queue quit instead. False with a clear *error when it could not be
// delivered (no such task, not allowed, name or text too long, queue
// full).
bool DeliverTell(const std::string& task, const std::string& command, std::string* error);

}  // namespace nserver

#endif
