/* names.h - distinguished names. */
#ifndef NOTESRT_NAMES_H
#define NOTESRT_NAMES_H

#include "global.h"

#define MAXUSERNAME 256

NRT_EXTERN_C_BEGIN

/* Turns an abbreviated name (Jane Doe/Sales/Acme) into its canonical form
 * (CN=Jane Doe/OU=Sales/O=Acme). A null template means the server's name. */
STATUS LNPUBLIC DNCanonicalize(DWORD flags, const char* templateName, const char* inName,
                               char* outName, WORD outSize, WORD* outLength);
/* The reverse: CN=Jane Doe/OU=Sales/O=Acme to Jane Doe/Sales/Acme. */
STATUS LNPUBLIC DNAbbreviate(DWORD flags, const char* templateName, const char* inName,
                             char* outName, WORD outSize, WORD* outLength);

NRT_EXTERN_C_END

#endif
