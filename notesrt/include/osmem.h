/* osmem.h - memory blocks addressed by handles.
 *
 * Two families, as in the Notes C API: OSMemAlloc/OSLockObject/OSMemFree on
 * DHANDLEs (also used for ID tables, compiled formulas and converted item
 * text), and OSMemoryAllocate/OSMemoryLock/OSMemoryFree on MEMHANDLEs. */
#ifndef NOTESRT_OSMEM_H
#define NOTESRT_OSMEM_H

#include "global.h"

#define MEM_SHARE 0x8000
#define MEM_GROWABLE 0x4000
#define MAXONESEGSIZE 0xFFFF

NRT_EXTERN_C_BEGIN

/* size 0 gives NULLHANDLE and NOERROR, as documented. */
STATUS LNPUBLIC OSMemAlloc(WORD type, DWORD size, DHANDLE* rethandle);
STATUS LNPUBLIC OSMemFree(DHANDLE handle);
STATUS LNPUBLIC OSMemGetSize(DHANDLE handle, DWORD* retsize);
STATUS LNPUBLIC OSMemRealloc(DHANDLE handle, DWORD newsize);
void* LNPUBLIC OSLockObject(DHANDLE handle);
BOOL LNPUBLIC OSUnlockObject(DHANDLE handle);

/* A size of 0 is a real allocation. */
STATUS LNPUBLIC OSMemoryAllocate(DWORD type, DWORD size, MEMHANDLE* rethandle);
void* LNPUBLIC OSMemoryLock(MEMHANDLE handle);
BOOL LNPUBLIC OSMemoryUnlock(MEMHANDLE handle);
void LNPUBLIC OSMemoryFree(MEMHANDLE handle);
DWORD LNPUBLIC OSMemoryGetSize(MEMHANDLE handle);

NRT_EXTERN_C_END

#define OSLock(type, h) ((type*)OSLockObject(h))
#define OSUnlock(h) OSUnlockObject(h)
#define OSLockBlock(type, b) ((type*)((char*)OSLockObject((b).pool) + (b).block))
#define OSUnlockBlock(b) OSUnlockObject((b).pool)

#endif
