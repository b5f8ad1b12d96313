// storage_bench.cpp - speed of the storage runtime at directory sizes:
// (a) creating person documents, (b) the modified-note table for 1,000
// changed notes in directories of two sizes, (c) opening every note and
// reading every item, (d) creating documents of 8 items with one update
// each. (c) and (d) are also done directly with SQLite in one transaction,
// in the same run, as the floor they are compared with; (d) also with one
// SQLite transaction per note.
//
// Usage: storage_bench [PEOPLE] (default 100000); works in a temporary
// data directory that it removes.
#include <unistd.h>

#include <filesystem>
#include <random>

#include "benchutil.h"
#include "idtable.h"
#include "nrt_env.h"
#include "nsfdb.h"
#include "nsfnote.h"

using benchutil::CheckSql;
using benchutil::Median;
using benchutil::OpenRaw;
using benchutil::Seconds;

namespace {

constexpr int kChanged = 1000;
constexpr int kTableRuns = 5;
constexpr int kRuns = 3;  // (c) and (d) alternate with their floors, medians reported

void Check(STATUS status, const char* what) {
    if (status == NOERROR) return;
    std::fprintf(stderr, "%s failed with status %u\n", what, (unsigned)status);
    std::exit(1);
}

void SetText(NOTEHANDLE note, const char* item, const std::string& value) {
    Check(NSFItemSetText(note, item, value.c_str(), (WORD)value.size()), "NSFItemSetText");
}

void SetList(NOTEHANDLE note, const char* item, const std::vector<std::string>& entries) {
    for (const std::string& entry : entries)
        Check(NSFItemAppendTextList(note, item, entry.c_str(), (WORD)entry.size(), TRUE),
              "NSFItemAppendTextList");
}

// A person document with the items of the sample directory's people.
void WritePerson(DBHANDLE db, int n) {
    NOTEHANDLE note = NULLHANDLE;
    Check(NSFNoteCreate(db, &note), "NSFNoteCreate");
    std::string given = "Given" + std::to_string(n % 997), family = "Family" + std::to_string(n);
    std::string common = given + " " + family, shortName = "u" + std::to_string(n);
    SetText(note, "Form", "Person");
    SetText(note, "Type", "Person");
    SetList(note, "FullName", {"CN=" + common + "/OU=Sales/O=Acme", common + "/Sales/Acme", common, shortName});
    SetText(note, "FirstName", given);
    SetText(note, "MiddleInitial", "Q");
    SetText(note, "LastName", family);
    SetList(note, "ShortName", {shortName});
    SetText(note, "InternetAddress", shortName + "@acme.example");
    SetText(note, "MailAddress", "");
    SetText(note, "MailSystem", "1");
    SetText(note, "MailDomain", "Acme");
    SetList(note, "MailServer", {"CN=Mail01/O=Acme"});
    SetText(note, "MailFile", "mail\\" + shortName);
    SetText(note, "OfficePhoneNumber", "+1 555 01" + std::to_string(n % 100));
    SetText(note, "Department", "Sales");
    SetText(note, "CompanyName", "Acme Corporation");
    SetText(note, "JobTitle", "Engineer");
    SetText(note, "Location", "Springfield");
    SetText(note, "Comment", n % 12 == 0 ? "Works remotely" : "");
    Check(NSFNoteUpdate(note, 0), "NSFNoteUpdate");
    NSFNoteClose(note);
}

// A document of 8 short text items.
void WriteEightItems(DBHANDLE db, int n) {
    NOTEHANDLE note = NULLHANDLE;
    Check(NSFNoteCreate(db, &note), "NSFNoteCreate");
    for (int item = 0; item < 8; ++item)
        SetText(note, ("Item" + std::to_string(item)).c_str(), "value " + std::to_string(n * 8 + item));
    Check(NSFNoteUpdate(note, 0), "NSFNoteUpdate");
    NSFNoteClose(note);
}

DBHANDLE CreateDb(const char* name) {
    Check(NSFDbCreate(name, DBCLASS_NOTEFILE, FALSE), "NSFDbCreate");
    DBHANDLE db = NULLHANDLE;
    Check(NSFDbOpen(name, &db), "NSFDbOpen");
    return db;
}

std::vector<NOTEID> AllIds(DBHANDLE db, TIMEDATE* until) {
    TIMEDATE wildcard{{0xFFFFFFFF, 0xFFFFFFFF}};
    DHANDLE table = NULLHANDLE;
    Check(NSFDbGetModifiedNoteTable(db, NOTE_CLASS_DOCUMENT, wildcard, until, &table), "modified table");
    std::vector<NOTEID> ids;
    DWORD id = 0;
    for (BOOL first = TRUE; IDScan(table, first, &id); first = FALSE) ids.push_back(id);
    IDDestroyTable(table);
    return ids;
}

// Median time of the modified-note table after kChanged notes changed.
double ChangedTableSeconds(DBHANDLE db) {
    TIMEDATE since{};
    std::vector<NOTEID> ids = AllIds(db, &since);
    std::mt19937 random(7);
    std::shuffle(ids.begin(), ids.end(), random);
    for (int i = 0; i < kChanged; ++i) {
        NOTEHANDLE note = NULLHANDLE;
        Check(NSFNoteOpen(db, ids[i], 0, &note), "NSFNoteOpen");
        SetText(note, "Comment", "changed");
        Check(NSFNoteUpdate(note, 0), "NSFNoteUpdate");
        NSFNoteClose(note);
    }
    std::vector<double> runs;
    for (int run = 0; run < kTableRuns; ++run) {
        DHANDLE table = NULLHANDLE;
        TIMEDATE until{};
        runs.push_back(Seconds([&] {
            Check(NSFDbGetModifiedNoteTable(db, NOTE_CLASS_DOCUMENT, since, &until, &table), "table");
        }));
        if (IDEntries(table) != (DWORD)kChanged) {
            std::fprintf(stderr, "table lists %u notes, expected %d\n", (unsigned)IDEntries(table), kChanged);
            std::exit(1);
        }
        IDDestroyTable(table);
    }
    return Median(runs);
}

STATUS LNCALLBACK CountValue(WORD, WORD, char*, WORD, void*, DWORD length, void* total) {
    *static_cast<size_t*>(total) += length;
    return NOERROR;
}

size_t ReadEverything(DBHANDLE db, const std::vector<NOTEID>& ids) {
    size_t total = 0;
    for (NOTEID id : ids) {
        NOTEHANDLE note = NULLHANDLE;
        Check(NSFNoteOpen(db, id, 0, &note), "NSFNoteOpen");
        Check(NSFItemScan(note, CountValue, &total), "NSFItemScan");
        NSFNoteClose(note);
    }
    return total;
}

// The same reads straight from SQLite, in one transaction.
size_t ReadEverythingRaw(const std::string& path, const std::vector<NOTEID>& ids) {
    sqlite3* db = OpenRaw(path);
    sqlite3_stmt* select = nullptr;
    CheckSql(sqlite3_prepare_v2(db,
                                "SELECT n.class, n.unid_file, n.unid_note, n.sequence, n.sequence_ticks, "
                                "n.deleted, i.name, i.type, i.flags, i.value, i.modified_ticks "
                                "FROM notes n LEFT JOIN items i ON i.note_id = n.note_id "
                                "WHERE n.note_id = ? ORDER BY i.position",
                                -1, &select, nullptr),
             db, "prepare");
    size_t total = 0;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (NOTEID id : ids) {
        sqlite3_bind_int64(select, 1, id);
        while (sqlite3_step(select) == SQLITE_ROW) {
            sqlite3_column_blob(select, 9);
            total += sqlite3_column_bytes(select, 9) + sizeof(WORD);
        }
        sqlite3_reset(select);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(select);
    sqlite3_close(db);
    return total;
}

// The rows that creating the documents writes, straight into SQLite: the
// note row and its 8 items plus $UpdatedBy; all in one transaction, or one
// transaction per note.
void WriteEightItemsRaw(const std::string& path, int count, bool commitEach) {
    sqlite3* db = OpenRaw(path);
    sqlite3_stmt* note = nullptr;
    sqlite3_stmt* item = nullptr;
    CheckSql(sqlite3_prepare_v2(db, "INSERT INTO notes VALUES (?, 1, ?, ?, 1, ?, 0)", -1, &note, nullptr), db,
             "prepare");
    CheckSql(sqlite3_prepare_v2(db, "INSERT INTO items VALUES (?, ?, ?, 1280, 4, ?, ?)", -1, &item, nullptr),
             db, "prepare");
    std::mt19937_64 random(11);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int n = 0; n < count; ++n) {
        if (commitEach && n > 0) sqlite3_exec(db, "COMMIT; BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        int64_t id = 4 * (n + 1), ticks = 212000000000LL + n;
        sqlite3_bind_int64(note, 1, id);
        sqlite3_bind_int64(note, 2, (int64_t)random());
        sqlite3_bind_int64(note, 3, ticks);
        sqlite3_bind_int64(note, 4, ticks);
        CheckSql(sqlite3_step(note), db, "insert note");
        sqlite3_reset(note);
        for (int position = 0; position < 9; ++position) {
            std::string name = position < 8 ? "Item" + std::to_string(position) : "$UpdatedBy";
            std::string value = position < 8 ? "value " + std::to_string(n * 8 + position) : "CN=Bench/O=Org";
            sqlite3_bind_int64(item, 1, id);
            sqlite3_bind_int64(item, 2, position);
            sqlite3_bind_blob(item, 3, name.data(), (int)name.size(), SQLITE_TRANSIENT);
            sqlite3_bind_blob(item, 4, value.data(), (int)value.size(), SQLITE_TRANSIENT);
            sqlite3_bind_int64(item, 5, ticks);
            CheckSql(sqlite3_step(item), db, "insert item");
            sqlite3_reset(item);
        }
    }
    CheckSql(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_finalize(note);
    sqlite3_finalize(item);
    sqlite3_close(db);
}

void Row(const char* what, int notes, double seconds, double floor) {
    std::printf("| %-52s | %7d | %8.2f | %7.1f |", what, notes, seconds, seconds * 1e6 / notes);
    if (floor > 0) std::printf(" %8.2f | %5.2f |\n", floor, seconds / floor);
    else std::printf("          |       |\n");
}

}  // namespace

int main(int argc, char** argv) {
    int people = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (people < 10 * kChanged) {
        std::fprintf(stderr, "usage: storage_bench [PEOPLE >= %d]\n", 10 * kChanged);
        return 2;
    }
    std::string dir = (std::filesystem::temp_directory_path() / "storage-bench-XXXXXX").string();
    if (mkdtemp(&dir[0]) == nullptr || NRTSetDataDirectory(dir.c_str()) != NOERROR) return 1;
    NRTSetUserName("CN=Bench/O=Org");
    int small = people / 10;

    DBHANDLE big = CreateDb("big.nsf");
    double create = Seconds([&] {
        for (int n = 0; n < people; ++n) WritePerson(big, n);
    });
    DBHANDLE smallDb = CreateDb("small.nsf");
    for (int n = 0; n < small; ++n) WritePerson(smallDb, n);
    double tableSmall = ChangedTableSeconds(smallDb);
    double tableBig = ChangedTableSeconds(big);

    TIMEDATE until{};
    std::vector<NOTEID> ids = AllIds(big, &until);
    std::vector<double> read, readRaw, write, writeRaw, writeEach;
    for (int run = 0; run < kRuns; ++run) {
        size_t bytes = 0, rawBytes = 0;
        read.push_back(Seconds([&] { bytes = ReadEverything(big, ids); }));
        readRaw.push_back(Seconds([&] { rawBytes = ReadEverythingRaw(dir + "/big.nsf", ids); }));
        if (bytes != rawBytes) std::fprintf(stderr, "read %zu bytes, floor read %zu\n", bytes, rawBytes);

        std::string name = "docs" + std::to_string(run) + ".nsf", floor = "floor" + std::to_string(run) + ".nsf";
        DBHANDLE docs = CreateDb(name.c_str());
        write.push_back(Seconds([&] {
            for (int n = 0; n < people; ++n) WriteEightItems(docs, n);
        }));
        NSFDbClose(docs);
        NSFDbClose(CreateDb(floor.c_str()));
        writeRaw.push_back(Seconds([&] { WriteEightItemsRaw(dir + "/" + floor, people, false); }));
        floor = "each" + std::to_string(run) + ".nsf";
        NSFDbClose(CreateDb(floor.c_str()));
        writeEach.push_back(Seconds([&] { WriteEightItemsRaw(dir + "/" + floor, people, true); }));
    }

    std::printf("| %-52s | %7s | %8s | %7s | %8s | %5s |\n", "operation", "notes", "s", "us/note", "floor s",
                "ratio");
    std::printf("|%s|%s|%s|%s|%s|%s|\n", std::string(54, '-').c_str(), "--------:", "---------:", "--------:",
                "---------:", "------:");
    Row("(a) create person documents, one update each", people, create, 0);
    std::printf("| %-52s | %7d | %8.4f | %7s |          |       |\n",
                ("(b) modified table, 1,000 changed of " + std::to_string(small)).c_str(), kChanged, tableSmall,
                "");
    std::printf("| %-52s | %7d | %8.4f | %7s |          | %5.2f |\n",
                ("(b) modified table, 1,000 changed of " + std::to_string(people)).c_str(), kChanged, tableBig,
                "", tableBig / tableSmall);
    Row("(c) open every note, read every item", (int)ids.size(), Median(read), Median(readRaw));
    Row("(d) create 8-item documents, one update each", people, Median(write), Median(writeRaw));
    Row("(d) against SQLite committing each note", people, Median(write), Median(writeEach));

    NSFDbClose(big);
    NSFDbClose(smallDb);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
