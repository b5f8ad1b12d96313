// nsfdbtool_test.cpp - process tests of the nsfdb database tool: documents
// written from JSON and read back (also through the runtime itself),
// updates and deletions, the sample directory, the instance writer, the
// table output, and the exit codes and messages of bad input.
//
// Owned by the nsfdb tool. Each test runs nsfdb on its own data directory.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "idtable.h"
#include "misc.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "ostime.h"
#include "proctest.h"

namespace {

using Json = nlohmann::json;

const char kAllKinds[] = R"({"items": {
    "Text": "plain",
    "Accented": "Zoë O'Brien, Jr.",
    "List": ["CN=Jane Doe/OU=Sales/O=Acme", "", "Jane Doe"],
    "EmptyList": [],
    "Number": 1250.5,
    "Whole": 42,
    "Negative": -3,
    "Numbers": {"numbers": [10, 20.5, [1, 2]]},
    "When": {"time": "2019/03/01 09:00:00 AM GMT"},
    "Times": {"times": ["2026/01/05 08:00:00 AM GMT",
                        ["2026/01/05 04:00:00 PM GMT", "2026/01/05 05:00:00 PM GMT"]]}}})";

const char* const kInstanceItems[] = {
    "InstanceID_text",       "InputDB_text",           "OutputDB_text",
    "LoopDetectID_text",     "LoopDetect_number",      "DirectoryFlag_number",
    "AutoRefresh_number",    "ScheduleUnits_text",     "ScheduleValue_number",
    "DNFormat_number",       "CheckAttrs_number",      "WriteTimeStamps_number",
    "ConsoleTraceLevel_number", "LastEventTimeStamp_TS", "PublisherFilter_text"};

std::string Trimmed(const std::string& text) {
    size_t end = text.find_last_not_of("\r\n ");
    return end == std::string::npos ? "" : text.substr(0, end + 1);
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool ParseUnid(const std::string& text, UNIVERSALNOTEID* unid) {
    return text.size() == 32 &&
           std::sscanf(text.c_str(), "%8X%8X%8X%8X", &unid->File.Innards[1], &unid->File.Innards[0],
                       &unid->Note.Innards[1], &unid->Note.Innards[0]) == 4;
}

TIMEDATE TimeFromText(const std::string& text) {
    std::string copy = text;
    char* cursor = copy.data();
    TIMEDATE time = {{0, 0}};
    EXPECT_EQ(NOERROR, ConvertTextToTIMEDATE(nullptr, nullptr, &cursor, (WORD)copy.size(), &time))
        << text;
    return time;
}

std::string NowText() {
    TIMEDATE now;
    OSCurrentTIMEDATE(&now);
    TFMT format = {TDFMT_FULL4, TTFMT_FULL, TZFMT_ALWAYS, TSFMT_DATETIME};
    char text[MAXALPHATIMEDATE + 1];
    WORD length = 0;
    EXPECT_EQ(NOERROR, ConvertTIMEDATEToText(nullptr, &format, &now, text, MAXALPHATIMEDATE, &length));
    return std::string(text, length);
}

// Items without the ones the runtime adds on every save.
Json OwnItems(const Json& document) {
    Json items = document.at("items");
    items.erase("$UpdatedBy");
    items.erase("$Revisions");
    return items;
}

class NsfdbTest : public proctest::ProcessTest {
protected:
    std::string Put(const std::string& db, const std::string& json, const std::string& as = "") {
        std::vector<std::string> args = {"put", db};
        if (!as.empty()) args.insert(args.begin(), {"--as", as});
        return Trimmed(Nsfdb(args, json));
    }

    Json Get(const std::string& db, const std::string& unid) {
        return Json::parse(Nsfdb({"get", db, unid}));
    }

    std::vector<Json> Dump(const std::string& db, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"dump", db};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<Json> documents;
        for (const std::string& line : proctest::Lines(Nsfdb(args)))
            if (!line.empty()) documents.push_back(Json::parse(line));
        return documents;
    }

    // The one instance document of the configuration database.
    Json InstanceDocument(const std::string& db) {
        std::vector<Json> documents = Dump(db);
        EXPECT_EQ(1u, documents.size());
        return documents.empty() ? Json() : documents[0].at("items");
    }
};

TEST_F(NsfdbTest, PutAndGetRoundTripEveryItemKind) {
    Nsfdb({"create", "kinds.nsf", "--title", "Kinds"});
    std::string unid = Put("kinds.nsf", kAllKinds, "Jane Doe/Sales/Acme");
    ASSERT_EQ(32u, unid.size());

    Json document = Get("kinds.nsf", unid);
    EXPECT_EQ(unid, document.at("unid"));
    EXPECT_EQ(1, document.at("class"));
    EXPECT_EQ(Json::parse(kAllKinds).at("items"), OwnItems(document));
    EXPECT_EQ(Json::array({"CN=Jane Doe/OU=Sales/O=Acme"}), document.at("items").at("$UpdatedBy"));

    // The runtime itself sees the Notes types and values.
    DBHANDLE db = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpen("kinds.nsf", &db));
    UNIVERSALNOTEID id;
    ASSERT_TRUE(ParseUnid(unid, &id));
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFNoteOpenByUNID(db, &id, 0, &note));
    const std::pair<const char*, WORD> types[] = {
        {"Text", TYPE_TEXT},          {"List", TYPE_TEXT_LIST},        {"Number", TYPE_NUMBER},
        {"Numbers", TYPE_NUMBER_RANGE}, {"When", TYPE_TIME},           {"Times", TYPE_TIME_RANGE}};
    for (const auto& [name, type] : types) {
        WORD actual = 0;
        EXPECT_EQ(NOERROR, NSFItemInfo(note, name, (WORD)strlen(name), nullptr, &actual, nullptr, nullptr));
        EXPECT_EQ(type, actual) << name;
    }
    NUMBER number = 0;
    EXPECT_TRUE(NSFItemGetNumber(note, "Number", &number));
    EXPECT_EQ(1250.5, number);
    EXPECT_EQ(3, NSFItemGetTextListEntries(note, "List"));
    char entry[64] = "";
    NSFItemGetTextListEntry(note, "List", 2, entry, sizeof(entry) - 1);
    EXPECT_STREQ("Jane Doe", entry);
    TIMEDATE when;
    ASSERT_TRUE(NSFItemGetTime(note, "When", &when));
    TIMEDATE expected = TimeFromText("2019/03/01 09:00:00 AM GMT");
    EXPECT_EQ(0, TimeDateCompare(&expected, &when));
    NSFNoteClose(note);
    NSFDbClose(db);
}

