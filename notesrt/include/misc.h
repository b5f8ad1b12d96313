/* misc.h - time/text conversion formats and functions. */
#ifndef NOTESRT_MISC_H
#define NOTESRT_MISC_H

#include "global.h"
#include "intl.h"

#define MAXALPHATIMEDATE 80

#define TDFMT_FULL 0
#define TDFMT_CPARTIAL 1
#define TDFMT_PARTIAL 2
#define TDFMT_DPARTIAL 3
#define TDFMT_FULL4 4
#define TDFMT_CPARTIAL4 5
#define TDFMT_DPARTIAL4 6

#define TTFMT_FULL 0
#define TTFMT_PARTIAL 1
#define TTFMT_HOUR 2

#define TZFMT_NEVER 0
#define TZFMT_SOMETIMES 1
#define TZFMT_ALWAYS 2

#define TSFMT_DATE 0
#define TSFMT_TIME 1
#define TSFMT_DATETIME 2
#define TSFMT_CDATETIME 3

typedef struct {
    BYTE Date;
    BYTE Time;
    BYTE Zone;
    BYTE Structure;
} TFMT;

NRT_EXTERN_C_BEGIN

/* The text is not NUL-terminated; its length goes to *retLen. A null intl
 * means the server's settings; a null format means full date and time. */
STATUS LNPUBLIC ConvertTIMEDATEToText(const INTLFORMAT* intl, const TFMT* format,
                                      const TIMEDATE* td, char* buf, WORD bufLen,
                                      WORD* retLen);
/* Reads at most maxLen characters from *text and advances *text past what
 * it took. */
STATUS LNPUBLIC ConvertTextToTIMEDATE(const INTLFORMAT* intl, const TFMT* format,
                                      char** text, WORD maxLen, TIMEDATE* retTime);

NRT_EXTERN_C_END

#endif
