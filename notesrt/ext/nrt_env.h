/* nrt_env.h - notesrt's own calls for the tools and tests: where the data
 * directory is, whose name updates record, the detail of the last
 * failure, and warnings about the settings. Not part of the Notes C API; the task never includes it. */
#ifndef NOTESRT_NRT_ENV_H
#define NOTESRT_NRT_ENV_H

#include "global.h"

NRT_EXTERN_C_BEGIN

/* The data directory of this process: set here, else NOTES_DATA_DIR, else
 * the current directory. Fails with ERR_NOEXIST when it is not a
 * directory. */
STATUS LNPUBLIC NRTSetDataDirectory(const char* path);
void LNPUBLIC NRTGetDataDirectory(char* retPath, WORD bufferLength);

/* The name NSFNoteUpdate appends to $UpdatedBy. Default: the ServerName
 * setting of notes.ini, else "CN=Server/O=Org". */
void LNPUBLIC NRTSetUserName(const char* canonicalName);
void LNPUBLIC NRTGetUserName(char* retName, WORD bufferLength);

/* What the runtime knew about the last failure of this thread (the call,
 * the file, the low-level error), or an empty text. */
void LNPUBLIC NRTLastErrorDetail(char* retText, WORD bufferLength);

/* Calls back once per notes.ini setting that is not used as written (an
 * unknown time zone, DST, DSTLaw, DateOrder or Clock value) or that breaks
 * the order of a pass (DateOrder other than YMD, Clock=24), with a text
 * that names the setting and what is used instead. Programs show these at
 * start. */
typedef void(LNCALLBACK* NRTWARNINGPROC)(void* context, const char* text);
void LNPUBLIC NRTCheckSettings(NRTWARNINGPROC callback, void* context);

NRT_EXTERN_C_END

#endif
