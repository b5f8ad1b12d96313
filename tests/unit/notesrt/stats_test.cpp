// stats_test.cpp - server statistics: value types, replacing, adding and
// deleting, refused arguments, the StatQuery text, traversal, patterns,
// and statistics of other processes (instances, a child killed with
// SIGKILL, readers during updates, clean termination).
#include <gtest/gtest.h>

#include <sys/stat.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "addin.h"
#include "misc.h"
#include "notesinit.h"
#include "nrt_fault.h"
#include "nrt_server.h"
#include "osmem.h"
#include "ostime.h"
#include "stats.h"
#include "testenv.h"

namespace {

struct Listed {
    std::string name;
    std::string type;
    std::string text;
    DWORD pid;
};

std::vector<Listed> List(const char* pattern = nullptr) {
    std::vector<Listed> listed;
    NRTEnumStatistics(
        pattern,
        [](void* context, const NRTSTATINFO* stat) -> STATUS {
            static_cast<std::vector<Listed>*>(context)->push_back(
                {stat->FullName, stat->TypeName, stat->ValueText, stat->Pid});
            return NOERROR;
        },
        &listed);
    return listed;
}

// "Name = value" of each listed statistic.
std::vector<std::string> Lines(const char* pattern = nullptr) {
    std::vector<std::string> lines;
    for (const Listed& stat : List(pattern)) lines.push_back(stat.name + " = " + stat.text);
    return lines;
}

STATUS SetLong(const char* name, LONG value, WORD flags = ST_UNIQUE) {
    return StatUpdate("ZELREP", name, flags, VT_LONG, &value);
}

STATUS SetText(const char* name, const char* text, WORD flags = ST_UNIQUE) {
    return StatUpdate("ZELREP", name, flags, VT_TEXT, text);
}

TIMEDATE TimeOf(const char* text) {
    TIMEDATE time;
    char* cursor = const_cast<char*>(text);
    EXPECT_EQ(NOERROR,
              ConvertTextToTIMEDATE(nullptr, nullptr, &cursor, WORD(std::strlen(text)), &time));
    return time;
}

std::string TimeText(const TIMEDATE& time) {
    char buffer[MAXALPHATIMEDATE + 1];
    WORD length = 0;
    EXPECT_EQ(NOERROR,
              ConvertTIMEDATEToText(nullptr, nullptr, &time, buffer, MAXALPHATIMEDATE, &length));
    return std::string(buffer, length);
}

class StatsTest : public DataDirTest {
protected:
    // Ending the add-in services removes this process's statistics.
    void TearDown() override {
        AddInSDKTerm(NOERROR);
        DataDirTest::TearDown();
    }
};

TEST_F(StatsTest, ValuesOfEveryTypeAreListedWithTheirTypeAndText) {
    LONG passes = 42;
    NUMBER ratio = 0.125;
    TIMEDATE when = TimeOf("2026/12/08 03:59:46 PM");
    ASSERT_EQ(NOERROR, StatUpdate("ZELREP", "SYNC1.Passes", ST_UNIQUE, VT_LONG, &passes));
    ASSERT_EQ(NOERROR, StatUpdate("ZELREP", "SYNC1.Ratio", ST_UNIQUE, VT_NUMBER, &ratio));
    ASSERT_EQ(NOERROR, StatUpdate("ZELREP", "SYNC1.LastPass", ST_UNIQUE, VT_TIMEDATE, &when));
    ASSERT_EQ(NOERROR, StatUpdate("ZELREP", "SYNC1.State", ST_UNIQUE, VT_TEXT, "Idle"));
    std::vector<std::string> listed;
    for (const Listed& stat : List()) {
        listed.push_back(stat.name + "|" + stat.type + "|" + stat.text);
        EXPECT_EQ(DWORD(getpid()), stat.pid);
    }
    EXPECT_EQ(
        (std::vector<std::string>{"ZELREP.SYNC1.LastPass|TIMEDATE|2026/12/08 03:59:46 PM",
                                  "ZELREP.SYNC1.Passes|LONG|42", "ZELREP.SYNC1.Ratio|NUMBER|0.125",
                                  "ZELREP.SYNC1.State|TEXT|Idle"}),
        listed);

    // The traversal hands over the typed values themselves.
    struct Seen {
        LONG passes = 0;
        NUMBER ratio = 0;
        TIMEDATE when = {{0, 0}};
        std::string state;
    } seen;
    StatTraverse(
        "ZELREP", nullptr,
        [](void* context, char*, char* name, WORD type, void* value) -> STATUS {
            Seen* seen = static_cast<Seen*>(context);
            std::string stat = name;
            if (stat == "SYNC1.Passes" && type == VT_LONG)
                seen->passes = *static_cast<LONG*>(value);
            if (stat == "SYNC1.Ratio" && type == VT_NUMBER)
                seen->ratio = *static_cast<NUMBER*>(value);
            if (stat == "SYNC1.LastPass" && type == VT_TIMEDATE)
                seen->when = *static_cast<TIMEDATE*>(value);
            if (stat == "SYNC1.State" && type == VT_TEXT) seen->state = static_cast<char*>(value);
            return NOERROR;
        },
        &seen);
    EXPECT_EQ(42, seen.passes);
    EXPECT_EQ(0.125, seen.ratio);
    EXPECT_EQ(0, TimeDateCompare(&when, &seen.when));
    EXPECT_EQ("Idle", seen.state);
}

TEST_F(StatsTest, UpdatesReplaceOrAddAndDeleteRemoves) {
    ASSERT_EQ(NOERROR, SetLong("SYNC1.Passes", 1));
    ASSERT_EQ(NOERROR, SetLong("SYNC1.Passes", 2));
    ASSERT_EQ(NOERROR, SetLong("SYNC1.Passes", 5, ST_UNIQUE | ST_ADDITIVE));
    LONG minusOne = -1;
    ASSERT_EQ(NOERROR, StatUpdate("ZELREP", "SYNC1.Passes", ST_ADDITIVE, VT_LONG, &minusOne));
    NUMBER half = 0.5;
    ASSERT_EQ(NOERROR, StatUpdate("ZELREP", "SYNC1.Ratio", ST_ADDITIVE, VT_NUMBER, &half));
    ASSERT_EQ(NOERROR, StatUpdate("ZELREP", "SYNC1.Ratio", ST_ADDITIVE, VT_NUMBER, &half));
    EXPECT_EQ((std::vector<std::string>{"ZELREP.SYNC1.Passes = 6", "ZELREP.SYNC1.Ratio = 1"}),
              Lines());

    // A counter wraps around instead of overflowing.
    ASSERT_EQ(NOERROR, SetLong("SYNC1.Wrap", 0x7FFFFFFF));
    ASSERT_EQ(NOERROR, SetLong("SYNC1.Wrap", 1, ST_ADDITIVE));
    EXPECT_EQ(std::vector<std::string>{"ZELREP.SYNC1.Wrap = -2147483648"},
              Lines("ZELREP.SYNC1.Wrap"));

    // Adding to a text, a time, or a value of another type is refused and
    // leaves the value; a plain update may change the type.
    ASSERT_EQ(NOERROR, SetText("SYNC1.State", "Idle"));
    EXPECT_EQ(ERR_BAD_PARAM, SetText("SYNC1.State", "more", ST_ADDITIVE));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", "SYNC1.Passes", ST_ADDITIVE, VT_NUMBER, &half));
    TIMEDATE now;
    OSCurrentTIMEDATE(&now);
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", "SYNC1.Time", ST_ADDITIVE, VT_TIMEDATE, &now));
    EXPECT_EQ((std::vector<std::string>{"ZELREP.SYNC1.Passes = 6", "ZELREP.SYNC1.Ratio = 1",
                                        "ZELREP.SYNC1.State = Idle",
                                        "ZELREP.SYNC1.Wrap = -2147483648"}),
              Lines());
    ASSERT_EQ(NOERROR, SetText("SYNC1.Passes", "none"));
    // Names are compared without regard to case; the last spelling stays.
    ASSERT_EQ(NOERROR, SetLong("sync1.ratio", 3));
    ASSERT_EQ(NOERROR, StatUpdate("zelrep", "SYNC1.WRAP", ST_UNIQUE, VT_LONG, &minusOne));
    EXPECT_EQ((std::vector<std::string>{"ZELREP.SYNC1.Passes = none", "ZELREP.sync1.ratio = 3",
                                        "ZELREP.SYNC1.State = Idle", "zelrep.SYNC1.WRAP = -1"}),
              Lines());

    StatDelete("ZELREP", "SYNC1.RATIO");
    StatDelete("ZELREP", "SYNC1.Unknown");  // harmless
    StatDelete(nullptr, nullptr);
    EXPECT_EQ((std::vector<std::string>{"ZELREP.SYNC1.Passes = none", "ZELREP.SYNC1.State = Idle",
                                        "zelrep.SYNC1.WRAP = -1"}),
              Lines());
    StatDelete("ZELREP", "SYNC1.Passes");
    StatDelete("ZELREP", "SYNC1.State");
    StatDelete("ZELREP", "SYNC1.Wrap");
    EXPECT_TRUE(List().empty());
    // A process without statistics leaves no file behind.
    EXPECT_TRUE(std::filesystem::is_empty(DataPath(".notesrt/stats")));
}

TEST_F(StatsTest, RefusedArgumentsChangeNothing) {
    LONG one = 1;
    NUMBER notANumber = std::nan("");
    NUMBER infinite = HUGE_VAL;
    std::string longName(128, 'N');
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate(nullptr, "Name", ST_UNIQUE, VT_LONG, &one));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", nullptr, ST_UNIQUE, VT_LONG, &one));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("", "Name", ST_UNIQUE, VT_LONG, &one));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", "", ST_UNIQUE, VT_LONG, &one));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", "Two\nLines", ST_UNIQUE, VT_LONG, &one));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZEL\tREP", "Name", ST_UNIQUE, VT_LONG, &one));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", longName.c_str(), ST_UNIQUE, VT_LONG, &one));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", "Name", ST_UNIQUE, 4, &one));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", "Name", 0x0100, VT_LONG, &one));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", "Name", ST_UNIQUE, VT_LONG, nullptr));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", "Name", ST_UNIQUE, VT_NUMBER, &notANumber));
    EXPECT_EQ(ERR_BAD_PARAM, StatUpdate("ZELREP", "Name", ST_UNIQUE, VT_NUMBER, &infinite));
    EXPECT_TRUE(List().empty());

    // The longest name, and the documented ~ST_UNIQUE, are accepted; the
    // latter is a plain instance, not every other flag.
    longName.pop_back();
    EXPECT_EQ(NOERROR, StatUpdate("ZELREP", longName.c_str(), ST_UNIQUE, VT_LONG, &one));
    EXPECT_EQ(NOERROR, StatUpdate("ZELREP", "Name", (WORD)~ST_UNIQUE, VT_LONG, &one));
    EXPECT_EQ(NOERROR, StatUpdate("ZELREP", "Name", (WORD)~ST_UNIQUE, VT_LONG, &one));
    EXPECT_EQ(std::vector<std::string>{"ZELREP.Name = 1"}, Lines("ZELREP.Name"));
}

