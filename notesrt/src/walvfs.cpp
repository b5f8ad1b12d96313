// walvfs.cpp - the gathering VFS (see walvfs.h).
//
// SQLite writes a log frame as two writes, its 24-byte header and then the
// page; a commit frame is the one whose header carries the database size
// (bytes 4 to 7, nonzero). Writes that continue the gathered bytes, or
// fall inside them (a frame rewritten by the same transaction), are kept;
// any other write first writes out what was gathered. The gathered bytes
// are also written out before every read, sync, size query, truncation or
// close of the log, and before the database's shared-memory barrier and
// unlocks, so that no path can leave frames unwritten behind a published
// header.
//
// Every read, write, truncation and sync reaches the file through the disk
// functions below, where the faults armed in fault.cpp apply: a failed
// write, a full disk, a power cut after which nothing reaches the files,
// and, while a test asks for it, the record of writes not yet synced that a
// power cut loses (unsynced.h).
#include "walvfs.h"

#include <sqlite3.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "fault.h"
#include "nrt_fault.h"
#include "nsferr.h"
#include "unsynced.h"

namespace nrt {
namespace {

constexpr char kVfsName[] = "nrt-gather";
constexpr int kFrameHeaderSize = 24;
// Written out beyond this; the default VFS takes at most 128 KiB a write.
constexpr size_t kMaxGathered = 64 * 1024;

struct GatherFile {
    sqlite3_file base;
    sqlite3_file* real;     // the default VFS's file, stored right after this struct
    bool isLog;             // a write-ahead log
    GatherFile* log;        // a database: its open log, if any
    GatherFile* database;   // a log: its database
    bool commitHeader;      // a log: the last write was a commit frame's header
    char* bytes;            // a log: the gathered bytes, from offset start
    size_t length;
    size_t capacity;
    sqlite3_int64 start;
    UnsyncedRecord* record; // a database or log: its writes not yet synced
};

constexpr size_t kGatherFileSize = (sizeof(GatherFile) + 15) & ~size_t(15);

sqlite3_vfs* DefaultVfs() {
    static sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    return vfs;
}

GatherFile* Of(sqlite3_file* file) { return reinterpret_cast<GatherFile*>(file); }
const sqlite3_io_methods* Real(GatherFile* file) { return file->real->pMethods; }

// ---- the disk under the files: armed faults, and the record of what a
// power cut would lose ----------------------------------------------------

bool Recording(GatherFile* file) { return file->record != nullptr && KeepsUnsynced(); }

// The power may go at any write, truncation or sync.
bool PowerGoes() {
    STATUS injected;
    return PowerIsOff() || FaultHit(NRT_FAULT_POWERCUT, &injected);
}

int DiskWrite(GatherFile* file, const void* data, int amount, sqlite3_int64 offset) {
    STATUS injected;
    if (PowerGoes()) return SQLITE_IOERR_WRITE;
    if (FaultHit(NRT_FAULT_DISKFULL, &injected)) return SQLITE_FULL;
    if (FaultHit(NRT_FAULT_WRITE, &injected)) return ERR(injected) == ERR_DISK_FULL ? SQLITE_FULL : SQLITE_IOERR_WRITE;
    if (Recording(file)) return file->record->Write(file->real, data, amount, offset);
    return Real(file)->xWrite(file->real, data, amount, offset);
}

int DiskRead(GatherFile* file, void* data, int amount, sqlite3_int64 offset) {
    if (PowerIsOff()) return SQLITE_IOERR_READ;
    return Real(file)->xRead(file->real, data, amount, offset);
}

int DiskTruncate(GatherFile* file, sqlite3_int64 size) {
    if (PowerGoes()) return SQLITE_IOERR_TRUNCATE;
    if (Recording(file)) return file->record->Truncate(file->real, size);
    return Real(file)->xTruncate(file->real, size);
}

int DiskSync(GatherFile* file, int flags) {
    if (PowerGoes()) return SQLITE_IOERR_FSYNC;
    if (Recording(file)) return file->record->Sync(file->real, flags);
    return Real(file)->xSync(file->real, flags);
}

// ---- gathering the log's writes ---------------------------------------------

int WriteOut(GatherFile* log) {
    if (log == nullptr || log->length == 0) return SQLITE_OK;
    size_t length = log->length;
    log->length = 0;
    STATUS injected;
    if (FaultHit(NRT_FAULT_LOGWRITE, &injected)) return SQLITE_IOERR_WRITE;
    return DiskWrite(log, log->bytes, (int)length, log->start);
}

bool Gather(GatherFile* log, const void* data, size_t amount, sqlite3_int64 offset) {
    sqlite3_int64 end = log->start + (sqlite3_int64)log->length;
    if (log->length > 0 && offset >= log->start && offset + (sqlite3_int64)amount <= end) {
        std::memcpy(log->bytes + (offset - log->start), data, amount);
        return true;
    }
    if (log->length > 0 && offset != end) return false;
    size_t needed = log->length + amount;
    if (needed > kMaxGathered) return false;
    if (needed > log->capacity) {
        size_t capacity = needed * 2 > kMaxGathered ? kMaxGathered : needed * 2;
        char* grown = static_cast<char*>(std::realloc(log->bytes, capacity));
        if (grown == nullptr) return false;
        log->bytes = grown;
        log->capacity = capacity;
    }
    if (log->length == 0) log->start = offset;
    std::memcpy(log->bytes + log->length, data, amount);
    log->length = needed;
    return true;
}

bool IsCommitFrameHeader(const void* data, int amount) {
    if (amount != kFrameHeaderSize) return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    return (bytes[4] | bytes[5] | bytes[6] | bytes[7]) != 0;
}

int LogWrite(GatherFile* log, const void* data, int amount, sqlite3_int64 offset) {
    bool commitPage = log->commitHeader;
    log->commitHeader = IsCommitFrameHeader(data, amount);
    if (!Gather(log, data, (size_t)amount, offset)) {
        int rc = WriteOut(log);
        if (rc != SQLITE_OK) return rc;
        if (!Gather(log, data, (size_t)amount, offset)) return DiskWrite(log, data, amount, offset);
    }
    return commitPage ? WriteOut(log) : SQLITE_OK;
}

// ---- io methods: the log's own, the rest passed on -------------------------

int Close(sqlite3_file* file) {
    GatherFile* self = Of(file);
    int rc = self->isLog ? WriteOut(self) : SQLITE_OK;
    if (self->database != nullptr) self->database->log = nullptr;
    if (self->log != nullptr) self->log->database = nullptr;
    std::free(self->bytes);
    self->bytes = nullptr;
    delete self->record;
    self->record = nullptr;
    int closed = Real(self)->xClose(self->real);
    return rc != SQLITE_OK ? rc : closed;
}

int Read(sqlite3_file* file, void* data, int amount, sqlite3_int64 offset) {
    GatherFile* self = Of(file);
    int rc = self->isLog ? WriteOut(self) : SQLITE_OK;
    return rc != SQLITE_OK ? rc : DiskRead(self, data, amount, offset);
}

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    GatherFile* self = Of(file);
    if (self->isLog) return LogWrite(self, data, amount, offset);
    return DiskWrite(self, data, amount, offset);
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
    GatherFile* self = Of(file);
    int rc = self->isLog ? WriteOut(self) : SQLITE_OK;
    return rc != SQLITE_OK ? rc : DiskTruncate(self, size);
}

int Sync(sqlite3_file* file, int flags) {
    GatherFile* self = Of(file);
    int rc = self->isLog ? WriteOut(self) : SQLITE_OK;
    return rc != SQLITE_OK ? rc : DiskSync(self, flags);
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
    GatherFile* self = Of(file);
    int rc = self->isLog ? WriteOut(self) : SQLITE_OK;
    return rc != SQLITE_OK ? rc : Real(self)->xFileSize(self->real, size);
}

int Lock(sqlite3_file* file, int level) { return Real(Of(file))->xLock(Of(file)->real, level); }
int Unlock(sqlite3_file* file, int level) { return Real(Of(file))->xUnlock(Of(file)->real, level); }
int CheckReservedLock(sqlite3_file* file, int* out) {
    return Real(Of(file))->xCheckReservedLock(Of(file)->real, out);
}
int FileControl(sqlite3_file* file, int op, void* arg) {
    return Real(Of(file))->xFileControl(Of(file)->real, op, arg);
}
int SectorSize(sqlite3_file* file) { return Real(Of(file))->xSectorSize(Of(file)->real); }
int DeviceCharacteristics(sqlite3_file* file) {
    return Real(Of(file))->xDeviceCharacteristics(Of(file)->real);
}

int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
    return Real(Of(file))->xShmMap(Of(file)->real, region, size, extend, out);
}

