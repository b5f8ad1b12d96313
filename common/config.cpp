// config.cpp - CConfig: the values, states, schedule, status line and
// console queue of one task instance, and the checks for missing items.
//
// Owned by the task host, which creates one CConfig per process. The object
// owns its status line, its message queue and its publisher filter block;
// the configuration document itself is read and written in cfgdb.cpp.
#include "config.h"

#include <stdint.h>
#include <string.h>

#include "addin.h"
#include "arrent.h"
#include "cfgdb.h"
#include "mq.h"
#include "names.h"
#include "osmem.h"
#include "ostime.h"
#include "schedule.h"
#include "tasktext.h"

namespace {

const int kUnitCount = CFG_SCHEDULE_UNIT_COUNT;
// Units outside the table answer the status of an unconvertible number.
const int kBadUnits = 0x040D;

// Items that ErrorReport checks, in the order of the item table.
struct MissingItem {
    unsigned long bit;
    const char* line;
};
const MissingItem kMissingItems[] = {
    {CFGERR_INPUTDB, "\t\tInput DB - Critical Error"},
    {CFGERR_OUTPUTDB, "\t\tOutputDB - Critical Error"},
    {CFGERR_LOOPDETECTID, "\t\tLoopDetectID"},
    {CFGERR_SCHEDULEUNITS, "\t\tScheduleUnits - Critical Error"},
    {CFGERR_SCHEDULEVALUE, "\t\tScheduleValue - Critical Error"},
    {CFGERR_DNFORMAT, "\t\tDNFormat"},
    {CFGERR_LASTEVENT, "\t\tLastEventTimeStamp"},
    {CFGERR_PUBFILTER, "\t\tPublisher Filter"},
};
const unsigned long kCriticalItems =
    CFGERR_INPUTDB | CFGERR_OUTPUTDB | CFGERR_SCHEDULEUNITS | CFGERR_SCHEDULEVALUE;

int GetText(char* dest, const char* member) {
    if (dest == 0) return -1;
    strcpy(dest, member);
    return 0;
}

}  // namespace

CConfig::CConfig(char* instanceName, char* cfgDBName) { Init(instanceName, cfgDBName); }

CConfig::CConfig() { Init(DEFAULT_INSTANCE_NAME, DEFAULT_CFGDB_NAME); }

CConfig::~CConfig() {
    if (m_hMQ != 0) {
        MQClose((MQHANDLE)m_hMQ, 0);
        m_hMQ = 0;
    }
    if (m_hStatusLine != NULLHANDLE) {
        AddInDeleteStatusLine(m_hStatusLine);
        m_hStatusLine = NULLHANDLE;
    }
    if (m_hCfgDB != NULLHANDLE) closeCfgDB(&m_hCfgDB);
    if (m_hPubFilter != 0) {
        OSMemoryFree((MEMHANDLE)m_hPubFilter);
        m_hPubFilter = 0;
    }
}

