// changetrack_test.cpp - change tracking: sequence numbers and times,
// $UpdatedBy, per-item modified times, conflicts, deletion stubs, the
// modified-note table and its until-time, NSFDbOpenExtended's "nothing
// changed" answer, and a second process writing while tables are taken.
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <fstream>
#include <set>

#include "ostime.h"
#include "storetest.h"

namespace {

const TIMEDATE kWildcard{{0xFFFFFFFF, 0xFFFFFFFF}};
const TIMEDATE kMinimum{{0, 0}};

int64_t Ordinal(const TIMEDATE& td) {
    if (td.Innards[0] == 0xFFFFFFFF || td.Innards[1] == 0xFFFFFFFF) return -1;
    return ((int64_t)(td.Innards[1] & 0xFFFFFF) << 32) | td.Innards[0];
}

}  // namespace

class ChangeTrackTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        db_ = CreateDb();
    }
    TIMEDATE ItemTime(NOTEHANDLE note, const char* item) {
        TIMEDATE time{};
        EXPECT_EQ(NOERROR, NSFItemGetModifiedTime(note, item, MAXWORD, 0, &time)) << item;
        return time;
    }
    // The IDs the table lists since the time; empty on ERR_NO_MODIFIED_NOTES.
    std::vector<DWORD> Modified(TIMEDATE since, TIMEDATE* until, WORD classes = NOTE_CLASS_DOCUMENT) {
        DHANDLE table = NULLHANDLE;
        STATUS status = NSFDbGetModifiedNoteTable(db_, classes, since, until, &table);
        if (status == ERR_NO_MODIFIED_NOTES) {
            EXPECT_EQ(NULLHANDLE, table);
            return {};
        }
        EXPECT_EQ(NOERROR, status);
        std::vector<DWORD> ids = Ids(table);
        IDDestroyTable(table);
        return ids;
    }
    std::vector<std::string> UpdatedBy(NOTEHANDLE note) {
        std::vector<std::string> names;
        char name[256];
        for (WORD i = 0; i < NSFItemGetTextListEntries(note, "$UpdatedBy"); ++i) {
            WORD length = NSFItemGetTextListEntry(note, "$UpdatedBy", i, name, sizeof name - 1);
            names.emplace_back(name, length);
        }
        return names;
    }

    DBHANDLE db_ = NULLHANDLE;
};

TEST_F(ChangeTrackTest, UpdateAdvancesSequenceAndRecordsTheWriterOnce) {
    NOTEID id = SaveDoc(db_);
    NOTEHANDLE note = OpenNote(db_, id);
    ORIGINATORID first{};
    NSFNoteGetInfo(note, _NOTE_OID, &first);
    EXPECT_EQ(1u, first.Sequence);
    EXPECT_EQ(std::vector<std::string>{kUser}, UpdatedBy(note));

    ASSERT_EQ(NOERROR, NSFNoteUpdate(note, UPDATE_NOREVISION));
    ORIGINATORID second{};
    TIMEDATE modified{};
    NSFNoteGetInfo(note, _NOTE_OID, &second);
    NSFNoteGetInfo(note, _NOTE_MODIFIED, &modified);
    EXPECT_EQ(2u, second.Sequence);
    EXPECT_TRUE(Later(second.SequenceTime, first.SequenceTime));
    EXPECT_TRUE(Same(modified, second.SequenceTime));
    EXPECT_EQ(0, std::memcmp(&first, &second, sizeof(UNIVERSALNOTEID)));
    EXPECT_EQ(std::vector<std::string>{kUser}, UpdatedBy(note));  // already the last entry

    NRTSetUserName("CN=Other/O=Org");
    ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
    NOTEHANDLE reread = OpenNote(db_, id);
    EXPECT_EQ((std::vector<std::string>{kUser, "CN=Other/O=Org"}), UpdatedBy(reread));
    WORD type = 0;
    NSFItemInfo(reread, "$UpdatedBy", 10, nullptr, &type, nullptr, nullptr);
    EXPECT_EQ(TYPE_TEXT_LIST, type);
    EXPECT_EQ(3u, OidOf(db_, id).Sequence);
}

