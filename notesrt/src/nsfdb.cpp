// nsfdb.cpp - the database calls: open, create, copy and close, the
// information buffer, note information, and the modified-note table.
//
// Every database handle owns its own SQLite connection (store.h). The
// scan lock of NSFDbOpenExtended is a file lock on a side file, so the
// operating system drops it when the handle closes or the process dies; a
// handle that holds it reads as of its latest change listing until it
// writes. Closing a handle commits its open group of updates and makes
// everything it wrote durable.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "env.h"
#include "fault.h"
#include "idtable.h"
#include "nrt_fault.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "ostime.h"
#include "platform.h"
#include "status.h"
#include "store.h"
#include "timeutil.h"
#include "unsynced.h"

using namespace nrt;

namespace {

constexpr size_t kMaxInfoLength = NSF_INFO_SIZE - 1;
constexpr size_t kPathOutputSize = 256;  // MAXPATH of the callers

std::string ScanLockPath(const std::string& path) { return path + "-scanlock"; }

STATUS ResolveExisting(const char* path, std::string* file) {
    STATUS status = ResolveDbPath(path, false, file);
    if (status != NOERROR) return status;
    struct stat info;
    if (stat(file->c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return Fail(ERR_DIRECTORY, "database \"" + std::string(path) + "\"");
    return NOERROR;
}

STATUS OpenStore(const char* path, std::unique_ptr<Store>* store,
                 Store::Connection connection = Store::Connection::kParkedOrNew) {
    if (path == nullptr) return Fail(ERR_BAD_PARAM, "database name is null");
    std::string file;
    STATUS status = ResolveExisting(path, &file);
    return status == NOERROR ? Store::Open(file, store, connection) : status;
}

STATUS TakeScanLock(const std::string& path, int* fd) {
    *fd = OpenCreating(ScanLockPath(path), O_RDWR);
    if (*fd < 0) return StatusFromErrno(errno, "scan lock of " + path);
    if (LockFile(*fd, FileLock::kExclusive, false)) return NOERROR;
    ::close(*fd);
    *fd = -1;
    return Fail(ERR_ALREADY_LOCKED, "scan lock of " + path);
}

DBHANDLE AddHandle(std::unique_ptr<Store> store, int scanLockFd) {
    std::unique_ptr<Database> database(new Database);
    database->store = std::move(store);
    database->scanLockFd = scanLockFd;
    return Databases().Add(std::move(database));
}

Store* StoreOf(DBHANDLE hDB) {
    Database* database = Databases().Get(hDB);
    return database ? database->store.get() : nullptr;
}

TIMEDATE TimeOf(int64_t ticks) { return TimedateFromTicks(ticks); }

template <typename T>
void SetIf(T* out, const T& value) {
    if (out != nullptr) *out = value;
}

void CopyText(const std::string& text, char* out, size_t size) {
    size_t length = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

STATUS OpenExtended(const char* path, WORD options, TIMEDATE* modifiedTime, DBHANDLE* rethDB,
                    TIMEDATE* retDataModified, TIMEDATE* retNonDataModified) {
    if (rethDB == nullptr) return Fail(ERR_BAD_PARAM, "NSFDbOpen without a handle pointer");
    *rethDB = NULLHANDLE;
    std::unique_ptr<Store> store;
    bool checks = (options & DBOPEN_FORCE_FIXUP) != 0;
    // A check reads the file afresh, not through a parked connection's pages.
    STATUS status = OpenStore(path, &store, checks ? Store::Connection::kNew : Store::Connection::kParkedOrNew);
    if (status == NOERROR && checks) status = store->CheckIntegrity();
    if (status != NOERROR) return status;
    int64_t data = 0, nonData = 0;
    status = store->ModifiedTicks(&data, &nonData);
    if (status != NOERROR) return status;
    SetIf(retDataModified, TimeOf(data));
    SetIf(retNonDataModified, TimeOf(nonData));
    if (modifiedTime != nullptr && std::max(data, nonData) <= TicksOf(*modifiedTime))
        return ERR_NO_MODIFIED_NOTES;
    int scanLockFd = -1;
    if ((options & DBOPEN_WITH_SCAN_LOCK) != 0) status = TakeScanLock(store->Path(), &scanLockFd);
    // A scanning handle reads what its change listing found (store.h).
    if ((options & DBOPEN_WITH_SCAN_LOCK) != 0) store->ReadAsOfListings();
    if (status == NOERROR) *rethDB = AddHandle(std::move(store), scanLockFd);
    return status;
}

// The database's file, its log and shared memory, and their records of
// unsynced writes.
void RemoveStoreFiles(const std::string& file) {
    for (const char* suffix : {"", "-wal", "-shm"}) RemoveFile(file + suffix);
    for (const char* suffix : {"", "-wal"}) RemoveFile(UnsyncedPath(file + suffix));
}

void RemoveFiles(const std::string& file) {
    RemoveStoreFiles(file);
    RemoveFile(ScanLockPath(file));
}

// Replaces an existing file only when it is one of our databases (with
// force); a file that is not one is named for what it is.
STATUS MakeRoomFor(const std::string& file, BOOL force) {
    struct stat info;
    if (stat(file.c_str(), &info) != 0) return NOERROR;
    if (S_ISDIR(info.st_mode)) return Fail(ERR_DIRECTORY, "create " + file);
    std::unique_ptr<Store> existing;
    STATUS status = Store::Open(file, &existing);
    if (status != NOERROR) return status;
    if (!force) return Fail(ERR_FILE_EXISTS, "create " + file);
    existing.reset();
    RemoveStoreFiles(file);
    return NOERROR;
}

STATUS CreateFile(const char* path, BOOL force, const std::string& info, std::string* file) {
    if (path == nullptr) return Fail(ERR_BAD_PARAM, "database name is null");
    STATUS status = ResolveDbPath(path, true, file);
    if (status == NOERROR) status = MakeRoomFor(*file, force);
    return status == NOERROR ? Store::Create(*file, info) : status;
}

// Copies the live notes of the classes, keeping their identities and
// times, and for a replica the replica ID.
STATUS CopyNotes(Store& source, Store& target, WORD classMask, bool replica) {
    ReadTransaction snapshot(source);
    STATUS status = snapshot.Begin();
    std::vector<NoteRow> rows;
    if (status == NOERROR) status = source.ListNotes(classMask, ChangeWindow::kLiveOnly, 0, &rows);
    WriteTransaction transaction(target);
    if (status == NOERROR) status = transaction.Begin();
    Counters counters;
    if (status == NOERROR) status = target.ReadCounters(&counters);
    std::vector<StoredItem> items;
    for (const NoteRow& row : rows) {
        if (status == NOERROR) status = source.ReadItems(row.id, &items);
        if (status == NOERROR) status = target.WriteNoteRow(row);
        if (status == NOERROR) status = target.InsertItems(row.id, items);
        // Later notes of the copy never reuse these IDs or times.
        counters.nextNoteId = std::max<NOTEID>(counters.nextNoteId, row.id + RRV_ALIGNMENT);
        counters.listedUntilTicks = std::max(counters.listedUntilTicks, row.sequenceTicks);
    }
    if (status == NOERROR) status = target.WriteCounters(counters, false, counters.listedUntilTicks);
    if (status == NOERROR) status = target.RaiseListedUntil(counters.listedUntilTicks);
    TIMEDATE replicaId{};
    if (status == NOERROR && replica) status = source.ReadReplicaId(&replicaId);
    if (status == NOERROR && replica) status = target.WriteReplicaId(replicaId);
    return status == NOERROR ? transaction.Commit() : status;
}

STATUS CreateAndCopy(const char* srcPath, const char* dstPath, WORD classMask, DWORD flags,
                     DBHANDLE* rethDB) {
    std::unique_ptr<Store> source;
    STATUS status = OpenStore(srcPath, &source);
    std::string info;
    if (status == NOERROR) status = source->ReadInfo(&info);
    std::string file;
    if (status == NOERROR) status = CreateFile(dstPath, FALSE, info, &file);
    if (status != NOERROR) return status;
    std::unique_ptr<Store> target;
    status = Store::Open(file, &target);
    if (status == NOERROR) status = CopyNotes(*source, *target, classMask, (flags & DBCOPY_REPLICA) != 0);
    if (status != NOERROR) {
        target.reset();
        RemoveFiles(file);  // never leave a half-made copy behind
        return status;
    }
    DBHANDLE handle = AddHandle(std::move(target), -1);
    if (rethDB != nullptr) *rethDB = handle;
    else Databases().Remove(handle);
    return NOERROR;
}

ChangeWindow WindowFor(const TIMEDATE& since) {
    if (IsWildcard(since)) return ChangeWindow::kEverything;
    if (since.Innards[0] == 0 && since.Innards[1] == 0) return ChangeWindow::kLiveOnly;
    return ChangeWindow::kAfter;
}

STATUS TableOf(const std::vector<NoteRow>& rows, DHANDLE* rethTable) {
    DHANDLE table = NULLHANDLE;
    STATUS status = IDCreateTable(sizeof(NOTEID), &table);
    for (const NoteRow& row : rows) {
        if (status != NOERROR) break;
        status = IDInsert(table, row.deleted ? (row.id | RRV_DELETED) : row.id, nullptr);
    }
    if (status != NOERROR) {
        if (table != NULLHANDLE) IDDestroyTable(table);
        return status;
    }
    *rethTable = table;
    return NOERROR;
}

STATUS ModifiedNoteTable(DBHANDLE hDB, WORD classMask, TIMEDATE since, TIMEDATE* retUntil,
                         DHANDLE* rethTable) {
    if (rethTable == nullptr) return Fail(ERR_BAD_PARAM, "NSFDbGetModifiedNoteTable without a table pointer");
    *rethTable = NULLHANDLE;
    Store* store = StoreOf(hDB);
    if (store == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFDbGetModifiedNoteTable database handle");
    STATUS status = NOERROR;
    if (FaultHit(NRT_FAULT_READ, &status)) return Fail(status, "modified notes of " + store->Path());
    std::vector<NoteRow> rows;
    int64_t until = 0;
    status = store->ListChanges(classMask, WindowFor(since), TicksOf(since), &rows, &until);
    if (status != NOERROR) return status;
    SetIf(retUntil, TimeOf(until));
    if (rows.empty()) return ERR_NO_MODIFIED_NOTES;
    status = TableOf(rows, rethTable);
    if (status == NOERROR) store->KeepListing(std::move(rows));
    return status;
}

STATUS NoteInfo(Store& store, NOTEID id, NOTEID* retNoteID, ORIGINATORID* retOID,
                TIMEDATE* retModified, WORD* retClass) {
    if (id == 0 || (id & RRV_DELETED) != 0) return Fail(ERR_INVALID_NOTE, "note ID " + std::to_string(id));
    STATUS status = NOERROR;
    if (FaultHit(NRT_FAULT_READ, &status)) return Fail(status, "note information in " + store.Path());
    NoteRow row;
    bool found = store.ListedNote(id, &row);
    if (!found) status = store.ReadNote(id, &row, &found);
    if (status != NOERROR) return status;
    if (!found) return Fail(ERR_INVALID_NOTE, "note ID " + std::to_string(id) + " in " + store.Path());
    ORIGINATORID oid{row.unid.File, row.unid.Note, row.sequence, TimeOf(row.sequenceTicks)};
    SetIf(retNoteID, row.id);
    SetIf(retOID, oid);
    SetIf(retModified, oid.SequenceTime);
    SetIf(retClass, row.noteClass);
    return row.deleted ? ERR_NOTE_DELETED : NOERROR;
}

STATUS WriteInfo(Store& store, const std::string& info) {
    WriteTransaction transaction(store);
    STATUS status = transaction.Begin();
    Counters counters;
    if (status == NOERROR) status = store.ReadCounters(&counters);
    if (status == NOERROR) status = store.WriteInfo(info);
    int64_t ticks = counters.SequenceTicksFor(0);
    if (status == NOERROR) status = store.WriteCounters(counters, false, ticks);
    return status == NOERROR ? transaction.Commit() : status;
}

// The information buffer's parts: title, then "\n" categories, "\n#1"
// class and "\n#2" design class.
struct InfoParts {
    std::string part[4];
};

InfoParts ParseInfo(const char* info) {
    InfoParts parts;
    std::string text(info, strnlen(info, kMaxInfoLength));
    size_t start = 0;
    for (int index = 0; start <= text.size(); ++index) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string segment = text.substr(start, end - start);
        int what = index == 0 ? INFOPARSE_TITLE : INFOPARSE_CATEGORIES;
        if (index > 0 && segment.compare(0, 2, "#1") == 0) what = INFOPARSE_CLASS;
        if (index > 0 && segment.compare(0, 2, "#2") == 0) what = INFOPARSE_DESIGN_CLASS;
        parts.part[what] = what >= INFOPARSE_CLASS ? segment.substr(2) : segment;
        start = end + 1;
    }
    return parts;
}

std::string JoinInfo(const InfoParts& parts) {
    static const char* const kPrefixes[4] = {"", "\n", "\n#1", "\n#2"};
    std::string text = parts.part[INFOPARSE_TITLE];
    for (int what = INFOPARSE_CATEGORIES; what <= INFOPARSE_DESIGN_CLASS; ++what)
        if (!parts.part[what].empty()) text += kPrefixes[what] + parts.part[what];
    return text;
}

}  // namespace

extern "C" {

STATUS LNPUBLIC NSFDbOpen(const char* path, DBHANDLE* rethDB) {
    return Guarded<STATUS>(ERR_MEMORY,
                           [&]() -> STATUS { return OpenExtended(path, 0, nullptr, rethDB, nullptr, nullptr); });
}

STATUS LNPUBLIC NSFDbOpenExtended(const char* path, WORD options, DHANDLE /*hNames*/,
                                  TIMEDATE* modifiedTime, DBHANDLE* rethDB,
                                  TIMEDATE* retDataModified, TIMEDATE* retNonDataModified) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        return OpenExtended(path, options, modifiedTime, rethDB, retDataModified, retNonDataModified);
    });
}

// Closing makes what the handle wrote durable: one flush for all of it,
// where a flush for every update would cost far more. The connection is
// then parked for the next open of the file (store.h).
STATUS LNPUBLIC NSFDbClose(DBHANDLE hDB) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Database* database = Databases().Get(hDB);
        if (database == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFDbClose database handle");
        STATUS status = database->store->SyncWrites();
        std::unique_ptr<Database> closed = Databases().Remove(hDB);
        if (status == NOERROR) Store::Park(std::move(closed->store));
        return status;
    });
}