void CConfig::Init(const char* instanceName, const char* cfgDBName) {
    m_nState = STATE_RUNNING;
    m_nScheduleValue = CFG_DEFAULT_SCHEDULEVALUE;
    m_eScheduleUnits = CFG_DEFAULT_SCHEDULEUNITS;
    m_nInterval = m_nScheduleValue * cfg_schedule_units[m_eScheduleUnits].value;
    m_bAutoRefresh = CFG_DEFAULT_AUTOREFRESH;
    m_bLoopDetect = CFG_DEFAULT_LOOPDETECT;
    m_nTraceLevel = CFG_DEFAULT_TRACELEVEL;
    m_bWriteTimeStamps = CFG_DEFAULT_WRITETIMESTAMPS;
    m_bCheckAttrs = CFG_DEFAULT_CHECKATTRS;
    m_szLoopDetectID[0] = '\0';
    m_szOutputPath[0] = '\0';
    m_szInputDB[0] = '\0';
    m_szOutputDB[0] = '\0';
    m_szLastReplication[0] = '\0';
    m_szInputIdentity[0] = '\0';
    m_szQueueName[0] = '\0';
    m_szMessage[0] = '\0';
    m_hPubFilter = 0;
    m_nInstanceNoteID = 0;

    CopyText(m_szInstanceName, sizeof(m_szInstanceName),
             instanceName ? instanceName : DEFAULT_INSTANCE_NAME);
    CopyText(m_szCfgDBName, sizeof(m_szCfgDBName), cfgDBName ? cfgDBName : DEFAULT_CFGDB_NAME);
    ComposeStatusLineName();

    memset(&m_tdLastReplication, 0, sizeof(m_tdLastReplication));
    memset(&m_tdRefreshCfg, 0, sizeof(m_tdRefreshCfg));
    m_hStatusLine = AddInCreateStatusLine(m_szStatusLine);
    m_hMQ = 0;
    m_hCfgDB = NULLHANDLE;
    m_bIsDirectory = CFG_DEFAULT_DIRECTORYFLAG;
    m_nDNFormat = CFG_DEFAULT_DNFORMAT;

    OSGetIntlSettings(&m_Intl, (WORD)sizeof(m_Intl));
    m_TimeFormat.Date = TDFMT_FULL;
    m_TimeFormat.Time = TTFMT_FULL;
    m_TimeFormat.Zone = TZFMT_ALWAYS;
    m_TimeFormat.Structure = TSFMT_DATETIME;

    STATUS status =
        findCfgDBInstance(m_szInstanceName, m_szCfgDBName, &m_nInstanceNoteID, &m_tdRefreshCfg);
    if (status == NOERROR && m_nInstanceNoteID != 0) {
        GetLastReplicationTimeStampStr(m_szLastReplication);
        SetState(STATE_RUNNING, 0);
        return;
    }
    SetState(STATE_WAITING, 0);
    LogLine(status, "%s:  configuration instance not found: file=%s, instance=%s", m_szStatusLine,
            m_szCfgDBName, m_szInstanceName);
}

// The status-line name is cut to STATUS_LINE_SIZE - 1 characters so that every
// 64-byte holder of it stays within its buffer.
void CConfig::ComposeStatusLineName() {
    FormatText(m_szStatusLine, STATUS_LINE_SIZE, "%s%s", STATUS_LINE_PREFIX, m_szInstanceName);
}

// ---- State and status line ----

int CConfig::GetState() { return (int)m_nState; }

int CConfig::SetState(unsigned long state, char* text) {
    m_nState = state;
    if (text != 0) {
        SetStatusLineText(text);
        return 0;
    }
    char line[LOG_LINE_SIZE];
    switch (state) {
    case STATE_RUNNING:
        FormatText(line, sizeof(line), "Idle on: %s", m_szInputDB);
        break;
    case STATE_SUSPENDED:
        FormatText(line, sizeof(line), "Idle: Process suspended on %s", m_szInputDB);
        break;
    case STATE_WAITING:
        FormatText(line, sizeof(line), "Idle: Process suspended. Waiting for critical data in %s",
                 m_szCfgDBName);
        break;
    default:
        FormatText(line, sizeof(line), "Unknown state: %s", m_szInputDB);
        break;
    }
    SetStatusLineText(line);
    return 0;
}

int CConfig::GetStatusLine(char* text) { return GetText(text, m_szStatusLine); }

int CConfig::SetStatusLine(char* name) {
    if (name == 0 || name[0] == '\0') return -1;
    if (m_hStatusLine != NULLHANDLE) AddInDeleteStatusLine(m_hStatusLine);
    m_hStatusLine = AddInCreateStatusLine(name);
    return (int)m_hStatusLine;
}

int CConfig::SetStatusLineText(char* text) {
    if (text == 0 || text[0] == '\0') return -1;
    if (m_hStatusLine == NULLHANDLE) return 1;
    AddInSetStatusLine(m_hStatusLine, "%s", text);
    return 0;
}

int CConfig::GetInstanceName(char* text) { return GetText(text, m_szInstanceName); }

int CConfig::SetInstanceName(char* name) {
    if (name == 0) return -1;
    if (strlen(name) > (size_t)MAX_INSTANCE_NAME) return -2;
    CopyText(m_szInstanceName, sizeof(m_szInstanceName), name);
    ComposeStatusLineName();
    SetStatusLine(m_szStatusLine);
    SetState(m_nState, 0);
    return 0;
}

