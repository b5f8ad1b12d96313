// walvfs_test.cpp - the storage layer's file layer: a note whose update
// returned is in the file even when the process is killed at once, every
// other connection sees each commit as soon as it returned, transactions
// larger than what is gathered at a time read back whole; and the disk's
// faults: a failed write, a full disk, and a power cut that drops every
// write not yet synced, after which a database holds what its last close
// made durable and is sound.
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "storetest.h"

class GatheringVfsTest : public StoreTest {
protected:
    // Live documents of the database.
    size_t Count(DBHANDLE db) {
        DHANDLE table = NULLHANDLE;
        TIMEDATE wildcard{{0xFFFFFFFF, 0xFFFFFFFF}}, until{};
        STATUS status = NSFDbGetModifiedNoteTable(db, NOTE_CLASS_DOCUMENT, wildcard, &until, &table);
        if (status != NOERROR) return 0;
        size_t count = IDEntries(table);
        IDDestroyTable(table);
        return count;
    }
    // SQLite's own full check of the file.
    std::string IntegrityOf(const std::string& name) {
        sqlite3* db = nullptr;
        std::string result = "cannot open";
        if (sqlite3_open_v2(DataPath(name).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
            sqlite3_stmt* check = nullptr;
            if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
                sqlite3_step(check) == SQLITE_ROW)
                result = (const char*)sqlite3_column_text(check, 0);
            else
                result = sqlite3_errmsg(db);
            sqlite3_finalize(check);
        }
        sqlite3_close(db);
        return result;
    }
    void CloseAll() {
        for (NOTEHANDLE note : notes_) NSFNoteClose(note);
        for (DBHANDLE db : databases_) NSFDbClose(db);
        notes_.clear();
        databases_.clear();
    }
    std::string ItemText(DBHANDLE db, NOTEID id, const char* item) {
        NOTEHANDLE note = NULLHANDLE;
        if (NSFNoteOpen(db, id, 0, &note) != NOERROR) return "<cannot open>";
        char text[256] = "";
        NSFItemGetText(note, item, text, sizeof text);
        NSFNoteClose(note);
        return text;
    }
};

