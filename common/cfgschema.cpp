// cfgschema.cpp - the configuration document's vocabulary: the words of
// trace levels and DN formats (see cfgschema.h).
#include "cfgschema.h"

#include <stdint.h>
#include <string.h>

namespace {

struct DNFormatWord {
    const char* word;
    unsigned long format;
};
const DNFormatWord kDNFormats[] = {{"SLASH", 1}, {"LDAP", 2}, {"LDAP_TYPED", 4}};

}  // namespace

// Trace levels are 32-bit values: the all-ones level reads as -1.
const char* GetTraceStr(long level) {
    switch ((int32_t)level) {
    case -1: return "UNKNOWN";
    case TRACE_SILENT: return "SILENT";
    case TRACE_NORMAL: return "NORMAL";
    case TRACE_VERBOSE: return "VERBOSE";
    default: return "DEBUG";
    }
}

long GetTraceLevel(const char* word) {
    if (word == 0) return -1;
    for (long level = TRACE_SILENT; level <= TRACE_DEBUG; ++level) {
        if (strcmp(word, GetTraceStr(level)) == 0) return level;
    }
    return -1;
}

const char* GetDNFormatWord(unsigned long format) {
    for (const DNFormatWord& entry : kDNFormats) {
        if (entry.format == format) return entry.word;
    }
    return 0;
}

unsigned long GetDNFormatFromWord(const char* word) {
    if (word == 0) return 0;
    for (const DNFormatWord& entry : kDNFormats) {
        if (strcmp(entry.word, word) == 0) return entry.format;
    }
    return 0;
}
