// idtables.h - the publication pass: DoReplication and the operations it
// uses (the note list built from the modified-note table, note processing,
// rename and move documents, item change tests, the processed stamp).
//
// A pass owns its VRD_THREAD_DATA, both database handles, the table, the
// filter and the note list for its own duration only.
#ifndef ZELREP_IDTABLES_H
#define ZELREP_IDTABLES_H

#include "global.h"
#include "passreport.h"

class CConfig;
class CEntityArray;
class CFilter;

#define LAST_PROCESSED_ITEM "$ZELREPLastProcessedTime"

typedef struct {
    DBHANDLE hInputDB;
    DBHANDLE hOutputDB;
    CFilter* pFilter;
    int32_t entriesFound;
    int32_t notesUpdated;
    char outputPath[256];
    int loopDetect;
    char loopDetectID[256];
    TIMEDATE since;
    int isDirectory;
    uint32_t dnFormat;
    int migration;
    char statusLine[64];
    CEntityArray* noteList;
    int32_t traceLevel;
    int checkAttrs;
    int writeTimeStamps;
    CConfig* config;
    // Changes of this pass that could not be published (a document not
    // saved, a note not read, an entry not listed); the stored time then
    // stays where it was. Of them, unread notes could not be read; the
    // first failure of each kind is kept for the pass's summary line.
    int32_t unpublished;
    int32_t unread;
    STATUS saveFailure;
    STATUS readFailure;
    // Documents by kind, notes passed over, progress (the operator's view).
    PassCounts counts;
} VRD_THREAD_DATA;

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
int IsItemChanged(NOTEHANDLE hNote, char* itemName, TIMEDATE* time, long traceLevel);
int GetZELREPLastProcessedTime(NOTEHANDLE hNote, TIMEDATE* time, long traceLevel);
int SetZELREPLastProcessedTime(NOTEHANDLE hNote, long traceLevel);

STATUS ProcessNotes(VRD_THREAD_DATA* data);
// Counts a change of the pass whose note could not be read; returns status.
STATUS CountNotRead(VRD_THREAD_DATA* data, STATUS status);

int GetDNComponents(NOTEHANDLE hNote, char* fullDN, char* containers, char* first);
WORD GetNotesDN(NOTEHANDLE hNote, WORD dnFormat, char* out, WORD size);
STATUS OutputRenameMoveEvent(NOTEHANDLE hNote, VRD_THREAD_DATA* data, char* className,
                             char* unidText, UNIVERSALNOTEID unid);

#endif
