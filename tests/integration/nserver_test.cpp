// nserver_test.cpp - the server console with real tasks: load, tell, show
// tasks, quit (through AddInIdle, killing only a task that ignores it),
// the one-shot commands from another shell, the service without a
// terminal, the console at a terminal (in a pseudo-terminal), bad input,
// and the console log.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

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
        EXPECT_TRUE(console.WaitForLine("Commands \\(words in any case"));
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
    EXPECT_TRUE(console.WaitForLine("Command too long for serve \\(300 bytes; a task reads at most 256\\); not sent\\."));
    console.Command("tell serve " + std::string(256, 'L'));
    EXPECT_TRUE(console.WaitForLine("serve: received 256 bytes: L+$"));
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

class NServiceTest : public NServerTest {
protected:
    // nserver --service on the test tasks, without a terminal or input.
    proctest::Process& StartService(const std::string& serverTasks) {
        testenv::WriteFile(DataPath("notes.ini"), "ServerName=CN=Test Server/O=Org\nServerTasks=" + serverTasks + "\n");
        proctest::Process& service = StartProgram({proctest::BinPath("nserver"), "--data", dataDir_, "--bin",
                                                   proctest::TestTaskDir(), "--kill-after", "2", "--service"});
        EXPECT_TRUE(service.WaitForLine("Server console started on "));
        return service;
    }
    proctest::RunResult OneShot(const std::vector<std::string>& words) {
        std::vector<std::string> argv = {proctest::BinPath("nserver"), "--data", dataDir_};
        argv.insert(argv.end(), words.begin(), words.end());
        return RunProgram(argv);
    }
};

TEST_F(NServiceTest, LoadsServerTasksAndAnswersTellShowAndQuitFromAnotherShell) {
    proctest::Process& service = StartService("queuetask svc, looptask quiet");
    ASSERT_TRUE(service.WaitForCount("svc: ready", 1));
    ASSERT_TRUE(service.WaitForCount("quiet: logged 0 lines", 1));

    proctest::RunResult told = OneShot({"tell", "svc", "show", "config"});
    EXPECT_EQ(0, told.exitCode) << told.err;
    EXPECT_EQ("svc: received 11 bytes: show config\n", told.out) << "the task's answer, without time stamps";

    proctest::RunResult shown = OneShot({"show", "tasks"});
    EXPECT_EQ(0, shown.exitCode) << shown.err;
    EXPECT_TRUE(proctest::Matches(shown.out, "queuetask +Last message: show config\n")) << shown.out;
    EXPECT_TRUE(proctest::Matches(shown.out, "looptask +Looping as quiet\n")) << shown.out;
    EXPECT_EQ(shown.out, OneShot({"sh", "ta"}).out) << "abbreviations work from another shell too";

    proctest::RunResult nobody = OneShot({"tell", "nobody", "hello"});
    EXPECT_EQ(1, nobody.exitCode);
    EXPECT_EQ("nserver: Task nobody is not running (no message queue MQ$NOBODY).\n", nobody.err);
    proctest::RunResult tooLong = OneShot({"tell", "svc", std::string(257, 'x')});
    EXPECT_EQ(1, tooLong.exitCode);
    EXPECT_TRUE(proctest::Matches(tooLong.err, "Command too long for svc \\(257 bytes; a task reads at most 256\\)"))
        << tooLong.err;
    EXPECT_EQ(2, OneShot({"frobnicate"}).exitCode);

    proctest::RunResult quit = OneShot({"quit"});
    EXPECT_EQ(0, quit.exitCode) << quit.err;
    EXPECT_TRUE(proctest::Matches(quit.out, "Stopping all tasks\\.\n")) << quit.out;
    EXPECT_TRUE(proctest::Matches(quit.out, "quiet: stopping\n")) << quit.out;
    EXPECT_TRUE(proctest::Matches(quit.out, "Server console stopped\\.\n$")) << quit.out;
    EXPECT_EQ(0, service.WaitExitCode());
    EXPECT_TRUE(proctest::Matches(OneShot({"show", "tasks"}).out, "No task is running")) << "read without a console";
}

