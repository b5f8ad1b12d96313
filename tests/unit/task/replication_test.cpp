// replication_test.cpp - the publication pass with a real configuration
// document: how each end of the pass moves (or keeps) the stored time, the
// output database it creates, migration passes, the counts, the sort keys,
// the item change tests and processed stamp; and what ends a pass early:
// a failed read, a full disk, a power cut under a concurrent writer, a
// replaced input database, a damaged one.
#include <sys/stat.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

#include "cfgdb.h"
#include "config.h"
#include "nrt_fault.h"
#include "nrt_server.h"
#include "osmisc.h"
#include "pubtest.h"

namespace {

using pubtest::Document;

const char kFilter[] =
    "<publisher-filter><allow-class class-name=\"Person\"><allow-attr attr-name=\"LastName\"/>"
    "</allow-class></publisher-filter>";

class ReplicationTest : public DataDirTest {
protected:
    void SetUp() override {
        DataDirTest::SetUp();
        NRTSetUserName("CN=Admin/O=Org1");
        hInput_ = pubtest::CreateDb("names.nsf", "Directory");
        OSCurrentTIMEDATE(&dayAgo_);
        TimeDateAdjustSeconds(&dayAgo_, -86400);
        WriteConfig(kFilter, dayAgo_);
    }
    void TearDown() override {
        NRTFaultReset();
        config_.reset();
        NSFDbClose(hInput_);
        DataDirTest::TearDown();
    }

    void WriteConfig(const char* filter, TIMEDATE lastEvent) {
        config_.reset();
        NSFDbDelete("zelrpcfg.nsf");
        DBHANDLE hCfg = pubtest::CreateDb("zelrpcfg.nsf", "Configuration");
        pubtest::Put(hCfg, [&](NOTEHANDLE h) {
            NSFItemSetText(h, "InstanceID_text", "TEST", MAXWORD);
            NSFItemSetText(h, "InputDB_text", "names.nsf", MAXWORD);
            NSFItemSetText(h, "OutputDB_text", "out.nsf", MAXWORD);
            NSFItemSetText(h, "ScheduleUnits_text", "SECONDS", MAXWORD);
            pubtest::SetNumber(h, "ScheduleValue_number", 1);
            pubtest::SetNumber(h, "DirectoryFlag_number", 1);
            pubtest::SetNumber(h, "DNFormat_number", 1);
            pubtest::SetNumber(h, "CheckAttrs_number", 1);
            pubtest::SetNumber(h, "ConsoleTraceLevel_number", 2);
            NSFItemSetTime(h, "LastEventTimeStamp_TS", &lastEvent);
            NSFItemSetText(h, "PublisherFilter_text", filter, MAXWORD);
        });
        NSFDbClose(hCfg);
        char instance[] = "TEST", file[] = "zelrpcfg.nsf";
        config_.reset(new CConfig(instance, file));
        ASSERT_EQ(NOERROR, config_->Refresh());
    }