// A child writes notes and reports each one after its update returned; it
// is killed in the middle. Every reported note must be there, intact.
TEST_F(GatheringVfsTest, UpdateThatReturnedSurvivesKill) {
#ifdef _WIN32
    GTEST_SKIP() << "the killed writer is a forked child";
#else
    CloseDb(CreateDb());
    int reports[2];
    ASSERT_EQ(0, pipe(reports));
    pid_t child = fork();
    if (child == 0) {
        close(reports[0]);
        DBHANDLE db = NULLHANDLE;
        if (NSFDbOpen("test.nsf", &db) != NOERROR) _exit(1);
        for (int n = 0;; ++n) {
            NOTEHANDLE note = NULLHANDLE;
            std::string counter = std::to_string(n);
            if (NSFNoteCreate(db, &note) != NOERROR ||
                NSFItemSetText(note, "Counter", counter.c_str(), MAXWORD) != NOERROR ||
                NSFItemSetText(note, "Body", std::string(3000, 'b').c_str(), MAXWORD) != NOERROR ||
                NSFNoteUpdate(note, 0) != NOERROR)
                _exit(1);
            NOTEID id = 0;
            NSFNoteGetInfo(note, _NOTE_ID, &id);
            NSFNoteClose(note);
            NOTEID report[2] = {id, (NOTEID)n};
            if (write(reports[1], report, sizeof report) != (ssize_t)sizeof report) _exit(1);
        }
    }
    close(reports[1]);
    std::vector<std::pair<NOTEID, NOTEID>> reported;
    NOTEID report[2];
    while (read(reports[0], report, sizeof report) == (ssize_t)sizeof report) {
        reported.emplace_back(report[0], report[1]);
        if (reported.size() == 400) kill(child, SIGKILL);
    }
    close(reports[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    DBHANDLE db = OpenDb();
    ASSERT_GE(reported.size(), 400u);
    for (const auto& [id, counter] : reported)
        ASSERT_EQ(std::to_string(counter), ItemText(db, id, "Counter")) << "note " << id;
#endif
}

// One connection writes, another reads each note right after its update.
TEST_F(GatheringVfsTest, AnotherConnectionSeesEachCommitAtOnce) {
    DBHANDLE writer = CreateDb();
    DBHANDLE reader = OpenDb();
    for (int n = 0; n < 200; ++n) {
        std::string value = "value " + std::to_string(n);
        NOTEID id = SaveDoc(writer, "Subject", value.c_str());
        ASSERT_EQ(value, ItemText(reader, id, "Subject"));
        UpdateDoc(writer, id, "Subject", (value + " changed").c_str());
        ASSERT_EQ(value + " changed", ItemText(reader, id, "Subject"));
    }
}

// A copy is one transaction of several megabytes: far more than is
// gathered at a time, and more than the page cache holds.
TEST_F(GatheringVfsTest, LargeTransactionReadsBackWhole) {
    DBHANDLE source = CreateDb("source.nsf");
    std::vector<NOTEID> ids;
    for (int n = 0; n < 400; ++n) {
        NOTEHANDLE note = NewNote(source);
        WORD viewClass = NOTE_CLASS_VIEW;
        NSFNoteSetInfo(note, _NOTE_CLASS, &viewClass);
        std::string body(12000, (char)('a' + n % 26));
        ASSERT_EQ(NOERROR, NSFItemSetText(note, "$Title", std::to_string(n).c_str(), MAXWORD));
        ASSERT_EQ(NOERROR, NSFItemSetText(note, "Body", body.c_str(), MAXWORD));
        ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
        NOTEID id = 0;
        NSFNoteGetInfo(note, _NOTE_ID, &id);
        ids.push_back(id);
        Close(note);
    }
    DBHANDLE copy = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbCreateAndCopy("source.nsf", "copy.nsf", NOTE_CLASS_VIEW, 0, 0, &copy));
    NSFDbClose(copy);

    DBHANDLE reader = OpenDb("copy.nsf");
    for (size_t n = 0; n < ids.size(); ++n) {
        NOTEHANDLE note = OpenNote(reader, ids[n]);
        char title[16] = "";
        NSFItemGetText(note, "$Title", title, sizeof title);
        EXPECT_EQ(std::to_string(n), title);
        BLOCKID item, value;
        WORD type = 0;
        DWORD length = 0;
        ASSERT_EQ(NOERROR, NSFItemInfo(note, "Body", 4, &item, &type, &value, &length));
        EXPECT_EQ(sizeof(WORD) + 12000u, length) << "note " << ids[n];
        Close(note);
    }
}

// The write of a commit's log pages fails, as on a full disk: the update
// answers an error, no connection ever sees the note, and the database
// takes the same update once the disk writes again.
TEST_F(GatheringVfsTest, FailedLogWriteFailsTheUpdateAndLosesNothingBefore) {
    DBHANDLE writer = CreateDb();
    DBHANDLE reader = OpenDb();
    NOTEID kept = SaveDoc(writer, "Subject", "kept");

    NOTEHANDLE note = NewNote(writer);
    ASSERT_EQ(NOERROR, NSFItemSetText(note, "Subject", "retried", MAXWORD));
    NRTFaultFailNth(NRT_FAULT_LOGWRITE, 1, 0);
    EXPECT_NE(NOERROR, NSFNoteUpdate(note, 0));
    DHANDLE table = NULLHANDLE;
    TIMEDATE wildcard{{0xFFFFFFFF, 0xFFFFFFFF}}, until{};
    ASSERT_EQ(NOERROR, NSFDbGetModifiedNoteTable(reader, NOTE_CLASS_DOCUMENT, wildcard, &until, &table));
    EXPECT_EQ(1u, IDEntries(table));
    IDDestroyTable(table);

    ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
    NOTEID retried = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &retried);
    EXPECT_EQ("kept", ItemText(reader, kept, "Subject"));
    EXPECT_EQ("retried", ItemText(reader, retried, "Subject"));
    UpdateDoc(writer, kept, "Subject", "kept and changed");
    EXPECT_EQ("kept and changed", ItemText(OpenDb(), kept, "Subject"));
}

