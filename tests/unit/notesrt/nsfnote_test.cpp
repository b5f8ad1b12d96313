// nsfnote_test.cpp - notes and items: every item type written, saved,
// reopened and read back; text conversions; text lists; same-named items;
// opening by ID and UNID; refusals; a failed commit; the byte order of
// stored values and a file written by another build.
#include <sqlite3.h>

#include <cmath>
#include <filesystem>

#include "osmem.h"
#include "ostime.h"
#include "storetest.h"

namespace {

TIMEDATE Moment(DWORD day, DWORD ticks) { return TIMEDATE{{ticks, day}}; }

std::string RangeOf(const std::vector<double>& singles, const std::vector<NUMBER_PAIR>& pairs) {
    RANGE range{(USHORT)singles.size(), (USHORT)pairs.size()};
    std::string data(reinterpret_cast<const char*>(&range), sizeof range);
    for (double value : singles) data.append(reinterpret_cast<const char*>(&value), sizeof value);
    for (const NUMBER_PAIR& pair : pairs) data.append(reinterpret_cast<const char*>(&pair), sizeof pair);
    return data;
}

std::string TimeRangeOf(const std::vector<TIMEDATE>& singles, const std::vector<TIMEDATE_PAIR>& pairs) {
    RANGE range{(USHORT)singles.size(), (USHORT)pairs.size()};
    std::string data(reinterpret_cast<const char*>(&range), sizeof range);
    for (const TIMEDATE& value : singles) data.append(reinterpret_cast<const char*>(&value), sizeof value);
    for (const TIMEDATE_PAIR& pair : pairs) data.append(reinterpret_cast<const char*>(&pair), sizeof pair);
    return data;
}

}  // namespace

class ItemTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        db_ = CreateDb();
    }
    // Saves the note, closes it and opens the stored copy.
    NOTEHANDLE SaveAndReopen(NOTEHANDLE note) {
        EXPECT_EQ(NOERROR, NSFNoteUpdate(note, 0));
        NOTEID id = 0;
        NSFNoteGetInfo(note, _NOTE_ID, &id);
        Close(note);
        return OpenNote(db_, id);
    }
    std::string Text(NOTEHANDLE note, const char* item, WORD size = 256) {
        std::vector<char> buffer(size + 1, '#');
        WORD length = NSFItemGetText(note, item, buffer.data(), size);
        EXPECT_EQ(length, std::strlen(buffer.data()));
        return buffer.data();
    }
    std::string Entry(NOTEHANDLE note, const char* item, WORD pos) {
        char buffer[64];
        WORD length = NSFItemGetTextListEntry(note, item, pos, buffer, sizeof buffer - 1);
        return std::string(buffer, length);
    }
    std::string Converted(NOTEHANDLE note, const char* item, const char* delimiter = "\n",
                          WORD width = 65535, BOOL stripTabs = FALSE, STATUS* status = nullptr) {
        BLOCKID value;
        DWORD length = 0;
        WORD type = 0;
        EXPECT_EQ(NOERROR, NSFItemInfo(note, item, (WORD)std::strlen(item), nullptr, &type, &value, &length));
        DHANDLE buffer = NULLHANDLE;
        DWORD textLength = 0;
        STATUS result = ConvertItemToText(value, length, delimiter, width, &buffer, &textLength, stripTabs);
        if (status != nullptr) *status = result;
        if (result != NOERROR) return std::string();
        std::string text(OSLock(char, buffer), textLength);
        OSUnlock(buffer);
        EXPECT_EQ(NOERROR, OSMemFree(buffer));
        return text;
    }
    // The document of a fixture file written by another build, read through
    // the API.
    void ReadFixture(const std::string& fixture) {
        std::filesystem::copy_file(ZELREP_SOURCE_DIR "/tests/data/" + fixture, DataPath(fixture));
        DBHANDLE db = OpenDb(fixture.c_str());
        DHANDLE table = NULLHANDLE;
        TIMEDATE wildcard{{0xFFFFFFFF, 0xFFFFFFFF}}, until{};
        ASSERT_EQ(NOERROR, NSFDbGetModifiedNoteTable(db, NOTE_CLASS_DOCUMENT, wildcard, &until, &table));
        DWORD id = 0;
        ASSERT_TRUE(IDScan(table, TRUE, &id));
        IDDestroyTable(table);
        NOTEHANDLE note = OpenNote(db, id);

        EXPECT_EQ("Person", Text(note, "Form"));
        ASSERT_EQ(2, NSFItemGetTextListEntries(note, "FullName"));
        EXPECT_EQ("CN=Jane Doe/O=Acme", Entry(note, "FullName", 0));
        EXPECT_EQ("Jane Doe", Entry(note, "FullName", 1));
        NUMBER number = 0;
        ASSERT_TRUE(NSFItemGetNumber(note, "Salary", &number));
        EXPECT_EQ(1250.5, number);
        char joined[64];
        NSFItemConvertToText(note, "Extensions", joined, sizeof joined, ',');
        EXPECT_STREQ("10,20", joined);
        TIMEDATE time{};
        ASSERT_TRUE(NSFItemGetTime(note, "Hired", &time));
        EXPECT_TRUE(Same(Moment(2458544, 3240000), time));
        ASSERT_TRUE(NSFItemGetTime(note, "Shifts", &time));
        EXPECT_TRUE(Same(Moment(2461046, 2880000), time));
    }

    DBHANDLE db_ = NULLHANDLE;
};

