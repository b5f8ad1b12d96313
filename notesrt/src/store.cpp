// store.cpp - the SQLite schema, connection set-up, statements and row
// reads and writes of one database file.
//
// A file is taken for one of our databases only when its SQLite header
// carries our application id and its schema version is one we know; the
// check only reads, so a foreign file is never written. New files are
// built under a temporary name and linked into place when complete, with
// the runtime's file mode (platform.h). A file this process may only read is
// opened read-only: reads work, writes answer ERR_NOACCESS. Item values
// are stored in little-endian order whatever the host (valueorder.h).
#include "store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <set>
#include <thread>

#include "env.h"
#include "fault.h"
#include "nrt_fault.h"
#include "nsfdb.h"
#include "platform.h"
#include "status.h"
#include "timeutil.h"
#include "unsynced.h"
#include "valueorder.h"
#include "walvfs.h"

namespace nrt {
namespace {

constexpr int kApplicationId = 0x4E534644;  // "NSFD"
// Version 2 added the replica ID; files of version 1 are upgraded when
// they are opened for writing.
constexpr int kSchemaVersion = 2;
constexpr int kOldestSchemaVersion = 1;
constexpr int kPageSize = 2048;
constexpr int kDefaultBusyTimeoutMs = 10000;
constexpr NOTEID kFirstNoteId = RRV_ALIGNMENT;
// A change waits at most this many hundredths for the clock to pass its
// note's previous change.
constexpr int64_t kMaxClockWaitTicks = 3;
// Group commit (see store.h): a write this soon after the previous one
// opens a group, which is committed at this many documents or this age,
// after which the lock stays free this long. The flusher looks at open
// groups this often. A writer waiting for the lock tries every kBusyRetry,
// so that it takes a lock left free for a moment, and after kBusyQuickly
// every kBusySlowRetry.
constexpr auto kStreak = std::chrono::milliseconds(5);
constexpr int kGroupDocuments = 1000;
constexpr auto kGroupAge = std::chrono::milliseconds(20);
constexpr auto kGiveWay = std::chrono::microseconds(500);
constexpr auto kFlusherPeriod = std::chrono::milliseconds(4);
constexpr auto kBusyRetry = std::chrono::microseconds(100);
constexpr auto kBusyQuickly = std::chrono::milliseconds(50);
constexpr auto kBusySlowRetry = std::chrono::milliseconds(2);
// Connections parked at most (see store.h); each keeps its pages.
constexpr size_t kParkedStores = 4;

const char kSchema[] =
    "CREATE TABLE database("
    "  id INTEGER PRIMARY KEY CHECK (id = 1),"
    "  schema_version INTEGER NOT NULL,"
    "  info BLOB NOT NULL,"
    "  last_sequence_ticks INTEGER NOT NULL,"
    "  next_note_id INTEGER NOT NULL,"
    "  data_modified_ticks INTEGER NOT NULL,"
    "  nondata_modified_ticks INTEGER NOT NULL,"
    "  replica_id INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE notes("
    "  note_id INTEGER PRIMARY KEY,"
    "  class INTEGER NOT NULL,"
    "  unid_file INTEGER NOT NULL,"
    "  unid_note INTEGER NOT NULL,"
    "  sequence INTEGER NOT NULL,"
    "  sequence_ticks INTEGER NOT NULL,"
    "  deleted INTEGER NOT NULL);"
    // The creation time leads so that new UNIDs land at the index's end.
    "CREATE UNIQUE INDEX notes_by_unid ON notes(unid_note, unid_file);"
    // Covers the change listings, so they read only the index's tail.
    "CREATE INDEX notes_by_sequence ON notes(sequence_ticks, class, deleted, sequence, unid_file,"
    "  unid_note);"
    "CREATE TABLE items("
    "  note_id INTEGER NOT NULL,"
    "  position INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  flags INTEGER NOT NULL,"
    "  value BLOB NOT NULL,"
    "  modified_ticks INTEGER NOT NULL,"
    "  PRIMARY KEY (note_id, position)) WITHOUT ROWID;";

const char kNoteColumns[] =
    "note_id, class, unid_file, unid_note, sequence, sequence_ticks, deleted";

// A note's items go in with one statement of up to this many rows, which
// costs far less than one statement per item.
constexpr size_t kItemsPerInsert = 32;

// The insert of rows items (1 to kItemsPerInsert); the text stays put, so
// that the statement cache can key on it.
const char* ItemInsertSql(size_t rows) {
    static const std::vector<std::string> statements = [] {
        std::vector<std::string> all(kItemsPerInsert + 1);
        for (size_t count = 1; count <= kItemsPerInsert; ++count) {
            all[count] = "INSERT INTO items VALUES (?, ?, ?, ?, ?, ?, ?)";
            for (size_t more = 1; more < count; ++more) all[count] += ", (?, ?, ?, ?, ?, ?, ?)";
        }
        return all;
    }();
    return statements[rows].c_str();
}

// A new database's replica ID: the date of its creation, as a replica ID
// reads, with random bits where the time of day would be, so that two
// databases made within one hundredth differ.
TIMEDATE NewReplicaId() {
    TIMEDATE id = TimedateFromTicks(CurrentTicks());
    id.Innards[0] = RandomTimedate().Innards[0];
    return id;
}

int64_t PackTimedate(const TIMEDATE& td) {
    return (int64_t)(((uint64_t)td.Innards[1] << 32) | td.Innards[0]);
}

TIMEDATE UnpackTimedate(int64_t packed) {
    TIMEDATE td;
    td.Innards[0] = (DWORD)((uint64_t)packed & 0xFFFFFFFFu);
    td.Innards[1] = (DWORD)((uint64_t)packed >> 32);
    return td;
}

std::atomic<bool> g_taskGroupsCommits{false};

bool GroupsCommits() {
    std::string value;
    if (IniSetting("DbGroupCommit", &value)) return std::strtol(value.c_str(), nullptr, 10) != 0;
    return g_taskGroupsCommits.load();
}

int BusyTimeoutMs() {
    std::string value;
    if (IniSetting("DbBusyTimeout", &value)) {
        long ms = std::strtol(value.c_str(), nullptr, 10);
        if (ms > 0) return (int)ms;
    }
    return kDefaultBusyTimeoutMs;
}

std::string TemporaryNameFor(const std::string& path) {
    return path + ".creating-" + std::to_string(ProcessId()) + "-" + std::to_string(RandomNumber());
}

void RemoveDatabaseFiles(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        RemoveFile(path + suffix);
        RemoveFile(UnsyncedPath(path + suffix));
    }
}

// The log and shared-memory files stay beside a database for its whole life
// (see Configure): a reader that may not write the directory cannot make
// them, and SQLite reads a database in WAL mode only with them. A new
// database gets them empty, with its own mode; without them it still works
// for those who may write, so a failure here is no failure of the creation.
void CreateLogFiles(const std::string& path) {
    for (const char* suffix : {"-wal", "-shm"}) {
        int fd = OpenCreating(path + suffix, O_WRONLY);
        if (fd >= 0) ::close(fd);
    }
}

// The process's one thread that commits groups whose writer is busy
// elsewhere. Started with the first group; it and its set live as long as
// the process, so that no exit path destroys them under the thread. A fork
// waits for the thread's turn to end, so that a forked child finds no lock
// taken by it (the child has no such thread).
class GroupFlusher {
public:
    static GroupFlusher& Instance() {
        static GroupFlusher* flusher = new GroupFlusher;
        return *flusher;
    }
    GroupFlusher() {
        AtFork([] { Instance().mutex_.lock(); }, [] { Instance().mutex_.unlock(); },
               [] { Instance().mutex_.unlock(); });
    }
    void Add(Store* store) {
        std::lock_guard<std::mutex> lock(mutex_);
        stores_.insert(store);
        if (startedIn_ == ProcessId()) return;
        startedIn_ = ProcessId();  // a forked child starts its own
        std::thread([this] { Run(); }).detach();
    }
    void Remove(Store* store) {
        std::lock_guard<std::mutex> lock(mutex_);
        stores_.erase(store);
    }

private:
    void Run() {
        for (;;) {
            std::this_thread::sleep_for(kFlusherPeriod);
            std::lock_guard<std::mutex> lock(mutex_);
            for (Store* store : stores_) store->FlushGroupIfIdle();
        }
    }
    std::mutex mutex_;
    std::set<Store*> stores_;
    unsigned long startedIn_ = 0;
};

}  // namespace

