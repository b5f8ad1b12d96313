// filtxml.cpp - CFilterXML: walks the publisher filter text class by class
// and, inside each class, attribute by attribute.
//
// Tokens are found by plain case-sensitive substring search wherever they
// stand. A value runs between the first double quote after the first "="
// that follows its key and the next double quote, taken as it is. A value
// longer than FILTER_NAME_SIZE - 1 characters is not taken: the look-up
// fails as for a value without its quotes.
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

CFilterXML::CFilterXML(char* text)
    : m_pText(text), m_pCursor(0), m_pClassStart(0), m_pClassEnd(0) {}

CFilterXML::~CFilterXML() {}

int CFilterXML::IsZELFilter() { return 1; }

// Copies the value of the key found at key into name and leaves the cursor
// on the value's closing quote; false, cursor untouched, when the value
// cannot be taken.
bool CFilterXML::TakeValue(char* key, char* name) {
    char* equals = key != 0 ? strchr(key, '=') : 0;
    char* open = equals != 0 ? strchr(equals, '"') : 0;
    char* close = open != 0 ? strchr(open + 1, '"') : 0;
    if (close == 0) return false;
    size_t length = (size_t)(close - open - 1);
    if (length > FILTER_NAME_SIZE - 1) return false;
    memcpy(name, open + 1, length);
    name[length] = '\0';
    m_pCursor = close;
    return true;
}

int CFilterXML::GetFirstObject(char* name) {
    if (name == 0 || m_pText == 0) return 0;
    m_pClassStart = strstr(m_pText, kClassStart);
    m_pClassEnd = m_pClassStart != 0 ? strstr(m_pClassStart, kClassEnd) : 0;
    bool taken = m_pClassEnd != 0 && TakeValue(strstr(m_pClassStart, kClassKey), name);
    return Answer(taken, name);
}

int CFilterXML::GetNextObject(char* name) {
    if (name == 0 || m_pText == 0) return 0;
    char* start = m_pClassEnd != 0 ? strstr(m_pClassEnd, kClassStart) : 0;
    if (start == 0) return Answer(false, name);
    m_pClassStart = start;
    m_pClassEnd = strstr(start, kClassEnd);
    return Answer(TakeValue(strstr(start, kClassKey), name), name);
}

int CFilterXML::GetAttribute(char* name) {
    if (name == 0 || m_pText == 0) return 0;
    m_pCursor = m_pCursor != 0 ? strstr(m_pCursor, kAttrStart) : 0;
    bool inClass = m_pCursor != 0 && m_pClassEnd != 0 && m_pCursor < m_pClassEnd;
    return Answer(inClass && TakeValue(strstr(m_pCursor, kAttrKey), name), name);
}