STATUS LNPUBLIC NSFDbCreate(const char* path, USHORT /*dbClass*/, BOOL forceCreation) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        std::string file;
        return CreateFile(path, forceCreation, std::string(), &file);
    });
}

STATUS LNPUBLIC NSFDbDelete(const char* path) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        std::unique_ptr<Store> store;
        STATUS status = OpenStore(path, &store);  // only our own files are deleted
        if (status != NOERROR) return status;
        std::string file = store->Path();
        store.reset();
        RemoveFiles(file);
        return NOERROR;
    });
}

STATUS LNPUBLIC NSFDbCreateAndCopy(const char* srcPath, const char* dstPath, WORD noteClassMask,
                                   WORD /*limit*/, DWORD flags, DBHANDLE* rethDB) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        if (rethDB != nullptr) *rethDB = NULLHANDLE;
        return CreateAndCopy(srcPath, dstPath, noteClassMask, flags, rethDB);
    });
}

STATUS LNPUBLIC NSFDbGetModifiedNoteTable(DBHANDLE hDB, WORD noteClassMask, TIMEDATE since,
                                          TIMEDATE* retUntil, DHANDLE* rethTable) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        return ModifiedNoteTable(hDB, noteClassMask, since, retUntil, rethTable);
    });
}

STATUS LNPUBLIC NSFDbGetNoteInfo(DBHANDLE hDB, NOTEID noteID, ORIGINATORID* retOID,
                                 TIMEDATE* retModified, WORD* retClass) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Store* store = StoreOf(hDB);
        if (store == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFDbGetNoteInfo database handle");
        return NoteInfo(*store, noteID, nullptr, retOID, retModified, retClass);
    });
}

