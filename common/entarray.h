// entarray.h - CEntityArray, the system's one container: a growable array
// of CArrayEntity pointers in insertion order or sorted by name.
//
// The array owns its slot block, never the entities: their owner destroys
// them, then the array. The block grows by 10 slots at a time. A failed
// growth stores nothing, keeps every entity already held, and is reported
// as false so that the caller can dispose of the entity it could not store.
//
// Names are compared byte-wise (strcmp order); a held name takes part in
// comparisons by its first ENTITY_COMPARE_SIZE - 1 characters.
#ifndef ZELREP_ENTARRAY_H
#define ZELREP_ENTARRAY_H

#include <stddef.h>
#include <stdint.h>

#define ENTARRAY_GROW_BY 10

class CEntityArray {
public:
    // Resizes a slot block the way realloc does: null on failure, the old
    // block then untouched.
    typedef void* (*SlotResizeFunc)(void* block, size_t bytes);

    CEntityArray();
    ~CEntityArray();
    CEntityArray(const CEntityArray&) = delete;
    CEntityArray& operator=(const CEntityArray&) = delete;

    // Binary search when sorted, else sequential. *index is untouched when
    // the array is empty.
    bool Find(char* name, long* index);
    // On a miss *index holds the last position probed.
    bool BSearchFind(char* name, long* index);
    // On a miss *index is untouched.
    bool SequentialFind(char* name, long* index);
    // Position for the entity in a sorted array; false (and 0) when its
    // name is held already.
    bool FindInsertion(void* entity, long* index);
    // Store at 0 <= index <= count, moving later entities up; false when
    // the index is out of range or the block cannot grow.
    bool DoInsertion(void* entity, long index);
    // Keeps a sorted array sorted (refusing a name held already), appends
    // to an unsorted one; *index is the position taken.
    bool Insert(void* entity, long* index);
    bool InsertAt(void* entity, long index);
    bool Add(void* entity);
    bool GrowIfNeeded();
    // Takes out the entity found under that entity's name.
    bool Remove(void* entity);
    bool QSort();
    // Null for an index outside 0..count-1.
    void* Get(long index);
    void* operator[](long index) const;
    static int CompareEntities(const void* a, const void* b);

    int Count() const { return m_nCount; }
    int Capacity() const { return m_nCapacity; }
    bool IsSorted() const { return m_bSorted; }

    // Replaces the block resize function (realloc by default) and returns
    // the one in use; lets tests make growth fail.
    static SlotResizeFunc SetSlotResizeFunc(SlotResizeFunc resize);

private:
    bool CanSearch(const char* name) const;
    bool BinarySearch(const char* name, long* probe, long* insertAt) const;
    void* Slot(long index) const;

    void** m_ppSlots;
    int32_t m_nCapacity;
    int32_t m_nCount;
    bool m_bSorted;

    static SlotResizeFunc s_pfnResize;
};

#endif
