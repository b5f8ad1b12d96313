// statusline.h - the runtime's side of status lines (statusline.cpp).
//
// Each status line of a process is a small file
// DATA/.notesrt/status/<token>.<handle> (in the private directory, see
// platform.h) holding the task name on its first line and the text after
// it, replaced atomically on every change. <token> is the process's liveness token, so
// readers skip and remove the lines of processes that have ended.
#ifndef NOTESRT_SRC_STATUSLINE_H
#define NOTESRT_SRC_STATUSLINE_H

namespace nrt {

// Removes every status line this process created (at termination).
void DeleteAllStatusLines();

}  // namespace nrt

#endif