TEST_F(ChangeTrackTest, ItemTimesMoveOnlyForChangedValues) {
    NOTEHANDLE note = NewNote(db_);
    NSFItemSetText(note, "Kept", "same", MAXWORD);
    NSFItemSetText(note, "Changed", "old", MAXWORD);
    NSFItemSetText(note, "Retyped", "1", MAXWORD);
    ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
    ORIGINATORID saved{};
    NSFNoteGetInfo(note, _NOTE_OID, &saved);
    EXPECT_TRUE(Same(saved.SequenceTime, ItemTime(note, "Kept")));

    NSFItemSetText(note, "Kept", "same", MAXWORD);  // set again to the same value
    NSFItemSetText(note, "Changed", "new", MAXWORD);
    double one = 1;
    NSFItemSetNumber(note, "Retyped", &one);
    NSFItemSetText(note, "Added", "x", MAXWORD);
    ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
    ORIGINATORID updated{};
    NSFNoteGetInfo(note, _NOTE_OID, &updated);

    NOTEID id = 0;
    NSFNoteGetInfo(note, _NOTE_ID, &id);
    NOTEHANDLE reread = OpenNote(db_, id);
    EXPECT_TRUE(Same(saved.SequenceTime, ItemTime(reread, "Kept")));
    EXPECT_TRUE(Same(saved.SequenceTime, ItemTime(reread, "$UpdatedBy")));
    for (const char* item : {"Changed", "Retyped", "Added"})
        EXPECT_TRUE(Same(updated.SequenceTime, ItemTime(reread, item))) << item;
    EXPECT_TRUE(Same(updated.SequenceTime, ItemTime(note, "Changed")));  // the saving handle agrees
}

TEST_F(ChangeTrackTest, UnidTimeIsTheFirstSaveSoLateSavesCountAsNew) {
    NOTEHANDLE early = NewNote(db_);  // created before the listing, saved after it
    SaveDoc(db_);
    TIMEDATE until{};
    Modified(kWildcard, &until);
    ASSERT_EQ(NOERROR, NSFNoteUpdate(early, 0));
    ASSERT_EQ(NOERROR, NSFNoteUpdate(early, 0));
    ORIGINATORID oid{};
    NSFNoteGetInfo(early, _NOTE_OID, &oid);
    EXPECT_TRUE(Later(oid.Note, until));
    EXPECT_TRUE(Later(oid.SequenceTime, oid.Note));
}

// A note updated faster than the clock ticks still gets a later time each
// time, so that its changed items are later than any time it was
// published at; and the times keep to the clock.
TEST_F(ChangeTrackTest, ANoteUpdatedWithinOneHundredthGetsALaterTimeEachTime) {
    NOTEID id = SaveDoc(db_);
    NOTEHANDLE note = OpenNote(db_, id);
    int64_t last = Ordinal(OidOf(db_, id).SequenceTime);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
        int64_t now = Ordinal(OidOf(db_, id).SequenceTime);
        ASSERT_GT(now, last) << "update " << i;
        last = now;
    }
    TIMEDATE clock{};
    OSCurrentTIMEDATE(&clock);
    EXPECT_LE(last, Ordinal(clock));
}

// Writes of many notes share the clock's hundredths instead of running
// ahead of it: an administrator's "now" after a bulk load is later than
// every change of the load.
TEST_F(ChangeTrackTest, BulkWriteKeepsToTheWallClock) {
    const int kNotes = 20000;
    NOTEHANDLE note = NULLHANDLE;
    for (int i = 0; i < kNotes; ++i) {
        ASSERT_EQ(NOERROR, NSFNoteCreate(db_, &note));
        NSFItemSetText(note, "Serial", std::to_string(i).c_str(), MAXWORD);
        ASSERT_EQ(NOERROR, NSFNoteUpdate(note, 0));
        NSFNoteClose(note);
    }
    TIMEDATE clock{}, data{};
    OSCurrentTIMEDATE(&clock);
    ASSERT_EQ(NOERROR, NSFDbModifiedTime(db_, &data, nullptr));
    EXPECT_LE(Ordinal(data), Ordinal(clock) + 100) << "the latest change is more than a second ahead";
    TIMEDATE until{};
    EXPECT_EQ((size_t)kNotes, Modified(kWildcard, &until).size());
    EXPECT_LE(Ordinal(until), Ordinal(clock) + 100);
}

TEST_F(ChangeTrackTest, ChangesSinceOpeningConflictUnlessForced) {
    NOTEID id = SaveDoc(db_);
    NOTEHANDLE mine = OpenNote(db_, id);
    NOTEHANDLE theirs = OpenNote(db_, id);
    ASSERT_EQ(NOERROR, NSFNoteUpdate(theirs, 0));
    NSFItemSetText(mine, "Subject", "mine", MAXWORD);
    EXPECT_EQ(ERR_CONFLICT, NSFNoteUpdate(mine, 0));
    EXPECT_EQ(2u, OidOf(db_, id).Sequence);
    ASSERT_EQ(NOERROR, NSFNoteUpdate(mine, UPDATE_FORCE));
    EXPECT_EQ(3u, OidOf(db_, id).Sequence);
    ASSERT_EQ(NOERROR, NSFNoteUpdate(mine, 0));  // its own save is no conflict

    ASSERT_EQ(NOERROR, NSFNoteDelete(db_, id, 0));
    EXPECT_EQ(ERR_CONFLICT, NSFNoteUpdate(mine, 0));
}