    STATUS Run(int incremental) {
        found_ = updated_ = -1;
        char input[] = "names.nsf", outputPath[] = "";
        return DoReplication(config_.get(), input, outputPath, &found_, &updated_, incremental);
    }
    TIMEDATE StoredTime() {
        TIMEDATE stored = {};
        EXPECT_EQ(NOERROR, config_->getCfgField(CFG_LASTEVENT, &stored));
        return stored;
    }
    UNIVERSALNOTEID PutPerson(const char* lastName, const char* type = "Person") {
        return pubtest::Put(hInput_, [&](NOTEHANDLE h) {
            NSFItemSetText(h, "Type", type, MAXWORD);
            NSFItemSetText(h, "LastName", lastName, MAXWORD);
        });
    }
    bool Logged(const std::string& text) const {
        for (const std::string& line : log_.Texts())
            if (line == text) return true;
        return false;
    }
    bool LoggedContaining(const std::string& text) const {
        for (const std::string& line : log_.Texts())
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
    // The configuration object of a task started again.
    void Restart() {
        char instance[] = "TEST", file[] = "zelrpcfg.nsf";
        config_.reset(new CConfig(instance, file));
        ASSERT_EQ(NOERROR, config_->Refresh());
    }
    // How many documents of the output carry this state of the note.
    static int Published(const std::vector<Document>& docs, UNIVERSALNOTEID unid, const std::string& event,
                         const std::string& lastName = "") {
        int count = 0;
        std::vector<std::string> id = {pubtest::UnidText(unid)};
        for (const Document& doc : docs) {
            auto it = doc.items.find("LastName");
            bool named = lastName.empty() || (it != doc.items.end() && it->second == std::vector<std::string>{lastName});
            if (doc.items.at("Source Note ID") == id && doc.items.at("Event") == std::vector<std::string>{event} && named)
                count++;
        }
        return count;
    }
    // Every live person's last name and every deletion of the input is in
    // the output; the number of those that are not.
    int Unpublished() {
        std::vector<Document> docs = pubtest::ReadDocuments("out.nsf");
        TIMEDATE wildcard, until;
        TimeConstant(TIMEDATE_WILDCARD, &wildcard);
        DHANDLE hTable = NULLHANDLE;
        EXPECT_EQ(NOERROR, NSFDbGetModifiedNoteTable(hInput_, NOTE_CLASS_DOCUMENT, wildcard, &until, &hTable));
        int missing = 0;
        DWORD id = 0;
        for (BOOL first = TRUE; IDScan(hTable, first, &id); first = FALSE) {
            ORIGINATORID oid;
            NSFDbGetNoteInfo(hInput_, id & ~(DWORD)RRV_DELETED, &oid, 0, 0);
            UNIVERSALNOTEID unid = {oid.File, oid.Note};
            if (id & RRV_DELETED) {
                missing += Published(docs, unid, "DELETE") == 0;
                continue;
            }
            NOTEHANDLE h = NULLHANDLE;
            EXPECT_EQ(NOERROR, NSFNoteOpen(hInput_, id, 0, &h));
            char lastName[64] = "";
            NSFItemGetText(h, "LastName", lastName, sizeof lastName);
            NSFNoteClose(h);
            if (Published(docs, unid, "ADD", lastName) + Published(docs, unid, "MODIFY", lastName) == 0) {
                ADD_FAILURE() << pubtest::UnidText(unid) << " with LastName " << lastName << " not published";
                missing++;
            }
        }
        IDDestroyTable(hTable);
        return missing;
    }
    static bool Exists(const std::string& path) {
        struct stat info;
        return stat(path.c_str(), &info) == 0;
    }

    NRTLogCapture log_;
    DBHANDLE hInput_ = NULLHANDLE;
    TIMEDATE dayAgo_;
    std::unique_ptr<CConfig> config_;
    int found_ = -1, updated_ = -1;
};

TEST_F(ReplicationTest, UnchangedInputEndsQuietlyAndKeepsTheStoredTime) {
    PutPerson("Doe");
    TIMEDATE latest = pubtest::Checkpoint(hInput_);
    config_->SetLastReplicationTimeStamp(&latest);
    log_.Clear();

    EXPECT_EQ(ERR_NO_MODIFIED_NOTES, ERR(Run(1)));
    EXPECT_TRUE(Logged("\nOrvane - TEST: names.nsf hasn't been modified since " +
                       pubtest::TimeText(latest)))
        << log_.Joined();
    EXPECT_FALSE(Exists(DataPath("out.nsf")));
    TIMEDATE stored = StoredTime();
    EXPECT_EQ(0, TimeDateCompare(&latest, &stored));
    EXPECT_EQ(-1, found_);  // counts are written only by a pass that published
}

TEST_F(ReplicationTest, CreatesTheMissingOutputWithItsTitleAndStoresTheUntilTime) {
    UNIVERSALNOTEID unid = PutPerson("Doe");
    TIMEDATE latest = pubtest::Checkpoint(hInput_);

    ASSERT_EQ(NOERROR, Run(1));
    DBHANDLE hOut = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpen("out.nsf", &hOut));
    EXPECT_EQ("Filtered Directory Updates", pubtest::Title(hOut));
    NSFDbClose(hOut);
    std::vector<Document> docs = pubtest::ReadDocuments("out.nsf");
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ(std::vector<std::string>{pubtest::UnidText(unid)}, docs[0].items["Source Note ID"]);
    EXPECT_EQ(1, found_);
    EXPECT_EQ(1, updated_);
    TIMEDATE stored = StoredTime();
    EXPECT_GE(TimeDateCompare(&stored, &latest), 0);
    EXPECT_TRUE(Logged("Orvane - TEST: names.nsf last modified time/date = " +
                       pubtest::TimeText(stored) + "\n"))
        << log_.Joined();

