// nserver_test.cpp - the server console with real tasks: load, tell, show
// tasks, quit (through AddInIdle, killing only a task that ignores it),
// the one-shot tell, bad input, and the console log.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <regex>

#include "proctest.h"

namespace {

using proctest::Console;

class NServerTest : public proctest::ProcessTest {
protected:
    Console& StartServer(const std::vector<std::string>& extra = {"--kill-after", "2"}) {
        Console& console = StartConsole(proctest::TestTaskDir(), extra);
        EXPECT_TRUE(console.WaitForLine("Server console started on "));
        return console;
    }
    // Loads the program and returns its process id from the console's answer.
    static pid_t Load(Console& console, const std::string& command) {
        console.Command("load " + command);
        std::string line;
        EXPECT_TRUE(console.WaitForLine(R"(Task \S+ \(process \d+\) started\.)", proctest::kDefaultTimeoutMs, &line));
        std::smatch match;
        std::regex_search(line, match, std::regex(R"(process (\d+))"));
        return match.size() > 1 ? pid_t(std::stol(match[1])) : -1;
    }
    std::vector<std::string> ShowTasks(Console& console) {
        console.Command("show tasks");
        EXPECT_TRUE(console.WaitForLine("  Task +Status$"));
        console.Command("help");  // marks the end of the table
        EXPECT_TRUE(console.WaitForLine("Commands \\(words in any case\\):"));
        std::vector<std::string> rows;
        bool inTable = false;
        for (const std::string& line : console.OutputLines()) {
            if (proctest::Matches(line, "  Task +Status$")) inTable = true, rows.clear();
            else if (proctest::Matches(line, "Commands \\(words")) inTable = false;
            else if (inTable) rows.push_back(line.substr(21));  // after the time stamp
        }
        return rows;
    }
};

TEST_F(NServerTest, LoadStartsTheProgramOnTheDataDirectory) {
    Console& console = StartServer();
    Load(console, "LoopTask L1");  // program names are found in any case
    ASSERT_TRUE(console.WaitForLine("  L1: logged 0 lines$"));
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "  L1: started\n"));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(NServerTest, TellReachesTheUpperCasedQueueOfTheTask) {
    Console& console = StartServer();
    Load(console, "queuetask serve");
    ASSERT_TRUE(console.WaitForLine("serve: ready"));
    console.Command("TELL Serve   Refresh  Config now");
    EXPECT_TRUE(console.WaitForLine("serve: received 19 bytes: Refresh  Config now$"));
    proctest::RunResult once = RunProgram({proctest::BinPath("nserver"), "--data", dataDir_, "tell", "serve", "show", "config"});
    EXPECT_EQ(0, once.exitCode) << once.err;
    EXPECT_TRUE(console.WaitForLine("serve: received 11 bytes: show config$"));
    console.Command("tell serve " + std::string(300, 'L'));
    EXPECT_TRUE(console.WaitForLine("serve:  Buffer too small for message data"));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(NServerTest, TellQuitClosesTheQueueAndEveryReadAnswersQuitting) {
    Console& console = StartServer();
    Load(console, "queuetask closing");
    ASSERT_TRUE(console.WaitForLine("closing: ready"));
    console.Command("tell closing quit");
    EXPECT_TRUE(console.WaitForLine("closing:  Shutting Down"));
    EXPECT_EQ(3u, console.WaitForCount("read \\d after quit answered 1126", 3) ? 3u : 0u);
    EXPECT_TRUE(console.WaitForLine(R"(Task queuetask \(process \d+\) ended with status 0\.)"));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(NServerTest, ShowTasksListsLiveStatusLinesAndForgetsADeadTask) {
    Console& console = StartServer();
    pid_t loop = Load(console, "looptask L2");
    ASSERT_TRUE(console.WaitForLine("L2: logged"));
    Load(console, "queuetask shown");
    ASSERT_TRUE(console.WaitForLine("shown: ready"));
    std::vector<std::string> expected = {"looptask              Looping as L2",
                                         "queuetask             Serving MQ$SHOWN"};
    EXPECT_EQ(expected, ShowTasks(console));
    kill(loop, SIGKILL);
    EXPECT_TRUE(console.WaitForLine(R"(Task looptask \(process \d+\) ended by signal 9)"));
    EXPECT_EQ(std::vector<std::string>{"queuetask             Serving MQ$SHOWN"}, ShowTasks(console));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(NServerTest, QuitStopsTasksThroughIdleAndKillsOnlyOneThatIgnoresIt) {
    Console& console = StartServer();
    Load(console, "looptask polite");
    ASSERT_TRUE(console.WaitForLine("polite: logged"));
    Load(console, "stubborntask");
    ASSERT_TRUE(console.WaitForLine("stubborn: started"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, console.Quit());
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(8));
    std::string log = ConsoleLog();
    EXPECT_TRUE(proctest::Matches(log, "polite: stopping\n"));
    EXPECT_TRUE(proctest::Matches(log, R"(Task looptask \(process \d+\) ended with status 0\.)"));
    EXPECT_TRUE(proctest::Matches(log, R"(Task stubborntask \(process \d+\) did not stop within 2 seconds; killing it\.)"));
    EXPECT_FALSE(proctest::Matches(log, "looptask.*killing"));
    EXPECT_TRUE(proctest::Matches(log, R"(Task stubborntask \(process \d+\) ended by signal 9)"));
    EXPECT_TRUE(proctest::Matches(log, "Server console stopped\\.\n$"));
}

TEST_F(NServerTest, EndOfInputAndSigtermActAsQuit) {
    Console& console = StartServer();
    Load(console, "looptask eof");
    ASSERT_TRUE(console.WaitForLine("eof: logged"));
    console.CloseStdin();
    EXPECT_EQ(0, console.WaitExitCode());
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "eof: stopping\n"));

    Console& second = StartServer();
    Load(second, "looptask term");
    ASSERT_TRUE(second.WaitForLine("term: logged"));
    second.Signal(SIGTERM);
    EXPECT_EQ(0, second.WaitExitCode());
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "term: stopping\n"));
}

