// config_test.cpp - CConfig: construction against the configuration
// database, states and status line texts, the schedule arithmetic, switches
// and their preconditions, the console queue, the last-replication time,
// reloading and the check for missing items.
#include <cstring>
#include <memory>
#include <string>

#include "cfgtest.h"
#include "misc.h"
#include "schedule.h"

namespace {

struct StatusLineSeen {
    std::string name;
    std::string text;
    int count = 0;
};

STATUS LNCALLBACK FindStatusLine(void* context, const char* taskName, const char* text, DWORD) {
    StatusLineSeen* seen = static_cast<StatusLineSeen*>(context);
    if (seen->name == taskName) {
        seen->text = text;
        ++seen->count;
    }
    return NOERROR;
}

// The text of the live status line of that task name, and how many there are.
StatusLineSeen StatusLine(const std::string& name) {
    StatusLineSeen seen;
    seen.name = name;
    NRTEnumStatusLines(FindStatusLine, &seen);
    return seen;
}

char* Text(std::string& text) { return &text[0]; }

}  // namespace

class CConfigTest : public ConfigTest {
protected:
    std::unique_ptr<CConfig> Make(std::string instance = "ZEL1",
                                  std::string file = DEFAULT_CFGDB_NAME) {
        return std::unique_ptr<CConfig>(new CConfig(Text(instance), Text(file)));
    }
    // A running configuration loaded from a complete document.
    std::unique_ptr<CConfig> Loaded(std::string instance = "ZEL1") {
        documentID_ = AddInstance(instance);
        std::unique_ptr<CConfig> config = Make(instance);
        EXPECT_EQ(0, config->Refresh());
        return config;
    }
    NOTEID documentID_ = 0;
};

TEST_F(CConfigTest, ConstructorFindsTheInstanceDocument) {
    NOTEID id = AddInstance("ZEL1");
    std::unique_ptr<CConfig> config = Make();

    EXPECT_EQ(STATE_RUNNING, config->GetState());
    unsigned long noteID = 0;
    config->GetInstanceNoteID(&noteID);
    EXPECT_EQ(id, noteID);
    EXPECT_EQ("Orvane - ZEL1", Get(*config, &CConfig::GetStatusLine));
    EXPECT_EQ("ZEL1", Get(*config, &CConfig::GetInstanceName));
    EXPECT_EQ(DEFAULT_CFGDB_NAME, Get(*config, &CConfig::GetCfgDBName));
    // The stored last-event time is read at once, the other items only by Refresh.
    TIMEDATE stored = ReadTime(id, "LastEventTimeStamp_TS");
    TIMEDATE last;
    config->GetLastReplicationTimeStamp(&last);
    EXPECT_EQ(0, TimeDateCompare(&stored, &last));
    char lastText[CFG_LASTREPL_SIZE] = {0};
    EXPECT_EQ(0, config->GetLastReplicationTimeStampStr(lastText));
    EXPECT_STRNE("", lastText);
    EXPECT_EQ("", Get(*config, &CConfig::GetInputDB));
    EXPECT_EQ("", Joined());

    StatusLineSeen line = StatusLine("Orvane - ZEL1");
    EXPECT_EQ(1, line.count);
    EXPECT_EQ("Idle on: ", line.text);
}

TEST_F(CConfigTest, MissingInstanceWaitsForCriticalData) {
    AddInstance("OTHER");
    std::unique_ptr<CConfig> config = Make("NOPE");
    EXPECT_EQ(STATE_WAITING, config->GetState());
    unsigned long noteID = 7;
    config->GetInstanceNoteID(&noteID);
    EXPECT_EQ(0u, noteID);
    ASSERT_EQ(1u, Lines().size());
    EXPECT_EQ("Orvane - NOPE:  configuration instance not found: file=zelrpcfg.nsf, instance=NOPE",
              Lines()[0]);
    EXPECT_EQ("Idle: Process suspended. Waiting for critical data in zelrpcfg.nsf",
              StatusLine("Orvane - NOPE").text);
}

