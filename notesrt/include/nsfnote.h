/* nsfnote.h - notes and their items.
 *
 * A note handle holds the note's items in memory from NSFNoteOpen (or
 * NSFNoteCreate) to NSFNoteClose; NSFNoteUpdate writes them back. */
#ifndef NOTESRT_NSFNOTE_H
#define NOTESRT_NSFNOTE_H

#include "global.h"

/* Item types: class in the high byte. */
#define TYPE_INVALID_OR_UNKNOWN 0x0000
#define TYPE_COMPOSITE 0x0001
#define TYPE_OBJECT 0x0003
#define TYPE_NOTEREF_LIST 0x0004
#define TYPE_ERROR 0x0100
#define TYPE_UNAVAILABLE 0x0200
#define TYPE_NUMBER 0x0300
#define TYPE_NUMBER_RANGE 0x0301
#define TYPE_TIME 0x0400
#define TYPE_TIME_RANGE 0x0401
#define TYPE_TEXT 0x0500
#define TYPE_TEXT_LIST 0x0501
#define TYPE_FORMULA 0x0600
#define TYPE_USERID 0x0700

/* Item flags. */
#define ITEM_SIGN 0x0001
#define ITEM_SEAL 0x0002
#define ITEM_SUMMARY 0x0004
#define ITEM_READWRITERS 0x0020
#define ITEM_NAMES 0x0040
#define ITEM_PROTECTED 0x0200
#define ITEM_READERS 0x0400

/* NSFNoteOpen flags. */
#define OPEN_SUMMARY 0x0001
#define OPEN_EXPAND 0x0004
#define OPEN_NOOBJECTS 0x0008

/* NSFNoteUpdate / NSFNoteDelete flags. */
#define UPDATE_FORCE 0x0001
#define UPDATE_NAME_KEY_WARNING 0x0002
#define UPDATE_NOCOMMIT 0x0004
#define UPDATE_NOREVISION 0x0100
#define UPDATE_NOSTUB 0x0200
#define UPDATE_INCREMENTAL 0x4000
#define UPDATE_DELETED 0x8000

/* NSFNoteGetInfo members. */
#define _NOTE_DB 0
#define _NOTE_ID 1
#define _NOTE_OID 2
#define _NOTE_CLASS 3
#define _NOTE_MODIFIED 4
#define _NOTE_FLAGS 7
#define _NOTE_ACCESSED 8
#define _NOTE_PARENT_NOTEID 10
#define _NOTE_ADDED_TO_FILE 13

#define MAXITEMNAME 256

/* Item value length limit and text list size limit. */
#define MAXONESEGSIZE_ITEM 0xFFFF

typedef STATUS(LNCALLBACK* NSFITEMSCANPROC)(WORD spare, WORD itemFlags, char* name,
                                             WORD nameLength, void* value,
                                             DWORD valueLength, void* routineParameter);

NRT_EXTERN_C_BEGIN

STATUS LNPUBLIC NSFNoteOpen(DBHANDLE hDB, NOTEID noteID, WORD openFlags,
                            NOTEHANDLE* rethNote);
STATUS LNPUBLIC NSFNoteOpenByUNID(DBHANDLE hDB, UNIVERSALNOTEID* unid, WORD openFlags,
                                  NOTEHANDLE* rethNote);
STATUS LNPUBLIC NSFNoteCreate(DBHANDLE hDB, NOTEHANDLE* rethNote);
STATUS LNPUBLIC NSFNoteUpdate(NOTEHANDLE hNote, WORD updateFlags);
STATUS LNPUBLIC NSFNoteDelete(DBHANDLE hDB, NOTEID noteID, WORD updateFlags);
STATUS LNPUBLIC NSFNoteClose(NOTEHANDLE hNote);
void LNPUBLIC NSFNoteGetInfo(NOTEHANDLE hNote, WORD member, void* valuePtr);
void LNPUBLIC NSFNoteSetInfo(NOTEHANDLE hNote, WORD member, void* valuePtr);

/* A null name asks for the first item. *value addresses the value with its
 * leading type WORD; *valueLength counts that WORD. Every output may be
 * null. */
STATUS LNPUBLIC NSFItemInfo(NOTEHANDLE hNote, const char* itemName, WORD nameLength,
                            BLOCKID* retbhItem, WORD* retDataType,
                            BLOCKID* retbhValue, DWORD* retValueLength);
BOOL LNPUBLIC NSFItemIsPresent(NOTEHANDLE hNote, const char* itemName, WORD nameLength);
/* Copies at most bufferLength-1 characters and a NUL; 0 when missing. */
WORD LNPUBLIC NSFItemGetText(NOTEHANDLE hNote, const char* itemName, char* buffer,
                             WORD bufferLength);
WORD LNPUBLIC NSFItemGetTextListEntries(NOTEHANDLE hNote, const char* itemName);
/* Copies at most bufferLength characters and a NUL after them (pass the
 * buffer's size less one); returns the count copied. A TEXT item is a
 * one-entry list, an empty TEXT item a list without entries. */
WORD LNPUBLIC NSFItemGetTextListEntry(NOTEHANDLE hNote, const char* itemName,
                                      WORD entryPos, char* buffer, WORD bufferLength);
BOOL LNPUBLIC NSFItemGetNumber(NOTEHANDLE hNote, const char* itemName, NUMBER* retNumber);
BOOL LNPUBLIC NSFItemGetTime(NOTEHANDLE hNote, const char* itemName, TIMEDATE* retTime);
STATUS LNPUBLIC NSFItemGetModifiedTime(NOTEHANDLE hNote, const char* itemName,
                                       WORD nameLength, DWORD flags, TIMEDATE* retTime);
/* textLength MAXWORD means the text is NUL-terminated. */
STATUS LNPUBLIC NSFItemSetText(NOTEHANDLE hNote, const char* itemName, const char* text,
                               WORD textLength);
STATUS LNPUBLIC NSFItemSetNumber(NOTEHANDLE hNote, const char* itemName, NUMBER* number);
STATUS LNPUBLIC NSFItemSetTime(NOTEHANDLE hNote, const char* itemName, TIMEDATE* time);
STATUS LNPUBLIC NSFItemAppendTextList(NOTEHANDLE hNote, const char* itemName,
                                      const char* text, WORD textLength,
                                      BOOL allowDuplicates);
/* Appends an item of any type; value is the data without the type WORD. */
STATUS LNPUBLIC NSFItemAppend(NOTEHANDLE hNote, WORD itemFlags, const char* itemName,
                              WORD nameLength, WORD dataType, const void* value,
                              DWORD valueLength);
STATUS LNPUBLIC NSFItemDelete(NOTEHANDLE hNote, const char* itemName, WORD nameLength);
/* Calls the routine once per item in the note's order; value includes the
 * type WORD. A nonzero return ends the scan and is returned. */
STATUS LNPUBLIC NSFItemScan(NOTEHANDLE hNote, NSFITEMSCANPROC actionRoutine,
                            void* routineParameter);
WORD LNPUBLIC NSFItemConvertToText(NOTEHANDLE hNote, const char* itemName, char* retBuffer,
                                   WORD bufferLength, char separator);
/* TEXT and TEXT_LIST values only (else ERR_DATATYPE); the caller frees the
 * returned buffer with OSMemFree. */
STATUS LNPUBLIC ConvertItemToText(BLOCKID valueBlock, DWORD valueLength,
                                  const char* lineDelimiter, WORD charsPerLine,
                                  DHANDLE* rethBuffer, DWORD* retBufferLength,
                                  BOOL stripTabs);

NRT_EXTERN_C_END

#endif