// A cached statement with its bindings; resets the statement when done.
// Holds the connection for its life (see Store::mutex_).
class Query {
public:
    Query(Store& store, const char* sql) : lock_(store.mutex_), store_(store) {
        status_ = store.Prepared(sql, &stmt_);
    }
    ~Query() {
        if (stmt_ != nullptr) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& Bind(int64_t value) {
        if (stmt_ != nullptr) sqlite3_bind_int64(stmt_, ++bound_, value);
        return *this;
    }
    Query& BindBlob(const std::string& value) {
        if (stmt_ != nullptr)
            sqlite3_bind_blob(stmt_, ++bound_, value.data(), (int)value.size(), SQLITE_STATIC);
        return *this;
    }
    // True while rows come; a failure ends the rows and sets Status().
    bool Next() {
        if (status_ != NOERROR) return false;
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) status_ = store_.Failed(rc, sqlite3_sql(stmt_));
        return false;
    }
    STATUS Run() {
        while (Next()) {
        }
        return status_;
    }
    STATUS Status() const { return status_; }
    int ResultCode() const { return stmt_ ? sqlite3_extended_errcode(store_.db_) : SQLITE_ERROR; }

    int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::string Blob(int column) const {
        const void* bytes = sqlite3_column_blob(stmt_, column);
        int size = sqlite3_column_bytes(stmt_, column);
        return bytes ? std::string((const char*)bytes, (size_t)size) : std::string();
    }

private:
    std::lock_guard<std::recursive_mutex> lock_;
    Store& store_;
    sqlite3_stmt* stmt_ = nullptr;
    STATUS status_ = NOERROR;
    int bound_ = 0;
};

