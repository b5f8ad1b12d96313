// arrent.cpp - CArrayEntity, its held texts and the ASCII case conversions.
#include "arrent.h"

#include <new>
#include <string.h>

CHeldText::~CHeldText() { delete[] m_pText; }

int CHeldText::Set(const char* text, size_t limit) {
    size_t length = text != 0 ? strnlen(text, limit - 1) : 0;
    char* held = 0;
    if (length > 0) {
        held = new (std::nothrow) char[length + 1];
        if (held == 0) return 0;
        memcpy(held, text, length);
        held[length] = '\0';
    }
    delete[] m_pText;
    m_pText = held;
    return 1;
}

CArrayEntity::CArrayEntity(char* name) : m_bValid(0) { SetEntityName(name); }

CArrayEntity::~CArrayEntity() { m_bValid = 0; }

int CArrayEntity::EntityName(char* buffer) {
    if (!m_bValid || buffer == 0) return 0;
    strcpy(buffer, Name());
    return 1;
}

int CArrayEntity::SetEntityName(char* name) {
    if (m_bValid || name == 0) return 0;
    m_bValid = m_Name.Set(name, ENTITY_NAME_SIZE);
    return m_bValid;
}

char* strupper(char* text) {
    for (char* p = text; p != 0 && *p != '\0'; ++p)
        if (*p >= 'a' && *p <= 'z') *p = (char)(*p - 'a' + 'A');
    return text;
}

char* strlower(char* text) {
    for (char* p = text; p != 0 && *p != '\0'; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = (char)(*p - 'A' + 'a');
    return text;
}