    // The next pass publishes only what changed after the stored time.
    pubtest::Change(hInput_, unid, [](NOTEHANDLE h) { NSFItemSetText(h, "LastName", "Roe", MAXWORD); });
    ASSERT_EQ(NOERROR, Run(1));
    docs = pubtest::ReadDocuments("out.nsf");
    ASSERT_EQ(2u, docs.size());
    EXPECT_EQ(std::vector<std::string>{"MODIFY"}, docs[1].items["Event"]);
}

TEST_F(ReplicationTest, ExistingOutputKeepsItsTitle) {
    NSFDbClose(pubtest::CreateDb("out.nsf", "Mine"));
    PutPerson("Doe");
    ASSERT_EQ(NOERROR, Run(1));
    DBHANDLE hOut = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpen("out.nsf", &hOut));
    EXPECT_EQ("Mine", pubtest::Title(hOut));
    NSFDbClose(hOut);
}

// Nothing modified moves the stored time to the listing's until-time: a
// change committed right after the listing, even within the same hundredth
// of a second, is later than it and published by the next pass.
TEST_F(ReplicationTest, NoModifiedDocumentsStoreTheListingsUntilTime) {
    PutPerson("Doe");
    TIMEDATE latest = pubtest::Checkpoint(hInput_);
    config_->SetLastReplicationTimeStamp(&latest);
    pubtest::Put(hInput_, [](NOTEHANDLE h) {  // a design change: the database was modified
        WORD viewClass = NOTE_CLASS_VIEW;
        NSFNoteSetInfo(h, _NOTE_CLASS, &viewClass);
        NSFItemSetText(h, "$TITLE", "People", MAXWORD);
    });
    log_.Clear();

    EXPECT_EQ(ERR_NO_MODIFIED_NOTES, ERR(Run(1)));
    EXPECT_TRUE(Logged("Orvane - TEST: No modified notes exist in names.nsf\n")) << log_.Joined();
    TIMEDATE stored = StoredTime();
    EXPECT_GT(TimeDateCompare(&stored, &latest), 0);
    PutPerson("Roe");
    ASSERT_EQ(NOERROR, Run(1));
    EXPECT_EQ(1, found_);
    EXPECT_EQ(1, updated_);
}

TEST_F(ReplicationTest, FilterWithoutClassesSuspendsBeforeListing) {
    WriteConfig("<publisher-filter></publisher-filter>", dayAgo_);
    PutPerson("Doe");
    EXPECT_NE(NOERROR, Run(1));
    EXPECT_TRUE(Logged("Orvane - TEST: Publication Filter contains no Objects.  Suspending ZELREP"));
    EXPECT_EQ(STATE_WAITING, config_->GetState());
    EXPECT_EQ(-1, found_);
    TIMEDATE stored = StoredTime();
    EXPECT_EQ(0, TimeDateCompare(&dayAgo_, &stored));
}

// A class or attribute name over 127 characters drops just that one, with
// a NORMAL line naming it; the rest of the filter stands.
TEST_F(ReplicationTest, OverlongFilterNamesAreLeftOutAloneAndNamed) {
    const std::string tooLong(200, 'L');
    std::string filter = "<publisher-filter><allow-class class-name=\"" + tooLong + "\"><allow-attr attr-name=\"X\"/>"
                         "</allow-class><allow-class class-name=\"Person\"><allow-attr attr-name=\"" + tooLong +
                         "\"/><allow-attr attr-name=\"LastName\"/></allow-class></publisher-filter>";
    WriteConfig(filter.c_str(), dayAgo_);
    PutPerson("Doe");
    log_.Clear();
    ASSERT_EQ(NOERROR, Run(1));
    const std::string shown(64, 'L');
    EXPECT_TRUE(Logged("Orvane - TEST: Publication Filter class \"" + shown +
                       "...\" has 200 characters, more than 127: left out with its attributes"))
        << log_.Joined();
    EXPECT_TRUE(Logged("Orvane - TEST: Publication Filter attribute \"" + shown +
                       "...\" of class Person has 200 characters, more than 127: left out"))
        << log_.Joined();
    std::vector<Document> documents = pubtest::ReadDocuments("out.nsf");
    ASSERT_EQ(1u, documents.size());
    EXPECT_EQ(1u, documents[0].items.count("LastName"));
    EXPECT_EQ(STATE_RUNNING, config_->GetState());

    config_->SetTrace((unsigned long)TRACE_SILENT);
    log_.Clear();
    PutPerson("Roe");
    ASSERT_EQ(NOERROR, Run(1));
    EXPECT_FALSE(Logged("Orvane - TEST: Publication Filter class \"" + shown +
                        "...\" has 200 characters, more than 127: left out with its attributes"));
}