// ---- Console queue ----

int CConfig::GetQueueName(char* text) { return GetText(text, m_szQueueName); }

unsigned long CConfig::GetMQHandle() { return m_hMQ; }

STATUS CConfig::SetQueueName(char* name) {
    if (name == 0) return (STATUS)0xFFFF;
    FormatText(m_szQueueName, sizeof(m_szQueueName), "%s%s", TASK_QUEUE_PREFIX, name);
    if (m_hMQ != 0) MQClose((MQHANDLE)m_hMQ, 0);
    m_hMQ = 0;

    STATUS status = MQCreate(m_szQueueName, 0, 0);
    if (status != NOERROR) {
        if (ERR(status) == ERR_DUPLICATE_MQ) {
            LogLine(status, "%s:  Error creating queue %s", m_szStatusLine, m_szQueueName);
            LogLine(NOERROR,
                    "%s:  Use unique instance name when loading zelrep\n\t\tUSAGE: load zelrep "
                    "UNIQUENAME2",
                    m_szStatusLine);
        } else {
            LogLine(status, "%s: Error creating queue", m_szStatusLine);
        }
        return status;
    }

    MQHANDLE queue = 0;
    status = MQOpen(m_szQueueName, 0, &queue);
    if (status != NOERROR) {
        if (ERR(status) == ERR_NO_SUCH_MQ)
            LogLine(NOERROR, "%s:  Error opening queue %s.  No such queue exists.", m_szStatusLine,
                    m_szQueueName);
        else
            LogLine(NOERROR, "%s: Unknown error opening message queue", m_szStatusLine);
        return status;
    }
    m_hMQ = queue;
    if (m_hMQ == 0) LogLine(NOERROR, "%s:  NULL handle for Message Queue", m_szStatusLine);
    return NOERROR;
}

// ---- Schedule ----

unsigned long CConfig::Interval() { return m_nInterval; }

int CConfig::GetScheduleInUnits(unsigned long* value) {
    if (value == 0) return -1;
    *value = m_nScheduleValue;
    return 0;
}

int CConfig::SetScheduleInUnits(unsigned long value) {
    if (value == 0) return -2;
    unsigned long seconds = 0;
    if (!IntervalOf(m_eScheduleUnits, value, &seconds)) return -2;
    m_nScheduleValue = value;
    m_nInterval = seconds;
    return 0;
}

// The interval of a schedule whose units are known; false when it does not
// fit 32 bits (see schedule.h).
bool CConfig::IntervalOf(SCHEDULEUNITS units, unsigned long value, unsigned long* seconds) {
    if ((int)units < 0 || (int)units >= kUnitCount) return false;
    return Schedule::Interval(value, cfg_schedule_units[units].value, seconds);
}

int CConfig::GetScheduleInSeconds(SCHEDULEUNITS units, unsigned long value,
                                  unsigned long* seconds) {
    if (seconds == 0) return -1;
    if ((int)units < 0 || (int)units >= kUnitCount) return kBadUnits;
    if (!IntervalOf(units, value, seconds)) return -2;
    return 0;
}

int CConfig::GetScheduleUnitsAsString(SCHEDULEUNITS units, char* text) {
    if (text == 0) return -1;
    if ((int)units < 0 || (int)units >= kUnitCount) return -2;
    strcpy(text, cfg_schedule_units[units].word);
    return 0;
}

int CConfig::GetScheduleUnitsFromString(char* text, SCHEDULEUNITS* units) {
    if (text == 0 || units == 0) return -1;
    strupper(text);
    for (int unit = kUnitCount - 1; unit >= 0; --unit) {
        if (strcmp(text, cfg_schedule_units[unit].word) == 0) {
            *units = (SCHEDULEUNITS)unit;
            return 0;
        }
    }
    return -2;
}

int CConfig::GetScheduleUnits(char* text) {
    if (text == 0) return -1;
    return GetScheduleUnitsAsString(m_eScheduleUnits, text);
}