TEST_F(NsfdbTest, UpdateReplacesGivenItemsAndRemovesNulls) {
    Nsfdb({"create", "docs.nsf"});
    std::string unid = Put("docs.nsf", R"({"items": {"A": "one", "B": 2, "C": ["x", "y"]}})");
    std::string again = Put("docs.nsf",
                            R"({"unid": ")" + unid + R"(", "items": {"A": "uno", "B": null, "D": 4}})",
                            "CN=Editor/O=Acme");
    EXPECT_EQ(unid, again);

    Json document = Get("docs.nsf", unid);
    EXPECT_EQ((Json{{"A", "uno"}, {"C", {"x", "y"}}, {"D", 4}}), OwnItems(document));
    EXPECT_EQ(Json::array({"CN=Server/O=Org", "CN=Editor/O=Acme"}), document.at("items").at("$UpdatedBy"));
    EXPECT_EQ(1u, Dump("docs.nsf").size());

    // What get writes, put reads back into the same note; with --new into a
    // new one.
    std::string got = Nsfdb({"get", "docs.nsf", unid});
    EXPECT_EQ(unid, Put("docs.nsf", got));
    EXPECT_EQ(OwnItems(document), OwnItems(Get("docs.nsf", unid)));
    proctest::RunResult copied = RunNsfdb({"put", "docs.nsf", "--new"}, got);
    EXPECT_EQ(0, copied.exitCode) << copied.err;
    EXPECT_NE(unid, Trimmed(copied.out));
    EXPECT_EQ(2u, Dump("docs.nsf").size());
}

TEST_F(NsfdbTest, FailedDocumentWritesNothingOfItself) {
    Nsfdb({"create", "docs.nsf"});
    std::string unid = Put("docs.nsf", R"({"items": {"Name": "kept", "N": 1}})");
    std::string lines = R"({"items": {"Name": "first"}})"
                        "\n"
                        R"({"items": {"Name": "second", "Flag": true}})"
                        "\n"
                        R"({"unid": ")" + unid + R"(", "items": {"Name": "changed", "N": {"time": "soon"}}})"
                        "\n"
                        R"({"items": {"Name": "fourth"}})"
                        "\n"
                        "{not json\n";
    proctest::RunResult result = RunNsfdb({"put", "docs.nsf"}, lines);
    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ(2u, proctest::Lines(Trimmed(result.out)).size()) << result.out;
    EXPECT_TRUE(proctest::Matches(result.err, "line 2: item \"Flag\"")) << result.err;
    EXPECT_TRUE(proctest::Matches(result.err, "line 3: item \"N\": .*\"soon\" is not a time")) << result.err;
    EXPECT_TRUE(proctest::Matches(result.err, "line 5: .*parse error")) << result.err;

    std::multiset<std::string> names;
    for (const Json& document : Dump("docs.nsf")) names.insert(document["items"]["Name"].get<std::string>());
    EXPECT_EQ((std::multiset<std::string>{"kept", "first", "fourth"}), names);
    EXPECT_EQ((Json{{"Name", "kept"}, {"N", 1}}), OwnItems(Get("docs.nsf", unid)));
}

TEST_F(NsfdbTest, DeleteLeavesStubThatDumpSkips) {
    Nsfdb({"create", "docs.nsf", "--title", "Docs"});
    std::string gone = Put("docs.nsf", R"({"items": {"Name": "gone"}})");
    std::string stays = Put("docs.nsf", R"({"items": {"Name": "stays"}})");
    Nsfdb({"delete", "docs.nsf", gone});

    std::vector<Json> documents = Dump("docs.nsf");
    ASSERT_EQ(1u, documents.size());
    EXPECT_EQ(stays, documents[0].at("unid"));

    std::string info = Nsfdb({"info", "docs.nsf"});
    EXPECT_TRUE(proctest::Matches(info, "Title: Docs\n")) << info;
    EXPECT_TRUE(proctest::Matches(info, "Documents: 1\n")) << info;
    EXPECT_TRUE(proctest::Matches(info, "Deletion stubs: 1\n")) << info;

    std::string modified = Nsfdb({"modified", "docs.nsf"});
    EXPECT_TRUE(proctest::Matches(modified, "Since: wildcard")) << modified;
    EXPECT_TRUE(proctest::Matches(modified, "yes +" + gone)) << modified;
    EXPECT_TRUE(proctest::Matches(modified, "no +" + stays)) << modified;

    proctest::RunResult twice = RunNsfdb({"delete", "docs.nsf", gone, stays});
    EXPECT_EQ(0, twice.exitCode) << "a repeated deletion is done already: " << twice.err;
    EXPECT_TRUE(proctest::Matches(twice.err, gone + " .*was already deleted")) << twice.err;
    EXPECT_TRUE(Dump("docs.nsf").empty()) << "the other UNID is still deleted";
    EXPECT_EQ(0, RunNsfdb({"delete", "docs.nsf", gone, stays}).exitCode) << "safe to repeat again";
}

TEST_F(NsfdbTest, DumpAfterKeepsTheReadersPlaceAcrossDeletions) {
    Nsfdb({"create", "out.nsf"});
    std::vector<std::string> first = {Put("out.nsf", R"({"items": {"N": 1}})"),
                                      Put("out.nsf", R"({"items": {"N": 2}})")};
    std::vector<Json> read = Dump("out.nsf", {"--after", "0"});
    ASSERT_EQ(2u, read.size());
    unsigned long place = read.back().at("noteid").get<unsigned long>();

    Nsfdb({"delete", "out.nsf", first[0], first[1]});  // the reader removes what it processed
    std::string later = Put("out.nsf", R"({"items": {"N": 3}})");
    std::vector<Json> next = Dump("out.nsf", {"--after", std::to_string(place)});
    ASSERT_EQ(1u, next.size());
    EXPECT_EQ(later, next[0].at("unid"));
    EXPECT_GT(next[0].at("noteid").get<unsigned long>(), place);
    EXPECT_TRUE(Dump("out.nsf", {"--after", next[0].at("noteid").dump()}).empty());
}

TEST_F(NsfdbTest, PurgeRemovesOnlyStubsOlderThanAsked) {
    Nsfdb({"create", "out.nsf"});
    std::string gone = Put("out.nsf", R"({"items": {"N": 1}})");
    std::string stays = Put("out.nsf", R"({"items": {"N": 2}})");
    Nsfdb({"delete", "out.nsf", gone});

    EXPECT_EQ("purged 0 deletion stubs from database \"out.nsf\"\n",
              Nsfdb({"purge", "out.nsf", "--stubs-older-than", "1"}))
        << "a stub of today is kept";
    EXPECT_TRUE(proctest::Matches(Nsfdb({"info", "out.nsf"}), "Deletion stubs: 1\n"));
    EXPECT_EQ("purged 1 deletion stub from database \"out.nsf\"\n",
              Nsfdb({"purge", "out.nsf", "--stubs-older-than", "0"}));
    std::string info = Nsfdb({"info", "out.nsf"});
    EXPECT_TRUE(proctest::Matches(info, "Documents: 1\nDeletion stubs: 0\n")) << info;
    EXPECT_FALSE(proctest::Matches(Nsfdb({"modified", "out.nsf"}), gone)) << "no trace of the stub is left";

    proctest::RunResult missing = RunNsfdb({"purge", "out.nsf"});
    EXPECT_EQ(2, missing.exitCode);
    EXPECT_TRUE(proctest::Matches(missing.err, "purge needs --stubs-older-than DAYS")) << missing.err;
    (void)stays;
}

