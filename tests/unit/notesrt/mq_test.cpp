// mq_test.cpp - message queues inside one process: names, sizes, waits,
// the quit state and the scope of a data directory. Queues between
// processes are tried in tests/integration/mq_process_test.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "mq.h"
#include "nrt_env.h"
#include "testenv.h"

namespace {

class MQTest : public DataDirTest {
protected:
    void TearDown() override {
        for (MQHANDLE handle : open_) MQClose(handle, 0);
        DataDirTest::TearDown();
    }
    MQHANDLE CreateAndOpen(const char* name) {
        EXPECT_EQ(NOERROR, MQCreate(name, 0, 0));
        return Open(name);
    }
    MQHANDLE Open(const char* name) {
        MQHANDLE handle = 0;
        EXPECT_EQ(NOERROR, MQOpen(name, 0, &handle));
        open_.push_back(handle);
        return handle;
    }
    static STATUS Put(MQHANDLE queue, const std::string& text) {
        return MQPut(queue, MQ_LOWPRIORITY, text.data(), WORD(text.size()), 0);
    }
    static STATUS Get(MQHANDLE queue, std::string* text, WORD capacity = 256, DWORD timeout = 0) {
        std::string buffer(capacity, '\0');
        WORD length = 0xFFFF;
        STATUS status = MQGet(queue, buffer.data(), capacity, 0, timeout, &length);
        *text = buffer.substr(0, status == NOERROR ? length : 0);
        return status;
    }

    std::vector<MQHANDLE> open_;
};

TEST_F(MQTest, NameHeldInThisProcessAnswersDuplicate) {
    CreateAndOpen("MQ$ONE");
    EXPECT_EQ(ERR_DUPLICATE_MQ, MQCreate("MQ$ONE", 0, 0));
    // Names are compared as given.
    EXPECT_EQ(NOERROR, MQCreate("mq$one", 0, 0));
}

TEST_F(MQTest, OpenOfMissingQueueAnswersNoSuchQueueUnlessAskedToCreate) {
    MQHANDLE handle = 0;
    EXPECT_EQ(ERR_NO_SUCH_MQ, MQOpen("MQ$NONE", 0, &handle));
    EXPECT_EQ(0u, handle);
    EXPECT_EQ(NOERROR, MQOpen("MQ$NONE", MQ_OPEN_CREATE, &handle));
    open_.push_back(handle);
    EXPECT_EQ(ERR_DUPLICATE_MQ, MQCreate("MQ$NONE", 0, 0));
}

TEST_F(MQTest, RefusesEmptyAndOverlongNames) {
    EXPECT_EQ(ERR_MQ_NAME, MQCreate("", 0, 0));
    EXPECT_EQ(ERR_MQ_NAME, MQCreate(nullptr, 0, 0));
    EXPECT_EQ(ERR_MQ_NAME, MQCreate(std::string(65, 'Q').c_str(), 0, 0));
    EXPECT_EQ(NOERROR, MQCreate(std::string(64, 'Q').c_str(), 0, 0));
}

TEST_F(MQTest, MessagesArriveInOrderAndWhole) {
    MQHANDLE queue = CreateAndOpen("MQ$ORDER");
    std::string exact(256, 'x');
    exact[255] = 'z';
    ASSERT_EQ(NOERROR, Put(queue, "first"));
    ASSERT_EQ(NOERROR, Put(queue, exact));
    ASSERT_EQ(NOERROR, Put(queue, ""));
    std::string text;
    EXPECT_EQ(NOERROR, Get(queue, &text));
    EXPECT_EQ("first", text);
    EXPECT_EQ(NOERROR, Get(queue, &text));
    EXPECT_EQ(exact, text);
    EXPECT_EQ(NOERROR, Get(queue, &text));
    EXPECT_EQ("", text);
    EXPECT_EQ(ERR_MQ_EMPTY, Get(queue, &text));
}

TEST_F(MQTest, MessageLongerThanBufferIsDroppedAndNextStillArrives) {
    MQHANDLE queue = CreateAndOpen("MQ$LONG");
    ASSERT_EQ(NOERROR, Put(queue, std::string(257, 'y')));
    ASSERT_EQ(NOERROR, Put(queue, "next"));
    char buffer[256];
    WORD length = 0;
    EXPECT_EQ(ERR_MQ_BFR_TOO_SMALL, MQGet(queue, buffer, sizeof(buffer), 0, 0, &length));
    EXPECT_LE(length, sizeof(buffer));
    std::string text;
    EXPECT_EQ(NOERROR, Get(queue, &text));
    EXPECT_EQ("next", text);
}

TEST_F(MQTest, LargestMessageTravels) {
    MQHANDLE queue = CreateAndOpen("MQ$BIG");
    std::string big(MQ_MAX_MSGSIZE, 'b');
    ASSERT_EQ(NOERROR, Put(queue, big));
    std::string text;
    EXPECT_EQ(NOERROR, Get(queue, &text, MQ_MAX_MSGSIZE));
    EXPECT_EQ(big.size(), text.size());
    EXPECT_EQ(ERR_BAD_PARAM, MQPut(queue, 0, big.data(), MQ_MAX_MSGSIZE + 1, 0));
}

TEST_F(MQTest, WaitsEndAsAsked) {
    MQHANDLE queue = CreateAndOpen("MQ$WAIT");
    std::string text;
    // Nothing waiting and no time-out: at once.
    EXPECT_EQ(ERR_MQ_EMPTY, Get(queue, &text, 256, 0));
    // A time-out bounds the wait even without MQ_WAIT_FOR_MSG.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ERR_MQ_TIMEOUT, Get(queue, &text, 256, 300));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::seconds(5));
    // MQ_WAIT_FOR_MSG with 0 waits until a message comes.
    MQHANDLE sender = Open("MQ$WAIT");
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Put(sender, "late");
    });
    char buffer[16];
    WORD length = 0;
    EXPECT_EQ(NOERROR, MQGet(queue, buffer, sizeof(buffer), MQ_WAIT_FOR_MSG, 0, &length));
    later.join();
    EXPECT_EQ("late", std::string(buffer, length));
}