// One write fails as the disk would: the update answers the disk's error,
// nothing of it is seen, and the next update goes through.
TEST_F(GatheringVfsTest, FailedWriteAndFullDiskFailTheUpdateWithTheirStatus) {
    DBHANDLE db = CreateDb();
    SaveDoc(db);
    NOTEHANDLE note = NewNote(db);
    NSFItemSetText(note, "Subject", "later", MAXWORD);
    NRTFaultFailNth(NRT_FAULT_WRITE, 1, ERR_IO);
    EXPECT_EQ(ERR_IO, NSFNoteUpdate(note, 0));
    EXPECT_EQ(1u, Count(db));

    NRTFaultFailAlways(NRT_FAULT_DISKFULL, ERR_DISK_FULL);
    EXPECT_EQ(ERR_DISK_FULL, NSFNoteUpdate(note, 0));
    EXPECT_EQ(ERR_DISK_FULL, NSFNoteUpdate(note, 0));
    EXPECT_NE(std::string::npos, ErrorText(ERR_DISK_FULL).find("disk is full")) << ErrorText(ERR_DISK_FULL);
    NRTFaultFailNth(NRT_FAULT_WRITE, 1, ERR_DISK_FULL);  // a single write finding the disk full
    NRTFaultFailAlways(NRT_FAULT_DISKFULL, 0);
    EXPECT_EQ(ERR_DISK_FULL, NSFNoteUpdate(note, 0));
    EXPECT_EQ(1u, Count(db));

    ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));  // space again
    EXPECT_EQ(2u, Count(db));
    CloseAll();
    EXPECT_EQ("ok", IntegrityOf("test.nsf"));
}

// Closing a database makes what it wrote durable, even while another
// connection (a reader) keeps the log from being folded into the file; a
// power cut drops what was written since, and leaves a sound database.
TEST_F(GatheringVfsTest, PowerCutDropsWhatWasNotSyncedAndKeepsWhatWas) {
    NRTFaultKeepUnsynced(TRUE);
    DBHANDLE db = CreateDb();
    OpenDb();  // the reader
    NOTEID kept = SaveDoc(db, "Subject", "kept");
    CloseDb(db);  // synced
    db = OpenDb();
    NOTEID dropped = SaveDoc(db, "Subject", "dropped");
    UpdateDoc(db, kept, "Subject", "changed, not synced");
    NRTFaultFailNth(NRT_FAULT_POWERCUT, 1, 0);
    NOTEHANDLE note = NewNote(db);
    EXPECT_NE(NOERROR, NSFNoteUpdate(note, 0));
    EXPECT_NE(NOERROR, NSFNoteUpdate(note, 0));  // the power stays off
    CloseAll();
    ASSERT_EQ(NOERROR, NRTFaultReboot());

    EXPECT_EQ("ok", IntegrityOf("test.nsf"));
    db = OpenDb();
    EXPECT_EQ(1u, Count(db));
    EXPECT_EQ("kept", ItemText(db, kept, "Subject"));
    EXPECT_EQ("<cannot open>", ItemText(db, dropped, "Subject"));
    NOTEID after = SaveDoc(db, "Subject", "after the reboot");
    EXPECT_EQ("after the reboot", ItemText(db, after, "Subject"));
}

