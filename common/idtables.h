// idtables.h - the publication pass: DoReplication and the operations it
// uses (the note list built from the modified-note table, the damage check,
// the output database's title).
//
// A pass owns its VRD_THREAD_DATA, both database handles, the table, the
// filter and the note list for its own duration only.
#ifndef ZELREP_IDTABLES_H
#define ZELREP_IDTABLES_H

#include "global.h"
#include "passreport.h"

class CConfig;
class CEntityArray;

// With a report, fills in what the pass did (its kind and the facts from
// before the pass are the caller's).
STATUS DoReplication(CConfig* config, char* inputDB, char* outputPath, int* entriesFound,
                     int* notesUpdated, int incremental, PassReport* report = 0);
STATUS ListNotes(void* context, DWORD noteID);
// Checks the instance's input and output databases for damage (every page
// read) and logs each damaged one; the number of those. Run at start-up
// and after a pass that failed, not on every pass.
int ReportDamagedDatabases(CConfig* config);
void FreeArrayEntries(CEntityArray* list);
STATUS ChangeDBTitle(DBHANDLE hDB);

#endif
