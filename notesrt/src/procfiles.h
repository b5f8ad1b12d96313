// procfiles.h - files through which a process shows its state to the other
// processes of the data directory: its status lines (statusline.cpp) and
// its statistics (stats.cpp).
//
// Each file is DATA/.notesrt/<part>/<token>[.<suffix>] in the runtime's
// private directory (platform.h), where <token> is the owning process's
// liveness token (platform.h). A file's content is replaced as a whole: a
// reader gets the old content or the new, never a part. Readers skip and
// remove the files of processes that have ended, also of those that were
// killed.
#ifndef NOTESRT_SRC_PROCFILES_H
#define NOTESRT_SRC_PROCFILES_H

#include <string>
#include <vector>

#include "global.h"

namespace nrt {

// Texts shown to others are one console line: cut to limit bytes, control
// characters shown as blanks.
std::string OneLine(const std::string& text, size_t limit);

// One file of this process, in the data directory current when it was named.
struct OwnFile {
    std::string dataDir;
    const char* part;  // "status", "stats"
    std::string name;  // <token>[.<suffix>]
};

// This process's file of part, followed by "." and suffix when suffix is
// not empty.
OwnFile NewOwnFile(const char* part, const std::string& suffix);

// Replaces the file's content, creating it (and the private directory)
// when missing.
STATUS ReplaceOwnFile(const OwnFile& file, const std::string& content);
void RemoveOwnFile(const OwnFile& file);

struct LiveFile {
    std::string content;
    DWORD pid;  // the owning process
};

// The files of live processes in part of the current data directory, in
// no particular order; the files of ended processes are removed on the way.
std::vector<LiveFile> LiveFiles(const char* part);

}  // namespace nrt

#endif
