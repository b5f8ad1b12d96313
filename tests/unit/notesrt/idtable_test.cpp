// idtable_test.cpp - ID tables: membership, ordered walks, the flags and
// time on the locked pointer, growth and the memory block behind a table.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "idtable.h"
#include "osmem.h"

namespace {

class IdTableTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NOERROR, IDCreateTable(sizeof(NOTEID), &table_)); }
    void TearDown() override {
        if (table_ != NULLHANDLE) IDDestroyTable(table_);
    }
    void Insert(DWORD id) { ASSERT_EQ(NOERROR, IDInsert(table_, id, nullptr)); }
    std::vector<DWORD> Enumerated() {
        std::vector<DWORD> seen;
        EXPECT_EQ(NOERROR, IDEnumerate(table_, Collect, &seen));
        return seen;
    }
    static STATUS LNCALLBACK Collect(void* context, DWORD id) {
        static_cast<std::vector<DWORD>*>(context)->push_back(id);
        return NOERROR;
    }

    DHANDLE table_ = NULLHANDLE;
};

TEST_F(IdTableTest, InsertDeleteAndPresenceKeepIdsUnique) {
    BOOL inserted = FALSE, deleted = FALSE;
    EXPECT_EQ(NOERROR, IDInsert(table_, 8, &inserted));
    EXPECT_TRUE(inserted);
    EXPECT_EQ(NOERROR, IDInsert(table_, 8, &inserted));
    EXPECT_FALSE(inserted);
    Insert(4);
    EXPECT_EQ(2u, IDEntries(table_));
    EXPECT_TRUE(IDIsPresent(table_, 8));
    EXPECT_FALSE(IDIsPresent(table_, 12));
    EXPECT_EQ(NOERROR, IDDelete(table_, 12, &deleted));
    EXPECT_FALSE(deleted);
    EXPECT_EQ(NOERROR, IDDelete(table_, 8, &deleted));
    EXPECT_TRUE(deleted);
    EXPECT_FALSE(IDIsPresent(table_, 8));
    EXPECT_EQ(1u, IDEntries(table_));
}

TEST_F(IdTableTest, WalksGoInAscendingOrderWithDeletionFlagLast) {
    std::vector<DWORD> ids = {0x80000010u, 40, 4, 0x80000004u, 12, 0xFFFFFFFFu, 0};
    for (DWORD id : ids) Insert(id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, Enumerated());

    std::vector<DWORD> scanned;
    DWORD id = 0;
    for (BOOL more = IDScan(table_, TRUE, &id); more; more = IDScan(table_, FALSE, &id))
        scanned.push_back(id);
    EXPECT_EQ(ids, scanned);
    EXPECT_FALSE(IDScan(table_, FALSE, &id));  // stays at the end
}

TEST_F(IdTableTest, RandomInsertsAndDeletesMatchASortedSet) {
    std::mt19937 random(7);
    std::vector<DWORD> expected;
    for (int i = 0; i < 5000; ++i) {
        DWORD id = (random() % 2000) * 4;
        if (random() % 3 == 0) {
            IDDelete(table_, id, nullptr);
            expected.erase(std::remove(expected.begin(), expected.end(), id), expected.end());
        } else {
            Insert(id);
            if (std::find(expected.begin(), expected.end(), id) == expected.end())
                expected.push_back(id);
        }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Enumerated());
    EXPECT_EQ(expected.size(), IDEntries(table_));
}

TEST_F(IdTableTest, EnumerationStopsWithTheRoutinesStatus) {
    for (DWORD id = 4; id <= 40; id += 4) Insert(id);
    struct Counter {
        int calls = 0;
    } counter;
    auto stopAtThird = [](void* context, DWORD) -> STATUS {
        return ++static_cast<Counter*>(context)->calls == 3 ? ERR_NOT_FOUND : NOERROR;
    };
    EXPECT_EQ(ERR_NOT_FOUND, IDEnumerate(table_, stopAtThird, &counter));
    EXPECT_EQ(3, counter.calls);
}

