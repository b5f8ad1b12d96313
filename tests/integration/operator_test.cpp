// operator_test.cpp - the operator's view of a running task: its server
// statistics (read in this process with NRTEnumStatistics, and through
// `nserver show stat` as an administrator or a monitoring system reads
// them) and the pass history in zelrephistory.nsf, against the output
// database the same passes wrote.
#include <signal.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "nrt_env.h"
#include "nrt_server.h"
#include "ostime.h"
#include "taskfixture.h"

namespace {

using taskfixture::Person;
using Clock = std::chrono::steady_clock;

const char kLoopDetectID[] = "CN=Sync Agent/O=Org1";
const char kHistoryDb[] = "zelrephistory.nsf";

// One document of the pass history.
struct HistoryDoc {
    std::string instance, kind, scope, chain, gapReason, result;
    bool hasSince = false, hasStored = false;
    TIMEDATE since = {{0, 0}}, stored = {{0, 0}}, end = {{0, 0}};
    std::map<std::string, long> figures;
};

bool SameTime(const TIMEDATE& a, const TIMEDATE& b) {
    return a.Innards[0] == b.Innards[0] && a.Innards[1] == b.Innards[1];
}

HistoryDoc ReadHistoryDoc(DBHANDLE hDB, NOTEID id) {
    HistoryDoc doc;
    NOTEHANDLE h = NULLHANDLE;
    if (NSFNoteOpen(hDB, id, 0, &h) != NOERROR) return doc;
    doc.instance = taskfixture::ItemText(h, "Instance");
    doc.kind = taskfixture::ItemText(h, "Kind");
    doc.scope = taskfixture::ItemText(h, "Scope");
    doc.chain = taskfixture::ItemText(h, "Chain");
    doc.gapReason = taskfixture::ItemText(h, "GapReason");
    doc.result = taskfixture::ItemText(h, "Result");
    doc.hasSince = NSFItemGetTime(h, "Since", &doc.since);
    doc.hasStored = NSFItemGetTime(h, "StoredTime", &doc.stored);
    NSFItemGetTime(h, "End", &doc.end);
    for (const char* item : {"EntriesFound", "Added", "Modified", "Deleted", "Renamed", "SkippedLoop",
                             "SkippedClass", "SkippedFilter", "Unpublished"}) {
        NUMBER number = 0;
        if (NSFItemGetNumber(h, item, &number)) doc.figures[item] = long(number);
    }
    NSFNoteClose(h);
    return doc;
}

// The statistics matching the pattern, by full name, as their texts.
std::map<std::string, std::string> Statistics(const std::string& pattern) {
    std::map<std::string, std::string> stats;
    NRTEnumStatistics(
        pattern.c_str(),
        [](void* context, const NRTSTATINFO* stat) -> STATUS {
            (*static_cast<std::map<std::string, std::string>*>(context))[stat->FullName] = stat->ValueText;
            return NOERROR;
        },
        &stats);
    return stats;
}

long StatLong(const std::string& name) {
    auto stats = Statistics(name);
    auto found = stats.find(name);
    return found == stats.end() ? -999999 : std::atol(found->second.c_str());
}

std::string StatText(const std::string& name) {
    auto stats = Statistics(name);
    auto found = stats.find(name);
    return found == stats.end() ? "" : found->second;
}

class OperatorTest : public taskfixture::TaskTest {
protected:
    // Every document of the pass history, in the order written.
    std::vector<HistoryDoc> ReadHistory() {
        std::vector<HistoryDoc> docs;
        DBHANDLE hDB = NULLHANDLE;
        if (NSFDbOpen(kHistoryDb, &hDB) != NOERROR) return docs;
        std::vector<NOTEID> ids;
        EXPECT_EQ(NOERROR, NSFSearch(hDB, NULLHANDLE, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr,
                                     taskfixture::CollectNoteId, &ids, nullptr));
        for (NOTEID id : ids) docs.push_back(ReadHistoryDoc(hDB, id));
        NSFDbClose(hDB);
        return docs;
    }

    // Polls until the condition holds; false after the timeout.
    static bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 30000) {
        auto deadline = Clock::now() + std::chrono::milliseconds(proctest::Scaled(timeoutMs));
        while (Clock::now() < deadline) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return condition();
    }