TEST_F(ChangeTrackTest, TableListsStrictlyLaterNotesAndItsUntil) {
    TIMEDATE before{}, until{};
    OSCurrentTIMEDATE(&before);
    EXPECT_TRUE(Modified(kWildcard, &until).empty());
    EXPECT_GE(Ordinal(until), Ordinal(before));  // a real time, never the wildcard

    NOTEID a = SaveDoc(db_), b = SaveDoc(db_);
    NOTEHANDLE view = NewNote(db_);
    WORD viewClass = NOTE_CLASS_VIEW;
    NSFNoteSetInfo(view, _NOTE_CLASS, &viewClass);
    ASSERT_EQ(NOERROR, NSFNoteUpdate(view, 0));
    NOTEID viewId = 0;
    NSFNoteGetInfo(view, _NOTE_ID, &viewId);

    EXPECT_EQ((std::vector<DWORD>{a, b}), Modified(kWildcard, &until));
    EXPECT_FALSE(Later(OidOf(db_, b).SequenceTime, until));
    EXPECT_EQ((std::vector<DWORD>{a, b, viewId}), Modified(kWildcard, &until, NOTE_CLASS_ALL));

    TIMEDATE since = until;
    TIMEDATE again{};
    EXPECT_TRUE(Modified(since, &again).empty());
    EXPECT_FALSE(Later(since, again));

    // A change right after a listing, even in the same hundredth, is later
    // than the listing's until-time, and only it is listed since then.
    Modified(since, &until);
    NOTEID c = SaveDoc(db_);
    UpdateDoc(db_, a, "Subject", "changed");
    EXPECT_TRUE(Later(OidOf(db_, c).SequenceTime, until));
    EXPECT_TRUE(Later(OidOf(db_, a).SequenceTime, until));
    EXPECT_EQ((std::vector<DWORD>{a, c}), Modified(until, &again));
    EXPECT_FALSE(Later(OidOf(db_, a).SequenceTime, again));
}

TEST_F(ChangeTrackTest, DeletionsAreListedAsStubs) {
    NOTEID kept = SaveDoc(db_), stubbed = SaveDoc(db_), purged = SaveDoc(db_);
    DWORD stub = stubbed | (DWORD)RRV_DELETED;
    TIMEDATE since{}, until{};
    Modified(kWildcard, &since);
    ASSERT_EQ(NOERROR, NSFNoteDelete(db_, stubbed, 0));
    ASSERT_EQ(NOERROR, NSFNoteDelete(db_, purged, UPDATE_NOSTUB));

    EXPECT_EQ(std::vector<DWORD>{stub}, Modified(since, &until));
    EXPECT_TRUE(Same(until, OidOf(db_, stubbed).SequenceTime));
    EXPECT_EQ((std::vector<DWORD>{kept, stub}), Modified(kWildcard, &until));
    EXPECT_EQ(std::vector<DWORD>{kept}, Modified(kMinimum, &until));
    EXPECT_EQ(ERR_INVALID_NOTE, NSFDbGetNoteInfo(db_, purged, nullptr, nullptr, nullptr));
    EXPECT_GT(SaveDoc(db_), purged);  // note IDs are never reused
}

TEST_F(ChangeTrackTest, OpenExtendedAnswersNothingChangedWithoutAHandle) {
    SaveDoc(db_);
    TIMEDATE since{};
    Modified(kWildcard, &since);
    DBHANDLE opened = 77;
    TIMEDATE data{}, nonData{};
    EXPECT_EQ(ERR_NO_MODIFIED_NOTES,
              NSFDbOpenExtended("test.nsf", 0, NULLHANDLE, &since, &opened, &data, &nonData));
    EXPECT_EQ(NULLHANDLE, opened);
    EXPECT_TRUE(Same(data, since));
    EXPECT_NE(0, Ordinal(nonData));

    NOTEID id = SaveDoc(db_);
    ASSERT_EQ(NOERROR, NSFDbOpenExtended("test.nsf", 0, NULLHANDLE, &since, &opened, &data, nullptr));
    EXPECT_TRUE(Same(data, OidOf(db_, id).SequenceTime));
    NSFDbClose(opened);
}

