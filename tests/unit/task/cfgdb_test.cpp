// cfgdb_test.cpp - the configuration database: finding an instance's
// document, single item reads and writes, loading every item into a CConfig
// and saving it back.
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "cfgtest.h"

namespace {

char* Text(std::string& text) { return &text[0]; }

}  // namespace

class CfgDBTest : public ConfigTest {
protected:
    STATUS Find(std::string name, unsigned long* noteID, TIMEDATE* modified = nullptr,
                std::string file = DEFAULT_CFGDB_NAME) {
        return findCfgDBInstance(Text(name), Text(file), noteID, modified);
    }
    std::unique_ptr<CConfig> Make(std::string instance = "ZEL1") {
        std::string file = DEFAULT_CFGDB_NAME;
        return std::unique_ptr<CConfig>(new CConfig(Text(instance), Text(file)));
    }
};

TEST_F(CfgDBTest, QueryStringDoublesBackslashesOnly) {
    char out[64];
    std::string in = "A\\B\"C\\\\";
    EXPECT_EQ(out, prepQueryString(out, Text(in)));
    EXPECT_STREQ("A\\\\B\"C\\\\\\\\", out);
    std::string empty;
    EXPECT_STREQ("", prepQueryString(out, Text(empty)));
    EXPECT_EQ(nullptr, prepQueryString(nullptr, Text(in)));
    EXPECT_EQ(nullptr, prepQueryString(out, nullptr));
}

TEST_F(CfgDBTest, FindsTheInstanceDocument) {
    AddInstance("OTHER");
    NOTEID id = AddInstance("ZEL1");
    unsigned long noteID = 0;
    TIMEDATE modified{};
    ASSERT_EQ(NOERROR, Find("ZEL1", &noteID, &modified));
    EXPECT_EQ(id, noteID);
    EXPECT_NE(0u, modified.Innards[1]);

    noteID = 0;
    EXPECT_EQ(NOERROR, Find("ZEL1", &noteID));  // the time is optional
    EXPECT_EQ(id, noteID);
}

TEST_F(CfgDBTest, NotFoundLeavesTheNoteIDAlone) {
    AddInstance("ZEL1");
    unsigned long noteID = 77;
    TIMEDATE modified = {{1, 2}};
    EXPECT_EQ(NOERROR, Find("NOPE", &noteID, &modified));
    EXPECT_EQ(77u, noteID);
    EXPECT_EQ(1u, modified.Innards[0]);

    // Letter case counts, though the formula may select the document.
    EXPECT_EQ(NOERROR, Find("zel1", &noteID));
    EXPECT_EQ(77u, noteID);
    // A name too long for any item text is simply not there.
    EXPECT_EQ(NOERROR, Find(std::string(700, 'Z'), &noteID));
    EXPECT_EQ(77u, noteID);
}

TEST_F(CfgDBTest, BackslashInTheNameIsMatchedExactly) {
    AddInstance("A\\\\B");
    NOTEID id = AddInstance("A\\B");
    unsigned long noteID = 0;
    ASSERT_EQ(NOERROR, Find("A\\B", &noteID));
    EXPECT_EQ(id, noteID);
}

TEST_F(CfgDBTest, LastOfTwoDocumentsWins) {
    AddInstance("ZEL1");
    NOTEID second = AddInstance("ZEL1");
    unsigned long noteID = 0;
    ASSERT_EQ(NOERROR, Find("ZEL1", &noteID));
    EXPECT_EQ(second, noteID);
}

TEST_F(CfgDBTest, BadArgumentsAndBrokenFormulaAreReported) {
    AddInstance("ZEL1");
    unsigned long noteID = 0;
    std::string name = "ZEL1", file = DEFAULT_CFGDB_NAME;
    EXPECT_EQ(CFGDB_NULL_ARG, findCfgDBInstance(nullptr, Text(file), &noteID, nullptr));
    EXPECT_EQ(CFGDB_NULL_ARG, findCfgDBInstance(Text(name), nullptr, &noteID, nullptr));
    EXPECT_EQ(CFGDB_NULL_ARG, findCfgDBInstance(Text(name), Text(file), nullptr, nullptr));
    EXPECT_NE(NOERROR, Find("ZEL1", &noteID, nullptr, "absent.nsf"));
    // A double quote ends the formula's string early.
    EXPECT_EQ(ERR_FORMULA_COMPILATION, ERR(Find("ZE\"L1", &noteID)));
    EXPECT_EQ(0u, noteID);
    EXPECT_EQ(CFGDB_MISSING, findInstanceNoteID(nullptr, nullptr, nullptr));
}

