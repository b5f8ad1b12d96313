// dnutil_test.cpp - tests of distinguished-name formatting: the SLASH,
// LDAP and LDAP_TYPED forms, the in-place operations behind them, unknown
// format codes, and names too long for the scratch buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dnutil.h"

namespace {

struct Formatted {
    std::string text;
    unsigned short length;
    std::string dnAfter;
};

Formatted Format(const std::string& name, unsigned short format, unsigned short outSize = DN_BUFFER_SIZE) {
    std::vector<char> dn(name.begin(), name.end());
    dn.resize(std::max<size_t>(name.size() + 2, DN_BUFFER_SIZE), '\0');
    char out[DN_BUFFER_SIZE] = "";
    unsigned short length = FormatDN(dn.data(), format, out, outSize);
    return {out, length, dn.data()};
}

std::string Apply(unsigned short (*operation)(char*, char), const std::string& name, char delimiter,
                  unsigned short* result) {
    char dn[DN_BUFFER_SIZE] = "";
    memcpy(dn, name.data(), name.size());
    *result = operation(dn, delimiter);
    return dn;
}

TEST(FormatDNTest, RendersTheThreeForms) {
    const std::string name = "CN=Jane Doe/OU=Sales/O=Acme";
    Formatted slash = Format(name, DN_FORMAT_SLASH);
    EXPECT_EQ("\\Acme\\Sales\\Jane Doe", slash.text);
    EXPECT_EQ(slash.text.size(), slash.length);
    EXPECT_EQ(slash.text, slash.dnAfter) << "dn ends holding the result";
    EXPECT_EQ("Jane Doe,Sales,Acme", Format(name, DN_FORMAT_LDAP).text);
    EXPECT_EQ("CN=Jane Doe,OU=Sales,O=Acme", Format(name, DN_FORMAT_LDAP_TYPED).text);
    EXPECT_EQ("\\Org1\\Sales\\Test User", Format("cn=Test User/ou=Sales/o=Org1", DN_FORMAT_SLASH).text);
    EXPECT_EQ("\\Org1\\Sales", Format("OU=Sales/O=Org1", DN_FORMAT_SLASH).text);
}

TEST(FormatDNTest, FlatOneComponentAndEmptyNames) {
    struct Case {
        const char* name;
        const char* slash;
        const char* ldap;
        const char* typed;
    };
    const Case cases[] = {
        {"Sales Team", "\\Sales Team", "Sales Team", "Sales Team"},
        {"CN=Admin", "\\Admin", "Admin", "CN=Admin"},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Formatted slash = Format(c.name, DN_FORMAT_SLASH);
        EXPECT_EQ(c.slash, slash.text);
        EXPECT_EQ(strlen(c.slash), slash.length);
        EXPECT_EQ(c.ldap, Format(c.name, DN_FORMAT_LDAP).text);
        EXPECT_EQ(c.typed, Format(c.name, DN_FORMAT_LDAP_TYPED).text);
    }
}

TEST(FormatDNTest, UnknownCodesWriteNothing) {
    for (unsigned short code : {0, 3, 5, 6, 7, 8, 0xFFFF}) {
        char dn[DN_BUFFER_SIZE] = "CN=Jane Doe/O=Acme";
        char out[DN_BUFFER_SIZE] = "untouched";
        EXPECT_EQ(0, FormatDN(dn, code, out, sizeof out)) << code;
        EXPECT_STREQ("CN=Jane Doe/O=Acme", dn);
        EXPECT_STREQ("untouched", out);
    }
    char out[DN_BUFFER_SIZE] = "untouched";
    EXPECT_EQ(0, FormatDN(nullptr, DN_FORMAT_SLASH, out, sizeof out));
    EXPECT_STREQ("untouched", out);
}

TEST(FormatDNTest, FormatsInPlaceWhenOutIsDn) {
    char dn[DN_BUFFER_SIZE] = "CN=Jane Doe/OU=Sales/O=Acme";
    EXPECT_EQ(20, FormatDN(dn, DN_FORMAT_SLASH, dn, sizeof dn));
    EXPECT_STREQ("\\Acme\\Sales\\Jane Doe", dn);
    char ldap[DN_BUFFER_SIZE] = "CN=Jane Doe/OU=Sales/O=Acme";
    EXPECT_EQ(19, FormatDN(ldap, DN_FORMAT_LDAP, ldap, 0));
    EXPECT_STREQ("Jane Doe,Sales,Acme", ldap);
}

TEST(FormatDNTest, LongNameIsCutBeforeFormattingAndFitsTheBuffer) {
    std::string name = "CN=" + std::string(300, 'x') + "/O=Acme";
    Formatted slash = Format(name, DN_FORMAT_SLASH);
    EXPECT_EQ("\\" + std::string(DN_MAX_LENGTH - 3, 'x'), slash.text);
    EXPECT_EQ(DN_MAX_LENGTH - 2, slash.length);

    std::string flat(400, 'f');
    Formatted flatSlash = Format(flat, DN_FORMAT_SLASH);
    EXPECT_EQ(DN_MAX_LENGTH + 1, flatSlash.length) << "the added backslash still fits";
    EXPECT_EQ("\\" + flat.substr(0, DN_MAX_LENGTH), flatSlash.text);
    EXPECT_EQ(DN_MAX_LENGTH, Format(flat, DN_FORMAT_LDAP_TYPED).length);
}

TEST(FormatDNTest, NonzeroOutSizeBoundsTheResult) {
    Formatted cut = Format("CN=Jane Doe/OU=Sales/O=Acme", DN_FORMAT_LDAP, 9);
    EXPECT_EQ("Jane Doe", cut.text);
    EXPECT_EQ(8, cut.length);
    EXPECT_EQ("Jane Doe", cut.dnAfter);
}

TEST(DNOperationTest, ReverseAndSwapRewriteInPlace) {
    unsigned short length = 0;
    EXPECT_EQ("/O=Acme/OU=Sales/CN=Jane Doe", Apply(ReverseDN, "CN=Jane Doe/OU=Sales/O=Acme", '/', &length));
    EXPECT_EQ(28, length);
    EXPECT_EQ("/Sales Team", Apply(ReverseDN, "Sales Team", '/', &length));
    EXPECT_EQ(11, length);
    EXPECT_EQ("", Apply(ReverseDN, "", '/', &length));
    EXPECT_EQ(0, length);

    char text[] = "a/b/c";
    EXPECT_EQ(5, SwapDelimiters(text, '/', ','));
    EXPECT_STREQ("a,b,c", text);
    EXPECT_EQ(5, SwapDelimiters(text, ',', ',')) << "returns although nothing can change";
    EXPECT_EQ(5, SwapDelimiters(text, '\0', 'x'));
    EXPECT_STREQ("a,b,c", text);
}

TEST(DNOperationTest, StripDNTypesKeepsEveryComponentsValue) {
    unsigned short length = 0;
    EXPECT_EQ("\\Acme\\Sales\\Jane Doe", Apply(StripDNTypes, "\\O=Acme\\OU=Sales\\CN=Jane Doe", '\\', &length));
    EXPECT_EQ(28, length) << "the length before stripping";
    EXPECT_EQ("Sales Team", Apply(StripDNTypes, "Sales Team", ',', &length));
    EXPECT_EQ(0, length) << "no type to strip";
    // Untyped and empty components and values holding "=" keep their text.
    EXPECT_EQ("Jane,Doe,,Acme", Apply(StripDNTypes, "CN=Jane,Doe,,O=Acme", ',', &length));
    EXPECT_EQ("a=b,Acme", Apply(StripDNTypes, "CN=a=b,O=Acme", ',', &length));
}

}  // namespace
