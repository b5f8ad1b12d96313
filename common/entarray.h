// entarray.h - CEntityArray, the system's one container: a growable array
// of CArrayEntity pointers in insertion order or sorted by name.
//
// The array owns its slot block, never the entities: their owner destroys
// them, then the array. The block grows by 10 slots at a time. A failed
// growth stores nothing and keeps every entity already held.
#ifndef ZELREP_ENTARRAY_H
#define ZELREP_ENTARRAY_H

#include <stdint.h>

#define ENTARRAY_GROW_BY 10

class CEntityArray {
public:
    CEntityArray();
    ~CEntityArray();

    // Binary search when sorted, else sequential.
    bool Find(char* name, long* index);
    bool BSearchFind(char* name, long* index);
    bool SequentialFind(char* name, long* index);
    // Position for the entity in a sorted array; false when its name is
    // held already.
    bool FindInsertion(void* entity, long* index);
    bool DoInsertion(void* entity, long index);
    bool Insert(void* entity, long* index);
    bool InsertAt(void* entity, long index);
    bool Add(void* entity);
    bool GrowIfNeeded();
    bool Remove(void* entity);
    bool QSort();
    void* Get(long index);
    void* operator[](long index) const;
    static int CompareEntities(const void* a, const void* b);

    int Count() const { return m_nCount; }
    int Capacity() const { return m_nCapacity; }
    bool IsSorted() const { return m_bSorted; }

private:
    void** m_ppSlots;
    int32_t m_nCapacity;
    int32_t m_nCount;
    bool m_bSorted;
};

#endif