int CConfig::SetScheduleUnits(char* text) {
    if (text == 0) return -1;
    SCHEDULEUNITS units;
    if (GetScheduleUnitsFromString(text, &units) != 0) return -2;
    unsigned long seconds = 0;
    if (!IntervalOf(units, m_nScheduleValue, &seconds)) return -3;
    m_eScheduleUnits = units;
    m_nInterval = seconds;
    return 0;
}

// ---- Switches and trace level ----

int CConfig::GetAutoRefreshFlag() { return m_bAutoRefresh; }

int CConfig::SetAutoRefreshFlag(int flag) {
    m_bAutoRefresh = flag != 0;
    return 0;
}

int CConfig::DoLoopDetect() { return m_bLoopDetect; }

int CConfig::SetLoopDetectFlag(int flag) {
    if (m_szLoopDetectID[0] == '\0') return -3;
    m_bLoopDetect = flag != 0;
    return 0;
}

int CConfig::GetLoopDetectID(char* text) { return GetText(text, m_szLoopDetectID); }

// Stores the canonical form of the name when it has one, else the text as
// given; either way cut to a Notes name's 255 characters.
int CConfig::SetLoopDetectID(char* text) {
    if (text == 0) return -1;
    char canonical[MAXUSERNAME + 1];
    memset(canonical, 0, sizeof(canonical));
    WORD length = 0;
    if (DNCanonicalize(0, 0, text, canonical, MAXUSERNAME, &length) == NOERROR)
        CopyText(m_szLoopDetectID, MAXUSERNAME, canonical);
    else
        CopyText(m_szLoopDetectID, MAXUSERNAME, text);
    return 0;
}

unsigned long CConfig::Tracing() { return m_nTraceLevel; }

unsigned long CConfig::SetTrace(unsigned long level) {
    m_nTraceLevel = level;
    return 0;
}

unsigned long CConfig::SetTrace(char* text) {
    if (text == 0) return 0;
    char word[CFG_TEXT_SIZE];
    CopyText(word, sizeof(word), text);
    strupper(word);
    long level = GetTraceLevel(word);
    if (level >= 0) m_nTraceLevel = (unsigned long)level;
    return 0;
}

int CConfig::WriteTimeStamps() { return m_bWriteTimeStamps; }

int CConfig::SetWriteTimeStamps(int flag) {
    m_bWriteTimeStamps = flag != 0;
    return 0;
}

int CConfig::CheckAttrs() { return m_bCheckAttrs; }

int CConfig::SetCheckAttrs(int flag) {
    m_bCheckAttrs = flag != 0;
    return 0;
}

int CConfig::IsDirectory() { return m_bIsDirectory; }

int CConfig::SetDirectoryFlag(int flag) {
    m_bIsDirectory = flag != 0;
    return 0;
}

unsigned long CConfig::DNFormat() { return m_nDNFormat; }

// The format goes to the document first and is kept only when it got there.
int CConfig::SetDNFormat(unsigned long format) {
    STATUS status = putCfgField(CFG_DNFORMAT, (double)format);
    if (status == NOERROR) m_nDNFormat = format;
    return status;
}

// ---- Names and handles ----

int CConfig::GetOutputPath(char* text) { return GetText(text, m_szOutputPath); }

int CConfig::SetOutputPath(char* text) {
    if (text == 0) return -1;
    CopyText(m_szOutputPath, sizeof(m_szOutputPath), text);
    return 0;
}

int CConfig::GetInputDB(char* text) { return GetText(text, m_szInputDB); }

int CConfig::SetInputDB(char* text) {
    if (text == 0) return -1;
    CopyText(m_szInputDB, sizeof(m_szInputDB), text);
    return 0;
}

int CConfig::GetOutputDB(char* text) { return GetText(text, m_szOutputDB); }

int CConfig::SetOutputDB(char* text) {
    if (text == 0) return -1;
    CopyText(m_szOutputDB, sizeof(m_szOutputDB), text);
    return 0;
}

int CConfig::GetCfgDBName(char* text) { return GetText(text, m_szCfgDBName); }

int CConfig::SetCfgDBName(char* text) {
    if (text == 0) return -1;
    CopyText(m_szCfgDBName, sizeof(m_szCfgDBName), text);
    return 0;
}

