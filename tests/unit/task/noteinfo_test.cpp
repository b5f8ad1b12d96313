// noteinfo_test.cpp - CNoteInfo on real notes of the runtime: the event
// rules, the UNID text, time comparison and the 24-hour time texts.
#include "pubtest.h"

namespace {

class NoteInfoTest : public DataDirTest {
protected:
    void SetUp() override {
        DataDirTest::SetUp();
        hDB_ = pubtest::CreateDb("names.nsf", "Directory");
    }
    void TearDown() override {
        NSFDbClose(hDB_);
        DataDirTest::TearDown();
    }
    UNIVERSALNOTEID PutPerson() {
        return pubtest::Put(hDB_, [](NOTEHANDLE h) { NSFItemSetText(h, "Type", "Person", MAXWORD); });
    }
    DBHANDLE hDB_ = NULLHANDLE;
};

std::string Military(const char* text) {
    char in[128], out[128] = "untouched";
    strcpy(in, text);
    CNoteInfo info(NULLHANDLE, 0);
    info.ConvertTimeDateStringToMilitary(in, out);
    return out;
}

TEST_F(NoteInfoTest, EventFollowsDeletionCreationAndSequence) {
    UNIVERSALNOTEID first = PutPerson();
    UNIVERSALNOTEID second = PutPerson();
    pubtest::Change(hDB_, second, [](NOTEHANDLE h) { NSFItemSetText(h, "Type", "Group", MAXWORD); });
    TIMEDATE since = pubtest::Checkpoint(hDB_);
    char word[16];

    CNoteInfo created(hDB_, pubtest::IdOf(hDB_, first));
    EXPECT_EQ(1u, created.Sequence());
    created.EventStr(word);
    EXPECT_STREQ("UNKNOWN", word);  // not classified yet
    EXPECT_EQ(EVENT_ADD, created.EventType(since));  // created before, never changed

    CNoteInfo changed(hDB_, pubtest::IdOf(hDB_, second));
    EXPECT_EQ(2u, changed.Sequence());
    EXPECT_EQ(EVENT_MODIFY, changed.EventType(since));
    changed.EventStr(word);
    EXPECT_STREQ("MODIFY", word);
    // Created exactly at since: the previous pass saw it, so a change is a modify.
    EXPECT_EQ(EVENT_MODIFY, changed.EventType(second.Note));
    TIMEDATE before = second.Note;
    TimeDateAdjustSeconds(&before, -1);
    EXPECT_EQ(EVENT_ADD, changed.EventType(before));  // created after since

    NOTEID id = pubtest::IdOf(hDB_, first);
    pubtest::Delete(hDB_, first);
    CNoteInfo deleted(NULLHANDLE, 0);
    EXPECT_EQ(ERR_NOTE_DELETED, ERR(deleted.ResetNoteInfo(hDB_, id | RRV_DELETED)));
    EXPECT_TRUE(deleted.IsDeleted());
    EXPECT_EQ(EVENT_DELETE, deleted.EventType(first.Note));
    deleted.EventStr(word);
    EXPECT_STREQ("DELETE", word);
    UNIVERSALNOTEID kept;
    ASSERT_EQ(1, deleted.GetUNID(&kept));
    EXPECT_EQ(0, memcmp(&kept, &first, sizeof(kept)));  // a stub keeps its UNID
}

TEST_F(NoteInfoTest, UnidTextAddressesTheNote) {
    UNIVERSALNOTEID unid = PutPerson();
    CNoteInfo info(hDB_, pubtest::IdOf(hDB_, unid));
    char text[UNID_TEXT_SIZE];
    ASSERT_EQ(1, info.UNIDAsStr(text));
    ASSERT_EQ(32u, strlen(text));
    ASSERT_EQ(32u, strspn(text, "0123456789ABCDEF"));

    // File's second word first, then its first word, then the Note part.
    UNIVERSALNOTEID parsed;
    sscanf(text, "%8X%8X%8X%8X", &parsed.File.Innards[1], &parsed.File.Innards[0],
           &parsed.Note.Innards[1], &parsed.Note.Innards[0]);
    NOTEHANDLE h = NULLHANDLE;
    EXPECT_EQ(NOERROR, NSFNoteOpenByUNID(hDB_, &parsed, 0, &h));
    NSFNoteClose(h);

    EXPECT_EQ(0, info.UNIDAsStr(0));
    EXPECT_EQ(0, info.GetUNID(0));
}

TEST_F(NoteInfoTest, UnreadableNoteLeavesHandleIdAndTimesZero) {
    CNoteInfo info(hDB_, 0x1234);
    EXPECT_EQ(NULLHANDLE, info.DbHandle());
    EXPECT_EQ(0u, info.NoteID());
    EXPECT_EQ(0u, info.Sequence());
    char text[UNID_TEXT_SIZE];
    info.UNIDAsStr(text);
    EXPECT_STREQ("00000000000000000000000000000000", text);
}

TEST_F(NoteInfoTest, ModifiedTextIsTheServerTextOfTheSequenceTime) {
    CNoteInfo info(hDB_, pubtest::IdOf(hDB_, PutPerson()));
    char modified[NOTEINFO_TEXT_SIZE], other[NOTEINFO_TEXT_SIZE] = "x";
    info.ModifiedAsStr(modified);
    EXPECT_EQ(pubtest::TimeText(info.SequenceTime()), modified);
    std::string shape = pubtest::DigitsAs9(modified);
    EXPECT_TRUE(shape.rfind("9999/99/99 99:99:99 AM ", 0) == 0 || shape.rfind("9999/99/99 99:99:99 PM ", 0) == 0)
        << modified;
    info.SequenceTimeAsStr(other);
    EXPECT_STREQ("", other);
    info.NoteTimeAsStr(other);
    EXPECT_STREQ("", other);
    info.ModifiedAsStr(0);  // ignored
}

TEST_F(NoteInfoTest, CompareTimeDateSeesHundredthsAndWildcard) {
    CNoteInfo info(NULLHANDLE, 0);
    TIMEDATE now, later, wildcard;
    OSCurrentTIMEDATE(&now);
    if (now.Innards[0] >= TICKS_IN_DAY - 1) now.Innards[0] = 0;
    later = now;
    later.Innards[0] += 1;
    TimeConstant(TIMEDATE_WILDCARD, &wildcard);
    EXPECT_EQ(-1, info.CompareTimeDate(now, later));
    EXPECT_EQ(1, info.CompareTimeDate(later, now));
    EXPECT_EQ(0, info.CompareTimeDate(now, now));
    EXPECT_EQ(-1, info.CompareTimeDate(wildcard, now));
}

TEST_F(NoteInfoTest, MilitaryClockKeepsDateAndZone) {
    EXPECT_EQ("2026/12/07 00:05:00 EST", Military("2026/12/07 12:05:00 AM EST"));
    EXPECT_EQ("2026/12/07 09:15:00 EST", Military("2026/12/07 09:15:00 AM EST"));
    EXPECT_EQ("2026/12/07 23:59:59 EST", Military("2026/12/07 11:59:59 PM EST"));
    EXPECT_EQ("2026/12/07 13:00:00 GMT", Military("2026/12/07 01:00:00 PM GMT"));
    EXPECT_EQ("2026/12/07 12:30:00 EST", Military("2026/12/07 12:30:00 PM EST"));
    EXPECT_EQ("", Military("2026/12/07 20:43:21 GMT"));
    EXPECT_LT(Military("2026/12/07 11:00:00 AM GMT"), Military("2026/12/07 01:00:00 PM GMT"));

    char in[] = "12:00:00 AM GMT";
    CNoteInfo info(NULLHANDLE, 0);
    info.ConvertTimeDateStringToMilitary(in, 0);
    info.ConvertTimeDateStringToMilitary(0, in);
    EXPECT_STREQ("12:00:00 AM GMT", in);
}

}  // namespace
