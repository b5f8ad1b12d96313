// arrent.h - CArrayEntity, the named element of every CEntityArray, and the
// in-place ASCII case conversions used before keyword and name comparisons.
//
// An entity's name is set at most once; an entity without a name is not
// valid. Entities carry no virtual operations: classes derive from
// CArrayEntity as their first and only base, so an entity pointer held as
// void* in an array is a CArrayEntity pointer.
#ifndef ZELREP_ARRENT_H
#define ZELREP_ARRENT_H

#define ENTITY_NAME_SIZE 512
// Names take part in comparisons through buffers of this size.
#define ENTITY_COMPARE_SIZE 128

class CArrayEntity {
public:
    explicit CArrayEntity(char* name = 0);
    ~CArrayEntity();

    // Copies the name into buffer (ENTITY_NAME_SIZE bytes); 0 when the
    // entity has no name or buffer is null.
    int EntityName(char* buffer);
    // Names an entity that has no name yet; 0 when it has one or name is
    // null.
    int SetEntityName(char* name);
    int IsValid() const { return m_bValid; }
    // The name as held: the empty text while the entity has none.
    const char* Name() const { return m_szName; }

protected:
    char m_szName[ENTITY_NAME_SIZE];
    int m_bValid;
};

// Upper- or lower-case the letters a-z / A-Z of text in place; other bytes
// stay. Return text.
char* strupper(char* text);
char* strlower(char* text);

#endif