TEST_F(NsfdbTest, FindListsLiveDocumentsHoldingEveryValue) {
    Nsfdb({"create", "people.nsf"});
    std::string jane = Put("people.nsf", R"({"items": {"ShortName": ["jdoe", "jane"], "Department": "Sales"}})");
    std::string bob = Put("people.nsf", R"({"items": {"ShortName": "bob", "Department": "Sales", "Floor": 5}})");
    std::string gone = Put("people.nsf", R"({"items": {"ShortName": "jdoe", "Department": "Sales"}})");
    Nsfdb({"delete", "people.nsf", gone});

    EXPECT_EQ(jane + "\n", Nsfdb({"find", "people.nsf", "ShortName=jane"})) << "any entry of a list";
    EXPECT_EQ(jane + "\n" + bob + "\n", Nsfdb({"find", "people.nsf", "Department=Sales"})) << "note ID order";
    EXPECT_EQ(bob + "\n", Nsfdb({"find", "people.nsf", "department=Sales", "SHORTNAME=bob"}))
        << "every condition holds; item names in any case";
    EXPECT_EQ(jane + "\n", Nsfdb({"find", "people.nsf", "ShortName=jdoe"})) << "a deleted document is not found";

    for (const char* missing : {"ShortName=BOB", "Floor=5", "ShortName=bob=x", "Department=Sales "}) {
        proctest::RunResult result = RunNsfdb({"find", "people.nsf", missing});
        EXPECT_EQ(1, result.exitCode) << missing;
        EXPECT_EQ("", result.out) << missing;
        EXPECT_TRUE(proctest::Matches(result.err, "no document in database \"people.nsf\" holds")) << result.err;
    }
}

TEST_F(NsfdbTest, DumpSkipLeavesOutTheFirstLiveDocuments) {
    Nsfdb({"create", "docs.nsf"});
    std::string first = Put("docs.nsf", R"({"items": {"Name": "first"}})");
    std::string second = Put("docs.nsf", R"({"items": {"Name": "second"}})");
    std::string third = Put("docs.nsf", R"({"items": {"Name": "third"}})");
    Nsfdb({"delete", "docs.nsf", first});

    std::vector<Json> rest = Dump("docs.nsf", {"--skip", "1"});
    ASSERT_EQ(1u, rest.size());
    EXPECT_EQ(third, rest[0].at("unid"));
    EXPECT_EQ(2u, Dump("docs.nsf", {"--skip", "0"}).size());
    EXPECT_TRUE(Dump("docs.nsf", {"--skip", "2"}).empty());
    EXPECT_TRUE(Dump("docs.nsf", {"--skip", "99"}).empty());

    std::vector<std::string> table = proctest::Lines(Nsfdb({"dump", "docs.nsf", "--format", "table", "--skip", "1"}));
    ASSERT_GE(table.size(), 3u);
    EXPECT_TRUE(proctest::Matches(table[2], "Name=third$")) << table[2];
    EXPECT_TRUE(table.size() == 3 || table[3].empty()) << "one row only";
}

// An auditor of the owner's group, with GroupReadable=1: nsfdb's reading
// commands work on a database the auditor may not write, also while the
// owner holds it open with a change still in its log; writing is refused.
TEST_F(NsfdbTest, AuditorReadsADatabaseItMayNotWrite) {
    SKIP_UNLESS_ROOT();
    testenv::WriteFile(DataPath("notes.ini"), "GroupReadable=1\n");
    std::filesystem::permissions(dataDir_, std::filesystem::perms::group_read | std::filesystem::perms::group_exec,
                                 std::filesystem::perm_options::add);
    Nsfdb({"create", "people.nsf", "--title", "People"});
    std::string jane = Put("people.nsf", R"({"items": {"ShortName": "jdoe"}})");
    ASSERT_EQ(NOERROR, NRTSetDataDirectory(dataDir_.c_str()));
    DBHANDLE held = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpen("people.nsf", &held));
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFNoteCreate(held, &note));
    ASSERT_EQ(NOERROR, NSFItemSetText(note, "ShortName", "bob", MAXWORD));
    ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
    NSFNoteClose(note);

    proctest::StartOptions auditor = DataDirOptions();
    auditor.otherUser = true;
    struct stat info;
    ASSERT_EQ(0, stat(dataDir_.c_str(), &info));
    auditor.otherUserGroup = info.st_gid;
    auto asAuditor = [&](const std::vector<std::string>& args, const std::string& input = "") {
        std::vector<std::string> argv = {proctest::BinPath("nsfdb"), "--data", dataDir_};
        argv.insert(argv.end(), args.begin(), args.end());
        return proctest::Run(argv, input, auditor);
    };
    auto reads = [&] {
        proctest::RunResult info = asAuditor({"info", "people.nsf"});
        EXPECT_EQ(0, info.exitCode) << info.err;
        EXPECT_TRUE(proctest::Matches(info.out, "People")) << info.out;
        proctest::RunResult dump = asAuditor({"dump", "people.nsf"});
        EXPECT_EQ(0, dump.exitCode) << dump.err;
        EXPECT_EQ(2u, proctest::Lines(Trimmed(dump.out)).size()) << dump.out;
        EXPECT_EQ(0, asAuditor({"get", "people.nsf", jane}).exitCode);
        EXPECT_EQ(jane + "\n", asAuditor({"find", "people.nsf", "ShortName=jdoe"}).out);
        proctest::RunResult modified = asAuditor({"modified", "people.nsf"});
        EXPECT_TRUE(proctest::Matches(modified.out, "Notes: 2\n")) << modified.out << modified.err;
        proctest::RunResult put = asAuditor({"put", "people.nsf"}, R"({"items": {"ShortName": "eve"}})");
        EXPECT_EQ(1, put.exitCode);
        EXPECT_TRUE(proctest::Matches(put.err, "You are not authorized to perform that operation")) << put.err;
    };
    reads();
    NSFDbClose(held);  // the log is folded into the file and emptied
    reads();
}

TEST_F(NsfdbTest, ModifiedSinceListsOnlyLaterChanges) {
    Nsfdb({"create", "docs.nsf"});
    std::string before = Put("docs.nsf", R"({"items": {"Name": "before"}})");
    // The text keeps whole seconds, and a change time may run up to one
    // second ahead of the clock: two seconds and a little keep them apart.
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    std::string since = NowText();
    std::string after = Put("docs.nsf", R"({"items": {"Name": "after"}})");

    std::string listing = Nsfdb({"modified", "docs.nsf", "--since", since});
    EXPECT_TRUE(proctest::Matches(listing, "Notes: 1\n")) << listing;
    EXPECT_TRUE(proctest::Matches(listing, after)) << listing;
    EXPECT_FALSE(proctest::Matches(listing, before)) << listing;
}

