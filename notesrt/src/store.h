// store.h - the SQLite layer under databases, notes and items.
//
// One Store is one connection to one database file (one per open database
// handle). It owns the schema, the prepared statements and the
// transactions, and reads and writes rows; what an update means (sequence
// numbers, $UpdatedBy, item times) is decided by note.cpp, and the API
// calls live in nsfdb.cpp, nsfnote.cpp, nsfitem.cpp and nsfsearch.cpp.
// Times are kept as ticks (see timeutil.h). A Store, like the database
// handle that owns it, serves one thread at a time; the one other thread
// that may touch it is the group flusher (below), which waits its turn.
//
// Group commit: in a server task (and in any program whose notes.ini says
// DbGroupCommit=1; DbGroupCommit=0 turns it off), a connection that writes
// notes in a row (a second note update or deletion within a few
// milliseconds of the previous one) gathers the next
// updates into one transaction, each update a savepoint of its own, and
// commits and syncs the group when it holds 1,000 updates, when it is
// 20 ms old (a thread of the process sees to that while
// the writer is busy elsewhere), and when the handle is synced or closed.
// So another writer of the file waits for the lock about that long at
// most, and after each group the writer leaves the lock free for a moment
// so that a waiting writer gets it. An update that returned is in the
// process until its group is committed, and on disk, safe from a power
// cut, once the group is synced; a group that fails to commit or sync is
// reported by the next write and by SyncWrites, so that its writer knows
// what it wrote may be lost. A single update, and every other write
// (information, copies, listings), commits on its own.
//
// Parking: in a process whose connections group their commits, a
// connection whose handle closed with everything it wrote synced is kept
// (parked) for the next open of the same file in the same process, instead
// of being closed. Opening a connection prepares its
// statements anew, and closing the last one folds the log back into the
// file and empties it, which costs two flushes to disk (and the next
// write to the emptied log two more); a publication pass opens and closes
// the configuration database for every item it reads or writes. A parked
// connection is taken again only while its file is the same one (device,
// inode, owner and mode unchanged), and never by an open that checks the
// file for damage, which reads it afresh; the oldest is closed when more
// than a few are parked, and every one at exit and before a simulated
// reboot.
#ifndef NOTESRT_SRC_STORE_H
#define NOTESRT_SRC_STORE_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "global.h"
#include "handles.h"

struct sqlite3;
struct sqlite3_stmt;

namespace nrt {

// One item as stored: the value without its leading type WORD.
struct StoredItem {
    std::string name;
    WORD type = 0;
    WORD flags = 0;
    std::string data;
    int64_t modifiedTicks = 0;
};

// The row of one note.
struct NoteRow {
    NOTEID id = 0;
    WORD noteClass = 0;
    UNIVERSALNOTEID unid{};
    DWORD sequence = 0;
    int64_t sequenceTicks = 0;
    bool deleted = false;
};

// Which notes a change listing asks for.
enum class ChangeWindow {
    kEverything,  // every note, stubs included
    kLiveOnly,    // every live note
    kAfter,       // notes whose sequence time is later than the given time
};

// What a database hands out: sequence times and note IDs.
//
// A change's sequence time is the clock's hundredth, so the times keep to
// the wall clock however fast changes come, and changes of different notes
// may share a hundredth. Two rules keep every change listing exact (see
// Store::ListChanges): a change is later than the until-time of every
// listing before it (listedUntilTicks), and later than its own note's
// previous change, so that an item changed by it is later than any time
// the note was published at.
struct Counters {
    // Every sequence time given from now on is later than this: the
    // until-time of the latest listing, or the latest time of notes copied in.
    int64_t listedUntilTicks = 0;
    NOTEID nextNoteId = 0;

    // The sequence time of a change made now to a note whose previous change
    // is at previousTicks (0 for a new note). When the note changed already
    // in the clock's current hundredth, waits (inside the write transaction)
    // for the clock to pass it; a clock set back by more than a few
    // hundredths is not waited for, and the change then takes the hundredth
    // after the note's previous one, ahead of the clock until it catches up.
    int64_t SequenceTicksFor(int64_t previousTicks) const;
    NOTEID TakeNoteId();
};

class Store {
public:
    // Opens an existing database file, with a parked connection when there
    // is one and afresh is not asked for; ERR_NOT_NSF when the file is not
    // one of ours (nothing is written to it then).
    enum class Connection { kParkedOrNew, kNew };
    static STATUS Open(const std::string& path, std::unique_ptr<Store>* store,
                       Connection connection = Connection::kParkedOrNew);
    // Creates a new database file holding the information buffer. The file
    // appears complete or not at all; ERR_FILE_EXISTS when it is there.
    static STATUS Create(const std::string& path, const std::string& info);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::string& Path() const { return path_; }

