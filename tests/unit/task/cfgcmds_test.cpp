// cfgcmds_test.cpp - SHOWCONFIG, SHOWFILTER and SETINSTANCE: the listing
// line by line, the filter text, and switching the running task to another
// instance without ever leaving it half switched.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cfgtest.h"

namespace {

STATUS LNCALLBACK CountStatusLine(void* context, const char* taskName, const char*, DWORD) {
    auto* seen = static_cast<std::pair<std::string, int>*>(context);
    if (seen->first == taskName) ++seen->second;
    return NOERROR;
}

int StatusLines(const std::string& name) {
    std::pair<std::string, int> seen(name, 0);
    NRTEnumStatusLines(CountStatusLine, &seen);
    return seen.second;
}

// Puts a message on a queue and answers whether the queue took it.
bool Reaches(const char* queue) {
    MQHANDLE handle = 0;
    if (MQOpen(queue, 0, &handle) != NOERROR) return false;
    STATUS status = MQPut(handle, 0, "x", 1, 0);
    MQClose(handle, 0);
    return status == NOERROR;
}

}  // namespace

class CfgCmdsTest : public TaskConsoleTest {
protected:
    std::string LastUpdateText() {
        char text[CFG_LASTREPL_SIZE] = {0};
        config_->GetLastReplicationTimeStampStr(text);
        return text;
    }
    // The task's configuration is still that of ZEL1, on its own queue.
    void ExpectStillZel1() {
        EXPECT_EQ("ZEL1", Get(*config_, &CConfig::GetInstanceName));
        EXPECT_EQ("Orvane - ZEL1", Get(*config_, &CConfig::GetStatusLine));
        unsigned long noteID = 0;
        config_->GetInstanceNoteID(&noteID);
        EXPECT_EQ(documentID_, noteID);
        EXPECT_EQ(1, StatusLines("Orvane - ZEL1"));
        EXPECT_TRUE(Reaches("MQ$ZEL1"));
        EXPECT_EQ("names.nsf", Get(*config_, &CConfig::GetInputDB));
    }
};

TEST_F(CfgCmdsTest, ShowConfigListsEverySetting) {
    Texts expected = {"Orvane - ZEL1: == ZELREP v2.1.1 ==",
                      "Orvane - ZEL1: == Current Configuration ==",
                      "\tzelrep is running",
                      "\ttrace level is VERBOSE",
                      "\tNSF used as Domino Directory is names.nsf",
                      "\tDirectory Update DB is updates.nsf",
                      "\tPublisher filter found",
                      "\tLOOPDETECT is enabled",
                      "\tLoop Detect is looking for CN=Driver/O=Org",
                      "\tReplication process is scheduled every 5 MINUTES",
                      "\tAUTOREFRESH is enabled",
                      "\tnames.nsf is a Notes Directory",
                      "\tDN Format is LDAP",
                      "\tZELREP is writing timestamps on processed notes",
                      "\tZELREP is only publishing changed attributes",
                      "\tZELREP completed the last update on " + LastUpdateText() + "\r\n"};
    EXPECT_EQ(expected, Send("SHOWCONFIG"));
}

TEST_F(CfgCmdsTest, ShowConfigWithTheOtherValues) {
    config_->SetPubFilter(0);
    config_->SetState(7, nullptr);
    config_->SetLoopDetectFlag(0);
    config_->SetAutoRefreshFlag(0);
    config_->SetDirectoryFlag(0);
    config_->SetDNFormat(3);
    config_->SetWriteTimeStamps(0);
    config_->SetCheckAttrs(0);
    config_->SetTrace(0UL);
    Texts lines = Send("showconfig please");
    Texts expected = {"Orvane - ZEL1: == ZELREP v2.1.1 ==",
                      "Orvane - ZEL1: == Current Configuration ==",
                      "\ttrace level is SILENT",
                      "\tNSF used as Domino Directory is names.nsf",
                      "\tDirectory Update DB is updates.nsf",
                      "\tLOOPDETECT is disabled",
                      "\tLoop Detect is looking for CN=Driver/O=Org",
                      "\tReplication process is scheduled every 5 MINUTES",
                      "\tAUTOREFRESH is disabled",
                      "\tnames.nsf is not a Notes Directory",
                      "\tDN Format is invalid.  Please check configuration",
                      "\tZELREP is not writing timestamps on processed notes",
                      "\tZELREP is publishing all attributes in publisher filter",
                      "\tZELREP completed the last update on " + LastUpdateText() + "\r\n"};
    EXPECT_EQ(expected, lines);

    config_->SetState(STATE_SUSPENDED, nullptr);
    EXPECT_EQ("\tzelrep is suspended", Send("SHOWCONFIG")[2]);
    config_->SetState(STATE_WAITING, nullptr);
    EXPECT_EQ("\tzelrep is suspended waiting for configuration information", Send("SHOWCONFIG")[2]);
}

TEST_F(CfgCmdsTest, ShowFilter) {
    EXPECT_EQ(Texts{std::string("Publisher Filter: ") + cfgtest::kFilter}, Send("SHOWFILTER"));
    config_->SetPubFilter(NewFilterBlock("<x a=\"%s%n\"/>"));
    EXPECT_EQ(Texts{"Publisher Filter: <x a=\"%s%n\"/>"}, Send("SHOWFILTER"));
    config_->SetPubFilter(0);
    EXPECT_EQ(Texts{"Publisher Filter NOT FOUND"}, Send("SHOWFILTER"));
}