TEST_F(NsfdbTest, ModifiedAsJsonGivesNotesAndTheUntilTime) {
    Nsfdb({"create", "docs.nsf"});
    std::string gone = Put("docs.nsf", R"({"items": {"Name": "gone"}})");
    std::string stays = Put("docs.nsf", R"({"items": {"Name": "stays"}})");
    Nsfdb({"delete", "docs.nsf", gone});

    Json listing = Json::parse(Nsfdb({"modified", "docs.nsf", "--format", "json"}));
    EXPECT_TRUE(listing.at("since").is_null()) << "the wildcard";
    ASSERT_EQ(2u, listing.at("notes").size()) << listing;
    EXPECT_EQ(gone, listing["notes"][0].at("unid")) << "note ID order";
    EXPECT_EQ(true, listing["notes"][0].at("deleted"));
    EXPECT_EQ(stays, listing["notes"][1].at("unid"));
    EXPECT_EQ(false, listing["notes"][1].at("deleted"));
    EXPECT_LT(listing["notes"][0].at("noteid").get<long>(), listing["notes"][1].at("noteid").get<long>());

    std::string until = listing.at("until").get<std::string>();
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    std::string later = Put("docs.nsf", R"({"items": {"Name": "later"}})");
    Json next = Json::parse(Nsfdb({"modified", "docs.nsf", "--format", "json", "--since", until}));
    EXPECT_EQ(until, next.at("since"));
    ASSERT_FALSE(next.at("notes").empty());
    EXPECT_EQ(later, next["notes"].back().at("unid"));
}

TEST_F(NsfdbTest, IsoTimesAreReadWhereverATimeIs) {
    Nsfdb({"create", "docs.nsf"});
    std::string unid = Put("docs.nsf", R"({"items": {"Z": {"time": "2026-12-08T09:41:10Z"},
        "Offset": {"time": "2026-12-08T11:41:10+02:00"}, "Half": {"time": "2026-12-08T15:11:10.25+05:30"},
        "Blank": {"time": "2026-12-08 09:41"}, "Range": {"times": ["2019-03-01T09:00:00Z"]}}})");
    Json items = Get("docs.nsf", unid).at("items");
    TIMEDATE z = TimeFromText(items["Z"]["time"]);
    EXPECT_EQ("2026/12/08 09:41:10 AM GMT", items["Z"]["time"]);
    for (const char* name : {"Offset", "Half"}) {
        TIMEDATE same = TimeFromText(items[name]["time"]);
        EXPECT_EQ(0, TimeDateCompare(&z, &same)) << name << ": " << items[name];
    }
    EXPECT_EQ("2026/12/08 11:41:10 AM ZE2", items["Offset"]["time"]) << "the time keeps its zone";
    EXPECT_EQ("2026/12/08 09:41:00 AM GMT", items["Blank"]["time"]) << "no zone: the server's (GMT here)";
    EXPECT_EQ("2019/03/01 09:00:00 AM GMT", items["Range"]["times"][0]);

    std::string listing = Nsfdb({"modified", "docs.nsf", "--since", "2026-12-08T09:41:10Z"});
    EXPECT_TRUE(proctest::Matches(listing, "Since: 2026/12/08 09:41:10 AM GMT\n")) << listing;
    std::string created = Nsfdb({"instance", "cfg.nsf", "ISO", "--last-event", "2026-12-07T20:43:21-05:00"});
    TIMEDATE lastEvent = TimeFromText(InstanceDocument("cfg.nsf").at("LastEventTimeStamp_TS").at("time"));
    TIMEDATE expected = TimeFromText("2026/12/08 01:43:21 AM GMT");
    EXPECT_EQ(0, TimeDateCompare(&expected, &lastEvent));
    (void)created;

    for (const char* wrong : {"2026-13-01", "2026-02-30T10:00Z", "2026-12-08T25:00Z", "2026-12-08T09:41:10+2",
                              "2026-12-08T09:41:10Zulu", "2026-12-8"}) {
        proctest::RunResult result = RunNsfdb({"modified", "docs.nsf", "--since", wrong});
        EXPECT_EQ(1, result.exitCode) << wrong;
        EXPECT_TRUE(proctest::Matches(result.err, "is not a time")) << wrong << ": " << result.err;
    }
}

TEST_F(NsfdbTest, SampleWritesCountsAndDirectoryShapes) {
    std::string out = Nsfdb({"sample", "names.nsf", "--people", "300", "--groups", "12", "--seed", "5"});
    EXPECT_TRUE(proctest::Matches(out, "300 people, 12 groups")) << out;
    EXPECT_TRUE(proctest::Matches(Nsfdb({"info", "names.nsf"}), "Title: Sample Directory\n"));

    std::set<std::string> people, groups, shortNames, mail;
    std::vector<Json> memberLists;
    bool accented = false, apostrophe = false, comma = false, nested = false;
    for (const Json& document : Dump("names.nsf")) {
        const Json& items = document.at("items");
        EXPECT_EQ(items.at("Form"), items.at("Type"));
        if (items.at("Type") == "Person") {
            const Json& fullName = items.at("FullName");
            ASSERT_GE(fullName.size(), 3u);
            std::string canonical = fullName[0], abbreviated = fullName[1];
            EXPECT_EQ(0u, canonical.find("CN=" + fullName[2].get<std::string>() + "/OU=")) << canonical;
            EXPECT_TRUE(EndsWith(canonical, "/O=Acme")) << canonical;
            EXPECT_EQ(std::string::npos, abbreviated.find('=')) << abbreviated;
            EXPECT_TRUE(EndsWith(abbreviated, "/Acme")) << abbreviated;
            EXPECT_TRUE(people.insert(canonical).second) << canonical;
            EXPECT_TRUE(shortNames.insert(items.at("ShortName")[0]).second);
            EXPECT_TRUE(mail.insert(items.at("InternetAddress")).second);
            for (const char* item : {"FirstName", "LastName", "MailServer", "MailFile", "Department",
                                     "CompanyName", "OfficePhoneNumber"})
                EXPECT_TRUE(items.contains(item)) << item;
            accented |= canonical.find_first_of("\xC3\xC5") != std::string::npos;
            apostrophe |= canonical.find('\'') != std::string::npos;
            comma |= canonical.find(", ") != std::string::npos;
        } else {
            ASSERT_EQ("Group", items.at("Type"));
            EXPECT_EQ("0", items.at("GroupType"));
            EXPECT_TRUE(groups.insert(items.at("ListName")).second);
            memberLists.push_back(items.at("Members"));
        }
    }
    EXPECT_EQ(300u, people.size());
    EXPECT_EQ(12u, groups.size());
    EXPECT_TRUE(groups.count("LocalDomainServers") && groups.count("OtherDomainServers"));
    EXPECT_TRUE(accented && apostrophe && comma);
    for (const Json& members : memberLists) {
        for (const Json& member : members) {
            std::string name = member;
            bool isGroup = groups.count(name) > 0;
            nested |= isGroup;
            EXPECT_TRUE(isGroup || people.count(name) || EndsWith(name, "/O=Acme")) << name;
        }
    }
    EXPECT_TRUE(nested);
    std::vector<Json> views = Dump("names.nsf", {"--class", "8"});
    ASSERT_FALSE(views.empty());
    EXPECT_EQ("People", views[0].at("items").at("$TITLE"));

    // The same seed gives the same directory; another seed another one.
    Nsfdb({"sample", "again.nsf", "--people", "300", "--groups", "12", "--seed", "5"});
    Nsfdb({"sample", "other.nsf", "--people", "300", "--groups", "12", "--seed", "6"});
    std::vector<Json> first = Dump("names.nsf"), same = Dump("again.nsf"), other = Dump("other.nsf");
    ASSERT_EQ(first.size(), same.size());
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(OwnItems(first[i]), OwnItems(same[i]));
    EXPECT_NE(OwnItems(first[0]), OwnItems(other[0]));
}

