// zelrep_test.cpp - the task host run through AddInMain in the test's
// process. The command-line walk: the usage report, and "BREAK=ON", which
// breaks into the debugger on Windows and is an ordinary argument
// elsewhere. The main loop: a pass at each schedule interval, the retries
// of an instance waiting for critical data, and a stop request that lets
// a pass finish; the add-in clock is moved forward
// (NRTAdvanceAddInClock) instead of waiting for it, and a console message
// wakes the loop from its queue wait.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "addin.h"
#include "breakwatch.h"
#include "notesinit.h"
#include "cfgtest.h"

class TaskEntryTest : public ConfigTest {
protected:
    typedef std::vector<std::string> Texts;

    // Runs AddInMain with these arguments after the program name; answers
    // the lines it logged.
    Texts Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "zelrep");
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(&argument[0]);
        ClearLog();
        EXPECT_EQ(NOERROR, AddInMain(NULLHANDLE, (int)argv.size(), argv.data()));
        return Lines();
    }
    static bool Has(const Texts& lines, const std::string& text) {
        for (const std::string& line : lines) {
            if (line == text) return true;
        }
        return false;
    }
    static bool IsUsage(const Texts& lines) {
        return lines.size() == 3 && lines[1].find("USAGE: load zelrep instanceName") != std::string::npos &&
               lines[2] == "ZELREP Addin Process Exited.";
    }
};

TEST_F(TaskEntryTest, HelpSwitchAnywhereGivesTheUsage) {
    EXPECT_TRUE(IsUsage(Run({})));
    EXPECT_TRUE(IsUsage(Run({"INST", "-f", "cfg.nsf", "/?"})));
    // After -f a help switch is the file name.
    EXPECT_FALSE(IsUsage(Run({"INST", "-f", "-h"})));
}

#ifdef _WIN32
TEST_F(TaskEntryTest, BreakSwitchBreaksIntoTheDebuggerInAnyLetterCase) {
    BreakWatch watch;
    EXPECT_TRUE(IsUsage(Run({"Break=On", "bReAk=oN", "-h"})));
    EXPECT_EQ(2, watch.Breaks());
    // The walk ends at a help switch.
    EXPECT_TRUE(IsUsage(Run({"-h", "BREAK=ON"})));
    EXPECT_EQ(2, watch.Breaks());
    // The switch is no instance name: the default instance is loaded.
    Texts lines = Run({"BREAK=ON"});
    EXPECT_EQ(3, watch.Breaks());
    EXPECT_TRUE(Has(lines, "Orvane - ZELREP: load failure: file=zelrpcfg.nsf, instance=ZELREP"))
        << Joined();
    // Anything else is an instance name.
    lines = Run({"BREAK=ONE"});
    EXPECT_EQ(3, watch.Breaks());
    EXPECT_TRUE(Has(lines, "Orvane - ZELREP: load failure: file=zelrpcfg.nsf, instance=BREAK=ONE"))
        << Joined();
}
#else
TEST_F(TaskEntryTest, BreakSwitchIsAnInstanceNameOffWindows) {
    Texts lines = Run({"Break=On"});
    EXPECT_TRUE(Has(lines, "Orvane - ZELREP: load failure: file=zelrpcfg.nsf, instance=BREAK=ON"))
        << Joined();
}
#endif