TEST_F(StatsTest, TextsAreOneLineAndCut) {
    ASSERT_EQ(NOERROR, SetText("Error", "first\nsecond\tthird\r"));
    std::string longText(600, 'x');
    ASSERT_EQ(NOERROR, SetText("Long", longText.c_str()));
    std::vector<Listed> listed = List();
    ASSERT_EQ(2u, listed.size());
    EXPECT_EQ("first second third ", listed[0].text);
    EXPECT_EQ(std::string(511, 'x'), listed[1].text);
}

TEST_F(StatsTest, QueryWritesHeaderThenEachStatisticInNameOrder) {
    ASSERT_EQ(NOERROR, SetLong("SYNC1.Passes", 7));
    ASSERT_EQ(NOERROR, SetText("SYNC1.State", "Idle on names.nsf"));
    ASSERT_EQ(NOERROR, StatUpdate("Database", "Opened", ST_UNIQUE, VT_TEXT, "3"));
    DHANDLE handle = NULLHANDLE;
    DWORD length = 0;
    ASSERT_EQ(NOERROR, StatQuery("Statistics:\n", "  ", " = ", "\n", &handle, &length));
    ASSERT_NE(NULLHANDLE, handle);
    const std::string expected =
        "Statistics:\n"
        "  Database.Opened = 3\n"
        "  ZELREP.SYNC1.Passes = 7\n"
        "  ZELREP.SYNC1.State = Idle on names.nsf\n";
    char* text = OSLock(char, handle);
    EXPECT_EQ(expected, std::string(text));
    EXPECT_EQ(expected.size(), length);
    OSUnlock(handle);
    EXPECT_EQ(NOERROR, OSMemFree(handle));

    // Null texts count as empty.
    ASSERT_EQ(NOERROR, StatQuery(nullptr, nullptr, "=", nullptr, &handle, &length));
    text = OSLock(char, handle);
    EXPECT_EQ("Database.Opened=3ZELREP.SYNC1.Passes=7ZELREP.SYNC1.State=Idle on names.nsf",
              std::string(text));
    OSUnlock(handle);
    OSMemFree(handle);

    EXPECT_EQ(ERR_BAD_PARAM, StatQuery(nullptr, "", "", "", nullptr, &length));
    NRTFaultFailNth(NRT_FAULT_ALLOC, 1, ERR_MEMORY);
    EXPECT_EQ(ERR_MEMORY, StatQuery(nullptr, "", "", "", &handle, &length));
    EXPECT_EQ(NULLHANDLE, handle);
    EXPECT_EQ(0u, length);
    NRTFaultReset();
}

