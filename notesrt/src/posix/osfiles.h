// osfiles.h - the POSIX side's own calls on the files of a data directory:
// the modes of the files and directories the runtime creates, who the
// server's user is, and the runtime's private directory DATA/.notesrt,
// which holds the message queues and the status lines.
//
// The server's user is the owner of the data directory. Only its processes
// and root may enter the private directory; a process of root that creates
// something there gives it to the server's user, so every process of the
// server can still reach it. These are the runtime's only calls on owners
// and modes; the queues' sockets are in localqueue.cpp.
#ifndef NOTESRT_SRC_POSIX_OSFILES_H
#define NOTESRT_SRC_POSIX_OSFILES_H

#include <sys/types.h>

#include <string>

#include "global.h"
#include "platform.h"

namespace nrt {

// Modes of what the runtime creates: for the owner only (files 0600,
// directories 0700), or readable by the owner's group too (0640, 0750)
// with GroupReadable=1 in notes.ini.
mode_t NewFileMode();
mode_t NewDirectoryMode();

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
