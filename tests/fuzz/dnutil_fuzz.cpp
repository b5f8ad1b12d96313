// dnutil_fuzz.cpp - libFuzzer target for distinguished-name formatting:
// any name, any format code and output bound, formatted into a separate
// buffer and in place, with buffers allocated to their exact documented
// sizes so that the sanitizer sees any overrun; also the in-place
// operations with any delimiter. Traps on an inconsistent result.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "dnutil.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

bool IsFormatCode(unsigned short format) {
    return format == DN_FORMAT_SLASH || format == DN_FORMAT_LDAP || format == DN_FORMAT_LDAP_TYPED;
}

// The name in a buffer with room for one character more, as documented.
char* NameBuffer(const char* name, size_t length) {
    char* buffer = static_cast<char*>(malloc(length + 2));
    memcpy(buffer, name, length + 1);
    buffer[length + 1] = '\0';
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    unsigned short format = (data[0] & 0x80) ? (unsigned short)(data[0] | data[1] << 8) : (unsigned short)(data[0] & 7);
    char delimiter = (char)data[1];
    unsigned short outSize = data[2] == 0xFF ? 0 : data[2];
    char* name = static_cast<char*>(malloc(size - 2));
    memcpy(name, data + 3, size - 3);
    name[size - 3] = '\0';
    size_t length = strlen(name);

    char* dn = NameBuffer(name, length);
    size_t outBytes = outSize != 0 ? outSize : DN_BUFFER_SIZE;
    char* out = static_cast<char*>(malloc(outBytes));
    memset(out, 'u', outBytes - 1);
    out[outBytes - 1] = '\0';
    unsigned short result = FormatDN(dn, format, out, outSize);
    if (!IsFormatCode(format)) {
        Check(result == 0 && strcmp(dn, name) == 0 && strspn(out, "u") == outBytes - 1);
    } else {
        Check(result == strlen(out) && result < DN_BUFFER_SIZE && result < outBytes && strcmp(out, dn) == 0);
        if (format == DN_FORMAT_LDAP_TYPED && outSize == 0) Check(result == (length < DN_MAX_LENGTH ? length : DN_MAX_LENGTH));
        char* inPlace = NameBuffer(name, length);
        Check(FormatDN(inPlace, format, inPlace, outSize) == result && strcmp(inPlace, out) == 0);
        free(inPlace);
    }

    char* work = NameBuffer(name, length);
    ReverseDN(work, delimiter);
    SwapDelimiters(work, delimiter, '/');
    StripDNTypes(work, delimiter);
    Check(strlen(work) <= length + 1);
    free(work);
    free(out);
    free(dn);
    free(name);
    return 0;
}