TEST_F(StatsTest, TraverseSelectsFacilityAndNameAndStopsWhenTold) {
    ASSERT_EQ(NOERROR, SetLong("SYNC1.Passes", 1));
    ASSERT_EQ(NOERROR, SetLong("SYNC2.Passes", 2));
    ASSERT_EQ(NOERROR, StatUpdate("Server", "Users", ST_UNIQUE, VT_TEXT, "none"));
    auto traverse = [](const char* facility, const char* name, STATUS stopWith = NOERROR) {
        struct Walk {
            std::vector<std::string> seen;
            STATUS stopWith;
        } walk{{}, stopWith};
        StatTraverse(
            facility, name,
            [](void* context, char* facility, char* name, WORD, void*) -> STATUS {
                Walk* walk = static_cast<Walk*>(context);
                walk->seen.push_back(std::string(facility) + "." + name);
                return walk->stopWith;
            },
            &walk);
        return walk.seen;
    };
    EXPECT_EQ(
        (std::vector<std::string>{"Server.Users", "ZELREP.SYNC1.Passes", "ZELREP.SYNC2.Passes"}),
        traverse(nullptr, nullptr));
    EXPECT_EQ((std::vector<std::string>{"ZELREP.SYNC1.Passes", "ZELREP.SYNC2.Passes"}),
              traverse("zelrep", nullptr));
    EXPECT_EQ(std::vector<std::string>{"ZELREP.SYNC2.Passes"}, traverse("ZELREP", "sync2.passes"));
    EXPECT_EQ(std::vector<std::string>{"Server.Users"}, traverse(nullptr, "Users"));
    EXPECT_TRUE(traverse("ZELREP", "Users").empty());
    EXPECT_EQ(std::vector<std::string>{"Server.Users"}, traverse(nullptr, nullptr, ERR_BAD_PARAM));
    StatTraverse(nullptr, nullptr, nullptr, nullptr);  // no routine: nothing to call
}

