// shim_test.cpp - the start-up shim of add-in programs, run as real
// processes: failures of each start-up call reach standard output framed
// as "\r\n%s\r\n\r\n" unless already reported, and the exit status tells
// failure from success.
#include <gtest/gtest.h>

#include "proctest.h"

namespace {

using proctest::RunResult;

class ShimTest : public proctest::ProcessTest {
protected:
    RunResult RunLoopTask(const std::vector<std::string>& args, const std::string& failure = "") {
        std::vector<std::string> argv = {proctest::TestTaskDir() + "/looptask"};
        argv.insert(argv.end(), args.begin(), args.end());
        proctest::StartOptions options = DataDirOptions();
        if (!failure.empty()) options.env.push_back("NRT_INIT_FAIL=" + failure);
        return proctest::Run(argv, "", options);
    }
};

TEST_F(ShimTest, FailedRuntimeStartIsShownAndEndsTheProgram) {
    RunResult result = RunLoopTask({"A"}, "NotesInitExtended:0x0103");
    EXPECT_EQ("\r\nFile does not exist\r\n\r\n", result.out);
    EXPECT_EQ(3, result.exitCode);  // the status, as far as an exit status holds it
    EXPECT_TRUE(ConsoleLog().empty());

    result = RunLoopTask({"A"}, "NotesSDKMAINCommandLineBegin:0x0107");
    EXPECT_EQ("\r\nInsufficient memory\r\n\r\n", result.out);
    EXPECT_EQ(7, result.exitCode);
}

TEST_F(ShimTest, AlreadyReportedFailureIsNotShownAgain) {
    RunResult result = RunLoopTask({"A"}, "NotesInitExtended:0x8103");
    EXPECT_EQ("", result.out);
    EXPECT_EQ(3, result.exitCode);
    result = RunLoopTask({"A"}, "AddInSDKInit:0x8107");
    EXPECT_EQ("", result.out);
    EXPECT_EQ(255, result.exitCode);
}

TEST_F(ShimTest, StatusWithZeroLowByteStillExitsAsFailure) {
    RunResult result = RunLoopTask({"A"}, "NotesInitExtended:0x0200");
    EXPECT_EQ(1, result.exitCode);
}

TEST_F(ShimTest, FailuresAroundTheTaskGiveMinusOne) {
    RunResult result = RunLoopTask({"A"}, "NotesSDKMAINInit:0x0103");
    EXPECT_EQ("", result.out);  // no message for this step
    EXPECT_EQ(255, result.exitCode);

    result = RunLoopTask({"A"}, "AddInSDKInit:0x0107");
    EXPECT_EQ("\r\nInsufficient memory\r\n\r\n", result.out);
    EXPECT_EQ(255, result.exitCode);

    // The task itself fails: its text after the task's own lines.
    result = RunLoopTask({"A", "status=0x0462"});
    EXPECT_TRUE(proctest::Matches(result.out, "  A: started\n\r\nNo message queue with that name exists\r\n\r\n$"))
        << result.out;
    EXPECT_EQ(255, result.exitCode);
}

TEST_F(ShimTest, MissingDataDirectoryIsAClearStartFailure) {
    proctest::StartOptions options;
    options.env = {"NOTES_DATA_DIR=" + dataDir_ + "/none"};
    RunResult result = proctest::Run({proctest::TestTaskDir() + "/looptask"}, "", options);
    EXPECT_EQ("\r\nFile does not exist\r\n\r\n", result.out);
    EXPECT_NE(0, result.exitCode);
}

TEST_F(ShimTest, SuccessfulRunEndsWithZeroAndLeavesNoStatusLine) {
    proctest::Process& task = StartProgram({proctest::TestTaskDir() + "/looptask", "B"}, DataDirOptions());
    ASSERT_TRUE(task.WaitForLine("B: logged 0 lines"));
    task.Signal(SIGTERM);
    EXPECT_EQ(0, task.WaitExitCode());
    EXPECT_TRUE(proctest::Matches(ConsoleLog(), "  B: stopping\n$"));
    EXPECT_TRUE(std::filesystem::is_empty(DataPath(".notesrt/status")));
}

}  // namespace