TEST_F(ReplicationTest, UncreatableOutputIsReportedWithItsCauseAndTheNextPassRecovers) {
    testenv::WriteFile(DataPath("notes.txt"), "just text\n");
    PutPerson("Doe");
    const std::pair<const char*, const char*> cases[] = {
        {"../outside.nsf", "Path must be relative to the data directory and must not lead outside it"},
        {"notes.txt", "File is not a database"},
    };
    for (const auto& [path, cause] : cases) {
        std::string name = path;
        config_->SetOutputDB(name.data());
        log_.Clear();
        EXPECT_NE(NOERROR, Run(1));
        EXPECT_TRUE(Logged(std::string("Orvane - TEST:  Fatal Error:  Unable to create output DB: ") + cause))
            << log_.Joined();
        TIMEDATE stored = StoredTime();
        EXPECT_EQ(0, TimeDateCompare(&dayAgo_, &stored));
        EXPECT_EQ(STATE_RUNNING, config_->GetState());
    }
    EXPECT_EQ("just text\n", testenv::ReadFile(DataPath("notes.txt")));

    char goodPath[] = "out.nsf";
    config_->SetOutputDB(goodPath);
    ASSERT_EQ(NOERROR, Run(1));
    EXPECT_EQ(1u, pubtest::ReadDocuments("out.nsf").size());
}

TEST_F(ReplicationTest, CountsCoverEveryEntryAndMigrationPublishesOnlyAdds) {
    UNIVERSALNOTEID changed = PutPerson("Doe");
    UNIVERSALNOTEID gone = PutPerson("Gone");
    PutPerson("Box", "Server");
    pubtest::Change(hInput_, changed, [](NOTEHANDLE h) { NSFItemSetText(h, "LastName", "Roe", MAXWORD); });
    pubtest::Delete(hInput_, gone);

    ASSERT_EQ(NOERROR, Run(0));
    std::vector<Document> docs = pubtest::ReadDocuments("out.nsf");
    ASSERT_EQ(1u, docs.size());  // no obituary, the server is filtered out
    EXPECT_EQ(std::vector<std::string>{"ADD"}, docs[0].items["Event"]);
    EXPECT_EQ(3, found_);
    EXPECT_EQ(1, updated_);

    config_->SetLastReplicationTimeStamp(&dayAgo_);
    ASSERT_EQ(NOERROR, Run(1));
    docs = pubtest::ReadDocuments("out.nsf");
    ASSERT_EQ(3u, docs.size());  // the change (an add since a day ago) and the obituary
    EXPECT_EQ(3, found_);
    EXPECT_EQ(2, updated_);
}

TEST_F(ReplicationTest, ListNotesKeysSortByTwentyFourHourTimeThenEvent) {
    UNIVERSALNOTEID unid = PutPerson("Doe");
    TIMEDATE since = pubtest::Checkpoint(hInput_);
    pubtest::Change(hInput_, unid, [](NOTEHANDLE h) { NSFItemSetText(h, "LastName", "Roe", MAXWORD); });
    VRD_THREAD_DATA data = {};
    CEntityArray list;
    data.hInputDB = hInput_;
    data.noteList = &list;
    data.since = since;
    ASSERT_EQ(NOERROR, ListNotes(&data, pubtest::IdOf(hInput_, unid)));
    ASSERT_EQ(1, list.Count());
    CNoteInfo* info = (CNoteInfo*)list.Get(0);
    char key[ENTITY_NAME_SIZE], modified[NOTEINFO_TEXT_SIZE];
    info->EntityName(key);
    info->ModifiedAsStr(modified);
    std::string shape = pubtest::DigitsAs9(key);  // "9999/99/99 99:99:99 GMT:9"
    EXPECT_EQ("9999/99/99 99:99:99 ", shape.substr(0, 20)) << key;
    EXPECT_EQ(":3", std::string(key).substr(strlen(key) - 2)) << key;  // a modify
    EXPECT_EQ(std::string::npos, shape.find("M ")) << key;            // no AM or PM
    int hour12 = atoi(strchr(modified, ':') - 2), hour24 = atoi(strchr(key, ':') - 2);
    EXPECT_EQ(hour24 % 12, hour12 % 12);
    EXPECT_EQ(strstr(modified, "PM") != 0, hour24 >= 12);
    FreeArrayEntries(&list);

    CEntityArray migrated;  // a migration keeps adds only
    data.noteList = &migrated;
    data.migration = 1;
    ListNotes(&data, pubtest::IdOf(hInput_, unid));
    EXPECT_EQ(0, migrated.Count());
}

