// mq_test.cpp - message queues inside one process: names, sizes, waits,
// the quit state, the scope of a data directory, and who may use a queue
// (a second local user, as forked children of a test run as root; POSIX
// only). Queues between processes are tried in
// tests/integration/mq_process_test.cpp.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#endif

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "mq.h"
#include "nrt_env.h"
#include "osmisc.h"
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

#ifndef _WIN32
    // The socket files of the data directory's queues.
    std::vector<std::string> SocketFiles() const {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(DataPath(".notesrt/queues")))
            files.push_back(entry.path().string());
        return files;
    }
    // Sends text to the socket file without the runtime (as a careless or
    // hostile program would); 0 or the errno value.
    static int SendRaw(const std::string& path, const std::string& text) {
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        std::string datagram = "M" + text;
        int result = sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
                            sizeof(address)) < 0 ? errno : 0;
        close(fd);
        return result;
    }
    // Lets every user into the data directory, as a careless administrator would.
    void OpenDataDirectoryToEveryone() {
        std::filesystem::permissions(dataDir_, std::filesystem::perms::all);
    }
#endif

    std::vector<MQHANDLE> open_;
};

namespace fs = std::filesystem;

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

#ifndef _WIN32
using testenv::AsOtherUser;

TEST_F(MQTest, QueueSocketsAreTheServerUsersOnly) {
    CreateAndOpen("MQ$MODES");
    ASSERT_EQ(1u, SocketFiles().size());
    EXPECT_EQ(fs::file_type::socket, fs::status(SocketFiles()[0]).type());
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, fs::status(SocketFiles()[0]).permissions());
    EXPECT_EQ(fs::perms::owner_all, fs::status(DataPath(".notesrt/queues")).permissions());
}

// Another user may neither send to the task's queue, nor hold its name,
// nor any other name of the server: each answers ERR_MQ_OTHER_USER.
TEST_F(MQTest, AnotherUserCanNeitherSendNorHoldAName) {
    SKIP_UNLESS_ROOT();
    MQHANDLE queue = CreateAndOpen("MQ$SEC");
    OpenDataDirectoryToEveryone();
    auto tryAll = [] {
        MQHANDLE handle = 0;
        if (MQOpen("MQ$SEC", 0, &handle) != ERR_MQ_OTHER_USER || handle != 0) return 1;
        if (MQOpen("MQ$SEC", MQ_OPEN_CREATE, &handle) != ERR_MQ_OTHER_USER) return 2;
        if (MQCreate("MQ$SEC", 0, 0) != ERR_MQ_OTHER_USER) return 3;
        if (MQCreate("MQ$OTHER", 0, 0) != ERR_MQ_OTHER_USER) return 4;
        return 0;
    };
    EXPECT_EQ(0, AsOtherUser(tryAll));
    MQClose(queue, 0);
    open_.clear();
    EXPECT_EQ(0, AsOtherUser(tryAll));  // also while the task is stopped
    EXPECT_EQ(NOERROR, MQCreate("MQ$SEC", 0, 0));
    char text[256];
    OSLoadString(NULLHANDLE, ERR_MQ_OTHER_USER, text, sizeof(text) - 1);
    EXPECT_STREQ("Message queue belongs to another user", text);
}

// A careless administrator opened the queue to everyone: the reader still
// takes only the server's user's messages.
TEST_F(MQTest, ReaderDropsMessagesOfAnotherUserThatReachIt) {
    SKIP_UNLESS_ROOT();
    MQHANDLE queue = CreateAndOpen("MQ$OPEN");
    OpenDataDirectoryToEveryone();
    for (const char* path : {".notesrt", ".notesrt/queues"}) fs::permissions(DataPath(path), fs::perms::all);
    std::string socketFile = SocketFiles()[0];
    fs::permissions(socketFile, fs::perms::all);
    EXPECT_EQ(0, AsOtherUser([&] { return SendRaw(socketFile, "intruder"); }));
    ASSERT_EQ(0, SendRaw(socketFile, "friend"));
    std::string text;
    EXPECT_EQ(NOERROR, Get(queue, &text));
    EXPECT_EQ("friend", text);
    EXPECT_EQ(ERR_MQ_EMPTY, Get(queue, &text));
}

