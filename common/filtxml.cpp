// filtxml.cpp - CFilterXML: walks the publisher filter text class by class
// and, inside each class, attribute by attribute.
//
// Tokens are found by plain case-sensitive substring search wherever they
// stand. A value runs between the first double quote after the first "="
// that follows its key and the next double quote, taken as it is. A value
// longer than FILTER_NAME_SIZE - 1 characters is left out with what it
// names (its class, or its attribute), reported to the skip procedure, and
// the walk goes on after it.
#include "filtxml.h"

#include <string.h>

namespace {

const char kClassStart[] = "<allow-class";
const char kClassEnd[] = "</allow-class>";
const char kClassKey[] = "class-name";
const char kAttrStart[] = "<allow-attr";
const char kAttrKey[] = "attr-name";

// The scanner's answer: 1 for a name taken, else 0 with name emptied.
int Answer(bool taken, char* name) {
    if (taken) return 1;
    name[0] = '\0';
    return 0;
}

}  // namespace

CFilterXML::CFilterXML(char* text, FILTERSKIPPROC skipped, void* context)
    : m_pText(text), m_pCursor(0), m_pClassStart(0), m_pClassEnd(0), m_pSkipped(skipped), m_pContext(context) {
    m_szClass[0] = '\0';
}

CFilterXML::~CFilterXML() {}

int CFilterXML::IsZELFilter() { return 1; }

// Copies the value of the key found at key into name and leaves the cursor
// on the value's closing quote. MISSING, cursor untouched, when the value
// cannot be taken; TOO_LONG, reported, cursor on its closing quote, when
// it does not fit. ofClass names the class of an attribute's value.
CFilterXML::Taken CFilterXML::TakeValue(char* key, char* name, const char* ofClass) {
    char* equals = key != 0 ? strchr(key, '=') : 0;
    char* open = equals != 0 ? strchr(equals, '"') : 0;
    char* close = open != 0 ? strchr(open + 1, '"') : 0;
    if (close == 0) return MISSING;
    size_t length = (size_t)(close - open - 1);
    m_pCursor = close;
    if (length > FILTER_NAME_SIZE - 1) {
        if (m_pSkipped != 0) m_pSkipped(m_pContext, open + 1, length, ofClass);
        return TOO_LONG;
    }
    memcpy(name, open + 1, length);
    name[length] = '\0';
    return TAKEN;
}

// The answer for a class look-up; a class taken becomes the current one.
int CFilterXML::ClassAnswer(Taken taken, char* name) {
    if (taken == TAKEN) memcpy(m_szClass, name, strlen(name) + 1);
    return Answer(taken == TAKEN, name);
}

int CFilterXML::GetFirstObject(char* name) {
    if (name == 0 || m_pText == 0) return 0;
    m_pClassStart = strstr(m_pText, kClassStart);
    m_pClassEnd = m_pClassStart != 0 ? strstr(m_pClassStart, kClassEnd) : 0;
    if (m_pClassEnd == 0) return Answer(false, name);
    Taken taken = TakeValue(strstr(m_pClassStart, kClassKey), name, 0);
    return taken == TOO_LONG ? GetNextObject(name) : ClassAnswer(taken, name);
}

int CFilterXML::GetNextObject(char* name) {
    if (name == 0 || m_pText == 0) return 0;
    for (;;) {
        char* start = m_pClassEnd != 0 ? strstr(m_pClassEnd, kClassStart) : 0;
        if (start == 0) return Answer(false, name);
        m_pClassStart = start;
        m_pClassEnd = strstr(start, kClassEnd);
        Taken taken = TakeValue(strstr(start, kClassKey), name, 0);
        if (taken != TOO_LONG) return ClassAnswer(taken, name);
    }
}

int CFilterXML::GetAttribute(char* name) {
    if (name == 0 || m_pText == 0) return 0;
    for (;;) {
        m_pCursor = m_pCursor != 0 ? strstr(m_pCursor, kAttrStart) : 0;
        bool inClass = m_pCursor != 0 && m_pClassEnd != 0 && m_pCursor < m_pClassEnd;
        if (!inClass) return Answer(false, name);
        Taken taken = TakeValue(strstr(m_pCursor, kAttrKey), name, m_szClass);
        if (taken != TOO_LONG) return Answer(taken == TAKEN, name);
    }
}
