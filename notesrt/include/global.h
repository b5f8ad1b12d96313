/* global.h - base types, handles and status macros of the Notes C API.
 *
 * Every other public header of notesrt includes this one. The names and
 * values are the documented ones of the Notes C API; the layouts are ours.
 * Handles are 32-bit on this platform. */
#ifndef NOTESRT_GLOBAL_H
#define NOTESRT_GLOBAL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define NRT_EXTERN_C_BEGIN extern "C" {
#define NRT_EXTERN_C_END }
#else
#define NRT_EXTERN_C_BEGIN
#define NRT_EXTERN_C_END
#endif

#define LNPUBLIC
#define LNCALLBACK
#define far

typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef double NUMBER;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define MAXWORD ((WORD)0xFFFF)
#define MAXDWORD ((DWORD)0xFFFFFFFF)

/* A status is a WORD: 0 is success; the low 14 bits are the error code. */
typedef WORD STATUS;
#define NOERROR ((STATUS)0)
#define STS_DISPLAYED 0x8000
#define STS_REMOTE 0x4000
#define ERR_MASK 0x3FFF
#define PKG_MASK 0x3F00
#define ERRNUM_MASK 0x00FF
#define ERR(x) ((STATUS)((x) & ERR_MASK))
#define PKG(x) ((STATUS)((x) & PKG_MASK))
#define ERRNUM(x) ((STATUS)((x) & ERRNUM_MASK))

#define PKG_OS 0x0100
#define PKG_NSF 0x0200
#define PKG_MISC 0x0400
#define PKG_FORMULA 0x0500
#define PKG_ADDIN 0x3300

/* Handles. Every kind is a small nonzero integer; 0 is "no handle". */
typedef DWORD HANDLE;
typedef DWORD DHANDLE;
typedef DWORD MEMHANDLE;
typedef DHANDLE DBHANDLE;
typedef DHANDLE NOTEHANDLE;
typedef DHANDLE FORMULAHANDLE;
typedef DWORD MQHANDLE;
typedef DWORD HMODULE;
#define NULLHANDLE ((DHANDLE)0)
#define NULLMEMHANDLE ((MEMHANDLE)0)

typedef DWORD NOTEID;

/* Time: Innards[0] hundredths since midnight GMT, Innards[1] Julian day
 * in the low 24 bits with the zone and daylight bits above it. */
typedef struct {
    DWORD Innards[2];
} TIMEDATE;

typedef struct {
    TIMEDATE Lower;
    TIMEDATE Upper;
} TIMEDATE_PAIR;

typedef TIMEDATE DBID;

typedef struct {
    DBID File;     /* random number chosen when the note was created */
    TIMEDATE Note; /* creation time of the note */
} UNIVERSALNOTEID;
typedef UNIVERSALNOTEID UNID;

typedef struct {
    DBID File;
    TIMEDATE Note;
    DWORD Sequence;
    TIMEDATE SequenceTime;
} ORIGINATORID;
typedef ORIGINATORID OID;

typedef struct {
    DBID File;
    TIMEDATE Note;
    NOTEID NoteID;
} GLOBALINSTANCEID;

/* Address of a value inside a memory block: the block's handle and an
 * offset into it. */
typedef struct {
    DHANDLE pool;
    WORD block;
} BLOCKID;
#define NULLBLOCK ((WORD)0)
#define ISNULLBLOCKID(b) ((b).pool == NULLHANDLE)

typedef struct {
    NUMBER Lower;
    NUMBER Upper;
} NUMBER_PAIR;

typedef struct {
    USHORT ListEntries;
} LIST;

typedef struct {
    USHORT ListEntries;
    USHORT RangeEntries;
} RANGE;

#include "nsferr.h"

#endif
