// cfgdb.h - the configuration database: one document per instance, found
// by its InstanceID_text item, with the 15 items of cfg_db_field and one of
// the task's own: the replica ID of the input database that the stored
// last-replication time belongs to, written together with that time.
//
// Every item read or write opens the database and the document and closes
// both again; nothing is cached. Statuses: 0 success, 0xFFFE a required
// argument is null, 0xFFFD the item or record is missing, others are Notes
// statuses passed on.
#ifndef ZELREP_CFGDB_H
#define ZELREP_CFGDB_H

#include "global.h"
#include "nsfsearch.h"

class CConfig;

#define CFGDB_NULL_ARG ((STATUS)0xFFFE)
#define CFGDB_MISSING ((STATUS)0xFFFD)

// Item kinds.
#define CFG_KIND_TEXT 1
#define CFG_KIND_NUMBER 2
#define CFG_KIND_TIME 3
#define CFG_KIND_LONGTEXT 4

// Item indexes, in table order.
#define CFG_INSTANCEID 0
#define CFG_INPUTDB 1
#define CFG_OUTPUTDB 2
#define CFG_LOOPDETECTID 3
#define CFG_LOOPDETECT 4
#define CFG_DIRECTORYFLAG 5
#define CFG_AUTOREFRESH 6
#define CFG_SCHEDULEUNITS 7
#define CFG_SCHEDULEVALUE 8
#define CFG_DNFORMAT 9
#define CFG_CHECKATTRS 10
#define CFG_WRITETIMESTAMPS 11
#define CFG_TRACELEVEL 12
#define CFG_LASTEVENT 13
#define CFG_INPUTIDENTITY 14
#define CFG_PUBLISHERFILTER 15
#define CFG_END 16

#define CFG_ITEM_TEXT_SIZE 384

typedef struct {
    int index;
    const char* name;
    int kind;
} CFG_DB_FIELD;

extern const CFG_DB_FIELD cfg_db_field[CFG_END + 1];

typedef struct tagPASS_DATA {
    int fieldIndex;
    CConfig* config;
    STATUS status;
    char text[512];
    double number;
    TIMEDATE time;
    unsigned long textLength;
    MEMHANDLE handle;
    DBHANDLE* dbHandle;  // the open database, for the search callback
} PASS_DATA;

char* prepQueryString(char* dest, char* src);
STATUS openCfgDB(char* fileName, DBHANDLE* handle);
STATUS closeCfgDB(DBHANDLE* handle);
STATUS findCfgDBInstance(char* instanceName, char* fileName, unsigned long* noteID,
                         TIMEDATE* modified);
STATUS findInstanceNoteID(void* parameter, SEARCH_MATCH* match, ITEM_TABLE* summary);
STATUS getInstanceField(tagPASS_DATA* data);
STATUS putInstanceField(tagPASS_DATA* data);
// Writes the items of count records (of one CConfig) in one update of the
// document, so that they change together or not at all.
STATUS putInstanceFields(tagPASS_DATA* data, int count);
STATUS getAllCfgDBData(CConfig* config);
STATUS putAllCfgDBData(CConfig* config);

#endif