// Another user made the private directory before the server's user did
// (possible where others may write the data directory) and waits there
// with a socket of the queue's name: the task's queue is made all the same,
// and no message goes to the other user's socket.
TEST_F(MQTest, PrivateDirectoryMadeByAnotherUserIsMovedAside) {
    SKIP_UNLESS_ROOT();
    OpenDataDirectoryToEveryone();
    MQHANDLE probe = CreateAndOpen("MQ$SQUAT");  // learns the socket's file name
    std::string name = fs::path(SocketFiles()[0]).filename().string();
    MQClose(probe, 0);
    open_.clear();
    fs::remove_all(DataPath(".notesrt"));
    ASSERT_EQ(0, AsOtherUser([&] {
        if (mkdir(DataPath(".notesrt").c_str(), 0777) != 0 || mkdir(DataPath(".notesrt/queues").c_str(), 0777) != 0)
            return 1;
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, DataPath(".notesrt/queues/" + name).c_str(), sizeof(address.sun_path) - 1);
        return bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 ? 0 : 2;
    }));
    MQHANDLE queue = CreateAndOpen("MQ$SQUAT");
    EXPECT_EQ(fs::perms::owner_all, fs::status(DataPath(".notesrt")).permissions());
    MQHANDLE sender = Open("MQ$SQUAT");
    ASSERT_EQ(NOERROR, Put(sender, "to the task"));
    std::string text;
    EXPECT_EQ(NOERROR, Get(queue, &text));
    EXPECT_EQ("to the task", text);
    size_t aside = 0;
    for (const auto& entry : fs::directory_iterator(dataDir_))
        aside += entry.path().filename().string().rfind(".notesrt.foreign-", 0) == 0;
    EXPECT_EQ(1u, aside);
}

// A live socket of another user where a queue's socket belongs (put there
// past a careless administrator) is never sent to, and the task takes its
// name back.
TEST_F(MQTest, SocketOfAnotherUserIsNeitherSentToNorKept) {
    SKIP_UNLESS_ROOT();
    MQHANDLE probe = CreateAndOpen("MQ$TAKEN");  // learns the socket's file name
    std::string socketFile = SocketFiles()[0];
    MQClose(probe, 0);
    open_.clear();
    int foreign = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketFile.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(0, bind(foreign, reinterpret_cast<sockaddr*>(&address), sizeof(address)));
    ASSERT_EQ(0, chown(socketFile.c_str(), testenv::kOtherUser, testenv::kOtherGroup));

    MQHANDLE handle = 0;
    EXPECT_EQ(ERR_MQ_OTHER_USER, MQOpen("MQ$TAKEN", 0, &handle));
    MQHANDLE queue = CreateAndOpen("MQ$TAKEN");
    ASSERT_EQ(NOERROR, Put(Open("MQ$TAKEN"), "to the task"));
    std::string text;
    EXPECT_EQ(NOERROR, Get(queue, &text));
    EXPECT_EQ("to the task", text);
    char buffer[64];
    EXPECT_LT(recv(foreign, buffer, sizeof(buffer), MSG_DONTWAIT), 0);
    close(foreign);
}

// Root serving the data directory of another user: what it makes there is
// that user's, and that user's processes reach root's queue.
TEST_F(MQTest, RootServesTheDataDirectoryOfItsOwner) {
    SKIP_UNLESS_ROOT();
    ASSERT_EQ(0, chown(dataDir_.c_str(), testenv::kOtherUser, testenv::kOtherGroup));
    MQHANDLE queue = CreateAndOpen("MQ$SERVED");
    struct stat info;
    ASSERT_EQ(0, stat(DataPath(".notesrt/queues").c_str(), &info));
    EXPECT_EQ(testenv::kOtherUser, info.st_uid);
    EXPECT_EQ(0, AsOtherUser([] {
        MQHANDLE handle = 0;
        if (MQOpen("MQ$SERVED", 0, &handle) != NOERROR) return 1;
        return MQPut(handle, 0, "from the owner", 14, 0) == NOERROR ? 0 : 2;
    }));
    std::string text;
    EXPECT_EQ(NOERROR, Get(queue, &text, 256, 2000));
    EXPECT_EQ("from the owner", text);
}

#endif

}  // namespace
