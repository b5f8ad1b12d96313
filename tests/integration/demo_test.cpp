// demo_test.cpp - the before/after check of the demo: runs demo/run.sh
// (build skipped, data in a temporary directory) once, then compares the
// change documents of the demo's scheduled pass with what each directory
// change of the demo must publish, and checks that nothing else was
// published and that the run showed its steps and quit cleanly; and that
// the demo never empties a directory it did not make.
//
// Owned by the demo. The expectations name the people and groups of the
// sample directory (seed 7) that demo/run.sh changes; "before" is the
// migration's documents, which tell which source note is whose.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "proctest.h"

namespace {

using Json = nlohmann::json;

constexpr size_t kSamplePeople = 2000;
constexpr size_t kSampleGroups = 100;

// One document the pass must publish: its source (the ShortName of a
// person or the ListName of a group that the migration published, or
// "new") and every item but the Source Note ID and the runtime's own.
struct ExpectedDocument {
    const char* source;
    const char* items;
};

const ExpectedDocument kExpectedPass[] = {
    {"new", R"({"Event": "ADD", "Type": "Person", "NotesDN": "\\Acme\\Sales\\East\\Jane Doe",
        "FirstName": ["Jane"], "LastName": ["Doe"],
        "FullName": ["CN=Jane Doe/OU=East/OU=Sales/O=Acme", "Jane Doe/East/Sales/Acme", "Jane Doe", "jdoe"],
        "ShortName": ["jdoe"], "InternetAddress": ["jane.doe@acme.example.com"],
        "OfficePhoneNumber": ["+1 555 010 1000"], "Department": ["Sales"],
        "JobTitle": ["Account Manager"], "CompanyName": ["Acme Corporation"]})"},
    {"new", R"({"Event": "ADD", "Type": "Group", "NotesDN": "Demo Launch Team",
        "Members": ["CN=Jane Doe/OU=East/OU=Sales/O=Acme", "CN=Carlos Bennett/OU=Finance/O=Acme"],
        "ListDescription": ["Everyone who launches the demo"], "GroupType": ["0"],
        "InternetAddress": ["demo-launch-team@acme.example.com"]})"},
    {"cbennett", R"({"Event": "MODIFY", "Type": "Person", "NotesDN": "\\Acme\\Finance\\Carlos Bennett",
        "JobTitle": ["Team Lead"], "OfficePhoneNumber": ["+1 555 010 2000"]})"},
    {"rgray", R"({"Event": "MODIFY", "Type": "Person", "NotesDN": "\\Acme\\Finance\\Robert W. Gray",
        "MailAddress": ""})"},
    {"ejackson", R"({"Event": "rename", "Type": "Person", "DN": "\\Acme\\Support\\APAC\\Emma Clarke",
        "RDN": "\\Acme\\Support\\APAC", "CN": "Emma Clarke"})"},
    {"ejackson", R"({"Event": "MODIFY", "Type": "Person", "LastName": ["Clarke"],
        "FullName": ["CN=Emma Clarke/OU=APAC/OU=Support/O=Acme", "Emma Clarke/APAC/Support/Acme", "Emma Clarke", "ejackson"],
        "InternetAddress": ["emma.clarke@acme.example.com"]})"},
    {"mroberts", R"({"Event": "rename", "Type": "Person", "DN": "\\Acme\\Engineering\\Matthew Roberts",
        "RDN": "\\Acme\\Engineering", "CN": "Matthew Roberts"})"},
    {"mroberts", R"({"Event": "MODIFY", "Type": "Person",
        "FullName": ["CN=Matthew Roberts/OU=Engineering/O=Acme", "Matthew Roberts/Engineering/Acme", "Matthew Roberts", "mroberts"],
        "Department": ["Engineering"]})"},
    {"LocalDomainServers", R"({"Event": "MODIFY", "Type": "Group", "NotesDN": "LocalDomainServers",
        "Members": ["CN=Mail01/O=Acme", "CN=Mail02/O=Acme", "CN=Mail03/O=Acme", "CN=Mail04/O=Acme", "CN=Mail05/O=Acme"]})"},
    {"wjensen", R"({"Event": "DELETE"})"},
    {"Office Munich Announcements", R"({"Event": "DELETE"})"},
};

