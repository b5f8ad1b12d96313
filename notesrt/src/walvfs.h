// walvfs.h - the SQLite VFS that every connection of the runtime opens its
// files through: the system's default VFS, except that the frames one
// transaction appends to a write-ahead log are gathered in memory and
// handed to the operating system in one write, instead of two writes a
// page.
//
// The gathered frames are written as soon as the transaction's commit
// frame is complete, before SQLite publishes the log's new header to
// readers, and a failed write fails the commit. So a commit that returned
// is with the operating system (it survives the process being killed, as
// before), and no reader ever sees a frame that is not in the file.
//
// It is also where the disk fails under fault injection (nrt_fault.h):
// writes that fail or find the disk full, and a power cut that drops every
// write not yet synced. Owned by the storage layer (store.cpp); nothing
// else needs to know of it.
#ifndef NOTESRT_SRC_WALVFS_H
#define NOTESRT_SRC_WALVFS_H

namespace nrt {

// The name to pass to sqlite3_open_v2; registers the VFS on first use.
const char* GatheringVfsName();

}  // namespace nrt

#endif
