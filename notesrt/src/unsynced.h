// unsynced.h - the record of writes not yet synced to disk, which a power
// cut would lose, and the reboot that drops them.
//
// While a test asks for it (fault.h, KeepsUnsynced), the storage's file
// layer (walvfs.cpp) writes, before every write or truncation of a database
// file or its log, what the change overwrites and the file's size into a
// side file named after the file with "-unsynced" appended; a sync of the
// file empties it. The side files live on disk, so the record is shared by
// every process of the data directory and survives their being killed, as
// the disk's contents do; a sync by any process makes the writes of all of
// them durable, as the operating system's does. Rebooting (NRTFaultReboot)
// undoes the recorded changes in reverse order, which leaves each file as it
// was at its last sync. Creating and removing files count as durable at
// once. Owned by the storage layer; used only under fault injection.
#ifndef NOTESRT_SRC_UNSYNCED_H
#define NOTESRT_SRC_UNSYNCED_H

#include <sqlite3.h>

#include <string>

#include "global.h"

namespace nrt {

// The record of one file, and the file's writes, truncations and syncs
// with it: a write or truncation and its record are one step, as are a
// sync and the record's emptying, so that a sync by another process never
// forgets a write it did not make durable. Closes its side file when
// destroyed. Every call returns an SQLite result code.
class UnsyncedRecord {
public:
    explicit UnsyncedRecord(const std::string& path) : path_(path) {}
    ~UnsyncedRecord();
    UnsyncedRecord(const UnsyncedRecord&) = delete;
    UnsyncedRecord& operator=(const UnsyncedRecord&) = delete;

    int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset);
    int Truncate(sqlite3_file* file, sqlite3_int64 size);
    int Sync(sqlite3_file* file, int flags);

private:
    // Opens the side file; false when it cannot be.
    bool Open();
    // Appends what changing the file from offset on (amount bytes) will
    // overwrite, with the file's size.
    int Keep(sqlite3_file* file, sqlite3_int64 offset, sqlite3_int64 amount);

    std::string path_;
    int fd_ = -1;
};

// The side file's name for a database file or log.
std::string UnsyncedPath(const std::string& path);
// Syncs a file written without the file layer (a new database being
// built) and forgets its record.
STATUS SyncFile(const std::string& path);

}  // namespace nrt

#endif
