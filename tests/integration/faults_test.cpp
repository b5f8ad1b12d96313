// faults_test.cpp - the task under faults: killed, its power cut or its
// disk full at a random moment of a pass (a migration too) and run again,
// stopped by the server or by "tell TEST quit" while a pass runs, and unable
// to save its documents while another process holds the output database
// locked. Every change must reach the output database at
// least once, and no output document may be damaged.
//
// CrashRestartTest kills the task ZELREP_CRASH_KILLS times (default 3), cuts
// the power ZELREP_CRASH_CUTS times (default 2) and fills the disk
// ZELREP_CRASH_DISKFULLS times (default 2), with ZELREP_CRASH_CHANGES changes
// (default 300) made before each round; bench/crashrestart.sh runs it with
// more of each and prints its tables.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <tuple>

#include "idtable.h"
#include "nrt_fault.h"
#include "ostime.h"
#include "taskfixture.h"

namespace {

using taskfixture::Literal;
using taskfixture::OutputDocument;
using taskfixture::Person;

int EnvNumber(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// One change made to the directory, as its document must show it.
struct Change {
    std::string unid;
    std::string event;    // "ADD", "MODIFY" or "DELETE"
    std::string comment;  // the "Comment" the document carries
};

// Tally of the changes against the output database.
struct Tally {
    int once = 0, twice = 0, lost = 0;  // twice: more than once
    int mostCopies = 0;
};

class FaultsTest : public taskfixture::TaskTest {
protected:
    // A change is published by a document of its event with its "Comment";
    // a modify also by an add with it, which a migration writes.
    static Tally Count(const std::vector<Change>& changes, const std::vector<OutputDocument>& docs) {
        std::map<std::tuple<std::string, std::string, std::string>, int> copies;
        for (const OutputDocument& doc : docs) copies[{doc.unid, doc.event, doc.comment}]++;
        Tally tally;
        for (size_t i = 0; i < changes.size(); ++i) {
            const Change& change = changes[i];
            int published = copies[{change.unid, change.event, change.comment}];
            if (change.event == "MODIFY") published += copies[{change.unid, "ADD", change.comment}];
            if (published == 0) ADD_FAILURE() << change.event << " of " << change.unid << " lost (change " << i << ")";
            (published == 0 ? tally.lost : published == 1 ? tally.once : tally.twice)++;
            tally.mostCopies = std::max(tally.mostCopies, published);
        }
        return tally;
    }
};

// The task meets a fault at a random moment of a pass over a large change
// set, then runs again; the changes of each round are made before it is
// loaded, each note touched once, so every change is a state that the
// output database must show. Three kinds of fault:
// - kill: the task is killed with SIGKILL and loaded again;
// - power cut: the console and the task are stopped at once and killed,
//   every write not yet synced is dropped (the test's own as well, made by
//   a concurrent writer during the pass), and they start again;
// - disk full: the task's writes find the disk full for a while (a run of
//   writes from a random one on), then there is space again.
class CrashRestartTest : public FaultsTest {
protected:
    // A line each processed note and each completed pass logs.
    const std::string kProgress = Literal(taskfixture::kNoteProcessed) + "|" + Literal(taskfixture::kPassDone);
    // A write of the pass that met the full disk: documents not saved, a
    // group that failed when the output database was closed, or the record
    // of a migration under way; each keeps the interval.
    const std::string kDiskFull = "TEST: .*: The disk is full";

    void SetUp() override {
        FaultsTest::SetUp();
        random_.seed((unsigned)EnvNumber("ZELREP_CRASH_SEED", 20261207));
        perRound_ = EnvNumber("ZELREP_CRASH_CHANGES", 300);
    }

    // The instance's stored last-replication time.
    TIMEDATE StoredTime() {
        TIMEDATE stored = {};
        DBHANDLE hDB = NULLHANDLE;
        NOTEHANDLE h = NULLHANDLE;
        OpenInstanceDocument(&hDB, &h);
        EXPECT_TRUE(NSFItemGetTime(h, "LastEventTimeStamp_TS", &stored));
        NSFNoteClose(h);
        NSFDbClose(hDB);
        return stored;
    }

    // The notes changed after the time (stubs with RRV_DELETED).
    std::vector<DWORD> ChangedSince(TIMEDATE since) {
        TIMEDATE until;
        DHANDLE table = NULLHANDLE;
        STATUS status = NSFDbGetModifiedNoteTable(hDirectory_, NOTE_CLASS_DOCUMENT, since, &until, &table);
        if (ERR(status) == ERR_NO_MODIFIED_NOTES) return {};
        EXPECT_EQ(NOERROR, status);
        std::vector<DWORD> ids;
        DWORD id = 0;
        for (BOOL first = TRUE; IDScan(table, first, &id); first = FALSE) ids.push_back(id);
        IDDestroyTable(table);
        return ids;
    }

    // The live notes that the next pass processes: changed after the
    // stored time.
    size_t PendingNotes() {
        size_t live = 0;
        for (DWORD id : ChangedSince(StoredTime())) live += (id & RRV_DELETED) == 0;
        return live;
    }

    // The base directory and the instance, set up after it.
    void SetUpDirectory(int rounds) {
        CreateDirectory();
        for (int i = 0; i < rounds * (perRound_ / 2 + 1); ++i)
            untouched_.push_back(AddPerson("Base " + std::to_string(i), "base"));
        CreateInstance();
        start_ = StoredTime();
    }

    // Adds, modifies and deletes one round's share of changes; a round that
    // runs a migration deletes nothing, since a migration publishes no
    // deletions, and one pending when it begins is never published.
    void MakeChanges(int round, bool migration = false) {
        int count = perRound_, modifies = count * 4 / 10, deletes = migration ? 0 : count / 10;
        for (int i = 0; i < count - modifies - deletes; ++i) {
            std::string comment = "add " + std::to_string(round) + "." + std::to_string(i);
            Person person = AddPerson("New " + std::to_string(round) + "." + std::to_string(i), comment);
            changes_.push_back({person.unid, "ADD", comment});
        }
        for (int i = 0; i < modifies + deletes; ++i) {
            Person person = untouched_.back();
            untouched_.pop_back();
            if (i < modifies) {
                std::string comment = "modify " + std::to_string(round) + "." + std::to_string(i);
                Update(person, {{"Comment", comment}});
                changes_.push_back({person.unid, "MODIFY", comment});
            } else {
                DeletePerson(person);
                changes_.push_back({person.unid, "DELETE", ""});
            }
        }
    }

    // Waits for a random moment of the pass that the task has begun: one in
    // eight up to three seconds after its start (start-up, listing,
    // sorting), the others at a note drawn among the pending ones.
    void WaitForRandomMoment(proctest::Console& console, size_t pending, size_t progressBefore) {
        if (random_() % 8 == 0 || pending == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(random_() % 3000));
            return;
        }
        size_t point = std::uniform_int_distribution<size_t>(1, pending)(random_);
        ASSERT_TRUE(console.WaitForCount(kProgress, progressBefore + point, 600000)) << ConsoleLog();
    }

    // Notes the round's pass had processed when the fault came, when it came
    // in the middle of the pass (the stored time had not moved).
    void CountMidPass(const TIMEDATE& storedBefore, size_t processed) {
        TIMEDATE storedAfter = StoredTime();
        if (TimeDateCompare(&storedBefore, &storedAfter) != 0) return;
        midPass_++;
        points_.insert(processed);
    }

    // Every note of the directory changed since the instance was set up, as
    // it is now, is in the output: a live one with its "Comment" in a change
    // document, a deleted one as an obituary. The number that are not.
    int LostInDirectory(const std::vector<OutputDocument>& docs) {
        std::set<std::tuple<std::string, std::string, std::string>> published;
        for (const OutputDocument& doc : docs) published.insert({doc.unid, doc.event, doc.comment});
        int lost = 0;
        for (DWORD id : ChangedSince(start_)) {
            ORIGINATORID oid;
            NSFDbGetNoteInfo(hDirectory_, id & ~(DWORD)RRV_DELETED, &oid, nullptr, nullptr);
            char unid[33];
            snprintf(unid, sizeof(unid), "%08X%08X%08X%08X", (unsigned)oid.File.Innards[1],
                     (unsigned)oid.File.Innards[0], (unsigned)oid.Note.Innards[1], (unsigned)oid.Note.Innards[0]);
            bool found;
            if (id & RRV_DELETED) {
                found = published.count({unid, "DELETE", ""}) > 0;
            } else {
                NOTEHANDLE h = NULLHANDLE;
                EXPECT_EQ(NOERROR, NSFNoteOpen(hDirectory_, id, 0, &h));
                std::string comment = taskfixture::ItemText(h, "Comment");
                NSFNoteClose(h);
                found = published.count({unid, "ADD", comment}) + published.count({unid, "MODIFY", comment}) > 0;
            }
            if (!found) ADD_FAILURE() << "the last change of " << unid << " was not published";
            lost += !found;
        }
        return lost;
    }

    // One last complete pass; then every change must be in the output, and
    // the table is printed.
    void FinishAndReport(const char* kind, int events) {
        proctest::Console& console = StartServer();
        size_t passesBefore = console.CountLines(Literal(taskfixture::kPassDone));
        Load(console);
        ASSERT_TRUE(console.WaitForCount(Literal(taskfixture::kPassDone), passesBefore + 1, 120000))
            << ConsoleLog();
        TellQuit(console);
        EXPECT_EQ(0, console.Quit());

        std::vector<OutputDocument> docs = ReadOutput();
        int damaged = Damaged(docs);
        Tally tally = Count(changes_, docs);
        int lost = tally.lost + LostInDirectory(docs);
        EXPECT_GT(midPass_, 0);
        printf("%s: %d events, %d in the middle of a pass at %zu different points (%zu to %zu notes "
               "processed); %zu documents, a change in at most %d of them\n"
               "| kind | events | changes | published once | more than once | lost | damaged |\n"
               "|---|---:|---:|---:|---:|---:|---:|\n"
               "| %s | %d | %zu | %d | %d | %d | %d |\n",
               kind, events, midPass_, points_.size(), points_.empty() ? 0 : *points_.begin(),
               points_.empty() ? 0 : *points_.rbegin(), docs.size(), tally.mostCopies, kind, events,
               changes_.size(), tally.once, tally.twice, lost, damaged);
    }

    // Stops the processes at once (as a power cut does), then kills them.
    static void CutProcesses(const std::vector<pid_t>& pids) {
        for (pid_t pid : pids) kill(pid, SIGSTOP);
        for (pid_t pid : pids) kill(pid, SIGKILL);
    }

    // Waits until a process that is not this one's child has gone with all
    // its threads. A killed process's first thread turns zombie while the
    // others are still ending, holding its files and their locks; a reboot
    // then would undo writes under a live reader of the shared memory.
    static void WaitGone(pid_t pid) {
        std::string dir = "/proc/" + std::to_string(pid);
        for (int i = 0; i < 500; ++i) {
            std::string stat = testenv::ReadFile(dir + "/stat");
            size_t close = stat.rfind(')');
            if (stat.empty()) return;
            if (close != std::string::npos && stat.compare(close + 2, 1, "Z") == 0 && ThreadsOf(dir) <= 1) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "process " << pid << " did not end";
    }

    static size_t ThreadsOf(const std::string& processDir) {
        std::error_code error;
        size_t threads = 0;
        for (std::filesystem::directory_iterator it(processDir + "/task", error), end; !error && it != end;
             it.increment(error))
            ++threads;
        return threads;
    }

    // A few of the first rounds run a migration, which publishes the whole
    // directory (and so grows the output by all of it).
    static bool IsMigrationRound(int round) { return round % 3 == 1 && round < 9; }

    // Runs the task until a pass has stored its time: before a round that
    // runs a migration (so that no deletion is pending when it begins), and
    // when a migration is still to finish (the fault came in one), so that
    // only a few rounds pay for a whole migration.
    void PublishPending() {
        proctest::Console& console = StartServer();
        Load(console);
        EXPECT_TRUE(console.WaitForLine("Orvane - TEST: names\\.nsf last modified time/date = ", 600000))
            << ConsoleLog();
        TellQuit(console);
        EXPECT_EQ(0, console.Quit());
    }

    // Flushes the test's own changes to disk.
    void SyncDirectory() {
        NSFDbClose(hDirectory_);
        ASSERT_EQ(NOERROR, NSFDbOpen("names.nsf", &hDirectory_));
    }

    std::mt19937 random_;
    int perRound_ = 300;
    std::vector<Person> untouched_;
    std::vector<Change> changes_;
    TIMEDATE start_ = {};
    int midPass_ = 0;
    std::set<size_t> points_;  // notes the pass had processed when the fault came
};

TEST_F(CrashRestartTest, EveryChangeIsPublishedAfterKillsInTheMiddleOfPasses) {
    const int kills = EnvNumber("ZELREP_CRASH_KILLS", 3);
    SetUpDirectory(kills);
    proctest::Console& console = StartServer();
    for (int round = 0; round < kills; ++round) {
        MakeChanges(round);
        size_t pending = PendingNotes();
        TIMEDATE storedBefore = StoredTime();
        size_t processedBefore = console.CountLines(Literal(taskfixture::kNoteProcessed));
        pid_t pid = Load(console);
        ASSERT_NE(0, pid);
        WaitForRandomMoment(console, pending, console.CountLines(kProgress));
        kill(pid, SIGKILL);
        ASSERT_TRUE(console.WaitForLine("Task zelrep \\(process " + std::to_string(pid) + "\\) ended by signal 9"))
            << ConsoleLog();
        CountMidPass(storedBefore, console.CountLines(Literal(taskfixture::kNoteProcessed)) - processedBefore);
    }
    EXPECT_EQ(0, console.Quit());
    FinishAndReport("kill", kills);
}

// The power goes at a random moment of a pass (a few of them migrations)
// while this process writes to the directory: whatever was not synced to
// disk is lost, in the directory too, and nothing that it still holds may
// be missing from the output once the task has run again.
TEST_F(CrashRestartTest, EveryChangeIsPublishedAfterPowerCutsInTheMiddleOfPasses) {
    const int cuts = EnvNumber("ZELREP_CRASH_CUTS", 2);
    SetUpDirectory(cuts);
    NRTFaultKeepUnsynced(TRUE);
    for (int round = 0; round < cuts; ++round) {
        // A cut at a note drawn among the pending ones almost always comes
        // before the pass ends, so the backlog would grow by a round's
        // changes each round; every tenth round starts from a finished pass.
        if (IsMigrationRound(round) || round % 10 == 9) PublishPending();
        MakeChanges(round, IsMigrationRound(round));
        SyncDirectory();
        size_t pending = PendingNotes();
        TIMEDATE storedBefore = StoredTime();
        proctest::Console& console = StartServer({}, {"NRT_FAULT=powercut:0"});
        pid_t pid = Load(console);
        ASSERT_NE(0, pid);
        if (IsMigrationRound(round)) console.Command("tell TEST MIGRATE ON");
        std::atomic<bool> writing{true};
        std::thread writer([&] {
            for (int i = 0; writing; ++i) {
                std::string name = "Live " + std::to_string(round) + "." + std::to_string(i);
                AddPerson(name, "live " + name);
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
        });
        WaitForRandomMoment(console, pending, console.CountLines(kProgress));
        CutProcesses({console.Pid(), pid});
        writing = false;
        writer.join();
        console.WaitExit();
        WaitGone(pid);
        NRTFaultFailNth(NRT_FAULT_POWERCUT, 1, 0);  // this process loses its unsynced writes too
        NSFDbClose(hDirectory_);
        hDirectory_ = NULLHANDLE;
        ASSERT_EQ(NOERROR, NRTFaultReboot()) << testenv::LastErrorDetail();
        ASSERT_EQ(NOERROR, NSFDbOpen("names.nsf", &hDirectory_)) << testenv::LastErrorDetail();
        CountMidPass(storedBefore, console.CountLines(Literal(taskfixture::kNoteProcessed)));
        if (IsMigrationRound(round)) PublishPending();
    }
    FinishAndReport("power cut", cuts);
}

// The disk fills at a random write of a pass (a few of them migrations) and
// stays full for a random run of writes; the task goes on, and once there is
// space again its next pass publishes what could not be saved.
TEST_F(CrashRestartTest, EveryChangeIsPublishedAfterTheDiskFillsInTheMiddleOfPasses) {
    const int fills = EnvNumber("ZELREP_CRASH_DISKFULLS", 2);
    // The fault counts the task's writes; without the pass history they are
    // the output's and the configuration's only, so the full disk meets them.
    testenv::WriteFile(DataPath("notes.ini"), "ZelrepHistoryDays=0\n");
    SetUpDirectory(fills);
    // The output database is made first, as the task makes it, so that the
    // full disk meets the passes' writes rather than its creation.
    DBHANDLE output = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbCreateAndCopy("names.nsf", "out.nsf", NOTE_CLASS_VIEW, 0, 0, &output));
    ASSERT_EQ(NOERROR, NSFDbClose(output));
    int events = 0;
    for (int round = 0; round < fills; ++round) {
        MakeChanges(round, IsMigrationRound(round));
        TIMEDATE storedBefore = StoredTime();
        // The task's start-up makes three writes (the configuration's); it
        // commits its documents by group and keeps its connections from pass
        // to pass, some ten writes a pass. A pass that fails at its start
        // makes one or two writes, so a full disk of 20 writes at most lasts
        // some ten passes.
        std::string fault = "NRT_FAULT=diskfull:" + std::to_string(4 + random_() % 6) + "+" +
                            std::to_string(5 + random_() % 16);
        proctest::Console& console = StartServer({}, {fault});
        ASSERT_NE(0, Load(console));
        if (IsMigrationRound(round)) console.Command("tell TEST MIGRATE ON");
        bool full = console.WaitForLine(kDiskFull, 30000);
        events += full;
        EXPECT_TRUE(full) << fault << "\n" << ConsoleLog();
        size_t processed = console.CountLines(Literal(taskfixture::kNoteProcessed));
        CountMidPass(storedBefore, processed);
        // Space again: a pass stores its time.
        EXPECT_TRUE(console.WaitForLine("Orvane - TEST: names\\.nsf last modified time/date = ", 90000)) << ConsoleLog();
        TellQuit(console);
        EXPECT_EQ(0, console.Quit());
    }
    FinishAndReport("disk full", events);
}

// A migration of a few thousand objects is killed at random moments, the
// first time after MIGRATE ON, then in the pass that finishes it after each
// load: once one ends, every object has been published, none damaged.
TEST_F(CrashRestartTest, AStoppedMigrationIsFinishedByTheNextStart) {
    CreateDirectory();
    std::vector<Person> people;
    for (int i = 0; i < 2500; ++i) people.push_back(AddPerson("Person " + std::to_string(i), "person " + std::to_string(i)));
    CreateInstance();
    proctest::Console& console = StartServer();
    for (int kill = 0; kill < 3; ++kill) {
        size_t progressBefore = console.CountLines(kProgress);
        pid_t pid = Load(console);
        ASSERT_NE(0, pid);
        if (kill == 0) console.Command("tell TEST MIGRATE ON");
        // The console shows a line a little after the pass wrote it: a kill
        // drawn in the last fifth could come after the migration's end.
        size_t point = std::uniform_int_distribution<size_t>(1, people.size() * 4 / 5)(random_);
        ASSERT_TRUE(console.WaitForCount(kProgress, progressBefore + point, 60000)) << ConsoleLog();
        ::kill(pid, SIGKILL);
        ASSERT_TRUE(console.WaitForLine("Task zelrep \\(process " + std::to_string(pid) + "\\) ended by signal 9"))
            << ConsoleLog();
        EXPECT_LT(console.CountLines(Literal(taskfixture::kNoteProcessed)), (kill + 1) * people.size())
            << "the migration ended before the kill";
    }
    Load(console);
    ASSERT_TRUE(console.WaitForLine(Literal("Orvane - TEST: The last migration of names.nsf did not finish; "
                                            "this pass publishes every object again"),
                                    20000))
        << ConsoleLog();
    ASSERT_TRUE(console.WaitForLine("Orvane - TEST: names\\.nsf last modified time/date = ", 90000)) << ConsoleLog();
    TellQuit(console);
    EXPECT_EQ(0, console.Quit());
    std::vector<OutputDocument> docs = ReadOutput();
    EXPECT_EQ(0, Damaged(docs));
    for (size_t i = 0; i < people.size(); ++i)
        EXPECT_LE(1, Published(docs, people[i].unid, "ADD", "person " + std::to_string(i))) << people[i].unid;
}

// A stop asked for while a pass runs waits for the pass's end: the loop
// looks at the server's request only between iterations.
class ShutdownTest : public FaultsTest {
protected:
    // The directory with kNotes people added after the instance's set-up.
    void Prepare() {
        CreateDirectory();
        CreateInstance();
        for (int i = 0; i < kNotes; ++i) {
            std::string comment = "add " + std::to_string(i);
            changes_.push_back({AddPerson("Person " + std::to_string(i), comment).unid, "ADD", comment});
        }
    }
    // Loads the task and waits until its pass is under way; false when the
    // pass ended before that was seen.
    bool LoadUntilPassRuns(proctest::Console& console) {
        Load(console);
        EXPECT_TRUE(console.WaitForLine(Literal(taskfixture::kNoteProcessed), 20000));
        return console.CountLines(Literal(taskfixture::kNoteProcessed)) < (size_t)kNotes;
    }
    // Every note published exactly once, and a restarted task finds nothing
    // left to publish.
    void ExpectEverythingPublishedOnce() {
        std::vector<OutputDocument> docs = ReadOutput();
        EXPECT_EQ(0, Damaged(docs));
        Tally tally = Count(changes_, docs);
        EXPECT_EQ(kNotes, tally.once);
        proctest::Console& again = StartServer();
        Load(again);
        EXPECT_TRUE(again.WaitForLine("Orvane - TEST: names\\.nsf hasn't been modified since ")) << ConsoleLog();
        EXPECT_EQ(0, again.Quit());
        EXPECT_EQ(docs.size(), ReadOutput().size());
    }

    static constexpr int kNotes = 2000;
    std::vector<Change> changes_;
};

TEST_F(ShutdownTest, ServerQuitDuringAPassLetsThePassEnd) {
    Prepare();
    proctest::Console& console = StartServer({"--kill-after", "120"});
    ASSERT_TRUE(LoadUntilPassRuns(console)) << "the pass ended before the server was stopped";
    EXPECT_EQ(0, console.Quit(120000));

    std::string log = ConsoleLog();
    size_t passDone = log.find(taskfixture::kPassDone);
    size_t exited = log.find("Orvane - TEST:  Addin Process Exited.");
    ASSERT_NE(std::string::npos, passDone) << log;
    ASSERT_NE(std::string::npos, exited) << log;
    EXPECT_LT(passDone, exited);
    EXPECT_FALSE(proctest::Matches(log, "did not stop within")) << log;
    ExpectEverythingPublishedOnce();
}

TEST_F(ShutdownTest, TellQuitDuringAPassLetsThePassEndThenShutsDown) {
    Prepare();
    proctest::Console& console = StartServer();
    ASSERT_TRUE(LoadUntilPassRuns(console)) << "the pass ended before the task was told to quit";
    TellQuit(console);

    std::string log = ConsoleLog();
    size_t passDone = log.find(taskfixture::kPassDone);
    size_t shuttingDown = log.find("Orvane - TEST:  Shutting Down");
    size_t exited = log.find("Orvane - TEST:  Addin Process Exited.");
    ASSERT_NE(std::string::npos, shuttingDown) << log;
    EXPECT_LT(passDone, shuttingDown);
    EXPECT_LT(shuttingDown, exited);
    EXPECT_EQ(0, console.Quit());
    ExpectEverythingPublishedOnce();
}

// A document that cannot be saved keeps the pass's interval: the stored
// time stays, the line says so, and the next pass publishes it all again.
class SaveFailureTest : public FaultsTest {};

TEST_F(SaveFailureTest, LockedOutputKeepsTheIntervalUntilItsDocumentsAreSaved) {
    testenv::WriteFile(DataPath("notes.ini"), "DbBusyTimeout=200\n");
    CreateDirectory();
    Person ann = AddPerson("Ann", "base"), ben = AddPerson("Ben", "base");
    CreateInstance();
    proctest::Console& console = StartServer();
    Load(console);
    ASSERT_TRUE(console.WaitForLine(Literal(taskfixture::kPassDone))) << ConsoleLog();

    taskfixture::WriteLock lock(DataPath("out.nsf"));
    Person cid = AddPerson("Cid", "added");
    Update(ann, {{"Comment", "renamed"}, {"FullName", "CN=Ann Other/OU=Unit/O=Org1"}});
    DeletePerson(ben);
    // The rename document, Ann's change document, Cid's add and Ben's obituary.
    ASSERT_TRUE(console.WaitForLine(Literal("Orvane - TEST: 4 documents could not be saved in out.nsf; "
                                            "the next pass publishes these changes again"),
                                    20000))
        << ConsoleLog();
    EXPECT_TRUE(Serves(console));
    EXPECT_EQ(0, Published(ReadOutput(), cid.unid, "ADD", "added"));
    lock.Release();

    ASSERT_TRUE(console.WaitForLine("Orvane - TEST: names\\.nsf last modified time/date = ", 20000))
        << ConsoleLog();
    ASSERT_TRUE(console.WaitForLine("Orvane - TEST: names\\.nsf hasn't been modified since ")) << ConsoleLog();
    TellQuit(console);
    std::vector<OutputDocument> docs = ReadOutput();
    EXPECT_EQ(0, Damaged(docs));
    EXPECT_LE(1, Published(docs, cid.unid, "ADD", "added"));
    EXPECT_LE(1, Published(docs, ann.unid, "rename"));
    EXPECT_LE(1, Published(docs, ann.unid, "MODIFY", "renamed"));
    EXPECT_LE(1, Published(docs, ben.unid, "DELETE"));
    EXPECT_EQ(0, console.Quit());
}

}  // namespace
