// publish_test.cpp - the publication engine end to end: nserver loads
// zelrep, nsfdb (or this process, as a second writer) changes the
// directory, and the output database is read back with nsfdb dump.
//
// NoChangeLost runs for ZELREP_NOCHANGELOST_SECONDS (default 4) while the
// task publishes every second; bench/nochangelost.sh runs it for a minute.
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "nrt_env.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "proctest.h"

namespace {

using nlohmann::json;

const char kFilter[] =
    "<publisher-filter>\n"
    "  <allow-class class-name=\"Person\">\n"
    "    <allow-attr attr-name=\"FullName\"/><allow-attr attr-name=\"FirstName\"/>\n"
    "    <allow-attr attr-name=\"LastName\"/><allow-attr attr-name=\"Comment\"/>\n"
    "  </allow-class>\n"
    "  <allow-class class-name=\"Group\"><allow-attr attr-name=\"Members\"/></allow-class>\n"
    "</publisher-filter>\n";
const char kLoopDetectID[] = "CN=Sync Agent/O=Org1";
const char kPassDone[] = "Orvane - TEST: ZEL Replication complete";

class PublishTest : public proctest::ProcessTest {
protected:
    // Writes one document (as the given updater) and returns its UNID.
    std::string Put(const json& document, const std::string& as = "") {
        std::vector<std::string> args;
        if (!as.empty()) args = {"--as", as};
        args.insert(args.end(), {"put", "names.nsf", "-"});
        std::string out = Nsfdb(args, document.dump() + "\n");
        return out.substr(0, out.find_first_of("\r\n"));
    }
    // Every document of the database; none while it does not exist yet.
    std::vector<json> Dump(const std::string& db) {
        std::vector<json> docs;
        proctest::RunResult result = RunNsfdb({"dump", db});
        for (const std::string& line : proctest::Lines(result.out))
            if (!line.empty()) docs.push_back(json::parse(line));
        return docs;
    }
    // A text item's value: a text, or the entries of a text list joined by "|".
    static std::string Text(const json& doc, const std::string& item) {
        const json& items = doc["items"];
        if (!items.contains(item)) return "";
        if (items[item].is_string()) return items[item].get<std::string>();
        std::string joined;
        for (const json& entry : items[item])
            joined += (joined.empty() ? "" : "|") + entry.get<std::string>();
        return joined;
    }

    // The instance TEST over names.nsf, loaded into a console.
    proctest::Console& Start(const std::string& every, const std::string& units, bool checkAttrs,
                             bool writeTimeStamps = false) {
        testenv::WriteFile(DataPath("filter.xml"), kFilter);
        Nsfdb({"instance", "zelrpcfg.nsf", "TEST", "--input", "names.nsf", "--output", "out.nsf",
               "--filter", "filter.xml", "--schedule", every, units, "--loop-detect-id", kLoopDetectID,
               "--loop-detect", "on", "--check-attrs", checkAttrs ? "on" : "off",
               "--write-timestamps", writeTimeStamps ? "on" : "off", "--trace", "NORMAL"});
        proctest::Console& console = StartConsole();
        console.Command("load zelrep TEST");
        EXPECT_TRUE(console.WaitForLine("TEST:  Initialization Complete")) << ConsoleLog();
        return console;
    }

    // Waits until out.nsf holds a document for the UNID with the event.
    json WaitForDocument(const std::string& unid, const std::string& event, size_t skip = 0) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(proctest::Scaled(15000));
        while (std::chrono::steady_clock::now() < deadline) {
            size_t seen = 0;
            for (const json& doc : Dump("out.nsf"))
                if (Text(doc, "Source Note ID") == unid && Text(doc, "Event") == event && seen++ == skip)
                    return doc;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        ADD_FAILURE() << "no " << event << " document for " << unid << "\n" << ConsoleLog();
        return json::object();
    }

    // Item names, leaving out the runtime's own "$" items.
    static std::set<std::string> AttributeNames(const json& doc) {
        std::set<std::string> names;
        for (auto item = doc["items"].begin(); item != doc["items"].end(); ++item)
            if (item.key()[0] != '$') names.insert(item.key());
        return names;
    }

