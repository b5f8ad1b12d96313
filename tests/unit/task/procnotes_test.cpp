// procnotes_test.cpp - note processing over real databases: change
// documents for adds and modifies, obituaries, loop detection, class
// determination, "NotesDN", renames, value types and the processed stamp.
#include "dnutil.h"
#include "nrt_server.h"
#include "pubtest.h"

namespace {

using pubtest::Document;
using pubtest::Items;
typedef std::vector<std::string> Texts;

const char kFilter[] =
    "<publisher-filter><allow-class class-name=\"Person\">"
    "<allow-attr attr-name=\"FullName\"/><allow-attr attr-name=\"LastName\"/>"
    "<allow-attr attr-name=\"ShortName\"/><allow-attr attr-name=\"Phone\"/>"
    "<allow-attr attr-name=\"Salary\"/><allow-attr attr-name=\"Hired\"/>"
    "<allow-attr attr-name=\"Person\"/><allow-attr attr-name=\"Mobile\"/></allow-class>"
    "<allow-class class-name=\"Group\"><allow-attr attr-name=\"Members\"/></allow-class>"
    "</publisher-filter>";

class ProcNotesTest : public PassTest {
protected:
    UNIVERSALNOTEID PutJane() {
        return pubtest::Put(hInput_, [](NOTEHANDLE h) {
            NSFItemSetText(h, "Type", "Person", MAXWORD);
            pubtest::SetList(h, "FullName", {"CN=Jane Doe/OU=Sales/O=Org1", "Jane Doe"});
            NSFItemSetText(h, "LastName", "Doe", MAXWORD);
            pubtest::SetList(h, "ShortName", {"", "jdoe", ""});
            NSFItemSetText(h, "Phone", "", 0);
            pubtest::SetNumber(h, "Salary", 1250.5);
            NSFItemSetText(h, "Person", "named like the class", MAXWORD);
            NSFItemSetText(h, "Comment", "not in the filter", MAXWORD);
        });
    }
    std::vector<Document> ProcessSince(TIMEDATE since) { return Process(kFilter, since); }
    std::vector<Document> ProcessAll() {
        TIMEDATE wildcard;
        TimeConstant(TIMEDATE_WILDCARD, &wildcard);
        return ProcessSince(wildcard);
    }
    bool Logged(const std::string& text) const {
        for (const std::string& line : log_.Texts())
            if (line == text) return true;
        return false;
    }
    size_t Position(const std::string& text) const {
        std::vector<std::string> lines = log_.Texts();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == text) return i;
        return lines.size();
    }
    NRTLogCapture log_;
};

TEST_F(ProcNotesTest, AddPublishesEveryAttributeWithAValue) {
    UNIVERSALNOTEID unid = PutJane();
    std::string id = pubtest::UnidText(unid);
    std::vector<Document> docs = ProcessAll();

    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ((Texts{"NotesDN", "Type", "Source Note ID", "Event", "FullName", "LastName",
                     "ShortName", "Salary"}),
              docs[0].order);
    Items expected = {{"NotesDN", {"\\Org1\\Sales\\Jane Doe"}},
                      {"Type", {"Person"}},
                      {"Source Note ID", {id}},
                      {"Event", {"ADD"}},
                      {"FullName", {"CN=Jane Doe/OU=Sales/O=Org1", "Jane Doe"}},
                      {"LastName", {"Doe"}},
                      {"ShortName", {"jdoe"}},
                      {"Salary", {"#1250.5"}}};
    EXPECT_EQ(expected, docs[0].items);
    EXPECT_EQ(1, data_.notesUpdated);
    EXPECT_TRUE(Logged("Orvane - TEST: Item Mobile on Note " + id + " is not present, skipping\n"))
        << log_.Joined();
    EXPECT_TRUE(Logged("Orvane - TEST: detected attribute (ShortName) with no value on Add event, "
                       "skipping attribute."));
}

