// cfgcmds.cpp - the console commands that list the configuration
// (SHOWCONFIG, SHOWFILTER) and switch the running task to another instance
// of its configuration database (SETINSTANCE).
//
// Owned by the task host. SETINSTANCE checks the new instance on a temporary
// CConfig of its own, which it deletes before returning; the task's own
// CConfig is changed only after every check passed, and put back whole when
// a later step fails.
#include "cfgcmds.h"

#include <new>

#include "addin.h"
#include "cfgschema.h"
#include "config.h"
#include "console.h"
#include "n_ver.h"
#include "osmem.h"
#include "tasktext.h"

namespace {

// Locks the publisher filter's text; null when there is none. A non-null
// result is unlocked with OSMemoryUnlock(handle).
const char* LockFilterText(CConfig* config, unsigned long* handle) {
    *handle = 0;
    config->GetPubFilter(handle);
    if (*handle == 0) return 0;
    return (const char*)OSMemoryLock((MEMHANDLE)*handle);
}

void ShowState(CConfig* config) {
    switch (config->GetState()) {
    case STATE_RUNNING: LogText(NOERROR, "\tzelrep is running"); break;
    case STATE_SUSPENDED: LogText(NOERROR, "\tzelrep is suspended"); break;
    case STATE_WAITING:
        LogText(NOERROR, "\tzelrep is suspended waiting for configuration information");
        break;
    }
}

void ShowFilterFound(CConfig* config) {
    unsigned long handle = 0;
    if (LockFilterText(config, &handle) == 0) return;
    OSMemoryUnlock((MEMHANDLE)handle);
    LogText(NOERROR, "\tPublisher filter found");
}

void ShowDNFormat(CConfig* config) {
    const char* word = GetDNFormatWord(config->DNFormat());
    if (word != 0)
        LogLine(NOERROR, "\tDN Format is %s", word);
    else
        LogText(NOERROR, "\tDN Format is invalid.  Please check configuration");
}

// What SETINSTANCE remembers of the task's own configuration.
struct InstanceState {
    char name[CFG_TEXT_SIZE];
    unsigned long noteID;
    int state;
};

// The checks on the temporary configuration of the new instance. Nonzero
// when the instance can be taken; else the failure is logged and *result is
// what the command answers.
int CheckNewInstance(CConfig* candidate, const char* name, const char* newName,
                     const char* cfgDB, unsigned long* newNoteID, STATUS* result) {
    *result = NOERROR;
    if (candidate->GetState() != STATE_RUNNING) {
        LogLine(NOERROR, "%s: SETINSTANCE %s failed. Instance %s not available in %s", name,
                newName, newName, cfgDB);
        return 0;
    }
    STATUS status = (STATUS)candidate->Refresh();
    if (status != NOERROR) {
        LogLine(status, "%s: SETINSTANCE %s failed. Instance data %s not available in %s", name,
                newName, newName, cfgDB);
        *result = status;
        return 0;
    }
    if (candidate->ErrorReport(0) & CFGERR_CRITICAL) {
        LogLine(NOERROR, "%s: SETINSTANCE %s failed. Required instance data %s not available in %s",
                name, newName, newName, cfgDB);
        return 0;
    }
    candidate->GetInstanceNoteID(newNoteID);
    return 1;
}

// Puts the task's instance name, note ID, state and, when asked, its queue
// back as they were before the switch.
void PutBack(CConfig* config, InstanceState* old, int queueChanged) {
    config->SetInstanceName(old->name);
    config->SetInstanceNoteID(old->noteID);
    if (queueChanged) config->SetQueueName(old->name);
    config->SetState((unsigned long)old->state, 0);
}

STATUS SwitchInstance(CConfig* config, const char* name, InstanceState* old, char* newName,
                      unsigned long newNoteID) {
    int result = config->SetInstanceNoteID(newNoteID);
    if (result == 0) result = config->SetInstanceName(newName);
    if (result != 0) {
        LogLine((STATUS)result, "%s:  Instance %s could not be reconfigured to %s: ", name,
                old->name, newName);
        PutBack(config, old, 0);
        return (STATUS)result;
    }
    STATUS status = config->SetQueueName(newName);
    if (status != NOERROR) {
        LogLine(status, "%s:  Instance %s could not be reconfigured to %s: ", name, old->name,
                newName);
        PutBack(config, old, 1);
        return status;
    }
    status = (STATUS)config->Refresh();
    config->SetState((unsigned long)old->state, 0);
    LogLine(status, "%s:  Instance %s being reconfigured to %s. ", name, old->name, newName);
    return status;
}

}  // namespace

