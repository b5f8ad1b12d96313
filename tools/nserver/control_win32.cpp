// control_win32.cpp - Windows builds of the console take commands from
// their own input only: wine, where they are tested, has no local sockets,
// and a console service is a POSIX feature here. So no console listens,
// a one-shot command finds none (and is done without one, see main.cpp),
// and no caller ever connects.
#include "control.h"

namespace nserver {

bool ConsoleDirectory(const std::string& /*dataDir*/, std::string* /*path*/, std::string* error) {
    *error = "the Windows build keeps no console directory";
    return false;
}

ControlSocket::~ControlSocket() = default;

bool ControlSocket::Listen(const std::string& /*dataDir*/, std::string* error) {
    *error = "the Windows build has no control socket";
    return false;
}

int ControlSocket::Accept() { return -1; }

bool SendToCaller(int /*fd*/, std::string* /*output*/) { return false; }

long ReadFromCaller(int /*fd*/, char* /*buffer*/, size_t /*size*/) { return 0; }

void CloseCaller(int /*fd*/) {}

int ConnectToConsole(const std::string& /*dataDir*/, std::string* /*error*/) { return -1; }

int RunOverConnection(int /*fd*/, const std::string& /*command*/) { return 1; }

}  // namespace nserver