namespace {

NoteRow RowFrom(const Query& query, int first) {
    NoteRow row;
    row.id = (NOTEID)query.Int(first);
    row.noteClass = (WORD)query.Int(first + 1);
    row.unid.File = UnpackTimedate(query.Int(first + 2));
    row.unid.Note = UnpackTimedate(query.Int(first + 3));
    row.sequence = (DWORD)query.Int(first + 4);
    row.sequenceTicks = query.Int(first + 5);
    row.deleted = query.Int(first + 6) != 0;
    return row;
}

StoredItem ItemFrom(const Query& query, int first) {
    StoredItem item;
    item.name = query.Blob(first);
    item.type = (WORD)query.Int(first + 1);
    item.flags = (WORD)query.Int(first + 2);
    item.data = query.Blob(first + 3);
    StoredToHostOrder(item.type, &item.data);
    item.modifiedTicks = query.Int(first + 4);
    return item;
}

// Room for the items of a usual note, so that reading one grows no vector.
constexpr size_t kItemsPerNote = 32;

// The item's value in the file's byte order: the value itself on a
// little-endian host, else a converted copy kept in copies, whose elements
// stay put while the statement that binds them runs.
const std::string& StoredValue(const StoredItem& item, std::deque<std::string>* copies) {
    if (kHostIsLittleEndian) return item.data;
    copies->push_back(item.data);
    HostToStoredOrder(item.type, &copies->back());
    return copies->back();
}

// The row and items of one note in one statement, so that both come from
// one snapshot; the condition on the note follows the WHERE.
const char kNoteWithItems[] =
    "SELECT n.note_id, n.class, n.unid_file, n.unid_note, n.sequence, n.sequence_ticks, "
    "n.deleted, i.name, i.type, i.flags, i.value, i.modified_ticks "
    "FROM notes n LEFT JOIN items i ON i.note_id = n.note_id WHERE ";

STATUS CollectNoteWithItems(Query& query, NoteRow* row, std::vector<StoredItem>* items,
                            bool* found) {
    items->clear();
    items->reserve(kItemsPerNote);
    *found = false;
    while (query.Next()) {
        if (!*found) *row = RowFrom(query, 0);
        *found = true;
        if (!query.IsNull(7)) items->push_back(ItemFrom(query, 7));
    }
    return query.Status();
}

}  // namespace

Store::~Store() {
    GroupFlusher::Instance().Remove(this);
    if (group_.open) FlushGroup();  // what the writer was told is written stays
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    if (db_ != nullptr) sqlite3_close_v2(db_);
}

STATUS Store::Failed(int rc, const char* what) {
    if (db_ == nullptr) return StatusFromSqlite(rc, std::string(what) + " in " + path_);
    int extended = sqlite3_extended_errcode(db_);
    return StatusFromSqlite((extended & 0xFF) == (rc & 0xFF) ? extended : rc, std::string(what) + " in " + path_,
                            sqlite3_errmsg(db_), sqlite3_system_errno(db_));
}

STATUS Store::Connect(int flags) {
    int rc = sqlite3_open_v2(path_.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, GatheringVfsName());
    if (rc != SQLITE_OK) return Failed(rc, "open");
    ReadSettings();
    sqlite3_busy_handler(db_, WaitWhileBusy, this);
    return NOERROR;
}

void Store::ReadSettings() {
    busyTimeout_ = std::chrono::milliseconds(BusyTimeoutMs());
    groupsCommits_ = GroupsCommits();
}

bool Store::IdentityOf(const std::string& path, FileIdentity* identity) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return false;
    *identity = FileIdentity{(uint64_t)info.st_dev, (uint64_t)info.st_ino, (uint32_t)info.st_uid,
                             (uint32_t)info.st_gid, (uint32_t)info.st_mode};
    return true;
}

// The parked connections of this process (see store.h). A forked child
// leaves its parent's alone: they are the parent's to use and close.
class ParkedStores {
public:
    static ParkedStores& Instance() {
        static ParkedStores* parked = new ParkedStores;  // outlives the exit handler
        return *parked;
    }

    void Park(std::unique_ptr<Store> store) {
        std::unique_ptr<Store> oldest;
        std::lock_guard<std::mutex> lock(mutex_);
        AdoptProcessLocked();
        if (!closesAtExit_) closesAtExit_ = std::atexit([] { Instance().CloseAll(); }) == 0;
        store->readsAsOfListings_ = false;
        stores_.push_back(std::move(store));
        if (stores_.size() <= kParkedStores) return;
        oldest = std::move(stores_.front());
        stores_.pop_front();
    }

    // The parked connection of the file, when it is still the same one
    // (identity; null takes none); the path's other connections are closed.
    bool Take(const std::string& path, const Store::FileIdentity* identity, std::unique_ptr<Store>* store) {
        std::vector<std::unique_ptr<Store>> stale;
        std::lock_guard<std::mutex> lock(mutex_);
        AdoptProcessLocked();
        for (auto it = stores_.begin(); it != stores_.end();) {
            if ((*it)->path_ != path) {
                ++it;
            } else if (identity != nullptr && (*it)->identity_ == *identity) {
                *store = std::move(*it);
                stores_.erase(it);
                (*store)->ReadSettings();
                return true;
            } else {
                stale.push_back(std::move(*it));
                it = stores_.erase(it);
            }
        }
        return false;
    }

    void CloseAll() {
        std::deque<std::unique_ptr<Store>> closing;
        std::lock_guard<std::mutex> lock(mutex_);
        AdoptProcessLocked();
        closing.swap(stores_);
    }

private:
    void AdoptProcessLocked() {
        if (owner_ == ProcessId()) return;
        for (std::unique_ptr<Store>& inherited : stores_) inherited.release();
        stores_.clear();
        owner_ = ProcessId();
    }

