// platform.h - what the runtime asks of the operating system, in one small
// interface with one implementation per platform: posix/ for Linux and the
// other POSIX systems, win32/ for Windows. The rest of the runtime uses
// only these calls and the C library's file descriptors, so it does not
// know which implementation it has.
//
// Calls that answer an int give 0 or an errno value (a Windows error is
// given as the errno value of the same meaning); status.h turns those into
// Notes statuses.
#ifndef NOTESRT_SRC_PLATFORM_H
#define NOTESRT_SRC_PLATFORM_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// The Notes status of global.h, declared here as well so that the Windows
// side can include windows.h, whose DWORD and HANDLE differ from the Notes
// ones, together with this header.
typedef uint16_t STATUS;

namespace nrt {

// ---- Processes

unsigned long ProcessId();
// A number from the system's random source.
uint64_t RandomNumber();

// This process's liveness token ("<pid>-<random hex>"): a name held for the
// process's whole life and released by the system when it ends, even when
// it is killed, so other processes can tell whether it still runs. Unlike a
// pid it is never reused.
std::string ProcessToken();
bool TokenAlive(const std::string& token);

// Calls onStop when the process is asked to stop (SIGTERM or SIGINT; on
// Windows a console's Ctrl-C, Ctrl-Break or close, or the end of the stop
// pipe a server hands the task in NRT_STOP_FD). onStop only sets a flag.
void InstallStopHandlers(void (*onStop)());
// Lets other threads and processes run.
void YieldToOthers();

// The start-up report channel a server hands a task in NRT_READY_FD (a
// descriptor number; on Windows the value of an inherited handle): taken
// from the environment, so that programs the task starts do not inherit
// it. A descriptor to write to, or -1.
int TakeReadyDescriptor();

// Runs prepare in the thread that forks, before the fork, and then parent
// and child on either side of it, so that a lock other threads may hold
// is whole in the child. Nothing on Windows, which does not fork.
void AtFork(void (*prepare)(), void (*parent)(), void (*child)());
// Starts a thread that none of the process's signals interrupt.
std::thread StartQuietThread(std::function<void()> body);
bool StdoutIsPipe();
// False only when out surely holds no unwritten output.
bool MayHoldOutput(FILE* out);

// ---- Calendar: the C library's calls, which differ by platform

void GmTime(std::time_t at, std::tm* out);
std::time_t GmTimeToSeconds(std::tm* fields);
// Local time of at, with the zone's offset east of GMT in seconds.
void LocalTime(std::time_t at, std::tm* out, long* eastSeconds);

// ---- Files

// Opens path with the open() flags given (O_RDONLY, O_WRONLY, O_RDWR,
// O_APPEND, O_EXCL), never inherited by programs the process starts; a
// missing file is created for the server's user only (see NewFileMode in
// posix/files.cpp), whatever the umask (with O_EXCL, only a new file will
// do). A descriptor, or -1 with errno set.
int OpenCreating(const std::string& path, int flags);
// Opens an existing file (flags as above, O_CREAT also allowed); -1 with errno.
int OpenExisting(const std::string& path, int flags);
// Creates path and the directories above it that are missing.
int MakeDirectories(const std::string& path);
bool IsDirectory(const std::string& path);
// The absolute form of an existing directory, or "" when there is none.
std::string AbsoluteDirectory(const std::string& path);
// The location of path (absolute, under directory) with every link
// followed, also for a file or directories not there yet. ERR_BAD_PATH
// when it leads outside directory, the status of the failure when it
// cannot be told. Names compare as the platform's file system compares
// them (without regard to letter case on Windows).
STATUS RealPathInside(const std::string& directory, const std::string& path, std::string* real);

// Advisory locks on a whole file, held per open descriptor: they keep
// other lockers out, never readers or writers. False when the lock is
// taken elsewhere (without wait) or cannot be had.
enum class FileLock { kShared, kExclusive };
bool LockFile(int fd, FileLock lock, bool wait);
void UnlockFile(int fd);

int WriteAt(int fd, const char* data, size_t size, int64_t offset);
int TruncateFile(int fd, int64_t size);
int TruncatePath(const std::string& path, int64_t size);
// Writes what the file (or directory: its names) holds through to the disk.
int FlushToDisk(const std::string& path);
int FlushDescriptor(int fd);
// Gives the file existing the name newName (on POSIX a second name; on
// Windows existing is renamed); EEXIST when newName is taken. Until then
// nobody sees newName, after it the file is complete.
int LinkNewName(const std::string& existing, const std::string& newName);
int RemoveFile(const std::string& path);

// An error of the system as SQLite reports it (sqlite3_system_errno), as
// the errno value of the same meaning; errno values of this platform that
// others lack become the common one of the same meaning.
int CommonErrno(int systemError);
int CommonErrnoOfSqlite(int systemError);

// ---- Files of the processes of a data directory
//
// The runtime's private directory DATA/.notesrt holds a directory per part
// ("status", "stats") with the files through which processes show their
// state to each other. Only the server's user (the owner of the data
// directory) may reach them.

// Opens part's file name for reading, or for writing (created, with the
// directories, when missing). ERR_NOEXIST when it (or part) is missing.
STATUS OpenPrivateFile(const std::string& dataDir, const char* part, const std::string& name, bool forWriting,
                       int* fd);
void RemovePrivateFile(const std::string& dataDir, const char* part, const std::string& name);
// The names of part's files, in no particular order.
std::vector<std::string> PrivateFileNames(const std::string& dataDir, const char* part);

// ---- Local queues
//
// A local queue carries datagrams of up to MQ_MAX_MSGSIZE + 1 bytes, in
// the order sent, from any process of the server's user to the one process
// that created it, among the processes of one data directory. Its name
// (letters and digits) is held while its creator lives and is free again
// once it ends, even when it was killed.
struct QueueEndpoint;  // the creator's end

// ERR_DUPLICATE_MQ when a live process holds the name.
STATUS BindQueue(const std::string& dataDir, const std::string& name, const std::string& what,
                 std::shared_ptr<QueueEndpoint>* endpoint);
// Closes the creator's end; with release, the name is freed (a forked
// child closes its parent's ends without freeing them).
void CloseQueue(QueueEndpoint& endpoint, bool release);
// ERR_NO_SUCH_MQ when no live process holds the name.
STATUS ProbeQueue(const std::string& dataDir, const std::string& name, const std::string& what);
// Waits a moment for room in a full queue, then answers ERR_MQ_EXCEEDED_QUOTA.
STATUS SendToQueue(const std::string& dataDir, const std::string& name, const std::string& datagram);
// One datagram of a permitted sender into buffer (sized for the largest):
// its length, 0 when none is waiting, -1 with errno on failure.
long ReceiveFromQueue(QueueEndpoint& endpoint, std::vector<char>* buffer);
// Waits for a datagram; false when the time ran out or a stop was asked.
bool AwaitQueue(QueueEndpoint& endpoint, std::chrono::steady_clock::time_point deadline, bool forever);

}  // namespace nrt

#endif
