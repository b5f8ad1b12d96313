// nsfsearch_test.cpp - NSFSearch: the configuration formula with an
// escaped backslash, class masks, searches since a time (stubs and
// unselected notes passed with their flags), the routine's status ending
// the search, and a routine that writes to the database it searches.
#include "nsfsearch.h"
#include "osmem.h"
#include "storetest.h"

namespace {

struct Seen {
    NOTEID id;
    WORD noteClass;
    BYTE flags;
    ORIGINATORID oid;
};

struct Collector {
    std::vector<Seen> seen;
    STATUS stopWith = NOERROR;
    DBHANDLE updateIn = NULLHANDLE;  // when set, each passed note is saved again
};

STATUS LNCALLBACK Collect(void* parameter, SEARCH_MATCH* match, ITEM_TABLE*) {
    auto* collector = static_cast<Collector*>(parameter);
    SEARCH_MATCH copy;
    std::memcpy(&copy, match, sizeof copy);
    collector->seen.push_back({copy.ID.NoteID, copy.NoteClass, copy.SERetFlags, copy.OriginatorID});
    if (collector->updateIn != NULLHANDLE) {
        NOTEHANDLE note = NULLHANDLE;
        STATUS status = NSFNoteOpen(collector->updateIn, copy.ID.NoteID, 0, &note);
        if (status == NOERROR) status = NSFItemSetText(note, "Seen", "yes", MAXWORD);
        if (status == NOERROR) status = NSFNoteUpdate(note, 0);
        NSFNoteClose(note);
        if (status != NOERROR) return status;
    }
    return collector->stopWith;
}

}  // namespace

class SearchTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        db_ = CreateDb("zelrpcfg.nsf", "Configuration");
    }
    void TearDown() override {
        if (formula_ != NULLHANDLE) OSMemFree(formula_);
        StoreTest::TearDown();
    }
    FORMULAHANDLE Compile(const std::string& text) {
        WORD length = 0, line = 0, column = 0, offset = 0, errorLength = 0;
        STATUS error = NOERROR;
        EXPECT_EQ(NOERROR, NSFFormulaCompile(nullptr, 0, text.c_str(), (WORD)text.size(), &formula_,
                                             &length, &error, &line, &column, &offset, &errorLength));
        return formula_;
    }
    std::vector<NOTEID> Ids(const Collector& collector) {
        std::vector<NOTEID> ids;
        for (const Seen& seen : collector.seen) ids.push_back(seen.id);
        return ids;
    }

    DBHANDLE db_ = NULLHANDLE;
    FORMULAHANDLE formula_ = NULLHANDLE;
};

TEST_F(SearchTest, ConfigurationFormulaFindsTheInstanceWithABackslash) {
    SaveDoc(db_, "InstanceID_text", "other");
    NOTEID wanted = SaveDoc(db_, "InstanceID_text", "dir\\sync");
    SaveDoc(db_, "InstanceID_text", "dirsync");
    SaveDoc(db_, "InstanceID_text", "dir\\sync2");
    SaveDoc(db_, "Subject", "no instance item");
    // The instance name with its backslash doubled inside the string.
    Compile("@IsAvailable(InstanceID_text) & InstanceID_text = \"dir\\\\sync\";");
    Collector collector;
    TIMEDATE until{};
    ASSERT_EQ(NOERROR, NSFSearch(db_, formula_, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr, Collect,
                                 &collector, &until));
    ASSERT_EQ(std::vector<NOTEID>{wanted}, Ids(collector));
    const Seen& seen = collector.seen[0];
    EXPECT_EQ(NOTE_CLASS_DOCUMENT, seen.noteClass);
    EXPECT_TRUE(seen.flags & SE_FMATCH);
    ORIGINATORID oid = OidOf(db_, wanted);
    EXPECT_EQ(0, std::memcmp(&oid, &seen.oid, sizeof oid));
}