    std::mutex mutex_;
    std::deque<std::unique_ptr<Store>> stores_;
    unsigned long owner_ = 0;
    bool closesAtExit_ = false;
};

void Store::Park(std::unique_ptr<Store> store) {
    bool fit = store->groupsCommits_ && store->lostWrites_ == NOERROR && !store->group_.open && !store->pinned_ &&
               store->heldReads_ == 0 && sqlite3_get_autocommit(store->db_) != 0;
    if (fit) ParkedStores::Instance().Park(std::move(store));
}

void Store::CloseParked() { ParkedStores::Instance().CloseAll(); }

// Tries again soon and often, so that a lock left free for a moment after
// another writer's group is taken; gives up after the busy timeout.
int Store::WaitWhileBusy(void* context, int attempts) {
    Store* store = static_cast<Store*>(context);
    Clock::time_point now = Clock::now();
    if (attempts == 0) store->busySince_ = now;
    if (now - store->busySince_ >= store->busyTimeout_) return 0;
    std::this_thread::sleep_for(now - store->busySince_ < kBusyQuickly ? kBusyRetry : kBusySlowRetry);
    return 1;
}

STATUS Store::Exec(const char* sql) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    char* message = nullptr;
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    STATUS status = NOERROR;
    if (rc != SQLITE_OK)
        status = StatusFromSqlite(sqlite3_extended_errcode(db_), std::string(sql).substr(0, 40) + " in " + path_,
                                  message, sqlite3_system_errno(db_));
    sqlite3_free(message);
    return status;
}

STATUS Store::Prepared(const char* sql, sqlite3_stmt** statement) {
    auto it = statements_.find(sql);
    if (it != statements_.end()) {
        *statement = it->second;
        return NOERROR;
    }
    int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, statement, nullptr);
    if (rc != SQLITE_OK) return Failed(rc, "prepare");
    statements_.emplace(sql, *statement);
    return NOERROR;
}

// Only reads: a file that fails here is left exactly as it was.
STATUS Store::Verify() {
    int applicationId = 0;
    {
        Query query(*this, "PRAGMA application_id");
        if (query.Next()) applicationId = (int)query.Int(0);
        if (query.Status() != NOERROR) return query.Status();
    }
    if (applicationId != kApplicationId) return Fail(ERR_NOT_NSF, "open " + path_);
    int64_t version = 0;
    {
        Query query(*this, "SELECT schema_version FROM database WHERE id = 1");
        if (query.Next()) version = query.Int(0);
        // A file without the table is another program's; a busy, damaged or
        // unreadable file says so.
        if (query.Status() != NOERROR)
            return sqlite3_errcode(db_) == SQLITE_ERROR ? Fail(ERR_NOT_NSF, "open " + path_) : query.Status();
    }
    if (version < kOldestSchemaVersion || version > kSchemaVersion)
        return Fail(ERR_NOT_NSF, "open " + path_ + ": schema version " + std::to_string(version));
    schemaVersion_ = (int)version;
    return NOERROR;
}

// A file of version 1 gets its replica ID. A file that cannot be written
// now (read-only, locked) stays as it is and answers a zero replica ID.
void Store::Upgrade() {
    if (schemaVersion_ >= kSchemaVersion) return;
    WriteTransaction transaction(*this);
    int64_t version = 0;
    STATUS status = transaction.Begin();
    if (status == NOERROR) {
        Query query(*this, "SELECT schema_version FROM database WHERE id = 1");
        if (query.Next()) version = query.Int(0);
        status = query.Status();
    }
    if (status == NOERROR && version == 1)
        status = Exec("ALTER TABLE database ADD COLUMN replica_id INTEGER NOT NULL DEFAULT 0");
    if (status == NOERROR && version == 1) {
        Query update(*this, "UPDATE database SET schema_version = ?, replica_id = ? WHERE id = 1");
        status = update.Bind(kSchemaVersion).Bind(PackTimedate(NewReplicaId())).Run();
    }
    if (status == NOERROR) status = transaction.Commit();
    if (status == NOERROR) schemaVersion_ = kSchemaVersion;
    ClearLastError();
}

STATUS Store::Configure() {
    STATUS status = Exec("PRAGMA journal_mode = WAL");
    if (status == NOERROR) status = Exec("PRAGMA synchronous = NORMAL");
    // Folding the log back into the file costs two flushes to disk; doing it
    // every 32 MB rather than every 4 MB keeps single-note commits cheap.
    if (status == NOERROR) status = Exec("PRAGMA wal_autocheckpoint = 8192");
    if (status == NOERROR) status = Exec("PRAGMA journal_size_limit = 67108864");
    // 8 MB of pages a connection: a pass's reads and appends stay near the
    // ends of the trees, and a pass holds three connections.
    if (status == NOERROR) status = Exec("PRAGMA cache_size = -8192");
    // The last connection to close empties the log instead of deleting it and
    // the shared-memory file, so that readers who may not write can open the
    // database at any time (SQLite then maps the shared memory read-only).
    int persist = 1;
    if (status == NOERROR) sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    return status;
}