TEST_F(StatsTest, PatternsSelectByFullName) {
    ASSERT_EQ(NOERROR, SetLong("SYNC1.Passes", 1));
    ASSERT_EQ(NOERROR, SetLong("SYNC1.Failed", 0));
    ASSERT_EQ(NOERROR, SetLong("SYNC10.Passes", 3));
    ASSERT_EQ(NOERROR, StatUpdate("ZELREPX", "Other", ST_UNIQUE, VT_TEXT, "x"));
    auto names = [](const char* pattern) {
        std::vector<std::string> names;
        for (const Listed& stat : List(pattern)) names.push_back(stat.name);
        return names;
    };
    const std::vector<std::string> zelrep = {"ZELREP.SYNC1.Failed", "ZELREP.SYNC1.Passes",
                                             "ZELREP.SYNC10.Passes"};
    EXPECT_EQ(zelrep, names("ZELREP.*"));
    EXPECT_EQ(zelrep, names("zelrep"));
    const std::vector<std::string> sync1 = {"ZELREP.SYNC1.Failed", "ZELREP.SYNC1.Passes"};
    EXPECT_EQ(sync1, names("ZELREP.SYNC1.*"));
    EXPECT_EQ(sync1, names("zelrep.sync1"));
    EXPECT_EQ((std::vector<std::string>{"ZELREP.SYNC1.Passes", "ZELREP.SYNC10.Passes"}),
              names("*.passes"));
    EXPECT_EQ(std::vector<std::string>{"ZELREP.SYNC1.Failed"}, names("Z*1*d"));
    EXPECT_TRUE(names("ZELREP.SYNC").empty());
    EXPECT_TRUE(names("SYNC1").empty());
    EXPECT_EQ(4u, names("").size());
    EXPECT_EQ(4u, names(nullptr).size());
    EXPECT_EQ(4u, names("*").size());

    // A nonzero answer of the callback ends the walk and is returned.
    int calls = 0;
    EXPECT_EQ(ERR_NOT_FOUND, NRTEnumStatistics(
                                 "ZELREP",
                                 [](void* context, const NRTSTATINFO*) -> STATUS {
                                     ++*static_cast<int*>(context);
                                     return ERR_NOT_FOUND;
                                 },
                                 &calls));
    EXPECT_EQ(1, calls);
    EXPECT_EQ(ERR_BAD_PARAM, NRTEnumStatistics(nullptr, nullptr, nullptr));
}