TEST_F(CConfigTest, MissingDatabaseIsLoggedWithItsStatus) {
    std::unique_ptr<CConfig> config = Make("ZEL1", "absent.nsf");
    EXPECT_EQ(STATE_WAITING, config->GetState());
    ASSERT_EQ(1u, Lines().size());
    const std::string expected =
        "Orvane - ZEL1:  configuration instance not found: file=absent.nsf, instance=ZEL1: ";
    EXPECT_EQ(expected, Lines()[0].substr(0, expected.size()));
    EXPECT_GT(Lines()[0].size(), expected.size());
}

TEST_F(CConfigTest, DefaultConstructorUsesTheDefaultNames) {
    AddInstance("ZELREP");
    CConfig config;
    EXPECT_EQ(STATE_RUNNING, config.GetState());
    EXPECT_EQ("Orvane - ZELREP", Get(config, &CConfig::GetStatusLine));
    EXPECT_EQ("zelrpcfg.nsf", Get(config, &CConfig::GetCfgDBName));
}

// The schedule's arithmetic gives the same answers whatever the width of
// long: run here with a 32-bit and with a 64-bit one.
template <typename Long>
class ScheduleWidthTest : public ::testing::Test {};
using LongWidths = ::testing::Types<uint32_t, uint64_t>;
TYPED_TEST_SUITE(ScheduleWidthTest, LongWidths);

TYPED_TEST(ScheduleWidthTest, CountsAndIntervalsBeyond32BitsAreRefused) {
    using Math = ScheduleArithmetic<TypeParam>;
    TypeParam count = 7, seconds = 7;
    EXPECT_TRUE(Math::Count("4294967295", &count));
    EXPECT_EQ(4294967295u, count);
    EXPECT_TRUE(Math::Interval(count, 1, &seconds));
    EXPECT_EQ(4294967295u, seconds);
    seconds = 7;
    EXPECT_FALSE(Math::Interval(count, 60, &seconds));  // 4294967295 MINUTES
    EXPECT_FALSE(Math::Interval(49711, 86400, &seconds));
    EXPECT_EQ(7u, seconds);
    EXPECT_TRUE(Math::Interval(49710, 86400, &seconds));
    EXPECT_EQ(4294944000u, seconds);

    // 4294967296 wraps nowhere: either it does not fit the long, or its
    // interval does not fit 32 bits.
    bool counted = Math::Count("4294967296", &count);
    EXPECT_EQ(sizeof(TypeParam) > 4, counted);
    EXPECT_FALSE(counted && Math::Interval(count, 1, &seconds));
    count = 7;
    EXPECT_FALSE(Math::Count("99999999999999999999999", &count));
    EXPECT_FALSE(Math::Count("12x", &count));
    EXPECT_EQ(7u, count);
    EXPECT_TRUE(Math::Count("", &count));
    EXPECT_EQ(0u, count);
}

