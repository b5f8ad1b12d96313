// passreport.h - what one publication pass did, as the operator sees it:
// the counts the pass keeps while it runs (PassCounts, inside the pass's
// VRD_THREAD_DATA) and the whole report of a finished pass (PassReport),
// which the statistics (taskstats.h) and the pass history (passhistory.h)
// publish.
//
// Plain data: the pass fills its counts, the task host fills the rest
// around DoReplication. Every count starts at zero.
#ifndef ZELREP_PASSREPORT_H
#define ZELREP_PASSREPORT_H

#include "global.h"

// Documents written and notes passed over, by kind; the progress of the
// walk over the listed notes.
typedef struct {
    int32_t added;     // change documents with Event ADD saved
    int32_t modified;  // change documents with Event MODIFY saved
    int32_t deleted;   // obituaries saved
    int32_t renamed;   // rename documents saved
    int32_t skippedLoop;    // last updated by the loop-detect ID
    int32_t skippedClass;   // no class could be determined
    int32_t skippedFilter;  // class not in the publisher filter
    int32_t listed;  // notes in the pass's sorted list
    int32_t done;    // of those, processed so far
} PassCounts;

typedef enum { PASS_SCHEDULED = 0, PASS_REPLICATE = 1, PASS_MIGRATE = 2 } PASSKIND;

// Why a pass's interval does not start where the previous one ended.
typedef enum {
    GAP_NONE = 0,
    GAP_INPUT_REPLACED = 1,  // the input is not the database the stored time belongs to
    GAP_TIME_SET = 2,        // the stored time was set outside the task
} PASSGAP;

#define PASS_IDENTITY_SIZE 64

typedef struct {
    PASSKIND kind;
    int migration;  // published every object (asked for, or made so)
    TIMEDATE start;
    TIMEDATE end;
    TIMEDATE since;        // the wildcard for a migration
    TIMEDATE until;        // zero when the pass did not get that far
    TIMEDATE storedAfter;  // the stored time after the pass (wildcard: a migration to finish)
    // Before the pass: the stored time, whether it was the wildcard, and
    // the replica ID text it belonged to ("" none).
    TIMEDATE storedBefore;
    int migrationPending;
    char storedIdentity[PASS_IDENTITY_SIZE];
    char inputIdentity[PASS_IDENTITY_SIZE];  // of the input the pass found
    PASSGAP gap;
    int32_t entriesFound;
    int32_t updated;
    int32_t unpublished;
    PassCounts counts;
    STATUS status;
    int failed;  // kept its interval for a reason other than no changes
} PassReport;

class CConfig;

// Starts a report: kind, start time and the stored time, its identity and
// whether a migration was pending, as they stand before the pass.
void BeginPassReport(PassReport* report, CConfig* config, PASSKIND kind);
// The end time and the stored time after the pass.
void EndPassReport(PassReport* report, CConfig* config);

// "SCHEDULED", "REPLICATE" or "MIGRATE".
const char* PassKindName(PASSKIND kind);
// "OK", "NO CHANGES", "FAILED" (the interval is kept for the next pass) or
// "WAITING" (the filter has no classes: the instance waits for its
// configuration).
const char* PassResultName(const PassReport* report);
// The pass's counts with the names the statistics and the history give
// them: EntriesFound, Added, Modified, Deleted, Renamed, SkippedLoop,
// SkippedClass, SkippedFilter, Unpublished.
typedef struct {
    const char* name;
    int32_t value;
} PassFigure;
#define PASS_FIGURE_COUNT 9
void PassFigures(const PassReport* report, PassFigure figures[PASS_FIGURE_COUNT]);
// What the pass did or why it failed, in one line.
void PassStatusText(const PassReport* report, char* text, size_t size);
// The text of a status.
void StatusText(STATUS status, char* text, size_t size);

#endif