TEST_F(NServiceTest, LoadReportsATaskThatEndsDuringItsStartUp) {
    proctest::Process& service = StartService("looptask broken status=0x0103");
    EXPECT_TRUE(service.WaitForLine(R"(Task looptask \(process \d+\) did not start: it ended during its start-up\.)"));

    proctest::RunResult failed = OneShot({"load", "looptask", "again", "status=0x0103"});
    EXPECT_EQ(1, failed.exitCode);
    EXPECT_TRUE(proctest::Matches(failed.out, "again: started\n")) << "the task's own lines: " << failed.out;
    EXPECT_TRUE(proctest::Matches(failed.err, R"(did not start: it ended during its start-up)")) << failed.err;

    proctest::RunResult started = OneShot({"l", "looptask", "fine"});
    EXPECT_EQ(0, started.exitCode) << started.out << started.err;
    EXPECT_TRUE(proctest::Matches(started.out, R"(Task looptask \(process \d+\) started\.)")) << started.out;
    EXPECT_EQ(1, OneShot({"load", "nosuchprogram"}).exitCode);

    service.Signal(SIGTERM);
    EXPECT_EQ(0, service.WaitExitCode());
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "fine: stopping\n"));
}

TEST_F(NServiceTest, SigtermEndsAServiceWhoseOutputNobodyReads) {
    testenv::WriteFile(DataPath("notes.ini"), "ServerTasks=looptask flood lines=30000\n");
    int out[2];
    ASSERT_EQ(0, pipe(out));
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDERR_FILENO);
        execl(proctest::BinPath("nserver").c_str(), "nserver", "--data", dataDir_.c_str(), "--bin",
              proctest::TestTaskDir().c_str(), "--service", (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    ASSERT_TRUE(proctest::WaitForLogLine(dataDir_, "flood: logged 30000 lines", 60000)) << "the task is never held up";
    kill(pid, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int i = 0; i < proctest::Scaled(100) && !ended; ++i) {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!ended) kill(pid, SIGKILL), waitpid(pid, &status, 0);
    close(out[0]);
    EXPECT_TRUE(ended) << "nserver did not end on SIGTERM while its output was not read";
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "flood: stopping\n.*\n.*Server console stopped"));
}

// nserver in a pseudo-terminal, typed at as a user would.
class NServerTerminalTest : public NServerTest {
protected:
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
        NServerTest::TearDown();
    }
    void Start() {
        testenv::WriteFile(DataPath("notes.ini"), "ServerName=CN=Pty Server/O=Org\n");
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            setenv("TERM", "dumb", 1);
            setenv("INPUTRC", "/dev/null", 1);
            execl(proctest::BinPath("nserver").c_str(), "nserver", "--data", dataDir_.c_str(), "--bin",
                  proctest::TestTaskDir().c_str(), (char*)nullptr);
            _exit(127);
        }
    }
    void Type(const std::string& keys) { ASSERT_EQ(ssize_t(keys.size()), write(master_, keys.data(), keys.size())); }
    // Reads the screen until regex matches what came since the last match.
    bool Sees(const std::string& regex, int timeoutMs = proctest::kDefaultTimeoutMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(proctest::Scaled(timeoutMs));
        std::smatch match;
        while (!std::regex_search(screen_, match, std::regex(regex))) {
            int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
            pollfd ready = {master_, POLLIN, 0};
            if (left <= 0 || poll(&ready, 1, left) <= 0) return false;
            char buffer[4096];
            ssize_t n = read(master_, buffer, sizeof(buffer));
            if (n <= 0) return false;
            screen_.append(buffer, size_t(n));
        }
        screen_.erase(0, size_t(match.position(0) + match.length(0)));
        return true;
    }
    int WaitExit() {
        int status = 0;
        for (int i = 0; i < proctest::Scaled(200); ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            char buffer[4096];
            pollfd ready = {master_, POLLIN, 0};
            if (poll(&ready, 1, 50) <= 0 || read(master_, buffer, sizeof(buffer)) <= 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the terminal closed
        }
        return -1;
    }

    pid_t pid_ = -1;
    int master_ = -1;
    std::string screen_;
};