TEST_F(ProcNotesTest, ModifyPublishesChangedAttributesOnlyWhenChecking) {
    UNIVERSALNOTEID unid = PutJane();
    TIMEDATE since = pubtest::Checkpoint(hInput_);
    pubtest::Change(hInput_, unid, [](NOTEHANDLE h) {
        NSFItemSetText(h, "LastName", "Smith", MAXWORD);
        pubtest::SetList(h, "ShortName", {"", "jsmith"});
        NSFItemSetText(h, "Phone", "", 0);
        pubtest::SetList(h, "FullName", {"CN=Jane Doe/OU=Sales/O=Org1", "Jane Doe"});  // same value
    });

    std::vector<Document> docs = ProcessSince(since);
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ((Texts{"NotesDN", "Type", "Source Note ID", "Event", "LastName", "ShortName"}),
              docs[0].order);
    EXPECT_EQ(Texts{"MODIFY"}, docs[0].items["Event"]);
    EXPECT_EQ((Texts{"", "jsmith"}), docs[0].items["ShortName"]);  // empty entries stay

    pubtest::Change(hInput_, unid, [](NOTEHANDLE h) { NSFItemSetText(h, "Phone", "555", MAXWORD); });
    TIMEDATE cleared = pubtest::Checkpoint(hInput_);
    pubtest::Change(hInput_, unid, [](NOTEHANDLE h) { NSFItemSetText(h, "Phone", "", 0); });
    docs = ProcessSince(cleared);
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ(1u, docs[0].items.count("Phone"));
    EXPECT_EQ(Texts{}, docs[0].items["Phone"]);  // written as cleared

    data_.checkAttrs = 0;
    docs = ProcessSince(since);
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ((Texts{"NotesDN", "Type", "Source Note ID", "Event", "FullName", "LastName",
                     "ShortName", "Phone", "Salary"}),
              docs[0].order);
}

// Values longer than the usual work buffer are published whole: a text of
// 9,000 characters, a list entry of 20,000, a text of 65,000, and one of
// 65,535 (all a text can hold, too long for a list), on an add and on a
// modify.
TEST_F(ProcNotesTest, LongTextValuesArePublishedWhole) {
    const std::string nine(9000, 'n'), twenty(20000, 't'), sixtyFive(65000, 's'), most(MAXWORD, 'm');
    UNIVERSALNOTEID unid = pubtest::Put(hInput_, [&](NOTEHANDLE h) {
        NSFItemSetText(h, "Type", "Person", MAXWORD);
        pubtest::SetList(h, "FullName", {"CN=Long Values/O=Org1"});
        NSFItemSetText(h, "LastName", nine.c_str(), (WORD)nine.size());
        pubtest::SetList(h, "ShortName", {twenty, "short"});
        NSFItemSetText(h, "Phone", sixtyFive.c_str(), (WORD)sixtyFive.size());
        NSFItemSetText(h, "Mobile", most.c_str(), (WORD)most.size());
    });
    std::vector<Document> docs = ProcessAll();
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ(Texts{nine}, docs[0].items["LastName"]);
    EXPECT_EQ((Texts{twenty, "short"}), docs[0].items["ShortName"]);
    EXPECT_EQ(Texts{sixtyFive}, docs[0].items["Phone"]);
    EXPECT_EQ(Texts{most}, docs[0].items["Mobile"]);

    TIMEDATE since = pubtest::Checkpoint(hInput_);
    const std::string changed(65000, 'c');
    pubtest::Change(hInput_, unid, [&](NOTEHANDLE h) { NSFItemSetText(h, "Phone", changed.c_str(), (WORD)changed.size()); });
    docs = ProcessSince(since);
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ(Texts{changed}, docs[0].items["Phone"]);
}

TEST_F(ProcNotesTest, UnchangedPublishedAttributesWriteNothing) {
    UNIVERSALNOTEID unid = PutJane();
    TIMEDATE since = pubtest::Checkpoint(hInput_);
    pubtest::Change(hInput_, unid, [](NOTEHANDLE h) { NSFItemSetText(h, "Comment", "new", MAXWORD); });
    EXPECT_TRUE(ProcessSince(since).empty());
    EXPECT_EQ(0, data_.notesUpdated);
}

TEST_F(ProcNotesTest, DeletionBecomesAnObituary) {
    UNIVERSALNOTEID unid = PutJane();
    TIMEDATE since = pubtest::Checkpoint(hInput_);
    pubtest::Delete(hInput_, unid);
    std::vector<Document> docs = ProcessSince(since);
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ((Texts{"Source Note ID", "Event"}), docs[0].order);
    EXPECT_EQ((Items{{"Source Note ID", {pubtest::UnidText(unid)}}, {"Event", {"DELETE"}}}),
              docs[0].items);
    EXPECT_EQ(1, data_.notesUpdated);
}