TEST_F(CfgDBTest, LoadsEveryItem) {
    NOTEID id = AddInstance("ZEL1");
    std::unique_ptr<CConfig> config = Make();
    ASSERT_EQ(NOERROR, getAllCfgDBData(config.get()));

    EXPECT_EQ("names.nsf", Get(*config, &CConfig::GetInputDB));
    EXPECT_EQ("updates.nsf", Get(*config, &CConfig::GetOutputDB));
    EXPECT_EQ("CN=Driver/O=Org", Get(*config, &CConfig::GetLoopDetectID));
    EXPECT_EQ(1, config->DoLoopDetect());
    EXPECT_EQ(1, config->IsDirectory());
    EXPECT_EQ(1, config->GetAutoRefreshFlag());
    EXPECT_EQ("MINUTES", Get(*config, &CConfig::GetScheduleUnits));
    EXPECT_EQ(300u, config->Interval());
    EXPECT_EQ(2u, config->DNFormat());
    EXPECT_EQ(1, config->CheckAttrs());
    EXPECT_EQ(1, config->WriteTimeStamps());
    EXPECT_EQ((unsigned long)TRACE_VERBOSE, config->Tracing());
    EXPECT_EQ(cfgtest::kFilter, FilterText(*config));
    TIMEDATE stored = ReadTime(id, "LastEventTimeStamp_TS"), loaded;
    config->GetLastReplicationTimeStamp(&loaded);
    EXPECT_EQ(0, TimeDateCompare(&stored, &loaded));
}

TEST_F(CfgDBTest, MissingFilterLoadsTheRestAndIsReported) {
    CreateDb();
    AddDocument(cfgtest::Without(cfgtest::CompleteInstance("ZEL1"), {"PublisherFilter_text"}));
    std::unique_ptr<CConfig> config = Make();
    EXPECT_EQ(CFGDB_MISSING, getAllCfgDBData(config.get()));
    EXPECT_EQ("names.nsf", Get(*config, &CConfig::GetInputDB));
    EXPECT_EQ((unsigned long)TRACE_VERBOSE, config->Tracing());
    EXPECT_EQ("", FilterText(*config));
}

TEST_F(CfgDBTest, EmptyFilterTextFreesThePreviousFilter) {
    NOTEID id = AddInstance("ZEL1");
    std::unique_ptr<CConfig> config = Make();
    ASSERT_EQ(NOERROR, getAllCfgDBData(config.get()));
    unsigned long before = 0;
    config->GetPubFilter(&before);
    ASSERT_NE(0u, before);

    ChangeDocument(id, {cfgtest::Text("PublisherFilter_text", "")});
    EXPECT_EQ(NOERROR, getAllCfgDBData(config.get()));
    unsigned long after = 1;
    config->GetPubFilter(&after);
    EXPECT_EQ(0u, after);
    EXPECT_EQ(nullptr, OSMemoryLock((MEMHANDLE)before));
}

TEST_F(CfgDBTest, OddValuesInTheDocument) {
    CreateDb();
    std::vector<cfgtest::Item> items = cfgtest::CompleteInstance("ZEL1");
    items = cfgtest::With(items, cfgtest::Text("LoopDetectID_text", ""));
    items = cfgtest::With(items, cfgtest::Number("ScheduleValue_number", 0));
    items = cfgtest::With(items, cfgtest::Text("InputDB_text", std::string(400, 'i')));
    items = cfgtest::With(items, cfgtest::Number("CheckAttrs_number", 0));
    items = cfgtest::With(items, cfgtest::Number("DirectoryFlag_number", -3.5));
    items = cfgtest::With(items, cfgtest::Text("ScheduleUnits_text", "fortnights"));
    AddDocument(items);
    std::unique_ptr<CConfig> config = Make();
    getAllCfgDBData(config.get());

    EXPECT_EQ(0, config->DoLoopDetect());  // no ID: the flag stays off
    unsigned long value = 0;
    config->GetScheduleInUnits(&value);
    EXPECT_EQ(120u, value);  // 0 refused
    EXPECT_EQ("SECONDS", Get(*config, &CConfig::GetScheduleUnits));
    EXPECT_EQ(383u, Get(*config, &CConfig::GetInputDB).size());
    EXPECT_EQ(0, config->CheckAttrs());
    EXPECT_EQ(0, config->WriteTimeStamps());  // needs CheckAttrs
    EXPECT_EQ(1, config->IsDirectory());
}

TEST_F(CfgDBTest, NegativeScheduleValueWraps) {
    AddInstance("ZEL1", {cfgtest::Number("ScheduleValue_number", -1),
                         cfgtest::Text("ScheduleUnits_text", "SECONDS")});
    std::unique_ptr<CConfig> config = Make();
    getAllCfgDBData(config.get());
    unsigned long value = 0;
    config->GetScheduleInUnits(&value);
    EXPECT_EQ(4294967295u, value);
}