TEST_F(NsfdbTest, CreateFromCopiesViewsOnly) {
    Nsfdb({"sample", "names.nsf", "--people", "5", "--groups", "2", "--title", "Names"});
    Nsfdb({"create", "out.nsf", "--from", "names.nsf"});
    EXPECT_TRUE(Dump("out.nsf").empty());
    EXPECT_EQ(Dump("names.nsf", {"--class", "8"}).size(), Dump("out.nsf", {"--class", "8"}).size());
    EXPECT_TRUE(proctest::Matches(Nsfdb({"info", "out.nsf"}), "Title: Names\n"));

    proctest::RunResult exists = RunNsfdb({"create", "names.nsf"});
    EXPECT_EQ(1, exists.exitCode);
    EXPECT_TRUE(proctest::Matches(exists.err, "names.nsf")) << exists.err;
    EXPECT_EQ(7u, Dump("names.nsf").size()) << "a refused create leaves the database alone";
}

const char kOneClassFilter[] =
    "<publisher-filter><allow-class class-name=\"Person\"><allow-attr attr-name=\"FullName\"/>"
    "</allow-class></publisher-filter>";

TEST_F(NsfdbTest, InstanceCreatesEveryItemThenChangesOnlyGiven) {
    testenv::WriteFile(DataPath("filter.xml"), kOneClassFilter);
    std::string out = Nsfdb({"instance", "zelrpcfg.nsf", "LDAP1", "--input", "names.nsf", "--output",
                          "out.nsf", "--filter", DataPath("filter.xml")});
    EXPECT_TRUE(proctest::Matches(out, "created instance \"LDAP1\"")) << out;
    EXPECT_TRUE(proctest::Matches(Nsfdb({"info", "zelrpcfg.nsf"}), "Title: zelrep Configuration\n"));

    Json items = InstanceDocument("zelrpcfg.nsf");
    for (const char* name : kInstanceItems) {
        ASSERT_TRUE(items.contains(name)) << name;
        std::string item = name;
        bool rightKind = EndsWith(item, "_text")     ? items[item].is_string()
                         : EndsWith(item, "_number") ? items[item].is_number()
                                                     : items[item].contains("time");
        EXPECT_TRUE(rightKind) << item;
    }
    Json own = OwnItems(Json{{"items", items}});
    EXPECT_EQ(15u, own.size());
    own.erase("LastEventTimeStamp_TS");
    EXPECT_EQ((Json{{"InstanceID_text", "LDAP1"}, {"InputDB_text", "names.nsf"},
                    {"OutputDB_text", "out.nsf"}, {"LoopDetectID_text", ""},
                    {"ScheduleUnits_text", "SECONDS"}, {"ScheduleValue_number", 120},
                    {"LoopDetect_number", 0}, {"DirectoryFlag_number", 1}, {"AutoRefresh_number", 1},
                    {"DNFormat_number", 1}, {"CheckAttrs_number", 1}, {"WriteTimeStamps_number", 0},
                    {"ConsoleTraceLevel_number", 1},
                    {"PublisherFilter_text", kOneClassFilter}}),
              own);

    Nsfdb({"instance", "zelrpcfg.nsf", "LDAP1", "--schedule", "5", "minutes", "--trace", "debug",
        "--dn-format", "LDAP_TYPED", "--loop-detect-id", "Repl/Acme", "--loop-detect", "on",
        "--set", "Custom_number=7.5", "--set", "Note_text=hello"});
    Json changed = InstanceDocument("zelrpcfg.nsf");
    Json expected = items;
    expected["ScheduleValue_number"] = 5;
    expected["ScheduleUnits_text"] = "MINUTES";
    expected["ConsoleTraceLevel_number"] = 3;
    expected["DNFormat_number"] = 4;
    expected["LoopDetectID_text"] = "CN=Repl/O=Acme";
    expected["LoopDetect_number"] = 1;
    expected["Custom_number"] = 7.5;
    expected["Note_text"] = "hello";
    EXPECT_EQ(OwnItems(Json{{"items", expected}}), OwnItems(Json{{"items", changed}}));

    // The name matches exactly: another letter case is another instance.
    proctest::RunResult lower = RunNsfdb({"instance", "zelrpcfg.nsf", "ldap1"});
    EXPECT_EQ(0, lower.exitCode) << lower.err;
    EXPECT_TRUE(proctest::Matches(lower.err, "upper-cases")) << lower.err;
    EXPECT_EQ(2u, Dump("zelrpcfg.nsf").size());
}

// A filter of one class with one attribute, class tag and attribute as given.
std::string FilterWith(const std::string& classTag, const std::string& attrTag = "<allow-attr attr-name=\"FullName\"/>",
                       const std::string& endTag = "</allow-class>") {
    return "<publisher-filter>\n" + classTag + "\n" + attrTag + "\n" + endTag + "\n</publisher-filter>\n";
}

