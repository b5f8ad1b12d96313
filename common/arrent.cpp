// arrent.cpp - CArrayEntity and the ASCII case conversions.
#include "arrent.h"

#include <string.h>

CArrayEntity::CArrayEntity(char* name) : m_bValid(0) {
    m_szName[0] = '\0';
    if (name != 0) {
        strncpy(m_szName, name, ENTITY_NAME_SIZE - 1);
        m_szName[ENTITY_NAME_SIZE - 1] = '\0';
        m_bValid = 1;
    }
}

CArrayEntity::~CArrayEntity() {
    memset(m_szName, 0, sizeof(m_szName));
    m_bValid = 0;
}

int CArrayEntity::EntityName(char* buffer) {
    if (!m_bValid || buffer == 0) return 0;
    strcpy(buffer, m_szName);
    return 1;
}

int CArrayEntity::SetEntityName(char* name) {
    if (m_bValid || name == 0) return 0;
    strncpy(m_szName, name, ENTITY_NAME_SIZE - 1);
    m_szName[ENTITY_NAME_SIZE - 1] = '\0';
    m_bValid = 1;
    return 1;
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
