// commands_test.cpp - the console command handlers for passes, states, the
// schedule, switches, settings, saving, reloading and tracing: the exact
// lines each logs, what it changes and what it refuses.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "breakwatch.h"
#include "cfgtest.h"

class CommandsTest : public TaskConsoleTest {
protected:
    std::string Field(int (CConfig::*getter)(char*)) { return Get(*config_, getter); }
    void Empty(int (CConfig::*setter)(char*)) {
        char none[1] = {'\0'};
        (config_.get()->*setter)(none);
    }
};

TEST_F(CommandsTest, PassCommandsAnswerOtherStates) {
    const std::vector<std::pair<unsigned long, std::string>> states = {
        {STATE_SUSPENDED, "ZELREP is suspended, Command ignored"},
        {STATE_WAITING, "ZELREP is suspended and waiting for configuration info, Command ignored"},
        {7, "ZELREP is in an unknown state, Command ignored"}};
    for (const auto& state : states) {
        config_->SetState(state.first, nullptr);
        EXPECT_EQ(Texts{state.second}, Send("REPLICATE"));
        EXPECT_EQ(Texts{state.second}, Send("MIGRATE ON"));
        EXPECT_EQ(Texts{state.second}, Send("migrate"));
    }
}

TEST_F(CommandsTest, ReplicateRunsAPassAtOnce) {
    Texts lines = Send("REPLICATE");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(StartsWith(lines[lines.size() - 2], "Orvane - ZEL1: "));
    EXPECT_NE(std::string::npos, lines[lines.size() - 2].find(" entries found, "));
    EXPECT_EQ("Orvane - ZEL1: ZEL Replication complete", lines.back());
}

TEST_F(CommandsTest, MigrateOnRunsAMigrationPassAndNothingElseIsSupported) {
    Texts lines = Send("MIGRATE on");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Orvane - ZEL1: ZEL Replication complete", lines.back());

    const std::string unsupported = "Orvane - ZEL1:  The Migrate command is no longer supported.";
    STATUS status = 1;
    EXPECT_EQ(Texts{unsupported}, Send("MIGRATE OFF", &status));
    EXPECT_EQ(NOERROR, status);
    EXPECT_EQ(Texts{unsupported}, Send("MIGRATE", &status));
    EXPECT_EQ(PARSE_EMPTY, status);
    EXPECT_EQ(Texts{unsupported}, Send("MIGRATE please", &status));
    EXPECT_EQ(PARSE_EMPTY, status);
}

TEST_F(CommandsTest, SuspendAndResume) {
    config_->SetState(STATE_WAITING, nullptr);
    EXPECT_EQ(Texts{"Orvane - ZEL1:  Suspended"}, Send("SUSPEND now"));
    EXPECT_EQ(STATE_SUSPENDED, config_->GetState());
    EXPECT_EQ(Texts{"ZEL1:  Resuming process"}, Send("RESUME"));
    EXPECT_EQ(STATE_RUNNING, config_->GetState());

    // RESUME checks the values in memory; it does not read the document.
    Empty(&CConfig::SetInputDB);
    Send("SUSPEND");
    EXPECT_EQ(Texts{"ZEL1:  Missing critical configuration data, cannot resume."}, Send("RESUME"));
    EXPECT_EQ(STATE_WAITING, config_->GetState());
}

TEST_F(CommandsTest, ScheduleValue) {
    STATUS status = 1;
    EXPECT_EQ(Texts{"Orvane - ZEL1 will run every 7 MINUTES"}, Send("SCHVAL   7", &status));
    EXPECT_EQ(NOERROR, status);
    EXPECT_EQ(420u, config_->Interval());

    for (const char* bad : {"SCHVAL 0", "SCHVAL", "SCHVAL 12x", "SCHVAL 3 ", "SCHVAL 4294967295",
                            "SCHVAL 4294967296", "SCHVAL 99999999999999999999999"}) {
        Texts lines = Send(bad, &status);
        ASSERT_EQ(1u, lines.size()) << bad;
        EXPECT_TRUE(StartsWith(lines[0], "Orvane - ZEL1: Invalid value specified: ")) << lines[0];
        EXPECT_EQ(PARSE_EMPTY, status) << bad;
        EXPECT_EQ(420u, config_->Interval()) << bad;
    }
}

