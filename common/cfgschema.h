// cfgschema.h - the configuration document's vocabulary: the trace levels
// and the words of trace levels and DN formats, as the configuration
// object, the console and the tools read and write them.
//
// Plain C data and functions, with no runtime dependency, so that every
// reader and writer of the document shares one definition.
#ifndef ZELREP_CFGSCHEMA_H
#define ZELREP_CFGSCHEMA_H

// Trace levels.
#define TRACE_SILENT 0
#define TRACE_NORMAL 1
#define TRACE_VERBOSE 2
#define TRACE_DEBUG 3

// The word of a trace level (SILENT, NORMAL, VERBOSE, DEBUG, and UNKNOWN
// for the all-ones level).
const char* GetTraceStr(long level);

// The trace level named by an upper-case word (SILENT, NORMAL, VERBOSE,
// DEBUG), or -1 for any other text.
long GetTraceLevel(const char* word);

// The word of a DN format (1 SLASH, 2 LDAP, 4 LDAP_TYPED), or null for any
// other value.
const char* GetDNFormatWord(unsigned long format);

// The DN format named by an upper-case word, or 0 for any other text.
unsigned long GetDNFormatFromWord(const char* word);

#endif
