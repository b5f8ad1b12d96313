// memory.cpp - memory blocks: OSMemAlloc/OSLockObject/OSMemFree and the
// OSMemory* family share one table of blocks. A block is a fixed buffer
// with a lock count; freeing a locked block is refused rather than leaving
// a dangling pointer. Allocation failures (real or injected) answer
// ERR_MEMORY.
#include "memory.h"

#include <cstring>
#include <new>

#include "fault.h"
#include "handles.h"
#include "nrt_fault.h"
#include "osmem.h"

namespace nrt {
namespace {

struct Block {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    int locks = 0;
};

HandleTable<Block>& Blocks() {
    static HandleTable<Block> table;
    return table;
}

std::unique_ptr<Block> NewBlock(size_t size, STATUS* status) {
    STATUS injected = NOERROR;
    if (FaultHit(NRT_FAULT_ALLOC, &injected)) {
        *status = injected;
        return nullptr;
    }
    auto block = std::unique_ptr<Block>(new (std::nothrow) Block);
    // One spare byte keeps a zero-sized block addressable.
    if (block) block->bytes.reset(new (std::nothrow) char[size + 1]());
    if (!block || !block->bytes) {
        *status = ERR_MEMORY;
        return nullptr;
    }
    block->size = size;
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
    block->bytes = std::move(grown->bytes);
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
