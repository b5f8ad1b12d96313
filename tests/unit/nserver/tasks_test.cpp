// tasks_test.cpp - the console's task table on this platform: the lines a
// task writes on either stream are relayed whole, without their line ends,
// its start-up and its end are reported with how it ended; a task is found
// by its program or an argument, and ends when the table asks every task to
// stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tasks.h"
#include "testenv.h"

namespace {

// A path as the platform's programs take it (the build names its files
// with the building system's paths).
std::string NativePath(const std::string& path) {
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') return "Z:" + path;
#endif
    return path;
}

struct Line {
    bool isError;
    std::string text;
    bool operator==(const Line& other) const { return isError == other.isError && text == other.text; }
};

}  // namespace

class TaskTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        dataDir_ = testenv::MakeTempDir("tasks");
        ASSERT_FALSE(dataDir_.empty());
    }
    void TearDown() override {
        tasks_.KillAll();
        WaitUntilEmpty();
        std::error_code ignored;
        std::filesystem::remove_all(dataDir_, ignored);
    }

    pid_t Start(const std::vector<std::string>& args) {
        pid_t pid = 0;
        std::string error;
        EXPECT_TRUE(tasks_.Start(NativePath(PROCESS_CHILD), "processchild", args, dataDir_, &pid, &error))
            << error;
        return pid;
    }
    // Reads and reaps, as the console's loop does, until pred holds or the
    // time is up.
    template <typename Pred>
    bool RunUntil(Pred pred, std::chrono::seconds within = std::chrono::seconds(10)) {
        auto deadline = std::chrono::steady_clock::now() + within;
        while (!pred()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            for (nserver::PipeEnd pipe : tasks_.Pipes())
                if (nserver::HasInput(pipe)) tasks_.ReadFrom(pipe);
            tasks_.ReapEnded();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    void WaitUntilEmpty() { RunUntil([this] { return tasks_.Empty(); }); }

    std::string dataDir_;
    std::vector<Line> lines_;
    std::vector<pid_t> ready_;
    std::vector<std::string> ends_;
    nserver::TaskTable tasks_{
        [this](const std::string&, pid_t, bool isError, const std::string& line) {
            lines_.push_back({isError, line});
        },
        [this](const std::string&, pid_t pid) { ready_.push_back(pid); },
        [this](const std::string& task, pid_t, int status, bool started) {
            ends_.push_back(task + " ended " + nserver::EndDescription(status) + (started ? "" : " at start-up"));
        }};
};

TEST_F(TaskTableTest, LinesOfBothStreamsStartUpAndEndAreReported) {
    pid_t pid = Start({"report", "DEMO"});
    ASSERT_NE(0, pid);
    ASSERT_TRUE(RunUntil([this] { return tasks_.Empty(); }));
    std::vector<Line> expected = {{false, "data=" + dataDir_}, {false, "arg=DEMO"},
                                  {true, "a line on standard error"}};
    for (const Line& line : expected)
        EXPECT_NE(lines_.end(), std::find(lines_.begin(), lines_.end(), line)) << line.text;
    EXPECT_EQ(4u, lines_.size());
    EXPECT_EQ(std::vector<pid_t>{pid}, ready_);
    EXPECT_EQ(std::vector<std::string>{"processchild ended with status 3"}, ends_);
}

TEST_F(TaskTableTest, TaskFoundByItsArgumentEndsWhenAllAreAskedToStop) {
    pid_t pid = Start({"wait", "Demo"});
    ASSERT_TRUE(RunUntil([this] { return !ready_.empty(); }));
    EXPECT_EQ(std::vector<pid_t>{pid}, tasks_.Matching("DEMO"));
    EXPECT_EQ(std::vector<pid_t>{pid}, tasks_.Matching("processchild"));
    EXPECT_TRUE(tasks_.Matching("other").empty());
    tasks_.AskAllToStop();
    ASSERT_TRUE(RunUntil([this] { return tasks_.Empty(); }));
    EXPECT_EQ(std::vector<std::string>{"processchild ended with status 7"}, ends_);
}
