// arrent.h - CArrayEntity, the named element of every CEntityArray, the
// exact-size text that entities hold, and the in-place ASCII case
// conversions used before keyword and name comparisons.
//
// An entity's name is set at most once; an entity without a name is not
// valid. Entities carry no virtual operations: classes derive from
// CArrayEntity as their first and only base, so an entity pointer held as
// void* in an array is a CArrayEntity pointer.
#ifndef ZELREP_ARRENT_H
#define ZELREP_ARRENT_H

#include <stddef.h>

#define ENTITY_NAME_SIZE 512
// Names take part in comparisons through buffers of this size.
#define ENTITY_COMPARE_SIZE 128

// A text held in memory of its own length: a pass holds one entity per
// changed note, so fixed buffers would cost far more than their texts.
// A text is cut to fit a buffer of limit bytes (limit - 1 characters); a
// text that cannot be held (no memory) reads as the empty text. Not
// copyable: every holder owns its own.
class CHeldText {
public:
    CHeldText() : m_pText(0) {}
    ~CHeldText();
    CHeldText(const CHeldText&) = delete;
    CHeldText& operator=(const CHeldText&) = delete;

    // Replaces the text; 0 when it could not be held.
    int Set(const char* text, size_t limit);
    const char* Text() const { return m_pText != 0 ? m_pText : ""; }

private:
    char* m_pText;
};

class CArrayEntity {
public:
    explicit CArrayEntity(char* name = 0);
    ~CArrayEntity();

    // Copies the name into buffer (ENTITY_NAME_SIZE bytes); 0 when the
    // entity has no name or buffer is null.
    int EntityName(char* buffer);
    // Names an entity that has no name yet, cut to ENTITY_NAME_SIZE - 1
    // characters; 0 when it has one, name is null or there is no memory.
    int SetEntityName(char* name);
    int IsValid() const { return m_bValid; }
    // The name as held: the empty text while the entity has none.
    const char* Name() const { return m_Name.Text(); }

protected:
    CHeldText m_Name;
    int m_bValid;
};

// Upper- or lower-case the letters a-z / A-Z of text in place; other bytes
// stay. Return text.
char* strupper(char* text);
char* strlower(char* text);

#endif
