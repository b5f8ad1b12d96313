/* addin.h - add-in task services: the stop request, the schedule timer,
 * status lines and the server log. */
#ifndef NOTESRT_ADDIN_H
#define NOTESRT_ADDIN_H

#include "global.h"

NRT_EXTERN_C_BEGIN

/* The task's entry, called by the start-up shim. */
STATUS LNPUBLIC AddInMain(HMODULE hModule, int argc, char* argv[]);

/* Nonzero once the server (or SIGTERM/SIGINT) asked the task to stop. */
BOOL LNPUBLIC AddInIdle(void);
BOOL LNPUBLIC AddInShouldTerminate(void);
/* TRUE when the clock has passed the next multiple of seconds counted from
 * the task's start; then re-arms for the following multiple. */
BOOL LNPUBLIC AddInSecondsHaveElapsed(DWORD seconds);
BOOL LNPUBLIC AddInDayHasElapsed(void);

void LNPUBLIC AddInQueryDefaults(HMODULE* rethModule, HANDLE* rethStatusLine);
void LNPUBLIC AddInSetDefaults(HMODULE hModule, HANDLE hStatusLine);
HANDLE LNPUBLIC AddInCreateStatusLine(const char* taskName);
void LNPUBLIC AddInDeleteStatusLine(HANDLE hStatusLine);
/* printf-style. */
void LNPUBLIC AddInSetStatusLine(HANDLE hStatusLine, const char* format, ...);
void LNPUBLIC AddInSetStatusText(const char* format, ...);
/* printf-style; writes one time-stamped line to the console and the server
 * log. A nonzero status appends its error text. */
/* The status is taken as a DWORD: a WORD parameter right before the
 * variable arguments would be promoted, which leaves va_start undefined. */
void LNPUBLIC AddInLogMessageText(const char* format, DWORD status, ...);

NRT_EXTERN_C_END

#define AddInMinutesHaveElapsed(m) AddInSecondsHaveElapsed((DWORD)(m) * 60)

#endif
