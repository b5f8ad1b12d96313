// memory.cpp - memory blocks: OSMemAlloc/OSLockObject/OSMemFree and the
// OSMemory* family share one table of blocks. A block is a fixed buffer
// with a lock count; freeing a locked block is refused rather than leaving
// a dangling pointer. Allocation failures (real or injected) answer
// ERR_MEMORY.
#include "memory.h"

#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "fault.h"
#include "handles.h"
#include "nrt_fault.h"
#include "osmem.h"

namespace nrt {
namespace {

// Bytes of the larger sizes are kept when their block is freed, a few of
// each size class, for the next block of that class: a pass takes and
// frees a work buffer for every attribute it publishes, and the
// allocator's slow path for blocks of that size cost more than the work
// done in them. Sizes below the smallest class come from the allocator.
constexpr size_t kSmallestKept = 4096;
constexpr size_t kLargestKept = 131072;
constexpr size_t kKeptPerClass = 4;

// The bytes a block of size bytes gets: its size class, or just enough.
size_t CapacityFor(size_t size) {
    if (size < kSmallestKept || size > kLargestKept) return size;
    size_t capacity = kSmallestKept;
    while (capacity < size) capacity <<= 1;
    return capacity;
}

class SpareBytes {
public:
    std::unique_ptr<char[]> Take(size_t capacity) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::unique_ptr<char[]>>* spares = ClassOf(capacity);
        if (spares == nullptr || spares->empty()) return nullptr;
        std::unique_ptr<char[]> bytes = std::move(spares->back());
        spares->pop_back();
        return bytes;
    }
    void Give(std::unique_ptr<char[]> bytes, size_t capacity) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::unique_ptr<char[]>>* spares = ClassOf(capacity);
        if (spares != nullptr && spares->size() < kKeptPerClass) spares->push_back(std::move(bytes));
    }

private:
    std::vector<std::unique_ptr<char[]>>* ClassOf(size_t capacity) {
        if (capacity < kSmallestKept || capacity > kLargestKept || CapacityFor(capacity) != capacity) return nullptr;
        size_t index = 0;
        for (size_t each = kSmallestKept; each < capacity; each <<= 1) ++index;
        return &classes_[index];
    }
    std::mutex mutex_;
    std::vector<std::unique_ptr<char[]>> classes_[6];  // 4 KiB to 128 KiB
};

SpareBytes& Spares() {
    static SpareBytes* spares = new SpareBytes;  // outlives every block
    return *spares;
}

struct Block {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    size_t capacity = 0;
    int locks = 0;
    ~Block() {
        if (bytes) Spares().Give(std::move(bytes), capacity);
    }
};

HandleTable<Block>& Blocks() {
    static HandleTable<Block> table;
    return table;
}

// Zero-filled bytes for a block of size bytes, with one spare byte that
// keeps a zero-sized block addressable; false when memory ran out.
bool FillWithBytes(Block* block, size_t size) {
    size_t capacity = CapacityFor(size + 1);
    std::unique_ptr<char[]> bytes = Spares().Take(capacity);
    if (!bytes) bytes.reset(new (std::nothrow) char[capacity]);
    if (!bytes) return false;
    std::memset(bytes.get(), 0, size + 1);
    block->bytes = std::move(bytes);
    block->size = size;
    block->capacity = capacity;
    return true;
}

std::unique_ptr<Block> NewBlock(size_t size, STATUS* status) {
    STATUS injected = NOERROR;
    if (FaultHit(NRT_FAULT_ALLOC, &injected)) {
        *status = injected;
        return nullptr;
    }
    auto block = std::unique_ptr<Block>(new (std::nothrow) Block);
    if (!block || !FillWithBytes(block.get(), size)) {
        *status = ERR_MEMORY;
        return nullptr;
    }
    *status = NOERROR;
    return block;
}

}  // namespace

DHANDLE AllocBlock(size_t size, STATUS* status) {
    STATUS local = NOERROR;
    std::unique_ptr<Block> block = NewBlock(size, &local);
    if (status != nullptr) *status = local;
    return block ? Blocks().Add(std::move(block)) : NULLHANDLE;
}

