// filter_fuzz.cpp - libFuzzer target for the publisher filter: any text is
// scanned and built into a CFilter, which is then walked as a publication
// pass walks it (every class the scanner yields is looked up, and its
// attributes iterated). Traps when the model and the scanner disagree.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "filter.h"
#include "filtxml.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// The model's attributes of a class, through GetFirstAttr/GetNextAttr.
std::vector<std::string> ModelAttributes(CFilterObject* object) {
    std::vector<std::string> names;
    char name[FILTER_NAME_SIZE];
    char type[FILTER_NAME_SIZE];
    for (int found = object->GetFirstAttr(name, type); found; found = object->GetNextAttr(name, type)) {
        Check(strlen(name) < FILTER_NAME_SIZE && type[0] == '\0');
        Check(object->HasAttribute(name, type) == 1);
        names.push_back(name);
    }
    Check(object->GetNextAttr(name, type) == 0);
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    CFilter filter(text.data());
    CFilterXML scanner(text.data());

    std::set<std::string> seen;
    int classes = 0;
    char name[FILTER_NAME_SIZE];
    for (int found = scanner.GetFirstObject(name); found; found = scanner.GetNextObject(name)) {
        ++classes;
        Check(strlen(name) < FILTER_NAME_SIZE);
        std::string className = name;
        std::vector<std::string> attributes;
        while (scanner.GetAttribute(name)) attributes.push_back(name);

        CFilterObject* object = 0;
        Check(filter.HasObject(const_cast<char*>(className.c_str()), &object) == 1 && object != 0);
        std::vector<std::string> modelled = ModelAttributes(object);
        if (seen.insert(className).second) Check(modelled == attributes && object->AttrCount() == (int)modelled.size());
    }
    Check(filter.ObjCount() == classes);

    // A look-up by an arbitrary name, possibly longer than any buffer.
    CFilterObject* object = 0;
    if (filter.HasObject(text.data(), &object)) Check(object != 0);
    return 0;
}
