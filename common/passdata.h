// passdata.h - VRD_THREAD_DATA, what one publication pass knows while it
// runs: its databases, filter, note list, settings and counts. Filled by
// the pass (idtables.cpp) and read by note processing (procnotes.cpp) and
// the rename documents (dnevents.cpp).
//
// A pass owns its VRD_THREAD_DATA for its own duration only.
#ifndef ZELREP_PASSDATA_H
#define ZELREP_PASSDATA_H

#include "global.h"
#include "passreport.h"

class CConfig;
class CEntityArray;
class CFilter;

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

#endif
