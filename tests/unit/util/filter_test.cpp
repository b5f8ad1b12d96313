// filter_test.cpp - tests of the publisher filter model: CFilter built over
// a filter text, class look-up, attribute look-up and iteration, and what
// is kept when memory for the arrays runs out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "entarray.h"
#include "filter.h"

namespace {

class FilterTest : public ::testing::Test {
protected:
    void TearDown() override { CEntityArray::SetSlotResizeFunc(nullptr); }

    static std::string Class(const std::string& name, const std::vector<std::string>& attrs) {
        std::string text = "<allow-class class-name=\"" + name + "\">";
        for (const std::string& attr : attrs) text += "<allow-attr attr-name=\"" + attr + "\"/>";
        return text + "</allow-class>\n";
    }
    static CFilterObject* Lookup(CFilter& filter, std::string name) {
        CFilterObject* object = nullptr;
        return filter.HasObject(name.data(), &object) ? object : nullptr;
    }
    // The attributes as note processing walks them, with their types.
    static std::vector<std::string> Attributes(CFilterObject* object) {
        std::vector<std::string> names;
        char name[FILTER_NAME_SIZE];
        char type[FILTER_NAME_SIZE];
        for (int found = object->GetFirstAttr(name, type); found; found = object->GetNextAttr(name, type)) {
            names.push_back(name);
            EXPECT_STREQ("", type);
        }
        return names;
    }
};

TEST_F(FilterTest, MissingTextOrClassesGiveNoObjects) {
    CFilter none(nullptr);
    EXPECT_EQ(0, none.ObjCount());
    EXPECT_EQ(nullptr, Lookup(none, "User"));

    std::string text = "<filter><!-- nothing published --></filter>";
    CFilter empty(text.data());
    EXPECT_EQ(0, empty.ObjCount());
    EXPECT_EQ(nullptr, Lookup(empty, "User"));
}

TEST_F(FilterTest, ClassesAndAttributesKeepTheTextOrder) {
    std::string text = Class("User", {"Surname", "Given Name", "Mail"}) + Class("Group", {"Members"}) +
                       Class("Host", {});
    CFilter filter(text.data());
    ASSERT_EQ(3, filter.ObjCount());
    CFilterObject* user = Lookup(filter, "User");
    ASSERT_NE(nullptr, user);
    EXPECT_EQ((std::vector<std::string>{"Surname", "Given Name", "Mail"}), Attributes(user));
    EXPECT_EQ(3, user->AttrCount());
    char mail[] = "Mail";
    char members[] = "Members";
    EXPECT_EQ(1, user->HasAttribute(mail, nullptr));
    EXPECT_EQ(0, user->HasAttribute(members, nullptr));

    char buffer[FILTER_NAME_SIZE];
    EXPECT_EQ(1, user->ObjectName(buffer));
    EXPECT_STREQ("User", buffer);
    EXPECT_EQ(0, user->ObjectName(nullptr));
    EXPECT_EQ((std::vector<std::string>{"Members"}), Attributes(Lookup(filter, "Group")));
}

TEST_F(FilterTest, DuplicatesStayInPlaceAndTheFirstClassWins) {
    std::string text = Class("User", {"Mail", "Mail"}) + Class("User", {"Surname"});
    CFilter filter(text.data());
    EXPECT_EQ(2, filter.ObjCount());
    CFilterObject* user = Lookup(filter, "User");
    ASSERT_NE(nullptr, user);
    EXPECT_EQ((std::vector<std::string>{"Mail", "Mail"}), Attributes(user));
}

TEST_F(FilterTest, IterationEndsCleanlyAndStartsOver) {
    std::string text = Class("Host", {}) + Class("User", {"Surname", "Mail"});
    CFilter filter(text.data());
    char name[FILTER_NAME_SIZE] = "untouched";
    char type[FILTER_NAME_SIZE] = "untouched";
    CFilterObject* host = Lookup(filter, "Host");
    ASSERT_NE(nullptr, host);
    EXPECT_EQ(0, host->GetFirstAttr(name, type));
    EXPECT_EQ(0, host->GetNextAttr(name, type));
    EXPECT_STREQ("untouched", name);
    EXPECT_STREQ("untouched", type);

    CFilterObject* user = Lookup(filter, "User");
    ASSERT_NE(nullptr, user);
    ASSERT_EQ(1, user->GetFirstAttr(name, type));
    ASSERT_EQ(1, user->GetNextAttr(name, type));
    EXPECT_STREQ("Mail", name);
    EXPECT_EQ(0, user->GetNextAttr(name, type));
    EXPECT_EQ(0, user->GetNextAttr(name, type));
    EXPECT_STREQ("Mail", name);
    ASSERT_EQ(1, user->GetFirstAttr(name, type));
    EXPECT_STREQ("Surname", name);
}

TEST_F(FilterTest, NamesMatchExactlyIncludingCase) {
    std::string text = Class("User", {"Surname"});
    CFilter filter(text.data());
    CFilterObject* user = Lookup(filter, "User");
    ASSERT_NE(nullptr, user);
    CFilterObject* object = user;
    char lower[] = "user";
    EXPECT_EQ(0, filter.HasObject(lower, &object));
    EXPECT_EQ(0, filter.HasObject(nullptr, &object));
    EXPECT_EQ(user, object) << "a miss leaves the object pointer";
    char surname[] = "surname";
    EXPECT_EQ(0, user->HasAttribute(surname, nullptr));
}

TEST_F(FilterTest, EntriesThatCannotBeStoredAreDroppedWhole) {
    std::vector<std::string> attrs;
    for (int i = 0; i < 12; ++i) attrs.push_back("a" + std::to_string(i));
    std::string text;
    for (int i = 0; i < 12; ++i) text += Class("c" + std::to_string(i), attrs);

    // Every array gets its first block of ten slots, and no more.
    CEntityArray::SetSlotResizeFunc([](void* block, size_t bytes) -> void* {
        return block == nullptr ? realloc(block, bytes) : nullptr;
    });
    CFilter filter(text.data());
    CEntityArray::SetSlotResizeFunc(nullptr);

    EXPECT_EQ(10, filter.ObjCount());
    EXPECT_EQ(nullptr, Lookup(filter, "c10"));
    CFilterObject* last = Lookup(filter, "c9");
    ASSERT_NE(nullptr, last);
    EXPECT_EQ(std::vector<std::string>(attrs.begin(), attrs.begin() + 10), Attributes(last));
}

}  // namespace