// A handle with the scan lock (a pass's input) reads the notes as its
// latest listing found them, in one snapshot, until it writes: a change
// committed meanwhile belongs to the next listing. Other handles see it.
TEST_F(ChangeTrackTest, ScanningHandleReadsAsOfItsListingUntilItWrites) {
    NOTEID id = SaveDoc(db_, "Subject", "listed");
    DBHANDLE scanner = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbOpenExtended("test.nsf", DBOPEN_WITH_SCAN_LOCK, NULLHANDLE, nullptr, &scanner,
                                         nullptr, nullptr));
    databases_.push_back(scanner);
    TIMEDATE until{};
    DHANDLE table = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFDbGetModifiedNoteTable(scanner, NOTE_CLASS_DOCUMENT, kWildcard, &until, &table));
    IDDestroyTable(table);
    UpdateDoc(db_, id, "Subject", "changed after the listing");

    auto subject = [&](DBHANDLE db) {
        NOTEHANDLE note = OpenNote(db, id);
        char text[64] = "";
        NSFItemGetText(note, "Subject", text, sizeof text);
        Close(note);
        return std::string(text);
    };
    EXPECT_EQ("listed", subject(scanner));
    EXPECT_EQ(1u, OidOf(scanner, id).Sequence);
    EXPECT_EQ("changed after the listing", subject(db_));
    SaveDoc(scanner);
    EXPECT_EQ("changed after the listing", subject(scanner));
    EXPECT_EQ(2u, OidOf(scanner, id).Sequence);
}

// Writer processes change notes while tables are taken one after another,
// each starting where the last ended: every committed update falls in
// exactly one window, and that window's table lists its note. The writers
// share the clock's hundredths with each other and with the listings.
TEST_F(ChangeTrackTest, ConcurrentWritersAreListedInExactlyOneTable) {
#ifdef _WIN32
    GTEST_SKIP() << "the writers are forked children";
#else
    const int kWriters = 3, kUpdates = 300;
    CloseDb(db_);  // the children must not inherit open connections
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        pid_t child = fork();
        if (child == 0) {
            DBHANDLE db = NULLHANDLE;
            bool ok = NSFDbOpen("test.nsf", &db) == NOERROR;
            std::ofstream out(DataPath("updates-" + std::to_string(writer) + ".log"));
            std::vector<NOTEID> created;
            for (int i = 0; ok && i < kUpdates; ++i) {
                NOTEHANDLE note = NULLHANDLE;
                bool again = i % 3 == 2;
                ok = (again ? NSFNoteOpen(db, created[i / 2], 0, &note) : NSFNoteCreate(db, &note)) == NOERROR &&
                     NSFItemSetText(note, "Counter", std::to_string(i).c_str(), MAXWORD) == NOERROR &&
                     NSFNoteUpdate(note, 0) == NOERROR;
                ORIGINATORID oid{};
                NOTEID id = 0;
                NSFNoteGetInfo(note, _NOTE_OID, &oid);
                NSFNoteGetInfo(note, _NOTE_ID, &id);
                NSFNoteClose(note);
                if (!again) created.push_back(id);
                out << id << ' ' << Ordinal(oid.SequenceTime) << '\n';
            }
            out.close();
            _exit(ok ? 0 : 1);
        }
        children.push_back(child);
    }
    db_ = OpenDb();
    struct Window {
        int64_t since, until;
        std::set<DWORD> ids;
    };
    std::vector<Window> windows;
    TIMEDATE since = kWildcard;
    for (size_t running = children.size(); running > 0;) {
        for (pid_t& child : children) {
            int result = 0;
            if (child == 0 || waitpid(child, &result, WNOHANG) == 0) continue;
            EXPECT_TRUE(WIFEXITED(result) && WEXITSTATUS(result) == 0);
            child = 0;
            --running;
        }
        TIMEDATE until{};
        std::vector<DWORD> ids = Modified(since, &until);
        windows.push_back({Ordinal(since), Ordinal(until), std::set<DWORD>(ids.begin(), ids.end())});
        since = until;
    }

    int updates = 0;
    for (int writer = 0; writer < kWriters; ++writer) {
        std::ifstream in(DataPath("updates-" + std::to_string(writer) + ".log"));
        NOTEID id = 0;
        int64_t ticks = 0;
        while (in >> id >> ticks) {
            ++updates;
            int containing = 0;
            for (const Window& window : windows) {
                if (ticks <= window.since || ticks > window.until) continue;
                ++containing;
                EXPECT_EQ(1u, window.ids.count(id)) << "note " << id << " at " << ticks;
            }
            EXPECT_EQ(1, containing) << "note " << id << " at " << ticks;
        }
    }
    EXPECT_EQ(kWriters * kUpdates, updates);
    size_t listed = 0;
    for (const Window& window : windows) listed += window.ids.size();
    EXPECT_LE(listed, (size_t)(kWriters * kUpdates));  // no table lists a note it had no update for
    EXPECT_GE(listed, (size_t)(kWriters * kUpdates * 2 / 3));
#endif
}