STATUS Store::Open(const std::string& path, std::unique_ptr<Store>* store, Connection connection) {
    STATUS injected = NOERROR;
    if (FaultHit(NRT_FAULT_OPEN, &injected)) return Fail(injected, "open " + path);
    FileIdentity identity;
    bool reusable = connection == Connection::kParkedOrNew && IdentityOf(path, &identity);
    if (ParkedStores::Instance().Take(path, reusable ? &identity : nullptr, store)) return NOERROR;
    std::unique_ptr<Store> opened(new Store(path));
    opened->identity_ = identity;
    STATUS status = opened->Connect(SQLITE_OPEN_READWRITE);
    if (status == NOERROR) status = opened->Verify();
    if (status == NOERROR) status = opened->Configure();
    if (status != NOERROR) return status;
    opened->Upgrade();
    *store = std::move(opened);
    return NOERROR;
}

STATUS Store::Create(const std::string& path, const std::string& info) {
    STATUS injected = NOERROR;
    if (FaultHit(NRT_FAULT_OPEN, &injected)) return Fail(injected, "create " + path);
    int error = MakeDirectories(path.substr(0, path.rfind('/')));
    if (error != 0) return StatusFromErrno(error, "create directory for " + path);

    std::string temporary = TemporaryNameFor(path);
    // The file has the runtime's mode before anything is written to it.
    int fd = OpenCreating(temporary, O_RDWR | O_EXCL);
    if (fd < 0) return StatusFromErrno(errno, "create " + path);
    ::close(fd);
    STATUS status;
    {
        Store building(temporary);
        status = building.Connect(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        // Nobody sees the file before it is complete, so it is built without
        // a journal and flushed to disk once at the end. Every update of a
        // note logs the handful of pages it touches (row, two indexes, items,
        // counters) whole: pages of 2 KiB log half the bytes of the default
        // 4 KiB and still hold a note's usual items without overflow.
        std::string setup = "PRAGMA page_size = " + std::to_string(kPageSize) + ";" +
                            "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
                            "PRAGMA application_id = " + std::to_string(kApplicationId) + ";" +
                            "BEGIN;" + kSchema + "COMMIT;";
        if (status == NOERROR) status = building.Exec(setup.c_str());
        if (status == NOERROR) {
            int64_t now = CurrentTicks();
            Query insert(building, "INSERT INTO database VALUES (1, ?, ?, ?, ?, ?, ?, ?)");
            insert.Bind(kSchemaVersion).BindBlob(info).Bind(now).Bind(kFirstNoteId).Bind(now).Bind(now);
            insert.Bind(PackTimedate(NewReplicaId()));
            status = insert.Run();
        }
        if (status == NOERROR) status = building.Exec("PRAGMA journal_mode = WAL");
    }  // closing the only connection folds the log back into the file
    if (status == NOERROR) status = SyncFile(temporary);
    int linked = status == NOERROR ? LinkNewName(temporary, path) : 0;
    if (linked != 0) status = StatusFromErrno(linked, "create " + path);
    RemoveDatabaseFiles(temporary);
    if (status == NOERROR) CreateLogFiles(path);
    // The new names themselves survive a power cut.
    if (status == NOERROR) status = SyncFile(std::filesystem::path(path).parent_path().string());
    return status;
}

STATUS Store::Run(const char* sql) {
    Query query(*this, sql);
    return query.Run();
}

STATUS Store::BeginRead() {
    mutex_.lock();
    if (group_.open || pinned_) {
        heldReads_++;
        return NOERROR;
    }
    STATUS status = Run("BEGIN");
    // The snapshot starts with the first read, so take one now.
    if (status == NOERROR) {
        Query query(*this, "SELECT last_sequence_ticks FROM database WHERE id = 1");
        status = query.Run();
        if (status != NOERROR) RollbackTransaction();
    }
    if (status != NOERROR) mutex_.unlock();
    return status;
}

void Store::EndRead() {
    if (heldReads_ > 0) heldReads_--;
    else RollbackTransaction();
    mutex_.unlock();
}

void Store::PinSnapshot() {
    if (!readsAsOfListings_ || Run("BEGIN") != NOERROR) return;
    Query query(*this, "SELECT last_sequence_ticks FROM database WHERE id = 1");
    pinned_ = query.Run() == NOERROR;
    if (!pinned_) RollbackTransaction();
}

void Store::Unpin() {
    if (!pinned_) return;
    pinned_ = false;
    ForgetListing();
    RollbackTransaction();
}

void Store::KeepListing(std::vector<NoteRow>&& rows) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!pinned_) return;
    listed_ = std::move(rows);
    std::sort(listed_.begin(), listed_.end(), [](const NoteRow& a, const NoteRow& b) { return a.id < b.id; });
}

bool Store::ListedNote(NOTEID id, NoteRow* row) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto it = std::lower_bound(listed_.begin(), listed_.end(), id,
                               [](const NoteRow& listed, NOTEID wanted) { return listed.id < wanted; });
    if (it == listed_.end() || it->id != id) return false;
    *row = *it;
    return true;
}

void Store::ForgetListing() { std::vector<NoteRow>().swap(listed_); }

// A write that follows the previous one closely opens a group, unless the
// lock is being left free after the last one.
STATUS Store::OpenGroupIfWriting() {
    Clock::time_point now = Clock::now();
    if (!groupsCommits_ || now - lastWriteEnd_ > kStreak) return NOERROR;
    STATUS status = Run("BEGIN IMMEDIATE");
    if (status != NOERROR) return status;
    group_ = Group();
    group_.open = true;
    group_.began = now;
    GroupFlusher::Instance().Add(this);
    return NOERROR;
}

