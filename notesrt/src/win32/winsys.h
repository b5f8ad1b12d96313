// winsys.h - the Windows side's own calls, in plain types. The files of
// this side that answer Notes statuses (paths.cpp, localqueue.cpp) include
// this header and not windows.h, whose DWORD and HANDLE clash with the
// Notes ones; the files that call Windows (files.cpp, pipes.cpp,
// process.cpp) implement it.
#ifndef NOTESRT_SRC_WIN32_WINSYS_H
#define NOTESRT_SRC_WIN32_WINSYS_H

#include <memory>
#include <string>

#include "platform.h"

namespace nrt {

// The errno value of the same meaning as a Windows error code.
int ErrnoOfWindowsError(unsigned long error);

// The full form of path ("." and ".." taken by their meaning, '\' as '/');
// "" with *error set when there is none.
std::string FullPathName(const std::string& path, int* error);
// The name of the file or directory path names, in the letter case it was
// made with (Windows finds it in any); "" when there is none.
std::string StoredName(const std::string& path);
// The directory dataDir/.notesrt/part, made when create is set; 0 or an
// errno value (ENOENT when missing).
int PrivateDirectory(const std::string& dataDir, const char* part, bool create, std::string* path);
// Opens path for reading, or for writing (created when missing); 0 or an
// errno value.
int OpenPrivateDescriptor(const std::string& path, bool forWriting, int* fd);

// Local queues are message-mode named pipes (pipes.cpp).
std::string QueuePipeName(const std::string& dataDir, const std::string& name);
// Holds the pipe's name, with a thread that takes the senders' messages;
// EADDRINUSE when another process holds it.
int CreateQueuePipe(const std::string& pipeName, std::shared_ptr<QueueEndpoint>* endpoint);
// 0 when a process holds the pipe's name, ENOENT when none does.
int QueuePipeHeld(const std::string& pipeName);
// 0, ENOENT when nobody holds the name, EAGAIN when the holder has had no
// room for a moment, EACCES when it belongs to another user.
int WriteToQueuePipe(const std::string& pipeName, const std::string& datagram);
// Waits at most milliseconds for a datagram; true when one is there.
bool WaitForDatagram(QueueEndpoint& endpoint, int milliseconds);

}  // namespace nrt

#endif