TEST_F(CfgCmdsTest, SetInstanceNeedsAName) {
    STATUS status = 0;
    EXPECT_EQ(Texts{"Orvane - ZEL1: SETINSTANCE expects an instance name as a parameter"},
              Send("SETINSTANCE   ", &status));
    EXPECT_EQ(PARSE_EMPTY, status);
    ExpectStillZel1();
}

TEST_F(CfgCmdsTest, SetInstanceToAMissingInstanceChangesNothing) {
    Texts expected = {
        "Orvane - NOPE:  configuration instance not found: file=zelrpcfg.nsf, instance=NOPE",
        "Orvane - ZEL1: SETINSTANCE NOPE failed. Instance NOPE not available in zelrpcfg.nsf"};
    EXPECT_EQ(expected, Send("SETINSTANCE nope"));
    ExpectStillZel1();
    EXPECT_EQ(0, StatusLines("Orvane - NOPE"));  // the temporary object's line is gone
}

TEST_F(CfgCmdsTest, SetInstanceToIncompleteDataChangesNothing) {
    AddDocument(cfgtest::Without(cfgtest::CompleteInstance("ZEL2"), {"InputDB_text"}));
    EXPECT_EQ(Texts{"Orvane - ZEL1: SETINSTANCE ZEL2 failed. Required instance data ZEL2 not "
                    "available in zelrpcfg.nsf"},
              Send("SETINSTANCE ZEL2"));
    ExpectStillZel1();

    AddDocument(cfgtest::Without(cfgtest::CompleteInstance("ZEL3"), {"PublisherFilter_text"}));
    STATUS status = 0;
    Texts lines = Send("SETINSTANCE ZEL3", &status);
    ASSERT_EQ(1u, lines.size());
    EXPECT_TRUE(StartsWith(lines[0], "Orvane - ZEL1: SETINSTANCE ZEL3 failed. Instance data ZEL3 "
                                     "not available in zelrpcfg.nsf: "))
        << lines[0];
    EXPECT_EQ(CFGDB_MISSING, status);
    ExpectStillZel1();
}

TEST_F(CfgCmdsTest, SetInstanceSwitchesAndKeepsTheState) {
    NOTEID second = AddInstance("ZEL2", {cfgtest::Text("InputDB_text", "other.nsf")});
    config_->SetState(STATE_SUSPENDED, nullptr);
    STATUS status = 1;
    Texts lines = Send("SETINSTANCE zel2", &status);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Orvane - ZEL1:  Instance ZEL1 being reconfigured to ZEL2. ", lines.back());
    EXPECT_EQ(NOERROR, status);

    EXPECT_EQ("ZEL2", Get(*config_, &CConfig::GetInstanceName));
    EXPECT_EQ("Orvane - ZEL2", Get(*config_, &CConfig::GetStatusLine));
    EXPECT_EQ("other.nsf", Get(*config_, &CConfig::GetInputDB));
    unsigned long noteID = 0;
    config_->GetInstanceNoteID(&noteID);
    EXPECT_EQ(second, noteID);
    EXPECT_EQ(STATE_SUSPENDED, config_->GetState());
    EXPECT_TRUE(Reaches("MQ$ZEL2"));
    EXPECT_FALSE(Reaches("MQ$ZEL1"));
    EXPECT_EQ(1, StatusLines("Orvane - ZEL2"));
    EXPECT_EQ(0, StatusLines("Orvane - ZEL1"));

    // And back again.
    lines = Send("SETINSTANCE ZEL1");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Orvane - ZEL2:  Instance ZEL2 being reconfigured to ZEL1. ", lines.back());
    ExpectStillZel1();
    EXPECT_EQ(STATE_SUSPENDED, config_->GetState());
}

TEST_F(CfgCmdsTest, SetInstanceWhoseQueueIsTakenPutsEverythingBack) {
    AddInstance("ZEL2");
    ASSERT_EQ(NOERROR, MQCreate("MQ$ZEL2", 0, 0));  // another task holds the name
    config_->SetState(STATE_WAITING, nullptr);
    STATUS status = 0;
    Texts lines = Send("SETINSTANCE ZEL2", &status);
    EXPECT_EQ(ERR_DUPLICATE_MQ, ERR(status));
    ASSERT_EQ(3u, lines.size());
    EXPECT_TRUE(StartsWith(lines[0], "Orvane - ZEL2:  Error creating queue MQ$ZEL2: ")) << lines[0];
    EXPECT_EQ("Orvane - ZEL2:  Use unique instance name when loading zelrep\n\t\tUSAGE: load "
              "zelrep UNIQUENAME2",
              lines[1]);
    EXPECT_TRUE(
        StartsWith(lines[2], "Orvane - ZEL1:  Instance ZEL1 could not be reconfigured to ZEL2: : "))
        << lines[2];
    ExpectStillZel1();
    EXPECT_EQ(STATE_WAITING, config_->GetState());
}