    // Waits for a history document of TEST after the first `after` ones
    // that the predicate accepts; its index, or -1.
    int WaitForPass(size_t after, const std::function<bool(const HistoryDoc&)>& accepts) {
        int found = -1;
        WaitUntil([&] {
            std::vector<HistoryDoc> docs = ReadHistory();
            for (size_t i = after; i < docs.size(); ++i)
                if (docs[i].instance == "TEST" && accepts(docs[i])) found = int(i);
            return found >= 0;
        });
        return found;
    }

    // `nserver --data DIR show stat ARGS...`
    proctest::RunResult ShowStat(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {proctest::BinPath("nserver"), "--data", dataDir_, "show", "stat"};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv);
    }

    void Tell(proctest::Console& console, const std::string& command) {
        console.Command("tell TEST " + command);
    }

    void RunPass(proctest::Console& console, const std::string& command = "replicate") {
        Tell(console, command);
        ASSERT_TRUE(console.WaitForLine(taskfixture::kPassDone)) << ConsoleLog();
    }
};

TEST_F(OperatorTest, StatisticsAppearWithTheTaskAndVanishAfterSigkill) {
    CreateDirectory();
    CreateInstance();
    proctest::Console& console = StartServer();
    pid_t pid = Load(console);
    ASSERT_NE(0, pid);
    ASSERT_TRUE(WaitUntil([] { return StatText("ZELREP.TEST.State") == "Idle"; })) << ConsoleLog();
    ASSERT_TRUE(console.WaitForLine(taskfixture::kPassDone)) << ConsoleLog();

    // Through the console's control socket: sorted "Name = value" lines,
    // the pattern in any letter case.
    proctest::RunResult text = ShowStat({"zelrep.test.*"});
    ASSERT_EQ(0, text.exitCode) << text.err;
    std::vector<std::string> lines;
    for (const std::string& line : proctest::Lines(text.out))
        if (!line.empty()) lines.push_back(line);
    EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
    for (const std::string& line : lines) EXPECT_TRUE(proctest::Matches(line, "^ZELREP\\.TEST\\.[A-Za-z.]+ = ")) << line;
    EXPECT_TRUE(proctest::Matches(text.out, "ZELREP\\.TEST\\.State = Idle")) << text.out;
    EXPECT_TRUE(proctest::Matches(text.out, "ZELREP\\.TEST\\.LastPass\\.Kind = SCHEDULED")) << text.out;

    // JSON for a monitoring system: numbers as numbers.
    proctest::RunResult json = ShowStat({"ZELREP.TEST", "--json"});
    ASSERT_EQ(0, json.exitCode) << json.err;
    nlohmann::json parsed = nlohmann::json::parse(json.out);
    ASSERT_TRUE(parsed.is_array());
    std::map<std::string, nlohmann::json> values;
    for (const nlohmann::json& stat : parsed) values[stat["name"]] = stat["value"];
    ASSERT_TRUE(values.count("ZELREP.TEST.Passes.Run"));
    EXPECT_TRUE(values["ZELREP.TEST.Passes.Run"].is_number_integer());
    EXPECT_GE(values["ZELREP.TEST.Passes.Run"].get<long>(), 1);
    EXPECT_TRUE(values["ZELREP.TEST.LastPass.Duration"].is_number());
    EXPECT_EQ("Idle", values["ZELREP.TEST.State"]);
    EXPECT_EQ(2, ShowStat({"A*", "B*"}).exitCode);

    kill(pid, SIGKILL);
    EXPECT_TRUE(WaitUntil([] { return Statistics("ZELREP.TEST").empty(); })) << "left behind";
    proctest::RunResult after = ShowStat({"ZELREP.*"});
    EXPECT_EQ(0, after.exitCode);
    EXPECT_TRUE(proctest::Matches(after.out, "No statistics match ZELREP\\.\\*\\.")) << after.out;
    EXPECT_EQ(0, console.Quit());

    // Without a console the one-shot command reads them itself.
    EXPECT_EQ("[]", ShowStat({"--json"}).out.substr(0, 2));
}

