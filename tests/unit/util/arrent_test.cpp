// arrent_test.cpp - tests of CArrayEntity (a name set at most once) and the
// in-place ASCII case conversions strupper and strlower.
#include <gtest/gtest.h>

#include <string>

#include "arrent.h"

namespace {

TEST(ArrayEntityTest, NameIsSetAtMostOnce) {
    char first[] = "first";
    char second[] = "second";
    CArrayEntity named(first);
    EXPECT_EQ(1, named.IsValid());
    EXPECT_EQ(0, named.SetEntityName(second));
    EXPECT_STREQ("first", named.Name());

    CArrayEntity unnamed;
    char buffer[ENTITY_NAME_SIZE] = "untouched";
    EXPECT_EQ(0, unnamed.IsValid());
    EXPECT_EQ(0, unnamed.EntityName(buffer));
    EXPECT_STREQ("untouched", buffer);
    EXPECT_EQ(0, unnamed.SetEntityName(0));
    EXPECT_EQ(1, unnamed.SetEntityName(second));
    EXPECT_EQ(1, unnamed.EntityName(buffer));
    EXPECT_STREQ("second", buffer);
    EXPECT_EQ(0, unnamed.EntityName(0));
}

TEST(ArrayEntityTest, LongNameIsCutTo511Characters) {
    std::string name(600, 'n');
    CArrayEntity entity(name.data());
    char buffer[ENTITY_NAME_SIZE];
    ASSERT_EQ(1, entity.EntityName(buffer));
    EXPECT_EQ(std::string(ENTITY_NAME_SIZE - 1, 'n'), buffer);
}

TEST(CaseConversionTest, OnlyAsciiLettersChangeInPlace) {
    char text[] = "Jane Doe/O=Acme 09 [@`{] \xe4\xc4";
    EXPECT_EQ(text, strupper(text));
    EXPECT_STREQ("JANE DOE/O=ACME 09 [@`{] \xe4\xc4", text);
    EXPECT_EQ(text, strlower(text));
    EXPECT_STREQ("jane doe/o=acme 09 [@`{] \xe4\xc4", text);

    char empty[] = "";
    EXPECT_STREQ("", strupper(empty));
    EXPECT_EQ(nullptr, strlower(nullptr));
}

}  // namespace
