// filtxml_test.cpp - tests of CFilterXML, the publisher filter scanner: the
// classes and attributes it yields for well-formed and broken filter texts,
// walked in the order the filter model walks it, and the names it leaves
// out for their length.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "filtxml.h"

namespace {

typedef std::vector<std::pair<std::string, std::vector<std::string>>> Classes;

// Every class with its attributes, as the model takes them.
Classes Walk(std::string text) {
    CFilterXML scanner(text.data());
    Classes classes;
    char name[FILTER_NAME_SIZE];
    for (int found = scanner.GetFirstObject(name); found; found = scanner.GetNextObject(name)) {
        classes.push_back({name, {}});
        while (scanner.GetAttribute(name)) classes.back().second.push_back(name);
        EXPECT_STREQ("", name) << "a failed look-up empties the name";
    }
    EXPECT_STREQ("", name);
    return classes;
}

std::string Class(const std::string& name, const std::string& body) {
    return "<allow-class class-name=\"" + name + "\">" + body + "</allow-class>\n";
}

std::string Attr(const std::string& name) { return "<allow-attr attr-name=\"" + name + "\"/>"; }

TEST(FilterScannerTest, YieldsClassesAndAttributesInTextOrder) {
    std::string text = "<?xml version=\"1.0\"?>\n<filter>\n<!-- directory -->\n" +
                       Class("User", Attr("Surname") + "<allow-attr attr-name = \"Given Name\" ></allow-attr>") +
                       Class("Group", Attr("Members")) + "</filter>";
    Classes expected = {{"User", {"Surname", "Given Name"}}, {"Group", {"Members"}}};
    EXPECT_EQ(expected, Walk(text));
}

TEST(FilterScannerTest, MissingEndTags) {
    EXPECT_TRUE(Walk("<filter>" + Attr("Surname") + "</filter>").empty()) << "no class token";
    EXPECT_TRUE(Walk("<allow-class class-name=\"User\">" + Attr("Surname")).empty()) << "no end tag at all";

    // A later class without an end tag has no attributes, and no class
    // follows it.
    Classes lastOpen = {{"User", {"Surname"}}, {"Group", {}}};
    EXPECT_EQ(lastOpen, Walk(Class("User", Attr("Surname")) + "<allow-class class-name=\"Group\">" + Attr("Members") +
                             "<allow-class class-name=\"Host\">"));

    // A first class without its own end tag runs to the next one.
    Classes firstOpen = {{"User", {"Surname", "Members"}}, {"Host", {"Name"}}};
    EXPECT_EQ(firstOpen, Walk("<allow-class class-name=\"User\">" + Attr("Surname") + Class("Group", Attr("Members")) +
                              Class("Host", Attr("Name"))));
}

TEST(FilterScannerTest, ClassWithoutATakeableNameBorrowsOrEndsTheWalk) {
    // The borrowed name leaves the cursor in the next class, so the first
    // class takes none of its own attributes.
    Classes borrowed = {{"Group", {}}, {"Group", {"Members"}}};
    EXPECT_EQ(borrowed, Walk("<allow-class>" + Attr("Surname") + "</allow-class>" + Class("Group", Attr("Members"))));

    Classes stopped = {{"User", {}}};
    EXPECT_EQ(stopped, Walk(Class("User", "") + "<allow-class class-name></allow-class><allow-class></allow-class>"));
    EXPECT_EQ(stopped, Walk(Class("User", "") + "<allow-class class-name=Group></allow-class>" +
                            "<allow-class class-name=Host></allow-class>"));
}

TEST(FilterScannerTest, AttributesOnlyInsideTheirClass) {
    Classes expected = {{"User", {}}, {"Group", {"Members"}}};
    EXPECT_EQ(expected, Walk(Class("User", "") + Attr("Stray") + Class("Group", Attr("Members")) + Attr("Late")));
}

TEST(FilterScannerTest, ValuesRunBetweenDoubleQuotesOnly) {
    Classes singleQuoted = {{"User", {"Surname"}}};
    EXPECT_EQ(singleQuoted, Walk(Class("User", "<allow-attr attr-name='Given'/>" + Attr("Surname"))))
        << "the value runs to the next pair of double quotes";
    Classes empty = {{"", {""}}};
    EXPECT_EQ(empty, Walk(Class("", Attr(""))));
    Classes raw = {{"A&amp;B", {" x "}}};
    EXPECT_EQ(raw, Walk(Class("A&amp;B", Attr(" x "))));
}

TEST(FilterScannerTest, TokensMatchOnlyInTheirExactCase) {
    EXPECT_TRUE(Walk("<Allow-class class-name=\"User\"></Allow-class>").empty());
    Classes expected = {{"User", {}}};
    EXPECT_EQ(expected, Walk(Class("User", "<allow-Attr attr-name=\"Surname\"/>")));
    EXPECT_EQ(expected, Walk("<!-- " + Class("User", "") + " -->")) << "tokens count inside comments";
}

// What the skip report heard: "name" for a class, "class/name" for an
// attribute.
void NoteSkipped(void* context, const char* name, size_t length, const char* className) {
    std::string skipped(name, length);
    if (className != nullptr) skipped = std::string(className) + "/" + skipped;
    static_cast<std::vector<std::string>*>(context)->push_back(skipped);
}

Classes WalkReporting(std::string text, std::vector<std::string>* skipped) {
    CFilterXML scanner(text.data(), NoteSkipped, skipped);
    Classes classes;
    char name[FILTER_NAME_SIZE];
    for (int found = scanner.GetFirstObject(name); found; found = scanner.GetNextObject(name)) {
        classes.push_back({name, {}});
        while (scanner.GetAttribute(name)) classes.back().second.push_back(name);
    }
    return classes;
}

TEST(FilterScannerTest, NamesLongerThan127CharactersAreLeftOutAndReported) {
    std::string longest(FILTER_NAME_SIZE - 1, 'n');
    std::string tooLong(FILTER_NAME_SIZE, 'L');
    Classes fits = {{longest, {longest}}};
    EXPECT_EQ(fits, Walk(Class(longest, Attr(longest))));
    EXPECT_TRUE(Walk(Class(tooLong, Attr("Surname"))).empty());

    // One attribute goes, the rest of its class stays.
    std::vector<std::string> skipped;
    Classes attrDropped = {{"User", {"Surname", "Given"}}};
    EXPECT_EQ(attrDropped, WalkReporting(Class("User", Attr("Surname") + Attr(tooLong) + Attr("Given")), &skipped));
    EXPECT_EQ(std::vector<std::string>{"User/" + tooLong}, skipped);

    // One class goes with its attributes, first or later, and the classes
    // around it stay.
    skipped.clear();
    Classes classDropped = {{"Group", {"Members"}}, {"Server", {}}};
    EXPECT_EQ(classDropped, WalkReporting(Class(tooLong, Attr("Surname")) + Class("Group", Attr("Members")) +
                                              Class(tooLong + "x", Attr("Given")) + Class("Server", ""),
                                          &skipped));
    EXPECT_EQ((std::vector<std::string>{tooLong, tooLong + "x"}), skipped);

    // Without a report, the same walk.
    EXPECT_EQ(attrDropped, Walk(Class("User", Attr("Surname") + Attr(tooLong) + Attr("Given"))));
}

TEST(FilterScannerTest, NullTextNullNameAndOutOfOrderCalls) {
    char name[FILTER_NAME_SIZE] = "untouched";
    CFilterXML none(nullptr);
    EXPECT_EQ(1, none.IsZELFilter());
    EXPECT_EQ(0, none.GetFirstObject(name));
    EXPECT_EQ(0, none.GetNextObject(name));
    EXPECT_EQ(0, none.GetAttribute(name));
    EXPECT_STREQ("untouched", name);

    std::string text = Class("User", Attr("Surname"));
    CFilterXML scanner(text.data());
    EXPECT_EQ(0, scanner.GetAttribute(name)) << "no class taken yet";
    EXPECT_EQ(0, scanner.GetNextObject(name));
    EXPECT_EQ(0, scanner.GetFirstObject(nullptr));
    ASSERT_EQ(1, scanner.GetFirstObject(name));
    ASSERT_EQ(1, scanner.GetAttribute(name));
    EXPECT_EQ(0, scanner.GetAttribute(name));
    EXPECT_EQ(0, scanner.GetAttribute(name));
    EXPECT_EQ(1, scanner.GetFirstObject(name)) << "a new walk starts over";
    EXPECT_STREQ("User", name);
}

}  // namespace