TEST_F(OperatorTest, CountersMatchTheOutputDatabaseDocumentByDocument) {
    CreateDirectory();
    Person modified = AddPerson("Ann Mod", "before");
    Person renamed = AddPerson("Ben Ren", "before");
    Person deleted = AddPerson("Cal Del", "before");
    Person looped = AddPerson("Dot Loop", "before");
    CreateInstance();
    Configure({"--schedule", "1", "DAYS", "--loop-detect-id", kLoopDetectID, "--loop-detect", "on"});
    proctest::Console& console = StartServer();
    ASSERT_NE(0, Load(console));

    AddPerson("Eve Add", "new");
    Update(modified, {{"Comment", "after"}});
    Update(renamed, {{"FullName", "CN=Ben Moved/OU=Other/O=Org1"}});
    DeletePerson(deleted);
    NRTSetUserName(kLoopDetectID);
    Update(looped, {{"Comment", "looped"}});
    NRTSetUserName("CN=Writer/O=Org1");
    Person classless = AddPerson("No Type", "none");
    Update(classless, {{"Type", ""}});
    Person group = AddPerson("Some Group", "group");
    Update(group, {{"Type", "Group"}});
    RunPass(console);

    std::map<std::string, long> written;
    for (const taskfixture::OutputDocument& doc : ReadOutput()) written[doc.event]++;
    EXPECT_EQ(1, written["ADD"]);
    EXPECT_EQ(2, written["MODIFY"]);  // the comment, and the renamed person's name
    EXPECT_EQ(1, written["rename"]);
    EXPECT_EQ(1, written["DELETE"]);
    const std::map<std::string, long> expected = {
        {"EntriesFound", 7}, {"Added", written["ADD"]},   {"Modified", written["MODIFY"]},
        {"Renamed", written["rename"]}, {"Deleted", written["DELETE"]}, {"SkippedLoop", 1},
        {"SkippedClass", 1}, {"SkippedFilter", 1},        {"Unpublished", 0}};
    for (const auto& [name, value] : expected) EXPECT_EQ(value, StatLong("ZELREP.TEST.LastPass." + name)) << name;
    EXPECT_EQ("OK", StatText("ZELREP.TEST.LastPass.Result"));
    EXPECT_EQ("REPLICATE", StatText("ZELREP.TEST.LastPass.Kind"));
    EXPECT_EQ(0, StatLong("ZELREP.TEST.Passes.Failed"));

    // The task's writes are committed by group, within a few hundredths.
    WaitUntil([&] {
        std::vector<HistoryDoc> docs = ReadHistory();
        return !docs.empty() && docs.back().figures == expected;
    });
    std::vector<HistoryDoc> history = ReadHistory();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(expected, history.back().figures);
    EXPECT_EQ("REPLICATE", history.back().kind);
    EXPECT_EQ("OK", history.back().result);

    proctest::RunResult table = RunNsfdb({"dump", kHistoryDb, "--format", "table", "--width", "0"});
    EXPECT_TRUE(proctest::Matches(table.out, "^Instance +Kind +Scope +Start +Since +Until +Chain +Result +Items"))
        << table.out;
    EXPECT_TRUE(proctest::Matches(table.out, "TEST +REPLICATE +CHANGES .*Added=1")) << table.out;
    EXPECT_EQ(0, console.Quit());
}