TEST_F(NsfdbTest, FilterCheckNamesEachPlaceTheTaskReadsOtherwise) {
    struct Case {
        std::string filter;
        std::string fault;
    };
    const std::vector<Case> cases = {
        {FilterWith("<allow-class class-name='Person'>"), "line 2: class-name='Person' is in single quotes"},
        {FilterWith("<allow-class class-name=\"Person\">", "<allow-attr attr-name='FullName'/>"),
         "line 3: attr-name='FullName' is in single quotes"},
        {FilterWith("<ALLOW-CLASS class-name=\"Person\">", "<allow-attr attr-name=\"FullName\"/>", "</ALLOW-CLASS>"),
         "line 2: <ALLOW-CLASS>: the task looks for \"<allow-class\" in lower case only"},
        {FilterWith("<allow-class Class-Name=\"Person\">"), "line 2: Class-Name: the task looks for \"class-name\""},
        {FilterWith("<allow-class class-name=\"Person\">", "<allow-attr attr-name=\"FullName\">"),
         "line 4: not well-formed XML \\(mismatched tag"},
        {"<publisher-filter>\n<allow-class class-name=\"Person\"/>\n<allow-attr attr-name=\"FullName\"/>\n</publisher-filter>",
         "line 2: <allow-class .../> has no end tag"},
        {FilterWith("<allow-class class-name=\"Person\">", "<allow-attr attr-name=\"FullName\"/>", "</allow-class >"),
         "line 4: </allow-class >: the task looks for the end tag"},
        {FilterWith("<allow-class class-name=\"" + std::string(128, 'P') + "\">"),
         "line 2: class-name of 128 characters; the task takes names of at most 127"},
        {FilterWith("<allow-class class-name=\"Person\">", "<allow-attr attr-name=\"" + std::string(200, 'A') + "\"/>"),
         "line 3: attr-name of 200 characters"},
        {FilterWith("<allow-class class-name=\"R&amp;D\">"),
         "line 2: class-name=\"R&amp;D\": the task decodes no entity and reads \"R&amp;D\", not \"R&D\""},
        {"<publisher-filter><!-- <allow-class class-name=\"Old\"></allow-class> --></publisher-filter>",
         "class \"Old\": the task reads it from text that is not an <allow-class> tag"},
        {"<publisher-filter/>", "the task finds no class in this filter"},
    };
    for (const Case& c : cases) {
        testenv::WriteFile(DataPath("filter.xml"), c.filter);
        proctest::RunResult result = RunNsfdb({"filter", "check", DataPath("filter.xml")});
        EXPECT_EQ(1, result.exitCode) << c.filter;
        EXPECT_TRUE(proctest::Matches(result.out, "filter\\.xml: " + c.fault)) << c.filter << "\n" << result.out;
        EXPECT_TRUE(proctest::Matches(result.out, "filter\\.xml: the task reads \\d+ class")) << result.out;

        proctest::RunResult refused = RunNsfdb({"instance", "cfg.nsf", "X", "--filter", DataPath("filter.xml")});
        EXPECT_EQ(1, refused.exitCode) << c.filter;
        EXPECT_TRUE(proctest::Matches(refused.err, "the filter is not written")) << refused.err;
        EXPECT_FALSE(std::filesystem::exists(DataPath("cfg.nsf"))) << "a refused filter creates nothing";
    }
}

TEST_F(NsfdbTest, FilterCheckPassesTheDemoFilterAndNamesClassesTheInputLacks) {
    std::string demo = proctest::SourceDir() + "/demo/filter.xml";
    proctest::RunResult result = RunNsfdb({"filter", "check", demo});
    EXPECT_EQ(0, result.exitCode) << result.out << result.err;
    EXPECT_TRUE(proctest::Matches(result.out, "the task reads 2 classes: Person \\(10 attributes\\), Group \\(4 attributes\\)"))
        << result.out;
    EXPECT_TRUE(proctest::Matches(result.out, "the task reads the filter as written\n$")) << result.out;
    EXPECT_EQ("", result.err);

    Nsfdb({"sample", "names.nsf", "--people", "3", "--groups", "1"});
    std::string filter;
    {
        std::ifstream in(demo);
        filter.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    filter.replace(filter.find("\"Person\""), 8, "\"Persn\"");
    testenv::WriteFile(DataPath("typo.xml"), filter);
    result = RunNsfdb({"filter", "check", DataPath("typo.xml"), "--input", "names.nsf"});
    EXPECT_EQ(0, result.exitCode) << "a class the directory lacks is a warning";
    EXPECT_EQ(std::string::npos, result.err.find("Group"));
    EXPECT_TRUE(proctest::Matches(result.err, "warning: .*typo\\.xml: class \"Persn\" occurs in no document of "
                                              "database \"names.nsf\""))
        << result.err;

    std::string created = Nsfdb({"instance", "cfg.nsf", "X", "--input", "names.nsf", "--filter", DataPath("typo.xml")});
    EXPECT_TRUE(proctest::Matches(created, "created instance")) << created;
    EXPECT_TRUE(proctest::Matches(RunNsfdb({"instance", "cfg.nsf", "X", "--input", "names.nsf", "--filter",
                                            DataPath("typo.xml")}).err,
                                  "class \"Persn\" occurs in no document"));
}

TEST_F(NsfdbTest, InstanceStartsAfterTheLastChangeOfItsInput) {
    Nsfdb({"sample", "names.nsf", "--people", "300", "--groups", "5"});
    Nsfdb({"instance", "zelrpcfg.nsf", "LDAP1", "--input", "names.nsf"});
    std::string person = Put("names.nsf", R"({"items": {"Form": "Person", "Type": "Person"}})");

    DBHANDLE cfg = NULLHANDLE, names = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpen("zelrpcfg.nsf", &cfg));
    UNIVERSALNOTEID unid;
    ASSERT_TRUE(ParseUnid(Dump("zelrpcfg.nsf").at(0).at("unid"), &unid));
    NOTEHANDLE note = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFNoteOpenByUNID(cfg, &unid, 0, &note));
    TIMEDATE since;
    ASSERT_TRUE(NSFItemGetTime(note, "LastEventTimeStamp_TS", &since));
    NSFNoteClose(note);
    NSFDbClose(cfg);

    // Only the change made after the set-up is later than its time.
    ASSERT_EQ(NOERROR, NSFDbOpen("names.nsf", &names));
    TIMEDATE until;
    DHANDLE table = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbGetModifiedNoteTable(names, NOTE_CLASS_DOCUMENT, since, &until, &table));
    ASSERT_TRUE(ParseUnid(person, &unid));
    NOTEID personId = 0;
    ASSERT_EQ(NOERROR, NSFDbGetNoteInfoByUNID(names, &unid, &personId, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, IDEntries(table));
    EXPECT_TRUE(IDIsPresent(table, personId));
    IDDestroyTable(table);
    NSFDbClose(names);
}

TEST_F(NsfdbTest, CheckTellsASoundDatabaseFromADamagedOne) {
    Nsfdb({"sample", "names.nsf", "--people", "300", "--groups", "5"});
    proctest::RunResult sound = RunNsfdb({"check", "names.nsf"});
    EXPECT_EQ(0, sound.exitCode) << sound.err;
    EXPECT_EQ("names.nsf: sound\n", sound.out);

    ASSERT_TRUE(testenv::DamagePages(DataPath("names.nsf"), 20, 23));
    proctest::RunResult damaged = RunNsfdb({"check", "names.nsf"});
    EXPECT_EQ(1, damaged.exitCode);
    EXPECT_TRUE(proctest::Matches(damaged.err, "database \"names.nsf\" is damaged: Database is damaged"))
        << damaged.err;
    EXPECT_EQ("", damaged.out);

    proctest::RunResult missing = RunNsfdb({"check", "nothere.nsf"});
    EXPECT_EQ(1, missing.exitCode);
    EXPECT_TRUE(proctest::Matches(missing.err, "cannot check database \"nothere.nsf\"")) << missing.err;
}

