// entarray_test.cpp - tests of CEntityArray: look-ups (sequential and
// binary), ordered insertion, growth and failed growth, removal, sorting
// and its byte-wise, case-sensitive order.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "arrent.h"
#include "entarray.h"

namespace {

void* FailingResize(void*, size_t) { return nullptr; }

class EntityArrayTest : public ::testing::Test {
protected:
    void TearDown() override { CEntityArray::SetSlotResizeFunc(nullptr); }

    // An entity owned by the fixture, as the array never owns its entities.
    CArrayEntity* Make(const std::string& name) {
        std::string copy = name;
        entities_.push_back(std::make_unique<CArrayEntity>(copy.data()));
        return entities_.back().get();
    }
    void AddAll(const std::vector<std::string>& names) {
        for (const std::string& name : names) ASSERT_TRUE(array_.Add(Make(name)));
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (long i = 0; i < array_.Count(); ++i)
            names.push_back(static_cast<CArrayEntity*>(array_[i])->Name());
        return names;
    }
    bool Find(const std::string& name, long* index) {
        std::string copy = name;
        return array_.Find(copy.data(), index);
    }

    CEntityArray array_;
    std::vector<std::unique_ptr<CArrayEntity>> entities_;
};

TEST_F(EntityArrayTest, FindOnEmptyArrayLeavesIndexUntouched) {
    long index = 42;
    EXPECT_FALSE(Find("any", &index));
    EXPECT_EQ(42, index);
    array_.QSort();
    EXPECT_FALSE(Find("any", &index));
    EXPECT_EQ(42, index);
}

TEST_F(EntityArrayTest, FindSearchesBinaryOnlyWhileSorted) {
    AddAll({"delta", "alpha", "charlie", "bravo"});
    long index = -1;
    EXPECT_TRUE(Find("charlie", &index));
    EXPECT_EQ(2, index);
    EXPECT_FALSE(Find("echo", &index));
    EXPECT_EQ(2, index) << "a sequential miss leaves the index";

    ASSERT_TRUE(array_.QSort());
    EXPECT_TRUE(array_.IsSorted());
    EXPECT_EQ((std::vector<std::string>{"alpha", "bravo", "charlie", "delta"}), Names());
    EXPECT_TRUE(Find("delta", &index));
    EXPECT_EQ(3, index);
    index = -1;
    EXPECT_FALSE(Find("aaa", &index));
    EXPECT_EQ(0, index) << "a binary miss reports the last position probed";

    // An entity appended out of order is still found: the array falls back
    // to the sequential scan.
    ASSERT_TRUE(array_.Add(Make("Zulu")));
    EXPECT_FALSE(array_.IsSorted());
    EXPECT_TRUE(Find("Zulu", &index));
    EXPECT_EQ(4, index);
    ASSERT_TRUE(array_.QSort());
    ASSERT_TRUE(array_.InsertAt(Make("Aaron"), 5));
    EXPECT_FALSE(array_.IsSorted());
    EXPECT_TRUE(Find("Aaron", &index));
    EXPECT_EQ(5, index);
}

TEST_F(EntityArrayTest, InsertKeepsSortedArraySortedAndRefusesHeldName) {
    array_.QSort();
    long index = -1;
    ASSERT_TRUE(array_.Insert(Make("mike"), &index));
    EXPECT_EQ(0, index) << "first entity of an empty sorted array";
    for (const char* name : {"kilo", "papa", "lima", "oscar", "alpha"}) {
        ASSERT_TRUE(array_.Insert(Make(name), &index));
        EXPECT_STREQ(name, static_cast<CArrayEntity*>(array_[index])->Name());
    }
    EXPECT_TRUE(array_.IsSorted());
    const std::vector<std::string> sorted = {"alpha", "kilo", "lima", "mike", "oscar", "papa"};
    EXPECT_EQ(sorted, Names());

    index = -1;
    EXPECT_FALSE(array_.Insert(Make("lima"), &index));
    EXPECT_EQ(0, index);
    EXPECT_EQ(sorted, Names());
}

TEST_F(EntityArrayTest, UnsortedInsertAppendsAndInsertAtPlaces) {
    AddAll({"a", "c"});
    long index = -1;
    ASSERT_TRUE(array_.Insert(Make("e"), &index));
    EXPECT_EQ(2, index);
    ASSERT_TRUE(array_.InsertAt(Make("b"), 1));
    ASSERT_TRUE(array_.InsertAt(Make("d"), 3));
    ASSERT_TRUE(array_.InsertAt(Make("0"), 0));
    EXPECT_FALSE(array_.InsertAt(Make("x"), 7));
    EXPECT_FALSE(array_.InsertAt(Make("x"), -1));
    EXPECT_EQ((std::vector<std::string>{"0", "a", "b", "c", "d", "e"}), Names());
    EXPECT_EQ(nullptr, array_.Get(6));
    EXPECT_EQ(nullptr, array_.Get(-1));
}

// Names that compare equal (same compared prefix) keep the order they were
// added in, on every C library: the pass publishes them in listing order.
TEST_F(EntityArrayTest, SortKeepsTheAddedOrderOfEqualNames) {
    const std::string prefix(ENTITY_COMPARE_SIZE - 1, 'k');
    std::vector<std::string> tied;
    for (int i = 0; i < 40; ++i) {
        tied.push_back(prefix + std::to_string((i * 7) % 40));
        AddAll({tied.back(), "z" + std::to_string(i), "a" + std::to_string(i)});
    }
    array_.QSort();
    std::vector<std::string> sorted = Names();
    std::vector<std::string> tiedAsSorted;
    for (const std::string& name : sorted)
        if (name.compare(0, prefix.size(), prefix) == 0) tiedAsSorted.push_back(name);
    EXPECT_EQ(tied, tiedAsSorted);
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(), [&](const std::string& a, const std::string& b) {
        return a.compare(0, prefix.size(), b, 0, prefix.size()) < 0;
    }));
}

