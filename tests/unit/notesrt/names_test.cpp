// names_test.cpp - distinguished names: canonical and abbreviated forms,
// names left alone, the template, and buffers that are too small.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "names.h"
#include "nrt_env.h"
#include "testenv.h"

namespace {

class NamesTest : public DataDirTest {
protected:
    void TearDown() override {
        NRTSetUserName(nullptr);
        DataDirTest::TearDown();
    }
    static std::string Canonical(const char* name, const char* templateName = "CN=Srv/OU=Hub/O=Acme/C=DE") {
        char out[MAXUSERNAME];
        WORD length = 0;
        EXPECT_EQ(NOERROR, DNCanonicalize(0, templateName, name, out, sizeof out, &length)) << name;
        EXPECT_EQ(std::strlen(out), length);
        return out;
    }
    static std::string Abbreviated(const char* name) {
        char out[MAXUSERNAME];
        WORD length = 0;
        EXPECT_EQ(NOERROR, DNAbbreviate(0, nullptr, name, out, sizeof out, &length)) << name;
        EXPECT_EQ(std::strlen(out), length);
        return out;
    }
};

TEST_F(NamesTest, PartsAreTypedByPosition) {
    EXPECT_EQ("CN=John Doe/O=Acme", Canonical("John Doe/Acme"));
    EXPECT_EQ("CN=John Doe/OU=Sales/O=Acme", Canonical("John Doe/Sales/Acme"));
    EXPECT_EQ("CN=Reuben D. Smith/OU=Ottawa/O=Acme/C=CA", Canonical("Reuben D. Smith/Ottawa/Acme/CA"));
    EXPECT_EQ("CN=A/OU=B/OU=C/OU=D/OU=E/O=F/C=GH", Canonical("A/B/C/D/E/F/GH"));
    EXPECT_EQ("CN=A/OU=B/OU=C/OU=D/OU=E/O=Org", Canonical("A/B/C/D/E/Org"));
    EXPECT_EQ("CN=Jane/O=US", Canonical("Jane/US"));  // two parts are always CN/O
    EXPECT_EQ("CN=Jane Doe/O=Acme", Canonical(" Jane Doe / Acme "));
}

TEST_F(NamesTest, NamesThatDoNotFitComeBackUnchanged) {
    const char* unchanged[] = {"Jane Doe",           "CN=Jane Doe/OU=Sales/O=Acme",
                               "cn=jane/o=acme",     "CN=Jane/Sales/Acme",
                               "A/B/C/D/E/F/G/HI",   "A/B/C/D/E/F/Org",
                               "Jane//Acme",         "/Acme",
                               "",                   "CN=Lone"};
    for (const char* name : unchanged) EXPECT_EQ(name, Canonical(name));
}

TEST_F(NamesTest, TrailingSlashTakesTheTemplatesHierarchy) {
    EXPECT_EQ("CN=Jane/OU=Hub/O=Acme/C=DE", Canonical("Jane/"));
    EXPECT_EQ("CN=Jane/OU=Dev/O=Corp", Canonical("Jane/", "Srv/Dev/Corp"));
    EXPECT_EQ("Jane", Canonical("Jane/", "FlatServer"));
    NRTSetUserName("CN=Main/O=Home");
    EXPECT_EQ("CN=Jane/O=Home", Canonical("Jane/", nullptr));
}

TEST_F(NamesTest, AbbreviateIsTheReverse) {
    EXPECT_EQ("John Doe/Sales/Acme", Abbreviated("CN=John Doe/OU=Sales/O=Acme"));
    EXPECT_EQ("Reuben/Ottawa/Acme/CA", Abbreviated("cn=Reuben/ou=Ottawa/o=Acme/c=CA"));
    EXPECT_EQ("John", Abbreviated("CN=John"));
    const char* samples[] = {"John Doe/Acme", "A/B/C/D/E/F/GH", "X/Y/Z"};
    for (const char* name : samples) EXPECT_EQ(name, Abbreviated(Canonical(name).c_str()));
    // Ambiguous (no organisation), out of order or foreign parts stay as they are.
    const char* unchanged[] = {"CN=John/OU=Sales", "O=Acme/CN=John", "CN=John/DC=example/O=Acme",
                               "John/Acme", "CN=A/OU=1/OU=2/OU=3/OU=4/OU=5/O=X"};
    for (const char* name : unchanged) EXPECT_EQ(name, Abbreviated(name));
}

TEST_F(NamesTest, SmallBuffersAreNeverOverrun) {
    char out[16];
    std::memset(out, 'X', sizeof out);
    WORD length = 99;
    EXPECT_NE(NOERROR, DNCanonicalize(0, nullptr, "John Doe/Sales/Acme", out, 10, &length));
    EXPECT_EQ(0, length);
    EXPECT_EQ('\0', out[0]);
    for (int i = 1; i < 16; ++i) EXPECT_EQ('X', out[i]);
    EXPECT_EQ(NOERROR, DNCanonicalize(0, nullptr, "Jo/Acme", out, 13, &length));  // exact fit
    EXPECT_STREQ("CN=Jo/O=Acme", out);
    EXPECT_NE(NOERROR, DNAbbreviate(0, nullptr, "CN=John Doe/O=Acme", out, 5, &length));
    EXPECT_NE(NOERROR, DNCanonicalize(0, nullptr, nullptr, out, 16, &length));
    EXPECT_NE(NOERROR, DNCanonicalize(0, nullptr, "x", out, 0, &length));

    std::string longName(1000, 'n');
    longName += "/Acme";
    char big[MAXUSERNAME];
    EXPECT_NE(NOERROR, DNCanonicalize(0, nullptr, longName.c_str(), big, sizeof big, &length));
}

}  // namespace
