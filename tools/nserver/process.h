// process.h - the operating system's side of the console's task processes:
// starting a program in the data directory with its standard output,
// standard error and start-up report on pipes, reading those pipes, asking
// a task to stop, killing it, and learning how it ended. One implementation
// per platform (process_posix.cpp, process_win32.cpp); the task table and
// the console do not know which one they have.
//
// The start-up pipe's write end reaches the task as the number in
// NRT_READY_FD (a descriptor on POSIX, an inherited handle on Windows); the
// runtime writes one byte to it at the task's first AddInIdle. How a stop
// request travels is the platform's (a signal, or the end of a pipe).
#ifndef ZELREP_NSERVER_PROCESS_H
#define ZELREP_NSERVER_PROCESS_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nserver {

// The console's end of a pipe: a descriptor, or a handle's value.
using PipeEnd = intptr_t;
constexpr PipeEnd kNoPipe = -1;

struct ChildPipes {
    PipeEnd out = kNoPipe;
    PipeEnd err = kNoPipe;
    PipeEnd ready = kNoPipe;
};

// Whether path names a program this platform can start.
bool IsProgramFile(const std::string& path);

// Starts path with argv (argv[0] is its name) in dataDir, which it also gets
// as NOTES_DATA_DIR, with standard input empty. The task runs in a process
// group of its own and is asked to stop should the console itself die. False with *error when it could not start.
bool StartChild(const std::string& path, const std::vector<std::string>& argv, const std::string& dataDir,
                pid_t* pid, ChildPipes* pipes, std::string* error);

enum class ReadResult { kData, kEnd, kNothing };
// One read into buffer (*length bytes on kData). With wait, blocks until
// something comes; without, answers kNothing when nothing waits. kEnd at end
// of file and on errors.
ReadResult ReadPipe(PipeEnd pipe, char* buffer, size_t size, bool wait, size_t* length);
// Whether a read would not block: something waits, or the pipe has ended.
bool HasInput(PipeEnd pipe);
void ClosePipe(PipeEnd pipe);

// A child of the console that has ended, and how; false when none has.
bool ReapChild(pid_t* pid, int* status);
// How a child ended: "with status N", or the signal that ended it.
std::string EndDescription(int status);

// Asks the task to stop (its AddInIdle turns true); KillChild ends it now.
void AskChildToStop(pid_t pid);
void KillChild(pid_t pid);

}  // namespace nserver

#endif
