// nsfdb_test.cpp - databases: creating, opening and refusing files, the
// information buffer, note information, copies, the scan lock, a second
// process on the same file, a writer held up too long, failed opens.
#include <sqlite3.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>

#include "storetest.h"

namespace fs = std::filesystem;

class DbFileTest : public StoreTest {
protected:
    // Opening the file must fail with the status and leave it byte for byte as it was.
    void ExpectRefused(const char* name, const std::string& bytes, STATUS expected) {
        testenv::WriteFile(DataPath(name), bytes);
        DBHANDLE db = 123;
        STATUS status = NSFDbOpen(name, &db);
        EXPECT_EQ(expected, status) << name;
        EXPECT_EQ(NULLHANDLE, db);
        EXPECT_FALSE(ErrorText(status).empty());
        EXPECT_EQ(bytes, testenv::ReadFile(DataPath(name))) << name;
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dataDir_)) names.push_back(entry.path().filename().string());
        return names;
    }
};

TEST_F(DbFileTest, CreatesLowerCaseFileFoundWithoutRegardToCase) {
    ASSERT_EQ(NOERROR, NSFDbCreate("Sub/OUT.NSF", DBCLASS_NOTEFILE, FALSE));
    EXPECT_TRUE(fs::exists(DataPath("sub/out.nsf")));
    DBHANDLE db = OpenDb("SUB\\Out.Nsf");
    ASSERT_NE(NULLHANDLE, db);
    DBHANDLE again = OpenDb("sub/out");  // ".nsf" may be left out
    EXPECT_NE(NULLHANDLE, again);
    char canonical[256], expanded[256];
    ASSERT_EQ(NOERROR, NSFDbPathGet(db, canonical, expanded));
    EXPECT_STREQ("sub/out.nsf", canonical);
    EXPECT_EQ(ERR_FILE_EXISTS, NSFDbCreate("sub/out.nsf", DBCLASS_NOTEFILE, FALSE));
}

TEST_F(DbFileTest, TitleTravelsThroughTheInformationBuffer) {
    DBHANDLE db = CreateDb("names.nsf", "Acme Directory");
    char info[NSF_INFO_SIZE];
    NSFDbInfoModify(info, INFOPARSE_DESIGN_CLASS, "StdR4PublicAddressBook");
    ASSERT_EQ(NOERROR, NSFDbInfoGet(db, info));
    NSFDbInfoModify(info, INFOPARSE_DESIGN_CLASS, "StdR4PublicAddressBook");
    NSFDbInfoModify(info, INFOPARSE_CATEGORIES, "Directories");
    EXPECT_STREQ("Acme Directory\nDirectories\n#2StdR4PublicAddressBook", info);
    ASSERT_EQ(NOERROR, NSFDbInfoSet(db, info));
    CloseDb(db);

    DBHANDLE reopened = OpenDb("names.nsf");
    char stored[NSF_INFO_SIZE], title[NSF_INFO_SIZE], design[NSF_INFO_SIZE];
    ASSERT_EQ(NOERROR, NSFDbInfoGet(reopened, stored));
    NSFDbInfoParse(stored, INFOPARSE_TITLE, title, NSF_INFO_SIZE - 1);
    NSFDbInfoParse(stored, INFOPARSE_DESIGN_CLASS, design, NSF_INFO_SIZE - 1);
    EXPECT_STREQ("Acme Directory", title);
    EXPECT_STREQ("StdR4PublicAddressBook", design);
    NSFDbInfoParse(stored, INFOPARSE_TITLE, title, 4);
    EXPECT_STREQ("Acme", title);
}

TEST_F(DbFileTest, InformationBufferNeverOverflows) {
    DBHANDLE db = CreateDb();
    std::string tooLong(NSF_INFO_SIZE, 'x');
    EXPECT_EQ(ERR_NSF_INFO_SIZE, NSFDbInfoSet(db, tooLong.c_str()));
    char info[NSF_INFO_SIZE] = "short\n#2Design";
    NSFDbInfoModify(info, INFOPARSE_TITLE, tooLong.c_str());
    EXPECT_EQ(NSF_INFO_SIZE - 1, (int)std::strlen(info));
    char design[NSF_INFO_SIZE];
    NSFDbInfoParse(info, INFOPARSE_DESIGN_CLASS, design, NSF_INFO_SIZE - 1);
    EXPECT_STREQ("Design", design);  // the long title was cut, not the rest
    EXPECT_EQ(NOERROR, NSFDbInfoSet(db, info));
}