TEST_F(CommandsTest, ScheduleBeyondTheLongestIntervalIsRefused) {
    STATUS status = 1;
    Send("SCHUNITS SECONDS");
    EXPECT_EQ(Texts{"Orvane - ZEL1 will run every 4294967295 SECONDS"}, Send("SCHVAL 4294967295", &status));
    EXPECT_EQ(NOERROR, status);
    EXPECT_EQ((Texts{"DAYS", "Orvane - ZEL1:  4294967295 DAYS do not fit the longest interval "
                             "(4294967295 seconds); schedule unchanged"}),
              Send("SCHUNITS days"));
    EXPECT_EQ(4294967295u, config_->Interval());
    Texts lines = Send("SCHVAL 4294967296", &status);
    ASSERT_EQ(1u, lines.size());
    EXPECT_TRUE(StartsWith(lines[0], "Orvane - ZEL1: Invalid value specified: ")) << lines[0];
    EXPECT_EQ(4294967295u, config_->Interval());
    EXPECT_EQ("SECONDS", Get(*config_, &CConfig::GetScheduleUnits));
}

TEST_F(CommandsTest, ScheduleUnits) {
    EXPECT_EQ((Texts{"HOURS", "Orvane - ZEL1 will run every 5 HOURS"}), Send("SCHUNITS hours"));
    EXPECT_EQ(18000u, config_->Interval());
    EXPECT_EQ((Texts{"WEEKS%S", "Orvane - ZEL1:  Invalid Schedule Units specified",
                     "Orvane - ZEL1:  \tUse DAYS or HOURS or MINUTES or SECONDS"}),
              Send("SCHUNITS weeks%s"));
    EXPECT_EQ((Texts{"", "Orvane - ZEL1:  Invalid Schedule Units specified",
                     "Orvane - ZEL1:  \tUse DAYS or HOURS or MINUTES or SECONDS"}),
              Send("SCHUNITS"));
    EXPECT_EQ(18000u, config_->Interval());
}

TEST_F(CommandsTest, LoopDetectID) {
    STATUS status = 0;
    EXPECT_EQ(Texts{"Orvane - ZEL1: LOOPDETECTID expects a DN as a parameter"},
              Send("LOOPDETECTID", &status));
    EXPECT_EQ(PARSE_EMPTY, status);
    EXPECT_EQ(Texts{"Orvane - ZEL1: LOOPDETECT is looking for JANE DOE/SALES/ACME"},
              Send("LOOPDETECTID jane doe/sales/acme"));
    EXPECT_EQ("CN=JANE DOE/OU=SALES/O=ACME", Field(&CConfig::GetLoopDetectID));
}

TEST_F(CommandsTest, LoopDetectNeedsAnIDFirst) {
    Empty(&CConfig::SetLoopDetectID);
    STATUS status = 0;
    EXPECT_EQ(Texts{"Orvane - ZEL1:  LOOPDETECTID not set.  Unable to set LOOPDETECT"},
              Send("LOOPDETECT bogus", &status));
    EXPECT_EQ((STATUS)0xFFFD, status);

    Send("LOOPDETECTID CN=Me/O=Org");
    EXPECT_EQ(Texts{"Orvane - ZEL1:  LOOPDETECT is Disabled"}, Send("LOOPDETECT off"));
    EXPECT_EQ(0, config_->DoLoopDetect());
    EXPECT_EQ(Texts{"Orvane - ZEL1:  LOOPDETECT is Enabled"}, Send("LOOPDETECT ON"));
    EXPECT_EQ(1, config_->DoLoopDetect());
    EXPECT_EQ(Texts{"Orvane - ZEL1:  LOOPDETECT expects ON or OFF as a parameter"},
              Send("LOOPDETECT maybe", &status));
    EXPECT_EQ(PARSE_EMPTY, status);
    EXPECT_EQ(1, config_->DoLoopDetect());
}

// Switch commands: the line for a bad argument, for ON and for OFF, and the
// value they set.
struct SwitchCase {
    const char* command;
    const char* bad;
    const char* on;
    const char* off;
    int (CConfig::*flag)();
};