TEST_F(EntityArrayTest, BlockGrowsByTenSlots) {
    EXPECT_EQ(0, array_.Capacity());
    AddAll({"1"});
    EXPECT_EQ(10, array_.Capacity());
    AddAll({"2", "3", "4", "5", "6", "7", "8", "9", "10"});
    EXPECT_EQ(10, array_.Capacity());
    AddAll({"11"});
    EXPECT_EQ(20, array_.Capacity());
    EXPECT_EQ(11, array_.Count());
}

TEST_F(EntityArrayTest, FailedGrowthStoresNothingAndKeepsEveryEntity) {
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) names.push_back("n" + std::to_string(i));
    AddAll(names);
    array_.QSort();

    CEntityArray::SetSlotResizeFunc(FailingResize);
    long index = -1;
    EXPECT_FALSE(array_.GrowIfNeeded());
    EXPECT_FALSE(array_.Add(Make("extra")));
    EXPECT_FALSE(array_.Insert(Make("n55"), &index));
    EXPECT_FALSE(array_.InsertAt(Make("extra"), 3));
    EXPECT_FALSE(array_.DoInsertion(Make("extra"), 0));
    EXPECT_EQ(names, Names());
    EXPECT_EQ(10, array_.Capacity());
    EXPECT_TRUE(array_.IsSorted());
    EXPECT_TRUE(Find("n9", &index));

    CEntityArray::SetSlotResizeFunc(nullptr);
    EXPECT_TRUE(array_.Add(Make("extra")));
    EXPECT_EQ(11, array_.Count());
}

TEST_F(EntityArrayTest, RemoveTakesOutTheEntityFoundUnderTheName) {
    AddAll({"a", "b", "c"});
    EXPECT_FALSE(array_.Remove(Make("z")));
    EXPECT_FALSE(array_.Remove(nullptr));
    EXPECT_EQ(3, array_.Count());

    // Another entity of the same name removes the held one.
    ASSERT_TRUE(array_.Remove(Make("b")));
    EXPECT_EQ((std::vector<std::string>{"a", "c"}), Names());
    ASSERT_TRUE(array_.Remove(Make("c")));
    EXPECT_EQ((std::vector<std::string>{"a"}), Names());
    EXPECT_EQ(nullptr, array_.Get(1));
    ASSERT_TRUE(array_.Add(Make("d")));
    EXPECT_EQ((std::vector<std::string>{"a", "d"}), Names());
}

TEST_F(EntityArrayTest, NamesCompareCaseSensitivelyByteByByte) {
    AddAll({"banana", "apple", "Banana", "Apple", "\xe4pple", "apple2"});
    array_.QSort();
    EXPECT_EQ((std::vector<std::string>{"Apple", "Banana", "apple", "apple2", "banana", "\xe4pple"}), Names());
    long index = -1;
    EXPECT_TRUE(Find("apple", &index));
    EXPECT_EQ(2, index);
    EXPECT_FALSE(Find("APPLE", &index));

    void* a = Make("a");
    void* z = Make("z");
    EXPECT_EQ(-1, CEntityArray::CompareEntities(&a, &z));
    EXPECT_EQ(1, CEntityArray::CompareEntities(&z, &a));
    EXPECT_EQ(0, CEntityArray::CompareEntities(&a, &a));
}

TEST_F(EntityArrayTest, LongNamesCompareByTheirFirst127Characters) {
    const std::string prefix(ENTITY_COMPARE_SIZE - 1, 'k');
    array_.QSort();
    long index = -1;
    ASSERT_TRUE(array_.Insert(Make(prefix + "first"), &index));
    ASSERT_TRUE(array_.Insert(Make(std::string(300, 'a')), &index));
    EXPECT_FALSE(array_.Insert(Make(prefix + "second"), &index)) << "same name as far as it is compared";
    EXPECT_TRUE(Find(prefix, &index));
    EXPECT_EQ(1, index);
    EXPECT_FALSE(Find(prefix.substr(1), &index));
    EXPECT_TRUE(array_.Remove(Make(prefix + "other")));
    EXPECT_EQ(1, array_.Count());
}

TEST_F(EntityArrayTest, SortsAndFindsManyNoteKeys) {
    std::mt19937 random(7);
    std::vector<std::string> keys;
    for (int i = 0; i < 2000; ++i) {
        char key[64];
        snprintf(key, sizeof key, "2026/12/%02d %02d:%02d:%02d GMT:%d", 1 + i % 28, (i * 7) % 24, (i * 13) % 60, i % 60,
                 1 + i % 3);
        keys.push_back(key);
    }
    std::shuffle(keys.begin(), keys.end(), random);
    AddAll(keys);
    ASSERT_TRUE(array_.QSort());
    std::vector<std::string> names = Names();
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    for (const std::string& key : keys) {
        long index = -1;
        ASSERT_TRUE(Find(key, &index)) << key;
        EXPECT_EQ(key, names[index]);
    }
}

TEST_F(EntityArrayTest, NullNamesAndEmptySlotsDoNoHarm) {
    AddAll({"a"});
    ASSERT_TRUE(array_.Add(nullptr));
    long index = -1;
    EXPECT_FALSE(array_.Find(nullptr, &index));
    ASSERT_TRUE(array_.QSort());
    EXPECT_EQ(nullptr, array_.Get(0)) << "an empty slot sorts as the empty name";
    EXPECT_TRUE(Find("a", nullptr));
}

}  // namespace
