// replication_test.cpp - the publication pass with a real configuration
// document: how each end of the pass moves (or keeps) the stored time, the
// output database it creates, migration passes, the counts, the sort keys,
// and the item change tests and processed stamp.
#include <chrono>
#include <memory>
#include <thread>
#include <sys/stat.h>

#include "cfgdb.h"
#include "config.h"
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
    EXPECT_EQ(0, TimeDateCompare(&latest, &stored));
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

// A change committed after the table was taken but stamped before the pass
// started must not fall behind the stored time: the stored time is the
// table's until-time, never the pass start.
TEST_F(ReplicationTest, NoModifiedDocumentsStoreTheSnapshotTimeNotThePassStart) {
    PutPerson("Doe");
    TIMEDATE latest = pubtest::Checkpoint(hInput_);
    config_->SetLastReplicationTimeStamp(&latest);
    pubtest::Put(hInput_, [](NOTEHANDLE h) {  // a design change: the database was modified
        WORD viewClass = NOTE_CLASS_VIEW;
        NSFNoteSetInfo(h, _NOTE_CLASS, &viewClass);
        NSFItemSetText(h, "$TITLE", "People", MAXWORD);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the pass starts later than any change
    TIMEDATE passStart;
    OSCurrentTIMEDATE(&passStart);
    log_.Clear();

    EXPECT_EQ(ERR_NO_MODIFIED_NOTES, ERR(Run(1)));
    EXPECT_TRUE(Logged("Orvane - TEST: No modified notes exist in names.nsf\n")) << log_.Joined();
    TIMEDATE stored = StoredTime();
    EXPECT_LT(TimeDateCompare(&stored, &passStart), 0);
    EXPECT_GE(TimeDateCompare(&stored, &latest), 0);
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
