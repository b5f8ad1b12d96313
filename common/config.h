// config.h - CConfig, everything one running instance of the task knows
// about itself, and the configuration database calls it makes.
//
// The task creates one CConfig at start-up and deletes it at exit. It owns
// the server status line, the console message queue and the memory block
// of the publisher filter text. The configuration document is read and
// written through getCfgField/putCfgField and the functions of cfgdb.h;
// the configuration database is open only while one item is read or
// written.
//
// Accessors that take a pointer return -1 for a null pointer; -2 means a
// refused value, -3 an unmet precondition.
#ifndef ZELREP_CONFIG_H
#define ZELREP_CONFIG_H

#include "cfgschema.h"
#include "global.h"
#include "intl.h"
#include "misc.h"

// Task states.
#define STATE_RUNNING 1
#define STATE_SUSPENDED 2
#define STATE_WAITING 4

// ErrorReport bits.
#define CFGERR_CRITICAL 0x001
#define CFGERR_LASTEVENT 0x002
#define CFGERR_SCHEDULEVALUE 0x004
#define CFGERR_SCHEDULEUNITS 0x008
#define CFGERR_LOOPDETECTID 0x040
#define CFGERR_OUTPUTDB 0x100
#define CFGERR_INPUTDB 0x200
#define CFGERR_PUBFILTER 0x400
#define CFGERR_DNFORMAT 0x800

#define CFG_TEXT_SIZE 512
#define CFG_DBNAME_SIZE 256
#define CFG_LASTREPL_SIZE 128


class CConfig {
public:
    CConfig(char* instanceName, char* cfgDBName);
    CConfig();
    ~CConfig();

    int GetState();
    int SetState(unsigned long state, char* text);
    unsigned long Interval();

    // A schedule whose interval would not fit 32 bits is refused and changes
    // nothing: a count with -2 (as 0 is), units with -3, seconds with -2.
    int GetScheduleInUnits(unsigned long* value);
    int SetScheduleInUnits(unsigned long value);
    int GetScheduleUnits(char* text);
    int SetScheduleUnits(char* text);
    int GetScheduleInSeconds(SCHEDULEUNITS units, unsigned long value, unsigned long* seconds);
    int GetScheduleUnitsAsString(SCHEDULEUNITS units, char* text);
    int GetScheduleUnitsFromString(char* text, SCHEDULEUNITS* units);

    int GetAutoRefreshFlag();
    int SetAutoRefreshFlag(int flag);
    int DoLoopDetect();
    int SetLoopDetectFlag(int flag);
    // The loop-detect ID is a Notes name: at most 255 characters.
    int GetLoopDetectID(char* text);
    int SetLoopDetectID(char* text);

    unsigned long Tracing();
    // Call with an unsigned long (0UL): a plain 0 would be ambiguous.
    unsigned long SetTrace(unsigned long level);
    unsigned long SetTrace(char* text);

    int WriteTimeStamps();
    int SetWriteTimeStamps(int flag);
    int CheckAttrs();
    int SetCheckAttrs(int flag);

    int GetOutputPath(char* text);
    int SetOutputPath(char* text);
    int GetInputDB(char* text);
    int SetInputDB(char* text);
    int GetOutputDB(char* text);
    int SetOutputDB(char* text);

    int GetLastReplicationTimeStamp(TIMEDATE* time);
    int SetLastReplicationTimeStamp(TIMEDATE* time);
    int GetLastReplicationTimeStampStr(char* text);
    int SetLastReplicationTimeStampStr(char* text);
    // The replica ID text of the input database that the stored time
    // belongs to ("" when not known); kept in memory, loaded and saved with
    // the document.
    int GetInputIdentity(char* text);
    int SetInputIdentity(char* text);
    // Stores the last-replication time together with the identity of the
    // input database it belongs to, in one write of the document; the
    // object takes them only when the write succeeded.
    STATUS StoreLastReplication(TIMEDATE* time, char* identity);
    // True when the stored time is the wildcard: a migration is under way,
    // or stopped before it ended.
    int IsMigrationPending();
    int GetRefreshCfgTimeStamp(TIMEDATE* time);
    int SetRefreshCfgTimeStamp(TIMEDATE* time);