TEST_F(ItemTest, EveryTypeSurvivesSaveAndReopen) {
    NOTEHANDLE note = NewNote(db_);
    double extension = 10;
    TIMEDATE hired = Moment(2458544, 3240000);
    ASSERT_EQ(NOERROR, NSFItemSetText(note, "FullName", "CN=Jane Doe/O=Acme", MAXWORD));
    for (const char* entry : {"jdoe", "", "Jane"})
        ASSERT_EQ(NOERROR, NSFItemAppendTextList(note, "ShortName", entry, MAXWORD, TRUE));
    ASSERT_EQ(NOERROR, NSFItemSetNumber(note, "Extension", &extension));
    std::string numbers = RangeOf({1250.5, 7}, {{1, 2}});
    ASSERT_EQ(NOERROR, NSFItemAppend(note, ITEM_SUMMARY, "Numbers", 7, TYPE_NUMBER_RANGE, numbers.data(),
                                     (DWORD)numbers.size()));
    ASSERT_EQ(NOERROR, NSFItemSetTime(note, "Hired", &hired));
    std::string shifts = TimeRangeOf({Moment(2461046, 2880000), Moment(2461046, 5760000)}, {});
    ASSERT_EQ(NOERROR, NSFItemAppend(note, ITEM_SUMMARY, "Shifts", 6, TYPE_TIME_RANGE, shifts.data(),
                                     (DWORD)shifts.size()));

    NOTEHANDLE stored = SaveAndReopen(note);
    EXPECT_EQ("CN=Jane Doe/O=Acme", Text(stored, "fullname"));
    ASSERT_EQ(3, NSFItemGetTextListEntries(stored, "ShortName"));
    EXPECT_EQ("jdoe", Entry(stored, "ShortName", 0));
    EXPECT_EQ("", Entry(stored, "ShortName", 1));
    EXPECT_EQ("Jane", Entry(stored, "ShortName", 2));
    NUMBER number = 0;
    ASSERT_TRUE(NSFItemGetNumber(stored, "Extension", &number));
    EXPECT_EQ(10.0, number);
    ASSERT_TRUE(NSFItemGetNumber(stored, "Numbers", &number));
    EXPECT_EQ(1250.5, number);  // a range gives its first value
    TIMEDATE time{};
    ASSERT_TRUE(NSFItemGetTime(stored, "Hired", &time));
    EXPECT_TRUE(Same(hired, time));
    ASSERT_TRUE(NSFItemGetTime(stored, "Shifts", &time));
    EXPECT_TRUE(Same(Moment(2461046, 2880000), time));

    WORD type = 0;
    DWORD length = 0;
    ASSERT_EQ(NOERROR, NSFItemInfo(stored, "Numbers", 7, nullptr, &type, nullptr, &length));
    EXPECT_EQ(TYPE_NUMBER_RANGE, type);
    EXPECT_EQ(sizeof(WORD) + numbers.size(), length);
    ASSERT_EQ(NOERROR, NSFItemInfo(stored, "Shifts", 6, nullptr, &type, nullptr, nullptr));
    EXPECT_EQ(TYPE_TIME_RANGE, type);
    char joined[128];
    NSFItemConvertToText(stored, "Numbers", joined, sizeof joined, ',');
    EXPECT_STREQ("1250.5,7,1 - 2", joined);
    NSFItemConvertToText(stored, "ShortName", joined, sizeof joined, 0);
    EXPECT_STREQ("jdoe;;Jane", joined);
    EXPECT_EQ("10", Text(stored, "Extension"));
}