TEST_F(DbFileTest, RefusesFilesThatAreNotDatabasesWithoutTouchingThem) {
    ExpectRefused("random.nsf", std::string("\x01\x02garbage\xff\x00 bytes", 18), ERR_NOT_NSF);
    ExpectRefused("empty.nsf", "", ERR_NOT_NSF);
    sqlite3* other = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(DataPath("other.nsf").c_str(), &other));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "CREATE TABLE t(x); INSERT INTO t VALUES (1);", nullptr, nullptr, nullptr));
    sqlite3_close(other);
    ExpectRefused("other.nsf", testenv::ReadFile(DataPath("other.nsf")), ERR_NOT_NSF);
    EXPECT_FALSE(fs::exists(DataPath("other.nsf-wal")));
    // A file in the way of a new database is named for what it is.
    CreateDb("source.nsf");
    DBHANDLE copy = NULLHANDLE;
    EXPECT_EQ(ERR_NOT_NSF, NSFDbCreate("random.nsf", DBCLASS_NOTEFILE, FALSE));
    EXPECT_EQ(ERR_NOT_NSF, NSFDbCreate("random.nsf", DBCLASS_NOTEFILE, TRUE));
    EXPECT_EQ(ERR_NOT_NSF, NSFDbCreateAndCopy("source.nsf", "empty.nsf", NOTE_CLASS_VIEW, 0, 0, &copy));
    EXPECT_EQ(ERR_FILE_EXISTS, NSFDbCreate("source.nsf", DBCLASS_NOTEFILE, FALSE));
    EXPECT_EQ("", testenv::ReadFile(DataPath("empty.nsf")));
    EXPECT_EQ(18u, testenv::ReadFile(DataPath("random.nsf")).size());
}

TEST_F(DbFileTest, RefusesMissingAbsoluteAndClimbingPaths) {
    DBHANDLE db = 7;
    EXPECT_EQ(ERR_NOEXIST, NSFDbOpen("missing.nsf", &db));
    EXPECT_EQ(NULLHANDLE, db);
    EXPECT_FALSE(fs::exists(DataPath("missing.nsf")));
    EXPECT_EQ(ERR_BAD_PATH, NSFDbOpen((dataDir_ + "/x.nsf").c_str(), &db));
    EXPECT_EQ(ERR_BAD_PATH, NSFDbOpen("../x.nsf", &db));
    EXPECT_EQ(ERR_BAD_PATH, NSFDbCreate("sub/../../x.nsf", DBCLASS_NOTEFILE, FALSE));
    fs::create_directory(DataPath("dir.nsf"));
    EXPECT_EQ(ERR_DIRECTORY, NSFDbOpen("dir.nsf", &db));
    EXPECT_EQ(ERR_BAD_PARAM, NSFDbOpen(nullptr, &db));
    EXPECT_EQ(ERR_BAD_PARAM, NSFDbOpen("x.nsf", nullptr));
    for (STATUS status : {ERR_NOEXIST, ERR_BAD_PATH, ERR_DIRECTORY, ERR_NOT_NSF})
        EXPECT_FALSE(ErrorText(status).empty()) << status;
}

