// passhistory.h - the pass history: every pass of every instance (scheduled,
// REPLICATE, MIGRATE, failed ones too) appends one document to
// zelrephistory.nsf in the data directory, as a server's log database holds
// its events. A document says what the pass covered (since- and
// until-time, the stored time after it) and did; consecutive passes of an
// instance chain (each since-time is the stored time the previous pass
// left), and a pass whose interval does not start there is marked as a gap
// with its reason.
//
// Documents older than notes.ini's ZelrepHistoryDays (default 30) are
// removed at the first pass of a process and then once a day;
// ZelrepHistoryDays=0 keeps no history. Writing the history never fails a
// pass: a failure is logged in one line and the task goes on.
#ifndef ZELREP_PASSHISTORY_H
#define ZELREP_PASSHISTORY_H

#include "passreport.h"

class CConfig;

#define PASS_HISTORY_DB "zelrephistory.nsf"
#define PASS_HISTORY_DAYS_SETTING "ZelrepHistoryDays"
#define PASS_HISTORY_DEFAULT_DAYS 30

// Marks the report's gap (against the previous pass of this process, or
// the stored time's identity for the first) and appends its document.
void PassHistoryAppend(CConfig* config, PassReport* report);
// Closes the history database, kept open between passes; at the task's end.
void PassHistoryClose();

#endif
