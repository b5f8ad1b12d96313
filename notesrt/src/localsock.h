// localsock.h - Unix datagram sockets for the add-in services: the socket
// files of the message queues, and the liveness token of each process.
//
// A queue's socket is a file in the private directory of the data
// directory (osfiles.h), reached through the directory's descriptor, so
// neither the length of the data directory's path nor a directory swapped
// in meanwhile matters. A liveness token is an abstract-namespace name,
// held by the kernel only while its socket is open: a process that died
// (even by SIGKILL) leaves nothing behind.
#ifndef NOTESRT_SRC_LOCALSOCK_H
#define NOTESRT_SRC_LOCALSOCK_H

#include <string>

namespace nrt {

// A datagram socket (close-on-exec); -1 with errno on failure.
int OpenDatagramSocket();
// Binds fd to, or connects it with, the socket file name in the directory
// dirFd; 0 or an errno value.
int BindInDirectory(int fd, int dirFd, const std::string& name);
int ConnectInDirectory(int fd, int dirFd, const std::string& name);

// This process's liveness token ("<pid>-<random hex>"): a name bound for
// the process's whole life, so other processes can tell whether it still
// runs. Unlike a pid it is never reused.
std::string ProcessToken();
bool TokenAlive(const std::string& token);

}  // namespace nrt

#endif
