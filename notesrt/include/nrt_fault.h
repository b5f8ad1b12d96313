/* nrt_fault.h - fault injection for tests: make the Nth call of one kind
 * fail with a chosen status, as a failing disk or allocator would. Not part
 * of the Notes C API.
 *
 * A process can also be started with NRT_FAULT="kind:n[:status]" (for
 * example "commit:3" or "alloc:10:263"); kinds are alloc, open, read,
 * commit and logwrite. */
#ifndef NOTESRT_NRT_FAULT_H
#define NOTESRT_NRT_FAULT_H

#include "global.h"

#define NRT_FAULT_ALLOC 0  /* memory blocks (OSMemAlloc, OSMemoryAllocate) */
#define NRT_FAULT_OPEN 1   /* opening or creating a database file */
#define NRT_FAULT_READ 2   /* reading notes, items, tables */
#define NRT_FAULT_COMMIT 3 /* committing a write (update, delete, info) */
#define NRT_FAULT_LOGWRITE 4 /* writing a transaction's log pages to the file;
                               the status is the storage's for a write error */
#define NRT_FAULT_KINDS 5

NRT_EXTERN_C_BEGIN

/* The nth call of the kind from now (1 = the next one) fails with status;
 * n = 0 switches the kind off. Only that one call fails. */
void LNPUBLIC NRTFaultFailNth(int kind, DWORD n, STATUS status);
/* Every call of the kind fails with status until switched off (0). */
void LNPUBLIC NRTFaultFailAlways(int kind, STATUS status);
void LNPUBLIC NRTFaultReset(void);

NRT_EXTERN_C_END

#endif
