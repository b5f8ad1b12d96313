// filter.cpp - the publisher filter model: CFilter built once over the
// filter text by the scanner, its CFilterObjects (one per allowed class)
// and their CFilterAttrs (one per allowed attribute).
//
// Parents own their children and destroy them last to first; the arrays
// only hold the pointers.
#include "filter.h"

#include <new>
#include <string.h>

namespace {

void CopyCut(char* to, const char* from, size_t size) {
    size_t length = strnlen(from, size - 1);
    memcpy(to, from, length);
    to[length] = '\0';
}

template <class Entity>
void DestroyEntities(CEntityArray*& array) {
    if (array == 0) return;
    for (long i = array->Count() - 1; i >= 0; --i) delete static_cast<Entity*>(array->Get(i));
    delete array;
    array = 0;
}

}  // namespace

CFilterAttr::CFilterAttr(CFilterObject* parent, char* attrName, char* attrType)
    : CArrayEntity(attrName), m_pParent(parent) {
    if (parent == 0) m_bValid = 0;
    CopyCut(m_szType, attrType != 0 ? attrType : "", sizeof(m_szType));
}

CFilterAttr::~CFilterAttr() { m_pParent = 0; }

int CFilterAttr::AttrName(char* buffer) {
    if (!m_bValid || buffer == 0) return 0;
    CopyCut(buffer, Name(), FILTER_NAME_SIZE);
    return 1;
}

int CFilterAttr::AttrType(char* buffer) {
    if (!m_bValid || buffer == 0) return 0;
    CopyCut(buffer, m_szType, sizeof(m_szType));
    return 1;
}

CFilterObject::CFilterObject(CFilter* parent, CFilterXML* scanner, char* className)
    : CArrayEntity(className), m_pParent(parent), m_pAttributes(0), m_pScanner(scanner), m_nIndex(0) {
    if (parent == 0 || scanner == 0) m_bValid = 0;
    m_pAttributes = new (std::nothrow) CEntityArray;
    if (m_pAttributes == 0) m_bValid = 0;
    if (!m_bValid) return;
    char attrName[FILTER_NAME_SIZE];
    while (m_pScanner->GetAttribute(attrName)) AddAttribute(attrName);
}

CFilterObject::~CFilterObject() {
    DestroyEntities<CFilterAttr>(m_pAttributes);
    m_pParent = 0;
    m_pScanner = 0;
}

void CFilterObject::AddAttribute(char* attrName) {
    CFilterAttr* attr = new (std::nothrow) CFilterAttr(this, attrName, 0);
    if (attr != 0 && !m_pAttributes->Add(attr)) delete attr;
}

int CFilterObject::ObjectName(char* buffer) {
    if (!m_bValid || buffer == 0) return 0;
    CopyCut(buffer, Name(), FILTER_NAME_SIZE);
    return 1;
}

int CFilterObject::HasAttribute(char* attrName, char* /*attrType*/) {
    long index = 0;
    return m_pAttributes != 0 && m_pAttributes->Find(attrName, &index) ? 1 : 0;
}

int CFilterObject::AttrCount() { return m_pAttributes != 0 ? m_pAttributes->Count() : 0; }

int CFilterObject::CopyAttr(long index, char* attrName, char* attrType) {
    CFilterAttr* attr = static_cast<CFilterAttr*>(m_pAttributes != 0 ? m_pAttributes->Get(index) : 0);
    if (attr == 0) return 0;
    attr->AttrName(attrName);
    attr->AttrType(attrType);
    return 1;
}

int CFilterObject::GetFirstAttr(char* attrName, char* attrType) {
    m_nIndex = 0;
    return CopyAttr(m_nIndex, attrName, attrType);
}

int CFilterObject::GetNextAttr(char* attrName, char* attrType) {
    if (m_nIndex + 1 >= AttrCount()) return 0;
    ++m_nIndex;
    return CopyAttr(m_nIndex, attrName, attrType);
}

CFilter::CFilter(char* text, FILTERSKIPPROC skipped, void* context)
    : m_bValid(0), m_pObjects(0), m_pScanner(0) {
    if (text == 0) return;
    m_pScanner = new (std::nothrow) CFilterXML(text, skipped, context);
    m_pObjects = new (std::nothrow) CEntityArray;
    if (m_pScanner == 0 || m_pObjects == 0) return;
    char className[FILTER_NAME_SIZE];
    for (int found = m_pScanner->GetFirstObject(className); found; found = m_pScanner->GetNextObject(className))
        AddObject(className);
    m_bValid = 1;
}

CFilter::~CFilter() {
    DestroyEntities<CFilterObject>(m_pObjects);
    delete m_pScanner;
    m_pScanner = 0;
}

void CFilter::AddObject(char* className) {
    CFilterObject* object = new (std::nothrow) CFilterObject(this, m_pScanner, className);
    if (object == 0) return;
    if (!object->IsValid() || !m_pObjects->Add(object)) delete object;
}

int CFilter::HasObject(char* className, CFilterObject** object) {
    long index = 0;
    if (!m_bValid || !m_pObjects->Find(className, &index)) return 0;
    if (object != 0) *object = static_cast<CFilterObject*>(m_pObjects->Get(index));
    return 1;
}

int CFilter::ObjCount() { return m_bValid ? m_pObjects->Count() : 0; }