// The stored bytes of one item of a closed database, read with SQLite.
std::string StoredBytes(const std::string& path, const char* item) {
    sqlite3* db = nullptr;
    std::string bytes;
    sqlite3_stmt* query = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT value FROM items WHERE name = ?", -1, &query, nullptr) == SQLITE_OK) {
        sqlite3_bind_blob(query, 1, item, (int)std::strlen(item), SQLITE_STATIC);
        if (sqlite3_step(query) == SQLITE_ROW)
            bytes.assign((const char*)sqlite3_column_blob(query, 0), sqlite3_column_bytes(query, 0));
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return bytes;
}

TEST_F(ItemTest, ValuesAreStoredLittleEndian) {
    NOTEHANDLE note = NewNote(db_);
    double salary = 1250.5;
    TIMEDATE hired = Moment(2458544, 3240000);
    ASSERT_EQ(NOERROR, NSFItemSetNumber(note, "Salary", &salary));
    ASSERT_EQ(NOERROR, NSFItemSetTime(note, "Hired", &hired));
    for (const char* entry : {"ab", "c"})
        ASSERT_EQ(NOERROR, NSFItemAppendTextList(note, "Names", entry, MAXWORD, TRUE));
    ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
    Close(note);
    CloseDb(db_);
    EXPECT_EQ(std::string("\0\0\0\0\0\x8A\x93\x40", 8), StoredBytes(DataPath("test.nsf"), "Salary"));
    EXPECT_EQ(std::string("\x40\x70\x31\0\xB0\x83\x25\0", 8), StoredBytes(DataPath("test.nsf"), "Hired"));
    EXPECT_EQ(std::string("\2\0\2\0\1\0abc", 9), StoredBytes(DataPath("test.nsf"), "Names"));
}

// Database files written by other builds: tests/data/byteorder.nsf on Linux
// x86-64, tests/data/windows.nsf by the 32-bit Windows build under wine,
// with the same document, made by
//   nsfdb.exe --data D create windows.nsf
//   echo '{"items": {"Form": "Person", "FullName": ["CN=Jane Doe/O=Acme", "Jane Doe"],
//          "Salary": 1250.5, "Extensions": {"numbers": [10, 20]},
//          "Hired": {"time": [3240000, 2458544]},
//          "Shifts": {"times": [[2880000, 2461046], [5760000, 2461046]]}}}' |
//       nsfdb.exe --data D put windows.nsf -
TEST_F(ItemTest, FileWrittenByAnotherBuildReadsTheSame) {
    for (const char* fixture : {"byteorder.nsf", "windows.nsf"}) {
        SCOPED_TRACE(fixture);
        ReadFixture(fixture);
    }
}

