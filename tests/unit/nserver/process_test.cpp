// process_test.cpp - the console's task processes (process.h) on this
// platform: a task runs in the data directory with it in its environment
// and its arguments as given, both output streams and the start-up report
// reach the console, the exit status is reported; the stop request reaches
// a task that waits for it, a task that ignores it is killed; a program
// that does not exist does not start.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "process.h"
#include "testenv.h"

namespace {

using nserver::ChildPipes;
using nserver::PipeEnd;
using nserver::ReadResult;

// A path as the platform's programs take it (the build names its files
// with the building system's paths).
std::string NativePath(const std::string& path) {
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') return "Z:" + path;
#endif
    return path;
}

// Everything the child writes on the pipe, its line ends as "\n".
std::string ReadAll(PipeEnd pipe) {
    std::string text;
    char buffer[256];
    size_t length = 0;
    while (nserver::ReadPipe(pipe, buffer, sizeof(buffer), true, &length) == ReadResult::kData)
        text.append(buffer, length);
    nserver::ClosePipe(pipe);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

}  // namespace

class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dataDir_ = testenv::MakeTempDir("process");
        ASSERT_FALSE(dataDir_.empty());
    }
    void TearDown() override {
        for (pid_t pid : running_) nserver::KillChild(pid);
        for (pid_t pid : std::vector<pid_t>(running_)) Ended(pid);
        std::error_code ignored;
        std::filesystem::remove_all(dataDir_, ignored);
    }

    pid_t Start(const std::vector<std::string>& args, ChildPipes* pipes) {
        std::vector<std::string> argv = {"processchild"};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_t pid = 0;
        std::string error;
        EXPECT_TRUE(nserver::StartChild(NativePath(PROCESS_CHILD), argv, dataDir_, &pid, pipes, &error)) << error;
        if (pid != 0) running_.push_back(pid);
        return pid;
    }
    bool StartUpReported(const ChildPipes& pipes) {
        char byte = 0;
        size_t length = 0;
        bool reported = nserver::ReadPipe(pipes.ready, &byte, 1, true, &length) == ReadResult::kData;
        nserver::ClosePipe(pipes.ready);
        return reported;
    }
    // How the child ended, once it has within the time given; empty when
    // it has not.
    std::string Ended(pid_t pid, std::chrono::milliseconds within = std::chrono::seconds(10)) {
        auto deadline = std::chrono::steady_clock::now() + within;
        do {
            pid_t ended = 0;
            int status = 0;
            while (nserver::ReapChild(&ended, &status)) {
                running_.erase(std::remove(running_.begin(), running_.end(), ended), running_.end());
                if (ended == pid) return nserver::EndDescription(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (std::chrono::steady_clock::now() < deadline);
        return "";
    }

    std::string dataDir_;
    std::vector<pid_t> running_;
};

TEST_F(ChildProcessTest, TaskRunsInTheDataDirectoryAndItsOutputAndStatusReachTheConsole) {
    ChildPipes pipes;
    pid_t pid = Start({"report", "PLAIN", "two words", "quote \" inside", "back\\slash\\", ""}, &pipes);
    ASSERT_NE(0, pid);
    std::string out = ReadAll(pipes.out);
    std::string canonical = std::filesystem::canonical(dataDir_).string();
    EXPECT_NE(std::string::npos, out.find("cwd=" + canonical + "\n")) << out;
    EXPECT_NE(std::string::npos, out.find("data=" + dataDir_ + "\n")) << out;
    EXPECT_NE(std::string::npos,
              out.find("arg=PLAIN\narg=two words\narg=quote \" inside\narg=back\\slash\\\narg=\n"))
        << out;
    EXPECT_NE(std::string::npos, ReadAll(pipes.err).find("a line on standard error"));
    EXPECT_TRUE(StartUpReported(pipes));
    EXPECT_EQ("with status 3", Ended(pid));
}

TEST_F(ChildProcessTest, StopRequestReachesTheTaskAndAStubbornOneIsKilled) {
    ChildPipes waiting, stubborn;
    pid_t obeys = Start({"wait"}, &waiting);
    pid_t ignores = Start({"stubborn"}, &stubborn);
    ASSERT_TRUE(StartUpReported(waiting));
    ASSERT_TRUE(StartUpReported(stubborn));
    nserver::AskChildToStop(obeys);
    nserver::AskChildToStop(ignores);
    EXPECT_EQ("with status 7", Ended(obeys));
    EXPECT_EQ("", Ended(ignores, std::chrono::milliseconds(300)));
    nserver::KillChild(ignores);
    EXPECT_NE("", Ended(ignores));
    for (const ChildPipes* pipes : {&waiting, &stubborn}) {
        EXPECT_EQ("", ReadAll(pipes->out));
        EXPECT_EQ("", ReadAll(pipes->err));
    }
}

TEST_F(ChildProcessTest, ProgramThatDoesNotExistDoesNotStart) {
    std::string missing = NativePath(dataDir_ + "/no-such-program");
    EXPECT_FALSE(nserver::IsProgramFile(missing));
    EXPECT_TRUE(nserver::IsProgramFile(NativePath(PROCESS_CHILD)));
    ChildPipes pipes;
    pid_t pid = 0;
    std::string error;
    EXPECT_FALSE(nserver::StartChild(missing, {"no-such-program"}, dataDir_, &pid, &pipes, &error));
    EXPECT_FALSE(error.empty());
}
