// storetest.h - the fixture shared by the storage tests (databases, notes,
// items, change tracking, search): a fresh data directory, helpers that
// create databases and documents, and clean-up of every handle a test
// opened through them.
#ifndef ZELREP_TESTS_UNIT_NOTESRT_STORETEST_H
#define ZELREP_TESTS_UNIT_NOTESRT_STORETEST_H

#include <cstring>
#include <string>
#include <vector>

#include "idtable.h"
#include "nrt_env.h"
#include "nrt_fault.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "osmisc.h"
#include "testenv.h"

class StoreTest : public DataDirTest {
protected:
    static constexpr const char* kUser = "CN=Tester/O=Org";

    void SetUp() override {
        DataDirTest::SetUp();
        NRTSetUserName(kUser);
    }
    void TearDown() override {
        for (NOTEHANDLE note : notes_) NSFNoteClose(note);
        for (DBHANDLE db : databases_) NSFDbClose(db);
        NRTFaultReset();
        NRTSetUserName(nullptr);
        DataDirTest::TearDown();
    }

    DBHANDLE CreateDb(const char* name = "test.nsf", const char* title = "Test") {
        EXPECT_EQ(NOERROR, NSFDbCreate(name, DBCLASS_NOTEFILE, FALSE));
        DBHANDLE db = OpenDb(name);
        char info[NSF_INFO_SIZE] = "";
        NSFDbInfoModify(info, INFOPARSE_TITLE, title);
        EXPECT_EQ(NOERROR, NSFDbInfoSet(db, info));
        return db;
    }
    DBHANDLE OpenDb(const char* name = "test.nsf") {
        DBHANDLE db = NULLHANDLE;
        EXPECT_EQ(NOERROR, NSFDbOpen(name, &db));
        if (db != NULLHANDLE) databases_.push_back(db);
        return db;
    }
    void CloseDb(DBHANDLE db) {
        for (auto it = databases_.begin(); it != databases_.end(); ++it)
            if (*it == db) {
                databases_.erase(it);
                break;
            }
        EXPECT_EQ(NOERROR, NSFDbClose(db));
    }
    NOTEHANDLE Track(NOTEHANDLE note) {
        if (note != NULLHANDLE) notes_.push_back(note);
        return note;
    }
    void Close(NOTEHANDLE note) {
        for (auto it = notes_.begin(); it != notes_.end(); ++it)
            if (*it == note) {
                notes_.erase(it);
                break;
            }
        EXPECT_EQ(NOERROR, NSFNoteClose(note));
    }
    NOTEHANDLE NewNote(DBHANDLE db) {
        NOTEHANDLE note = NULLHANDLE;
        EXPECT_EQ(NOERROR, NSFNoteCreate(db, &note));
        return Track(note);
    }
    NOTEHANDLE OpenNote(DBHANDLE db, NOTEID id) {
        NOTEHANDLE note = NULLHANDLE;
        EXPECT_EQ(NOERROR, NSFNoteOpen(db, id, 0, &note));
        return Track(note);
    }
    // A saved document with one text item; returns its note ID.
    NOTEID SaveDoc(DBHANDLE db, const char* item = "Subject", const char* value = "hello") {
        NOTEHANDLE note = NewNote(db);
        EXPECT_EQ(NOERROR, NSFItemSetText(note, item, value, MAXWORD));
        EXPECT_EQ(NOERROR, NSFNoteUpdate(note, 0));
        NOTEID id = 0;
        NSFNoteGetInfo(note, _NOTE_ID, &id);
        Close(note);
        return id;
    }
    // Sets one text item of a stored note and saves it.
    void UpdateDoc(DBHANDLE db, NOTEID id, const char* item, const char* value) {
        NOTEHANDLE note = OpenNote(db, id);
        EXPECT_EQ(NOERROR, NSFItemSetText(note, item, value, MAXWORD));
        EXPECT_EQ(NOERROR, NSFNoteUpdate(note, 0));
        Close(note);
    }
    ORIGINATORID OidOf(DBHANDLE db, NOTEID id) {
        ORIGINATORID oid{};
        NSFDbGetNoteInfo(db, id, &oid, nullptr, nullptr);
        return oid;
    }
    static std::vector<DWORD> Ids(DHANDLE table) {
        std::vector<DWORD> ids;
        DWORD id = 0;
        for (BOOL first = TRUE; IDScan(table, first, &id); first = FALSE) ids.push_back(id);
        return ids;
    }
    static std::string ErrorText(STATUS status) {
        char text[256] = "";
        OSLoadString(NULLHANDLE, ERR(status), text, sizeof text - 1);
        return text;
    }
    static bool Later(const TIMEDATE& a, const TIMEDATE& b) {
        uint64_t x = ((uint64_t)(a.Innards[1] & 0xFFFFFF) << 32) | a.Innards[0];
        uint64_t y = ((uint64_t)(b.Innards[1] & 0xFFFFFF) << 32) | b.Innards[0];
        return x > y;
    }
    static bool Same(const TIMEDATE& a, const TIMEDATE& b) { return !Later(a, b) && !Later(b, a); }

    std::vector<DBHANDLE> databases_;
    std::vector<NOTEHANDLE> notes_;
};

#endif