// Units load before the count: a document's schedule is taken whole even
// when its units do not fit the count in memory, and a count whose
// interval does not fit is refused with its reason.
TEST_F(CfgDBTest, ScheduleIsLoadedWholeOrRefusedWithItsReason) {
    NOTEID id = AddInstance("ZEL1", {cfgtest::Number("ScheduleValue_number", 2),
                                     cfgtest::Text("ScheduleUnits_text", "DAYS")});
    std::unique_ptr<CConfig> config = Make();
    ASSERT_EQ(0, config->SetScheduleInUnits(100000));
    getAllCfgDBData(config.get());
    EXPECT_EQ(172800u, config->Interval());

    ChangeDocument(id, {cfgtest::Number("ScheduleValue_number", 100000)});
    ClearLog();
    getAllCfgDBData(config.get());
    EXPECT_EQ(172800u, config->Interval());
    EXPECT_EQ(std::vector<std::string>{"Orvane - ZEL1:  ScheduleValue_number 100000 DAYS does not fit the longest interval; "
                    "the schedule stays 2 DAYS"},
              Lines());
}

TEST_F(CfgDBTest, SaveAndLoadRoundTrip) {
    AddInstance("ZEL1");
    std::unique_ptr<CConfig> config = Make();
    ASSERT_EQ(NOERROR, config->Refresh());
    std::string input = "IN.NSF", output = "OUT.NSF", id = "CN=Loop/O=Org", units = "HOURS";
    config->SetInputDB(Text(input));
    config->SetOutputDB(Text(output));
    config->SetLoopDetectID(Text(id));
    config->SetLoopDetectFlag(0);
    config->SetDirectoryFlag(0);
    config->SetAutoRefreshFlag(0);
    config->SetScheduleUnits(Text(units));
    config->SetScheduleInUnits(7);
    config->SetDNFormat(4);
    config->SetWriteTimeStamps(0);
    config->SetCheckAttrs(0);
    config->SetTrace(0UL);
    TIMEDATE time = cfgtest::PastTime(2);
    config->SetLastReplicationTimeStamp(&time);
    config->SetPubFilter(NewFilterBlock("<saved/>"));
    ASSERT_EQ(NOERROR, config->Save());

    std::unique_ptr<CConfig> reloaded = Make();
    ASSERT_EQ(NOERROR, reloaded->Refresh());
    EXPECT_EQ("IN.NSF", Get(*reloaded, &CConfig::GetInputDB));
    EXPECT_EQ("OUT.NSF", Get(*reloaded, &CConfig::GetOutputDB));
    EXPECT_EQ("CN=Loop/O=Org", Get(*reloaded, &CConfig::GetLoopDetectID));
    EXPECT_EQ(0, reloaded->DoLoopDetect());
    EXPECT_EQ(0, reloaded->IsDirectory());
    EXPECT_EQ(0, reloaded->GetAutoRefreshFlag());
    EXPECT_EQ("HOURS", Get(*reloaded, &CConfig::GetScheduleUnits));
    unsigned long value = 0;
    reloaded->GetScheduleInUnits(&value);
    EXPECT_EQ(7u, value);
    EXPECT_EQ(7u * 3600u, reloaded->Interval());
    EXPECT_EQ(4u, reloaded->DNFormat());
    EXPECT_EQ(0, reloaded->CheckAttrs());
    EXPECT_EQ(0, reloaded->WriteTimeStamps());
    EXPECT_EQ((unsigned long)TRACE_SILENT, reloaded->Tracing());
    TIMEDATE loaded;
    reloaded->GetLastReplicationTimeStamp(&loaded);
    EXPECT_EQ(0, TimeDateCompare(&time, &loaded));
    EXPECT_EQ("<saved/>", FilterText(*reloaded));
    EXPECT_EQ("ZEL1", Get(*reloaded, &CConfig::GetInstanceName));
}

TEST_F(CfgDBTest, SaveWithoutADocumentIsAFailure) {
    CreateDb();
    std::unique_ptr<CConfig> config = Make("NOPE");
    EXPECT_NE(NOERROR, config->Save());
    EXPECT_EQ(CFGDB_NULL_ARG, putAllCfgDBData(nullptr));
    EXPECT_EQ(CFGDB_NULL_ARG, getAllCfgDBData(nullptr));
}

