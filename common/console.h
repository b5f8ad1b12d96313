// console.h - helpers that the console modules (dispatch, handlers,
// configuration listing) and CConfig share: the words of trace levels and
// DN formats. Internal to the task; not part of its contract.
#ifndef ZELREP_CONSOLE_H
#define ZELREP_CONSOLE_H

// The trace level named by an upper-case word (SILENT, NORMAL, VERBOSE,
// DEBUG), or -1 for any other text.
long GetTraceLevel(const char* word);

// The word of a DN format (1 SLASH, 2 LDAP, 4 LDAP_TYPED), or null for any
// other value.
const char* GetDNFormatWord(unsigned long format);

// The DN format named by an upper-case word, or 0 for any other text.
unsigned long GetDNFormatFromWord(const char* word);

#endif