TEST_F(IdTableTest, RoutineMayChangeTheTableWhileItIsWalked) {
    for (DWORD id = 4; id <= 400; id += 4) Insert(id);
    struct Context {
        DHANDLE table;
        std::vector<DWORD> seen;
    } context{table_, {}};
    // Each visit deletes the next ID and inserts enough new large IDs to
    // make the block grow and move.
    auto mutate = [](void* param, DWORD id) -> STATUS {
        auto* ctx = static_cast<Context*>(param);
        ctx->seen.push_back(id);
        IDDelete(ctx->table, id + 4, nullptr);
        for (DWORD extra = 0; extra < 50 && id < 400; ++extra)
            IDInsert(ctx->table, 100000 + id * 100 + extra, nullptr);
        return NOERROR;
    };
    ASSERT_EQ(NOERROR, IDEnumerate(table_, mutate, &context));
    ASSERT_FALSE(context.seen.empty());
    EXPECT_TRUE(std::is_sorted(context.seen.begin(), context.seen.end()));
    EXPECT_EQ(4u, context.seen[0]);
    EXPECT_EQ(12u, context.seen[1]);  // 8 was deleted by the first visit
}

TEST_F(IdTableTest, FlagsAndTimeLiveBehindTheLockedPointer) {
    void* locked = OSLockObject(table_);
    ASSERT_NE(nullptr, locked);
    EXPECT_EQ(0, IDTableFlags(locked));
    TIMEDATE stamp = {{1234, 2461000}};
    IDTableSetTime(locked, stamp);
    OSUnlockObject(table_);

    Insert(4);
    locked = OSLockObject(table_);
    EXPECT_EQ(IDTABLE_MODIFIED, IDTableFlags(locked));
    EXPECT_EQ(IDTABLE_MODIFIED, *static_cast<WORD*>(locked));  // the block starts with them
    IDTableSetFlags(locked, 0);
    TIMEDATE read = IDTableTime(locked);
    EXPECT_EQ(stamp.Innards[0], read.Innards[0]);
    EXPECT_EQ(stamp.Innards[1], read.Innards[1]);
    OSUnlockObject(table_);

    IDDelete(table_, 4, nullptr);
    locked = OSLockObject(table_);
    EXPECT_EQ(IDTABLE_MODIFIED, IDTableFlags(locked));
    OSUnlockObject(table_);
}

TEST_F(IdTableTest, ManyAscendingInsertsAreAllKeptAndFreedWithTheBlock) {
    const DWORD count = 100000;
    for (DWORD i = 1; i <= count; ++i) Insert(i * 4);
    EXPECT_EQ(count, IDEntries(table_));
    EXPECT_TRUE(IDIsPresent(table_, 4));
    EXPECT_TRUE(IDIsPresent(table_, count * 4));
    EXPECT_FALSE(IDIsPresent(table_, 6));
    // OSMemFree frees a table like any block: nothing of it survives.
    EXPECT_EQ(NOERROR, OSMemFree(table_));
    EXPECT_EQ(0u, IDEntries(table_));
    EXPECT_FALSE(IDIsPresent(table_, 4));
    table_ = NULLHANDLE;
}

TEST_F(IdTableTest, GrowingALockedTableFailsAndKeepsItWhole) {
    for (DWORD i = 1; i <= 64; ++i) Insert(i);
    ASSERT_NE(nullptr, OSLockObject(table_));
    EXPECT_NE(NOERROR, IDInsert(table_, 1000, nullptr));
    OSUnlockObject(table_);
    EXPECT_EQ(64u, IDEntries(table_));
    EXPECT_FALSE(IDIsPresent(table_, 1000));
    Insert(1000);
    EXPECT_TRUE(IDIsPresent(table_, 1000));
}

TEST_F(IdTableTest, OtherHandlesAreRefused) {
    DHANDLE plain = NULLHANDLE;
    ASSERT_EQ(NOERROR, OSMemAlloc(0, 256, &plain));
    EXPECT_EQ(ERR_INVALID_HANDLE, IDInsert(plain, 4, nullptr));
    EXPECT_EQ(ERR_INVALID_HANDLE, IDDestroyTable(plain));
    EXPECT_EQ(0u, IDEntries(plain));
    EXPECT_EQ(NOERROR, OSMemFree(plain));

    EXPECT_EQ(ERR_INVALID_HANDLE, IDInsert(NULLHANDLE, 4, nullptr));
    EXPECT_EQ(ERR_INVALID_HANDLE, IDEnumerate(NULLHANDLE, Collect, nullptr));
    DWORD id = 0;
    EXPECT_FALSE(IDScan(NULLHANDLE, TRUE, &id));
    EXPECT_EQ(NOERROR, IDDestroyTable(table_));
    EXPECT_EQ(ERR_INVALID_HANDLE, IDDestroyTable(table_));
    table_ = NULLHANDLE;
}

}  // namespace