TEST_F(CfgDBTest, SingleItemsWithoutADocument) {
    CreateDb();
    std::unique_ptr<CConfig> config = Make("NOPE");
    tagPASS_DATA data;
    memset(&data, 0, sizeof(data));
    data.fieldIndex = CFG_INPUTDB;
    data.config = config.get();
    EXPECT_EQ(CFGDB_NULL_ARG, getInstanceField(nullptr));
    tagPASS_DATA noConfig;
    memset(&noConfig, 0, sizeof(noConfig));
    EXPECT_EQ(CFGDB_NULL_ARG, putInstanceField(&noConfig));

    // The configuration database is not open here, so the note cannot be opened.
    STATUS status = getInstanceField(&data);
    EXPECT_NE(NOERROR, status);
    EXPECT_EQ(0, status & ~ERR_MASK);
    EXPECT_EQ(status, ERR(data.status));

    char text[CFG_TEXT_SIZE];
    EXPECT_NE(NOERROR, config->getCfgField(CFG_INPUTDB, text));
    EXPECT_EQ(CFGDB_NULL_ARG, config->getCfgField(CFG_INPUTDB, (char*)nullptr));
    EXPECT_EQ(CFGDB_NULL_ARG, config->putCfgField(CFG_INPUTDB, (char*)nullptr));
    EXPECT_EQ(CFGDB_MISSING, config->getCfgField(CFG_END, text));
    EXPECT_EQ(CFGDB_MISSING, config->putCfgField(-1, 1.0));
    DBHANDLE handle = 1;
    config->GetCfgDBHandle(&handle);
    EXPECT_EQ(NULLHANDLE, handle);  // closed again after the failures
}

TEST_F(CfgDBTest, SingleItemReadsAndWrites) {
    NOTEID id = AddInstance("ZEL1");
    std::unique_ptr<CConfig> config = Make();
    std::string path = "NEW.NSF";
    ASSERT_EQ(NOERROR, config->putCfgField(CFG_OUTPUTDB, Text(path)));
    EXPECT_EQ("NEW.NSF", ReadText(id, "OutputDB_text"));
    ASSERT_EQ(NOERROR, config->putCfgField(CFG_SCHEDULEVALUE, 9.0));
    EXPECT_EQ(9.0, ReadNumber(id, "ScheduleValue_number"));

    char text[CFG_TEXT_SIZE] = {0};
    ASSERT_EQ(NOERROR, config->getCfgField(CFG_OUTPUTDB, text));
    EXPECT_STREQ("NEW.NSF", text);
    double number = 0;
    ASSERT_EQ(NOERROR, config->getCfgField(CFG_SCHEDULEVALUE, &number));
    EXPECT_EQ(9.0, number);
    unsigned long filter = 0;
    ASSERT_EQ(NOERROR, config->getCfgField(CFG_PUBLISHERFILTER, &filter));
    ASSERT_NE(0u, filter);
    EXPECT_STREQ(cfgtest::kFilter, (const char*)OSMemoryLock((MEMHANDLE)filter));
    OSMemoryUnlock((MEMHANDLE)filter);
    OSMemoryFree((MEMHANDLE)filter);  // the caller owns the block

    ChangeDocument(id, {}, {"OutputDB_text"});
    EXPECT_EQ(CFGDB_MISSING, config->getCfgField(CFG_OUTPUTDB, text));
    // Writing a filter block of 0 writes nothing and keeps the stored text.
    EXPECT_EQ(NOERROR, config->putCfgField(CFG_PUBLISHERFILTER, 0UL));
    EXPECT_EQ(cfgtest::kFilter, ReadText(id, "PublisherFilter_text"));
}

TEST_F(CfgDBTest, LoadWritesDNFormatAndLastEventBack) {
    NOTEID id = AddInstance("ZEL1", {cfgtest::Number("DNFormat_number", 4.7)});
    std::unique_ptr<CConfig> config = Make();
    ASSERT_EQ(NOERROR, config->Refresh());
    EXPECT_EQ(4u, config->DNFormat());
    EXPECT_EQ(4.0, ReadNumber(id, "DNFormat_number"));
}

TEST_F(CfgDBTest, OwnWritesDoNotTriggerAutoRefresh) {
    NOTEID id = AddInstance("ZEL1");
    std::unique_ptr<CConfig> config = Make();
    ASSERT_EQ(NOERROR, config->Refresh());
    std::string console = "CONSOLE.NSF";
    config->SetInputDB(Text(console));

    // A pass stores its time a while after the load.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    TIMEDATE time = cfgtest::PastTime(0);
    config->SetLastReplicationTimeStamp(&time);
    int refreshed = 7;
    EXPECT_EQ(0, config->AutoRefresh(&refreshed));
    EXPECT_EQ(0, refreshed);
    EXPECT_EQ("CONSOLE.NSF", Get(*config, &CConfig::GetInputDB));

    // A change by someone else still does.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    ChangeDocument(id, {cfgtest::Text("InputDB_text", "edited.nsf")});
    config->SetLastReplicationTimeStamp(&time);
    EXPECT_EQ(0, config->AutoRefresh(&refreshed));
    EXPECT_EQ(1, refreshed);
    EXPECT_EQ("edited.nsf", Get(*config, &CConfig::GetInputDB));
}
