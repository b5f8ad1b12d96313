// osfiles.h - what the runtime asks of the operating system about the files
// of a data directory: the modes of the files and directories it creates,
// where a path really leads once its links are followed, who the server's
// user is, and the runtime's private directory DATA/.notesrt, which holds
// the message queues and the status lines.
//
// The server's user is the owner of the data directory. Only its processes
// and root may enter the private directory; a process of root that creates
// something there gives it to the server's user, so every process of the
// server can still reach it. These are the runtime's only calls on owners,
// modes and links (POSIX); sockets are in localsock.cpp.
#ifndef NOTESRT_SRC_OSFILES_H
#define NOTESRT_SRC_OSFILES_H

#include <sys/types.h>

#include <string>

#include "global.h"

namespace nrt {

// Modes of what the runtime creates: for the owner only (files 0600,
// directories 0700), or readable by the owner's group too (0640, 0750)
// with GroupReadable=1 in notes.ini.
mode_t NewFileMode();
mode_t NewDirectoryMode();

// Opens path with flags; a missing file is created with NewFileMode(),
// whatever the umask (with O_EXCL in flags, only a new file will do). A
// file descriptor, or -1 with errno set.
int OpenCreating(const std::string& path, int flags);
// Creates dirFd/name anew (emptied when it exists), a file of the runtime's
// mode, never through a link; -1 with errno on failure.
int CreateInDirectory(int dirFd, const std::string& name);
// Creates path and the directories above it that are missing, with
// NewDirectoryMode(); 0 or an errno value.
int MakeDirectories(const std::string& path);

// The location of path (absolute, under directory) with every link
// followed, also for a file or directories not there yet. ERR_BAD_PATH
// when it leads outside directory (an absolute path without links), the
// status of the failure when it cannot be told.
STATUS RealPathInside(const std::string& directory, const std::string& path, std::string* real);

// Opens a directory of the private directory of dataDir ("queues",
// "status"), making both when create is set. A directory found there
// that is not a real directory of the server's user (another user's, or a
// link) is moved aside and made anew. ERR_NOEXIST when it is missing and
// create is not set; ERR_NOACCESS when this process is neither the
// server's user nor root. The descriptor is closed by the caller.
STATUS OpenPrivateDirectory(const std::string& dataDir, const char* part, bool create, int* fd);
// True for the server's user of dataDir and for root.
bool IsServerUser(const std::string& dataDir, uid_t uid);
// A process of root gives what it created in a private directory to the
// server's user; a no-op for everyone else.
void GiveToServerUser(const std::string& dataDir, int dirFd, const std::string& name);

}  // namespace nrt

#endif
