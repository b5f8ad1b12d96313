// idtable.cpp - ID tables: sets of note IDs kept in one memory block.
//
// The block starts with a header whose first member is the flags WORD (the
// flag and time calls work on the locked pointer), followed by the IDs in
// ascending order. Everything lives inside the block, so freeing the block
// (IDDestroyTable or OSMemFree) frees the table. The block doubles when it
// fills, so inserting IDs in ascending order costs amortised constant time.
// Walks (IDScan, IDEnumerate) find the next ID after the last one returned,
// so a table changed during a walk never makes them read stale memory.
#include <algorithm>
#include <cstring>

#include "idtable.h"
#include "memory.h"
#include "osmem.h"

namespace nrt {
namespace {

constexpr DWORD kIdTableMagic = 0x49445442;  // "IDTB"
constexpr DWORD kInitialCapacity = 64;

struct IdTableHeader {
    WORD flags;  // first: IDTableFlags reads the locked pointer directly
    WORD reserved;
    DWORD magic;
    DWORD count;
    DWORD capacity;
    DWORD scanLast;  // last ID IDScan returned
    DWORD scanActive;
    TIMEDATE time;
};

size_t BlockSizeFor(DWORD capacity) {
    return sizeof(IdTableHeader) + (size_t)capacity * sizeof(DWORD);
}

IdTableHeader* TableOf(DHANDLE handle) {
    size_t size = 0;
    auto* header = static_cast<IdTableHeader*>(BlockData(handle, &size));
    if (header == nullptr || size < sizeof(IdTableHeader)) return nullptr;
    if (header->magic != kIdTableMagic || BlockSizeFor(header->capacity) > size) return nullptr;
    return header;
}

DWORD* IdsOf(IdTableHeader* header) { return reinterpret_cast<DWORD*>(header + 1); }

// Position of the first ID not less than id.
DWORD LowerBound(IdTableHeader* header, DWORD id) {
    DWORD* ids = IdsOf(header);
    return (DWORD)(std::lower_bound(ids, ids + header->count, id) - ids);
}

// Makes room for one more ID; the header may move.
STATUS Reserve(DHANDLE handle, IdTableHeader** header) {
    if ((*header)->count < (*header)->capacity) return NOERROR;
    if ((*header)->capacity > MAXDWORD / 2) return ERR_MEMORY;
    DWORD grown = (*header)->capacity * 2;
    STATUS status = OSMemRealloc(handle, (DWORD)BlockSizeFor(grown));
    if (status != NOERROR) return status;
    *header = TableOf(handle);
    // Realloc keeps the old bytes, the magic among them; only the
    // recorded capacity changes.
    if (*header == nullptr) return ERR_INVALID_HANDLE;
    (*header)->capacity = grown;
    return NOERROR;
}

// The smallest ID greater than after (or the smallest ID at all when
// fromStart); false when there is none.
bool NextId(IdTableHeader* header, bool fromStart, DWORD after, DWORD* id) {
    DWORD position = fromStart ? 0 : LowerBound(header, after);
    if (!fromStart && position < header->count && IdsOf(header)[position] == after) ++position;
    if (position >= header->count) return false;
    *id = IdsOf(header)[position];
    return true;
}

}  // namespace
}  // namespace nrt

using nrt::IdTableHeader;
using nrt::TableOf;