TEST_F(ReplicationTest, ItemChangeNeedsALaterTimeAndStampReadsItsModifiedTime) {
    UNIVERSALNOTEID unid = PutPerson("Doe");
    NOTEHANDLE h = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFNoteOpenByUNID(hInput_, &unid, 0, &h));
    char lastName[] = "LastName", missing[] = "Nope";
    TIMEDATE modified, earlier;
    ASSERT_EQ(NOERROR, NSFItemGetModifiedTime(h, lastName, MAXWORD, 0, &modified));
    earlier = modified;
    TimeDateAdjustSeconds(&earlier, -1);
    EXPECT_EQ(0, IsItemChanged(h, lastName, &modified, 0));  // equal is no change
    EXPECT_EQ(1, IsItemChanged(h, lastName, &earlier, 0));
    log_.Clear();
    EXPECT_EQ(0, IsItemChanged(h, missing, &earlier, TRACE_VERBOSE));
    char errorText[256] = {0};
    OSLoadString(NULLHANDLE, ERR_ITEM_NOT_FOUND, errorText, sizeof(errorText) - 1);
    EXPECT_TRUE(Logged(std::string("ZelRep: Failed to get Modified time for Nope.  Error: ") + errorText +
                       "\n"))
        << log_.Joined();

    TIMEDATE stamp;
    EXPECT_EQ(0, GetZELREPLastProcessedTime(h, &stamp, 0));
    ASSERT_EQ(1, SetZELREPLastProcessedTime(h, 0));
    ASSERT_EQ(NOERROR, NSFNoteUpdate(h, UPDATE_NOCOMMIT));
    NSFNoteClose(h);
    ASSERT_EQ(NOERROR, NSFNoteOpenByUNID(hInput_, &unid, 0, &h));
    EXPECT_EQ(1, GetZELREPLastProcessedTime(h, &stamp, 0));
    EXPECT_EQ(1, IsItemChanged(h, lastName, &earlier, 0));
    EXPECT_GT(TimeDateCompare(&stamp, &modified), 0);
    NSFNoteClose(h);

    EXPECT_EQ(NOERROR, ChangeDBTitle(hInput_));
    EXPECT_EQ("Filtered Directory Updates", pubtest::Title(hInput_));
}

}  // namespace

// A read that fails anywhere in the pass (the table, a note's information,
// the note itself) never loses a change: either the pass published it, or
// the stored time stayed where it was and a line named the note and why.
TEST_F(ReplicationTest, FailedReadAnywhereKeepsTheIntervalAndNamesTheStatus) {
    UNIVERSALNOTEID kept = PutPerson("Doe");
    UNIVERSALNOTEID gone = PutPerson("Gone");
    pubtest::Delete(hInput_, gone);
    const std::string because = "the next pass publishes its change again: " + std::string("Disk read or write failed");
    bool namedInfo = false, namedNote = false;
    for (DWORD n = 1; n <= 14; ++n) {
        NSFDbDelete("out.nsf");
        config_->SetLastReplicationTimeStamp(&dayAgo_);
        log_.Clear();
        NRTFaultFailNth(NRT_FAULT_READ, n, ERR_IO);
        Run(1);
        NRTFaultReset();
        std::vector<Document> docs = pubtest::ReadDocuments("out.nsf");
        TIMEDATE stored = StoredTime();
        if (TimeDateCompare(&stored, &dayAgo_) != 0) {
            EXPECT_EQ(1, Published(docs, kept, "ADD", "Doe")) << "read " << n;
            EXPECT_EQ(1, Published(docs, gone, "DELETE")) << "read " << n;
        }
        namedInfo |= LoggedContaining("could not be read; " + because) && LoggedContaining("Orvane - TEST: Note ID ");
        namedNote |= Logged("Orvane - TEST: Note " + pubtest::UnidText(kept) + " could not be read; " + because);
    }
    EXPECT_TRUE(namedInfo);
    EXPECT_TRUE(namedNote);
}

