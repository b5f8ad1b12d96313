// names.cpp - distinguished names: abbreviated to canonical
// (DNCanonicalize) and back (DNAbbreviate).
//
// A hierarchical name has a common name, up to four organisational units,
// an organisation and optionally a two-letter country, in that order. The
// abbreviated form lists the values by position; the canonical form types
// each one (CN=, OU=, O=, C=). Flat names, names already in the other form
// and names that do not fit the pattern come back unchanged. Results never
// exceed the caller's buffer: a name that does not fit is refused.
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "env.h"
#include "names.h"
#include "status.h"

namespace nrt {
namespace {

constexpr size_t kMaxUnits = 4;

struct Component {
    std::string type;  // upper case; empty when untyped
    std::string value;
};

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// "CN=Jane" gives type CN and value Jane; a part without a leading
// alphabetic type and '=' is untyped.
Component ParseComponent(const std::string& part) {
    Component component;
    size_t eq = part.find('=');
    std::string type = eq == std::string::npos ? "" : Trim(part.substr(0, eq));
    bool typed = !type.empty() && type.size() <= 8;
    for (char c : type) typed = typed && std::isalpha((unsigned char)c);
    if (!typed) {
        component.value = Trim(part);
        return component;
    }
    for (char c : type) component.type += (char)std::toupper((unsigned char)c);
    component.value = Trim(part.substr(eq + 1));
    return component;
}

std::vector<Component> SplitName(const std::string& name) {
    std::vector<Component> parts;
    size_t start = 0;
    while (true) {
        size_t slash = name.find('/', start);
        parts.push_back(ParseComponent(name.substr(start, slash - start)));
        if (slash == std::string::npos) return parts;
        start = slash + 1;
    }
}

bool AllTyped(const std::vector<Component>& parts, bool typed) {
    for (const Component& part : parts)
        if (part.type.empty() == typed) return false;
    return true;
}

bool AnyEmpty(const std::vector<Component>& parts) {
    for (const Component& part : parts)
        if (part.value.empty()) return true;
    return false;
}

std::string Join(const std::vector<Component>& parts, bool withTypes) {
    std::string joined;
    for (const Component& part : parts) {
        if (!joined.empty()) joined += '/';
        if (withTypes && !part.type.empty()) joined += part.type + "=";
        joined += part.value;
    }
    return joined;
}

// Types untyped values by position; false when they do not fit the
// CN / OU... / O / C pattern.
bool AssignTypes(std::vector<Component>* parts) {
    size_t count = parts->size();
    bool country = count >= 3 && parts->back().value.size() == 2;
    size_t units = count - (country ? 3 : 2);
    if (count < 2 || units > kMaxUnits) return false;
    for (size_t i = 0; i < count; ++i) {
        if (i == 0) (*parts)[i].type = "CN";
        else if (i <= units) (*parts)[i].type = "OU";
        else if (i == units + 1) (*parts)[i].type = "O";
        else (*parts)[i].type = "C";
    }
    return true;
}

// Whether typed parts follow CN, OU (at most four), O, optional C.
bool InCanonicalOrder(const std::vector<Component>& parts) {
    if (parts.empty() || parts[0].type != "CN") return false;
    size_t i = 1, units = 0;
    while (i < parts.size() && parts[i].type == "OU") ++i, ++units;
    if (units > kMaxUnits) return false;
    if (i == parts.size()) return units == 0;  // a lone CN is fine, CN/OU is ambiguous
    if (parts[i++].type != "O") return false;
    if (i < parts.size() && parts[i].type == "C") ++i;
    return i == parts.size();
}

std::string Canonical(const std::string& name, const std::string& templateName);

// "Name/" takes everything after the common name from the template.
std::string WithTemplateHierarchy(const std::string& common, const std::string& templateName) {
    std::string canonicalTemplate = Canonical(templateName, "");
    std::vector<Component> parts = SplitName(canonicalTemplate);
    if (parts.size() < 2 || !AllTyped(parts, true)) return common;
    parts[0] = Component{"CN", common};
    return Join(parts, true);
}

std::string Canonical(const std::string& name, const std::string& templateName) {
    if (name.find('/') == std::string::npos) return name;  // flat
    std::vector<Component> parts = SplitName(name);
    if (parts.size() == 2 && parts[1].value.empty() && parts[1].type.empty() &&
        parts[0].type.empty() && !parts[0].value.empty())
        return WithTemplateHierarchy(parts[0].value, templateName);
    if (AnyEmpty(parts) || !AllTyped(parts, false)) return name;
    if (!AssignTypes(&parts)) return name;
    return Join(parts, true);
}

std::string Abbreviated(const std::string& name) {
    std::vector<Component> parts = SplitName(name);
    if (AnyEmpty(parts) || !AllTyped(parts, true) || !InCanonicalOrder(parts)) return name;
    return Join(parts, false);
}

STATUS CopyOut(const std::string& result, char* out, WORD outSize, WORD* outLength) {
    if (outLength != nullptr) *outLength = 0;
    if (result.size() >= outSize) {
        if (outSize > 0) out[0] = '\0';
        return Fail(ERR_BAD_PARAM, "name \"" + result + "\" does not fit the buffer");
    }
    std::memcpy(out, result.data(), result.size());
    out[result.size()] = '\0';
    if (outLength != nullptr) *outLength = (WORD)result.size();
    return NOERROR;
}

}  // namespace
}  // namespace nrt

extern "C" {

STATUS LNPUBLIC DNCanonicalize(DWORD /*flags*/, const char* templateName, const char* inName,
                               char* outName, WORD outSize, WORD* outLength) {
    if (inName == nullptr || outName == nullptr) return ERR_BAD_PARAM;
    try {
        std::string server = templateName != nullptr ? templateName : nrt::UserName();
        return nrt::CopyOut(nrt::Canonical(inName, server), outName, outSize, outLength);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY;
    }
}

STATUS LNPUBLIC DNAbbreviate(DWORD /*flags*/, const char* /*templateName*/, const char* inName,
                             char* outName, WORD outSize, WORD* outLength) {
    if (inName == nullptr || outName == nullptr) return ERR_BAD_PARAM;
    try {
        return nrt::CopyOut(nrt::Abbreviated(inName), outName, outSize, outLength);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY;
    }
}

}  // extern "C"