TEST_F(CConfigTest, ScheduleArithmetic) {
    std::unique_ptr<CConfig> config = Make();
    std::string minutes = "Minutes";
    EXPECT_EQ(0, config->SetScheduleUnits(Text(minutes)));
    EXPECT_EQ("MINUTES", minutes);  // the caller's text is upper-cased in place
    EXPECT_EQ(0, config->SetScheduleInUnits(5));
    EXPECT_EQ(300u, config->Interval());
    std::string hours = "hOuRs";
    EXPECT_EQ(0, config->SetScheduleUnits(Text(hours)));
    EXPECT_EQ(18000u, config->Interval());
    EXPECT_EQ("HOURS", Get(*config, &CConfig::GetScheduleUnits));

    std::string hour = "HOUR";
    EXPECT_EQ(-2, config->SetScheduleUnits(Text(hour)));
    EXPECT_EQ(-2, config->SetScheduleInUnits(0));
    EXPECT_EQ(-1, config->SetScheduleUnits(nullptr));
    unsigned long value = 0;
    config->GetScheduleInUnits(&value);
    EXPECT_EQ(5u, value);
    EXPECT_EQ(18000u, config->Interval());

    // An interval that does not fit 32 bits is refused, not wrapped: the
    // count with -2, the units with -3, and nothing changes.
    std::string days = "DAYS";
    EXPECT_EQ(0, config->SetScheduleUnits(Text(days)));
    EXPECT_EQ(0, config->SetScheduleInUnits(49710));  // 4294944000 seconds
    EXPECT_EQ(4294944000u, config->Interval());
    EXPECT_EQ(-2, config->SetScheduleInUnits(49711));
    EXPECT_EQ(4294944000u, config->Interval());
    std::string secondsUnit = "SECONDS";
    EXPECT_EQ(0, config->SetScheduleUnits(Text(secondsUnit)));
    EXPECT_EQ(0, config->SetScheduleInUnits(4294967295ul));
    EXPECT_EQ(-3, config->SetScheduleUnits(Text(days)));
    EXPECT_EQ("SECONDS", Get(*config, &CConfig::GetScheduleUnits));
    EXPECT_EQ(4294967295u, config->Interval());

    unsigned long seconds = 99;
    EXPECT_EQ(1037, config->GetScheduleInSeconds((SCHEDULEUNITS)4, 1, &seconds));
    EXPECT_EQ(99u, seconds);
    char text[16] = "unchanged";
    EXPECT_EQ(-2, config->GetScheduleUnitsAsString((SCHEDULEUNITS)-1, text));
    EXPECT_STREQ("unchanged", text);
}

TEST_F(CConfigTest, TraceLevelWords) {
    std::unique_ptr<CConfig> config = Make();
    std::string verbose = "verbose";
    EXPECT_EQ(0u, config->SetTrace(Text(verbose)));
    EXPECT_EQ((unsigned long)TRACE_VERBOSE, config->Tracing());
    EXPECT_EQ("verbose", verbose);  // the caller's text is left as it was
    std::string loud = "LOUD";
    EXPECT_EQ(0u, config->SetTrace(Text(loud)));
    EXPECT_EQ(0u, config->SetTrace((char*)nullptr));
    EXPECT_EQ((unsigned long)TRACE_VERBOSE, config->Tracing());
    config->SetTrace(0UL);
    EXPECT_EQ((unsigned long)TRACE_SILENT, config->Tracing());
}

TEST_F(CConfigTest, LoopDetectionNeedsAnID) {
    std::unique_ptr<CConfig> config = Make();
    EXPECT_EQ(-3, config->SetLoopDetectFlag(1));
    EXPECT_EQ(-3, config->SetLoopDetectFlag(0));
    EXPECT_EQ(0, config->DoLoopDetect());

    std::string name = "Jane Doe/Sales/Acme";
    EXPECT_EQ(0, config->SetLoopDetectID(Text(name)));
    EXPECT_EQ("CN=Jane Doe/OU=Sales/O=Acme", Get(*config, &CConfig::GetLoopDetectID));
    EXPECT_EQ(0, config->SetLoopDetectFlag(1));
    EXPECT_EQ(1, config->DoLoopDetect());
    EXPECT_EQ(-1, config->SetLoopDetectID(nullptr));

    // A Notes name has at most 255 characters.
    std::string longName(400, 'x');
    config->SetLoopDetectID(Text(longName));
    EXPECT_EQ(255u, Get(*config, &CConfig::GetLoopDetectID).size());
}

TEST_F(CConfigTest, PublisherFilterBlockIsOwned) {
    std::unique_ptr<CConfig> config = Make();
    unsigned long first = NewFilterBlock("<a/>");
    EXPECT_EQ(0, config->SetPubFilter(first));
    EXPECT_EQ(0, config->SetPubFilter(first));  // the same block: nothing is freed
    EXPECT_EQ("<a/>", FilterText(*config));

    unsigned long second = NewFilterBlock("<b/>");
    EXPECT_EQ(0, config->SetPubFilter(second));
    EXPECT_EQ(nullptr, OSMemoryLock((MEMHANDLE)first));  // the replaced block is gone
    EXPECT_EQ("<b/>", FilterText(*config));
    config.reset();
    EXPECT_EQ(nullptr, OSMemoryLock((MEMHANDLE)second));  // and the last one with the object
}

