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

#include "cfgschema.h"
#include "global.h"
#include "nsfsearch.h"

class CConfig;

#define CFGDB_NULL_ARG ((STATUS)0xFFFE)
#define CFGDB_MISSING ((STATUS)0xFFFD)

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