TEST_F(DbFileTest, LinksMayLeadAnywhereInsideButNeverOut) {
#ifdef _WIN32
    GTEST_SKIP() << "making links on Windows needs a privilege the tests do not have";
#else
    std::string outside = testenv::MakeTempDir("outside");
    ASSERT_FALSE(outside.empty());
    fs::create_directory(DataPath("inner"));
    fs::create_directory_symlink(outside, DataPath("lo"));
    fs::create_directory_symlink("inner", DataPath("li"));
    fs::create_symlink(outside + "/evil.nsf", DataPath("dangling.nsf"));
    fs::create_symlink("inner/later.nsf", DataPath("later.nsf"));
    fs::create_directory_symlink(outside + "/missing/../..", DataPath("climb"));
    ASSERT_EQ(NOERROR, NSFDbCreate("inner/real.nsf", DBCLASS_NOTEFILE, FALSE));

    // Through links that stay inside: found, and created where they lead.
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpen("LI/REAL.NSF", &db));
    char canonical[256], expanded[256];
    ASSERT_EQ(NOERROR, NSFDbPathGet(db, canonical, expanded));
    EXPECT_STREQ("inner/real.nsf", canonical);
    NSFDbClose(db);
    EXPECT_EQ(NOERROR, NSFDbCreate("later.nsf", DBCLASS_NOTEFILE, FALSE));
    EXPECT_TRUE(fs::is_regular_file(DataPath("inner/later.nsf")));

    // Out of the data directory: refused as ".." is, for every way in, and
    // nothing is made outside.
    for (const char* name : {"lo/evil.nsf", "LO/EVIL.NSF", "dangling.nsf", "climb/x.nsf", "lo/sub/x.nsf"}) {
        EXPECT_EQ(ERR_BAD_PATH, NSFDbCreate(name, DBCLASS_NOTEFILE, FALSE)) << name;
        EXPECT_EQ(ERR_BAD_PATH, NSFDbOpen(name, &db)) << name;
        EXPECT_EQ(ERR_BAD_PATH, NSFDbCreateAndCopy("inner/real.nsf", name, NOTE_CLASS_VIEW, 0, 0, &db)) << name;
        EXPECT_EQ(ERR_BAD_PATH, NSFDbDelete(name)) << name;
    }
    EXPECT_TRUE(fs::is_empty(outside));
    fs::remove_all(outside);
#endif
}

TEST_F(DbFileTest, NewFilesAreTheOwnersOnlyUnlessTheGroupMayRead) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files have no owner and group mode bits";
#else
    mode_t umaskBefore = umask(0);  // the runtime's modes do not depend on it
    auto modeOf = [&](const std::string& name) { return fs::status(DataPath(name)).permissions(); };
    const fs::perms owner = fs::perms::owner_read | fs::perms::owner_write;
    const fs::perms group = owner | fs::perms::group_read;
    ASSERT_EQ(NOERROR, NSFDbCreate("sub/a.nsf", DBCLASS_NOTEFILE, FALSE));
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpenExtended("sub/a.nsf", DBOPEN_WITH_SCAN_LOCK, NULLHANDLE, nullptr, &db, nullptr, nullptr));
    SaveDoc(db);
    NSFDbClose(db);
    for (const char* name : {"sub/a.nsf", "sub/a.nsf-wal", "sub/a.nsf-shm", "sub/a.nsf-scanlock"})
        EXPECT_EQ(owner, modeOf(name)) << name;
    EXPECT_EQ(fs::perms::owner_all, modeOf("sub"));

    testenv::WriteFile(DataPath("notes.ini"), "GroupReadable=1\n");
    ASSERT_EQ(NOERROR, NRTSetDataDirectory(dataDir_.c_str()));
    ASSERT_EQ(NOERROR, NSFDbCreateAndCopy("sub/a.nsf", "new/b.nsf", NOTE_CLASS_VIEW, 0, 0, &db));
    NSFDbClose(db);
    for (const char* name : {"new/b.nsf", "new/b.nsf-wal", "new/b.nsf-shm"}) EXPECT_EQ(group, modeOf(name)) << name;
    EXPECT_EQ(fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec, modeOf("new"));
    umask(umaskBefore);
#endif
}

