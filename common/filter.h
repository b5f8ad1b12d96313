// filter.h - the publisher filter model: which classes are published and
// which attributes of each.
//
// CFilter owns its CFilterObjects, each of which owns its CFilterAttrs; the
// arrays keep the order of the filter text and are scanned, first match
// wins. Names compare exactly, case and all. The filter text stays the
// caller's and must outlive the model. A class or attribute that could not
// be built (out of memory) is destroyed and left out, never kept half-built.
// Name buffers handed in hold FILTER_NAME_SIZE bytes; every attribute's
// type is the empty text.
#ifndef ZELREP_FILTER_H
#define ZELREP_FILTER_H

#include "arrent.h"
#include "entarray.h"
#include "filtxml.h"

#define FILTER_TYPE_SIZE 32

class CFilter;
class CFilterObject;

class CFilterAttr : public CArrayEntity {
public:
    CFilterAttr(CFilterObject* parent, char* attrName, char* attrType);
    ~CFilterAttr();
    int AttrName(char* buffer);
    int AttrType(char* buffer);

private:
    CFilterObject* m_pParent;
    char m_szType[FILTER_TYPE_SIZE];
};

class CFilterObject : public CArrayEntity {
public:
    CFilterObject(CFilter* parent, CFilterXML* scanner, char* className);
    ~CFilterObject();
    CFilterObject(const CFilterObject&) = delete;
    CFilterObject& operator=(const CFilterObject&) = delete;
    int ObjectName(char* buffer);
    int HasAttribute(char* attrName, char* attrType);
    int AttrCount();
    int GetFirstAttr(char* attrName, char* attrType);
    int GetNextAttr(char* attrName, char* attrType);

private:
    void AddAttribute(char* attrName);
    int CopyAttr(long index, char* attrName, char* attrType);

    CFilter* m_pParent;
    CEntityArray* m_pAttributes;
    CFilterXML* m_pScanner;
    int m_nIndex;
};

class CFilter {
public:
    // skipped (may be null) hears of each name left out for its length.
    explicit CFilter(char* text, FILTERSKIPPROC skipped = 0, void* context = 0);
    ~CFilter();
    CFilter(const CFilter&) = delete;
    CFilter& operator=(const CFilter&) = delete;
    int HasObject(char* className, CFilterObject** object);
    int ObjCount();

private:
    void AddObject(char* className);

    int m_bValid;
    CEntityArray* m_pObjects;
    CFilterXML* m_pScanner;
};

#endif