TEST_F(CConfigTest, StateTextsOnTheStatusLine) {
    std::unique_ptr<CConfig> config = Make();
    std::string input = "names.nsf";
    config->SetInputDB(Text(input));

    config->SetState(STATE_RUNNING, nullptr);
    EXPECT_EQ("Idle on: names.nsf", StatusLine("Orvane - ZEL1").text);
    config->SetState(STATE_SUSPENDED, nullptr);
    EXPECT_EQ("Idle: Process suspended on names.nsf", StatusLine("Orvane - ZEL1").text);
    config->SetState(STATE_WAITING, nullptr);
    EXPECT_EQ("Idle: Process suspended. Waiting for critical data in zelrpcfg.nsf",
              StatusLine("Orvane - ZEL1").text);
    config->SetState(7, nullptr);
    EXPECT_EQ(7, config->GetState());
    EXPECT_EQ("Unknown state: names.nsf", StatusLine("Orvane - ZEL1").text);

    std::string custom = "working on %s%s%n";  // shown as given, never used as a format
    config->SetState(STATE_RUNNING, Text(custom));
    EXPECT_EQ("working on %s%s%n", StatusLine("Orvane - ZEL1").text);
    EXPECT_EQ(-1, config->SetStatusLineText(nullptr));
    std::string empty;
    EXPECT_EQ(-1, config->SetStatusLine(Text(empty)));
}

TEST_F(CConfigTest, InstanceNameRenamesTheStatusLine) {
    std::unique_ptr<CConfig> config = Make();
    std::string name = "NEXT";
    EXPECT_EQ(0, config->SetInstanceName(Text(name)));
    EXPECT_EQ("Orvane - NEXT", Get(*config, &CConfig::GetStatusLine));
    EXPECT_EQ(1, StatusLine("Orvane - NEXT").count);
    EXPECT_EQ(0, StatusLine("Orvane - ZEL1").count);
    EXPECT_EQ("Idle: Process suspended. Waiting for critical data in zelrpcfg.nsf",
              StatusLine("Orvane - NEXT").text);

    std::string longest(MAX_INSTANCE_NAME, 'A');
    EXPECT_EQ(0, config->SetInstanceName(Text(longest)));
    EXPECT_EQ((size_t)STATUS_LINE_SIZE - 1, Get(*config, &CConfig::GetStatusLine).size());
    std::string tooLong(MAX_INSTANCE_NAME + 1, 'B');
    EXPECT_EQ(-2, config->SetInstanceName(Text(tooLong)));
    EXPECT_EQ(longest, Get(*config, &CConfig::GetInstanceName));
}

TEST_F(CConfigTest, OverlongInstanceNameKeepsTheStatusLineNameInItsBuffer) {
    std::unique_ptr<CConfig> config = Make(std::string(300, 'Q'));
    char name[STATUS_LINE_SIZE + 8];
    memset(name, '#', sizeof(name));
    config->GetStatusLine(name);
    EXPECT_EQ((size_t)STATUS_LINE_SIZE - 1, strlen(name));
    EXPECT_EQ('#', name[STATUS_LINE_SIZE]);
}

TEST_F(CConfigTest, QueueNameCreatesAndOpensTheConsoleQueue) {
    std::unique_ptr<CConfig> config = Make();
    std::string name = "ZEL1";
    EXPECT_EQ(NOERROR, config->SetQueueName(Text(name)));
    EXPECT_EQ("MQ$ZEL1", Get(*config, &CConfig::GetQueueName));
    ASSERT_NE(0u, config->GetMQHandle());

    MQHANDLE sender = 0;
    ASSERT_EQ(NOERROR, MQOpen("MQ$ZEL1", 0, &sender));
    ASSERT_EQ(NOERROR, MQPut(sender, 0, "hello", 5, 0));
    MQClose(sender, 0);
    char buffer[16] = {0};
    WORD length = 0;
    EXPECT_EQ(NOERROR, MQGet((MQHANDLE)config->GetMQHandle(), buffer, sizeof(buffer), 0, 2000,
                             &length));
    EXPECT_EQ("hello", std::string(buffer, length));
    EXPECT_EQ((STATUS)0xFFFF, config->SetQueueName(nullptr));
}

