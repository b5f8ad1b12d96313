// pubtest.h - helpers for the publication engine's tests (noteinfo,
// dnevents, procnotes, replication): databases and notes made through the
// runtime API, the documents of an output database read back item by item,
// and a pass context built the way DoReplication builds it.
//
// Owned by the publication engine's tests. Every helper works inside the
// DataDirTest's data directory and fails the test on a runtime error.
#ifndef ZELREP_TESTS_PUBTEST_H
#define ZELREP_TESTS_PUBTEST_H

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dnevents.h"
#include "entarray.h"
#include "filter.h"
#include "idtable.h"
#include "idtables.h"
#include "noteinfo.h"
#include "nrt_env.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "osmem.h"
#include "ostime.h"
#include "passdata.h"
#include "procnotes.h"
#include "testenv.h"

namespace pubtest {

// Items as the tests see them: each value rendered as texts. A text or text
// list gives its entries, a number "#<value>", a time "@<server text>".
typedef std::map<std::string, std::vector<std::string>> Items;
struct Document {
    std::vector<std::string> order;  // item names in the note's order
    Items items;
};

inline DBHANDLE CreateDb(const char* path, const char* title) {
    EXPECT_EQ(NOERROR, NSFDbCreate(path, DBCLASS_NOTEFILE, FALSE));
    DBHANDLE hDB = NULLHANDLE;
    EXPECT_EQ(NOERROR, NSFDbOpen(path, &hDB));
    char info[NSF_INFO_SIZE] = {0};
    EXPECT_EQ(NOERROR, NSFDbInfoGet(hDB, info));
    NSFDbInfoModify(info, INFOPARSE_TITLE, title);
    EXPECT_EQ(NOERROR, NSFDbInfoSet(hDB, info));
    return hDB;
}

inline std::string Title(DBHANDLE hDB) {
    char info[NSF_INFO_SIZE] = {0};
    char title[NSF_INFO_SIZE] = {0};
    EXPECT_EQ(NOERROR, NSFDbInfoGet(hDB, info));
    NSFDbInfoParse(info, INFOPARSE_TITLE, title, sizeof(title) - 1);
    return title;
}

inline void SetList(NOTEHANDLE h, const char* name, const std::vector<std::string>& entries) {
    NSFItemDelete(h, name, (WORD)strlen(name));
    if (entries.empty()) {
        ASSERT_EQ(NOERROR, NSFItemSetText(h, name, "", 0));
        return;
    }
    for (const std::string& entry : entries)
        ASSERT_EQ(NOERROR, NSFItemAppendTextList(h, name, entry.c_str(), (WORD)entry.size(), TRUE));
}

inline void SetNumber(NOTEHANDLE h, const char* name, double value) {
    ASSERT_EQ(NOERROR, NSFItemSetNumber(h, name, &value));
}

// A range of numbers or times: the RANGE header, then the single values.
template <typename T>
void SetRange(NOTEHANDLE h, const char* name, WORD type, const std::vector<T>& values) {
    std::vector<char> value(sizeof(RANGE) + values.size() * sizeof(T));
    RANGE range = {(USHORT)values.size(), 0};
    memcpy(value.data(), &range, sizeof(range));
    memcpy(value.data() + sizeof(range), values.data(), values.size() * sizeof(T));
    ASSERT_EQ(NOERROR, NSFItemAppend(h, ITEM_SUMMARY, name, (WORD)strlen(name), type,
                                     value.data(), (DWORD)value.size()));
}

typedef std::function<void(NOTEHANDLE)> Fill;

// Creates and saves a document as the runtime's current user.
inline UNIVERSALNOTEID Put(DBHANDLE hDB, const Fill& fill) {
    NOTEHANDLE h = NULLHANDLE;
    UNIVERSALNOTEID unid;
    memset(&unid, 0, sizeof(unid));
    EXPECT_EQ(NOERROR, NSFNoteCreate(hDB, &h));
    fill(h);
    EXPECT_EQ(NOERROR, NSFNoteUpdate(h, 0));
    ORIGINATORID oid;
    NSFNoteGetInfo(h, _NOTE_OID, &oid);
    NSFNoteClose(h);
    unid.File = oid.File;
    unid.Note = oid.Note;
    return unid;
}

// Opens a document by UNID, changes it as the user name given (empty: the
// runtime's default) and saves it.
inline void Change(DBHANDLE hDB, UNIVERSALNOTEID unid, const Fill& fill, const char* user = "") {
    char previous[256] = {0};
    NRTGetUserName(previous, sizeof(previous));
    if (user[0] != '\0') NRTSetUserName(user);
    NOTEHANDLE h = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFNoteOpenByUNID(hDB, &unid, 0, &h));
    fill(h);
    EXPECT_EQ(NOERROR, NSFNoteUpdate(h, 0));
    NSFNoteClose(h);
    NRTSetUserName(previous);
}