TEST_F(ProcNotesTest, LoopDetectionMatchesTheUpdaterInAnyCase) {
    UNIVERSALNOTEID unid = PutJane();
    TIMEDATE since = pubtest::Checkpoint(hInput_);
    pubtest::Change(hInput_, unid, [](NOTEHANDLE h) { NSFItemSetText(h, "LastName", "Loop", MAXWORD); },
                    "cn=SYNC agent/o=org1");
    std::string id = pubtest::UnidText(unid);

    data_.loopDetect = 1;
    EXPECT_TRUE(ProcessSince(since).empty());
    std::string skipped = "Orvane - TEST: Note CN=Jane Doe (" + id + ") was skipped by loop detection\n";
    EXPECT_TRUE(Logged("Orvane - TEST: Note CN=Jane Doe (" + id + ") was updated by cn=sync agent/o=org1\n"))
        << log_.Joined();
    EXPECT_LT(Position("Orvane - TEST: The TYPE item was used to determine Note CN=Jane Doe (" + id +
                       ") is of type Person\n"),
              Position(skipped));
    EXPECT_TRUE(Logged(skipped));

    data_.loopDetect = 0;
    EXPECT_EQ(1u, ProcessSince(since).size());
}

TEST_F(ProcNotesTest, ClassComesFromTypeOrOutsideADirectoryFromForm) {
    UNIVERSALNOTEID byForm = pubtest::Put(hInput_, [](NOTEHANDLE h) {
        NSFItemSetText(h, "Form", "Person", MAXWORD);
        NSFItemSetText(h, "LastName", "Form", MAXWORD);
    });
    UNIVERSALNOTEID server = pubtest::Put(hInput_, [](NOTEHANDLE h) {
        NSFItemSetText(h, "Type", "Server", MAXWORD);
    });
    std::string formId = pubtest::UnidText(byForm);

    EXPECT_TRUE(ProcessAll().empty());  // a directory: "Form" does not count
    EXPECT_TRUE(Logged("Orvane - TEST: Note " + formId +
                       " was skipped because ZELREP couldn't determine object class\n"));
    EXPECT_TRUE(Logged("Orvane - TEST: Note " + pubtest::UnidText(server) +
                       " was skipped because class Server isn't in the filter\n"));

    data_.isDirectory = 0;
    std::string janeId = pubtest::UnidText(PutJane());
    std::vector<Document> docs = ProcessAll();
    ASSERT_EQ(2u, docs.size());
    EXPECT_EQ(Texts{"Person"}, docs[0].items["Type"]);
    EXPECT_TRUE(Logged("Orvane - TEST: The FORM item was used to determine Note  (" + formId +
                       ") is of type Person\n"));
    EXPECT_TRUE(Logged("Orvane - TEST: The TYPE item was used to determine Note CN=Jane Doe (" +
                       janeId + ") is of type Person\n"));
}

TEST_F(ProcNotesTest, GroupTakesItsListNameAndOthersGoWithoutNotesDN) {
    data_.dnFormat = DN_FORMAT_LDAP;
    pubtest::Put(hInput_, [](NOTEHANDLE h) {
        NSFItemSetText(h, "Type", "Group", MAXWORD);
        NSFItemSetText(h, "ListName", "Sales/Team", MAXWORD);
        pubtest::SetList(h, "Members", {"CN=Jane Doe/O=Org1"});
    });
    pubtest::Put(hInput_, [](NOTEHANDLE h) {
        NSFItemSetText(h, "Type", "Person", MAXWORD);
        pubtest::SetList(h, "FullName", {"Jane Doe", "jdoe"});
    });
    pubtest::Put(hInput_, [](NOTEHANDLE h) {
        NSFItemSetText(h, "Type", "Group", MAXWORD);
        NSFItemSetText(h, "ListName", "Empty", MAXWORD);
        NSFItemSetText(h, "Members", "", 0);
    });
    std::vector<Document> docs = ProcessAll();
    ASSERT_EQ(3u, docs.size());
    EXPECT_EQ(Texts{"Sales/Team"}, docs[0].items["NotesDN"]);  // unformatted
    EXPECT_EQ(0u, docs[1].items.count("NotesDN"));
    EXPECT_TRUE(Logged("Orvane - TEST: Error reading NotesDN for class Person"));
    // An added group without members is still made known to the reader.
    EXPECT_EQ((Texts{"NotesDN", "Type", "Source Note ID", "Event"}), docs[2].order);
    EXPECT_EQ(3, data_.notesUpdated);
}

