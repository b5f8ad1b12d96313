// filtxml.h - CFilterXML, the scanner of the publisher filter text.
//
// Not an XML parser: it finds the tokens "<allow-class", "</allow-class>",
// "class-name", "<allow-attr" and "attr-name" by plain case-sensitive
// search and takes names from between double quotes. The text belongs to
// the caller and must outlive the scanner unchanged.
#ifndef ZELREP_FILTXML_H
#define ZELREP_FILTXML_H

#include <stddef.h>

// Callers hand name buffers of this size. A longer name is left out of the
// walk, with what it names: a class with its attributes, or one attribute;
// the walk goes on with the next, and the skip report hears of it.
// Walk: GetFirstObject, GetAttribute until 0, GetNextObject, GetAttribute
// until 0, ... until GetNextObject gives 0.
#define FILTER_NAME_SIZE 128

// Receives a name left out for its length (not NUL-terminated) and, for an
// attribute, the name of its class (null for a class).
typedef void (*FILTERSKIPPROC)(void* context, const char* name, size_t length, const char* className);

class CFilterXML {
public:
    explicit CFilterXML(char* text, FILTERSKIPPROC skipped = 0, void* context = 0);
    ~CFilterXML();
    CFilterXML(const CFilterXML&) = delete;
    CFilterXML& operator=(const CFilterXML&) = delete;

    int IsZELFilter();
    // 1 with the name in name (FILTER_NAME_SIZE bytes), else 0 and name
    // empty (untouched when null).
    int GetFirstObject(char* name);
    int GetNextObject(char* name);
    int GetAttribute(char* name);

private:
    enum Taken { TAKEN, MISSING, TOO_LONG };
    Taken TakeValue(char* key, char* name, const char* ofClass);
    int ClassAnswer(Taken taken, char* name);

    char* m_pText;
    char* m_pCursor;
    char* m_pClassStart;
    char* m_pClassEnd;
    FILTERSKIPPROC m_pSkipped;
    void* m_pContext;
    char m_szClass[FILTER_NAME_SIZE];  // the current class's name
};

#endif