TEST_F(StatsTest, StatToTextCutsToTheBuffers) {
    LONG value = -1234567;
    char name[12];
    char text[5];
    StatToText("ZELREP", "SYNC1.Passes", VT_LONG, &value, name, sizeof(name), text, sizeof(text));
    EXPECT_STREQ("ZELREP.SYNC", name);
    EXPECT_STREQ("-123", text);
    NUMBER third = 1.0 / 3;
    char full[64];
    StatToText("F", "N", VT_NUMBER, &third, full, sizeof(full), full, sizeof(full));
    EXPECT_STREQ("0.333333333333333", full);
    TIMEDATE when = TimeOf("2026/01/05 08:00:00 AM");
    StatToText("F", "N", VT_TIMEDATE, &when, name, 0, full, sizeof(full));
    EXPECT_EQ(TimeText(when), full);
    StatToText("F", "N", VT_TEXT, "text", nullptr, 10, full, 1);
    EXPECT_STREQ("", full);
}

TEST_F(StatsTest, AFailedPublicationKeepsWhatOthersSee) {
#ifdef _WIN32
    GTEST_SKIP() << "moves the directory of statistics back while this process holds its file there, which Windows refuses";
#else
    ASSERT_EQ(NOERROR, SetLong("Kept", 1));
    // A directory where this process's file of statistics should be.
    std::filesystem::rename(DataPath(".notesrt/stats"), DataPath("stats.saved"));
    std::filesystem::create_directory(DataPath(".notesrt/stats"));
    std::filesystem::permissions(DataPath(".notesrt/stats"), std::filesystem::perms::owner_all);
    std::filesystem::directory_iterator own(DataPath("stats.saved"));
    ASSERT_NE(std::filesystem::directory_iterator(), own);
    std::filesystem::create_directory(DataPath(".notesrt/stats/" + own->path().filename().string()));
    EXPECT_NE(NOERROR, SetLong("Lost", 2));
    EXPECT_NE(NOERROR, SetLong("Kept", 3));
    std::filesystem::remove_all(DataPath(".notesrt/stats"));
    std::filesystem::rename(DataPath("stats.saved"), DataPath(".notesrt/stats"));
    EXPECT_EQ(std::vector<std::string>{"ZELREP.Kept = 1"}, Lines());
    ASSERT_EQ(NOERROR, SetLong("Other", 4));
    EXPECT_EQ((std::vector<std::string>{"ZELREP.Kept = 1", "ZELREP.Other = 4"}), Lines());
#endif
}