    // Parks the connection of a handle that closed, or closes it when it
    // is not fit to be taken again (a failed group, a transaction open).
    static void Park(std::unique_ptr<Store> store);
    // Closes every parked connection of this process.
    static void CloseParked();

    // Transactions. A read transaction pins one snapshot (inside an open
    // group, the group's); a write transaction waits for other writers up
    // to the busy timeout. A write that may join a group is a note's
    // update or deletion; any other write commits the open group first and
    // then commits on its own.
    enum class Grouping { kAlone, kMayGroup };
    STATUS BeginRead();
    void EndRead();
    STATUS BeginWrite(Grouping grouping = Grouping::kAlone);
    // Commits (subject to fault injection); on failure rolls back. A
    // commit on its own survives the process being killed; one in a group
    // once the group is committed. Either survives a power cut once its
    // group is synced or SyncWrites has returned.
    STATUS Commit();
    void Rollback();
    // Makes every write of this connection so far durable on disk: commits
    // the open group, then one flush of the log (or of the file, without
    // one). Answers the failure of any group that could not be committed or
    // synced since the connection was opened.
    STATUS SyncWrites();
    // The group flusher's turn: commits the open group when it is due and
    // the connection is not in use.
    void FlushGroupIfIdle();
    // From now on, reads outside transactions come from the snapshot of
    // the latest change listing (see above).
    void ReadAsOfListings() { readsAsOfListings_ = true; }

    // Rows. found is false (with NOERROR) when the note does not exist.
    STATUS ReadNote(NOTEID id, NoteRow* row, bool* found);
    STATUS ReadItems(NOTEID id, std::vector<StoredItem>* items);
    // Row and items from one snapshot, found by note ID or by UNID.
    STATUS ReadNoteWithItems(NOTEID id, NoteRow* row, std::vector<StoredItem>* items,
                             bool* found);
    STATUS ReadNoteWithItems(const UNIVERSALNOTEID& unid, NoteRow* row,
                             std::vector<StoredItem>* items, bool* found);
    STATUS FindNoteId(const UNIVERSALNOTEID& unid, NOTEID* id, bool* found);
    // Notes of the classes in the window, in ascending sequence time (note
    // ID order within one hundredth).
    STATUS ListNotes(WORD classMask, ChangeWindow window, int64_t afterTicks,
                     std::vector<NoteRow>* rows);
    // A change listing: the notes of ListNotes and the until-time that the
    // listing covers, such that every change committed later is later than
    // it. It is taken under the write lock, so that no change is half
    // committed, and leaves its until-time as the floor of later sequence
    // times. When the lock cannot be had (another writer holds it longer
    // than the busy time-out, the file is read-only, the disk is full), the
    // listing comes from a plain snapshot, whose until-time lies before the
    // latest hundredth, so that the next listing lists that hundredth again
    // (see ListFromSnapshot).
    STATUS ListChanges(WORD classMask, ChangeWindow window, int64_t afterTicks,
                       std::vector<NoteRow>* rows, int64_t* untilTicks);
    // While reads are as of the latest listing, its rows answer the note
    // information of the notes it listed, without a statement each: a pass
    // reads the information of every listed note before it opens any. They
    // are let go at the first note read with its items, at the next write
    // or listing, and when the snapshot ends.
    void KeepListing(std::vector<NoteRow>&& rows);
    // The listed row of the note; false when the listing kept has none.
    bool ListedNote(NOTEID id, NoteRow* row);

    // Writes; call inside a write transaction.
    STATUS ReadCounters(Counters* counters);
    // Stores the next note ID and records a change of data (documents) or
    // of the rest at ticks.
    STATUS WriteCounters(const Counters& counters, bool data, int64_t ticks);
    // Later sequence times are later than ticks.
    STATUS RaiseListedUntil(int64_t ticks);
    // Inserts or replaces the row; ERR_FILE_EXISTS when a new row's UNID
    // is taken by another note.
    STATUS WriteNoteRow(const NoteRow& row);
    STATUS InsertItems(NOTEID id, const std::vector<StoredItem>& items);
    STATUS RemoveItems(NOTEID id);
    STATUS RemoveNote(NOTEID id);

    // A quick check of the whole file (every page read, the rows
    // consistent); ERR_DB_CORRUPT with the first finding when it is damaged.
    STATUS CheckIntegrity();
    // The replica ID: zero for a file of the first version that could not
    // be upgraded. WriteReplicaId inside a write transaction.
    STATUS ReadReplicaId(TIMEDATE* id);
    STATUS WriteReplicaId(const TIMEDATE& id);
    STATUS ReadInfo(std::string* info);
    STATUS WriteInfo(const std::string& info);
    STATUS ModifiedTicks(int64_t* data, int64_t* nonData);

