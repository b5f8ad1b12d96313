// addin_test.cpp - the add-in services: log texts and lines, status lines,
// the schedule timers, the stop request and the start-up calls.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "addin.h"
#include "notesinit.h"
#include "nrt_env.h"
#include "nrt_server.h"
#include "testenv.h"

namespace {

// "YYYY/MM/DD HH:MM:SS  ": digits where the pattern has 9.
bool HasTimeStamp(const std::string& line) {
    const std::string pattern = "9999/99/99 99:99:99  ";
    if (line.size() < pattern.size()) return false;
    for (size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == '9' ? !std::isdigit((unsigned char)line[i]) : line[i] != pattern[i]) return false;
    return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The console.log lines with their time stamps checked and removed.
std::vector<std::string> LoggedLines(const std::string& path) {
    std::vector<std::string> bodies;
    for (const std::string& line : SplitLines(testenv::ReadFile(path))) {
        EXPECT_TRUE(HasTimeStamp(line)) << line;
        bodies.push_back(HasTimeStamp(line) ? line.substr(21) : line);
    }
    return bodies;
}

std::vector<std::string> LiveTaskNames() {
    std::vector<std::string> names;
    NRTEnumStatusLines(
        [](void* context, const char* name, const char* text, DWORD) -> STATUS {
            static_cast<std::vector<std::string>*>(context)->push_back(std::string(name) + "|" + text);
            return NOERROR;
        },
        &names);
    return names;
}

class AddInTest : public DataDirTest {
protected:
    void TearDown() override {
        NRTRequestStop(FALSE);
        AddInSDKTerm(NOERROR);
        DataDirTest::TearDown();
    }
    void StartTask(const char* program) {
        char* argv[] = {const_cast<char*>(program), nullptr};
        ASSERT_EQ(NOERROR, AddInSDKInit(1, argv));
    }
};

TEST_F(AddInTest, SinkGetsComposedTextWithStatusText) {
    NRTLogCapture log;
    AddInLogMessageText("%s:  count %d", NOERROR, "Orvane - A", 7);
    AddInLogMessageText("%s: Error creating queue", ERR_DUPLICATE_MQ, "Orvane - A");
    AddInLogMessageText("flagged", ERR_NO_SUCH_MQ | STS_DISPLAYED);
    AddInLogMessageText("unknown", 0x3FFE);
    ASSERT_EQ(4u, log.Texts().size());
    EXPECT_EQ("Orvane - A:  count 7", log.Texts()[0]);
    EXPECT_EQ("Orvane - A: Error creating queue: A message queue with that name already exists",
              log.Texts()[1]);
    EXPECT_EQ("flagged: No message queue with that name exists", log.Texts()[2]);
    EXPECT_EQ("unknown: Error 0x3FFE", log.Texts()[3]);
    // The quiet sink keeps the log file untouched.
    EXPECT_FALSE(std::filesystem::exists(DataPath("console.log")));
}

TEST_F(AddInTest, LinesAreStampedAndSplitByTheLineRule) {
    NRTLogCapture log(NRT_LOGSINK_ALSO_WRITE);
    testing::internal::CaptureStdout();
    AddInLogMessageText("plain", NOERROR);
    AddInLogMessageText("\nHEAD\nUSAGE: x\n\tindented: y\n", NOERROR);
    AddInLogMessageText("done\r\n", NOERROR);
    AddInLogMessageText("", NOERROR);
    AddInLogMessageText("bell\a and escape\x1b[2J", NOERROR);
    std::string console = testing::internal::GetCapturedStdout();
    std::vector<std::string> expected = {"plain", "HEAD", "USAGE: x", "\tindented: y", "done", "",
                                         "bell? and escape?[2J"};
    EXPECT_EQ(expected, LoggedLines(DataPath("console.log")));
    EXPECT_EQ(testenv::ReadFile(DataPath("console.log")), console);
    // The sink still sees the texts untouched.
    EXPECT_EQ("\nHEAD\nUSAGE: x\n\tindented: y\n", log.Texts()[1]);
}

TEST_F(AddInTest, ConsoleLogIsTheOwnersAndNeverLeadsOutside) {
#ifdef _WIN32
    GTEST_SKIP() << "making links on Windows needs a privilege the tests do not have";
#else
    NRTLogCapture log(NRT_LOGSINK_ALSO_WRITE);
    testing::internal::CaptureStdout();
    std::string outside = testenv::MakeTempDir("outside");
    std::filesystem::create_symlink(outside + "/stolen.log", DataPath("console.log"));
    testing::internal::CaptureStderr();
    AddInLogMessageText("first", NOERROR);
    AddInLogMessageText("second", NOERROR);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(std::filesystem::exists(outside + "/stolen.log"));
    EXPECT_EQ("notesrt: cannot append to " + DataPath("console.log") +
                  ": Path must be relative to the data directory and must not lead outside it\n",
              errors);

    std::filesystem::remove(DataPath("console.log"));
    AddInLogMessageText("third", NOERROR);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::vector<std::string>{"third"}, LoggedLines(DataPath("console.log")));
    EXPECT_EQ(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
              std::filesystem::status(DataPath("console.log")).permissions());
    EXPECT_EQ(3u, log.Texts().size());  // the console got every line
    std::filesystem::remove_all(outside);
#endif
}

// A server task's lines for console.log are gathered: none is lost, they
// keep their order, and the idle call and the end of the task's services
// write them out.
TEST_F(AddInTest, TaskLinesReachConsoleLogAtIdleAndAtTheEnd) {
    testing::internal::CaptureStdout();
    StartTask("gatherer");
    for (int n = 0; n < 300; ++n) AddInLogMessageText("line %d", NOERROR, n);
    AddInIdle();
    std::vector<std::string> lines = LoggedLines(DataPath("console.log"));
    ASSERT_EQ(300u, lines.size());
    for (int n = 0; n < 300; ++n) EXPECT_EQ("line " + std::to_string(n), lines[n]);
    AddInLogMessageText("last", NOERROR);
    AddInSDKTerm(NOERROR);
    testing::internal::GetCapturedStdout();
    lines = LoggedLines(DataPath("console.log"));
    ASSERT_EQ(301u, lines.size());
    EXPECT_EQ("last", lines.back());
}

TEST_F(AddInTest, OverlongTextIsCutNotOverrun) {
    NRTLogCapture log;
    std::string huge(10000, 'h');
    AddInLogMessageText("%s", ERR_MQ_TIMEOUT, huge.c_str());
    ASSERT_EQ(1u, log.Texts().size());
    EXPECT_EQ(std::string(4095, 'h') + ": Timed out waiting for a message", log.Texts()[0]);
}

// Messages bound for a pipe (a task's output to the console) may be
// gathered: they still arrive whole and in order, the last one while the
// task goes on without logging, and console.log has each at once.
TEST_F(AddInTest, MessagesToAPipeArriveInOrderWhileTheTaskIsQuiet) {
#ifdef _WIN32
    GTEST_SKIP() << "the task is a forked child";
#else
    int output[2];
    ASSERT_EQ(0, pipe(output));
    pid_t child = fork();
    if (child == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        close(output[1]);
        for (int n = 0; n < 500; ++n) AddInLogMessageText("message %d", NOERROR, n);
        AddInLogMessageText("last", NOERROR);
        bool logged = LoggedLines(DataPath("console.log")).size() == 501;
        sleep(2);  // quiet: no message would carry the gathered ones out
        _exit(logged ? 0 : 3);  // no exit handlers: the last line came out already
    }
    close(output[1]);
    std::string received;
    bool lastWhileRunning = false;
    for (;;) {
        pollfd ready = {output[0], POLLIN, 0};
        if (poll(&ready, 1, 5000) <= 0) break;
        char buffer[65536];
        ssize_t n = read(output[0], buffer, sizeof buffer);
        if (n <= 0) break;
        received.append(buffer, (size_t)n);
        if (!lastWhileRunning && received.find("  last\n") != std::string::npos)
            lastWhileRunning = waitpid(child, nullptr, WNOHANG) == 0;
    }
    close(output[0]);
    int status = 0;
    ASSERT_TRUE(testenv::WaitOrKill(child, &status, 10)) << "the child hung";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "console.log lacked messages";
    EXPECT_TRUE(lastWhileRunning);
    std::vector<std::string> lines = SplitLines(received);
    ASSERT_EQ(501u, lines.size());
    for (int n = 0; n < 500; ++n) EXPECT_EQ("message " + std::to_string(n), lines[n].substr(21));
    EXPECT_EQ("last", lines[500].substr(21));
#endif
}

// A task's forked child that exits normally must not wait for the flusher
// it inherited as a copy of the parent's state and does not have.
TEST_F(AddInTest, ForkedChildOfATaskThatGathersExits) {
#ifdef _WIN32
    GTEST_SKIP() << "the child is forked";
#else
    testing::internal::CaptureStdout();
    StartTask("forker");
    // Forks at moments of every kind: lines gathered or not, the flusher
    // waiting for them or for the next.
    int hung = -1;
    for (int round = 0; round < 40 && hung < 0; ++round) {
        AddInLogMessageText("round %d", NOERROR, round);
        if (round % 3 == 0) AddInIdle();
        std::this_thread::sleep_for(std::chrono::microseconds(round * 150));
        pid_t child = fork();
        if (child == 0) {
            AddInLogMessageText("child %d", NOERROR, round);
            std::exit(0);
        }
        int status = 0;
        if (!testenv::WaitOrKill(child, &status, 10)) hung = round;
    }
    AddInSDKTerm(NOERROR);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(-1, hung) << "the child of that round hung at exit";
#endif
}

TEST_F(AddInTest, ThreadsLoggingAtOnceNeverMixLines) {
    testing::internal::CaptureStdout();
    auto writer = [](char tag) {
        for (int i = 0; i < 200; ++i)
            AddInLogMessageText("%c %03d %s", NOERROR, tag, i, std::string(300, tag).c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    testing::internal::GetCapturedStdout();
    std::vector<std::string> lines = LoggedLines(DataPath("console.log"));
    ASSERT_EQ(400u, lines.size());
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
        int which = line[0] == 'a' ? 0 : 1;
        char expected[16];
        std::snprintf(expected, sizeof(expected), "%c %03d ", line[0], next[which]++);
        EXPECT_EQ(expected + std::string(300, line[0]), line);
    }
}

TEST_F(AddInTest, StatusLinesAreListedWhileTheyExist) {
    HANDLE first = AddInCreateStatusLine("Orvane - B");
    HANDLE second = AddInCreateStatusLine("Orvane - A");
    AddInSetStatusLine(first, "Idle on %s", "names.nsf");
    AddInSetStatusLine(second, "line\nbreak");
    char text[64];
    EXPECT_TRUE(NRTGetStatusLineText(first, text, sizeof(text)));
    EXPECT_STREQ("Idle on names.nsf", text);
    EXPECT_TRUE(NRTGetStatusLineText(first, text, 5));
    EXPECT_STREQ("Idle", text);
    std::vector<std::string> expected = {"Orvane - A|line break", "Orvane - B|Idle on names.nsf"};
    EXPECT_EQ(expected, LiveTaskNames());
    AddInDeleteStatusLine(first);
    EXPECT_FALSE(NRTGetStatusLineText(first, text, sizeof(text)));
    EXPECT_STREQ("", text);
    EXPECT_EQ(std::vector<std::string>{"Orvane - A|line break"}, LiveTaskNames());
    AddInDeleteStatusLine(second);
    AddInDeleteStatusLine(second);  // a second delete is harmless
    EXPECT_TRUE(LiveTaskNames().empty());
}

TEST_F(AddInTest, StatusLinesKeepTheirBlanks) {
    HANDLE line = AddInCreateStatusLine("  Orvane - X");
    AddInSetStatusLine(line, "   ");
    EXPECT_EQ(std::vector<std::string>{"  Orvane - X|   "}, LiveTaskNames());
    AddInDeleteStatusLine(line);
}

TEST_F(AddInTest, LinesOfAProcessThatDiedAreForgottenAndRemoved) {
#ifdef _WIN32
    GTEST_SKIP() << "the process that dies is a forked child";
#else
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE line = AddInCreateStatusLine("Orvane - GONE");
        AddInSetStatusLine(line, "working");
        _exit(0);  // no clean-up, as after a crash
    }
    int status = 0;
    waitpid(child, &status, 0);
    namespace fs = std::filesystem;
    std::vector<fs::path> files{fs::directory_iterator(DataPath(".notesrt/status")), fs::directory_iterator()};
    ASSERT_EQ(1u, files.size());
    // Status lines are the owner's only.
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(files[0]).permissions());
    EXPECT_EQ(fs::perms::owner_all, fs::status(DataPath(".notesrt")).permissions());
    EXPECT_EQ(fs::perms::owner_all, fs::status(DataPath(".notesrt/status")).permissions());
    EXPECT_TRUE(LiveTaskNames().empty());
    EXPECT_TRUE(fs::is_empty(DataPath(".notesrt/status")));
#endif
}