    // Add, modify, rename, loop-detected change and delete, each published by
    // the next pass that trigger() brings about.
    void RunScenario(proctest::Console& console, bool checkAttrs, const std::function<void()>& trigger) {
        std::string jane = Put({{"items", {{"Type", "Person"},
                                           {"FullName", {"CN=Jane Doe/OU=Sales/O=Org1", "Jane Doe"}},
                                           {"FirstName", "Jane"}, {"LastName", "Doe"}}}});
        trigger();
        json added = WaitForDocument(jane, "ADD");
        EXPECT_EQ("\\Org1\\Sales\\Jane Doe", Text(added, "NotesDN"));

        Put({{"unid", jane}, {"items", {{"LastName", "Roe"}}}});
        trigger();
        json modified = WaitForDocument(jane, "MODIFY");
        std::set<std::string> expected = {"NotesDN", "Type", "Source Note ID", "Event", "LastName"};
        if (!checkAttrs) expected.insert({"FullName", "FirstName"});
        EXPECT_EQ(expected, AttributeNames(modified));
        EXPECT_EQ("Roe", Text(modified, "LastName"));

        Put({{"unid", jane}, {"items", {{"FullName", {"CN=Jane Roe/OU=Support/O=Org1", "Jane Roe"}}}}});
        trigger();
        json renamed = WaitForDocument(jane, "rename");
        EXPECT_EQ("\\Org1\\Support\\Jane Roe", Text(renamed, "DN"));
        json changed = WaitForDocument(jane, "MODIFY", 1);
        EXPECT_EQ(0u, changed["items"].count("NotesDN"));

        Put({{"unid", jane}, {"items", {{"LastName", "Looped"}}}}, kLoopDetectID);
        std::string bob = Put({{"items", {{"Type", "Person"}, {"FullName", "CN=Bob Ray/O=Org1"}}}});
        trigger();
        WaitForDocument(bob, "ADD");
        for (const json& doc : Dump("out.nsf"))
            EXPECT_NE("Looped", Text(doc, "LastName")) << "a looped change was published";

        Nsfdb({"delete", "names.nsf", jane});
        trigger();
        json obituary = WaitForDocument(jane, "DELETE");
        EXPECT_EQ((std::set<std::string>{"Source Note ID", "Event"}), AttributeNames(obituary));
        EXPECT_EQ(0, console.Quit());
    }
};

TEST_F(PublishTest, MigrationPublishesEveryPersonAndGroupAsAnAdd) {
    Nsfdb({"sample", "names.nsf", "--people", "25", "--groups", "6", "--seed", "7"});
    proctest::Console& console = Start("1", "HOURS", true);
    console.Command("tell TEST MIGRATE ON");
    ASSERT_TRUE(console.WaitForLine(kPassDone, proctest::Scaled(20000))) << ConsoleLog();

    std::set<std::string> published, expected;
    for (const json& doc : Dump("names.nsf")) {
        std::string type = Text(doc, "Type");
        if (type == "Person" || type == "Group") expected.insert(doc["unid"].get<std::string>());
    }
    for (const json& doc : Dump("out.nsf")) {
        EXPECT_EQ("ADD", Text(doc, "Event"));
        published.insert(Text(doc, "Source Note ID"));
    }
    EXPECT_EQ(31u, expected.size());
    EXPECT_EQ(expected, published);
    EXPECT_EQ(0, console.Quit());
}

// demo/reader.sh, run again and again while the task publishes: each run
// is a reader that starts, reads after its kept place, hands the documents
// on, deletes them and stops.
TEST_F(PublishTest, ReaderAfterItsPlaceSeesEveryChangeOnceAcrossRestartsAndDeletions) {
    Nsfdb({"create", "names.nsf", "--title", "Directory"});
    proctest::Console& console = Start("1", "SECONDS", true);
    proctest::StartOptions options = DataDirOptions();
    options.env.push_back("NSFDB=" + proctest::BinPath("nsfdb"));
    std::vector<std::string> reader = {"/bin/bash", proctest::SourceDir() + "/demo/reader.sh", "out.nsf",
                                       DataPath("reader.place"), "1"};
    std::vector<json> handed;
    auto read = [&] {
        proctest::RunResult run = proctest::Run(reader, "", options);
        EXPECT_EQ(0, run.exitCode) << run.err;
        for (const std::string& line : proctest::Lines(run.out))
            if (!line.empty()) handed.push_back(json::parse(line));
    };
    std::vector<std::string> people;
    for (int round = 0; round < 12; ++round) {
        for (int i = 0; i < 5; ++i)
            people.push_back(Put({{"items", {{"Form", "Person"}, {"Type", "Person"},
                                             {"FullName", "CN=Reader " + std::to_string(round * 5 + i) + "/O=Org1"},
                                             {"LastName", "Reader"}}}}));
        if (round % 3 == 0) Put({{"unid", people[round]}, {"items", {{"Comment", "changed"}}}});
        read();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ASSERT_TRUE(console.WaitForCount(kPassDone, 5, 30000));
    size_t passes = console.CountLines(kPassDone);
    ASSERT_TRUE(console.WaitForCount(kPassDone, passes + 2, 30000)) << "a pass after the last change";
    read();
    read();

    std::set<std::string> seen;
    std::map<std::string, int> adds;
    std::set<std::string> commented;
    for (const json& doc : handed) {
        EXPECT_TRUE(seen.insert(doc["unid"].get<std::string>()).second) << "handed on twice: " << doc.dump();
        if (Text(doc, "Event") == "ADD") adds[Text(doc, "Source Note ID")]++;
        if (Text(doc, "Comment") == "changed") commented.insert(Text(doc, "Source Note ID"));
    }
    for (size_t i = 0; i < people.size(); ++i) EXPECT_EQ(1, adds[people[i]]) << "person " << i;
    for (int round : {0, 3, 6, 9}) EXPECT_EQ(1u, commented.count(people[round])) << "the change of person " << round;
    EXPECT_TRUE(Dump("out.nsf").empty()) << "the reader deleted what it handed on";
    EXPECT_EQ(0, console.Quit());
}

TEST_F(PublishTest, ScheduledPassesPublishEachKindOfChange) {
    Nsfdb({"create", "names.nsf", "--title", "Directory"});
    proctest::Console& console = Start("1", "SECONDS", true);
    RunScenario(console, true, [] {});
}

TEST_F(PublishTest, ReplicateCommandPublishesEachKindOfChangeWithAllAttributes) {
    Nsfdb({"create", "names.nsf", "--title", "Directory"});
    proctest::Console& console = Start("1", "DAYS", false);
    RunScenario(console, false, [&console] { console.Command("tell TEST REPLICATE"); });
}

// A bulk load, then an administrator sets the stored time to now and
// changes one person: the next pass publishes that one change and nothing
// of the load, since the load's times are not later than "now".
TEST_F(PublishTest, LastEventNowAfterABulkLoadPublishesOnlyTheLaterChange) {
    Nsfdb({"sample", "names.nsf", "--people", "5000", "--groups", "20", "--seed", "7"});
    testenv::WriteFile(DataPath("filter.xml"), kFilter);
    Nsfdb({"instance", "zelrpcfg.nsf", "TEST", "--input", "names.nsf", "--output", "out.nsf", "--filter",
           "filter.xml", "--schedule", "1", "DAYS", "--last-event", "now", "--trace", "NORMAL"});
    std::string found = Nsfdb({"find", "names.nsf", "Type=Person"});
    std::string person = found.substr(0, found.find('\n'));
    Put({{"unid", person}, {"items", {{"Comment", "changed after now"}}}});
    proctest::Console& console = StartConsole();
    console.Command("load zelrep TEST");
    ASSERT_TRUE(console.WaitForLine("TEST:  Initialization Complete")) << ConsoleLog();
    console.Command("tell TEST REPLICATE");
    ASSERT_TRUE(console.WaitForLine(kPassDone, proctest::Scaled(20000))) << ConsoleLog();
    std::vector<json> docs = Dump("out.nsf");
    ASSERT_EQ(1u, docs.size()) << ConsoleLog();
    EXPECT_EQ("MODIFY", Text(docs[0], "Event"));
    EXPECT_EQ(person, Text(docs[0], "Source Note ID"));
    EXPECT_EQ("changed after now", Text(docs[0], "Comment"));
    EXPECT_EQ(0, console.Quit());
}

// One writer (this process) changes the directory at random while the task
// publishes every second (its schedule, and a REPLICATE each second). Afterwards every note's last change must be covered:
// an obituary for a deleted note, else its latest change document carries the
// note's final "Comment" (every change writes a new one); and a note's first
// change document is its add.
class NoChangeLostTest : public PublishTest {
protected:
    struct Final {
        bool deleted = false;
        std::string comment;
    };
    struct Counts {
        int adds = 0, modifies = 0, renames = 0, deletes = 0, conflicts = 0;
    };

    void SetPerson(NOTEHANDLE h, int serial, const std::string& comment) {
        std::string name = "CN=Person " + std::to_string(serial) + "/OU=Unit" + std::to_string(serial % 3) + "/O=Org1";
        NSFItemSetText(h, "Type", "Person", MAXWORD);
        NSFItemSetText(h, "FullName", name.c_str(), MAXWORD);
        NSFItemSetText(h, "LastName", ("Last" + std::to_string(serial)).c_str(), MAXWORD);
        NSFItemSetText(h, "Comment", comment.c_str(), MAXWORD);
    }
    std::string UnidText(NOTEHANDLE h) {
        ORIGINATORID oid;
        NSFNoteGetInfo(h, _NOTE_OID, &oid);
        char text[33];
        snprintf(text, sizeof(text), "%08X%08X%08X%08X", (unsigned)oid.File.Innards[1],
                 (unsigned)oid.File.Innards[0], (unsigned)oid.Note.Innards[1], (unsigned)oid.Note.Innards[0]);
        return text;
    }
    // Opens, changes and saves a note; a concurrent stamp by the task makes
    // the save conflict, and the change is then made again.
    void Change(DBHANDLE hDB, NOTEID id, const std::function<void(NOTEHANDLE)>& change, Counts* counts) {
        for (;;) {
            NOTEHANDLE h = NULLHANDLE;
            ASSERT_EQ(NOERROR, NSFNoteOpen(hDB, id, 0, &h));
            change(h);
            STATUS status = NSFNoteUpdate(h, 0);
            NSFNoteClose(h);
            if (ERR(status) != ERR_CONFLICT) {
                ASSERT_EQ(NOERROR, status);
                return;
            }
            counts->conflicts++;
        }
    }
};

TEST_F(NoChangeLostTest, EveryChangeOfAConcurrentWriterIsPublished) {
    const char* configured = getenv("ZELREP_NOCHANGELOST_SECONDS");
    int seconds = configured != nullptr ? atoi(configured) : 4;
    Nsfdb({"create", "names.nsf", "--title", "Directory"});
    proctest::Console& console = Start("1", "SECONDS", true, true);

    NRTSetUserName("CN=Writer/O=Org1");
    DBHANDLE hDB = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpen("names.nsf", &hDB));
    std::mt19937 random(20261207);
    std::map<std::string, Final> finals;
    std::vector<std::pair<NOTEID, std::string>> live;  // note ID, UNID text
    Counts counts;
    int serial = 0;
    auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    auto nextPass = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < stop) {
        // The main loop waits up to two seconds for a console message: a
        // REPLICATE each second keeps a pass running every second.
        if (std::chrono::steady_clock::now() >= nextPass) {
            console.Command("tell TEST REPLICATE");
            nextPass += std::chrono::seconds(1);
        }
        std::string comment = "change " + std::to_string(++serial);
        int dice = (int)(random() % 100);
        if (live.size() < 5 || dice < 30) {
            NOTEHANDLE h = NULLHANDLE;
            ASSERT_EQ(NOERROR, NSFNoteCreate(hDB, &h));
            SetPerson(h, serial, comment);
            ASSERT_EQ(NOERROR, NSFNoteUpdate(h, 0));
            NOTEID id = 0;
            NSFNoteGetInfo(h, _NOTE_ID, &id);
            live.emplace_back(id, UnidText(h));
            NSFNoteClose(h);
            finals[live.back().second].comment = comment;
            counts.adds++;
        } else {
            size_t pick = random() % live.size();
            auto [id, unid] = live[pick];
            if (dice < 85) {
                bool rename = dice >= 70;
                Change(hDB, id, [&](NOTEHANDLE h) {
                    NSFItemSetText(h, "Comment", comment.c_str(), MAXWORD);
                    if (rename) SetPerson(h, serial, comment);
                }, &counts);
                finals[unid].comment = comment;
                (rename ? counts.renames : counts.modifies)++;
            } else {
                ASSERT_EQ(NOERROR, NSFNoteDelete(hDB, id, 0));
                finals[unid].deleted = true;
                live.erase(live.begin() + (long)pick);
                counts.deletes++;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    NSFDbClose(hDB);

    // A pass that started after the writer stopped has ended.
    size_t passes = console.CountLines(kPassDone);
    ASSERT_TRUE(console.WaitForCount(kPassDone, passes + 2, proctest::Scaled(20000))) << ConsoleLog();
    std::map<std::string, std::string> firstEvent, latestComment;
    std::set<std::string> obituaries;
    size_t documents = 0;
    for (const json& doc : Dump("out.nsf")) {
        std::string unid = Text(doc, "Source Note ID"), event = Text(doc, "Event");
        documents++;
        if (event == "DELETE") obituaries.insert(unid);
        if (event != "ADD" && event != "MODIFY") continue;
        firstEvent.emplace(unid, event);
        latestComment[unid] = Text(doc, "Comment");
    }
    int addsNotFirst = 0;
    for (const auto& [unid, final] : finals) {
        // Every note here was added by the writer: its first change document is an add.
        if (firstEvent.count(unid) && firstEvent[unid] != "ADD") {
            ADD_FAILURE() << "add of " << unid << " first published as " << firstEvent[unid];
            addsNotFirst++;
        }
        if (final.deleted)
            EXPECT_EQ(1u, obituaries.count(unid)) << "deletion of " << unid << " not published";
        else
            EXPECT_EQ(final.comment, latestComment[unid]) << "last change of " << unid << " not published";
    }
    printf("no change lost: %d s, %d changes (%d adds, %d modifies, %d renames, %d deletes), "
           "%d writer conflicts, %zu passes, %zu documents, %d adds first published as a modify\n",
           seconds, serial, counts.adds, counts.modifies, counts.renames, counts.deletes, counts.conflicts,
           console.CountLines(kPassDone), documents, addsNotFirst);
    EXPECT_EQ(0, console.Quit());
}

}  // namespace
