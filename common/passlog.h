// passlog.h - the log lines of the publication engine.
//
// A line is composed in a fixed buffer (never overrun: longer lines are
// cut) and logged as plain text through the task's LogText, so names and
// texts read from notes never act as a format. Most lines are written only from a minimum trace level
// on. Owned by the publication engine (idtables, procnotes, dnevents).
#ifndef ZELREP_PASSLOG_H
#define ZELREP_PASSLOG_H

#include "global.h"

#if defined(__GNUC__)
#define PASSLOG_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define PASSLOG_FORMAT(f, a)
#endif

// Logs the line when traceLevel is at least minimum.
void PassLog(long traceLevel, long minimum, const char* format, ...) PASSLOG_FORMAT(3, 4);
// The same with a status whose text the log adds to the line (0: none).
void PassLogStatus(long traceLevel, long minimum, STATUS status, const char* format, ...)
    PASSLOG_FORMAT(4, 5);

#endif