    // What tells one file from another that took its name.
    struct FileIdentity {
        uint64_t device = 0, inode = 0;
        uint32_t owner = 0, group = 0, mode = 0;
        bool operator==(const FileIdentity& other) const {
            return device == other.device && inode == other.inode && owner == other.owner &&
                   group == other.group && mode == other.mode;
        }
    };
    // False when the file cannot be looked at.
    static bool IdentityOf(const std::string& path, FileIdentity* identity);

private:
    friend class Query;
    friend class ParkedStores;
    explicit Store(const std::string& path) : path_(path) {}
    STATUS Connect(int flags);
    // The settings that notes.ini may change between opens.
    void ReadSettings();
    STATUS Verify();
    STATUS Configure();
    void Upgrade();
    STATUS Exec(const char* sql);
    STATUS Run(const char* sql);  // a cached statement without parameters
    STATUS Prepared(const char* sql, sqlite3_stmt** statement);
    STATUS Failed(int rc, const char* what);
    // The latest time the database holds: of its notes, its listings and
    // its modifications.
    STATUS LatestTicks(int64_t* ticks);
    STATUS ListFromSnapshot(WORD classMask, ChangeWindow window, int64_t afterTicks,
                            std::vector<NoteRow>* rows, int64_t* untilTicks);
    static int WaitWhileBusy(void* store, int attempts);
    void PinSnapshot();
    void Unpin();
    void ForgetListing();
    STATUS OpenGroupIfWriting();
    bool GroupDue() const;
    // Commits and syncs the open group; a failure is kept in lostWrites_.
    STATUS FlushGroup();
    STATUS SyncLog();
    void RollbackTransaction();

    std::string path_;
    FileIdentity identity_;
    sqlite3* db_ = nullptr;
    bool wrote_ = false;  // a commit since the last SyncWrites
    // Held from a transaction's beginning to its end and for every
    // statement, so that the flusher commits only between documents.
    std::recursive_mutex mutex_;
    using Clock = std::chrono::steady_clock;
    struct Group {
        bool open = false;
        bool inDocument = false;  // a savepoint of the group is open
        int documents = 0;
        Clock::time_point began;
    } group_;
    bool groupsCommits_ = false;
    bool readsAsOfListings_ = false;
    bool pinned_ = false;  // the snapshot of the latest listing is held
    int heldReads_ = 0;    // read transactions inside the group or the pinned snapshot
    std::vector<NoteRow> listed_;  // the pinned listing's rows by note ID (KeepListing)
    Clock::time_point lastWriteEnd_;  // when the latest write transaction ended
    Clock::time_point freeUntil_;     // the lock is left free until then after a group
    Clock::time_point busySince_;
    std::chrono::milliseconds busyTimeout_{0};
    STATUS lostWrites_ = NOERROR;  // the first group that failed
    int schemaVersion_ = 0;
    std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

// Commits or rolls back a write transaction on every way out of a scope.
class WriteTransaction {
public:
    explicit WriteTransaction(Store& store, Store::Grouping grouping = Store::Grouping::kAlone)
        : store_(store), grouping_(grouping) {}
    ~WriteTransaction() {
        if (open_) store_.Rollback();
    }
    STATUS Begin() {
        STATUS status = store_.BeginWrite(grouping_);
        open_ = status == NOERROR;
        return status;
    }
    STATUS Commit() {
        open_ = false;
        return store_.Commit();
    }

private:
    Store& store_;
    Store::Grouping grouping_;
    bool open_ = false;
};

// Ends a read transaction on every way out of a scope.
class ReadTransaction {
public:
    explicit ReadTransaction(Store& store) : store_(store) {}
    ~ReadTransaction() {
        if (open_) store_.EndRead();
    }
    STATUS Begin() {
        STATUS status = store_.BeginRead();
        open_ = status == NOERROR;
        return status;
    }

private:
    Store& store_;
    bool open_ = false;
};

// An open database handle: its connection and, when asked for, the scan
// lock it holds.
struct Database {
    std::unique_ptr<Store> store;
    int scanLockFd = -1;
    ~Database();
};

HandleTable<Database>& Databases();

// Connections opened from now on group their commits (see Store), unless
// notes.ini says otherwise: called when a server task starts.
void GroupCommitsOfThisProcess();

// Runs the body of an API call; an exception (running out of memory is the
// one expected) ends the call with onException instead of crossing the API.
template <typename Result, typename Body>
Result Guarded(Result onException, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return onException;
    }
}

}  // namespace nrt

#endif