TEST_F(StatsTest, FilesAreTheOwnersOnlyAndGoWithTheTask) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files have no owner-only mode bits to check";
#endif
    char* argv[] = {const_cast<char*>("zelrep"), nullptr};
    ASSERT_EQ(NOERROR, AddInSDKInit(1, argv));
    ASSERT_EQ(NOERROR, SetLong("Passes", 1));
    struct stat info;
    ASSERT_EQ(0, stat(DataPath(".notesrt/stats").c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 0777);
    std::filesystem::directory_iterator files(DataPath(".notesrt/stats"));
    ASSERT_NE(std::filesystem::directory_iterator(), files);
    ASSERT_EQ(0, stat(files->path().string().c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777);
    AddInSDKTerm(NOERROR);
    EXPECT_TRUE(List().empty());
    EXPECT_TRUE(std::filesystem::is_empty(DataPath(".notesrt/stats")));
}

// Statistics of other processes: a forked child sets what it is given,
// reports through a pipe and waits to be killed. Windows has no fork.
class StatsProcessTest : public StatsTest {
protected:
#ifdef _WIN32
    void SetUp() override { GTEST_SKIP() << "the other processes are forked children"; }
    pid_t StartChild(const std::function<void()>&, const std::function<void()>& = {}) { return 0; }
    void Kill(pid_t) {}
#else
    void TearDown() override {
        for (pid_t child : children_) Kill(child);
        StatsTest::TearDown();
    }
    // The child runs set, reports, then runs afterwards (by default it
    // waits) until it is killed.
    pid_t StartChild(
        const std::function<void()>& set,
        const std::function<void()>& afterwards = [] { pause(); }) {
        int ready[2];
        EXPECT_EQ(0, pipe(ready));
        pid_t child = fork();
        if (child == 0) {
            close(ready[0]);
            set();
            char done = 'r';
            if (write(ready[1], &done, 1) != 1) _exit(1);
            for (;;) afterwards();
        }
        close(ready[1]);
        char done = 0;
        EXPECT_EQ(1, read(ready[0], &done, 1));
        close(ready[0]);
        children_.push_back(child);
        return child;
    }
    void Kill(pid_t child) {
        if (kill(child, SIGKILL) != 0) return;
        int status = 0;
        waitpid(child, &status, 0);
    }

    std::vector<pid_t> children_;
#endif
};

TEST_F(StatsProcessTest, StatisticsOfAChildVanishWhenItIsKilled) {
    pid_t child = StartChild([] {
        SetText("CHILD.State", "Replicating");
        SetLong("CHILD.Done", 500);
    });
    std::vector<Listed> listed = List();
    ASSERT_EQ(2u, listed.size());
    EXPECT_EQ("ZELREP.CHILD.Done = 500", listed[0].name + " = " + listed[0].text);
    EXPECT_EQ("ZELREP.CHILD.State = Replicating", listed[1].name + " = " + listed[1].text);
    EXPECT_EQ(DWORD(child), listed[0].pid);
    Kill(child);
    EXPECT_TRUE(List().empty());
    EXPECT_TRUE(std::filesystem::is_empty(DataPath(".notesrt/stats")));
}

TEST_F(StatsProcessTest, EachProcessHasAnInstanceUnlessTheStatisticIsUnique) {
    ASSERT_EQ(NOERROR, SetLong("Shared", 1, 0));
    ASSERT_EQ(NOERROR, SetText("Unique", "parent"));
    // Update times are kept in hundredths of a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pid_t child = StartChild([] {
        SetLong("Shared", 2, 0);
        SetText("Unique", "child");
    });
    std::vector<Listed> listed = List();
    ASSERT_EQ(3u, listed.size());
    std::vector<std::string> byProcess;
    for (const Listed& stat : listed)
        byProcess.push_back(stat.name + "|" + stat.text + "|" +
                            (stat.pid == DWORD(child) ? "child" : "parent"));
    std::sort(byProcess.begin(), byProcess.end());
    EXPECT_EQ((std::vector<std::string>{"ZELREP.Shared|1|parent", "ZELREP.Shared|2|child",
                                        "ZELREP.Unique|child|child"}),
              byProcess);

    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // The parent sets its old value again: that is now the latest.
    ASSERT_EQ(NOERROR, SetText("Unique", "parent"));
    EXPECT_EQ(std::vector<std::string>{"ZELREP.Unique = parent"}, Lines("ZELREP.Unique"));
}

TEST_F(StatsProcessTest, ReadersNeverSeeAPartOfASet) {
    const int kCount = 50;
    const std::string text(500, 'v');
    // The child sets its statistics, then makes the first one shorter and
    // longer again without end, which moves every line after it.
    StartChild(
        [&] {
            for (int i = 0; i < kCount; ++i)
                SetText(("S" + std::to_string(100 + i)).c_str(), text.c_str());
        },
        [&] {
            static bool shorter = false;
            shorter = !shorter;
            SetText("S100", text.substr(0, shorter ? 100 : 500).c_str());
        });
    for (int pass = 0; pass < 300; ++pass) {
        std::vector<Listed> listed = List();
        ASSERT_EQ(size_t(kCount), listed.size()) << "read " << pass;
        for (int i = 0; i < kCount; ++i) {
            ASSERT_EQ("ZELREP.S" + std::to_string(100 + i), listed[i].name) << "read " << pass;
            std::string value = listed[i].text;
            if (i == 0 && value.size() == 100) value += text.substr(100);
            ASSERT_EQ(text, value) << listed[i].name << " in read " << pass;
        }
    }
}

}  // namespace