TEST_F(AddInTest, DefaultStatusLineIsNamedAfterTheProgram) {
    StartTask("/opt/bin/averyveryverylongprogramname");
    HMODULE module = 0;
    HANDLE line = 0;
    AddInQueryDefaults(&module, &line);
    EXPECT_NE(0u, module);
    ASSERT_NE(0u, line);
    HMODULE fromInit = 0;
    EXPECT_EQ(NOERROR, NotesInitModule(&fromInit, nullptr, nullptr));
    EXPECT_EQ(module, fromInit);
    AddInSetStatusText("Idle %d", 3);
    EXPECT_EQ(std::vector<std::string>{"averyveryverylongpro|Idle 3"}, LiveTaskNames());
    AddInDeleteStatusLine(line);
    AddInSetDefaults(module, NULLHANDLE);
    AddInSetStatusText("nowhere");  // no default line: nothing happens
    EXPECT_TRUE(LiveTaskNames().empty());
}

TEST_F(AddInTest, SecondsHaveElapsedOnMultiplesOfTheSchedule) {
    StartTask("timer");
    EXPECT_TRUE(AddInSecondsHaveElapsed(0));
    EXPECT_TRUE(AddInSecondsHaveElapsed(0));
    EXPECT_FALSE(AddInSecondsHaveElapsed(2));
    NRTAdvanceAddInClock(1800);
    EXPECT_FALSE(AddInSecondsHaveElapsed(2));
    NRTAdvanceAddInClock(400);  // 2.2 s
    EXPECT_TRUE(AddInSecondsHaveElapsed(2));
    EXPECT_FALSE(AddInSecondsHaveElapsed(2));  // re-armed for 4 s
    NRTAdvanceAddInClock(1000);                // 3.2 s
    EXPECT_FALSE(AddInSecondsHaveElapsed(2));
    NRTAdvanceAddInClock(5000);                // 8.2 s: several multiples passed, one TRUE
    EXPECT_TRUE(AddInSecondsHaveElapsed(2));
    EXPECT_FALSE(AddInSecondsHaveElapsed(2));
    // A changed schedule counts from the same start: next multiple of 1 s.
    NRTAdvanceAddInClock(900);  // 9.1 s
    EXPECT_TRUE(AddInSecondsHaveElapsed(1));
    EXPECT_FALSE(AddInSecondsHaveElapsed(1));
    NRTAdvanceAddInClock(1000);  // 10.1 s
    EXPECT_TRUE(AddInSecondsHaveElapsed(1));
    EXPECT_FALSE(AddInSecondsHaveElapsed(120));
}