STATUS CmdShowConfig(char* /*argument*/, WORD /*length*/, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    char text[CFG_TEXT_SIZE];
    config->GetStatusLine(name);
    LogLine(NOERROR, "%s: == ZELREP v" ZELREP_VERSION " ==", name);
    LogLine(NOERROR, "%s: == Current Configuration ==", name);
    ShowState(config);
    LogLine(NOERROR, "\ttrace level is %s", GetTraceStr((long)config->Tracing()));
    config->GetInputDB(text);
    LogLine(NOERROR, "\tNSF used as Domino Directory is %s", text);
    config->GetOutputDB(text);
    LogLine(NOERROR, "\tDirectory Update DB is %s", text);
    ShowFilterFound(config);
    LogText(NOERROR, config->DoLoopDetect() ? "\tLOOPDETECT is enabled" : "\tLOOPDETECT is disabled");
    config->GetLoopDetectID(text);
    LogLine(NOERROR, "\tLoop Detect is looking for %s", text);
    unsigned long count = 0;
    config->GetScheduleInUnits(&count);
    config->GetScheduleUnits(text);
    LogLine(NOERROR, "\tReplication process is scheduled every %lu %s", count, text);
    LogText(NOERROR, config->GetAutoRefreshFlag() ? "\tAUTOREFRESH is enabled"
                                                 : "\tAUTOREFRESH is disabled");
    config->GetInputDB(text);
    LogLine(NOERROR, config->IsDirectory() ? "\t%s is a Notes Directory" : "\t%s is not a Notes Directory",
            text);
    ShowDNFormat(config);
    LogText(NOERROR, config->WriteTimeStamps()
                         ? "\tZELREP is writing timestamps on processed notes"
                         : "\tZELREP is not writing timestamps on processed notes");
    LogText(NOERROR, config->CheckAttrs() ? "\tZELREP is only publishing changed attributes"
                                          : "\tZELREP is publishing all attributes in publisher filter");
    text[0] = '\0';
    config->GetLastReplicationTimeStampStr(text);
    if (config->IsMigrationPending())
        LogText(NOERROR, "\tZELREP has a migration to finish: the next pass publishes every object\r\n");
    else
        LogLine(NOERROR, "\tZELREP completed the last update on %s\r\n", text);
    return NOERROR;
}

STATUS CmdShowFilter(char* /*argument*/, WORD /*length*/, CConfig* config) {
    unsigned long handle = 0;
    const char* filter = LockFilterText(config, &handle);
    if (filter == 0) {
        LogText(NOERROR, "Publisher Filter NOT FOUND");
        return NOERROR;
    }
    AddInLogMessageText("Publisher Filter: %s", NOERROR, filter);
    OSMemoryUnlock((MEMHANDLE)handle);
    return NOERROR;
}

STATUS CmdSetInstance(char* argument, WORD length, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    char newName[PARSE_BUFFER_SIZE];
    STATUS status = GetStringValue(argument, length, newName);
    if (status != NOERROR) {
        LogLine(NOERROR, "%s: SETINSTANCE expects an instance name as a parameter", name);
        return status;
    }

    char cfgDB[CFG_DBNAME_SIZE];
    InstanceState old;
    config->GetCfgDBName(cfgDB);
    config->GetInstanceName(old.name);
    config->GetInstanceNoteID(&old.noteID);
    old.state = config->GetState();

    CConfig* candidate = new (std::nothrow) CConfig(newName, cfgDB);
    if (candidate == 0) {
        LogLine(NOERROR, "%s: SETINSTANCE %s failed. Out of available memory.", name, newName);
        return NOERROR;
    }
    unsigned long newNoteID = 0;
    if (CheckNewInstance(candidate, name, newName, cfgDB, &newNoteID, &status))
        status = SwitchInstance(config, name, &old, newName, newNoteID);
    delete candidate;
    return status;
}