// A reader who may read the files but not write them or the directory
// (an auditor): every read works, also while the owner writes, and every
// write is refused.
TEST_F(DbFileTest, ReaderWhoMayNotWriteReadsWhileTheOwnerWrites) {
#ifdef _WIN32
    GTEST_SKIP() << "acts as a second local user through fork and setuid";
#else
    SKIP_UNLESS_ROOT();
    DBHANDLE db = CreateDb();
    NOTEID first = SaveDoc(db);
    for (const char* name : {"", "test.nsf", "test.nsf-wal", "test.nsf-shm"})
        fs::permissions(DataPath(name), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    auto readAsAuditor = [&](size_t documents) {
        return testenv::AsOtherUser([&] {
            DBHANDLE hDB = NULLHANDLE;
            if (NSFDbOpen("test.nsf", &hDB) != NOERROR) return 1;
            char info[NSF_INFO_SIZE] = "";
            if (NSFDbInfoGet(hDB, info) != NOERROR || std::string(info) != "Test") return 2;
            DHANDLE table = NULLHANDLE;
            TIMEDATE wildcard{{0xFFFFFFFF, 0xFFFFFFFF}}, until;
            if (NSFDbGetModifiedNoteTable(hDB, NOTE_CLASS_DOCUMENT, wildcard, &until, &table) != NOERROR) return 3;
            size_t listed = Ids(table).size();
            IDDestroyTable(table);
            if (listed != documents) return 4;
            NOTEHANDLE note = NULLHANDLE;
            if (NSFNoteOpen(hDB, first, 0, &note) != NOERROR) return 5;
            if (NSFNoteUpdate(note, 0) != ERR_NOACCESS) return 6;
            NSFNoteClose(note);
            if (NSFDbInfoSet(hDB, info) != ERR_NOACCESS) return 7;
            return NSFDbClose(hDB) == NOERROR ? 0 : 8;
        });
    };
    SaveDoc(db);  // the owner's change is still in the log
    EXPECT_EQ(0, readAsAuditor(2));
    CloseDb(db);  // the last connection folds the log into the file
    EXPECT_EQ(0, readAsAuditor(2));
    EXPECT_TRUE(fs::exists(DataPath("test.nsf-shm")));
#endif
}

TEST_F(DbFileTest, StaleHandlesAndNullArgumentsAreRefused) {
    DBHANDLE db = CreateDb();
    char info[NSF_INFO_SIZE];
    EXPECT_EQ(ERR_INVALID_HANDLE, NSFDbClose(0x7FFFFFF0));
    EXPECT_EQ(ERR_INVALID_HANDLE, NSFDbInfoGet(0x7FFFFFF0, info));
    EXPECT_EQ(ERR_BAD_PARAM, NSFDbInfoGet(db, nullptr));
    EXPECT_EQ(ERR_BAD_PARAM, NSFDbGetModifiedNoteTable(db, NOTE_CLASS_ALL, TIMEDATE{}, nullptr, nullptr));
    NOTEHANDLE note = NewNote(db);
    EXPECT_EQ(ERR_INVALID_HANDLE, NSFDbGetNoteInfo(note, 4, nullptr, nullptr, nullptr));  // a note is no database
}

TEST_F(DbFileTest, NoteInformationOfLiveStubAndUnknownNotes) {
    DBHANDLE db = CreateDb();
    NOTEID id = SaveDoc(db);
    ORIGINATORID oid{};
    TIMEDATE modified{};
    WORD noteClass = 0;
    ASSERT_EQ(NOERROR, NSFDbGetNoteInfo(db, id, &oid, &modified, &noteClass));
    EXPECT_EQ(1u, oid.Sequence);
    EXPECT_TRUE(Same(modified, oid.SequenceTime));
    EXPECT_EQ(NOTE_CLASS_DOCUMENT, noteClass);

    ASSERT_EQ(NOERROR, NSFNoteDelete(db, id, 0));
    ORIGINATORID stub{};
    noteClass = 0;
    EXPECT_EQ(ERR_NOTE_DELETED, NSFDbGetNoteInfo(db, id, &stub, &modified, &noteClass));
    EXPECT_EQ(0, std::memcmp(&oid, &stub, sizeof(UNIVERSALNOTEID)));  // the UNID stays
    EXPECT_EQ(2u, stub.Sequence);
    EXPECT_EQ(NOTE_CLASS_DOCUMENT, noteClass);
    EXPECT_EQ(ERR_INVALID_NOTE, NSFDbGetNoteInfo(db, id | RRV_DELETED, &stub, nullptr, nullptr));
    EXPECT_EQ(ERR_INVALID_NOTE, NSFDbGetNoteInfo(db, 4000, &stub, nullptr, nullptr));

    NOTEID found = 0;
    UNIVERSALNOTEID unid{oid.File, oid.Note};
    EXPECT_EQ(ERR_NOTE_DELETED, NSFDbGetNoteInfoByUNID(db, &unid, &found, nullptr, nullptr, nullptr));
    EXPECT_EQ(id, found);
}

TEST_F(DbFileTest, CreateAndCopyTakesTitleAndOnlyTheAskedClasses) {
    DBHANDLE source = CreateDb("names.nsf", "Acme Directory");
    SaveDoc(source);
    NOTEHANDLE view = NewNote(source);
    WORD viewClass = NOTE_CLASS_VIEW;
    NSFNoteSetInfo(view, _NOTE_CLASS, &viewClass);
    ASSERT_EQ(NOERROR, NSFItemSetText(view, "$Title", "People", MAXWORD));
    ASSERT_EQ(NOERROR, NSFNoteUpdate(view, 0));
    NOTEID viewId = 0;
    NSFNoteGetInfo(view, _NOTE_ID, &viewId);

    DBHANDLE copy = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbCreateAndCopy("names.nsf", "Out.nsf", NOTE_CLASS_VIEW, 0, 0, &copy));
    databases_.push_back(copy);
    EXPECT_TRUE(fs::exists(DataPath("out.nsf")));
    char info[NSF_INFO_SIZE];
    ASSERT_EQ(NOERROR, NSFDbInfoGet(copy, info));
    EXPECT_STREQ("Acme Directory", info);
    DHANDLE table = NULLHANDLE;
    TIMEDATE wildcard{{0xFFFFFFFF, 0xFFFFFFFF}}, until;
    ASSERT_EQ(NOERROR, NSFDbGetModifiedNoteTable(copy, NOTE_CLASS_ALL, wildcard, &until, &table));
    EXPECT_EQ(std::vector<DWORD>{viewId}, Ids(table));
    IDDestroyTable(table);
    // New notes of the copy never reuse a copied ID.
    EXPECT_GT(SaveDoc(copy), viewId);
    EXPECT_EQ(ERR_FILE_EXISTS, NSFDbCreateAndCopy("names.nsf", "out.nsf", NOTE_CLASS_VIEW, 0, 0, &copy));
}

