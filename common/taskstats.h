// taskstats.h - the task's server statistics: facility "ZELREP", every
// name prefixed with the instance ("ZELREP.SYNC1.Lag"), so that `show stat`
// tells an administrator or a monitoring system whether the instance is
// alive, how far behind it is and what its last pass did.
//
// One instance per process: the module keeps that instance's name and its
// running totals. Before TaskStatsStart, and with notes.ini's
// ZelrepStatistics=0, every call does nothing. The runtime removes the
// statistics when the process ends, however it ends.
#ifndef ZELREP_TASKSTATS_H
#define ZELREP_TASKSTATS_H

#include "passreport.h"

class CConfig;

#define TASKSTATS_FACILITY "ZELREP"

// Starts the instance's statistics (State "Initializing").
void TaskStatsStart(const char* instance);
// Removes every statistic of the instance.
void TaskStatsStop();
// State, stored time and lag, from the main loop between passes.
void TaskStatsTick(CConfig* config);
// State "Replicating" or "Migrating"; progress back to zero.
void TaskStatsPassBegin(const PassReport* report);
// Notes listed and done, every 500 notes.
void TaskStatsProgress(const PassCounts* counts);
// The last pass's figures, the totals, and the last error when it failed.
void TaskStatsPassEnd(const PassReport* report);
// Records an error outside a pass (the history could not be written).
void TaskStatsError(const char* text);

#endif