namespace {

const char kInstance[] = "LOOP";
const char kPassDone[] = "Orvane - LOOP: ZEL Replication complete";
const char kWakeAnswer[] = "Unknown command: WAKE";
const DWORD kMinute = 60 * 1000;

class MainLoopTest : public ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        ASSERT_EQ(NOERROR, NSFDbCreate("names.nsf", DBCLASS_NOTEFILE, FALSE));
        ASSERT_EQ(NOERROR, NSFDbCreate("updates.nsf", DBCLASS_NOTEFILE, FALSE));
    }
    void TearDown() override {
        if (task_.joinable()) Stop();
        NRTRequestStop(FALSE);
        ConfigTest::TearDown();
    }

    void Start() {
        char program[] = "zelrep";
        char* init[] = {program, nullptr};
        ASSERT_EQ(NOERROR, AddInSDKInit(1, init));
        HMODULE module = 0;
        HANDLE line = NULLHANDLE;
        AddInQueryDefaults(&module, &line);
        task_ = std::thread([module] {
            char name[] = "zelrep", instance[sizeof(kInstance)];
            std::memcpy(instance, kInstance, sizeof(kInstance));
            char* argv[] = {name, instance, nullptr};
            AddInMain(module, 2, argv);
        });
    }

    void Stop() {
        NRTRequestStop(TRUE);
        Post("WAKE");
        task_.join();
    }

    void Post(const std::string& text) {
        MQHANDLE queue = 0;
        if (MQOpen((std::string(TASK_QUEUE_PREFIX) + kInstance).c_str(), 0, &queue) != NOERROR) return;
        MQPut(queue, 1, text.c_str(), (WORD)text.size(), 0);
        MQClose(queue, 0);
    }

    size_t Count(const std::string& text) const {
        size_t count = 0;
        for (const std::string& line : Lines()) count += line.find(text) != std::string::npos;
        return count;
    }

    bool WaitForCount(const std::string& text, size_t count) {
        for (int waited = 0; waited < 10000; waited += 10) {
            if (Count(text) >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Wakes the loop and waits until it went round once more: each wake is
    // answered as an unknown command, and the schedule is checked after
    // each message, so the second answer follows the first round's check.
    void GoRound() {
        size_t answered = Count(kWakeAnswer);
        Post("WAKE");
        Post("WAKE");
        ASSERT_TRUE(WaitForCount(kWakeAnswer, answered + 2)) << Joined();
    }

    std::thread task_;
};

TEST_F(MainLoopTest, PassAtEachScheduleInterval) {
    AddInstance(kInstance);  // every 5 minutes
    Start();
    ASSERT_TRUE(WaitForCount("Orvane - LOOP:  Initialization Complete.", 1)) << Joined();
    GoRound();
    EXPECT_EQ(0u, Count(kPassDone)) << Joined();

    NRTAdvanceAddInClock(4 * kMinute);
    GoRound();
    EXPECT_EQ(0u, Count(kPassDone)) << Joined();
    NRTAdvanceAddInClock(kMinute);
    GoRound();
    EXPECT_EQ(1u, Count(kPassDone)) << Joined();
    NRTAdvanceAddInClock(10 * kMinute);  // two intervals at once: one pass
    GoRound();
    EXPECT_EQ(2u, Count(kPassDone)) << Joined();
}

TEST_F(MainLoopTest, WaitingInstanceRetriesEachIntervalUntilItsDataArrives) {
    NOTEID id = AddInstance(kInstance, {cfgtest::Text("InputDB_text", "")});
    Start();
    ASSERT_TRUE(WaitForCount("Orvane - LOOP waiting for critical data in instance LOOP", 1)) << Joined();

    NRTAdvanceAddInClock(5 * kMinute);
    GoRound();
    EXPECT_EQ(0u, Count(kPassDone)) << Joined();

    ChangeDocument(id, {cfgtest::Text("InputDB_text", "names.nsf")});
    NRTAdvanceAddInClock(5 * kMinute);  // reloads the document: running again
    GoRound();
    EXPECT_EQ(0u, Count(kPassDone)) << Joined();
    NRTAdvanceAddInClock(5 * kMinute);
    GoRound();
    EXPECT_EQ(1u, Count(kPassDone)) << Joined();
}

// The stop comes once the round that runs the pass has begun: during the
// pass, or just after it.
TEST_F(MainLoopTest, StopDuringAPassLetsThePassFinish) {
    AddInstance(kInstance);
    Start();
    ASSERT_TRUE(WaitForCount("Orvane - LOOP:  Initialization Complete.", 1)) << Joined();
    GoRound();

    NRTAdvanceAddInClock(5 * kMinute);
    size_t answered = Count(kWakeAnswer);
    Post("WAKE");
    ASSERT_TRUE(WaitForCount(kWakeAnswer, answered + 1)) << Joined();
    NRTRequestStop(TRUE);
    task_.join();
    EXPECT_EQ(1u, Count(kPassDone)) << Joined();
    std::vector<std::string> lines = Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("Orvane - LOOP:  Addin Process Exited.", lines.back()) << Joined();
}

}  // namespace