TEST_F(NServerTest, BadInputGetsClearAnswersAndTheConsoleGoesOn) {
    Console& console = StartServer();
    console.Command("");
    EXPECT_TRUE(console.WaitForLine("Empty command\\. Type \"help\" for the list of commands\\."));
    console.Command("frobnicate now");
    EXPECT_TRUE(console.WaitForLine("Unknown command \"frobnicate\"\\."));
    console.Command("load nosuchprogram");
    EXPECT_TRUE(console.WaitForLine("Program nosuchprogram not found in "));
    console.Command("load ../bin/nserver");
    EXPECT_TRUE(console.WaitForLine("Program name \"../bin/nserver\" refused"));
    console.Command("load");
    EXPECT_TRUE(console.WaitForLine("Usage: load PROGRAM"));
    console.Command("tell nobody hello");
    EXPECT_TRUE(console.WaitForLine("Task nobody is not running \\(no message queue MQ\\$NOBODY\\)\\."));
    console.Command("tell nobody");
    EXPECT_TRUE(console.WaitForLine("Usage: tell TASK COMMAND"));
    console.Command("show");
    EXPECT_TRUE(console.WaitForLine("Usage: show tasks"));
    console.Command(std::string(10000, 'x'));
    EXPECT_TRUE(console.WaitForLine("Line too long \\(10000 characters, at most 4096\\); ignored\\."));
    console.Command("tell " + std::string(200, 'n') + " hi");
    EXPECT_TRUE(console.WaitForLine("Cannot tell n+ \\(MQ\\$N+\\): Message queue name is empty or too long\\."));
    console.Command("show tasks");
    EXPECT_TRUE(console.WaitForLine("No task is running\\."));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(NServerTest, TaskThatEndsByItselfIsReportedWithItsStatus) {
    Console& console = StartServer();
    Load(console, "looptask failing status=0x0103");
    EXPECT_TRUE(console.WaitForLine("^File does not exist$"));
    EXPECT_TRUE(console.WaitForLine(R"(Task looptask \(process \d+\) ended with status 255\.)"));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(NServerTest, OneShotTellFailsClearlyWithoutATask) {
    proctest::RunResult result =
        RunProgram({proctest::BinPath("nserver"), "--data", dataDir_, "tell", "ghost", "replicate"});
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ("nserver: Task ghost is not running (no message queue MQ$GHOST).\n", result.err);
    result = RunProgram({proctest::BinPath("nserver"), "--data", dataDir_, "tell", "ghost"});
    EXPECT_EQ(2, result.exitCode);
    result = RunProgram({proctest::BinPath("nserver"), "--data", dataDir_ + "/missing", "tell", "a", "b"});
    EXPECT_EQ(1, result.exitCode);
    EXPECT_TRUE(proctest::Matches(result.err, "data directory .*missing does not exist"));
}

TEST_F(NServerTest, TwoTasksLoggingAtOnceReachConsoleAndLogInOrder) {
    Console& console = StartServer();
    Load(console, "looptask A lines=400");
    Load(console, "looptask B lines=400");
    ASSERT_TRUE(console.WaitForCount("[AB]: logged 400 lines", 2));
    EXPECT_EQ(0, console.Quit());
    for (const std::vector<std::string>& lines :
         {proctest::Lines(ConsoleLog()), console.OutputLines()}) {
        int next[2] = {0, 0};
        std::regex stamped(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d  ([AB]): line (\d{5})$)");
        for (const std::string& line : lines) {
            std::smatch match;
            if (!std::regex_match(line, match, stamped)) {
                EXPECT_FALSE(proctest::Matches(line, "line \\d")) << "damaged line: " << line;
                continue;
            }
            int which = match[1] == "A" ? 0 : 1;
            EXPECT_EQ(next[which]++, std::stoi(match[2])) << line;
        }
        EXPECT_EQ(400, next[0]);
        EXPECT_EQ(400, next[1]);
    }
}

}  // namespace