TEST_F(OperatorTest, LagGrowsWhileSuspendedAndFallsAfterAPass) {
    CreateDirectory();
    CreateInstance();
    proctest::Console& console = StartServer();
    ASSERT_NE(0, Load(console));
    AddPerson("First", "one");
    ASSERT_TRUE(console.WaitForLine("TEST: 1 entries found")) << ConsoleLog();

    Tell(console, "suspend");
    ASSERT_TRUE(WaitUntil([] { return StatText("ZELREP.TEST.State") == "Suspended"; })) << ConsoleLog();
    long before = StatLong("ZELREP.TEST.Lag");
    EXPECT_GE(before, 0);
    ASSERT_TRUE(WaitUntil([&] { return StatLong("ZELREP.TEST.Lag") >= before + 3; })) << "lag stood still";
    long suspended = StatLong("ZELREP.TEST.Lag");

    AddPerson("Second", "two");
    Tell(console, "resume");
    ASSERT_TRUE(console.WaitForLine("TEST: 1 entries found")) << ConsoleLog();
    EXPECT_TRUE(WaitUntil([&] { return StatLong("ZELREP.TEST.Lag") < suspended; }));
    EXPECT_EQ("Idle", StatText("ZELREP.TEST.State"));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(OperatorTest, MigrationShowsProgressMovingWhileItRuns) {
    Nsfdb({"sample", "names.nsf", "--people", "4000", "--groups", "4"});
    CreateInstance();
    Configure({"--schedule", "1", "DAYS"});
    proctest::Console& console = StartServer();
    ASSERT_NE(0, Load(console));

    Tell(console, "migrate on");
    std::set<long> seen;
    long listed = 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(proctest::Scaled(60000));
    while (Clock::now() < deadline && StatText("ZELREP.TEST.LastPass.Kind") != "MIGRATE") {
        auto stats = Statistics("ZELREP.TEST.Progress");
        long done = std::atol(stats["ZELREP.TEST.Progress.Done"].c_str());
        listed = std::max(listed, std::atol(stats["ZELREP.TEST.Progress.Listed"].c_str()));
        if (done > 0 && done < 4004) seen.insert(done);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(seen.size(), 2u) << "progress did not move during the migration";
    EXPECT_EQ(4004, listed);
    ASSERT_TRUE(console.WaitForLine(taskfixture::kPassDone)) << ConsoleLog();
    EXPECT_EQ(4004, StatLong("ZELREP.TEST.Progress.Done"));
    EXPECT_EQ(4000, StatLong("ZELREP.TEST.LastPass.Added"));
    EXPECT_EQ(0, console.Quit());
}

TEST_F(OperatorTest, TwentyPassesUnderAConcurrentWriterChainWithoutAGap) {
    CreateDirectory();
    CreateInstance();
    proctest::Console& console = StartServer();
    ASSERT_NE(0, Load(console));

    std::atomic<bool> stop(false);
    std::thread writer([&] {
        std::vector<Person> people;
        for (int i = 0; !stop; ++i) {
            if (i % 3 == 0 || people.empty())
                people.push_back(AddPerson("Writer " + std::to_string(i), "added"));
            else
                Update(people[size_t(i) % people.size()], {{"Comment", "change " + std::to_string(i)}});
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
    });
    for (int pass = 0; pass < 20; ++pass) {
        Tell(console, "replicate");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    bool enough = WaitUntil([&] { return ReadHistory().size() >= 21; }, 60000);
    stop = true;
    writer.join();
    ASSERT_TRUE(enough) << ConsoleLog();

    std::vector<HistoryDoc> history = ReadHistory();
    int changed = 0;
    for (size_t i = 1; i < history.size(); ++i) {
        const HistoryDoc& doc = history[i];
        EXPECT_EQ("CONTINUES", doc.chain) << "pass " << i << ": " << doc.gapReason;
        EXPECT_NE("FAILED", doc.result) << "pass " << i;
        ASSERT_TRUE(doc.hasSince && history[i - 1].hasStored) << "pass " << i;
        EXPECT_TRUE(SameTime(doc.since, history[i - 1].stored)) << "pass " << i << " does not start where "
                                                                 << "the one before it left the stored time";
        if (doc.figures.at("EntriesFound") > 0) changed++;
    }
    EXPECT_GE(changed, 10) << "the writer's changes reached too few passes";
    EXPECT_EQ(0, console.Quit());
}

TEST_F(OperatorTest, TypedLastEventAndAReplacedInputAreMarkedAsGaps) {
    CreateDirectory();
    CreateInstance();
    proctest::Console& console = StartServer();
    ASSERT_NE(0, Load(console));
    // The first pass starts at the set-up time that nsfdb typed.
    AddPerson("Before", "one");
    int published = WaitForPass(0, [](const HistoryDoc& doc) { return doc.figures.at("EntriesFound") == 1; });
    ASSERT_GE(published, 0) << ConsoleLog();
    EXPECT_EQ("GAP", ReadHistory()[0].chain);

    // Typed while the task is suspended, so that no pass of the task writes
    // its own stored time over it before the next pass reads it.
    Tell(console, "suspend");
    ASSERT_TRUE(WaitUntil([] { return StatText("ZELREP.TEST.State") == "Suspended"; })) << ConsoleLog();
    Configure({"--last-event", "now"});
    Tell(console, "resume");
    int typed = WaitForPass(size_t(published) + 1, [](const HistoryDoc& doc) { return doc.chain == "GAP"; });
    ASSERT_GE(typed, 0) << ConsoleLog();
    std::vector<HistoryDoc> history = ReadHistory();
    EXPECT_EQ("the stored time was set outside the task", history[size_t(typed)].gapReason);
    for (int i = published + 1; i < typed; ++i) EXPECT_EQ("CONTINUES", history[size_t(i)].chain);

    AddPerson("After", "two");
    int confirmed = WaitForPass(size_t(typed) + 1, [](const HistoryDoc& doc) {
        return doc.chain == "CONTINUES" && doc.figures.at("EntriesFound") == 1;
    });
    ASSERT_GE(confirmed, 0) << ConsoleLog();

    NSFDbClose(hDirectory_);
    hDirectory_ = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbDelete("names.nsf"));
    CreateDirectory();
    AddPerson("Replaced", "three");
    int replaced = WaitForPass(size_t(confirmed) + 1, [](const HistoryDoc& doc) { return doc.chain == "GAP"; });
    ASSERT_GE(replaced, 0) << ConsoleLog();
    history = ReadHistory();
    EXPECT_EQ("the input database was replaced", history[size_t(replaced)].gapReason);
    EXPECT_EQ("ALL", history[size_t(replaced)].scope);
    EXPECT_EQ(0, console.Quit());
}

TEST_F(OperatorTest, OldHistoryIsRemovedAndAHistoryThatCannotBeWrittenDoesNotFailThePass) {
    // Two documents older than the default 30 days and one younger.
    ASSERT_EQ(NOERROR, NSFDbCreate(kHistoryDb, DBCLASS_NOTEFILE, FALSE));
    DBHANDLE hDB = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpen(kHistoryDb, &hDB));
    for (int daysAgo : {45, 31, 29}) {
        NOTEHANDLE h = NULLHANDLE;
        ASSERT_EQ(NOERROR, NSFNoteCreate(hDB, &h));
        TIMEDATE end;
        OSCurrentTIMEDATE(&end);
        TimeDateAdjustSeconds(&end, -daysAgo * 86400);
        NSFItemSetText(h, "Form", "Pass", MAXWORD);
        NSFItemSetText(h, "Instance", ("OLD" + std::to_string(daysAgo)).c_str(), MAXWORD);
        NSFItemSetTime(h, "End", &end);
        ASSERT_EQ(NOERROR, NSFNoteUpdate(h, 0));
        NSFNoteClose(h);
    }
    NSFDbClose(hDB);
    CreateDirectory();
    CreateInstance();
    proctest::Console& console = StartServer();
    ASSERT_NE(0, Load(console));
    ASSERT_TRUE(console.WaitForLine(taskfixture::kPassDone)) << ConsoleLog();
    const std::set<std::string> kept = {"OLD29", "TEST"};
    std::set<std::string> instances;
    WaitUntil([&] {
        instances.clear();
        for (const HistoryDoc& doc : ReadHistory()) instances.insert(doc.instance);
        return instances == kept;
    });
    EXPECT_EQ(kept, instances);
    TellQuit(console);

    // A history database that cannot be opened: the pass goes on.
    ASSERT_EQ(NOERROR, NSFDbDelete(kHistoryDb));
    std::filesystem::create_directory(DataPath(kHistoryDb));
    ASSERT_NE(0, Load(console));
    Person person = AddPerson("Still Published", "yes");
    ASSERT_TRUE(console.WaitForLine("TEST: The pass history could not be written to zelrephistory\\.nsf: "))
        << ConsoleLog();
    ASSERT_TRUE(console.WaitForLine("TEST: 1 entries found, 1 updated")) << ConsoleLog();
    EXPECT_EQ(1, Published(ReadOutput(), person.unid, "ADD", "yes"));
    EXPECT_TRUE(proctest::Matches(StatText("ZELREP.TEST.LastError.Text"), "^The pass history could not be written"));
    EXPECT_EQ(0, StatLong("ZELREP.TEST.Passes.Failed"));
    EXPECT_EQ(0, console.Quit());
}

}  // namespace