// The disk fills in the middle of a migration: the documents that could
// not be saved are not counted, the line says why, and the migration is
// still under way; the next scheduled pass, with space again, finishes it.
// The same for an incremental pass: its interval is published again.
TEST_F(ReplicationTest, FullDiskLosesNothingOnceSpaceReturns) {
    std::vector<UNIVERSALNOTEID> people;
    for (int i = 0; i < 40; ++i) people.push_back(PutPerson(("P" + std::to_string(i)).c_str()));
    log_.Clear();
    NRTFaultFailRun(NRT_FAULT_DISKFULL, 40, 0, ERR_DISK_FULL);
    Run(0);
    NRTFaultReset();
    EXPECT_TRUE(LoggedContaining("documents could not be saved in out.nsf; the next pass publishes these changes "
                                 "again: The disk is full"))
        << log_.Joined();
    std::vector<Document> docs = pubtest::ReadDocuments("out.nsf");
    EXPECT_LT(docs.size(), people.size());
    EXPECT_EQ((int)docs.size(), updated_);
    EXPECT_TRUE(config_->IsMigrationPending());

    ASSERT_EQ(NOERROR, Run(1));
    EXPECT_TRUE(Logged("Orvane - TEST: The last migration of names.nsf did not finish; this pass publishes every "
                       "object again"))
        << log_.Joined();
    EXPECT_FALSE(config_->IsMigrationPending());
    EXPECT_EQ(0, Unpublished());

    TIMEDATE before = StoredTime();
    for (int i = 0; i < 25; ++i) {
        std::string name = "Changed " + std::to_string(i);
        pubtest::Change(hInput_, people[i], [&](NOTEHANDLE h) { NSFItemSetText(h, "LastName", name.c_str(), MAXWORD); });
    }
    NRTFaultFailRun(NRT_FAULT_DISKFULL, 12, 0, ERR_DISK_FULL);
    Run(1);
    NRTFaultReset();
    TIMEDATE stored = StoredTime();
    EXPECT_EQ(0, TimeDateCompare(&before, &stored));
    ASSERT_EQ(NOERROR, Run(1));
    EXPECT_EQ(0, Unpublished());
}

// The power goes at a different write of each pass (migration or
// incremental) while another process changes the directory; after each
// reboot the task starts again, and its passes publish every change the
// directory still holds.
TEST_F(ReplicationTest, PowerCutAtAnyMomentOfAPassUnderAConcurrentWriterLosesNoChange) {
#ifdef _WIN32
    GTEST_SKIP() << "the concurrent writer is a forked child";
#else
    NRTFaultKeepUnsynced(TRUE);
    std::vector<UNIVERSALNOTEID> people;
    for (int i = 0; i < 30; ++i) people.push_back(PutPerson(("Base " + std::to_string(i)).c_str()));
    std::mt19937 random(20261208);
    for (int round = 0; round < 8; ++round) {
        NSFDbClose(hInput_);  // the writer must not inherit open connections
        hInput_ = NULLHANDLE;
        pid_t writer = fork();
        if (writer == 0) {
            for (int n = 0;; ++n) {
                DBHANDLE hDB = NULLHANDLE;
                if (NSFDbOpen("names.nsf", &hDB) != NOERROR) _exit(1);
                for (int i = 0; i < 5; ++i) {
                    std::string name = "W" + std::to_string(round) + "." + std::to_string(n) + "." + std::to_string(i);
                    UNIVERSALNOTEID unid = people[(size_t)(n * 5 + i) % people.size()];
                    NOTEHANDLE h = NULLHANDLE;
                    bool fresh = i == 0;
                    if ((fresh ? NSFNoteCreate(hDB, &h) : NSFNoteOpenByUNID(hDB, &unid, 0, &h)) != NOERROR) _exit(1);
                    NSFItemSetText(h, "Type", "Person", MAXWORD);
                    NSFItemSetText(h, "LastName", name.c_str(), MAXWORD);
                    if (NSFNoteUpdate(h, UPDATE_FORCE) != NOERROR) _exit(1);
                    NSFNoteClose(h);
                }
                if (NSFDbClose(hDB) != NOERROR) _exit(1);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 20));
        NRTFaultFailNth(NRT_FAULT_POWERCUT, 1 + (DWORD)(random() % 60), 0);
        Run(round % 3 == 0 ? 0 : 1);
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        NRTFaultFailNth(NRT_FAULT_POWERCUT, 1, 0);  // the power goes now if it has not yet
        config_.reset();
        ASSERT_EQ(NOERROR, NRTFaultReboot());
        ASSERT_EQ(NOERROR, NSFDbOpen("names.nsf", &hInput_));
        Restart();
        for (int pass = 0; pass < 3; ++pass) Run(1);
        EXPECT_EQ(0, Unpublished()) << "round " << round;
    }
#endif
}