TEST_F(CConfigTest, QueueNameInUseIsReported) {
    std::unique_ptr<CConfig> first = Make();
    std::unique_ptr<CConfig> second = Make();
    std::string name = "ZEL1";
    ASSERT_EQ(NOERROR, first->SetQueueName(Text(name)));
    ClearLog();
    EXPECT_EQ(ERR_DUPLICATE_MQ, ERR(second->SetQueueName(Text(name))));
    EXPECT_EQ(0u, second->GetMQHandle());
    ASSERT_EQ(2u, Lines().size());
    EXPECT_EQ("Orvane - ZEL1:  Error creating queue MQ$ZEL1: ",
              Lines()[0].substr(0, strlen("Orvane - ZEL1:  Error creating queue MQ$ZEL1: ")));
    EXPECT_EQ("Orvane - ZEL1:  Use unique instance name when loading zelrep\n\t\tUSAGE: load "
              "zelrep UNIQUENAME2",
              Lines()[1]);

    // The queue goes with its owner.
    first.reset();
    EXPECT_EQ(NOERROR, second->SetQueueName(Text(name)));
}

TEST_F(CConfigTest, LastReplicationTimeGoesToTheDocument) {
    std::unique_ptr<CConfig> config = Loaded();
    TIMEDATE time = cfgtest::PastTime(1);
    EXPECT_EQ(0, config->SetLastReplicationTimeStamp(&time));
    TIMEDATE stored = ReadTime(documentID_, "LastEventTimeStamp_TS");
    EXPECT_EQ(0, TimeDateCompare(&time, &stored));

    char text[CFG_LASTREPL_SIZE] = {0};
    ASSERT_EQ(0, config->GetLastReplicationTimeStampStr(text));
    // The text reads back as the same time.
    std::unique_ptr<CConfig> other = Make();
    ASSERT_EQ(0, other->SetLastReplicationTimeStampStr(text));
    TIMEDATE reread;
    other->GetLastReplicationTimeStamp(&reread);
    EXPECT_EQ(0, TimeDateCompare(&time, &reread));

    std::string garbage = "not a time";
    EXPECT_NE(0, config->SetLastReplicationTimeStampStr(Text(garbage)));
    EXPECT_EQ(-1, config->SetLastReplicationTimeStamp(nullptr));
    EXPECT_EQ(-1, config->GetLastReplicationTimeStampStr(nullptr));
}

TEST_F(CConfigTest, SettersThatWriteKeepTheOldValueWithoutADocument) {
    CreateDb();
    std::unique_ptr<CConfig> config = Make("NOPE");
    TIMEDATE before;
    config->GetLastReplicationTimeStamp(&before);
    TIMEDATE time = cfgtest::PastTime(1);
    EXPECT_EQ(0, config->SetLastReplicationTimeStamp(&time));
    TIMEDATE after;
    config->GetLastReplicationTimeStamp(&after);
    EXPECT_EQ(0, memcmp(&before, &after, sizeof(before)));

    EXPECT_NE(0, config->SetDNFormat(2));
    EXPECT_EQ(1u, config->DNFormat());
}

TEST_F(CConfigTest, DNFormatIsWrittenAtOnce) {
    std::unique_ptr<CConfig> config = Loaded();
    EXPECT_EQ(0, config->SetDNFormat(4));
    EXPECT_EQ(4u, config->DNFormat());
    EXPECT_EQ(4.0, ReadNumber(documentID_, "DNFormat_number"));
    // No range check here: ErrorReport flags the value.
    EXPECT_EQ(0, config->SetDNFormat(3));
    EXPECT_EQ((unsigned long)CFGERR_DNFORMAT, config->ErrorReport(0) & CFGERR_DNFORMAT);
}