// The power goes at every write of a run of updates in turn, some closes
// (syncs) between them, the log folded back into the file on the way, and
// at times a reader holding it back: after each reboot the database is
// sound and holds at least every note that a close returned for.
TEST_F(GatheringVfsTest, PowerCutAtAnyWriteLeavesEverySyncedNote) {
    const int kNotes = 40;
    int cuts = 0;
    for (DWORD cutAt = 1;; cutAt += 3) {
        NRTFaultReset();
        NSFDbDelete("test.nsf");
        NRTFaultKeepUnsynced(TRUE);
        CloseDb(CreateDb());
        NRTFaultFailNth(NRT_FAULT_POWERCUT, cutAt, 0);
        if (cutAt % 8 != 1) OpenDb();  // the reader
        DBHANDLE db = OpenDb();
        size_t synced = 0;
        bool cut = false;
        for (int n = 0; n < kNotes && !cut; ++n) {
            NOTEHANDLE note = NULLHANDLE;
            NSFNoteCreate(db, &note);
            NSFItemSetText(note, "Body", std::string(1500 + 700 * (n % 5), 'x').c_str(), MAXWORD);
            cut = NSFNoteUpdate(note, 0) != NOERROR;
            NSFNoteClose(note);
            if (!cut && n % 4 == 3) {
                databases_.erase(std::find(databases_.begin(), databases_.end(), db));
                cut = NSFDbClose(db) != NOERROR;
                if (cut) break;
                synced = (size_t)n + 1;
                // The last close folds the log into the file: the power may
                // go there, and then the database no longer opens.
                cut = NSFDbOpen("test.nsf", &db) != NOERROR;
                if (!cut) databases_.push_back(db);
            }
        }
        CloseAll();
        if (!cut) break;  // the run ended before the cut
        ++cuts;
        ASSERT_EQ(NOERROR, NRTFaultReboot());
        ASSERT_EQ("ok", IntegrityOf("test.nsf")) << "cut at write " << cutAt;
        db = OpenDb();
        EXPECT_GE(Count(db), synced) << "cut at write " << cutAt;
        CloseAll();
    }
    EXPECT_GE(cuts, 10);
}

// A process writes and closes in turn until it is killed at a random
// moment, while this one holds the database open: the disk's record is
// shared through the files, so the reboot in this process leaves at least
// every note that the writer's close returned for.
TEST_F(GatheringVfsTest, PowerCutAcrossProcessesKeepsWhatAnyCloseSynced) {
#ifdef _WIN32
    GTEST_SKIP() << "the other processes are forked children";
#else
    NRTFaultKeepUnsynced(TRUE);
    CloseDb(CreateDb());
    std::mt19937 random(20261208);
    for (int round = 0; round < 3; ++round) {
        int reports[2];
        ASSERT_EQ(0, pipe(reports));
        pid_t child = fork();
        if (child == 0) {
            close(reports[0]);
            for (int n = 0;; ++n) {
                DBHANDLE db = NULLHANDLE;
                if (NSFDbOpen("test.nsf", &db) != NOERROR) _exit(1);
                for (int i = 0; i < 5; ++i) {
                    NOTEHANDLE note = NULLHANDLE;
                    NSFNoteCreate(db, &note);
                    NSFItemSetText(note, "Body", std::string(2000, 'y').c_str(), MAXWORD);
                    if (NSFNoteUpdate(note, 0) != NOERROR) _exit(1);
                    NSFNoteClose(note);
                }
                if (NSFDbClose(db) != NOERROR) _exit(1);
                char done = 1;
                if (write(reports[1], &done, 1) != 1) _exit(1);
            }
        }
        close(reports[1]);
        OpenDb();  // the reader
        size_t closes = 0;
        size_t killAfter = 5 + random() % 40;
        char done = 0;
        while (read(reports[0], &done, 1) == 1)
            if (++closes == killAfter) kill(child, SIGKILL);
        close(reports[0]);
        waitpid(child, nullptr, 0);
        DBHANDLE db = OpenDb();
        size_t before = Count(db);
        NRTFaultFailNth(NRT_FAULT_POWERCUT, 1, 0);  // the power goes for this process too
        CloseAll();
        ASSERT_EQ(NOERROR, NRTFaultReboot());
        ASSERT_EQ("ok", IntegrityOf("test.nsf"));
        db = OpenDb();
        size_t after = Count(db);
        CloseAll();
        EXPECT_LE(after, before);
        EXPECT_GE(after, before - 5) << "at most the last writes of the killed writer are lost";
        EXPECT_GE(after, before - (before % 5 == 0 ? 5 : before % 5));
    }
#endif
}

// Group commit, as a server task's connections do it (notes.ini turns it on
// here): updates in a row are committed and synced by group.
class GroupCommitTest : public GatheringVfsTest {
protected:
    void SetUp() override {
        GatheringVfsTest::SetUp();
        testenv::WriteFile(DataPath("notes.ini"), "DbGroupCommit=1\nDbBusyTimeout=1000\n");
    }
    // Creates count notes in a row; their note IDs.
    std::vector<NOTEID> SaveInARow(DBHANDLE db, int count) {
        std::vector<NOTEID> ids;
        for (int n = 0; n < count; ++n) ids.push_back(SaveDoc(db, "Subject", std::to_string(n).c_str()));
        return ids;
    }
};