TEST_F(DbFileTest, ScanLockExcludesOnlyOtherScanners) {
#ifdef _WIN32
    GTEST_SKIP() << "the other scanner is a forked child";
#else
    CreateDb();
    DBHANDLE first = NULLHANDLE, second = NULLHANDLE, plain = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpenExtended("test.nsf", DBOPEN_WITH_SCAN_LOCK, NULLHANDLE, nullptr, &first,
                                         nullptr, nullptr));
    EXPECT_EQ(ERR_ALREADY_LOCKED, NSFDbOpenExtended("test.nsf", DBOPEN_WITH_SCAN_LOCK, NULLHANDLE,
                                                    nullptr, &second, nullptr, nullptr));
    EXPECT_EQ(NULLHANDLE, second);
    EXPECT_EQ(NOERROR, NSFDbOpen("test.nsf", &plain));
    EXPECT_EQ(NOERROR, NSFDbClose(plain));
    pid_t child = fork();
    if (child == 0) {
        DBHANDLE other = NULLHANDLE;
        STATUS status = NSFDbOpenExtended("test.nsf", DBOPEN_WITH_SCAN_LOCK, NULLHANDLE, nullptr, &other,
                                          nullptr, nullptr);
        _exit(status == ERR_ALREADY_LOCKED ? 0 : 1);
    }
    int result = -1;
    waitpid(child, &result, 0);
    EXPECT_TRUE(WIFEXITED(result) && WEXITSTATUS(result) == 0);
    ASSERT_EQ(NOERROR, NSFDbClose(first));
    ASSERT_EQ(NOERROR, NSFDbOpenExtended("test.nsf", DBOPEN_WITH_SCAN_LOCK, NULLHANDLE, nullptr, &second,
                                         nullptr, nullptr));
    NSFDbClose(second);
#endif
}