bool Store::GroupDue() const {
    return group_.documents >= kGroupDocuments || Clock::now() - group_.began >= kGroupAge;
}

STATUS Store::BeginWrite(Grouping grouping) {
    mutex_.lock();
    Unpin();
    STATUS status = NOERROR;
    if (group_.open && (grouping == Grouping::kAlone || GroupDue())) status = FlushGroup();
    if (Clock::now() < freeUntil_) std::this_thread::sleep_until(freeUntil_);
    if (status == NOERROR && !group_.open && grouping == Grouping::kMayGroup) status = OpenGroupIfWriting();
    if (status == NOERROR) status = Run(group_.open ? "SAVEPOINT document" : "BEGIN IMMEDIATE");
    if (status != NOERROR) {
        mutex_.unlock();
        return status;
    }
    group_.inDocument = group_.open;
    return NOERROR;
}

STATUS Store::Commit() {
    STATUS status = NOERROR;
    if (FaultHit(NRT_FAULT_COMMIT, &status)) {
        Rollback();
        return Fail(status, "commit " + path_);
    }
    bool inGroup = group_.inDocument;
    status = Run(inGroup ? "RELEASE document" : "COMMIT");
    if (status != NOERROR) {
        Rollback();
        return status;
    }
    group_.inDocument = false;
    if (inGroup) group_.documents++;
    else wrote_ = true;
    if (inGroup && GroupDue()) status = FlushGroup();
    lastWriteEnd_ = Clock::now();
    mutex_.unlock();
    return status;
}

void Store::Rollback() {
    if (group_.inDocument) {
        Run("ROLLBACK TO document");
        Run("RELEASE document");
        group_.inDocument = false;
    } else {
        RollbackTransaction();
    }
    mutex_.unlock();
}

void Store::RollbackTransaction() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (sqlite3_get_autocommit(db_) == 0) Run("ROLLBACK");
}

STATUS Store::FlushGroup() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    group_ = Group();
    freeUntil_ = Clock::now() + kGiveWay;
    STATUS status = Run("COMMIT");
    if (status != NOERROR) RollbackTransaction();
    wrote_ = wrote_ || status == NOERROR;
    if (status == NOERROR) status = SyncLog();
    if (status != NOERROR && lostWrites_ == NOERROR) lostWrites_ = status;
    return status;
}

void Store::FlushGroupIfIdle() {
    std::unique_lock<std::recursive_mutex> lock(mutex_, std::try_to_lock);
    if (lock.owns_lock() && group_.open && !group_.inDocument && heldReads_ == 0 && GroupDue()) FlushGroup();
}

STATUS Store::SyncWrites() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Unpin();
    STATUS status = group_.open ? FlushGroup() : SyncLog();
    return lostWrites_ != NOERROR ? lostWrites_ : status;
}

STATUS Store::SyncLog() {
    if (!wrote_) return NOERROR;
    sqlite3_file* file = nullptr;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_JOURNAL_POINTER, &file);
    if (file == nullptr || file->pMethods == nullptr)
        sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file);
    int rc = file != nullptr && file->pMethods != nullptr ? file->pMethods->xSync(file, SQLITE_SYNC_NORMAL)
                                                           : SQLITE_OK;
    if (rc != SQLITE_OK) return Failed(rc, "flush to disk");
    wrote_ = false;
    return NOERROR;
}

STATUS Store::ReadNote(NOTEID id, NoteRow* row, bool* found) {
    static const std::string sql = std::string("SELECT ") + kNoteColumns + " FROM notes WHERE note_id = ?";
    Query query(*this, sql.c_str());
    query.Bind(id);
    *found = query.Next();
    if (*found) *row = RowFrom(query, 0);
    return query.Status();
}

STATUS Store::ReadItems(NOTEID id, std::vector<StoredItem>* items) {
    Query query(*this,
                "SELECT name, type, flags, value, modified_ticks FROM items "
                "WHERE note_id = ? ORDER BY position");
    query.Bind(id);
    items->clear();
    while (query.Next()) items->push_back(ItemFrom(query, 0));
    return query.Status();
}

STATUS Store::ReadNoteWithItems(NOTEID id, NoteRow* row, std::vector<StoredItem>* items,
                                bool* found) {
    ForgetListing();
    static const std::string sql = std::string(kNoteWithItems) + "n.note_id = ? ORDER BY i.position";
    Query query(*this, sql.c_str());
    query.Bind(id);
    return CollectNoteWithItems(query, row, items, found);
}

STATUS Store::ReadNoteWithItems(const UNIVERSALNOTEID& unid, NoteRow* row,
                                std::vector<StoredItem>* items, bool* found) {
    ForgetListing();
    static const std::string sql =
        std::string(kNoteWithItems) + "n.unid_note = ? AND n.unid_file = ? ORDER BY i.position";
    Query query(*this, sql.c_str());
    query.Bind(PackTimedate(unid.Note)).Bind(PackTimedate(unid.File));
    return CollectNoteWithItems(query, row, items, found);
}

STATUS Store::FindNoteId(const UNIVERSALNOTEID& unid, NOTEID* id, bool* found) {
    Query query(*this, "SELECT note_id FROM notes WHERE unid_note = ? AND unid_file = ?");
    query.Bind(PackTimedate(unid.Note)).Bind(PackTimedate(unid.File));
    *found = query.Next();
    if (*found) *id = (NOTEID)query.Int(0);
    return query.Status();
}