TEST_F(AddInTest, DayHasElapsedFirstThenOncePerDay) {
    StartTask("daily");
    EXPECT_TRUE(AddInDayHasElapsed());
    EXPECT_FALSE(AddInDayHasElapsed());
    NRTAdvanceAddInClock(24u * 3600u * 1000u);
    EXPECT_TRUE(AddInDayHasElapsed());
    EXPECT_FALSE(AddInDayHasElapsed());
}

TEST_F(AddInTest, StopSignalMakesIdleAnswerTrue) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows asks a task to stop through its stop pipe or console events, not signals";
#else
    StartTask("stopper");
    EXPECT_FALSE(AddInIdle());
    EXPECT_FALSE(AddInShouldTerminate());
    raise(SIGTERM);
    EXPECT_TRUE(AddInIdle());
    EXPECT_TRUE(AddInShouldTerminate());
    NRTRequestStop(FALSE);
    raise(SIGINT);
    EXPECT_TRUE(AddInIdle());
#endif
}

class StartUpTest : public AddInTest {
protected:
    void TearDown() override {
        testenv::SetEnvironment("NRT_INIT_FAIL", nullptr);
        testenv::SetEnvironment("NOTES_DATA_DIR", nullptr);
        NRTSetDataDirectory(dataDir_.c_str());
        AddInTest::TearDown();
    }
};