TEST_F(ProcNotesTest, RenameWritesTheRenameDocumentThenTheChange) {
    data_.dnFormat = DN_FORMAT_LDAP;
    UNIVERSALNOTEID unid = PutJane();
    EXPECT_EQ((Texts{"Jane Doe,Sales,Org1"}), ProcessAll()[0].items["NotesDN"]);
    TIMEDATE since = pubtest::Checkpoint(hInput_);
    pubtest::Change(hInput_, unid, [](NOTEHANDLE h) {
        pubtest::SetList(h, "FullName", {"CN=Jane Smith/OU=Sales/O=Org1", "Jane Smith"});
        NSFItemSetText(h, "LastName", "Smith", MAXWORD);
    });
    std::vector<Document> docs = ProcessSince(since);
    ASSERT_EQ(2u, docs.size());
    EXPECT_EQ(Texts{"rename"}, docs[0].items["Event"]);
    EXPECT_EQ(Texts{"\\Org1\\Sales\\Jane Smith"}, docs[0].items["DN"]);
    EXPECT_EQ((Texts{"Type", "Source Note ID", "Event", "FullName", "LastName"}), docs[1].order);
    EXPECT_EQ(Texts{"MODIFY"}, docs[1].items["Event"]);
}

TEST_F(ProcNotesTest, RangesPublishTheSingleValueTheirReadGives) {
    UNIVERSALNOTEID unid = pubtest::Put(hInput_, [](NOTEHANDLE h) {
        NSFItemSetText(h, "Type", "Person", MAXWORD);
        pubtest::SetRange<NUMBER>(h, "Salary", TYPE_NUMBER_RANGE, {10, 20});
        TIMEDATE times[2];
        OSCurrentTIMEDATE(&times[0]);
        times[1] = times[0];
        times[1].Innards[1] += 1;
        pubtest::SetRange<TIMEDATE>(h, "Hired", TYPE_TIME_RANGE, {times[0], times[1]});
    });
    NOTEHANDLE h = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFNoteOpenByUNID(hInput_, &unid, 0, &h));
    Items source = {{"Salary", pubtest::RenderItem(h, "Salary", TYPE_NUMBER)},
                    {"Hired", pubtest::RenderItem(h, "Hired", TYPE_TIME)}};
    NSFNoteClose(h);
    std::vector<Document> docs = ProcessAll();
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ(source["Salary"], docs[0].items["Salary"]);
    EXPECT_EQ(source["Hired"], docs[0].items["Hired"]);
}

TEST_F(ProcNotesTest, StampKeepsAttributesPublishedBeforeItOut) {
    data_.writeTimeStamps = 1;
    UNIVERSALNOTEID unid = PutJane();
    TIMEDATE first = pubtest::Checkpoint(hInput_);
    ASSERT_EQ(1u, ProcessAll().size());
    NOTEHANDLE h = NULLHANDLE;
    ASSERT_EQ(NOERROR, NSFNoteOpenByUNID(hInput_, &unid, 0, &h));
    TIMEDATE stamp;
    EXPECT_EQ(1, GetZELREPLastProcessedTime(h, &stamp, 0));
    NSFNoteClose(h);

    TIMEDATE second = pubtest::Checkpoint(hInput_);
    EXPECT_TRUE(ProcessSince(first).empty());  // listed for its stamp, nothing changed
    pubtest::Change(hInput_, unid, [](NOTEHANDLE h) { NSFItemSetText(h, "LastName", "Smith", MAXWORD); });
    std::vector<Document> docs = ProcessSince(second);
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ((Texts{"NotesDN", "Type", "Source Note ID", "Event", "LastName"}), docs[0].order);
}

}  // namespace
