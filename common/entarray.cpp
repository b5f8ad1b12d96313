// entarray.cpp - CEntityArray: the slot block, its growth, name look-ups
// (sequential or binary), ordered insertion, removal and sorting.
//
// Every slot holds a CArrayEntity pointer (or null, which reads as an
// entity without a name). Held names compare by their first
// ENTITY_COMPARE_SIZE - 1 characters, so no comparison ever reads or
// copies more than that of a name.
#include "entarray.h"

#include <algorithm>

#include <stdlib.h>
#include <string.h>

#include "arrent.h"

namespace {

const size_t kKeyLength = ENTITY_COMPARE_SIZE - 1;

const char* EntityKey(const void* entity) {
    return entity != 0 ? static_cast<const CArrayEntity*>(entity)->Name() : "";
}

// strcmp of a held name, cut to kKeyLength, with a name of any length.
int CompareHeldName(const char* held, const char* name) {
    size_t heldLength = strnlen(held, kKeyLength);
    int order = strncmp(held, name, heldLength);
    if (order != 0) return order;
    return name[heldLength] == '\0' ? 0 : -1;
}

// The entity's name as it takes part in comparisons.
void CopyKey(const void* entity, char* key) {
    const char* name = EntityKey(entity);
    size_t length = strnlen(name, kKeyLength);
    memcpy(key, name, length);
    key[length] = '\0';
}

int Sign(int value) { return (value > 0) - (value < 0); }

}  // namespace

CEntityArray::SlotResizeFunc CEntityArray::s_pfnResize = realloc;

CEntityArray::SlotResizeFunc CEntityArray::SetSlotResizeFunc(SlotResizeFunc resize) {
    SlotResizeFunc previous = s_pfnResize;
    s_pfnResize = resize != 0 ? resize : realloc;
    return previous;
}

CEntityArray::CEntityArray() : m_ppSlots(0), m_nCapacity(0), m_nCount(0), m_bSorted(false) {}

CEntityArray::~CEntityArray() {
    free(m_ppSlots);
    m_ppSlots = 0;
    m_nCapacity = 0;
    m_nCount = 0;
}

bool CEntityArray::CanSearch(const char* name) const {
    return name != 0 && m_nCount > 0 && m_ppSlots != 0;
}

bool CEntityArray::Find(char* name, long* index) {
    if (!CanSearch(name)) return false;
    return m_bSorted ? BSearchFind(name, index) : SequentialFind(name, index);
}

bool CEntityArray::BinarySearch(const char* name, long* probe, long* insertAt) const {
    long lo = 0;
    long hi = m_nCount - 1;
    while (lo <= hi) {
        long mid = lo + (hi - lo) / 2;
        *probe = mid;
        int order = CompareHeldName(EntityKey(m_ppSlots[mid]), name);
        if (order == 0) return true;
        if (order > 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    *insertAt = lo;
    return false;
}

bool CEntityArray::BSearchFind(char* name, long* index) {
    if (!CanSearch(name)) return false;
    long scratch = 0;
    long unused = 0;
    return BinarySearch(name, index != 0 ? index : &scratch, &unused);
}

bool CEntityArray::SequentialFind(char* name, long* index) {
    if (!CanSearch(name)) return false;
    for (long i = 0; i < m_nCount; ++i) {
        if (CompareHeldName(EntityKey(m_ppSlots[i]), name) == 0) {
            if (index != 0) *index = i;
            return true;
        }
    }
    return false;
}

bool CEntityArray::FindInsertion(void* entity, long* index) {
    long scratch = 0;
    if (index == 0) index = &scratch;
    *index = 0;
    if (m_nCount == 0 || m_ppSlots == 0) return true;
    char key[ENTITY_COMPARE_SIZE];
    CopyKey(entity, key);
    long probe = 0;
    long insertAt = 0;
    if (BinarySearch(key, &probe, &insertAt)) return false;
    *index = insertAt;
    return true;
}

bool CEntityArray::GrowIfNeeded() {
    if (m_nCount < m_nCapacity) return true;
    if (m_nCapacity > INT32_MAX - ENTARRAY_GROW_BY) return false;
    int32_t capacity = m_nCapacity + ENTARRAY_GROW_BY;
    void** slots = static_cast<void**>(s_pfnResize(m_ppSlots, (size_t)capacity * sizeof(void*)));
    if (slots == 0) return false;
    memset(slots + m_nCapacity, 0, ENTARRAY_GROW_BY * sizeof(void*));
    m_ppSlots = slots;
    m_nCapacity = capacity;
    return true;
}

bool CEntityArray::Add(void* entity) {
    if (!GrowIfNeeded()) return false;
    m_ppSlots[m_nCount++] = entity;
    m_bSorted = false;
    return true;
}

bool CEntityArray::DoInsertion(void* entity, long index) {
    if (index < 0 || index > m_nCount) return false;
    if (!GrowIfNeeded()) return false;
    memmove(m_ppSlots + index + 1, m_ppSlots + index, (size_t)(m_nCount - index) * sizeof(void*));
    m_ppSlots[index] = entity;
    ++m_nCount;
    return true;
}

bool CEntityArray::Insert(void* entity, long* index) {
    long scratch = 0;
    if (index == 0) index = &scratch;
    if (!m_bSorted) {
        if (!Add(entity)) return false;
        *index = m_nCount - 1;
        return true;
    }
    if (!FindInsertion(entity, index)) return false;
    return DoInsertion(entity, *index);
}

bool CEntityArray::InsertAt(void* entity, long index) {
    bool stored = index == m_nCount ? Add(entity) : DoInsertion(entity, index);
    if (stored) m_bSorted = false;
    return stored;
}

bool CEntityArray::Remove(void* entity) {
    if (entity == 0) return false;
    char key[ENTITY_COMPARE_SIZE];
    CopyKey(entity, key);
    long index = 0;
    if (!Find(key, &index)) return false;
    memmove(m_ppSlots + index, m_ppSlots + index + 1, (size_t)(m_nCount - index - 1) * sizeof(void*));
    m_ppSlots[--m_nCount] = 0;
    return true;
}

// Stable: entities under the same name keep the order they were added in
// (the listing's note ID order), whatever the C library's sort does with
// equal keys, so that every build publishes them in one order.
bool CEntityArray::QSort() {
    m_bSorted = false;
    std::stable_sort(m_ppSlots, m_ppSlots + m_nCount,
                     [](void* a, void* b) { return CompareEntities(&a, &b) < 0; });
    m_bSorted = true;
    return true;
}

int CEntityArray::CompareEntities(const void* a, const void* b) {
    const char* first = EntityKey(*static_cast<void* const*>(a));
    const char* second = EntityKey(*static_cast<void* const*>(b));
    return Sign(strncmp(first, second, kKeyLength));
}

void* CEntityArray::Slot(long index) const {
    if (index < 0 || index >= m_nCount) return 0;
    return m_ppSlots[index];
}

void* CEntityArray::Get(long index) { return Slot(index); }

void* CEntityArray::operator[](long index) const { return Slot(index); }
