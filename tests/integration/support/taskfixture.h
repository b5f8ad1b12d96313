// taskfixture.h - the fixture of the fault and bad-input process tests: a
// directory database changed through the runtime API from the test process,
// the zelrep instance TEST over it (output out.nsf), the task loaded in
// nserver, and the output database read back and checked document by
// document; and a write lock held on a database file, as a second writer
// would hold it.
//
// Owned by the fault tests (faults_test.cpp, badinput_test.cpp). Everything
// lives in the test's own data directory (proctest::ProcessTest).
#ifndef ZELREP_TESTS_TASKFIXTURE_H
#define ZELREP_TESTS_TASKFIXTURE_H

#include <sqlite3.h>
#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "nrt_env.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "nsfsearch.h"
#include "proctest.h"

namespace taskfixture {

const char kFilter[] =
    "<publisher-filter>\n"
    "  <allow-class class-name=\"Person\">\n"
    "    <allow-attr attr-name=\"FullName\"/><allow-attr attr-name=\"Comment\"/>\n"
    "  </allow-class>\n"
    "</publisher-filter>\n";
const char kPassDone[] = "Orvane - TEST: ZEL Replication complete";
const char kNoteProcessed[] = "Orvane - TEST: Processing attributes for Note ";

// A regular expression that matches text literally.
inline std::string Literal(const std::string& text) {
    std::string quoted;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) quoted += '\\';
        quoted += c;
    }
    return quoted;
}

// One directory note written by the test.
struct Person {
    NOTEID id = 0;
    std::string unid;
};

// One document of the output database as the reader finds it.
struct OutputDocument {
    bool opened = false;
    std::string unid;  // "Source Note ID"
    std::string event;
    std::string comment;
    std::vector<std::string> missing;  // items its kind must have but lacks
};

inline std::string ItemText(NOTEHANDLE h, const char* item) {
    char text[1024] = "";
    WORD length = NSFItemGetText(h, item, text, sizeof(text));
    return std::string(text, length < sizeof(text) ? length : sizeof(text) - 1);
}

// The items a document of its kind must carry, by its "Event".
inline std::vector<const char*> RequiredItems(const std::string& event) {
    if (event == "DELETE") return {"Source Note ID", "Event"};
    if (event == "rename") return {"Type", "Source Note ID", "Event", "DN", "RDN", "CN"};
    return {"Type", "Source Note ID", "Event"};
}

inline OutputDocument ReadDocument(DBHANDLE hDB, NOTEID id) {
    OutputDocument doc;
    NOTEHANDLE h = NULLHANDLE;
    if (NSFNoteOpen(hDB, id, 0, &h) != NOERROR) return doc;
    doc.opened = true;
    doc.unid = ItemText(h, "Source Note ID");
    doc.event = ItemText(h, "Event");
    doc.comment = ItemText(h, "Comment");
    bool knownEvent = doc.event == "ADD" || doc.event == "MODIFY" || doc.event == "DELETE" ||
                      doc.event == "rename";
    if (!knownEvent) doc.missing.push_back("Event");
    for (const char* item : RequiredItems(doc.event))
        if (!NSFItemIsPresent(h, item, MAXWORD)) doc.missing.push_back(item);
    NSFNoteClose(h);
    return doc;
}

inline STATUS LNCALLBACK CollectNoteId(void* ids, SEARCH_MATCH* match, ITEM_TABLE*) {
    SEARCH_MATCH found;
    memcpy(&found, match, sizeof(found));
    if (found.SERetFlags & SE_FMATCH) static_cast<std::vector<NOTEID>*>(ids)->push_back(found.ID.NoteID);
    return NOERROR;
}

