// tasks.cpp - task processes of the console (started through process.h).
// Output is relayed one whole line at a time; a line longer than 64 KiB is
// passed on in pieces. Each task gets the write end of a start-up pipe: the
// runtime writes one byte to it when the task first asks AddInIdle, and the
// pipe closes without it when the task ends before.
#include "tasks.h"

#include <strings.h>

#include <cctype>

#include "process.h"

namespace nserver {
namespace {
constexpr size_t kMaxRelayedLine = 65536;
}  // namespace

TaskTable::TaskTable(LineHandler onLine, ReadyHandler onReady, EndHandler onEnd)
    : onLine_(std::move(onLine)), onReady_(std::move(onReady)), onEnd_(std::move(onEnd)) {}

TaskTable::~TaskTable() {
    for (auto& entry : tasks_) {
        for (Stream* stream : {&entry.second.out, &entry.second.err})
            if (stream->fd != kNoPipe) ClosePipe(stream->fd);
        if (entry.second.readyFd != kNoPipe) ClosePipe(entry.second.readyFd);
    }
}

bool TaskTable::Start(const std::string& path, const std::string& name,
                      const std::vector<std::string>& args, const std::string& dataDir, pid_t* pid,
                      std::string* error) {
    std::vector<std::string> argv = {name};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t child = 0;
    ChildPipes pipes;
    if (!StartChild(path, argv, dataDir, &child, &pipes, error)) return false;
    Task& task = tasks_[child];
    task.name = name;
    task.args = args;
    task.out.fd = pipes.out;
    task.err.fd = pipes.err;
    task.readyFd = pipes.ready;
    *pid = child;
    return true;
}

std::vector<PipeEnd> TaskTable::Pipes() const {
    std::vector<PipeEnd> pipes;
    for (const auto& entry : tasks_)
        for (PipeEnd pipe : {entry.second.out.fd, entry.second.err.fd, entry.second.readyFd})
            if (pipe != kNoPipe) pipes.push_back(pipe);
    return pipes;
}

void TaskTable::ReadFrom(PipeEnd pipe) {
    for (auto& entry : tasks_) {
        Task& task = entry.second;
        if (task.out.fd == pipe) ReadStream(task.name, entry.first, false, &task.out, false);
        if (task.err.fd == pipe) ReadStream(task.name, entry.first, true, &task.err, false);
        if (task.readyFd == pipe) ReadStartUp(entry.first, &task);
    }
}

// The start-up report: a byte when the task started, else end of file.
void TaskTable::ReadStartUp(pid_t pid, Task* task) {
    char byte = 0;
    size_t length = 0;
    ReadResult read = ReadPipe(task->readyFd, &byte, 1, true, &length);
    ClosePipe(task->readyFd);
    task->readyFd = kNoPipe;
    if (read != ReadResult::kData) return;
    task->started = true;
    onReady_(task->name, pid);
}

// One read, or with drain every byte already written (the task ended).
void TaskTable::ReadStream(const std::string& task, pid_t pid, bool isError, Stream* stream, bool drain) {
    for (;;) {
        char buffer[8192];
        size_t n = 0;
        ReadResult read = ReadPipe(stream->fd, buffer, sizeof(buffer), !drain, &n);
        if (read == ReadResult::kData) {
            stream->partial.append(buffer, n);
            size_t newline;
            while ((newline = stream->partial.find('\n')) != std::string::npos ||
                   stream->partial.size() >= kMaxRelayedLine) {
                size_t cut = newline != std::string::npos ? newline : kMaxRelayedLine;
                std::string line = stream->partial.substr(0, cut);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                stream->partial.erase(0, newline != std::string::npos ? cut + 1 : cut);
                onLine_(task, pid, isError, line);
            }
            if (drain) continue;
            return;
        }
        if (read == ReadResult::kNothing && !drain) return;
        // End of file (or nothing more while draining): the stream is done.
        if (!stream->partial.empty()) onLine_(task, pid, isError, stream->partial);
        stream->partial.clear();
        ClosePipe(stream->fd);
        stream->fd = kNoPipe;
        return;
    }
}

void TaskTable::ReapEnded() {
    pid_t pid = 0;
    int status = 0;
    while (ReapChild(&pid, &status)) Finish(pid, status);
}

void TaskTable::Finish(pid_t pid, int status) {
    auto found = tasks_.find(pid);
    if (found == tasks_.end()) return;
    Task& task = found->second;
    for (bool isError : {false, true}) {
        Stream* stream = isError ? &task.err : &task.out;
        if (stream->fd != kNoPipe) ReadStream(task.name, pid, isError, stream, true);
    }
    if (task.readyFd != kNoPipe) ReadStartUp(pid, &task);  // a report written just before the end
    std::string name = task.name;
    bool started = task.started;
    tasks_.erase(found);
    onEnd_(name, pid, status, started);
}

void TaskTable::AskAllToStop() {
    for (const auto& entry : tasks_) AskChildToStop(entry.first);
}

void TaskTable::KillAll() {
    for (const auto& entry : tasks_) KillChild(entry.first);
}

std::vector<pid_t> TaskTable::Matching(const std::string& word) const {
    std::vector<pid_t> found;
    for (const auto& entry : tasks_) {
        bool match = strcasecmp(entry.second.name.c_str(), word.c_str()) == 0;
        for (const std::string& arg : entry.second.args)
            match = match || strcasecmp(arg.c_str(), word.c_str()) == 0;
        if (match) found.push_back(entry.first);
    }
    return found;
}

std::vector<std::string> TaskTable::TellNames() const {
    std::vector<std::string> names;
    for (const auto& entry : tasks_) {
        for (const std::string& arg : entry.second.args) {
            if (arg.empty() || arg[0] == '-' || arg.find_first_of("=./") != std::string::npos) continue;
            std::string name;
            for (char c : arg) name += char(std::toupper((unsigned char)c));
            names.push_back(name);
        }
    }
    return names;
}

std::vector<std::string> TaskTable::Running() const {
    std::vector<std::string> names;
    for (const auto& entry : tasks_)
        names.push_back(entry.second.name + " (process " + std::to_string(entry.first) + ")");
    return names;
}

}  // namespace nserver
