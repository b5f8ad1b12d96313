/* nrt_server.h - notesrt's own server-side calls, used by nserver and by
 * tests: listing the live status lines and statistics of a data directory,
 * reading one status line's text, capturing what AddInLogMessageText
 * composes, and moving the add-in timers' clock forward. Not part of the
 * Notes C API; the task never includes it. Owned by the add-in services
 * (addin.cpp, statusline.cpp, conslog.cpp) and the statistics (stats.cpp).
 *
 * Log lines. AddInLogMessageText formats its text, appends ": " and the
 * status's error text when the status is nonzero, and writes the result to
 * standard output and DATA/console.log. Each physical line is written with
 * the local time stamp "YYYY/MM/DD HH:MM:SS  " in front: newlines at the
 * start and end of the text are dropped (a trailing "\r\n" too), every
 * other "\n" starts a new stamped line, tabs are kept and other control
 * characters are shown as '?'. A text that is empty after that still
 * writes one stamped line. One message is one write() to the file, so
 * messages of several processes never interleave there. Messages bound
 * for a pipe (a task's output to the console) may be gathered for up to
 * 2 ms and written together, whole and in order. */
#ifndef NOTESRT_NRT_SERVER_H
#define NOTESRT_NRT_SERVER_H

#include "global.h"

NRT_EXTERN_C_BEGIN

/* Receives each composed text exactly as AddInLogMessageText built it:
 * before any time stamp or line splitting, with the status text appended. */
typedef void(LNCALLBACK* NRTLOGSINK)(void* context, const char* text);

/* Console and file output go on as usual. */
#define NRT_LOGSINK_ALSO_WRITE 0x0000
/* Only the sink receives messages: nothing on standard output or in the
 * log file (quiet unit tests). */
#define NRT_LOGSINK_ONLY 0x0001

/* The sink takes the place of standard output: it receives each message
 * as the stamped lines standard output would have got, and standard output
 * gets nothing; the log file is written as usual (a console that writes
 * its output itself). */
#define NRT_LOGSINK_INSTEAD_OF_STDOUT 0x0002

/* Installs the sink for the whole process (null removes it). */
void LNPUBLIC NRTSetLogSink(NRTLOGSINK sink, void* context, DWORD flags);

/* Writes one time-stamped line built from text, exactly as
 * AddInLogMessageText does but without formatting or status: for programs
 * (nserver) that log texts they did not compose with a format. */
void LNPUBLIC NRTLogText(const char* text);

/* The current text of a status line of this process; FALSE (and an empty
 * text) for an unknown handle. */
BOOL LNPUBLIC NRTGetStatusLineText(HANDLE hStatusLine, char* retText, WORD bufferLength);

/* Calls back once per live status line of every process of the data
 * directory, ordered by task name. Lines left behind by processes that
 * ended are removed on the way. A nonzero result stops the walk and is
 * returned. */
typedef STATUS(LNCALLBACK* NRTSTATUSLINEPROC)(void* context, const char* taskName,
                                               const char* text, DWORD pid);
STATUS LNPUBLIC NRTEnumStatusLines(NRTSTATUSLINEPROC callback, void* context);

/* One live statistic (stats.h), as NRTEnumStatistics hands it over; every
 * pointer is valid during the call only. */
typedef struct {
    const char* Facility;
    const char* StatName;
    const char* FullName;  /* "Facility.StatName" */
    WORD ValueType;        /* VT_LONG, VT_TEXT, VT_TIMEDATE or VT_NUMBER */
    const char* TypeName;  /* "LONG", "TEXT", "TIMEDATE" or "NUMBER" */
    const void* Value;     /* LONG*, NUL-terminated text, TIMEDATE* or NUMBER* */
    const char* ValueText; /* the value as StatToText writes it */
    DWORD Pid;             /* the process that set it */
    TIMEDATE Updated;      /* its last update */
} NRTSTATINFO;

typedef STATUS(LNCALLBACK* NRTSTATPROC)(void* context, const NRTSTATINFO* stat);

/* Calls back once per live statistic of every process of the data
 * directory whose full name matches pattern, ordered by full name (then
 * process). In a pattern '*' stands for any run of characters, letters
 * match either case, and a pattern matches a full name that continues
 * after it with a dot ("ZELREP.SYNC1" as "ZELREP.SYNC1.*"); null or ""
 * matches all. Statistics left behind by processes that ended are removed
 * on the way. A nonzero result stops the walk and is returned. */
STATUS LNPUBLIC NRTEnumStatistics(const char* pattern, NRTSTATPROC callback, void* context);

/* The add-in timers (AddInSecondsHaveElapsed, AddInDayHasElapsed) act as
 * if this many more milliseconds had passed: schedules are tested without
 * waiting for them. */
void LNPUBLIC NRTAdvanceAddInClock(DWORD milliseconds);

/* Asks this process to stop, as SIGTERM does: AddInIdle answers TRUE from
 * now on. With FALSE the request is withdrawn (tests). */
void LNPUBLIC NRTRequestStop(BOOL stop);

NRT_EXTERN_C_END

#ifdef __cplusplus
#include <mutex>
#include <string>
#include <vector>

/* Collects every logged text while it lives (tests):
 *   NRTLogCapture log;            // quiet: nothing is written
 *   ...;                          // code that logs
 *   EXPECT_EQ(log.Texts()[0], "Orvane - X:  Initialization Complete.");
 * Only one capture should live at a time. */
class NRTLogCapture {
public:
    explicit NRTLogCapture(DWORD flags = NRT_LOGSINK_ONLY) { NRTSetLogSink(&Receive, this, flags); }
    ~NRTLogCapture() { NRTSetLogSink(nullptr, nullptr, 0); }
    NRTLogCapture(const NRTLogCapture&) = delete;
    NRTLogCapture& operator=(const NRTLogCapture&) = delete;

    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }
    /* Every text joined, each followed by "\n" (for messages in failures). */
    std::string Joined() const {
        std::string all;
        for (const std::string& text : Texts()) all += text + "\n";
        return all;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.clear();
    }

private:
    static void Receive(void* context, const char* text) {
        NRTLogCapture* self = static_cast<NRTLogCapture*>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->texts_.emplace_back(text);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};
#endif

#endif