inline NOTEID IdOf(DBHANDLE hDB, UNIVERSALNOTEID unid) {
    NOTEID id = 0;
    EXPECT_EQ(NOERROR, NSFDbGetNoteInfoByUNID(hDB, &unid, &id, 0, 0, 0));
    return id;
}

inline void Delete(DBHANDLE hDB, UNIVERSALNOTEID unid) {
    ASSERT_EQ(NOERROR, NSFNoteDelete(hDB, IdOf(hDB, unid), 0));
}

// The latest change time of the database's documents: a since-time after
// which only later changes are listed.
inline TIMEDATE Checkpoint(DBHANDLE hDB) {
    TIMEDATE wildcard, until;
    TimeConstant(TIMEDATE_WILDCARD, &wildcard);
    DHANDLE hTable = NULLHANDLE;
    EXPECT_EQ(NOERROR, NSFDbGetModifiedNoteTable(hDB, NOTE_CLASS_DOCUMENT, wildcard, &until, &hTable));
    if (hTable != NULLHANDLE) IDDestroyTable(hTable);
    return until;
}

// The text with every digit replaced by '9', to compare the shape of a
// time text ("9999/99/99 99:99:99 PM GMT").
inline std::string DigitsAs9(std::string text) {
    for (char& c : text)
        if (c >= '0' && c <= '9') c = '9';
    return text;
}

inline std::string TimeText(TIMEDATE time) {
    char text[NOTEINFO_TEXT_SIZE] = {0};
    GetTimeDateString(&time, text);
    return text;
}

inline std::vector<std::string> RenderItem(NOTEHANDLE h, const char* name, WORD type) {
    std::vector<std::string> values;
    if (type == TYPE_TEXT || type == TYPE_TEXT_LIST) {
        WORD count = NSFItemGetTextListEntries(h, name);
        std::vector<char> entry(MAXWORD + 1);  // the longest entry there can be
        for (WORD i = 0; i < count; ++i) {
            WORD length = NSFItemGetTextListEntry(h, name, i, entry.data(), MAXWORD);
            values.emplace_back(entry.data(), length);
        }
    } else if (type == TYPE_NUMBER || type == TYPE_NUMBER_RANGE) {
        NUMBER number = 0;
        NSFItemGetNumber(h, name, &number);
        char text[64];
        snprintf(text, sizeof(text), "#%g", number);
        values.push_back(text);
    } else if (type == TYPE_TIME || type == TYPE_TIME_RANGE) {
        TIMEDATE time;
        NSFItemGetTime(h, name, &time);
        values.push_back("@" + TimeText(time));
    }
    return values;
}

// Item names of the document, leaving out the runtime's own "$" items.
inline STATUS LNCALLBACK CollectItemName(WORD, WORD, char* name, WORD nameLength, void*, DWORD,
                                         void* context) {
    if (nameLength > 0 && name[0] != '$')
        static_cast<std::vector<std::string>*>(context)->emplace_back(name, nameLength);
    return NOERROR;
}

inline Document ReadDocument(DBHANDLE hDB, NOTEID id) {
    Document doc;
    NOTEHANDLE h = NULLHANDLE;
    EXPECT_EQ(NOERROR, NSFNoteOpen(hDB, id, 0, &h));
    NSFItemScan(h, CollectItemName, &doc.order);
    for (const std::string& name : doc.order) {
        WORD type = 0;
        NSFItemInfo(h, name.c_str(), (WORD)name.size(), 0, &type, 0, 0);
        doc.items[name] = RenderItem(h, name.c_str(), type);
    }
    NSFNoteClose(h);
    return doc;
}