// Unlocking ends what the lock guarded (a write, a checkpoint): the log's
// gathered bytes go out first.
int ShmLock(sqlite3_file* file, int offset, int count, int flags) {
    GatherFile* self = Of(file);
    if ((flags & SQLITE_SHM_UNLOCK) != 0) WriteOut(self->log);
    return Real(self)->xShmLock(self->real, offset, count, flags);
}

// SQLite publishes a log header right after this barrier.
void ShmBarrier(sqlite3_file* file) {
    GatherFile* self = Of(file);
    WriteOut(self->log);
    Real(self)->xShmBarrier(self->real);
}

int ShmUnmap(sqlite3_file* file, int deleteFlag) {
    return Real(Of(file))->xShmUnmap(Of(file)->real, deleteFlag);
}
int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
    return Real(Of(file))->xFetch(Of(file)->real, offset, amount, out);
}
int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
    return Real(Of(file))->xUnfetch(Of(file)->real, offset, page);
}

const sqlite3_io_methods kMethods = {
    3,           Close,      Read,     Write,     Truncate,         Sync,
    FileSize,    Lock,       Unlock,   CheckReservedLock, FileControl, SectorSize,
    DeviceCharacteristics,   ShmMap,   ShmLock,   ShmBarrier,       ShmUnmap,
    Fetch,       Unfetch};

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    GatherFile* self = Of(file);
    std::memset(self, 0, sizeof(GatherFile));
    self->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kGatherFileSize);
    int rc = DefaultVfs()->xOpen(DefaultVfs(), name, self->real, flags, outFlags);
    if (self->real->pMethods == nullptr) return rc;
    // Every call is passed on to methods of the same version.
    if (self->real->pMethods->iVersion < kMethods.iVersion) {
        self->real->pMethods->xClose(self->real);
        return SQLITE_CANTOPEN;
    }
    self->base.pMethods = &kMethods;
    self->isLog = (flags & SQLITE_OPEN_WAL) != 0;
    if (name != nullptr && (flags & (SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_WAL | SQLITE_OPEN_MAIN_JOURNAL)) != 0)
        self->record = new (std::nothrow) UnsyncedRecord(name);
    if (self->isLog && name != nullptr) {
        self->database = Of(sqlite3_database_file_object(name));
        self->database->log = self;
    }
    return rc;
}

// A removed file takes its record along.
int Delete(sqlite3_vfs*, const char* name, int syncDirectory) {
    if (PowerIsOff()) return SQLITE_IOERR_DELETE;
    int rc = DefaultVfs()->xDelete(DefaultVfs(), name, syncDirectory);
    if (rc == SQLITE_OK && name != nullptr) ::unlink(UnsyncedPath(name).c_str());
    return rc;
}

}  // namespace

const char* GatheringVfsName() {
    static std::once_flag registered;
    static sqlite3_vfs vfs;
    std::call_once(registered, [] {
        // SQLite's count of the memory it holds takes a lock at every
        // allocation; nothing here reads it. Refused (and harmless) when
        // SQLite was started already.
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        // The default VFS's calls serve for everything but opening files.
        vfs = *DefaultVfs();
        vfs.szOsFile = (int)kGatherFileSize + DefaultVfs()->szOsFile;
        vfs.zName = kVfsName;
        vfs.pNext = nullptr;
        vfs.xOpen = Open;
        vfs.xDelete = Delete;
        sqlite3_vfs_register(&vfs, 0);
    });
    return kVfsName;
}

}  // namespace nrt