STATUS LNPUBLIC NSFDbGetNoteInfoByUNID(DBHANDLE hDB, UNIVERSALNOTEID* unid, NOTEID* retNoteID,
                                       ORIGINATORID* retOID, TIMEDATE* retModified,
                                       WORD* retClass) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Store* store = StoreOf(hDB);
        if (store == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFDbGetNoteInfoByUNID database handle");
        if (unid == nullptr) return Fail(ERR_BAD_PARAM, "NSFDbGetNoteInfoByUNID without a UNID");
        NOTEID id = 0;
        bool found = false;
        STATUS status = store->FindNoteId(*unid, &id, &found);
        if (status != NOERROR) return status;
        if (!found) return Fail(ERR_NOT_FOUND, "UNID in " + store->Path());
        return NoteInfo(*store, id, retNoteID, retOID, retModified, retClass);
    });
}

STATUS LNPUBLIC NSFDbModifiedTime(DBHANDLE hDB, TIMEDATE* retDataModified,
                                  TIMEDATE* retNonDataModified) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Store* store = StoreOf(hDB);
        if (store == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFDbModifiedTime database handle");
        int64_t data = 0, nonData = 0;
        STATUS status = store->ModifiedTicks(&data, &nonData);
        if (status != NOERROR) return status;
        SetIf(retDataModified, TimeOf(data));
        SetIf(retNonDataModified, TimeOf(nonData));
        return NOERROR;
    });
}