extern "C" {

STATUS LNPUBLIC IDCreateTable(DWORD /*alignment*/, DHANDLE* rethTable) {
    if (rethTable == nullptr) return ERR_BAD_PARAM;
    STATUS status = NOERROR;
    DHANDLE handle = nrt::AllocBlock(nrt::BlockSizeFor(nrt::kInitialCapacity), &status);
    *rethTable = handle;
    if (handle == NULLHANDLE) return status;
    auto* header = static_cast<IdTableHeader*>(nrt::BlockData(handle, nullptr));
    header->magic = nrt::kIdTableMagic;
    header->capacity = nrt::kInitialCapacity;
    return NOERROR;
}

STATUS LNPUBLIC IDDestroyTable(DHANDLE hTable) {
    if (TableOf(hTable) == nullptr) return ERR_INVALID_HANDLE;
    return OSMemFree(hTable);
}

STATUS LNPUBLIC IDInsert(DHANDLE hTable, DWORD id, BOOL* retInserted) {
    if (retInserted != nullptr) *retInserted = FALSE;
    IdTableHeader* header = TableOf(hTable);
    if (header == nullptr) return ERR_INVALID_HANDLE;
    DWORD position = nrt::LowerBound(header, id);
    if (position < header->count && nrt::IdsOf(header)[position] == id) return NOERROR;
    STATUS status = nrt::Reserve(hTable, &header);
    if (status != NOERROR) return status;
    DWORD* ids = nrt::IdsOf(header);
    std::memmove(ids + position + 1, ids + position, (header->count - position) * sizeof(DWORD));
    ids[position] = id;
    ++header->count;
    header->flags |= IDTABLE_MODIFIED;
    if (retInserted != nullptr) *retInserted = TRUE;
    return NOERROR;
}

STATUS LNPUBLIC IDDelete(DHANDLE hTable, DWORD id, BOOL* retDeleted) {
    if (retDeleted != nullptr) *retDeleted = FALSE;
    IdTableHeader* header = TableOf(hTable);
    if (header == nullptr) return ERR_INVALID_HANDLE;
    DWORD position = nrt::LowerBound(header, id);
    DWORD* ids = nrt::IdsOf(header);
    if (position >= header->count || ids[position] != id) return NOERROR;
    std::memmove(ids + position, ids + position + 1, (header->count - position - 1) * sizeof(DWORD));
    --header->count;
    header->flags |= IDTABLE_MODIFIED;
    if (retDeleted != nullptr) *retDeleted = TRUE;
    return NOERROR;
}

BOOL LNPUBLIC IDIsPresent(DHANDLE hTable, DWORD id) {
    IdTableHeader* header = TableOf(hTable);
    if (header == nullptr) return FALSE;
    DWORD position = nrt::LowerBound(header, id);
    return position < header->count && nrt::IdsOf(header)[position] == id;
}

DWORD LNPUBLIC IDEntries(DHANDLE hTable) {
    IdTableHeader* header = TableOf(hTable);
    return header == nullptr ? 0 : header->count;
}

BOOL LNPUBLIC IDScan(DHANDLE hTable, BOOL first, DWORD* retID) {
    IdTableHeader* header = TableOf(hTable);
    if (header == nullptr || retID == nullptr) return FALSE;
    if (!first && !header->scanActive) return FALSE;
    DWORD id = 0;
    if (!nrt::NextId(header, first != FALSE, header->scanLast, &id)) {
        header->scanActive = 0;
        return FALSE;
    }
    header->scanLast = id;
    header->scanActive = 1;
    *retID = id;
    return TRUE;
}

STATUS LNPUBLIC IDEnumerate(DHANDLE hTable, IDENUMERATEPROC routine, void* parameter) {
    if (routine == nullptr) return ERR_BAD_PARAM;
    IdTableHeader* header = TableOf(hTable);
    if (header == nullptr) return ERR_INVALID_HANDLE;
    DWORD id = 0;
    bool fromStart = true;
    // The routine may change or even destroy the table; look it up again
    // before every step.
    while (header != nullptr && nrt::NextId(header, fromStart, id, &id)) {
        STATUS status = routine(parameter, id);
        if (status != NOERROR) return status;
        fromStart = false;
        header = TableOf(hTable);
    }
    return NOERROR;
}

WORD LNPUBLIC IDTableFlags(const void* pIDTable) {
    return pIDTable == nullptr ? 0 : static_cast<const IdTableHeader*>(pIDTable)->flags;
}

void LNPUBLIC IDTableSetFlags(void* pIDTable, WORD flags) {
    if (pIDTable != nullptr) static_cast<IdTableHeader*>(pIDTable)->flags = flags;
}

void LNPUBLIC IDTableSetTime(void* pIDTable, TIMEDATE time) {
    if (pIDTable != nullptr) static_cast<IdTableHeader*>(pIDTable)->time = time;
}

TIMEDATE LNPUBLIC IDTableTime(const void* pIDTable) {
    TIMEDATE none = {{0, 0}};
    return pIDTable == nullptr ? none : static_cast<const IdTableHeader*>(pIDTable)->time;
}

}  // extern "C"