TEST_F(ItemTest, ConvertItemToTextAcceptsOnlyText) {
    NOTEHANDLE note = NewNote(db_);
    NSFItemSetText(note, "Filter", "<filter>\t<class/>", MAXWORD);
    for (const char* entry : {"one", "", "three"}) NSFItemAppendTextList(note, "List", entry, MAXWORD, TRUE);
    double number = 3;
    TIMEDATE time = Moment(2460000, 100);
    NSFItemSetNumber(note, "Number", &number);
    NSFItemSetTime(note, "Time", &time);
    NSFItemSetText(note, "Long", "alpha beta gamma", MAXWORD);
    NOTEHANDLE stored = SaveAndReopen(note);

    EXPECT_EQ("<filter>\t<class/>", Converted(stored, "Filter"));
    EXPECT_EQ("<filter><class/>", Converted(stored, "Filter", "\n", 65535, TRUE));
    EXPECT_EQ("one\n\nthree", Converted(stored, "List"));
    EXPECT_EQ(std::string("one\0\0three", 10), Converted(stored, "List", ""));
    EXPECT_EQ("alpha\r\nbeta\r\ngamma", Converted(stored, "Long", "\r\n", 8));
    for (const char* item : {"Number", "Time"}) {
        STATUS status = NOERROR;
        Converted(stored, item, "\n", 65535, FALSE, &status);
        EXPECT_EQ(ERR_DATATYPE, status) << item;
    }
    BLOCKID value;
    ASSERT_EQ(NOERROR, NSFItemInfo(stored, "List", 4, nullptr, nullptr, &value, nullptr));
    Close(stored);
    EXPECT_EQ(nullptr, OSLockObject(value.pool));  // value blocks go with the note
}

TEST_F(ItemTest, TextReadsNeverOverrunTheBuffer) {
    NOTEHANDLE note = NewNote(db_);
    NSFItemSetText(note, "Name", "abcdefgh", MAXWORD);
    NSFItemAppendTextList(note, "List", "first", MAXWORD, TRUE);
    NSFItemAppendTextList(note, "List", "second", MAXWORD, TRUE);
    NSFItemSetText(note, "Empty", "", 0);
    EXPECT_EQ("abcd", Text(note, "Name", 5));
    EXPECT_EQ("first", Text(note, "List"));  // a list reads as its first entry
    EXPECT_EQ("", Text(note, "Missing"));
    EXPECT_EQ(0, NSFItemGetTextListEntries(note, "Empty"));  // cleared reads as no entries
    EXPECT_EQ(1, NSFItemGetTextListEntries(note, "Name"));
    EXPECT_EQ(0, NSFItemGetTextListEntries(note, "Missing"));
    char small[4] = "###";
    EXPECT_EQ(3, NSFItemGetTextListEntry(note, "List", 1, small, sizeof small - 1));
    EXPECT_STREQ("sec", small);
    EXPECT_EQ(0, NSFItemGetTextListEntry(note, "List", 2, small, sizeof small - 1));
    EXPECT_STREQ("", small);
}

TEST_F(ItemTest, AppendTextListGrowsTextsAndRefusesOversizedLists) {
    NOTEHANDLE note = NewNote(db_);
    NSFItemSetText(note, "Members", "alpha", MAXWORD);
    ASSERT_EQ(NOERROR, NSFItemAppendTextList(note, "Members", "beta", MAXWORD, TRUE));
    ASSERT_EQ(NOERROR, NSFItemAppendTextList(note, "Members", "alpha", MAXWORD, FALSE));
    ASSERT_EQ(NOERROR, NSFItemAppendTextList(note, "Members", "alpha", 5, TRUE));
    EXPECT_EQ(3, NSFItemGetTextListEntries(note, "Members"));
    WORD type = 0;
    NSFItemInfo(note, "Members", 7, nullptr, &type, nullptr, nullptr);
    EXPECT_EQ(TYPE_TEXT_LIST, type);

    std::string chunk(8000, 'x');
    STATUS status = NOERROR;
    int appended = 0;
    while ((status = NSFItemAppendTextList(note, "Big", chunk.c_str(), MAXWORD, TRUE)) == NOERROR) ++appended;
    EXPECT_EQ(ERR_TEXT_LIST_TOO_BIG, status);
    EXPECT_EQ(8, appended);
    EXPECT_EQ(8, NSFItemGetTextListEntries(note, "Big"));  // the refused entry left no trace
    double number = 1;
    NSFItemSetNumber(note, "Number", &number);
    EXPECT_EQ(ERR_DATATYPE, NSFItemAppendTextList(note, "Number", "x", MAXWORD, TRUE));
}