STATUS LNPUBLIC NSFDbPathGet(DBHANDLE hDB, char* retCanonicalPath, char* retExpandedPath) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Store* store = StoreOf(hDB);
        if (store == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFDbPathGet database handle");
        const std::string& path = store->Path();
        std::string directory = DataDirectory() + "/";
        bool inside = path.compare(0, directory.size(), directory) == 0;
        if (retCanonicalPath != nullptr)
            CopyText(inside ? path.substr(directory.size()) : path, retCanonicalPath, kPathOutputSize);
        if (retExpandedPath != nullptr) CopyText(path, retExpandedPath, kPathOutputSize);
        return NOERROR;
    });
}

STATUS LNPUBLIC NSFDbReplicaInfoGet(DBHANDLE hDB, DBREPLICAINFO* retReplicationInfo) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Store* store = StoreOf(hDB);
        if (store == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFDbReplicaInfoGet database handle");
        if (retReplicationInfo == nullptr) return Fail(ERR_BAD_PARAM, "NSFDbReplicaInfoGet without a buffer");
        DBREPLICAINFO info{};
        STATUS status = store->ReadReplicaId(&info.ID);
        if (status == NOERROR) *retReplicationInfo = info;
        return status;
    });
}

STATUS LNPUBLIC NSFDbInfoGet(DBHANDLE hDB, char* retBuffer) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Store* store = StoreOf(hDB);
        if (store == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFDbInfoGet database handle");
        if (retBuffer == nullptr) return Fail(ERR_BAD_PARAM, "NSFDbInfoGet without a buffer");
        std::string info;
        STATUS status = store->ReadInfo(&info);
        if (status == NOERROR) CopyText(info, retBuffer, NSF_INFO_SIZE);
        return status;
    });
}

