/* osmisc.h - error texts. */
#ifndef NOTESRT_OSMISC_H
#define NOTESRT_OSMISC_H

#include "global.h"

NRT_EXTERN_C_BEGIN

/* Copies the text of the status (flags ignored), at most bufferLength
 * characters, and a NUL after them: pass the buffer's size less one.
 * Returns the text's length, 0 for an unknown status. */
WORD LNPUBLIC OSLoadString(HMODULE hModule, STATUS stringCode, char* retBuffer,
                           WORD bufferLength);

NRT_EXTERN_C_END

#endif
