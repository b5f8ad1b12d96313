// memory_test.cpp - memory blocks and the allocation fault hook.
#include <gtest/gtest.h>

#include <cstring>

#include "nrt_fault.h"
#include "osmem.h"

class MemoryTest : public ::testing::Test {
protected:
    void TearDown() override { NRTFaultReset(); }
};

TEST_F(MemoryTest, ZeroSizeAllocGivesNoHandleAndSuccess) {
    DHANDLE handle = 123;
    EXPECT_EQ(NOERROR, OSMemAlloc(0, 0, &handle));
    EXPECT_EQ(NULLHANDLE, handle);
    MEMHANDLE mem = NULLMEMHANDLE;
    EXPECT_EQ(NOERROR, OSMemoryAllocate(0, 0, &mem));  // a real, empty block
    EXPECT_NE(NULLMEMHANDLE, mem);
    EXPECT_NE(nullptr, OSMemoryLock(mem));
    EXPECT_TRUE(OSMemoryUnlock(mem));
    OSMemoryFree(mem);
}

TEST_F(MemoryTest, BlockIsZeroFilledAndKeepsItsBytesAcrossLocks) {
    DHANDLE handle = NULLHANDLE;
    ASSERT_EQ(NOERROR, OSMemAlloc(0, 64, &handle));
    char* bytes = OSLock(char, handle);
    ASSERT_NE(nullptr, bytes);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(0, bytes[i]);
    std::strcpy(bytes, "kept");
    OSUnlock(handle);
    EXPECT_STREQ("kept", OSLock(char, handle));
    OSUnlock(handle);
    DWORD size = 0;
    EXPECT_EQ(NOERROR, OSMemGetSize(handle, &size));
    EXPECT_EQ(64u, size);
    EXPECT_EQ(NOERROR, OSMemFree(handle));
}

TEST_F(MemoryTest, LockedBlockIsNotFreedAndStaleHandlesAreRefused) {
    DHANDLE handle = NULLHANDLE;
    ASSERT_EQ(NOERROR, OSMemAlloc(0, 8, &handle));
    ASSERT_NE(nullptr, OSLockObject(handle));
    EXPECT_NE(NOERROR, OSMemFree(handle));
    EXPECT_TRUE(OSUnlockObject(handle));
    EXPECT_FALSE(OSUnlockObject(handle));  // not locked any more
    EXPECT_EQ(NOERROR, OSMemFree(handle));
    EXPECT_EQ(ERR_INVALID_HANDLE, OSMemFree(handle));
    EXPECT_EQ(nullptr, OSLockObject(handle));
}

TEST_F(MemoryTest, InjectedFailureHitsOnlyTheChosenCall) {
    NRTFaultFailNth(NRT_FAULT_ALLOC, 2, ERR_MEMORY);
    MEMHANDLE first = NULLMEMHANDLE, second = NULLMEMHANDLE, third = NULLMEMHANDLE;
    EXPECT_EQ(NOERROR, OSMemoryAllocate(0, 8192, &first));
    EXPECT_EQ(ERR_MEMORY, OSMemoryAllocate(0, 8192, &second));
    EXPECT_EQ(NULLMEMHANDLE, second);
    EXPECT_EQ(NOERROR, OSMemoryAllocate(0, 8192, &third));
    OSMemoryFree(first);
    OSMemoryFree(third);
}

TEST_F(MemoryTest, ReallocKeepsContentAndRefusesWhileLocked) {
    DHANDLE handle = NULLHANDLE;
    ASSERT_EQ(NOERROR, OSMemAlloc(0, 4, &handle));
    std::memcpy(OSLock(char, handle), "abcd", 4);
    EXPECT_NE(NOERROR, OSMemRealloc(handle, 16));
    OSUnlock(handle);
    ASSERT_EQ(NOERROR, OSMemRealloc(handle, 16));
    EXPECT_EQ(0, std::memcmp(OSLock(char, handle), "abcd", 4));
    OSUnlock(handle);
    OSMemFree(handle);
}