STATUS LNPUBLIC NSFDbInfoSet(DBHANDLE hDB, const char* buffer) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Store* store = StoreOf(hDB);
        if (store == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFDbInfoSet database handle");
        if (buffer == nullptr) return Fail(ERR_BAD_PARAM, "NSFDbInfoSet without a buffer");
        if (strnlen(buffer, NSF_INFO_SIZE) > kMaxInfoLength)
            return Fail(ERR_NSF_INFO_SIZE, "information of " + store->Path());
        return WriteInfo(*store, buffer);
    });
}

void LNPUBLIC NSFDbInfoParse(const char* info, WORD what, char* buffer, WORD length) {
    if (buffer == nullptr) return;
    buffer[0] = '\0';
    if (info == nullptr || what > INFOPARSE_DESIGN_CLASS) return;
    Guarded<int>(0, [&] {
        CopyText(ParseInfo(info).part[what], buffer, (size_t)length + 1);
        return 0;
    });
}

void LNPUBLIC NSFDbInfoModify(char* info, WORD what, const char* buffer) {
    if (info == nullptr || what > INFOPARSE_DESIGN_CLASS) return;
    Guarded<int>(0, [&] {
        InfoParts parts = ParseInfo(info);
        parts.part[what] = buffer ? buffer : "";
        // A value too long for the buffer is cut rather than overrunning it.
        std::string joined = JoinInfo(parts);
        size_t excess = joined.size() > kMaxInfoLength ? joined.size() - kMaxInfoLength : 0;
        parts.part[what].resize(parts.part[what].size() - std::min(excess, parts.part[what].size()));
        CopyText(JoinInfo(parts).substr(0, kMaxInfoLength), info, NSF_INFO_SIZE);
        return 0;
    });
}

}  // extern "C"