// The input database is replaced by another whose changes are older than
// the stored time: the pass notices by its replica ID, says so, and
// publishes it whole; the pass after it goes on incrementally.
TEST_F(ReplicationTest, ReplacedInputIsRepublishedAsAMigration) {
    DBHANDLE hOther = pubtest::CreateDb("other.nsf", "Other");
    std::vector<UNIVERSALNOTEID> older;
    for (const char* name : {"Older", "Oldest", "Old"})
        older.push_back(pubtest::Put(hOther, [&](NOTEHANDLE h) {
            NSFItemSetText(h, "Type", "Person", MAXWORD);
            NSFItemSetText(h, "LastName", name, MAXWORD);
        }));
    NSFDbClose(hOther);
    PutPerson("Doe");
    ASSERT_EQ(NOERROR, Run(1));
    NSFDbClose(hInput_);
    hInput_ = NULLHANDLE;
    std::filesystem::rename(DataPath("other.nsf"), DataPath("names.nsf"));
    ASSERT_EQ(NOERROR, NSFDbOpen("names.nsf", &hInput_));
    log_.Clear();

    ASSERT_EQ(NOERROR, Run(1));
    EXPECT_TRUE(LoggedContaining("Orvane - TEST: names.nsf is not the database that the last replication time "))
        << log_.Joined();
    EXPECT_TRUE(LoggedContaining("this pass publishes every object")) << log_.Joined();
    std::vector<Document> docs = pubtest::ReadDocuments("out.nsf");
    for (UNIVERSALNOTEID unid : older) EXPECT_EQ(1, Published(docs, unid, "ADD"));
    log_.Clear();
    Run(1);
    EXPECT_FALSE(LoggedContaining("this pass publishes every object")) << log_.Joined();
    EXPECT_EQ(docs.size(), pubtest::ReadDocuments("out.nsf").size());
}

// A migration of a database without documents ends at once, with a real
// time stored: the wildcard it stored while under way is gone.
TEST_F(ReplicationTest, MigrationOfAnEmptyInputStoresARealTime) {
    TIMEDATE before;
    OSCurrentTIMEDATE(&before);
    EXPECT_EQ(ERR_NO_MODIFIED_NOTES, ERR(Run(0)));
    EXPECT_FALSE(config_->IsMigrationPending());
    TIMEDATE stored = StoredTime();
    EXPECT_GE(TimeDateCompare(&stored, &before), 0);
    char text[CFG_TEXT_SIZE] = "";
    EXPECT_EQ(0, config_->GetLastReplicationTimeStampStr(text));
    EXPECT_NE('\0', text[0]);
}

// A pass that meets a damaged input keeps its interval and names the
// database as damaged.
TEST_F(ReplicationTest, DamagedInputKeepsTheIntervalAndIsNamed) {
    for (int i = 0; i < 60; ++i) PutPerson(std::string(900, (char)('a' + i % 26)).c_str());
    NSFDbClose(hInput_);
    hInput_ = NULLHANDLE;
    ASSERT_TRUE(testenv::DamagePages(DataPath("names.nsf"), 10, 25));
    log_.Clear();
    Run(1);
    TIMEDATE stored = StoredTime();
    EXPECT_EQ(0, TimeDateCompare(&dayAgo_, &stored));
    EXPECT_TRUE(Logged("Orvane - TEST: Database names.nsf failed its integrity check: Database is damaged"))
        << log_.Joined();
}