TEST_F(CommandsTest, Switches) {
    const SwitchCase cases[] = {
        {"AUTOREFRESH", "Orvane - ZEL1:  AUTOREFRESH expects ON or OFF as a parameter",
         "Orvane - ZEL1: AUTOREFRESH is ON", "Orvane - ZEL1: AUTOREFRESH is OFF",
         &CConfig::GetAutoRefreshFlag},
        {"ISDIRECTORY", "Orvane - ZEL1: ISDIRECTORY expects ON or OFF as a parameter",
         "Orvane - ZEL1: Treating names.nsf as a Notes Directory",
         "Orvane - ZEL1: Not treating names.nsf as a Notes Directory", &CConfig::IsDirectory},
        {"WRITETIMESTAMPS", "Orvane - ZEL1:  WriteTimeStamps expects ON or OFF as a parameter",
         "Orvane - ZEL1:  Timestamps will be written on processed notes",
         "Orvane - ZEL1:  Timestamps will not be written on processed notes",
         &CConfig::WriteTimeStamps},
        {"CHECKATTRS", "Orvane - ZEL1:  CheckAttrs expects ON or OFF as a parameter",
         "Orvane - ZEL1:  only note items changed will be published",
         "Orvane - ZEL1:  all note items in the publisher filter will be published",
         &CConfig::CheckAttrs},
    };
    for (const SwitchCase& c : cases) {
        std::string command = c.command;
        // CHECKATTRS OFF needs WRITETIMESTAMPS OFF first.
        config_->SetWriteTimeStamps(0);
        EXPECT_EQ(Texts{c.off}, Send(command + " off")) << command;
        EXPECT_EQ(0, (config_.get()->*c.flag)()) << command;
        EXPECT_EQ(Texts{c.on}, Send(command + " ON")) << command;
        EXPECT_EQ(1, (config_.get()->*c.flag)()) << command;
        STATUS status = 0;
        EXPECT_EQ(Texts{c.bad}, Send(command + " ON ", &status)) << command;
        EXPECT_EQ(PARSE_EMPTY, status);
        EXPECT_EQ(Texts{c.bad}, Send(command)) << command;
        EXPECT_EQ(1, (config_.get()->*c.flag)()) << command;
    }
}

TEST_F(CommandsTest, TimestampsNeedCheckAttrs) {
    Send("WRITETIMESTAMPS OFF");
    Send("CHECKATTRS OFF");
    EXPECT_EQ(Texts{"Orvane - ZEL1:  CheckAttrs is OFF.  WriteTimeStamps requires CheckAttrs to "
                    "be ON"},
              Send("WRITETIMESTAMPS ON"));
    EXPECT_EQ(0, config_->WriteTimeStamps());

    Send("CHECKATTRS ON");
    Send("WRITETIMESTAMPS ON");
    EXPECT_EQ(Texts{"Orvane - ZEL1:  WriteTimeStamps is ON.  WriteTimeStamps requires CheckAttrs "
                    "to be ON"},
              Send("CHECKATTRS OFF"));
    EXPECT_EQ(1, config_->CheckAttrs());
}

TEST_F(CommandsTest, DebugTrace) {
    EXPECT_EQ(Texts{"Orvane - ZEL1:  DebugTrace is Enabled"}, Send("DEBUGTRACE on"));
    EXPECT_EQ((unsigned long)TRACE_DEBUG, config_->Tracing());
    EXPECT_EQ(Texts{"Orvane - ZEL1:  DebugTrace is Diabled"}, Send("DEBUGTRACE OFF"));
    EXPECT_EQ((unsigned long)TRACE_NORMAL, config_->Tracing());
    EXPECT_EQ(Texts{"Orvane - ZEL1:  DebugTrace expects ON or OFF as a parameter"},
              Send("DEBUGTRACE"));
}

TEST_F(CommandsTest, DatabasePaths) {
    STATUS status = 1;
    EXPECT_EQ(Texts{"Orvane - ZEL1: Filtered directory updates will be written to OUT%S.NSF"},
              Send("OUTPUTDB out%s.nsf", &status));
    EXPECT_EQ(NOERROR, status);
    EXPECT_EQ("OUT%S.NSF", Field(&CConfig::GetOutputDB));
    EXPECT_EQ(Texts{"Orvane - ZEL1: Domino Directory will be read from SUB/DIR.NSF"},
              Send("INPUTDB sub/dir.nsf"));
    EXPECT_EQ("SUB/DIR.NSF", Field(&CConfig::GetInputDB));

    EXPECT_EQ(Texts{"Orvane - ZEL1: OUTPUTDB expects a directory path as a parameter"},
              Send("OUTPUTDB  ", &status));
    EXPECT_EQ(PARSE_EMPTY, status);
    EXPECT_EQ(Texts{"Orvane - ZEL1: INPUTDB expects a directory path as a parameter"},
              Send("INPUTDB"));
    EXPECT_EQ("OUT%S.NSF", Field(&CConfig::GetOutputDB));
    EXPECT_EQ("SUB/DIR.NSF", Field(&CConfig::GetInputDB));
}