inline STATUS LNCALLBACK CollectLiveId(void* context, DWORD id) {
    if ((id & RRV_DELETED) == 0) static_cast<std::vector<NOTEID>*>(context)->push_back(id);
    return NOERROR;
}

// Every live document of the database, in note ID (creation) order.
inline std::vector<Document> ReadDocuments(const char* path) {
    std::vector<Document> docs;
    DBHANDLE hDB = NULLHANDLE;
    if (NSFDbOpen(path, &hDB) != NOERROR) return docs;
    TIMEDATE wildcard, until;
    TimeConstant(TIMEDATE_WILDCARD, &wildcard);
    DHANDLE hTable = NULLHANDLE;
    std::vector<NOTEID> ids;
    if (NSFDbGetModifiedNoteTable(hDB, NOTE_CLASS_DOCUMENT, wildcard, &until, &hTable) == NOERROR) {
        IDEnumerate(hTable, CollectLiveId, &ids);
        IDDestroyTable(hTable);
    }
    for (NOTEID id : ids) docs.push_back(ReadDocument(hDB, id));
    NSFDbClose(hDB);
    return docs;
}

inline std::string UnidText(UNIVERSALNOTEID unid) {
    char text[UNID_TEXT_SIZE];
    snprintf(text, sizeof(text), "%08X%08X%08X%08X", (unsigned)unid.File.Innards[1],
             (unsigned)unid.File.Innards[0], (unsigned)unid.Note.Innards[1],
             (unsigned)unid.Note.Innards[0]);
    return text;
}

}  // namespace pubtest

// A pass context over an input and an output database, as DoReplication
// fills it, for running ListNotes and ProcessNotes directly.
class PassTest : public DataDirTest {
protected:
    void SetUp() override {
        DataDirTest::SetUp();
        NRTSetUserName("CN=Admin/O=Org1");
        hInput_ = pubtest::CreateDb("names.nsf", "Directory");
        hOutput_ = pubtest::CreateDb("out.nsf", "Updates");
        memset(&data_, 0, sizeof(data_));
        data_.hInputDB = hInput_;
        data_.hOutputDB = hOutput_;
        data_.isDirectory = 1;
        data_.dnFormat = 1;
        data_.checkAttrs = 1;
        data_.traceLevel = 3;
        strcpy(data_.statusLine, "Orvane - TEST");
        strcpy(data_.loopDetectID, "CN=Sync Agent/O=Org1");
        TimeConstant(TIMEDATE_WILDCARD, &data_.since);
    }
    void TearDown() override {
        NSFDbClose(hOutput_);
        NSFDbClose(hInput_);
        DataDirTest::TearDown();
    }

    // Lists the notes changed after since, as the pass does, processes them
    // and returns the output documents written by this run.
    std::vector<pubtest::Document> Process(const char* filterText, TIMEDATE since) {
        size_t before = pubtest::ReadDocuments("out.nsf").size();
        char text[4096];
        snprintf(text, sizeof(text), "%s", filterText);
        CFilter filter(text);
        CEntityArray list;
        data_.pFilter = &filter;
        data_.noteList = &list;
        data_.since = since;
        TIMEDATE until;
        DHANDLE hTable = NULLHANDLE;
        if (NSFDbGetModifiedNoteTable(hInput_, NOTE_CLASS_DOCUMENT, since, &until, &hTable) == NOERROR) {
            IDEnumerate(hTable, ListNotes, &data_);
            IDDestroyTable(hTable);
        }
        list.QSort();
        ProcessNotes(&data_);
        FreeArrayEntries(&list);
        data_.pFilter = 0;
        data_.noteList = 0;
        std::vector<pubtest::Document> all = pubtest::ReadDocuments("out.nsf");
        return std::vector<pubtest::Document>(all.begin() + (long)before, all.end());
    }

    DBHANDLE hInput_ = NULLHANDLE;
    DBHANDLE hOutput_ = NULLHANDLE;
    VRD_THREAD_DATA data_;
};

#endif
