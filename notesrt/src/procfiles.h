// procfiles.h - files through which a process shows its state to the other
// processes of the data directory: its status lines (statusline.cpp) and
// its statistics (stats.cpp).
//
// Each file is DATA/<directory>/<token>[.<suffix>], where <token> is the
// owning process's liveness token (localsock.h). A file's content is
// replaced as a whole: a reader gets the old content or the new, never a
// part. Readers skip and remove the files of processes that have ended,
// also of those that were killed.
#ifndef NOTESRT_SRC_PROCFILES_H
#define NOTESRT_SRC_PROCFILES_H

#include <string>
#include <vector>

#include "global.h"

namespace nrt {

// Texts shown to others are one console line: cut to limit bytes, control
// characters shown as blanks.
std::string OneLine(const std::string& text, size_t limit);

// DATA/<directory>/<this process's token>, followed by "." and suffix when
// suffix is not empty.
std::string OwnFilePath(const char* directory, const std::string& suffix);

// Replaces the content of a file made by OwnFilePath, creating the
// directory when missing; 0 or the errno value of the failure.
int ReplaceOwnFile(const std::string& path, const std::string& content);

struct LiveFile {
    std::string content;
    DWORD pid;  // the owning process
};

// The files of live processes in DATA/<directory>, in no particular order;
// the files of ended processes are removed on the way.
std::vector<LiveFile> LiveFiles(const char* directory);

}  // namespace nrt

#endif
