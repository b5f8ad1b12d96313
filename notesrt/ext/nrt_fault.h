/* nrt_fault.h - fault injection for tests: make the Nth call of one kind
 * fail with a chosen status, as a failing disk or allocator would, fill the
 * disk, or cut the power. Not part of the Notes C API.
 *
 * A process can also be started with NRT_FAULT="kind:n[+count][:status]",
 * several separated by commas (for example "commit:3", "alloc:10:263" or
 * "diskfull:500+200"); kinds are alloc, open, read, commit, logwrite,
 * write, diskfull and powercut. "+count" makes count calls fail from the
 * nth on ("+0": every call from the nth on). "powercut:0" cuts no power but
 * keeps the record of unsynced writes that NRTFaultReboot drops. */
#ifndef NOTESRT_NRT_FAULT_H
#define NOTESRT_NRT_FAULT_H

#include "global.h"

#define NRT_FAULT_ALLOC 0  /* memory blocks (OSMemAlloc, OSMemoryAllocate) */
#define NRT_FAULT_OPEN 1   /* opening or creating a database file */
#define NRT_FAULT_READ 2   /* reading notes, items, tables */
#define NRT_FAULT_COMMIT 3 /* committing a write (update, delete, info) */
#define NRT_FAULT_LOGWRITE 4 /* writing a transaction's log pages to the file;
                               the status is the storage's for a write error */
#define NRT_FAULT_WRITE 5    /* one write to a database file or its log fails
                                as the disk would: ERR_DISK_FULL answers that
                                the disk is full, any other status is an I/O error */
#define NRT_FAULT_DISKFULL 6 /* writes to database files answer that the disk
                                is full (the status is not used) */
#define NRT_FAULT_POWERCUT 7 /* at this write, truncation or sync of a database
                                file the power goes: it and every later read,
                                write or sync fail, until NRTFaultReboot (status
                                not used) */
#define NRT_FAULT_KINDS 8

NRT_EXTERN_C_BEGIN

/* The nth call of the kind from now (1 = the next one) fails with status;
 * n = 0 switches the kind off. Only that one call fails. */
void LNPUBLIC NRTFaultFailNth(int kind, DWORD n, STATUS status);
/* The nth call of the kind from now and the count - 1 after it fail with
 * status; count 0: every call from the nth on, until switched off. */
void LNPUBLIC NRTFaultFailRun(int kind, DWORD n, DWORD count, STATUS status);
/* Every call of the kind fails with status until switched off (0). */
void LNPUBLIC NRTFaultFailAlways(int kind, STATUS status);
void LNPUBLIC NRTFaultReset(void);

/* Keeps a record, beside each database file, of what its writes not yet
 * synced to disk overwrote, as a power cut would lose them. Arming the
 * powercut kind keeps the record too. */
void LNPUBLIC NRTFaultKeepUnsynced(BOOL keep);
/* As after a power cut and a restart: every database file of the data
 * directory goes back to what was last synced to disk, and the power is on
 * again (a cut armed and not yet come is called off). Call with no database
 * open in any process of the data directory. */
STATUS LNPUBLIC NRTFaultReboot(void);

NRT_EXTERN_C_END

#endif