TEST_F(StartUpTest, DataDirectoryFromSettingsFileOrEnvironment) {
    std::string other = testenv::MakeTempDir("startup");
    char program[] = "task";
    std::string iniArg = "=" + DataPath("server.ini");
    testenv::WriteFile(DataPath("server.ini"), "ServerName=CN=S/O=O\nDirectory=" + other + "\n");
    char* argv[] = {program, iniArg.data(), nullptr};
    EXPECT_EQ(NOERROR, NotesInitExtended(2, argv));
    char current[1024];
    NRTGetDataDirectory(current, sizeof(current));
    EXPECT_EQ(std::filesystem::canonical(other).string(), current);

    testenv::SetEnvironment("NOTES_DATA_DIR", dataDir_.c_str());
    EXPECT_EQ(NOERROR, NotesInitExtended(1, argv));
    NRTGetDataDirectory(current, sizeof(current));
    EXPECT_EQ(std::filesystem::canonical(dataDir_).string(), current);

    testenv::SetEnvironment("NOTES_DATA_DIR", (dataDir_ + "/missing").c_str());
    EXPECT_EQ(ERR_NOEXIST, NotesInitExtended(1, argv));
    std::string missingIni = "=" + DataPath("none.ini");
    char* withMissing[] = {program, missingIni.data(), nullptr};
    EXPECT_EQ(ERR_NOEXIST, NotesInitExtended(2, withMissing));
    std::filesystem::remove_all(other);
}