// Notes the demo changes without a document to show for it: one change
// made by the loop-detect ID, one of an attribute outside the filter.
constexpr size_t kUnpublishedChanges = 2;

std::string FirstText(const Json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_array() && !value.empty() && value[0].is_string()) return value[0].get<std::string>();
    return "";
}

// A published document as the expectations read: its items without the
// source and the runtime's own, and the source by its name.
struct PublishedDocument {
    std::string source;
    Json items;
};

class DemoTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dataDir_ = testenv::MakeTempDir("demo");
        ASSERT_FALSE(dataDir_.empty());
        proctest::StartOptions options;
        options.env = {"DEMO_DATA=" + dataDir_,
                       "BUILD_DIR=" + std::filesystem::path(proctest::BinDir()).parent_path().string()};
        run_ = proctest::Run({proctest::SourceDir() + "/demo/run.sh", "--no-build"}, "", options,
                             proctest::Scaled(180000));
        dump_ = proctest::Run({proctest::BinPath("nsfdb"), "--data", dataDir_, "dump", "dirupd.nsf"});
        for (const std::string& line : proctest::Lines(dump_.out))
            if (!line.empty()) documents_.push_back(Json::parse(line));
    }

    static void TearDownTestSuite() {
        std::error_code ignored;
        std::filesystem::remove_all(dataDir_, ignored);
        documents_.clear();
    }

    static std::vector<Json> MigrationDocuments() {
        size_t count = std::min(documents_.size(), kSamplePeople + kSampleGroups);
        return std::vector<Json>(documents_.begin(), documents_.begin() + (long)count);
    }

    // The documents after the migration's, with their sources named as the
    // migration's documents name them.
    static std::vector<PublishedDocument> PassDocuments() {
        std::map<std::string, std::string> names;
        for (const Json& document : MigrationDocuments()) {
            const Json& items = document["items"];
            names[items.value("Source Note ID", "")] =
                items.contains("ShortName") ? FirstText(items["ShortName"]) : FirstText(items["NotesDN"]);
        }
        std::vector<PublishedDocument> published;
        for (size_t i = MigrationDocuments().size(); i < documents_.size(); ++i) {
            Json items = documents_[i]["items"];
            std::string unid = items.value("Source Note ID", "");
            for (const char* own : {"Source Note ID", "$UpdatedBy", "$Revisions"}) items.erase(own);
            published.push_back({names.count(unid) ? names[unid] : "new", items});
        }
        return published;
    }

    static std::string dataDir_;
    static proctest::RunResult run_;
    static proctest::RunResult dump_;  // nsfdb dump of the output database
    static std::vector<Json> documents_;
};

std::string DemoTest::dataDir_;
proctest::RunResult DemoTest::run_;
proctest::RunResult DemoTest::dump_;
std::vector<Json> DemoTest::documents_;

TEST_F(DemoTest, RunsEveryStepAndQuitsCleanly) {
    ASSERT_EQ(0, run_.exitCode) << run_.out << run_.err;
    EXPECT_EQ("", run_.err);
    for (int step = 1; step <= 10; ++step)
        EXPECT_TRUE(proctest::Matches(run_.out, "\\[" + std::to_string(step) + "/10\\] ")) << "step " << step;
    const char* const shown[] = {
        "Orvane - DEMO:  Initialization Complete\\.",
        "Orvane - DEMO: 2100 entries found, 2100 updated",
        "Orvane - DEMO:  Suspended",
        "DEMO:  Resuming process",
        "Event +Type +Source Note ID +NotesDN/DN +Items",
        "Orvane - DEMO: == Current Configuration ==",
        "\tLoop Detect is looking for CN=Sync Agent/O=Acme",
        "\tZELREP completed the last update on ",
        "Orvane - DEMO:  Addin Process Exited\\.",
        "Server console stopped\\.",
        "Demo finished in [0-9]+ s",
        "console\\.log",
    };
    for (const char* line : shown) EXPECT_TRUE(proctest::Matches(run_.out, line)) << line << "\n" << run_.out;
    EXPECT_TRUE(proctest::Matches(testenv::ReadFile(dataDir_ + "/console.log"), "Task zelrep .* ended with status 0"));
    EXPECT_FALSE(std::filesystem::exists(dataDir_ + "/console.in")) << "the console's input is left behind";
}

