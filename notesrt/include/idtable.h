/* idtable.h - sets of note IDs. An ID table is a memory block: the flag and
 * time calls take the pointer that OSLockObject gives for it. */
#ifndef NOTESRT_IDTABLE_H
#define NOTESRT_IDTABLE_H

#include "global.h"

#define IDTABLE_MODIFIED 0x0001
#define IDTABLE_INVERTED 0x0002

typedef STATUS(LNCALLBACK* IDENUMERATEPROC)(void* parameter, DWORD noteID);

NRT_EXTERN_C_BEGIN

STATUS LNPUBLIC IDCreateTable(DWORD alignment, DHANDLE* rethTable);
STATUS LNPUBLIC IDDestroyTable(DHANDLE hTable);
STATUS LNPUBLIC IDInsert(DHANDLE hTable, DWORD id, BOOL* retInserted);
STATUS LNPUBLIC IDDelete(DHANDLE hTable, DWORD id, BOOL* retDeleted);
BOOL LNPUBLIC IDIsPresent(DHANDLE hTable, DWORD id);
DWORD LNPUBLIC IDEntries(DHANDLE hTable);
BOOL LNPUBLIC IDScan(DHANDLE hTable, BOOL first, DWORD* retID);
/* Ascending order; a nonzero return of the routine ends the walk and is
 * returned. */
STATUS LNPUBLIC IDEnumerate(DHANDLE hTable, IDENUMERATEPROC routine, void* parameter);
WORD LNPUBLIC IDTableFlags(const void* pIDTable);
void LNPUBLIC IDTableSetFlags(void* pIDTable, WORD flags);
void LNPUBLIC IDTableSetTime(void* pIDTable, TIMEDATE time);
TIMEDATE LNPUBLIC IDTableTime(const void* pIDTable);

NRT_EXTERN_C_END

#endif
