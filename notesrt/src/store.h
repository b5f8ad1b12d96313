// store.h - the SQLite layer under databases, notes and items.
//
// One Store is one connection to one database file (one per open database
// handle). It owns the schema, the prepared statements and the
// transactions, and reads and writes rows; what an update means (sequence
// numbers, $UpdatedBy, item times) is decided by note.cpp, and the API
// calls live in nsfdb.cpp, nsfnote.cpp, nsfitem.cpp and nsfsearch.cpp.
// Times are kept as ticks (see timeutil.h). A Store, like the database
// handle that owns it, serves one thread at a time.
#ifndef NOTESRT_SRC_STORE_H
#define NOTESRT_SRC_STORE_H

#include <cstdint>
#include <memory>
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
    // Opens an existing database file; ERR_NOT_NSF when the file is not one
    // of ours (nothing is written to it then).
    static STATUS Open(const std::string& path, std::unique_ptr<Store>* store);
    // Creates a new database file holding the information buffer. The file
    // appears complete or not at all; ERR_FILE_EXISTS when it is there.
    static STATUS Create(const std::string& path, const std::string& info);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::string& Path() const { return path_; }

    // Transactions. A read transaction pins one snapshot; a write
    // transaction waits for other writers up to the busy timeout.
    STATUS BeginRead();
    STATUS BeginWrite();
    // Commits (subject to fault injection); on failure rolls back. A
    // commit survives the process being killed; it survives a power cut
    // once SyncWrites has returned.
    STATUS Commit();
    void Rollback();
    // Makes every commit of this connection so far durable on disk: one
    // flush of the log (or of the file, without one).
    STATUS SyncWrites();

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

private:
    friend class Query;
    explicit Store(const std::string& path) : path_(path) {}
    STATUS Connect(int flags);
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

    std::string path_;
    sqlite3* db_ = nullptr;
    bool wrote_ = false;  // a commit since the last SyncWrites
    int schemaVersion_ = 0;
    std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

// Commits or rolls back a write transaction on every way out of a scope.
class WriteTransaction {
public:
    explicit WriteTransaction(Store& store) : store_(store) {}
    ~WriteTransaction() {
        if (open_) store_.Rollback();
    }
    STATUS Begin() {
        STATUS status = store_.BeginWrite();
        open_ = status == NOERROR;
        return status;
    }
    STATUS Commit() {
        open_ = false;
        return store_.Commit();
    }

private:
    Store& store_;
    bool open_ = false;
};

// Ends a read transaction on every way out of a scope.
class ReadTransaction {
public:
    explicit ReadTransaction(Store& store) : store_(store) {}
    ~ReadTransaction() {
        if (open_) store_.Rollback();
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
