// dnutil.cpp - distinguished-name formatting by small in-place text
// operations: reversing the component order, swapping delimiters and
// stripping component types.
//
// Each operation that rebuilds a name does so in a DN_BUFFER_SIZE scratch
// buffer that never takes more than it holds, and copies the result back.
// Formatting cuts names to DN_MAX_LENGTH first, which keeps every result,
// the leading delimiter that ReverseDN adds included, inside that buffer.
#include "dnutil.h"

#include <string.h>

namespace {

void CutToMaxLength(char* dn) {
    if (strnlen(dn, DN_MAX_LENGTH + 1) > DN_MAX_LENGTH) dn[DN_MAX_LENGTH] = '\0';
}

// A scratch text that never grows past its buffer.
struct Scratch {
    char text[DN_BUFFER_SIZE];
    size_t length;

    Scratch() : length(0) { text[0] = '\0'; }
    void Append(const char* from, size_t count) {
        if (count > sizeof(text) - 1 - length) count = sizeof(text) - 1 - length;
        memcpy(text + length, from, count);
        length += count;
        text[length] = '\0';
    }
};

// Copies the formatted dn to out, bounded by outSize when it is nonzero,
// and keeps dn equal to out.
unsigned short CopyResult(char* dn, char* out, unsigned short outSize) {
    size_t length = strlen(dn);
    if (outSize != 0 && length >= outSize) {
        length = outSize - 1u;
        dn[length] = '\0';
    }
    if (out != dn) memmove(out, dn, length + 1);
    return (unsigned short)length;
}

}  // namespace

unsigned short FormatDN(char* dn, unsigned short format, char* out, unsigned short outSize) {
    if (dn == 0 || out == 0) return 0;
    switch (format) {
    case DN_FORMAT_SLASH:
        return FormatDNSlash(dn, out, outSize);
    case DN_FORMAT_LDAP:
        return FormatDNLDAP(dn, 0, out, outSize);
    case DN_FORMAT_LDAP_TYPED:
        return FormatDNLDAP(dn, 1, out, outSize);
    default:
        return 0;
    }
}

unsigned short FormatDNSlash(char* dn, char* out, unsigned short outSize) {
    if (dn == 0 || out == 0) return 0;
    ReverseDN(dn, '/');
    SwapDelimiters(dn, '/', '\\');
    StripDNTypes(dn, '\\');
    return CopyResult(dn, out, outSize);
}

unsigned short FormatDNLDAP(char* dn, int typed, char* out, unsigned short outSize) {
    if (dn == 0 || out == 0) return 0;
    CutToMaxLength(dn);
    SwapDelimiters(dn, '/', ',');
    if (!typed) StripDNTypes(dn, ',');
    return CopyResult(dn, out, outSize);
}

// Moves the components, last first, to the front, each behind a delimiter;
// the first component is introduced by "/", the only delimiter used here.
unsigned short ReverseDN(char* dn, char delimiter) {
    if (dn == 0) return 0;
    CutToMaxLength(dn);
    Scratch reversed;
    char* last;
    while (delimiter != '\0' && (last = strrchr(dn, delimiter)) != 0) {
        reversed.Append(last, strlen(last));
        *last = '\0';
    }
    if (dn[0] != '\0') {
        reversed.Append("/", 1);
        reversed.Append(dn, strlen(dn));
    }
    if (reversed.length > 0) memcpy(dn, reversed.text, reversed.length + 1);
    return (unsigned short)reversed.length;
}

unsigned short SwapDelimiters(char* text, char from, char to) {
    if (text == 0) return 0;
    size_t length = 0;
    for (; text[length] != '\0'; ++length)
        if (text[length] == from) text[length] = to;
    return (unsigned short)length;
}

// Component by component: the text after the component's first "=" is
// kept, and a component without "=" is kept whole, delimiters included.
// The result only shrinks; the scratch buffer bounds it all the same.
unsigned short StripDNTypes(char* dn, char delimiter) {
    if (dn == 0) return 0;
    if (strchr(dn, '=') == 0) return 0;
    size_t originalLength = strlen(dn);
    Scratch stripped;
    const char* component = dn;
    for (;;) {
        const char* end = delimiter != '\0' ? strchr(component, delimiter) : 0;
        size_t length = end != 0 ? (size_t)(end - component) : strlen(component);
        const char* equals = static_cast<const char*>(memchr(component, '=', length));
        const char* value = equals != 0 ? equals + 1 : component;
        stripped.Append(value, length - (size_t)(value - component));
        if (end == 0) break;
        stripped.Append(end, 1);
        component = end + 1;
    }
    memcpy(dn, stripped.text, stripped.length + 1);
    return (unsigned short)originalLength;
}
