// control.h - the console's control socket: how `nserver --data D tell ...`
// (show, quit, load, any console command) reaches the console that runs on
// D from another shell.
//
// The socket is DATA/.nserver/control, in a directory only the server's
// user may enter; both ends also check each other's user (the same, or
// root). One connection carries one command line; the console answers
// with lines "O text" (for standard output), "E text" (for standard
// error) and a last line "X code" (the exit status), then closes.
#ifndef ZELREP_NSERVER_CONTROL_H
#define ZELREP_NSERVER_CONTROL_H

#include <cstddef>
#include <string>

namespace nserver {

// DATA/.nserver, made for the owner only when missing; false with *error
// when it cannot be used (another user's, not a directory).
bool ConsoleDirectory(const std::string& dataDir, std::string* path, std::string* error);

class ControlSocket {
public:
    ControlSocket() = default;
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Listens on the data directory's socket; false with *error when another
    // console listens there or the socket cannot be made.
    bool Listen(const std::string& dataDir, std::string* error);
    int Fd() const { return fd_; }
    // A connection of a caller allowed in, non-blocking; -1 for none.
    int Accept();

private:
    int fd_ = -1;
    std::string directory_;
};

// A caller's connection, as the console uses it: sends what it can of
// *output without blocking and drops it from there (false when the caller
// is gone); reads what came (the bytes read, 0 when the caller is gone, -1
// when nothing came yet); closes it.
bool SendToCaller(int fd, std::string* output);
long ReadFromCaller(int fd, char* buffer, size_t size);
void CloseCaller(int fd);

// A connection to the console of the data directory, or -1 when none
// listens (*error says why when it is not simply absent).
int ConnectToConsole(const std::string& dataDir, std::string* error);

// Sends the command line over the connection, prints the answer and
// returns the exit status it carries (1 when the console ended without
// one). Closes fd.
int RunOverConnection(int fd, const std::string& command);

}  // namespace nserver

#endif