TEST_F(NsfdbTest, DataDirectoryComesFromOptionOrEnvironment) {
    proctest::StartOptions options;
    options.env = {"NOTES_DATA_DIR=" + dataDir_};
    proctest::RunResult created = proctest::Run({proctest::BinPath("nsfdb"), "create", "env.nsf"}, "", options);
    EXPECT_EQ(0, created.exitCode) << created.err;
    EXPECT_TRUE(std::filesystem::exists(DataPath("env.nsf")));
    EXPECT_EQ(0, RunNsfdb({"info", "ENV.NSF"}).exitCode);

    proctest::RunResult missing =
        proctest::Run({proctest::BinPath("nsfdb"), "--data", DataPath("missing"), "info", "env.nsf"});
    EXPECT_EQ(1, missing.exitCode);
    EXPECT_TRUE(proctest::Matches(missing.err, "cannot use data directory")) << missing.err;
}

TEST_F(NsfdbTest, BadInputFailsWithMessage) {
    Nsfdb({"create", "docs.nsf"});
    std::string outside = testenv::MakeTempDir("outside");
    std::filesystem::create_directory_symlink(outside, DataPath("lo"));
    testenv::WriteFile(DataPath("notes.txt"), "just text\n");
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {{"put", "docs.nsf"}, "{\"items\": ", 1, "input: parse error"},
        {{"put", "docs.nsf"}, "[1, 2]", 1, "document 1: a document must be a JSON object"},
        {{"put", "docs.nsf"}, R"({"Name": "x"})", 1, "unknown field \"Name\""},
        {{"put", "docs.nsf"}, std::string(100000, '[') + std::string(100000, ']'), 1, "nested deeper"},
        {{"put", "docs.nsf"}, R"({"items": {"X": {"numbers": ["a"]}}})", 1, "item \"X\": expected a number"},
        {{"put", "docs.nsf", "missing.json"}, "", 1, "cannot read \"missing.json\""},
        {{"put", "docs.nsf", dataDir_}, "", 1, "it is a directory"},
        {{"get", "nope.nsf", "0123456789ABCDEF0123456789ABCDEF"}, "", 1, "cannot open database \"nope.nsf\""},
        {{"get", "docs.nsf", "0123456789ABCDEF0123456789ABCDEF"}, "", 1,
         "0123456789ABCDEF0123456789ABCDEF in database \"docs.nsf\""},
        {{"get", "docs.nsf", "12345"}, "", 1, "\"12345\" is not a UNID"},
        {{"delete", "docs.nsf", "0123456789ABCDEF0123456789ABCDEF"}, "", 1, "cannot find document"},
        {{"info", "../outside.nsf"}, "", 1, "cannot open database"},
        {{"create", "lo/evil.nsf"}, "", 1, "Path must be relative to the data directory and must not lead outside it"},
        {{"put", "lo/evil.nsf"}, "{}", 1, "must not lead outside it"},
        {{"create", "notes.txt"}, "", 1, "cannot create database \"notes.txt\": File is not a database"},
        {{}, "", 2, "no command given"},
        {{"frobnicate"}, "", 2, "unknown command \"frobnicate\""},
        {{"get", "docs.nsf"}, "", 2, "get: missing arguments"},
        {{"dump", "docs.nsf", "--format", "xml"}, "", 2, "--format must be json or table"},
        {{"dump", "docs.nsf", "--class", "abc"}, "", 2, "--class must be a note class"},
        {{"dump", "docs.nsf", "--colour"}, "", 2, "unknown option --colour"},
        {{"dump", "docs.nsf", "--skip", "-1"}, "", 2, "--skip must be a whole number"},
        {{"dump", "docs.nsf", "--width", "80"}, "", 2, "--width needs --format table"},
        {{"dump", "docs.nsf", "--format", "table", "--width", "wide"}, "", 2, "--width must be a whole number"},
        {{"find", "docs.nsf", "Name"}, "", 2, "find needs ITEM=VALUE, not \"Name\""},
        {{"find", "docs.nsf", "=x"}, "", 2, "find needs ITEM=VALUE"},
        {{"find", "docs.nsf"}, "", 2, "find: missing arguments"},
        {{"sample", "s.nsf", "--people", "-1", "--groups", "1"}, "", 2, "--people must be a whole number"},
        {{"sample", "s.nsf", "--people", "1"}, "", 2, "sample needs --people N and --groups M"},
        {{"instance", "cfg.nsf", "X", "--schedule", "5"}, "", 2, "--schedule needs 2 values"},
        {{"instance", "cfg.nsf", "X", "--schedule", "5", "weeks"}, "", 2, "--schedule units"},
        {{"instance", "cfg.nsf", "X", "--schedule", "49711", "days"}, "", 2,
         "--schedule 49711 DAYS is longer than the task's longest interval \\(4294967295 seconds\\)"},
        {{"instance", "cfg.nsf", "X", "--schedule", "4294967295", "MINUTES"}, "", 2, "longest interval"},
        {{"instance", "cfg.nsf", "A\"B"}, "", 2, "cannot load an instance name containing a double quote"},
        {{"instance", "cfg.nsf", std::string(55, 'N')}, "", 2,
         "cannot load an instance name longer than 54 characters \\(55 given\\)"},
        {{"instance", "cfg.nsf", "X", "--directory", "maybe"}, "", 2, "--directory must be on or off"},
        {{"instance", "cfg.nsf", "X", "--set", "Y_number=abc"}, "", 2, "--set Y_number must be a number"},
        {{"instance", "cfg.nsf", "X", "--last-event", "yesterday-ish"}, "", 1, "is not a time"},
    };
    for (const Case& c : cases) {
        proctest::RunResult result = RunNsfdb(c.args, c.input);
        std::string what = c.args.empty() ? "(no arguments)" : c.args[0] + " " + c.input;
        EXPECT_EQ(c.exitCode, result.exitCode) << what << "\n" << result.err;
        EXPECT_TRUE(proctest::Matches(result.err, "nsfdb: .*" + c.message)) << what << "\n" << result.err;
        EXPECT_EQ(c.exitCode == 2, proctest::Matches(result.err, "usage: nsfdb")) << what;
    }
    EXPECT_TRUE(Dump("docs.nsf").empty());
    EXPECT_FALSE(std::filesystem::exists(DataPath("cfg.nsf"))) << "a refused instance creates nothing";
    EXPECT_TRUE(std::filesystem::is_empty(outside));
    EXPECT_EQ("just text\n", testenv::ReadFile(DataPath("notes.txt")));
    std::filesystem::remove_all(outside);

    proctest::RunResult help = RunNsfdb({"--help"});
    EXPECT_EQ(0, help.exitCode);
    EXPECT_TRUE(proctest::Matches(help.out, "usage: nsfdb"));
    for (const char* command : {"create", "dump", "purge", "instance", "filter check"})
        EXPECT_TRUE(proctest::Matches(help.out, std::string("\n  ") + command + " ")) << command;
    proctest::RunResult version = RunNsfdb({"--version"});
    EXPECT_EQ(0, version.exitCode);
    EXPECT_TRUE(proctest::Matches(version.out, "^nsfdb \\d+\\.\\d+\\.\\d+\n$")) << version.out;
}