TEST_F(DbFileTest, TwoProcessesWriteOneDatabase) {
#ifdef _WIN32
    GTEST_SKIP() << "the second writer is a forked child";
#else
    CloseDb(CreateDb());  // the child must not inherit open connections
    constexpr int kEach = 40;
    pid_t child = fork();
    if (child == 0) {
        DBHANDLE own = NULLHANDLE;
        bool ok = NSFDbOpen("test.nsf", &own) == NOERROR;
        for (int i = 0; ok && i < kEach; ++i) {
            NOTEHANDLE note = NULLHANDLE;
            ok = NSFNoteCreate(own, &note) == NOERROR &&
                 NSFItemSetText(note, "Writer", "child", MAXWORD) == NOERROR &&
                 NSFNoteUpdate(note, 0) == NOERROR;
            NSFNoteClose(note);
        }
        _exit(ok ? 0 : 1);
    }
    DBHANDLE db = OpenDb();
    for (int i = 0; i < kEach; ++i) SaveDoc(db, "Writer", "parent");
    int result = -1;
    waitpid(child, &result, 0);
    ASSERT_TRUE(WIFEXITED(result) && WEXITSTATUS(result) == 0);
    DHANDLE table = NULLHANDLE;
    TIMEDATE minimum{}, until;
    ASSERT_EQ(NOERROR, NSFDbGetModifiedNoteTable(db, NOTE_CLASS_DOCUMENT, minimum, &until, &table));
    EXPECT_EQ(2u * kEach, IDEntries(table));
    IDDestroyTable(table);
#endif
}

TEST_F(DbFileTest, WriterHeldUpPastTheBusyTimeoutGetsBusyStatus) {
    testenv::WriteFile(DataPath("notes.ini"), "DbBusyTimeout=200\n");
    DBHANDLE db = CreateDb();
    NOTEID id = SaveDoc(db);
    sqlite3* holder = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(DataPath("test.nsf").c_str(), &holder));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
    NOTEHANDLE note = OpenNote(db, id);  // readers are not held up
    ASSERT_EQ(NOERROR, NSFItemSetText(note, "Subject", "changed", MAXWORD));
    EXPECT_EQ(ERR_DB_BUSY, NSFNoteUpdate(note, 0));
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(NOERROR, NSFNoteUpdate(note, 0));  // the handle is still good
}

TEST_F(DbFileTest, FailedOpenOrCreateLeavesNothingBehind) {
    NRTFaultFailNth(NRT_FAULT_OPEN, 1, ERR_IO);
    EXPECT_EQ(ERR_IO, NSFDbCreate("new.nsf", DBCLASS_NOTEFILE, FALSE));
    EXPECT_TRUE(Files().empty());
    CreateDb();
    auto before = Files();
    NRTFaultFailNth(NRT_FAULT_OPEN, 1, ERR_IO);
    DBHANDLE db = 99;
    EXPECT_EQ(ERR_IO, NSFDbOpen("test.nsf", &db));
    EXPECT_EQ(NULLHANDLE, db);
    EXPECT_EQ(before, Files());
    EXPECT_EQ(NOERROR, NSFDbOpen("test.nsf", &db));
    NSFDbClose(db);
}

TEST_F(DbFileTest, FailedReadsAreReportedAndLeaveNothingOpen) {
    DBHANDLE db = CreateDb();
    NOTEID id = SaveDoc(db);
    NRTFaultFailNth(NRT_FAULT_READ, 1, ERR_IO);
    NOTEHANDLE note = 5;
    EXPECT_EQ(ERR_IO, NSFNoteOpen(db, id, 0, &note));
    EXPECT_EQ(NULLHANDLE, note);
    NRTFaultFailNth(NRT_FAULT_READ, 1, ERR_IO);
    DHANDLE table = 5;
    TIMEDATE until{};
    EXPECT_EQ(ERR_IO, NSFDbGetModifiedNoteTable(db, NOTE_CLASS_DOCUMENT, TIMEDATE{}, &until, &table));
    EXPECT_EQ(NULLHANDLE, table);
    NRTFaultFailNth(NRT_FAULT_READ, 1, ERR_IO);
    EXPECT_EQ(ERR_IO, NSFDbGetNoteInfo(db, id, nullptr, nullptr, nullptr));
    EXPECT_EQ(NOERROR, NSFDbGetNoteInfo(db, id, nullptr, nullptr, nullptr));
    EXPECT_NE(NULLHANDLE, OpenNote(db, id));
}

