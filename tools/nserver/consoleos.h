// consoleos.h - the operating system's side of the console itself (that of
// its tasks' processes is process.h): requests to stop it, waiting until
// one of its inputs is ready, its standard input and output, and where its
// program lives. One implementation per platform (consoleos_posix.cpp,
// consoleos_win32.cpp); the console does not know which one it has.
#ifndef ZELREP_NSERVER_CONSOLEOS_H
#define ZELREP_NSERVER_CONSOLEOS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nserver {

// What the console waits on: its stop requests, standard input and output,
// a task's pipe (a PipeEnd) or a caller's connection (a descriptor).
enum class Source { kStopRequests, kInput, kOutput, kTaskPipe, kCaller };
constexpr short kReadable = 1, kWritable = 2, kEnded = 4;

struct Watch {
    Source source;
    intptr_t handle;  // the pipe end or connection; unused for the others
    short wanted;     // kReadable and/or kWritable
    short ready;      // set by Wait: kReadable, kWritable, kEnded
};

// From here on, the requests to stop the console (and, at a terminal, to
// clear the line) arrive as Source::kStopRequests. A service has no
// terminal to lose.
void InstallStopRequests(bool service);
// What came since the last call, one letter a request: 'q' stop the
// console, 'i' an interrupt (Ctrl-C), 'c' a task ended.
std::string TakeStopRequests();

// Waits until a watch is ready or timeoutMs has passed (-1: no limit). It
// may also return early with nothing ready: the console looks at its tasks
// after every wait.
void Wait(std::vector<Watch>* watches, int timeoutMs);

// Whether standard input is a terminal the console edits lines on.
bool InputIsTerminal();
// One read of standard input: the bytes read, 0 at its end, -1 when
// nothing is there yet.
long ReadInput(char* buffer, size_t size);

// The largest write to standard output that cannot block (0: any size).
size_t OutputChunk();
// One write to standard output: the bytes written, 0 when it takes nothing
// now, -1 when it is gone for good (a closed terminal, a reader that ended).
long WriteOutput(const char* data, size_t size);

// The directory the running program is in.
std::string ProgramDirectory();

}  // namespace nserver

#endif