TEST_F(StartUpTest, CommandLineLosesSettingsFileArguments) {
    char a0[] = "zelrep", a1[] = "=x.ini", a2[] = "INST", a3[] = "-f", a4[] = "c.nsf";
    char* argv[] = {a0, a1, a2, a3, a4, nullptr};
    int argc = 5;
    char** args = argv;
    ASSERT_EQ(NOERROR, NotesSDKMAINCommandLineBegin(argc, argv, &argc, &args));
    ASSERT_EQ(4, argc);
    EXPECT_STREQ("zelrep", args[0]);
    EXPECT_STREQ("INST", args[1]);
    EXPECT_STREQ("c.nsf", args[3]);
    EXPECT_EQ(nullptr, args[4]);
    NotesSDKMAINCommandLineEnd(argc, args);
}

TEST_F(StartUpTest, InjectedFailuresAndTheirTexts) {
    char program[] = "task";
    char* argv[] = {program, nullptr};
    testenv::SetEnvironment("NRT_INIT_FAIL", "NotesInitExtended:0x8103");
    EXPECT_EQ(0x8103, NotesInitExtended(1, argv));
    EXPECT_EQ(NOERROR, AddInSDKInit(1, argv));
    testenv::SetEnvironment("NRT_INIT_FAIL", "AddInSDKInit:0x0107");
    EXPECT_EQ(ERR_MEMORY, AddInSDKInit(1, argv));
    char text[256];
    EXPECT_EQ(0x8103, NotesSDKMAINInitError(0x8103, text, sizeof(text) - 1));
    EXPECT_STREQ("File does not exist", text);
    EXPECT_EQ(0x3FFE, NotesSDKMAINError(0x3FFE, text, sizeof(text) - 1));
    EXPECT_STREQ("Notes error 0x3FFE", text);
    char small[5];
    NotesSDKMAINError(ERR_NOEXIST, small, sizeof(small) - 1);
    EXPECT_STREQ("File", small);
}

}  // namespace