TEST_F(CommandsTest, DNFormat) {
    EXPECT_EQ(Texts{"Orvane - ZEL1:  DNs will be SLASH formatted"}, Send("DNFORMAT slash"));
    EXPECT_EQ(1u, config_->DNFormat());
    EXPECT_EQ(Texts{"Orvane - ZEL1:  DNs will be LDAP_TYPED formatted"}, Send("DNFORMAT LDAP_TYPED"));
    EXPECT_EQ(4u, config_->DNFormat());
    EXPECT_EQ(4.0, ReadNumber(documentID_, "DNFormat_number"));  // written at once
    EXPECT_EQ(Texts{"Orvane - ZEL1:  DNs will be LDAP formatted"}, Send("DNFORMAT Ldap"));
    EXPECT_EQ(2u, config_->DNFormat());

    EXPECT_EQ(Texts{"Orvane - ZEL1:  DNFORMAT accepts SLASH, LDAP, or LDAP_TYPED as a parameter"},
              Send("DNFORMAT X500"));
    EXPECT_EQ(Texts{"Orvane - ZEL1:  DNFORMAT expects a FORMAT as a parameter"}, Send("DNFORMAT"));
    EXPECT_EQ(2u, config_->DNFormat());
}

TEST_F(CommandsTest, DNFormatThatCannotBeWrittenIsNotTaken) {
    config_->SetInstanceNoteID(documentID_ + 400);
    STATUS status = NOERROR;
    Texts lines = Send("DNFORMAT SLASH", &status);
    ASSERT_EQ(1u, lines.size());
    EXPECT_TRUE(StartsWith(lines[0], "Orvane - ZEL1:  DNFORMAT unchanged, the configuration "
                                     "document could not be written: "))
        << lines[0];
    EXPECT_NE(NOERROR, status);
    EXPECT_EQ(2u, config_->DNFormat());
}

TEST_F(CommandsTest, SaveAndRefresh) {
    Send("INPUTDB changed.nsf");
    Send("SUSPEND");
    EXPECT_EQ(Texts{"Orvane - ZEL1:  Refreshing Configuration"}, Send("REFRESHCONFIG"));
    EXPECT_EQ("names.nsf", Field(&CConfig::GetInputDB));
    EXPECT_EQ(STATE_SUSPENDED, config_->GetState());  // the state is kept

    Send("INPUTDB changed.nsf");
    EXPECT_EQ(Texts{"Orvane - ZEL1:  Configuration Saved"}, Send("SAVECONFIG"));
    EXPECT_EQ("CHANGED.NSF", ReadText(documentID_, "InputDB_text"));

    // A save that cannot reach the document says so.
    config_->SetInstanceNoteID(documentID_ + 400);
    STATUS status = NOERROR;
    Texts lines = Send("SAVECONFIG", &status);
    ASSERT_EQ(1u, lines.size());
    EXPECT_TRUE(StartsWith(lines[0], "Orvane - ZEL1:  Configuration could not be saved: "))
        << lines[0];
    EXPECT_NE(NOERROR, status);
}

TEST_F(CommandsTest, TraceLevel) {
    const std::string expects =
        "Orvane - ZEL1: zelrep console trace expects: SILENT, NORMAL, VERBOSE, or DEBUG, as a "
        "parameter";
    EXPECT_EQ(Texts{"Orvane - ZEL1: zelrep console trace level set to DEBUG"}, Send("TRACE debug"));
    EXPECT_EQ((unsigned long)TRACE_DEBUG, config_->Tracing());
    EXPECT_EQ(Texts{"Orvane - ZEL1: zelrep console trace level already set to DEBUG"},
              Send("trace Debug"));
    EXPECT_EQ(Texts{"Orvane - ZEL1: zelrep console trace level set to SILENT"},
              Send("TRACE\tsilent"));
    for (const char* bad : {"TRACE  NORMAL", "TRACE NORMAL ", "TRACE", "TRACE LOUD"}) {
        EXPECT_EQ(Texts{expects}, Send(bad)) << bad;
        EXPECT_EQ((unsigned long)TRACE_SILENT, config_->Tracing()) << bad;
    }
}

#ifdef _WIN32
TEST_F(CommandsTest, DebugBreakBreaksIntoTheDebugger) {
    BreakWatch watch;
    EXPECT_EQ(Texts{"Orvane - ZEL1:  BREAK into debugger"}, Send("DEBUGBREAK"));
    EXPECT_EQ(1, watch.Breaks());
    Send("DEBUGBREAK now");
    EXPECT_EQ(2, watch.Breaks());
}
#else
TEST_F(CommandsTest, DebugBreakIsNotAvailable) {
    EXPECT_EQ(Texts{"Orvane - ZEL1:  Unable to BREAK into debugger"}, Send("DEBUGBREAK"));
}
#endif
