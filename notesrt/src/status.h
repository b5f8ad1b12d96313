// status.h - the one place where low-level failures become Notes statuses.
//
// Every SQLite result code and errno value that the runtime meets is turned
// into a STATUS here, and the context (which call, which file, what the
// library said) is kept for NRTLastErrorDetail, so that tools can say more
// than the status's text.
#ifndef NOTESRT_SRC_STATUS_H
#define NOTESRT_SRC_STATUS_H

#include <string>

#include "global.h"

namespace nrt {

// SQLite primary or extended result code to a status; SQLITE_OK gives
// NOERROR. context names the operation and file; systemError is the
// operating system's error behind it, when known, as SQLite reports it
// (sqlite3_system_errno: an errno value, on Windows a Windows error code).
STATUS StatusFromSqlite(int rc, const std::string& context, const char* message = nullptr,
                        int systemError = 0);
// errno value (of this platform, see platform.h) to a status.
STATUS StatusFromErrno(int err, const std::string& context);
// Records a failure the runtime detected itself; returns status.
STATUS Fail(STATUS status, const std::string& context);
void ClearLastError();
// The text OSLoadString gives for the status, or null.
const char* ErrorTextFor(STATUS status);

}  // namespace nrt

#endif