// Every database has a replica ID of its own; a copy made as a replica
// shares it, a database made again under the same name has another.
TEST_F(DbFileTest, ReplicaIdTellsDatabasesApart) {
    auto replicaId = [this](const char* name) {
        DBHANDLE db = OpenDb(name);
        DBREPLICAINFO info{};
        EXPECT_EQ(NOERROR, NSFDbReplicaInfoGet(db, &info));
        CloseDb(db);
        return ((uint64_t)info.ID.Innards[1] << 32) | info.ID.Innards[0];
    };
    CloseDb(CreateDb("a.nsf"));
    CloseDb(CreateDb("b.nsf"));
    uint64_t a = replicaId("a.nsf");
    EXPECT_NE(0u, a);
    EXPECT_NE(a, replicaId("b.nsf"));
    EXPECT_EQ(a, replicaId("a.nsf"));

    DBHANDLE copy = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbCreateAndCopy("a.nsf", "replica.nsf", NOTE_CLASS_VIEW, 0, DBCOPY_REPLICA, &copy));
    NSFDbClose(copy);
    ASSERT_EQ(NOERROR, NSFDbCreateAndCopy("a.nsf", "copy.nsf", NOTE_CLASS_VIEW, 0, 0, &copy));
    NSFDbClose(copy);
    EXPECT_EQ(a, replicaId("replica.nsf"));
    EXPECT_NE(a, replicaId("copy.nsf"));

    ASSERT_EQ(NOERROR, NSFDbDelete("a.nsf"));
    CloseDb(CreateDb("a.nsf"));
    EXPECT_NE(a, replicaId("a.nsf"));
    EXPECT_EQ(ERR_BAD_PARAM, NSFDbReplicaInfoGet(OpenDb("a.nsf"), nullptr));
}

// A file of the first schema version, made before databases had replica
// IDs, opens with its notes and gets one.
TEST_F(DbFileTest, FileOfTheFirstVersionGetsAReplicaId) {
    DBHANDLE db = CreateDb("old.nsf");
    NOTEID id = SaveDoc(db, "Subject", "kept");
    CloseDb(db);
    sqlite3* raw = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(DataPath("old.nsf").c_str(), &raw));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(raw,
                                      "ALTER TABLE database DROP COLUMN replica_id;"
                                      "UPDATE database SET schema_version = 1",
                                      nullptr, nullptr, nullptr))
        << sqlite3_errmsg(raw);
    sqlite3_close(raw);

    db = OpenDb("old.nsf");
    DBREPLICAINFO info{};
    ASSERT_EQ(NOERROR, NSFDbReplicaInfoGet(db, &info));
    EXPECT_NE(0u, info.ID.Innards[0] | info.ID.Innards[1]);
    NOTEHANDLE note = OpenNote(db, id);
    char subject[16] = "";
    NSFItemGetText(note, "Subject", subject, sizeof subject);
    EXPECT_STREQ("kept", subject);
    Close(note);
    CloseDb(db);
    db = OpenDb("old.nsf");
    DBREPLICAINFO again{};
    ASSERT_EQ(NOERROR, NSFDbReplicaInfoGet(db, &again));
    EXPECT_EQ(0, memcmp(&info.ID, &again.ID, sizeof(info.ID)));
}

// Pages of a database overwritten with garbage: a plain open does not
// notice, the open that checks the file refuses it as damaged.
TEST_F(DbFileTest, CheckingOpenRefusesADamagedDatabase) {
    DBHANDLE db = CreateDb("hurt.nsf");
    for (int n = 0; n < 60; ++n) SaveDoc(db, "Body", std::string(900, (char)('a' + n % 26)).c_str());
    CloseDb(db);
    DBHANDLE checked = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpenExtended("hurt.nsf", DBOPEN_FORCE_FIXUP, NULLHANDLE, nullptr, &checked,
                                         nullptr, nullptr));
    NSFDbClose(checked);

    ASSERT_TRUE(testenv::DamagePages(DataPath("hurt.nsf"), 8, 11));
    EXPECT_EQ(ERR_DB_CORRUPT, NSFDbOpenExtended("hurt.nsf", DBOPEN_FORCE_FIXUP, NULLHANDLE, nullptr,
                                                &checked, nullptr, nullptr));
    EXPECT_EQ(NULLHANDLE, checked);
    char detail[256] = "";
    NRTLastErrorDetail(detail, sizeof detail);
    EXPECT_NE(nullptr, strstr(detail, "hurt.nsf")) << detail;
    EXPECT_EQ("Database is damaged", ErrorText(ERR_DB_CORRUPT));

    // The table of tables damaged behind an intact header: a plain open
    // names the file damaged, not another program's file.
    std::string bytes = testenv::ReadFile(DataPath("hurt.nsf"));
    for (size_t at = 100; at < 1024; ++at) bytes[at] = (char)0x5A;
    testenv::WriteFile(DataPath("hurt.nsf"), bytes);
    EXPECT_EQ(ERR_DB_CORRUPT, NSFDbOpen("hurt.nsf", &checked));
}