DHANDLE AllocBlockWith(const std::string& bytes, STATUS* status) {
    DHANDLE handle = AllocBlock(bytes.size(), status);
    if (handle != NULLHANDLE && !bytes.empty())
        std::memcpy(Blocks().Get(handle)->bytes.get(), bytes.data(), bytes.size());
    return handle;
}

void* BlockData(DHANDLE handle, size_t* size) {
    Block* block = Blocks().Get(handle);
    if (block == nullptr) return nullptr;
    if (size != nullptr) *size = block->size;
    return block->bytes.get();
}

size_t LiveBlockCount() { return Blocks().Count(); }

}  // namespace nrt

using nrt::Block;
using nrt::Blocks;

extern "C" {

STATUS LNPUBLIC OSMemAlloc(WORD /*type*/, DWORD size, DHANDLE* rethandle) {
    if (rethandle == nullptr) return ERR_BAD_PARAM;
    *rethandle = NULLHANDLE;
    if (size == 0) return NOERROR;
    STATUS status = NOERROR;
    *rethandle = nrt::AllocBlock(size, &status);
    return status;
}

STATUS LNPUBLIC OSMemFree(DHANDLE handle) {
    Block* block = Blocks().Get(handle);
    if (block == nullptr) return ERR_INVALID_HANDLE;
    if (block->locks > 0) return ERR_BAD_PARAM;
    Blocks().Remove(handle);
    return NOERROR;
}

STATUS LNPUBLIC OSMemGetSize(DHANDLE handle, DWORD* retsize) {
    Block* block = Blocks().Get(handle);
    if (block == nullptr) return ERR_INVALID_HANDLE;
    if (retsize != nullptr) *retsize = (DWORD)block->size;
    return NOERROR;
}

STATUS LNPUBLIC OSMemRealloc(DHANDLE handle, DWORD newsize) {
    Block* block = Blocks().Get(handle);
    if (block == nullptr) return ERR_INVALID_HANDLE;
    if (block->locks > 0) return ERR_BAD_PARAM;
    STATUS status = NOERROR;
    std::unique_ptr<Block> grown = nrt::NewBlock(newsize, &status);
    if (!grown) return status;
    std::memcpy(grown->bytes.get(), block->bytes.get(),
                block->size < newsize ? block->size : newsize);
    std::swap(block->bytes, grown->bytes);
    std::swap(block->capacity, grown->capacity);
    block->size = newsize;
    return NOERROR;
}

void* LNPUBLIC OSLockObject(DHANDLE handle) {
    Block* block = Blocks().Get(handle);
    if (block == nullptr) return nullptr;
    ++block->locks;
    return block->bytes.get();
}

BOOL LNPUBLIC OSUnlockObject(DHANDLE handle) {
    Block* block = Blocks().Get(handle);
    if (block == nullptr || block->locks == 0) return FALSE;
    --block->locks;
    return TRUE;
}

STATUS LNPUBLIC OSMemoryAllocate(DWORD /*type*/, DWORD size, MEMHANDLE* rethandle) {
    if (rethandle == nullptr) return ERR_BAD_PARAM;
    STATUS status = NOERROR;
    *rethandle = nrt::AllocBlock(size, &status);
    return status;
}

void* LNPUBLIC OSMemoryLock(MEMHANDLE handle) { return OSLockObject(handle); }

BOOL LNPUBLIC OSMemoryUnlock(MEMHANDLE handle) { return OSUnlockObject(handle); }

void LNPUBLIC OSMemoryFree(MEMHANDLE handle) {
    // The documented call has no result: a block still locked is freed
    // anyway, as the caller asked for it to go.
    Blocks().Remove(handle);
}

DWORD LNPUBLIC OSMemoryGetSize(MEMHANDLE handle) {
    DWORD size = 0;
    OSMemGetSize(handle, &size);
    return size;
}

}  // extern "C"