STATUS Store::ListNotes(WORD classMask, ChangeWindow window, int64_t afterTicks,
                        std::vector<NoteRow>* rows) {
    static const std::string select = std::string("SELECT ") + kNoteColumns + " FROM notes ";
    static const std::string everything =
        select + "WHERE (class & ?) != 0 ORDER BY sequence_ticks, note_id";
    static const std::string live =
        select + "WHERE (class & ?) != 0 AND deleted = 0 ORDER BY sequence_ticks, note_id";
    static const std::string after =
        select + "WHERE sequence_ticks > ? AND (class & ?) != 0 ORDER BY sequence_ticks, note_id";
    const std::string& sql = window == ChangeWindow::kEverything ? everything
                             : window == ChangeWindow::kLiveOnly ? live
                                                                 : after;
    Query query(*this, sql.c_str());
    if (window == ChangeWindow::kAfter) query.Bind(afterTicks);
    query.Bind(classMask);
    rows->clear();
    while (query.Next()) rows->push_back(RowFrom(query, 0));
    return query.Status();
}

int64_t Counters::SequenceTicksFor(int64_t previousTicks) const {
    auto now = [this] { return std::max(CurrentTicks(), listedUntilTicks + 1); };
    int64_t ticks = now();
    if (ticks > previousTicks) return ticks;
    if (previousTicks - ticks < kMaxClockWaitTicks) {
        SleepUntilTicks(previousTicks + 1);
        ticks = now();
        if (ticks > previousTicks) return ticks;
    }
    return previousTicks + 1;
}

NOTEID Counters::TakeNoteId() {
    NOTEID id = nextNoteId;
    nextNoteId += RRV_ALIGNMENT;
    return id;
}

STATUS Store::ReadCounters(Counters* counters) {
    Query query(*this, "SELECT last_sequence_ticks, next_note_id FROM database WHERE id = 1");
    if (!query.Next()) return query.Status() != NOERROR ? query.Status() : Fail(ERR_DB_CORRUPT, path_);
    counters->listedUntilTicks = query.Int(0);
    counters->nextNoteId = (NOTEID)query.Int(1);
    return NOERROR;
}

// The modified times only move forward: a change whose time is earlier
// (another note's, with a clock set back) leaves them where they are.
STATUS Store::WriteCounters(const Counters& counters, bool data, int64_t ticks) {
    Query query(*this, data ? "UPDATE database SET next_note_id = ?, "
                              "data_modified_ticks = max(data_modified_ticks, ?) WHERE id = 1"
                            : "UPDATE database SET next_note_id = ?, "
                              "nondata_modified_ticks = max(nondata_modified_ticks, ?) WHERE id = 1");
    return query.Bind(counters.nextNoteId).Bind(ticks).Run();
}

STATUS Store::RaiseListedUntil(int64_t ticks) {
    Query query(*this,
                "UPDATE database SET last_sequence_ticks = max(last_sequence_ticks, ?) WHERE id = 1");
    return query.Bind(ticks).Run();
}

STATUS Store::LatestTicks(int64_t* ticks) {
    Query query(*this,
                "SELECT max((SELECT max(sequence_ticks) FROM notes), last_sequence_ticks, "
                "data_modified_ticks, nondata_modified_ticks) FROM database WHERE id = 1");
    if (!query.Next()) return query.Status() != NOERROR ? query.Status() : Fail(ERR_DB_CORRUPT, path_);
    *ticks = query.Int(0);
    return NOERROR;
}

namespace {

// Failures of the locked listing that the plain snapshot gets around: the
// write lock held by another writer too long, a file this connection may
// not write, or no room to record the until-time.
bool ListableWithoutLock(STATUS status) {
    return ERR(status) == ERR_DB_BUSY || ERR(status) == ERR_NOACCESS || ERR(status) == ERR_DISK_FULL;
}

}  // namespace

STATUS Store::ListChanges(WORD classMask, ChangeWindow window, int64_t afterTicks,
                          std::vector<NoteRow>* rows, int64_t* untilTicks) {
    ForgetListing();
    STATUS status;
    {
        WriteTransaction locked(*this);
        status = locked.Begin();
        int64_t latest = 0;
        if (status == NOERROR) status = ListNotes(classMask, window, afterTicks, rows);
        if (status == NOERROR) status = LatestTicks(&latest);
        if (status == NOERROR) *untilTicks = std::max(CurrentTicks(), latest);
        if (status == NOERROR) status = RaiseListedUntil(*untilTicks);
        if (status == NOERROR) status = locked.Commit();
    }
    if (ListableWithoutLock(status)) status = ListFromSnapshot(classMask, window, afterTicks, rows, untilTicks);
    if (status == NOERROR) PinSnapshot();
    return status;
}