// Connections of a process that groups its commits (a server task; notes.ini
// turns it on here) are parked when their handle closes and taken again by
// the next open of the same file.
class ParkedConnectionTest : public DbFileTest {
protected:
    void SetUp() override {
        DbFileTest::SetUp();
        testenv::WriteFile(DataPath("notes.ini"), "DbGroupCommit=1\n");
    }
#ifndef _WIN32
    // Runs body in a child process (which leaves the parent's parked
    // connections alone); true when it exited with 0.
    template <typename Body>
    static bool InChild(Body body) {
        pid_t child = fork();
        if (child == 0) _exit(body() ? 0 : 1);
        int result = -1;
        waitpid(child, &result, 0);
        return WIFEXITED(result) && WEXITSTATUS(result) == 0;
    }
#endif
    static bool SaveIn(const char* name, const char* subject) {
        DBHANDLE db = NULLHANDLE;
        NOTEHANDLE note = NULLHANDLE;
        bool ok = NSFDbOpen(name, &db) == NOERROR && NSFNoteCreate(db, &note) == NOERROR &&
                  NSFItemSetText(note, "Subject", subject, MAXWORD) == NOERROR && NSFNoteUpdate(note, 0) == NOERROR;
        if (note != NULLHANDLE) NSFNoteClose(note);
        return db != NULLHANDLE && NSFDbClose(db) == NOERROR && ok;
    }
    std::vector<std::string> Subjects(const char* name) {
        DBHANDLE db = OpenDb(name);
        DHANDLE table = NULLHANDLE;
        TIMEDATE minimum{}, until;
        std::vector<std::string> subjects;
        if (NSFDbGetModifiedNoteTable(db, NOTE_CLASS_DOCUMENT, minimum, &until, &table) == NOERROR) {
            for (DWORD id : Ids(table)) {
                NOTEHANDLE note = OpenNote(db, id);
                char subject[64] = "";
                NSFItemGetText(note, "Subject", subject, sizeof subject);
                subjects.push_back(subject);
                Close(note);
            }
            IDDestroyTable(table);
        }
        CloseDb(db);
        std::sort(subjects.begin(), subjects.end());
        return subjects;
    }
};

// A parked connection sees what another process wrote meanwhile; a file
// that another process removed and made anew under the same name is read
// afresh, not through the connection to the old one; an open that checks
// the file does not take a parked connection, and what the parked ones
// wrote is in the file.
TEST_F(ParkedConnectionTest, ReopenSeesOtherWritersAndAFileMadeAnew) {
#ifdef _WIN32
    GTEST_SKIP() << "the other processes are forked children";
#else
    CloseDb(CreateDb("a.nsf"));
    ASSERT_TRUE(SaveIn("a.nsf", "first"));
    ASSERT_TRUE(InChild([] { return SaveIn("a.nsf", "from the child"); }));
    EXPECT_EQ((std::vector<std::string>{"first", "from the child"}), Subjects("a.nsf"));

    ASSERT_TRUE(InChild([] {
        return NSFDbDelete("a.nsf") == NOERROR && NSFDbCreate("a.nsf", DBCLASS_NOTEFILE, FALSE) == NOERROR &&
               SaveIn("a.nsf", "made anew");
    }));
    EXPECT_EQ((std::vector<std::string>{"made anew"}), Subjects("a.nsf"));

    ASSERT_TRUE(SaveIn("a.nsf", "second"));
    DBHANDLE checked = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpenExtended("a.nsf", DBOPEN_FORCE_FIXUP, NULLHANDLE, nullptr, &checked, nullptr,
                                         nullptr));
    EXPECT_EQ(NOERROR, NSFDbClose(checked));
    EXPECT_EQ((std::vector<std::string>{"made anew", "second"}), Subjects("a.nsf"));
#endif
}