TEST_F(ItemTest, SameNamedItemsKeepOrderAndSetReplacesThemAll) {
    NOTEHANDLE note = NewNote(db_);
    NSFItemAppend(note, 0, "Dup", 3, TYPE_TEXT, "one", 3);
    NSFItemAppend(note, 0, "Other", 5, TYPE_TEXT, "x", 1);
    NSFItemAppend(note, 0, "DUP", 3, TYPE_TEXT, "two", 3);
    EXPECT_EQ("one", Text(note, "dup"));

    std::vector<std::string> names;
    auto collect = [](WORD, WORD, char* name, WORD length, void*, DWORD, void* list) -> STATUS {
        static_cast<std::vector<std::string>*>(list)->emplace_back(name, length);
        return NOERROR;
    };
    NOTEHANDLE stored = SaveAndReopen(note);
    ASSERT_EQ(NOERROR, NSFItemScan(stored, collect, &names));
    EXPECT_EQ((std::vector<std::string>{"Dup", "Other", "DUP", "$UpdatedBy"}), names);

    ASSERT_EQ(NOERROR, NSFItemSetText(stored, "dup", "three", MAXWORD));
    names.clear();
    NSFItemScan(stored, collect, &names);
    EXPECT_EQ((std::vector<std::string>{"Other", "$UpdatedBy", "dup"}), names);
    BLOCKID item;
    WORD type = 0;
    ASSERT_EQ(NOERROR, NSFItemInfo(stored, nullptr, 0, &item, &type, nullptr, nullptr));
    EXPECT_EQ(TYPE_TEXT, type);  // a null name gives the first item
    EXPECT_EQ(NOERROR, NSFItemDelete(stored, "DUP", 3));
    EXPECT_EQ(ERR_ITEM_NOT_FOUND, NSFItemDelete(stored, "DUP", 3));
    EXPECT_FALSE(NSFItemIsPresent(stored, "dup", 3));
    EXPECT_EQ(ERR_ITEM_NOT_FOUND, NSFItemInfo(stored, "dup", 3, nullptr, &type, nullptr, nullptr));
    EXPECT_EQ(TYPE_INVALID_OR_UNKNOWN, type);
}

TEST_F(ItemTest, NotesOpenByIdAndUnidButNotAsStubs) {
    NOTEID id = SaveDoc(db_);
    NOTEHANDLE note = OpenNote(db_, id);
    ORIGINATORID oid{};
    NSFNoteGetInfo(note, _NOTE_OID, &oid);
    UNIVERSALNOTEID unid{oid.File, oid.Note};
    NOTEHANDLE byUnid = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFNoteOpenByUNID(db_, &unid, 0, &byUnid));
    Track(byUnid);
    NOTEID idByUnid = 0;
    NSFNoteGetInfo(byUnid, _NOTE_ID, &idByUnid);
    EXPECT_EQ(id, idByUnid);

    ASSERT_EQ(NOERROR, NSFNoteDelete(db_, id, 0));
    NOTEHANDLE stub = 5;
    EXPECT_EQ(ERR_NOTE_DELETED, NSFNoteOpen(db_, id, 0, &stub));
    EXPECT_EQ(NULLHANDLE, stub);
    EXPECT_EQ(ERR_NOTE_DELETED, NSFNoteOpenByUNID(db_, &unid, 0, &stub));
    EXPECT_EQ(ERR_INVALID_NOTE, NSFNoteOpen(db_, 4000, 0, &stub));
    UNIVERSALNOTEID unknown{};
    EXPECT_EQ(ERR_NOT_FOUND, NSFNoteOpenByUNID(db_, &unknown, 0, &stub));
    EXPECT_EQ(ERR_NOTE_DELETED, NSFNoteDelete(db_, id, 0));
    EXPECT_EQ(ERR_INVALID_NOTE, NSFNoteDelete(db_, 4000, 0));
}

