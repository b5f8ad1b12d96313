/* osenv.h - the server's settings (notes.ini in the data directory). */
#ifndef NOTESRT_OSENV_H
#define NOTESRT_OSENV_H

#include "global.h"

NRT_EXTERN_C_BEGIN

/* TRUE and the value (at most bufferLength characters and a NUL) when the
 * setting exists. */
BOOL LNPUBLIC OSGetEnvironmentString(const char* variableName, char* retBuffer,
                                     WORD bufferLength);
long LNPUBLIC OSGetEnvironmentLong(const char* variableName);

NRT_EXTERN_C_END

#endif