TEST_F(MQTest, FullQueueAnswersQuotaAndPutsWaitForRoom) {
    MQHANDLE queue = CreateAndOpen("MQ$FULL");
    int accepted = 0;
    STATUS status = NOERROR;
    while (status == NOERROR && accepted < 5000)
        if ((status = Put(queue, "m" + std::to_string(accepted))) == NOERROR) ++accepted;
    EXPECT_EQ(ERR_MQ_EXCEEDED_QUOTA, status);
    ASSERT_GT(accepted, 0);
    // A reader that takes messages makes room for a waiting put.
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::string text;
        Get(queue, &text);
    });
    EXPECT_EQ(NOERROR, Put(queue, "after room"));
    reader.join();
    std::string text;
    for (int i = 1; i < accepted; ++i) {
        ASSERT_EQ(NOERROR, Get(queue, &text));
        EXPECT_EQ("m" + std::to_string(i), text);
    }
    EXPECT_EQ(NOERROR, Get(queue, &text));
    EXPECT_EQ("after room", text);
}

TEST_F(MQTest, QuitMakesEveryReadAndPutAnswerQuitting) {
    MQHANDLE queue = CreateAndOpen("MQ$QUIT");
    ASSERT_EQ(NOERROR, Put(queue, "pending"));
    EXPECT_FALSE(MQIsQuitPending(queue));
    MQPutQuitMsg(queue);
    EXPECT_TRUE(MQIsQuitPending(queue));
    std::string text;
    EXPECT_EQ(ERR_MQ_QUITTING, Get(queue, &text));
    EXPECT_EQ(ERR_MQ_QUITTING, Get(queue, &text, 256, 100));
    EXPECT_EQ(ERR_MQ_QUITTING, Put(queue, "more"));
}

TEST_F(MQTest, QuitThroughAnyHandleOfTheOwnerIsImmediate) {
    MQHANDLE queue = CreateAndOpen("MQ$QUIT2");
    MQHANDLE other = Open("MQ$QUIT2");
    ASSERT_EQ(NOERROR, Put(other, "before"));
    MQPutQuitMsg(other);  // same process: the queue quits at once
    std::string text;
    EXPECT_EQ(ERR_MQ_QUITTING, Get(queue, &text));
}

TEST_F(MQTest, LastCloseFreesTheName) {
    MQHANDLE first = CreateAndOpen("MQ$FREE");
    MQHANDLE second = Open("MQ$FREE");
    open_.clear();
    EXPECT_EQ(NOERROR, MQClose(first, 0));
    EXPECT_EQ(ERR_DUPLICATE_MQ, MQCreate("MQ$FREE", 0, 0));
    EXPECT_EQ(NOERROR, MQClose(second, 0));
    EXPECT_EQ(NOERROR, MQCreate("MQ$FREE", 0, 0));
    EXPECT_NE(NOERROR, MQClose(second, 0));
}

TEST_F(MQTest, HandlesRefuseWrongUse) {
    char buffer[8];
    WORD length = 0;
    EXPECT_EQ(ERR_INVALID_HANDLE, MQGet(12345, buffer, sizeof(buffer), 0, 0, &length));
    EXPECT_EQ(ERR_INVALID_HANDLE, MQPut(12345, 0, "x", 1, 0));
    EXPECT_EQ(ERR_BAD_PARAM, MQOpen("MQ$X", 0, nullptr));
}

TEST_F(MQTest, QueuesBelongToTheirDataDirectory) {
    CreateAndOpen("MQ$SCOPED");
    std::string other = testenv::MakeTempDir("mq-other");
    ASSERT_EQ(NOERROR, NRTSetDataDirectory(other.c_str()));
    MQHANDLE handle = 0;
    EXPECT_EQ(ERR_NO_SUCH_MQ, MQOpen("MQ$SCOPED", 0, &handle));
    EXPECT_EQ(NOERROR, MQCreate("MQ$SCOPED", 0, 0));
    ASSERT_EQ(NOERROR, NRTSetDataDirectory(dataDir_.c_str()));
    std::filesystem::remove_all(other);
}

}  // namespace
