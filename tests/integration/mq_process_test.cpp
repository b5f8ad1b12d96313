// mq_process_test.cpp - message queues between real processes: a name held
// by a live process, a holder killed with SIGKILL, sizes and waits, the
// quit request from another process, and another user, who cannot put.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "mq.h"
#include "proctest.h"

namespace {

class MQProcessTest : public proctest::ProcessTest {
protected:
    void TearDown() override {
        if (queue_ != 0) MQClose(queue_, 0);
        proctest::ProcessTest::TearDown();
    }
    proctest::Process& StartQueueTask(const std::string& name) {
        proctest::Process& task =
            StartProgram({proctest::TestTaskDir() + "/queuetask", name}, DataDirOptions());
        EXPECT_TRUE(task.WaitForLine(name + ": ready"));
        return task;
    }
    void OwnQueue(const char* name) {
        ASSERT_EQ(NOERROR, MQCreate(name, 0, 0));
        ASSERT_EQ(NOERROR, MQOpen(name, 0, &queue_));
    }
    // Runs fn in a forked child process; its exit code (fn's result).
    static int InChild(const std::function<int()>& fn) {
        pid_t child = fork();
        if (child == 0) _exit(fn());
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    static int PutFromChild(const char* name, const std::string& text) {
        return InChild([&] {
            MQHANDLE handle = 0;
            STATUS status = MQOpen(name, 0, &handle);
            if (status == NOERROR) status = MQPut(handle, 0, text.data(), WORD(text.size()), 0);
            return status == NOERROR ? 0 : 1;
        });
    }
    STATUS Get(std::string* text, DWORD timeout) {
        char buffer[257];
        WORD length = 0;
        STATUS status = MQGet(queue_, buffer, 256, 0, timeout, &length);
        *text = status == NOERROR ? std::string(buffer, length) : "";
        return status;
    }

    MQHANDLE queue_ = 0;
};

TEST_F(MQProcessTest, NameOfLiveHolderIsRefusedUntilItIsKilled) {
    proctest::Process& holder = StartQueueTask("holder");
    EXPECT_EQ(ERR_DUPLICATE_MQ, MQCreate("MQ$HOLDER", 0, 0));
    // A second task of the same name is refused too.
    proctest::Process& second =
        StartProgram({proctest::TestTaskDir() + "/queuetask", "holder"}, DataDirOptions());
    EXPECT_TRUE(second.WaitForLine("holder: cannot serve queue MQ\\$HOLDER: A message queue with that name already exists"));
    holder.Signal(SIGKILL);
    ASSERT_EQ(128 + SIGKILL, holder.WaitExitCode());
    EXPECT_EQ(NOERROR, MQCreate("MQ$HOLDER", 0, 0));
}

TEST_F(MQProcessTest, MessagesFromAnotherProcessKeepTheirSize) {
    OwnQueue("MQ$SIZES");
    ASSERT_EQ(0, PutFromChild("MQ$SIZES", std::string(256, 'a')));
    ASSERT_EQ(0, PutFromChild("MQ$SIZES", std::string(257, 'b')));
    ASSERT_EQ(0, PutFromChild("MQ$SIZES", "after"));
    std::string text;
    EXPECT_EQ(NOERROR, Get(&text, 2000));
    EXPECT_EQ(std::string(256, 'a'), text);
    EXPECT_EQ(ERR_MQ_BFR_TOO_SMALL, Get(&text, 2000));
    EXPECT_EQ(NOERROR, Get(&text, 2000));
    EXPECT_EQ("after", text);
}

TEST_F(MQProcessTest, ReadWaitsForItsTimeOutWhenNothingComes) {
    OwnQueue("MQ$QUIET");
    std::string text;
    auto start = std::chrono::steady_clock::now();
    STATUS status = Get(&text, 500);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(ERR_MQ_TIMEOUT, status);
    EXPECT_GE(waited, std::chrono::milliseconds(450));
    // A message sent while the reader waits ends the wait.
    std::thread sender([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        PutFromChild("MQ$QUIET", "woken");
    });
    EXPECT_EQ(NOERROR, Get(&text, 5000));
    sender.join();
    EXPECT_EQ("woken", text);
}

TEST_F(MQProcessTest, QuitFromAnotherProcessMakesEveryReadAnswerQuitting) {
    OwnQueue("MQ$STOP");
    ASSERT_EQ(0, PutFromChild("MQ$STOP", "last words"));
    ASSERT_EQ(0, InChild([] {
        MQHANDLE handle = 0;
        if (MQOpen("MQ$STOP", 0, &handle) != NOERROR) return 1;
        MQPutQuitMsg(handle);
        return 0;
    }));
    std::string text;
    EXPECT_EQ(NOERROR, Get(&text, 2000));
    EXPECT_EQ("last words", text);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ERR_MQ_QUITTING, Get(&text, 100));
}

TEST_F(MQProcessTest, AnotherUserCannotPutToTheQueue) {
    SKIP_UNLESS_ROOT();
    OwnQueue("MQ$PRIVATE");
    std::filesystem::permissions(dataDir_, std::filesystem::perms::all);
    int sent = testenv::AsOtherUser([] {
        MQHANDLE handle = 0;
        return MQOpen("MQ$PRIVATE", 0, &handle) == ERR_MQ_OTHER_USER ? 0 : 1;
    });
    ASSERT_EQ(0, sent);
    ASSERT_EQ(0, PutFromChild("MQ$PRIVATE", "friend"));
    std::string text;
    EXPECT_EQ(NOERROR, Get(&text, 2000));
    EXPECT_EQ("friend", text);
    EXPECT_EQ(ERR_MQ_EMPTY, Get(&text, 0));
}

}  // namespace
