// dnevents_test.cpp - a note's DN from its "FullName" item, the "NotesDN"
// formats and the rename document.
#include "dnutil.h"
#include "pubtest.h"

namespace {

using pubtest::Document;

class DnEventsTest : public PassTest {
protected:
    // An unsaved note with the given "FullName" entries.
    NOTEHANDLE NoteWithFullName(const std::vector<std::string>& entries) {
        NOTEHANDLE h = NULLHANDLE;
        EXPECT_EQ(NOERROR, NSFNoteCreate(hInput_, &h));
        if (!entries.empty()) pubtest::SetList(h, "FullName", entries);
        notes_.push_back(h);
        return h;
    }
    void TearDown() override {
        for (NOTEHANDLE h : notes_) NSFNoteClose(h);
        PassTest::TearDown();
    }
    std::vector<NOTEHANDLE> notes_;
};

TEST_F(DnEventsTest, ComponentsComeFromTheFirstEntryWithACommonName) {
    struct Case {
        std::vector<std::string> fullName;
        const char* full;
        const char* containers;
        const char* first;
    } cases[] = {
        {{"CN=Test User/OU=Sales/O=Org1", "Test User"}, "CN=Test User/OU=Sales/O=Org1",
         "OU=Sales/O=Org1", "CN=Test User"},
        {{"cn=Test User/ou=Sales/o=Org1"}, "cn=Test User/ou=Sales/o=Org1", "ou=Sales/o=Org1",
         "cn=Test User"},
        {{"Test User", "Cn=Test User/O=Org1"}, "Cn=Test User/O=Org1", "O=Org1", "Cn=Test User"},
        {{"CN=Test User"}, "CN=Test User", "", "CN=Test User"},
    };
    for (const Case& c : cases) {
        char full[256], containers[256], first[256];
        ASSERT_EQ(1, GetDNComponents(NoteWithFullName(c.fullName), full, containers, first));
        EXPECT_STREQ(c.full, full);
        EXPECT_STREQ(c.containers, containers);
        EXPECT_STREQ(c.first, first);
    }
    for (const std::vector<std::string>& noDN : {std::vector<std::string>{"Sales Team", "Test User/Org1"},
                                                  std::vector<std::string>{}}) {
        char full[256] = "untouched";
        char containers[256] = "untouched";
        char first[256] = "untouched";
        EXPECT_EQ(0, GetDNComponents(NoteWithFullName(noDN), full, containers, first));
        EXPECT_STREQ("untouched", full);
        EXPECT_STREQ("untouched", first);
    }
}

TEST_F(DnEventsTest, NotesDNFollowsTheFormatCode) {
    NOTEHANDLE h = NoteWithFullName({"Test User", "CN=Test User/OU=Sales/O=Org1"});
    struct Case {
        WORD format;
        const char* dn;
        WORD length;
    } cases[] = {{DN_FORMAT_SLASH, "\\Org1\\Sales\\Test User", 21},
                 {DN_FORMAT_LDAP, "Test User,Sales,Org1", 20},
                 {DN_FORMAT_LDAP_TYPED, "CN=Test User,OU=Sales,O=Org1", 28},
                 {0, "untouched", 0},
                 {3, "untouched", 0},
                 {8, "untouched", 0}};
    for (const Case& c : cases) {
        char out[256] = "untouched";
        EXPECT_EQ(c.length, GetNotesDN(h, c.format, out, sizeof(out))) << c.format;
        EXPECT_STREQ(c.dn, out) << c.format;
    }
    char small[6];
    EXPECT_EQ(5, GetNotesDN(h, DN_FORMAT_SLASH, small, sizeof(small)));  // cut to the buffer
    EXPECT_STREQ("\\Org1", small);
}

TEST_F(DnEventsTest, RenameDocumentCarriesTheSlashNameAndItsParts) {
    data_.dnFormat = DN_FORMAT_LDAP_TYPED;  // the rename document ignores it
    char type[] = "Person", unid[] = "0123456789ABCDEF0123456789ABCDEF";
    UNIVERSALNOTEID unused = {};
    ASSERT_EQ(NOERROR, OutputRenameMoveEvent(NoteWithFullName({"CN=Test User/OU=Sales/O=Org1"}),
                                             &data_, type, unid, unused));
    ASSERT_EQ(NOERROR, OutputRenameMoveEvent(NoteWithFullName({"CN=Test User"}), &data_, type, unid,
                                             unused));
    EXPECT_EQ(NOERROR, OutputRenameMoveEvent(NoteWithFullName({"Test User"}), &data_, type, unid,
                                             unused));  // no DN: nothing written

    std::vector<Document> docs = pubtest::ReadDocuments("out.nsf");
    ASSERT_EQ(2u, docs.size());
    EXPECT_EQ((std::vector<std::string>{"Type", "Source Note ID", "Event", "DN", "RDN", "CN"}),
              docs[0].order);
    pubtest::Items expected = {{"Type", {"Person"}},
                               {"Source Note ID", {unid}},
                               {"Event", {"rename"}},
                               {"DN", {"\\Org1\\Sales\\Test User"}},
                               {"RDN", {"\\Org1\\Sales"}},
                               {"CN", {"Test User"}}};
    EXPECT_EQ(expected, docs[0].items);
    EXPECT_EQ(std::vector<std::string>{"\\Test User"}, docs[1].items["DN"]);
    EXPECT_EQ(std::vector<std::string>{}, docs[1].items["RDN"]);  // empty text
    EXPECT_EQ(std::vector<std::string>{"Test User"}, docs[1].items["CN"]);
}

}  // namespace
