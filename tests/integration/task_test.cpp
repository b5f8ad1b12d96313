// task_test.cpp - the zelrep task as the server runs it: nserver loads it,
// nsfdb writes its configuration documents, console commands reach it with
// tell, and its start-up, waiting state, instance switch and shutdown are
// read from the console.
#include <string>
#include <vector>

#include "proctest.h"

namespace {

const char kFilter[] =
    "<publisher-filter>\n"
    "  <allow-class class-name=\"Person\"><allow-attr attr-name=\"FullName\"/></allow-class>\n"
    "</publisher-filter>\n";

// A regular expression that matches text literally at the end of a line.
std::string LineEnding(const std::string& text) {
    std::string quoted;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) quoted += '\\';
        quoted += c;
    }
    return quoted + "$";
}

}  // namespace

class TaskTest : public proctest::ProcessTest {
protected:
    // A complete instance over names.nsf with a one-second schedule.
    void AddInstance(const std::string& name) {
        if (!filterWritten_) {
            testenv::WriteFile(DataPath("filter.xml"), kFilter);
            Nsfdb({"create", "names.nsf", "--title", "Directory"});
            filterWritten_ = true;
        }
        std::vector<std::string> args = {"instance", "zelrpcfg.nsf", name,  "--input",
                                         "names.nsf", "--output",    name + ".nsf", "--filter",
                                         "filter.xml", "--schedule", "1",   "SECONDS",
                                         "--trace",   "NORMAL"};
        Nsfdb(args);
    }
    proctest::Console& Console() {
        proctest::Console& console = StartConsole();
        EXPECT_TRUE(console.WaitForLine("Server console started on ")) << console.Output();
        return console;
    }
    // Waits for a line that ends with exactly this text.
    static bool Sees(proctest::Console& console, const std::string& text,
                     int timeoutMs = proctest::kDefaultTimeoutMs) {
        return console.WaitForLine(LineEnding(text), timeoutMs);
    }
    // Loads an instance and waits for its first pass.
    void Load(proctest::Console& console, const std::string& name) {
        console.Command("load zelrep " + name);
        ASSERT_TRUE(Sees(console, "Orvane - " + name + ":  Initialization Complete."))
            << ConsoleLog();
        ASSERT_TRUE(Sees(console, "Orvane - " + name + ": ZEL Replication complete")) << ConsoleLog();
    }

    bool filterWritten_ = false;
};

TEST_F(TaskTest, UsageReport) {
    proctest::Console& console = Console();
    for (const std::string& arguments :
         std::vector<std::string>{"", " INST -x -h", " -?", " " + std::string(60, 'L')}) {
        console.Command("load zelrep" + arguments);
        EXPECT_TRUE(console.WaitForLine("Orvane Driver for Lotus Notes zelrep v2\\.1\\.1 addin "
                                        "process for Domino\\.$"))
            << arguments;
        EXPECT_TRUE(console.WaitForLine("USAGE: load zelrep instanceName \\[-f configFile\\.nsf\\]"))
            << arguments;
        EXPECT_TRUE(Sees(console, "\t-f configFile.nsf: zelrep config file (defaults to "
                                  "zelrpcfg.nsf)"));
        EXPECT_TRUE(Sees(console, "ZELREP Addin Process Exited.")) << arguments;
    }
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "The instance name L+ is longer than 54 characters"));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(TaskTest, InstanceNotInTheConfigurationDatabase) {
    AddInstance("TEST");
    proctest::Console& console = Console();
    console.Command("load zelrep nope");
    EXPECT_TRUE(Sees(console, "Orvane - NOPE:  configuration instance not found: file=zelrpcfg.nsf, "
                              "instance=NOPE"));
    EXPECT_TRUE(Sees(console, "Orvane - ZELREP: load failure: file=zelrpcfg.nsf, instance=NOPE"));
    EXPECT_TRUE(console.WaitForLine("  :  Addin Process Exited\\.$")) << ConsoleLog();

    // Another configuration file, named after -f.
    console.Command("load zelrep -f other.nsf TEST");
    EXPECT_TRUE(console.WaitForLine("configuration instance not found: file=other\\.nsf, "
                                    "instance=TEST: "));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(TaskTest, WaitsForCriticalDataThenRuns) {
    Nsfdb({"create", "TEST.nsf"});
    testenv::WriteFile(DataPath("filter.xml"), kFilter);
    Nsfdb({"create", "names.nsf"});
    Nsfdb({"instance", "zelrpcfg.nsf", "TEST", "--output", "TEST.nsf", "--filter", "filter.xml",
           "--schedule", "1", "SECONDS"});
    proctest::Console& console = Console();
    console.Command("load zelrep TEST");
    ASSERT_TRUE(Sees(console, "\t\tInput DB - Critical Error")) << ConsoleLog();
    ASSERT_TRUE(Sees(console, "Orvane - TEST waiting for critical data in instance TEST in "
                              "zelrpcfg.nsf"));
    console.Command("tell TEST replicate");
    EXPECT_TRUE(Sees(console, "ZELREP is suspended and waiting for configuration info, Command "
                              "ignored"));

    Nsfdb({"instance", "zelrpcfg.nsf", "TEST", "--input", "names.nsf"});
    EXPECT_TRUE(Sees(console, "Orvane - TEST: ZEL Replication complete")) << ConsoleLog();
    EXPECT_EQ(0, console.Quit());
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "Orvane - TEST:  Addin Process Exited\\."));
}

