// proctest.h - the process harness of the integration tests: start
// programs with their output captured, talk to them, wait for their lines,
// stop them. Shared by every *_test.cpp in tests/integration; owned by the
// server console's tests.
//
// Typical use:
//
//   class MyTest : public proctest::ProcessTest {};
//   TEST_F(MyTest, Something) {
//       proctest::Console& server = StartConsole();      // nserver --data <dir>
//       server.Command("load zelrep TEST1");
//       ASSERT_TRUE(server.WaitForLine("TEST1:  Initialization Complete"));
//       proctest::RunResult r = RunProgram({proctest::BinPath("nsfdb"), "--data", dataDir_,
//                                           "info", "names.nsf"});
//       EXPECT_EQ(0, r.exitCode) << r.err;
//       EXPECT_EQ(0, server.Quit());
//       EXPECT_TRUE(proctest::Matches(ConsoleLog(), "Addin Process Exited"));
//   }
//
// Waits take a time-out in milliseconds (default 10 s), multiplied by the
// environment variable ZELREP_TEST_TIMEOUT_SCALE when it is set (slow
// builds). Every process started here dies with the test binary.
#ifndef ZELREP_TESTS_PROCTEST_H
#define ZELREP_TESTS_PROCTEST_H

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "testenv.h"

namespace proctest {

constexpr int kDefaultTimeoutMs = 10000;

// Directory of the product programs (nserver, nsfdb, zelrep).
std::string BinDir();
std::string BinPath(const std::string& program);
// Directory of the small test tasks (looptask, stubborntask, queuetask).
std::string TestTaskDir();
std::string SourceDir();
// A time-out with the scale of ZELREP_TEST_TIMEOUT_SCALE applied.
int Scaled(int timeoutMs);

// True when the regular expression (ECMAScript) occurs in text.
bool Matches(const std::string& text, const std::string& regex);
std::vector<std::string> Lines(const std::string& text);

struct StartOptions {
    std::vector<std::string> env;  // "NAME=VALUE", added to or replacing the test's own
    std::string workDir;           // empty: the test's own
    bool pipeStdin = false;        // else standard input is /dev/null
    bool otherUser = false;        // run as testenv::kOtherUser (the test must be root)
    gid_t otherUserGroup = testenv::kOtherGroup;  // ... with this group
};

// One child process with its standard output and error read line by line
// by a background thread.
class Process {
public:
    Process() = default;
    ~Process();  // kills the process if it still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Start(const std::vector<std::string>& argv, const StartOptions& options = {});
    pid_t Pid() const { return pid_; }

    // Standard input (with pipeStdin).
    bool Write(const std::string& text);
    bool WriteLine(const std::string& line) { return Write(line + "\n"); }
    void CloseStdin();

    // Waits for a line of output (standard output or error) matching regex,
    // looking only at lines after the last one a wait matched; the match
    // moves that point on. Fills *line with the whole line.
    bool WaitForLine(const std::string& regex, int timeoutMs = kDefaultTimeoutMs,
                     std::string* line = nullptr);
    // Waits for (at least) count matching lines among all lines so far.
    bool WaitForCount(const std::string& regex, size_t count, int timeoutMs = kDefaultTimeoutMs);
    size_t CountLines(const std::string& regex) const;
    std::vector<std::string> OutputLines() const;  // every line, both streams, as read
    std::string Output() const;                    // standard output as received
    std::string Errors() const;                    // standard error as received

    void Signal(int signal);
    void Kill();
    // Waits for the exit; the waitpid status in *status. False on time-out.
    bool WaitExit(int timeoutMs = kDefaultTimeoutMs, int* status = nullptr);
    // Exit code, 128 + signal for a killed process, -1 on time-out.
    int WaitExitCode(int timeoutMs = kDefaultTimeoutMs);
    bool Running();

private:
    void ReadOutput(int outFd, int errFd);
    void Append(bool isError, const std::string& chunk);
    size_t CountLocked(const std::regex& pattern) const;  // caller holds mutex_

    pid_t pid_ = -1;
    bool reaped_ = false;
    int exitStatus_ = 0;
    int stdinFd_ = -1;
    int stopFd_[2] = {-1, -1};
    std::thread reader_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_, err_, partialOut_, partialErr_;
    std::vector<std::string> lines_;
    size_t cursor_ = 0;
    bool readerDone_ = false;
};

struct RunResult {
    int exitCode = -1;  // as WaitExitCode
    std::string out;
    std::string err;
};

// Runs a program to its end with the given standard input.
RunResult Run(const std::vector<std::string>& argv, const std::string& input = "",
              const StartOptions& options = {}, int timeoutMs = 30000);

// nserver on a data directory, commands through its standard input.
class Console : public Process {
public:
    // Extra arguments go before the data directory's (e.g. {"--kill-after", "2"});
    // env ("NAME=VALUE") reaches the console and every task it loads.
    bool Start(const std::string& dataDir, const std::string& binDir = BinDir(),
               const std::vector<std::string>& extraArgs = {}, const std::vector<std::string>& env = {});
    bool Command(const std::string& line) { return WriteLine(line); }
    // Sends "quit" and waits for the console to end; its exit code.
    int Quit(int timeoutMs = 20000);
};

// The console log (DATA/console.log) and waits on it.
std::string ConsoleLog(const std::string& dataDir);
bool WaitForLogLine(const std::string& dataDir, const std::string& regex,
                    int timeoutMs = kDefaultTimeoutMs);

// Base fixture: a fresh data directory (DataDirTest) plus helpers that
// start processes on it; whatever still runs is killed after the test.
class ProcessTest : public DataDirTest {
protected:
    void TearDown() override;
    Process& StartProgram(const std::vector<std::string>& argv, StartOptions options = {});
    Console& StartConsole(const std::string& binDir = BinDir(),
                          const std::vector<std::string>& extraArgs = {},
                          const std::vector<std::string>& env = {});
    RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input = "");
    // nsfdb on this test's data directory.
    RunResult RunNsfdb(const std::vector<std::string>& args, const std::string& input = "");
    // nsfdb, expected to succeed; its standard output.
    std::string Nsfdb(const std::vector<std::string>& args, const std::string& input = "");
    std::string ConsoleLog() const { return proctest::ConsoleLog(dataDir_); }
    // Options that point a program at this test's data directory.
    StartOptions DataDirOptions() const;

    std::vector<std::unique_ptr<Process>> processes_;
};

}  // namespace proctest

#endif