int CConfig::GetInstanceNoteID(unsigned long* noteID) {
    if (noteID == 0) return -1;
    *noteID = m_nInstanceNoteID;
    return 0;
}

int CConfig::SetInstanceNoteID(unsigned long noteID) {
    m_nInstanceNoteID = noteID;
    return 0;
}

int CConfig::GetPubFilter(unsigned long* handle) {
    if (handle == 0) return -1;
    *handle = m_hPubFilter;
    return 0;
}

// Takes ownership of the block; the block it replaces is freed at once.
int CConfig::SetPubFilter(unsigned long handle) {
    if (handle == m_hPubFilter) return 0;
    if (m_hPubFilter != 0) OSMemoryFree((MEMHANDLE)m_hPubFilter);
    m_hPubFilter = handle;
    return 0;
}

int CConfig::GetCfgDBHandle(DBHANDLE* handle) {
    if (handle == 0) return -1;
    *handle = m_hCfgDB;
    return 0;
}

int CConfig::SetCfgDBHandle(DBHANDLE handle) {
    m_hCfgDB = handle;
    return 0;
}

// ---- Time stamps ----

int CConfig::GetRefreshCfgTimeStamp(TIMEDATE* time) {
    if (time == 0) return -1;
    *time = m_tdRefreshCfg;
    return 0;
}

int CConfig::SetRefreshCfgTimeStamp(TIMEDATE* time) {
    if (time == 0) return -1;
    m_tdRefreshCfg = *time;
    return 0;
}

int CConfig::GetLastReplicationTimeStamp(TIMEDATE* time) {
    if (time == 0) return -1;
    *time = m_tdLastReplication;
    return 0;
}

// text must hold MAXALPHATIMEDATE + 1 bytes.
STATUS CConfig::TimeToText(const TIMEDATE* time, char* text) {
    char buffer[MAXALPHATIMEDATE + 1];
    memset(buffer, 0, sizeof(buffer));
    WORD length = 0;
    STATUS status = ConvertTIMEDATEToText(&m_Intl, &m_TimeFormat, time, buffer,
                                          MAXALPHATIMEDATE, &length);
    if (status != NOERROR) return status;
    buffer[length <= MAXALPHATIMEDATE ? length : MAXALPHATIMEDATE] = '\0';
    strcpy(text, buffer);
    return NOERROR;
}

// A time that cannot reach the document is not taken: the next pass then
// starts from the previous time again and publishes nothing less.
int CConfig::SetLastReplicationTimeStamp(TIMEDATE* time) {
    if (time == 0) return -1;
    if (putCfgField(CFG_LASTEVENT, *time) != NOERROR) return 0;
    m_tdLastReplication = *time;
    TimeToText(time, m_szLastReplication);
    return 0;
}

int CConfig::GetInputIdentity(char* text) {
    if (text == 0) return -1;
    strcpy(text, m_szInputIdentity);
    return 0;
}

int CConfig::SetInputIdentity(char* text) {
    if (text == 0) return -1;
    CopyText(m_szInputIdentity, sizeof(m_szInputIdentity), text);
    return 0;
}

STATUS CConfig::StoreLastReplication(TIMEDATE* time, char* identity) {
    if (time == 0 || identity == 0) return CFGDB_NULL_ARG;
    const int indexes[] = {CFG_LASTEVENT, CFG_INPUTIDENTITY};
    void* const values[] = {time, identity};
    STATUS status = putCfgFields(2, indexes, values);
    if (status != NOERROR) return status;
    m_tdLastReplication = *time;
    TimeToText(time, m_szLastReplication);
    SetInputIdentity(identity);
    return NOERROR;
}

int CConfig::IsMigrationPending() {
    TIMEDATE wildcard;
    TimeConstant(TIMEDATE_WILDCARD, &wildcard);
    return memcmp(&m_tdLastReplication, &wildcard, sizeof(wildcard)) == 0;
}

int CConfig::GetLastReplicationTimeStampStr(char* text) {
    if (text == 0) return -1;
    TIMEDATE time;
    STATUS status = getCfgField(CFG_LASTEVENT, &time);
    if (status != NOERROR) return status;
    m_tdLastReplication = time;
    return TimeToText(&time, text);
}

