// filtxml.h - CFilterXML, the scanner of the publisher filter text.
//
// Not an XML parser: it finds the tokens "<allow-class", "</allow-class>",
// "class-name", "<allow-attr" and "attr-name" by plain case-sensitive
// search and takes names from between double quotes. The text belongs to
// the caller and must outlive the scanner unchanged.
#ifndef ZELREP_FILTXML_H
#define ZELREP_FILTXML_H

// Callers hand name buffers of this size; a longer name is not taken.
// Walk: GetFirstObject, GetAttribute until 0, GetNextObject, GetAttribute
// until 0, ... until GetNextObject gives 0.
#define FILTER_NAME_SIZE 128

class CFilterXML {
public:
    explicit CFilterXML(char* text);
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
    bool TakeValue(char* key, char* name);

    char* m_pText;
    char* m_pCursor;
    char* m_pClassStart;
    char* m_pClassEnd;
};

#endif