TEST_F(SearchTest, WithoutAFormulaEveryLiveNoteOfTheClassesIsPassed) {
    NOTEID first = SaveDoc(db_), second = SaveDoc(db_), gone = SaveDoc(db_);
    NOTEHANDLE view = NewNote(db_);
    WORD viewClass = NOTE_CLASS_VIEW;
    NSFNoteSetInfo(view, _NOTE_CLASS, &viewClass);
    ASSERT_EQ(NOERROR, NSFNoteUpdate(view, 0));
    ASSERT_EQ(NOERROR, NSFNoteDelete(db_, gone, 0));
    Collector collector;
    ASSERT_EQ(NOERROR, NSFSearch(db_, NULLHANDLE, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr, Collect,
                                 &collector, nullptr));
    EXPECT_EQ((std::vector<NOTEID>{first, second}), Ids(collector));
}

TEST_F(SearchTest, SinceTimePassesChangedStubsAndUnselectedNotes) {
    SaveDoc(db_, "Kind", "x");
    TIMEDATE since{}, wildcard{{0xFFFFFFFF, 0xFFFFFFFF}};
    Collector before;
    ASSERT_EQ(NOERROR, NSFSearch(db_, NULLHANDLE, nullptr, 0, NOTE_CLASS_DOCUMENT, &wildcard, Collect,
                                 &before, &since));
    NOTEID selected = SaveDoc(db_, "Kind", "x");
    NOTEID unselected = SaveDoc(db_, "Kind", "y");
    NOTEID deleted = SaveDoc(db_, "Kind", "x");
    ASSERT_EQ(NOERROR, NSFNoteDelete(db_, deleted, 0));
    Compile("SELECT Kind = \"x\"");
    Collector collector;
    TIMEDATE until{};
    ASSERT_EQ(NOERROR, NSFSearch(db_, formula_, nullptr, 0, NOTE_CLASS_DOCUMENT, &since, Collect,
                                 &collector, &until));
    ASSERT_EQ((std::vector<NOTEID>{selected, unselected, deleted}), Ids(collector));
    EXPECT_TRUE(collector.seen[0].flags & SE_FMATCH);
    EXPECT_FALSE(collector.seen[1].flags & SE_FMATCH);
    EXPECT_FALSE(collector.seen[2].flags & SE_FMATCH);
    EXPECT_TRUE(collector.seen[2].noteClass & NOTE_CLASS_NOTIFYDELETION);
    EXPECT_FALSE(Later(OidOf(db_, deleted).SequenceTime, until));
    EXPECT_TRUE(Later(until, since));
}

TEST_F(SearchTest, RoutineStatusEndsTheSearchAndIsReturned) {
    SaveDoc(db_);
    SaveDoc(db_);
    Collector collector;
    collector.stopWith = 0x0FFD;
    EXPECT_EQ(0x0FFD, NSFSearch(db_, NULLHANDLE, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr, Collect,
                                &collector, nullptr));
    EXPECT_EQ(1u, collector.seen.size());
    EXPECT_EQ(ERR_INVALID_HANDLE, NSFSearch(0x7FFFFFF0, NULLHANDLE, nullptr, 0, NOTE_CLASS_DOCUMENT,
                                            nullptr, Collect, &collector, nullptr));
    EXPECT_EQ(ERR_BAD_PARAM, NSFSearch(db_, NULLHANDLE, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr,
                                       nullptr, nullptr, nullptr));
}

TEST_F(SearchTest, RoutineMayUpdateTheNotesItIsPassed) {
    NOTEID first = SaveDoc(db_), second = SaveDoc(db_);
    Collector collector;
    collector.updateIn = db_;
    ASSERT_EQ(NOERROR, NSFSearch(db_, NULLHANDLE, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr, Collect,
                                 &collector, nullptr));
    EXPECT_EQ((std::vector<NOTEID>{first, second}), Ids(collector));  // each once, though each changed
    EXPECT_EQ(2u, OidOf(db_, first).Sequence);
    EXPECT_EQ(2u, OidOf(db_, second).Sequence);
}