int CConfig::SetLastReplicationTimeStampStr(char* text) {
    if (text == 0) return -1;
    char* cursor = text;
    TIMEDATE time;
    STATUS status = ConvertTextToTIMEDATE(&m_Intl, &m_TimeFormat, &cursor, MAXALPHATIMEDATE, &time);
    if (status != NOERROR) return status;
    status = putCfgField(CFG_LASTEVENT, time);
    if (status != NOERROR) return status;
    m_tdLastReplication = time;
    CopyText(m_szLastReplication, sizeof(m_szLastReplication), text);
    return 0;
}

// ---- Loading, saving and checking ----

// The load time is the document's own last-modified time, read before the
// first item: the load's own writes (DN format, stored time) move it past
// themselves, while an edit made by anyone else after it keeps the document
// newer than the load. (The clock is no measure here: under a burst of
// writes the document's times run ahead of it.) A failed load keeps the
// previous load time.
int CConfig::Refresh() {
    TIMEDATE previous = m_tdRefreshCfg;
    unsigned long found = 0;
    findCfgDBInstance(m_szInstanceName, m_szCfgDBName, &found, &m_tdRefreshCfg);
    STATUS status = getAllCfgDBData(this);
    if (status != NOERROR) m_tdRefreshCfg = previous;
    return status;
}

int CConfig::AutoRefresh(int* refreshed) {
    if (!m_bAutoRefresh) return 0;
    if (refreshed != 0) *refreshed = 0;
    unsigned long foundID = 0;
    TIMEDATE modified;
    memset(&modified, 0, sizeof(modified));
    STATUS status = findCfgDBInstance(m_szInstanceName, m_szCfgDBName, &foundID, &modified);
    if (status != NOERROR) return status;
    if (foundID == 0) return 0;
    if (TimeDateDifference(&modified, &m_tdRefreshCfg) <= 0) return 0;
    status = Refresh();
    if (refreshed != 0) *refreshed = 1;
    return status;
}

int CConfig::Save() { return putAllCfgDBData(this); }

// The findings of ErrorReport, as its bits; the last-event check reads the
// document (and so loads the stored time).
unsigned long CConfig::FindMissingItems() {
    unsigned long bits = 0;
    if (m_szInputDB[0] == '\0') bits |= CFGERR_INPUTDB;
    if (m_szOutputDB[0] == '\0') bits |= CFGERR_OUTPUTDB;
    if (m_bLoopDetect && m_szLoopDetectID[0] == '\0') bits |= CFGERR_LOOPDETECTID;
    char text[CFG_TEXT_SIZE];
    if (GetScheduleUnitsAsString(m_eScheduleUnits, text) != 0) bits |= CFGERR_SCHEDULEUNITS;
    if (m_nScheduleValue == 0) bits |= CFGERR_SCHEDULEVALUE;
    if (GetDNFormatWord(m_nDNFormat) == 0) bits |= CFGERR_DNFORMAT;
    text[0] = '\0';
    // A migration still to finish keeps the wildcard, which has no text.
    if ((GetLastReplicationTimeStampStr(text) != 0 || text[0] == '\0') && !IsMigrationPending())
        bits |= CFGERR_LASTEVENT;
    if (m_hPubFilter == 0) bits |= CFGERR_PUBFILTER;
    return bits;
}

unsigned long CConfig::ErrorReport(int log) {
    unsigned long bits = FindMissingItems();
    if (bits & kCriticalItems) {
        SetState(STATE_WAITING, 0);
        bits |= CFGERR_CRITICAL;
    }
    if (!log) return bits;

    FormatText(m_szMessage, sizeof(m_szMessage),
             "%s: Unable to read (or missing) the following configuration items:", m_szStatusLine);
    LogText(NOERROR, m_szMessage);
    for (const MissingItem& item : kMissingItems) {
        if (bits & item.bit) LogText(NOERROR, item.line);
    }
    if (bits & CFGERR_CRITICAL) {
        FormatText(m_szMessage, sizeof(m_szMessage), "%s:\tCritical configuration data is missing.",
                 m_szStatusLine);
        LogText(NOERROR, m_szMessage);
    }
    return bits;
}