TEST_F(NsfdbTest, UsageErrorShowsOnlyTheCommandsUsage) {
    proctest::RunResult result = RunNsfdb({"dump", "docs.nsf", "--colour"});
    EXPECT_EQ(2, result.exitCode);
    std::vector<std::string> lines = proctest::Lines(result.err);
    ASSERT_EQ(4u, lines.size()) << result.err;
    EXPECT_EQ("nsfdb: unknown option --colour for dump", lines[0]);
    EXPECT_EQ(0u, lines[1].find("usage: nsfdb [--data DIR] [--as NAME] dump DB [--format json|table]")) << lines[1];
    EXPECT_EQ("(nsfdb --help describes every command)", lines[3]);

    result = RunNsfdb({"frobnicate"});
    EXPECT_EQ(2, result.exitCode);
    EXPECT_EQ("nsfdb: unknown command \"frobnicate\"\nusage: nsfdb [--data DIR] [--as NAME] COMMAND ...\n"
              "(nsfdb --help describes every command)\n",
              result.err);
}

TEST_F(NsfdbTest, TableShowsChangeDocumentColumns) {
    Nsfdb({"create", "out.nsf"});
    const std::string source = "0123456789ABCDEF0123456789ABCDEF";
    Put("out.nsf", R"({"items": {"NotesDN": "CN=Jane Doe/OU=Sales/O=Acme", "Type": "Person", "Source Note ID": ")" +
                       source + R"(", "Event": "ADD", "Department": "Sales", "ShortName": ["jdoe", "jane"]}})");
    Put("out.nsf", R"({"items": {"Source Note ID": ")" + source + R"(", "Event": "DELETE"}})");
    Put("out.nsf", R"({"items": {"Type": "Person", "Source Note ID": ")" + source +
                       R"(", "Event": "rename", "DN": "CN=Jane Roe/OU=Sales/O=Acme", "RDN": "OU=Sales/O=Acme", "CN": "Jane Roe"}})");

    std::vector<std::string> lines = proctest::Lines(Nsfdb({"dump", "out.nsf", "--format", "table"}));
    ASSERT_GE(lines.size(), 5u);
    const std::string& header = lines[0];
    size_t typeColumn = header.find("Type"), sourceColumn = header.find("Source Note ID"),
           dnColumn = header.find("NotesDN/DN"), itemsColumn = header.find("Items");
    ASSERT_EQ(0u, header.find("Event"));
    ASSERT_TRUE(typeColumn < sourceColumn && sourceColumn < dnColumn && dnColumn < itemsColumn) << header;
    EXPECT_EQ(std::string::npos, lines[1].find_first_not_of("- ")) << lines[1];

    EXPECT_EQ(0u, lines[2].find("ADD"));
    EXPECT_EQ(typeColumn, lines[2].find("Person"));
    EXPECT_EQ(sourceColumn, lines[2].find(source));
    EXPECT_EQ(dnColumn, lines[2].find("CN=Jane Doe/OU=Sales/O=Acme"));
    EXPECT_EQ(itemsColumn, lines[2].find("Department=Sales | ShortName=jdoe; jane")) << lines[2];

    EXPECT_EQ(0u, lines[3].find("DELETE"));
    EXPECT_EQ(sourceColumn, lines[3].find(source));

    EXPECT_EQ(0u, lines[4].find("rename"));
    EXPECT_EQ(dnColumn, lines[4].find("CN=Jane Roe/OU=Sales/O=Acme"));
    EXPECT_TRUE(proctest::Matches(lines[4], "RDN=OU=Sales/O=Acme \\| CN=Jane Roe$")) << lines[4];
}

TEST_F(NsfdbTest, TableWithWidthBreaksItemsUnderTheirColumn) {
    Nsfdb({"create", "out.nsf"});
    Put("out.nsf", R"({"items": {"NotesDN": "CN=Jane Doe/O=Acme", "Type": "Person", "Event": "ADD",
        "FirstName": "Jane", "LastName": "Doe",
        "Members": ["CN=Mail01/O=Acme", "CN=Mail02/O=Acme", "CN=Mail03/O=Acme", "CN=Mail04/O=Acme"],
        "Comment": "one rather long comment that is wider than the column on its own", "Dept": "Sales"}})");
    const size_t width = 80;
    std::vector<std::string> lines =
        proctest::Lines(Nsfdb({"dump", "out.nsf", "--format", "table", "--width", std::to_string(width)}));
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    ASSERT_GE(lines.size(), 4u);
    size_t itemsColumn = lines[0].find("Items");
    ASSERT_NE(std::string::npos, itemsColumn);

    std::vector<std::string> cells;  // the Items cell, line by line
    for (size_t i = 2; i < lines.size(); ++i) {
        ASSERT_GT(lines[i].size(), itemsColumn) << lines[i];
        if (i > 2) {
            EXPECT_EQ(std::string(itemsColumn, ' '), lines[i].substr(0, itemsColumn)) << lines[i];
        }
        cells.push_back(lines[i].substr(itemsColumn));
        bool widerPiece = cells.back().find("rather long comment") != std::string::npos;
        EXPECT_TRUE(widerPiece || lines[i].size() <= width) << lines[i];
    }
    const std::vector<std::string> expected = {
        "FirstName=Jane | LastName=Doe",
        "Members=CN=Mail01/O=Acme;",
        "  CN=Mail02/O=Acme;",
        "  CN=Mail03/O=Acme;",
        "  CN=Mail04/O=Acme",
        "Comment=one rather long comment that is wider than the column on its own",
        "Dept=Sales"};
    EXPECT_EQ(expected, cells) << "width " << width << ", Items at column " << itemsColumn;

    std::vector<std::string> unlimited = proctest::Lines(Nsfdb({"dump", "out.nsf", "--format", "table", "--width", "0"}));
    ASSERT_GE(unlimited.size(), 3u);
    EXPECT_TRUE(proctest::Matches(unlimited[2], "Members=CN=Mail01/O=Acme; CN=Mail02/O=Acme; .* \\| Dept=Sales$"))
        << unlimited[2];
}

}  // namespace