TEST_F(NServerTerminalTest, AbbreviationsWorkCtrlCClearsTheLineAndHistoryIsKept) {
    Start();
    ASSERT_TRUE(Sees("Server console started on ")) << screen_;
    ASSERT_TRUE(Sees("Pty Server/Org \\(" + std::filesystem::path(dataDir_).filename().string() + "\\)> "))
        << "the prompt names the server and data directory: " << screen_;
    Type("sh ta\r");
    EXPECT_TRUE(Sees("No task is running\\.")) << screen_;
    Type("l looptask P1\r");
    EXPECT_TRUE(Sees("P1: logged 0 lines")) << screen_;
    Type("t nobody hello\r");
    EXPECT_TRUE(Sees("Task nobody is not running")) << screen_;
    Type("sh\tta\t\r");  // Tab completes command words
    EXPECT_TRUE(Sees("looptask +Looping as P1")) << screen_;
    Type("tell p\thello\r");  // and the names of loaded tasks
    EXPECT_TRUE(Sees("Task P1 is not running \\(no message queue MQ\\$P1\\)")) << screen_;

    ASSERT_TRUE(Sees("\\)> ")) << "the prompt is back: " << screen_;
    Type("frobnicate half-typed");
    EXPECT_TRUE(Sees("frobnicate half-typed")) << screen_;
    Type("\x03");  // Ctrl-C: the line goes, the console and its task stay
    EXPECT_TRUE(Sees("\\^C")) << screen_;
    Type("h\r");
    EXPECT_TRUE(Sees("Commands \\(words in any case")) << screen_;
    EXPECT_FALSE(proctest::Matches(ConsoleLog(), "frobnicate")) << "the cleared line was not run";
    EXPECT_FALSE(proctest::Matches(ConsoleLog(), "P1: stopping")) << "Ctrl-C stopped no task";

    Type("q\r");
    EXPECT_EQ(0, WaitExit());
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "P1: stopping\n"));
    std::ifstream history(DataPath(".nserver/history"));
    std::string kept((std::istreambuf_iterator<char>(history)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(proctest::Matches(kept, "sh ta\nl looptask P1\n")) << kept;
    EXPECT_FALSE(proctest::Matches(kept, "frobnicate"));
    EXPECT_EQ(0700u, unsigned(std::filesystem::status(DataPath(".nserver")).permissions()) & 0777u);
}

TEST_F(NServerTest, VersionAndUsageErrors) {
    proctest::RunResult version = RunProgram({proctest::BinPath("nserver"), "--version"});
    EXPECT_EQ(0, version.exitCode);
    EXPECT_TRUE(proctest::Matches(version.out, "^nserver \\d+\\.\\d+\\.\\d+\n$")) << version.out;
    proctest::RunResult zelrep = RunProgram({proctest::BinPath("zelrep"), "--version"});
    EXPECT_EQ(0, zelrep.exitCode);
    EXPECT_TRUE(proctest::Matches(zelrep.out, "^zelrep \\d+\\.\\d+\\.\\d+\n$")) << zelrep.out;

    proctest::RunResult bad = RunProgram({proctest::BinPath("nserver"), "--colour"});
    EXPECT_EQ(2, bad.exitCode);
    EXPECT_EQ(4u, proctest::Lines(bad.err).size()) << "a short usage, not the whole help: " << bad.err;
    EXPECT_TRUE(proctest::Matches(bad.err, "^nserver: unknown option --colour\nusage: nserver")) << bad.err;
}

TEST_F(NServerTest, OneClockAndTheSettingsThatBreakAPassAreNamedAtStart) {
    // Ten hours east of GMT: console stamps and Notes times both follow it.
    testenv::WriteFile(DataPath("notes.ini"), "TimeZone=-10\nDateOrder=DMY\nClock=25\n");
    std::time_t now = std::time(nullptr) + 10 * 3600;
    std::tm east;
    gmtime_r(&now, &east);
    char hour[8], twelve[8];
    std::strftime(hour, sizeof(hour), "%H:%M", &east);
    std::strftime(twelve, sizeof(twelve), "%I", &east);  // Notes times keep the 12-hour clock

    Console& console = StartServer();
    std::string started;
    for (const std::string& line : console.OutputLines())
        if (proctest::Matches(line, "Server console started")) started = line;
    EXPECT_EQ(hour, started.substr(11, 5)) << started;
    EXPECT_TRUE(console.WaitForLine("Warning: notes.ini: DateOrder=DMY writes time texts that do not sort"));
    EXPECT_TRUE(console.WaitForLine("Warning: notes.ini: Clock=25 is neither 12 nor 24"));
    EXPECT_EQ(0, console.Quit());

    proctest::StartOptions options = DataDirOptions();
    proctest::RunResult task = proctest::Run({proctest::BinPath("zelrep")}, "", options);
    EXPECT_TRUE(proctest::Matches(task.out, "Warning: notes.ini: DateOrder=DMY")) << task.out;
    proctest::RunResult tool = RunNsfdb({"create", "x.nsf"});
    EXPECT_EQ(0, tool.exitCode) << tool.err;
    EXPECT_TRUE(proctest::Matches(tool.err, "nsfdb: warning: notes.ini: DateOrder=DMY")) << tool.err;
    EXPECT_TRUE(proctest::Matches(Nsfdb({"info", "x.nsf"}), "Last modified: \\d\\d/\\d\\d/\\d{4} " +
                                                              std::string(twelve) + ":"))
        << "Notes times in the same zone";
}

}  // namespace