// Another connection sees a group once it is committed: by its age, even
// when the writer does nothing more, and at the latest when the writer
// closes; a power cut then loses none of it.
TEST_F(GroupCommitTest, GroupsAreCommittedByAgeAndAtCloseAndSurviveAPowerCut) {
    NRTFaultKeepUnsynced(TRUE);
    DBHANDLE writer = CreateDb();
    DBHANDLE reader = OpenDb();
    std::vector<NOTEID> ids = SaveInARow(writer, 300);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the flusher commits the idle group
    EXPECT_EQ(300u, Count(reader));
    SaveInARow(writer, 50);
    CloseDb(writer);
    EXPECT_EQ(350u, Count(reader));
    NRTFaultFailNth(NRT_FAULT_POWERCUT, 1, 0);
    CloseAll();
    ASSERT_EQ(NOERROR, NRTFaultReboot());
    EXPECT_EQ("ok", IntegrityOf("test.nsf"));
    DBHANDLE db = OpenDb();
    EXPECT_EQ(350u, Count(db));
    EXPECT_EQ("299", ItemText(db, ids.back(), "Subject"));
}

// A group that cannot be committed (the disk full) fails the update that
// would have ended it and the close, with the disk's status: the writer
// learns that what it wrote since the last group may be lost.
TEST_F(GroupCommitTest, AFailedGroupIsReportedByTheNextUpdateAndTheClose) {
    DBHANDLE writer = CreateDb();
    SaveInARow(writer, 20);
    NRTFaultFailAlways(NRT_FAULT_DISKFULL, ERR_DISK_FULL);
    STATUS failed = NOERROR;
    for (int n = 0; n < 2000 && failed == NOERROR; ++n) {
        NOTEHANDLE note = NewNote(writer);
        NSFItemSetText(note, "Body", std::string(1500, 'z').c_str(), MAXWORD);
        failed = NSFNoteUpdate(note, 0);
    }
    EXPECT_EQ(ERR_DISK_FULL, failed);
    NRTFaultFailAlways(NRT_FAULT_DISKFULL, 0);
    databases_.clear();
    EXPECT_EQ(ERR_DISK_FULL, NSFDbClose(writer));
    CloseAll();
    EXPECT_EQ("ok", IntegrityOf("test.nsf"));
}

// While one process writes notes as fast as it can, another writes single
// notes: each of them gets the lock well within the busy time-out, and the
// group writer's notes are all there once it has closed.
TEST_F(GroupCommitTest, AnotherWriterGetsTheLockBetweenGroups) {
#ifdef _WIN32
    GTEST_SKIP() << "the other writer is a forked child";
#else
    CloseDb(CreateDb());
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        DBHANDLE db = NULLHANDLE;
        if (NSFDbOpen("test.nsf", &db) != NOERROR) _exit(1);
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        int written = 0;
        for (bool told = false; std::chrono::steady_clock::now() < end; ++written) {
            NOTEHANDLE note = NULLHANDLE;
            NSFNoteCreate(db, &note);
            NSFItemSetText(note, "Body", std::string(500, 's').c_str(), MAXWORD);
            if (NSFNoteUpdate(note, 0) != NOERROR) _exit(2);
            NSFNoteClose(note);
            if (!told && written == 100) told = write(ready[1], &written, 1) == 1;
        }
        if (NSFDbClose(db) != NOERROR) _exit(3);
        _exit(written > 1000 ? 0 : 4);
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(1, read(ready[0], &byte, 1));
    DBHANDLE db = OpenDb();
    double longest = 0;
    for (int n = 0; n < 20; ++n) {
        auto start = std::chrono::steady_clock::now();
        SaveDoc(db, "Subject", "single");
        longest = std::max(longest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        usleep(30 * 1000);  // a single writer, not one in a row
    }
    EXPECT_LT(longest, 0.5);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    close(ready[0]);
#endif
}