TEST_F(DemoTest, MigrationPublishesEveryPersonAndGroupOnceAsAnAdd) {
    ASSERT_EQ(0, dump_.exitCode) << dump_.err;
    std::vector<Json> migration = MigrationDocuments();
    ASSERT_EQ(kSamplePeople + kSampleGroups, migration.size());
    std::map<std::string, size_t> perType;
    std::map<std::string, int> perSource;
    for (const Json& document : migration) {
        const Json& items = document["items"];
        EXPECT_EQ("ADD", items.value("Event", "")) << document.dump();
        perType[items.value("Type", "")]++;
        perSource[items.value("Source Note ID", "")]++;
    }
    EXPECT_EQ(kSamplePeople, perType["Person"]);
    EXPECT_EQ(kSampleGroups, perType["Group"]);
    EXPECT_EQ(migration.size(), perSource.size()) << "a source note was published twice";
}

TEST_F(DemoTest, PassPublishesWhatEachChangeMustAndNothingElse) {
    ASSERT_EQ(0, dump_.exitCode) << dump_.err;
    std::vector<PublishedDocument> published = PassDocuments();

    std::vector<bool> matched(published.size(), false);
    for (const ExpectedDocument& expected : kExpectedPass) {
        Json items = Json::parse(expected.items);
        bool found = false;
        for (size_t i = 0; i < published.size() && !found; ++i) {
            if (matched[i] || published[i].source != expected.source || published[i].items != items) continue;
            matched[i] = found = true;
        }
        EXPECT_TRUE(found) << "not published for " << expected.source << ": " << items.dump();
    }
    for (size_t i = 0; i < published.size(); ++i)
        EXPECT_TRUE(matched[i]) << "published, not expected, for " << published[i].source << ": "
                                << published[i].items.dump();

    for (size_t i = 0; i < published.size(); ++i) {
        if (published[i].items.value("Event", "") != "rename") continue;
        ASSERT_LT(i + 1, published.size()) << "a rename document ends the pass";
        EXPECT_EQ(published[i].source, published[i + 1].source) << "a rename is not followed by its change";
        EXPECT_EQ("MODIFY", published[i + 1].items.value("Event", ""));
    }

    // The pass counts every changed note, and every document but the
    // rename documents.
    size_t renames = (size_t)std::count_if(std::begin(kExpectedPass), std::end(kExpectedPass),
                                           [](const ExpectedDocument& expected) {
                                               return Json::parse(expected.items)["Event"] == "rename";
                                           });
    size_t counted = std::size(kExpectedPass) - renames;
    std::string summary = "DEMO: " + std::to_string(counted + kUnpublishedChanges) + " entries found, " +
                          std::to_string(counted) + " updated";
    EXPECT_TRUE(proctest::Matches(run_.out, summary)) << summary << "\n" << run_.out;
}

// The demo empties its data directory: one holding files that the demo
// did not make is refused and left as it is.
class DemoDataDirTest : public DataDirTest {};

TEST_F(DemoDataDirTest, RefusesADirectoryItDidNotMake) {
    testenv::WriteFile(DataPath("precious.txt"), "keep me");
    proctest::StartOptions options;
    options.env = {"DEMO_DATA=" + dataDir_};
    proctest::RunResult run = proctest::Run({proctest::SourceDir() + "/demo/run.sh", "--no-build"}, "", options);
    EXPECT_EQ(1, run.exitCode) << run.out << run.err;
    EXPECT_TRUE(proctest::Matches(run.err, "holds files the demo did not make")) << run.err;
    EXPECT_EQ("keep me", testenv::ReadFile(DataPath("precious.txt")));
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dataDir_), std::filesystem::directory_iterator()));
}

}  // namespace