TEST_F(TaskTest, TwoInstancesAndASecondLoad) {
    AddInstance("TEST1");
    AddInstance("TEST2");
    proctest::Console& console = Console();
    Load(console, "TEST1");
    Load(console, "TEST2");
    console.Command("show tasks");
    EXPECT_TRUE(console.WaitForLine("Orvane - TEST1 +Idle on names\\.nsf")) << console.Output();

    // The same instance again: its queue name is taken.
    console.Command("load zelrep test2");
    EXPECT_TRUE(console.WaitForLine("Orvane - TEST2:  Error creating queue MQ\\$TEST2: "));
    EXPECT_TRUE(Sees(console, "Orvane - TEST2:  Use unique instance name when loading zelrep"));
    EXPECT_TRUE(Sees(console, "\t\tUSAGE: load zelrep UNIQUENAME2"));
    EXPECT_TRUE(console.WaitForLine("Orvane - TEST2:  ZELREP load failure for instance TEST2: "));
    EXPECT_TRUE(Sees(console, "Orvane - TEST2:  Addin Process Exited."));

    // The first TEST2 still serves its console.
    console.Command("tell test2 dnformat ldap");
    EXPECT_TRUE(Sees(console, "Orvane - TEST2:  DNs will be LDAP formatted"));
    EXPECT_EQ(0, console.Quit());
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "Orvane - TEST1:  Addin Process Exited\\."));
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "Orvane - TEST2:  Addin Process Exited\\.[^]*"
                                                "Orvane - TEST2:  Addin Process Exited\\."));
}

TEST_F(TaskTest, SetInstanceToAnotherAndBack) {
    AddInstance("TEST1");
    AddInstance("TEST2");
    Nsfdb({"instance", "zelrpcfg.nsf", "TEST2", "--trace", "SILENT"});
    proctest::Console& console = Console();
    Load(console, "TEST1");

    console.Command("tell TEST1 setinstance test2");
    ASSERT_TRUE(Sees(console, "Orvane - TEST1:  Instance TEST1 being reconfigured to TEST2. "))
        << ConsoleLog();
    console.Command("tell TEST2 showconfig");
    EXPECT_TRUE(Sees(console, "Orvane - TEST2: == ZELREP v2.1.1 =="));
    EXPECT_TRUE(Sees(console, "\ttrace level is SILENT"));
    console.Command("tell TEST1 showconfig");
    EXPECT_TRUE(console.WaitForLine("Task TEST1 is not running \\(no message queue MQ\\$TEST1\\)"));

    console.Command("tell TEST2 setinstance TEST1");
    ASSERT_TRUE(Sees(console, "Orvane - TEST2:  Instance TEST2 being reconfigured to TEST1. "));
    EXPECT_TRUE(Sees(console, "Orvane - TEST1: ZEL Replication complete"));
    console.Command("tell TEST1 quit");
    EXPECT_TRUE(Sees(console, "Orvane - TEST1:  Shutting Down"));
    EXPECT_TRUE(Sees(console, "Orvane - TEST1:  Addin Process Exited."));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(TaskTest, ServerQuitEndsTheTask) {
    AddInstance("TEST");
    proctest::Console& console = Console();
    Load(console, "TEST");
    console.Command("tell TEST suspend");
    EXPECT_TRUE(Sees(console, "Orvane - TEST:  Suspended"));
    console.Command("tell TEST replicate");
    EXPECT_TRUE(Sees(console, "ZELREP is suspended, Command ignored"));
    EXPECT_EQ(0, console.Quit());
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "Orvane - TEST:  Addin Process Exited\\."));
}