TEST_F(ItemTest, StaleHandlesAndBadArgumentsAreRefused) {
    NOTEHANDLE note = NewNote(db_);
    char text[8];
    EXPECT_EQ(ERR_INVALID_HANDLE, NSFNoteUpdate(db_, 0));  // a database is no note
    EXPECT_EQ(ERR_INVALID_HANDLE, NSFItemSetText(0x7FFFFFF0, "A", "b", MAXWORD));
    EXPECT_EQ(0, NSFItemGetText(0x7FFFFFF0, "A", text, sizeof text));
    EXPECT_EQ(ERR_ITEM_NAME, NSFItemSetText(note, "", "b", MAXWORD));
    EXPECT_EQ(ERR_ITEM_NAME, NSFItemSetText(note, std::string(300, 'n').c_str(), "b", MAXWORD));
    EXPECT_EQ(ERR_BAD_PARAM, NSFItemSetText(note, "A", nullptr, 3));
    EXPECT_EQ(ERR_BAD_PARAM, NSFItemSetNumber(note, "A", nullptr));
    EXPECT_EQ(ERR_BAD_PARAM, NSFNoteCreate(db_, nullptr));
    NOTEHANDLE unused = NULLHANDLE;
    EXPECT_EQ(ERR_INVALID_HANDLE, NSFNoteCreate(note, &unused));
    TIMEDATE time{{1, 1}};
    EXPECT_EQ(NOERROR, NSFItemGetModifiedTime(NULLHANDLE, "A", MAXWORD, 0, &time));
    EXPECT_EQ(0u, time.Innards[0] | time.Innards[1]);
    EXPECT_EQ(ERR_ITEM_NOT_FOUND, NSFItemGetModifiedTime(note, "A", MAXWORD, 0, &time));
    BLOCKID bogus{0x7FFFFFF0, 0};
    DHANDLE buffer = NULLHANDLE;
    EXPECT_EQ(ERR_BAD_PARAM, ConvertItemToText(bogus, 10, "\n", 80, &buffer, nullptr, FALSE));
    Close(note);
    EXPECT_EQ(ERR_INVALID_HANDLE, NSFNoteClose(note));
}

TEST_F(ItemTest, FailedCommitChangesNothingAndKeepsTheHandleUsable) {
    NOTEID id = SaveDoc(db_, "Subject", "before");
    ORIGINATORID before = OidOf(db_, id);
    NOTEHANDLE note = OpenNote(db_, id);
    NSFItemSetText(note, "Subject", "after", MAXWORD);
    NRTFaultFailNth(NRT_FAULT_COMMIT, 1, ERR_IO);
    EXPECT_EQ(ERR_IO, NSFNoteUpdate(note, 0));
    ORIGINATORID unchanged = OidOf(db_, id);
    EXPECT_EQ(before.Sequence, unchanged.Sequence);
    EXPECT_TRUE(Same(before.SequenceTime, unchanged.SequenceTime));
    NOTEHANDLE other = OpenNote(db_, id);
    EXPECT_EQ("before", Text(other, "Subject"));
    EXPECT_EQ(1, NSFItemGetTextListEntries(note, "$UpdatedBy"));

    ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));  // the same handle saves on the next try
    EXPECT_EQ(before.Sequence + 1, OidOf(db_, id).Sequence);
    NOTEHANDLE reread = OpenNote(db_, id);
    EXPECT_EQ("after", Text(reread, "Subject"));

    NOTEHANDLE fresh = NewNote(db_);
    NSFItemSetText(fresh, "Subject", "new", MAXWORD);
    NRTFaultFailNth(NRT_FAULT_COMMIT, 1, ERR_IO);
    EXPECT_EQ(ERR_IO, NSFNoteUpdate(fresh, 0));
    NOTEID freshId = 1;
    NSFNoteGetInfo(fresh, _NOTE_ID, &freshId);
    EXPECT_EQ(0u, freshId);
    ASSERT_EQ(NOERROR, NSFNoteUpdate(fresh, 0));
    NSFNoteGetInfo(fresh, _NOTE_ID, &freshId);
    EXPECT_NE(0u, freshId);
}
