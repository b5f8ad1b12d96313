/* stats.h - named server statistics: StatUpdate, StatDelete, StatTraverse,
 * StatQuery and StatToText.
 *
 * A statistic is a facility, a statistic name and a typed value; its full
 * name is "Facility.StatName". It lives while the process that set it
 * lives: StatDelete or the end of the process (NotesTerm, AddInSDKTerm, or
 * a kill) removes it. The statistics of every process of the data
 * directory are one server's statistics: StatTraverse and StatQuery in any
 * process see them all, as they stood at their last update.
 *
 * Facilities and names are compared without regard to ASCII letter case
 * and keep the spelling of the last update; each is 1 to 127 bytes without
 * control characters. A text value is shown on one console line: control
 * characters become blanks, and it is cut after 511 bytes.
 *
 * The names are the documented ones of the Notes C API; the documents give
 * no values for VT_xxx and ST_xxx, so these are ours. */
#ifndef NOTESRT_STATS_H
#define NOTESRT_STATS_H

#include "global.h"

/* Value types: the Value argument points to a LONG, a NUL-terminated
 * text, a TIMEDATE or a NUMBER. */
#define VT_LONG 0
#define VT_TEXT 1
#define VT_TIMEDATE 2
#define VT_NUMBER 3

/* StatUpdate flags.
 * ST_UNIQUE: the statistic has one value in the server; the latest update
 *   of any process is the one listed.
 * Without it (0, or ~ST_UNIQUE as documented for "another instance"), each
 *   process keeps an instance of its own and every live instance is listed.
 *   Within one process an update always replaces that process's value.
 * ST_ADDITIVE: for VT_LONG and VT_NUMBER, the value is added to the one
 *   this process holds (none counts as 0). With another type, or onto a
 *   value of another type, StatUpdate answers ERR_BAD_PARAM. */
#define ST_UNIQUE 0x0001
#define ST_ADDITIVE 0x0002

/* Called once per statistic by StatTraverse; a nonzero result stops the
 * walk. Value is valid during the call only. */
typedef STATUS(LNCALLBACK* STATTRAVERSEPROC)(void* Context, char* Facility, char* StatName,
                                             WORD ValueType, void* Value);

NRT_EXTERN_C_BEGIN

/* Sets the statistic, creating it when new. ERR_BAD_PARAM for a null or
 * refused facility, name or value, an unknown type or flag; the status of
 * the file system when the value could not be published. */
STATUS LNPUBLIC StatUpdate(const char* Facility, const char* StatName, WORD Flags, WORD ValueType,
                           const void* Value);

/* Removes this process's instance of the statistic; an unknown one is
 * ignored. */
void LNPUBLIC StatDelete(const char* Facility, const char* StatName);

/* Calls Routine for every statistic of the facility (null: every
 * facility) with that name (null: every name), ordered by full name. */
void LNPUBLIC StatTraverse(const char* Facility, const char* StatName, STATTRAVERSEPROC Routine,
                           void* Context);

/* Every statistic as text in a new memory block (free with OSMemFree):
 * HeaderString (null: none), then for each statistic, ordered by full
 * name, NamePrefix, the full name, ValuePrefix, the value as StatToText
 * writes it and LineSuffix (null prefixes and suffix count as empty). The
 * text ends with a NUL, which *retStatsLength does not count. */
STATUS LNPUBLIC StatQuery(const char* HeaderString, const char* NamePrefix, const char* ValuePrefix,
                          const char* LineSuffix, DHANDLE* rethStats, DWORD* retStatsLength);

/* The full name and the value as NUL-terminated texts, each cut to fit its
 * buffer (the length counts the NUL; 0 writes nothing). Values: VT_LONG in
 * decimal, VT_NUMBER in at most 15 significant digits, VT_TIMEDATE as
 * ConvertTIMEDATEToText writes it by default, VT_TEXT as it is. */
void LNPUBLIC StatToText(const char* Facility, const char* StatName, WORD ValueType,
                         const void* Value, char* NameBuffer, WORD NameBufferLen, char* ValueBuffer,
                         WORD ValueBufferLen);

NRT_EXTERN_C_END

#endif