    int IsDirectory();
    int SetDirectoryFlag(int flag);
    unsigned long DNFormat();
    int SetDNFormat(unsigned long format);

    int GetCfgDBName(char* text);
    int SetCfgDBName(char* text);
    int GetInstanceName(char* text);
    int SetInstanceName(char* text);
    int GetQueueName(char* text);
    STATUS SetQueueName(char* name);
    // The status-line name has at most STATUS_LINE_SIZE - 1 characters.
    int GetStatusLine(char* text);
    int SetStatusLine(char* name);
    int SetStatusLineText(char* text);

    int GetInstanceNoteID(unsigned long* noteID);
    int SetInstanceNoteID(unsigned long noteID);
    int GetPubFilter(unsigned long* handle);
    int SetPubFilter(unsigned long handle);
    int GetCfgDBHandle(DBHANDLE* handle);
    int SetCfgDBHandle(DBHANDLE handle);
    unsigned long GetMQHandle();

    int AutoRefresh(int* refreshed);
    int Refresh();
    int Save();
    unsigned long ErrorReport(int log);

    // One item of the configuration document (cfgdb.cpp).
    STATUS getCfgField(int index, void* value);
    STATUS getCfgField(int index, char* value);
    STATUS getCfgField(int index, double* value);
    STATUS getCfgField(int index, TIMEDATE* value);
    STATUS getCfgField(int index, unsigned long* value);
    STATUS putCfgField(int index, void* value);
    STATUS putCfgField(int index, char* value);
    STATUS putCfgField(int index, double value);
    STATUS putCfgField(int index, TIMEDATE value);
    STATUS putCfgField(int index, unsigned long value);
    // Several items in one update of the document.
    STATUS putCfgFields(int count, const int* indexes, void* const* values);

private:
    CConfig(const CConfig&) = delete;
    CConfig& operator=(const CConfig&) = delete;

    void Init(const char* instanceName, const char* cfgDBName);
    static bool IntervalOf(SCHEDULEUNITS units, unsigned long value, unsigned long* seconds);
    void ComposeStatusLineName();
    STATUS TimeToText(const TIMEDATE* time, char* text);
    unsigned long FindMissingItems();

    unsigned long m_nState;
    unsigned long m_nInterval;
    unsigned long m_nScheduleValue;
    SCHEDULEUNITS m_eScheduleUnits;
    int m_bAutoRefresh;
    int m_bLoopDetect;
    unsigned long m_nTraceLevel;
    int m_bWriteTimeStamps;
    int m_bCheckAttrs;
    char m_szLoopDetectID[CFG_TEXT_SIZE];
    char m_szOutputPath[CFG_TEXT_SIZE];
    char m_szInputDB[CFG_TEXT_SIZE];
    char m_szOutputDB[CFG_TEXT_SIZE];
    char m_szLastReplication[CFG_LASTREPL_SIZE];
    TIMEDATE m_tdLastReplication;
    char m_szInputIdentity[CFG_TEXT_SIZE];
    TIMEDATE m_tdRefreshCfg;
    int m_bIsDirectory;
    unsigned long m_nDNFormat;
    char m_szCfgDBName[CFG_DBNAME_SIZE];
    char m_szInstanceName[CFG_TEXT_SIZE];
    char m_szQueueName[CFG_TEXT_SIZE];
    char m_szStatusLine[CFG_TEXT_SIZE];
    unsigned long m_nInstanceNoteID;
    unsigned long m_hPubFilter;
    DBHANDLE m_hCfgDB;
    unsigned long m_hMQ;
    HANDLE m_hStatusLine;
    TFMT m_TimeFormat;
    INTLFORMAT m_Intl;
    char m_szMessage[CFG_TEXT_SIZE];
};

#endif