// Without the write lock a change may be committing while the snapshot is
// read. Its time is later than every listing's until-time (the floor), and
// no earlier than the latest change the snapshot shows, since writers take
// their times in turn under the write lock from a clock that moves forward.
// So the listing's until-time is the floor or the hundredth before that
// latest change, whichever is later. The changes of the latest hundredth
// are listed all the same (a reader sees everything committed), and the
// next listing lists them again with whatever was committing beside them:
// at least once, never lost. A clock set back while this happens can break the
// second bound; the locked listing does not depend on the clock.
STATUS Store::ListFromSnapshot(WORD classMask, ChangeWindow window, int64_t afterTicks,
                               std::vector<NoteRow>* rows, int64_t* untilTicks) {
    ReadTransaction snapshot(*this);
    STATUS status = snapshot.Begin();
    Counters counters;
    if (status == NOERROR) status = ReadCounters(&counters);
    if (status == NOERROR) status = ListNotes(classMask, window, afterTicks, rows);
    int64_t latestNote = 0;
    if (status == NOERROR) {
        Query query(*this, "SELECT max(sequence_ticks) FROM notes");
        if (query.Next()) latestNote = query.Int(0);
        status = query.Status();
    }
    if (status != NOERROR) return status;
    *untilTicks = std::max({counters.listedUntilTicks, latestNote - 1, afterTicks});
    return NOERROR;
}

STATUS Store::WriteNoteRow(const NoteRow& row) {
    Query query(*this,
                "INSERT INTO notes VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (note_id) DO UPDATE SET "
                "class = excluded.class, sequence = excluded.sequence, "
                "sequence_ticks = excluded.sequence_ticks, deleted = excluded.deleted");
    query.Bind(row.id).Bind(row.noteClass).Bind(PackTimedate(row.unid.File));
    query.Bind(PackTimedate(row.unid.Note)).Bind(row.sequence).Bind(row.sequenceTicks);
    query.Bind(row.deleted ? 1 : 0);
    STATUS status = query.Run();
    if (status != NOERROR && query.ResultCode() == SQLITE_CONSTRAINT_UNIQUE)
        return Fail(ERR_FILE_EXISTS, "UNID already in use in " + path_);
    return status;
}

STATUS Store::InsertItems(NOTEID id, const std::vector<StoredItem>& items) {
    int64_t position = 0;
    for (size_t first = 0; first < items.size(); first += kItemsPerInsert) {
        size_t rows = std::min(kItemsPerInsert, items.size() - first);
        Query insert(*this, ItemInsertSql(rows));
        std::deque<std::string> converted;
        for (size_t n = first; n < first + rows; ++n) {
            const StoredItem& item = items[n];
            insert.Bind(id).Bind(position++).BindBlob(item.name).Bind(item.type).Bind(item.flags);
            insert.BindBlob(StoredValue(item, &converted)).Bind(item.modifiedTicks);
        }
        STATUS status = insert.Run();
        if (status != NOERROR) return status;
    }
    return NOERROR;
}

STATUS Store::RemoveItems(NOTEID id) {
    Query query(*this, "DELETE FROM items WHERE note_id = ?");
    return query.Bind(id).Run();
}

STATUS Store::RemoveNote(NOTEID id) {
    STATUS status = RemoveItems(id);
    if (status != NOERROR) return status;
    Query query(*this, "DELETE FROM notes WHERE note_id = ?");
    return query.Bind(id).Run();
}

STATUS Store::CheckIntegrity() {
    std::string finding;
    {
        Query query(*this, "PRAGMA quick_check(1)");
        if (query.Next()) finding = query.Blob(0);
        if (query.Status() != NOERROR) return query.Status();
    }
    if (finding != "ok") return Fail(ERR_DB_CORRUPT, "check " + path_ + ": " + finding);
    // The rows make sense together: no note beyond the next note ID.
    Query query(*this, "SELECT count(*) FROM notes, database WHERE note_id >= next_note_id");
    if (query.Next() && query.Int(0) != 0)
        return Fail(ERR_DB_CORRUPT, "check " + path_ + ": note IDs beyond the next one to be given");
    return query.Status();
}

STATUS Store::ReadReplicaId(TIMEDATE* id) {
    *id = TIMEDATE{};
    if (schemaVersion_ < 2) return NOERROR;
    Query query(*this, "SELECT replica_id FROM database WHERE id = 1");
    if (query.Next()) *id = UnpackTimedate(query.Int(0));
    return query.Status();
}

STATUS Store::WriteReplicaId(const TIMEDATE& id) {
    Query query(*this, "UPDATE database SET replica_id = ? WHERE id = 1");
    return query.Bind(PackTimedate(id)).Run();
}

STATUS Store::ReadInfo(std::string* info) {
    Query query(*this, "SELECT info FROM database WHERE id = 1");
    if (query.Next()) *info = query.Blob(0);
    return query.Status();
}

STATUS Store::WriteInfo(const std::string& info) {
    Query query(*this, "UPDATE database SET info = ? WHERE id = 1");
    return query.BindBlob(info).Run();
}

STATUS Store::ModifiedTicks(int64_t* data, int64_t* nonData) {
    Query query(*this, "SELECT data_modified_ticks, nondata_modified_ticks FROM database WHERE id = 1");
    if (query.Next()) {
        *data = query.Int(0);
        *nonData = query.Int(1);
    }
    return query.Status();
}

Database::~Database() {
    if (scanLockFd >= 0) ::close(scanLockFd);  // releases the scan lock
}

void GroupCommitsOfThisProcess() { g_taskGroupsCommits = true; }

HandleTable<Database>& Databases() {
    static HandleTable<Database> table;
    return table;
}

}  // namespace nrt