TEST_F(CConfigTest, AutoRefreshReloadsOnlyAChangedDocument) {
    std::unique_ptr<CConfig> config = Loaded();
    std::string changed = "CHANGED.NSF";
    config->SetInputDB(Text(changed));

    int refreshed = 7;
    EXPECT_EQ(0, config->AutoRefresh(&refreshed));
    EXPECT_EQ(0, refreshed);
    EXPECT_EQ("CHANGED.NSF", Get(*config, &CConfig::GetInputDB));

    // The document changed after the last load.
    ChangeDocument(documentID_, {cfgtest::Text("InputDB_text", "other.nsf")});
    TIMEDATE earlier;
    config->GetRefreshCfgTimeStamp(&earlier);
    TimeDateAdjustSeconds(&earlier, -5);
    config->SetRefreshCfgTimeStamp(&earlier);
    EXPECT_EQ(0, config->AutoRefresh(&refreshed));
    EXPECT_EQ(1, refreshed);
    EXPECT_EQ("other.nsf", Get(*config, &CConfig::GetInputDB));

    // Switched off, nothing is looked at.
    config->SetRefreshCfgTimeStamp(&earlier);
    config->SetAutoRefreshFlag(0);
    refreshed = 7;
    EXPECT_EQ(0, config->AutoRefresh(&refreshed));
    EXPECT_EQ(7, refreshed);
    EXPECT_EQ(0, config->AutoRefresh(nullptr));
}

TEST_F(CConfigTest, ErrorReportListsMissingItems) {
    std::unique_ptr<CConfig> config = Loaded();
    EXPECT_EQ(0u, config->ErrorReport(0));
    EXPECT_EQ("", Joined());

    std::string empty;
    config->SetInputDB(Text(empty));
    config->SetOutputDB(Text(empty));
    EXPECT_EQ(0x301u, config->ErrorReport(0));
    EXPECT_EQ(STATE_WAITING, config->GetState());
    EXPECT_EQ("", Joined());

    config->SetState(STATE_RUNNING, nullptr);
    EXPECT_EQ(0x301u, config->ErrorReport(1));
    EXPECT_EQ(STATE_WAITING, config->GetState());
    std::vector<std::string> expected = {
        "Orvane - ZEL1: Unable to read (or missing) the following configuration items:",
        "\t\tInput DB - Critical Error", "\t\tOutputDB - Critical Error",
        "Orvane - ZEL1:\tCritical configuration data is missing."};
    EXPECT_EQ(expected, Lines());
}

TEST_F(CConfigTest, ErrorReportNonCriticalFindings) {
    CreateDb();
    AddDocument(cfgtest::Without(cfgtest::CompleteInstance("ZEL1"),
                                 {"LastEventTimeStamp_TS", "PublisherFilter_text"}));
    std::unique_ptr<CConfig> config = Make();
    config->Refresh();
    config->SetDNFormat(9);
    // Loop detection on with its ID emptied afterwards.
    std::string empty;
    config->SetLoopDetectID(Text(empty));
    EXPECT_EQ(1, config->DoLoopDetect());

    EXPECT_EQ((unsigned long)(CFGERR_LASTEVENT | CFGERR_LOOPDETECTID | CFGERR_DNFORMAT |
                              CFGERR_PUBFILTER),
              config->ErrorReport(1));
    EXPECT_EQ(STATE_RUNNING, config->GetState());
    std::vector<std::string> expected = {
        "Orvane - ZEL1: Unable to read (or missing) the following configuration items:",
        "\t\tLoopDetectID", "\t\tDNFormat", "\t\tLastEventTimeStamp", "\t\tPublisher Filter"};
    EXPECT_EQ(expected, Lines());

    // With loop detection off an empty ID is no finding.
    ClearLog();
    std::string id = "CN=X/O=Y";
    config->SetLoopDetectID(Text(id));
    config->SetLoopDetectFlag(0);
    config->SetLoopDetectID(Text(empty));
    EXPECT_EQ(0u, config->ErrorReport(0) & CFGERR_LOOPDETECTID);
}

