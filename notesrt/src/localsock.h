// localsock.h - abstract-namespace Unix datagram sockets for the add-in
// services: message queues and the liveness token of each process.
//
// An abstract socket name is held by the kernel only while its socket is
// open, so a name left by a process that died (even by SIGKILL) is free
// again at once, and no file is ever left behind. Queue names are scoped
// to the data directory so that two servers on one machine never meet.
#ifndef NOTESRT_SRC_LOCALSOCK_H
#define NOTESRT_SRC_LOCALSOCK_H

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace nrt {

// The longest name that fits an abstract socket address.
constexpr size_t kMaxSocketNameLength = sizeof(sockaddr_un::sun_path) - 1;

// "zelrep:<hash of the data directory>:<kind>:<name>".
std::string DataScopedName(const char* kind, const std::string& name);

// A datagram socket (close-on-exec); -1 with errno on failure.
int OpenDatagramSocket();
// Fills an abstract address; false when the name is too long.
bool AbstractAddress(const std::string& name, sockaddr_un* address, socklen_t* length);
// Binds fd to the abstract name; 0 or an errno value (EADDRINUSE when a
// live socket holds it).
int BindAbstract(int fd, const std::string& name);
// True when a live socket is bound to the abstract name.
bool AbstractNameBound(const std::string& name);

// This process's liveness token ("<pid>-<random hex>"): a name bound for
// the process's whole life, so other processes can tell whether it still
// runs. Unlike a pid it is never reused.
std::string ProcessToken();
bool TokenAlive(const std::string& token);

}  // namespace nrt

#endif
