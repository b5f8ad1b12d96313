/* nsfdb.h - databases: open, create, copy, information buffer, change
 * tracking. Paths are relative to the data directory. */
#ifndef NOTESRT_NSFDB_H
#define NOTESRT_NSFDB_H

#include "global.h"

/* Note classes. */
#define NOTE_CLASS_DOCUMENT 0x0001
#define NOTE_CLASS_DATA NOTE_CLASS_DOCUMENT
#define NOTE_CLASS_INFO 0x0002
#define NOTE_CLASS_FORM 0x0004
#define NOTE_CLASS_VIEW 0x0008
#define NOTE_CLASS_ICON 0x0010
#define NOTE_CLASS_DESIGN 0x0020
#define NOTE_CLASS_ACL 0x0040
#define NOTE_CLASS_HELP_INDEX 0x0080
#define NOTE_CLASS_HELP 0x0100
#define NOTE_CLASS_FILTER 0x0200
#define NOTE_CLASS_FIELD 0x0400
#define NOTE_CLASS_REPLFORMULA 0x0800
#define NOTE_CLASS_PRIVATE 0x1000
#define NOTE_CLASS_DEFAULT 0x8000
#define NOTE_CLASS_NOTIFYDELETION NOTE_CLASS_DEFAULT
#define NOTE_CLASS_ALL 0x7FFF
#define NOTE_CLASS_ALLNONDATA 0x7FFE
#define NOTE_CLASS_NONE 0x0000

/* Note IDs. */
#define RRV_DELETED 0x80000000UL
#define NOTEID_RESERVED RRV_DELETED
#define RRV_ALIGNMENT 4L

/* NSFDbOpenExtended options. */
#define DBOPEN_WITH_SCAN_LOCK 0x0001
#define DBOPEN_PURGE 0x0002
#define DBOPEN_NO_USERINFO 0x0004
#define DBOPEN_FORCE_FIXUP 0x0008

/* NSFDbCreateAndCopy flags. */
#define DBCOPY_REPLICA 0x00000001
#define DBCOPY_NO_ACL 0x00000010
#define DBCOPY_NO_FULLTEXT 0x00000020
#define DBCOPY_KEEP_NOTE_MODTIME 0x00000200

/* NSFDbCreate database class. */
#define DBCLASS_NOTEFILE 0xFF00

/* Replication settings; the ID is the replica ID, the same in every
 * replica of a database and different in any other database. */
typedef struct {
    DBID ID;
    WORD Flags;
    WORD CutoffInterval;
    TIMEDATE Cutoff;
} DBREPLICAINFO;

/* Information buffer. */
#define NSF_INFO_SIZE 128
#define INFOPARSE_TITLE 0
#define INFOPARSE_CATEGORIES 1
#define INFOPARSE_CLASS 2
#define INFOPARSE_DESIGN_CLASS 3

NRT_EXTERN_C_BEGIN

STATUS LNPUBLIC NSFDbOpen(const char* path, DBHANDLE* rethDB);
/* With a non-null modifiedTime, fails with ERR_NO_MODIFIED_NOTES when
 * nothing changed after it; the two returned times are filled either way.
 * DBOPEN_FORCE_FIXUP checks the whole file first (it reads every page):
 * a damaged database is not opened, ERR_DB_CORRUPT. Nothing is repaired. */
STATUS LNPUBLIC NSFDbOpenExtended(const char* path, WORD options, DHANDLE hNames,
                                  TIMEDATE* modifiedTime, DBHANDLE* rethDB,
                                  TIMEDATE* retDataModified,
                                  TIMEDATE* retNonDataModified);
STATUS LNPUBLIC NSFDbClose(DBHANDLE hDB);
STATUS LNPUBLIC NSFDbCreate(const char* path, USHORT dbClass, BOOL forceCreation);
STATUS LNPUBLIC NSFDbDelete(const char* path);
/* Creates dstPath with the source's information buffer and its notes of
 * the given classes; the new database's handle is returned open. With
 * DBCOPY_REPLICA it is a replica of the source (same replica ID). */
STATUS LNPUBLIC NSFDbCreateAndCopy(const char* srcPath, const char* dstPath,
                                   WORD noteClassMask, WORD limit, DWORD flags,
                                   DBHANDLE* rethDB);
/* Lists notes of the classes changed strictly after since (every note for
 * the wildcard); deletion stubs carry RRV_DELETED. *retUntil is the
 * latest change time seen, from the same snapshot. */
STATUS LNPUBLIC NSFDbGetModifiedNoteTable(DBHANDLE hDB, WORD noteClassMask,
                                          TIMEDATE since, TIMEDATE* retUntil,
                                          DHANDLE* rethTable);
/* ERR_NOTE_DELETED for a stub, with every output still filled. */
STATUS LNPUBLIC NSFDbGetNoteInfo(DBHANDLE hDB, NOTEID noteID, ORIGINATORID* retOID,
                                 TIMEDATE* retModified, WORD* retClass);
STATUS LNPUBLIC NSFDbGetNoteInfoByUNID(DBHANDLE hDB, UNIVERSALNOTEID* unid,
                                       NOTEID* retNoteID, ORIGINATORID* retOID,
                                       TIMEDATE* retModified, WORD* retClass);
STATUS LNPUBLIC NSFDbModifiedTime(DBHANDLE hDB, TIMEDATE* retDataModified,
                                  TIMEDATE* retNonDataModified);
STATUS LNPUBLIC NSFDbPathGet(DBHANDLE hDB, char* retCanonicalPath, char* retExpandedPath);
/* The replica ID; the runtime keeps no cutoff, flags or interval (zero). */
STATUS LNPUBLIC NSFDbReplicaInfoGet(DBHANDLE hDB, DBREPLICAINFO* retReplicationInfo);

STATUS LNPUBLIC NSFDbInfoGet(DBHANDLE hDB, char* retBuffer);
STATUS LNPUBLIC NSFDbInfoSet(DBHANDLE hDB, const char* buffer);
void LNPUBLIC NSFDbInfoParse(const char* info, WORD what, char* buffer, WORD length);
void LNPUBLIC NSFDbInfoModify(char* info, WORD what, const char* buffer);

NRT_EXTERN_C_END

#endif