// Holds a database file's write lock from its construction until Release:
// another process's writes wait for it up to their busy time-out, and fail.
class WriteLock {
public:
    explicit WriteLock(const std::string& path) {
        EXPECT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db_));
        sqlite3_busy_timeout(db_, 10000);
        EXPECT_EQ(SQLITE_OK, sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr))
            << sqlite3_errmsg(db_);
    }
    ~WriteLock() { Release(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    void Release() {
        if (db_ == nullptr) return;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
        db_ = nullptr;
    }

private:
    sqlite3* db_ = nullptr;
};

class TaskTest : public proctest::ProcessTest {
protected:
    void TearDown() override {
        if (hDirectory_ != NULLHANDLE) NSFDbClose(hDirectory_);
        hDirectory_ = NULLHANDLE;
        proctest::ProcessTest::TearDown();
    }

    // names.nsf, open in this process for the test's changes.
    void CreateDirectory() {
        NRTSetUserName("CN=Writer/O=Org1");
        ASSERT_EQ(NOERROR, NSFDbCreate("names.nsf", DBCLASS_NOTEFILE, FALSE));
        ASSERT_EQ(NOERROR, NSFDbOpen("names.nsf", &hDirectory_));
    }

    // The instance TEST: names.nsf to out.nsf, every second, NORMAL trace,
    // only changed attributes.
    void CreateInstance() {
        testenv::WriteFile(DataPath("filter.xml"), kFilter);
        Configure({"--input", "names.nsf", "--output", "out.nsf", "--filter", DataPath("filter.xml"),
                   "--schedule", "1", "SECONDS", "--trace", "NORMAL", "--check-attrs", "on"});
    }

    // Changes the instance's document with nsfdb instance options.
    void Configure(const std::vector<std::string>& options) {
        std::vector<std::string> args = {"instance", "zelrpcfg.nsf", "TEST"};
        args.insert(args.end(), options.begin(), options.end());
        Nsfdb(args);
    }

    Person AddPerson(const std::string& name, const std::string& comment) {
        Person person;
        NOTEHANDLE h = NULLHANDLE;
        EXPECT_EQ(NOERROR, NSFNoteCreate(hDirectory_, &h));
        NSFItemSetText(h, "Type", "Person", MAXWORD);
        NSFItemSetText(h, "FullName", ("CN=" + name + "/OU=Unit/O=Org1").c_str(), MAXWORD);
        NSFItemSetText(h, "Comment", comment.c_str(), MAXWORD);
        EXPECT_EQ(NOERROR, NSFNoteUpdate(h, 0));
        NSFNoteGetInfo(h, _NOTE_ID, &person.id);
        ORIGINATORID oid;
        NSFNoteGetInfo(h, _NOTE_OID, &oid);
        char text[33];
        snprintf(text, sizeof(text), "%08X%08X%08X%08X", (unsigned)oid.File.Innards[1],
                 (unsigned)oid.File.Innards[0], (unsigned)oid.Note.Innards[1],
                 (unsigned)oid.Note.Innards[0]);
        person.unid = text;
        NSFNoteClose(h);
        return person;
    }

    // Sets text items of the person (name, value) and saves it once.
    void Update(const Person& person, const std::vector<std::pair<std::string, std::string>>& items) {
        NOTEHANDLE h = NULLHANDLE;
        ASSERT_EQ(NOERROR, NSFNoteOpen(hDirectory_, person.id, 0, &h));
        for (const auto& item : items) NSFItemSetText(h, item.first.c_str(), item.second.c_str(), MAXWORD);
        EXPECT_EQ(NOERROR, NSFNoteUpdate(h, 0));
        NSFNoteClose(h);
    }

    void DeletePerson(const Person& person) { EXPECT_EQ(NOERROR, NSFNoteDelete(hDirectory_, person.id, 0)); }

    proctest::Console& StartServer(const std::vector<std::string>& extraArgs = {},
                                   const std::vector<std::string>& env = {}) {
        proctest::Console& console = StartConsole(proctest::BinDir(), extraArgs, env);
        EXPECT_TRUE(console.WaitForLine("Server console started on ")) << console.Output();
        return console;
    }

    // Loads the task; its process ID (0 when it did not start).
    pid_t Load(proctest::Console& console) {
        console.Command("load zelrep TEST");
        std::string line;
        if (!console.WaitForLine("Task zelrep \\(process [0-9]+\\) started", proctest::kDefaultTimeoutMs, &line)) {
            ADD_FAILURE() << "zelrep did not start\n" << ConsoleLog();
            return 0;
        }
        pid_t pid = (pid_t)std::atol(line.c_str() + line.find("process ") + 8);
        EXPECT_TRUE(console.WaitForLine("Orvane - TEST:  Initialization Complete")) << ConsoleLog();
        return pid;
    }

    // Sends "tell TEST quit" and waits for the task's end.
    void TellQuit(proctest::Console& console) {
        console.Command("tell TEST quit");
        EXPECT_TRUE(console.WaitForLine("Orvane - TEST:  Addin Process Exited\\.", 30000))
            << ConsoleLog();
    }

    // Asks the task for its configuration: true when it answered.
    static bool Serves(proctest::Console& console) {
        console.Command("tell TEST showconfig");
        return console.WaitForLine(Literal("Orvane - TEST: == ZELREP v2.1.1 =="));
    }

    // Opens the instance's document, the only document of zelrpcfg.nsf; the
    // caller closes both handles.
    void OpenInstanceDocument(DBHANDLE* hDB, NOTEHANDLE* hNote) {
        ASSERT_EQ(NOERROR, NSFDbOpen("zelrpcfg.nsf", hDB));
        std::vector<NOTEID> ids;
        ASSERT_EQ(NOERROR, NSFSearch(*hDB, NULLHANDLE, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr, CollectNoteId,
                                     &ids, nullptr));
        ASSERT_EQ(1u, ids.size());
        ASSERT_EQ(NOERROR, NSFNoteOpen(*hDB, ids[0], 0, hNote));
    }

    // Every document of out.nsf, in note ID order; none while it is missing.
    std::vector<OutputDocument> ReadOutput() {
        std::vector<OutputDocument> docs;
        DBHANDLE hDB = NULLHANDLE;
        if (NSFDbOpen("out.nsf", &hDB) != NOERROR) return docs;
        std::vector<NOTEID> ids;
        EXPECT_EQ(NOERROR, NSFSearch(hDB, NULLHANDLE, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr,
                                     CollectNoteId, &ids, nullptr));
        for (NOTEID id : ids) docs.push_back(ReadDocument(hDB, id));
        NSFDbClose(hDB);
        return docs;
    }

    // How many documents of the output carry this change.
    static int Published(const std::vector<OutputDocument>& docs, const std::string& unid,
                         const std::string& event, const std::string& comment = "") {
        int count = 0;
        for (const OutputDocument& doc : docs)
            if (doc.unid == unid && doc.event == event && doc.comment == comment) count++;
        return count;
    }

    // Fails the test for every document that does not open or lacks an item
    // its kind must have; the number of those.
    static int Damaged(const std::vector<OutputDocument>& docs) {
        int damaged = 0;
        for (const OutputDocument& doc : docs) {
            if (doc.opened && doc.missing.empty()) continue;
            damaged++;
            ADD_FAILURE() << "damaged output document of " << doc.unid << " (" << doc.event << ")"
                          << (doc.opened ? ", lacks " + doc.missing.front() : ", does not open");
        }
        return damaged;
    }

    DBHANDLE hDirectory_ = NULLHANDLE;
};

}  // namespace taskfixture

#endif
