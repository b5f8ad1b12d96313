// idtables.cpp - the publication pass (DoReplication) and its small
// operations: the note list built from the modified-note table and the
// output database's title.
//
// A pass owns its VRD_THREAD_DATA, both database handles, the modified-note
// table, the filter and the note list for its own duration and releases
// them at every end. The filter text's memory block stays the CConfig's.
// The stored last-replication time moves only to a time up to which every
// change has been listed and published, and only once the output database
// has been closed, which makes its documents durable on disk: so no
// committed change is ever skipped. A pass that could not read a note or
// write one of its documents leaves the time where it was, and the next
// pass publishes the same interval again. A migration stores the wildcard
// before it publishes anything, so that one that does not end (killed,
// stopped, short of disk) is done again by the next pass; the stored time
// carries the replica ID of the input database it belongs to, and an input
// database replaced by another is published whole the same way. After a
// pass that failed, both databases are checked for damage.
#include "idtables.h"

#include <new>
#include <stdio.h>
#include <string.h>

#include "config.h"
#include "entarray.h"
#include "filter.h"
#include "idtable.h"
#include "noteinfo.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "osmem.h"
#include "ostime.h"
#include "passdata.h"
#include "passlog.h"
#include "procnotes.h"
#include "tasktext.h"

namespace {

// Everything a pass holds, so that one clean-up releases whatever is held
// at any end of the pass.
struct PassResources {
    VRD_THREAD_DATA data;
    char inputPath[CFG_TEXT_SIZE];
    char outputDB[CFG_TEXT_SIZE];
    char identity[CFG_TEXT_SIZE];  // the input's replica ID as text, "" unknown
    TIMEDATE since;
    TIMEDATE until;
    DHANDLE hTable;
    void* lockedTable;
    MEMHANDLE hFilterText;
    char* filterText;
};

TIMEDATE Wildcard() {
    TIMEDATE value;
    TimeConstant(TIMEDATE_WILDCARD, &value);
    return value;
}

void FillFromConfig(VRD_THREAD_DATA* data, CConfig* config, char* outputPath, int incremental) {
    char text[CFG_TEXT_SIZE];
    memset(data, 0, sizeof(*data));
    data->migration = incremental == 0 ? 1 : 0;
    data->since = Wildcard();
    CopyText(data->outputPath, sizeof(data->outputPath), outputPath);
    data->config = config;
    data->isDirectory = config->IsDirectory();
    data->loopDetect = config->DoLoopDetect();
    data->traceLevel = (int32_t)config->Tracing();
    data->checkAttrs = config->CheckAttrs();
    data->writeTimeStamps = config->WriteTimeStamps();
    data->dnFormat = (uint32_t)config->DNFormat();
    text[0] = '\0';
    config->GetLoopDetectID(text);
    CopyText(data->loopDetectID, sizeof(data->loopDetectID), text);
    text[0] = '\0';
    config->GetStatusLine(text);
    CopyText(data->statusLine, sizeof(data->statusLine), text);
}

// The replica ID as text ("85258EC6:3FA2B1C0"); "" when it cannot be read
// or the database has none.
void ReplicaIdText(DBHANDLE hDB, char* text) {
    DBREPLICAINFO info;
    memset(&info, 0, sizeof(info));
    text[0] = '\0';
    if (NSFDbReplicaInfoGet(hDB, &info) != NOERROR) return;
    if (info.ID.Innards[0] == 0 && info.ID.Innards[1] == 0) return;
    snprintf(text, CFG_TEXT_SIZE, "%08X:%08X", (unsigned)info.ID.Innards[1], (unsigned)info.ID.Innards[0]);
}

void ReadInputIdentity(const char* inputPath, char* identity) {
    DBHANDLE hDB = NULLHANDLE;
    identity[0] = '\0';
    if (NSFDbOpen(inputPath, &hDB) != NOERROR) return;
    ReplicaIdText(hDB, identity);
    NSFDbClose(hDB);
}

// Whether this incremental pass must publish the whole input database: a
// migration was under way when the last pass ended, or the input is not the
// database the stored time belongs to (re-created, restored, switched), whose
// changes before that time would otherwise never be published. Logs why.
int NeedsMigration(CConfig* config, PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    if (config->IsMigrationPending()) {
        PassLog(data->traceLevel, TRACE_NORMAL,
                "%s: The last migration of %s did not finish; this pass publishes every object again",
                data->statusLine, pass->inputPath);
        return 1;
    }
    char stored[CFG_TEXT_SIZE];
    config->GetInputIdentity(stored);
    if (stored[0] == '\0' || pass->identity[0] == '\0' || strcmp(stored, pass->identity) == 0) return 0;
    char sinceText[CFG_TEXT_SIZE];
    sinceText[0] = '\0';
    config->GetLastReplicationTimeStampStr(sinceText);
    PassLog(data->traceLevel, TRACE_NORMAL,
            "%s: %s is not the database that the last replication time %s belongs to (replica ID %s, "
            "was %s); this pass publishes every object",
            data->statusLine, pass->inputPath, sinceText, pass->identity, stored);
    return 1;
}

// The since-time of the pass; an incremental pass stores it back at once.
TIMEDATE PassSinceTime(CConfig* config, int incremental) {
    if (!incremental) return Wildcard();
    TIMEDATE since;
    memset(&since, 0, sizeof(since));
    config->GetLastReplicationTimeStamp(&since);
    config->SetLastReplicationTimeStamp(&since);
    return since;
}

STATUS OpenInput(PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    TIMEDATE dataModified, nonDataModified;
    STATUS status = NSFDbOpenExtended(pass->inputPath, DBOPEN_WITH_SCAN_LOCK, NULLHANDLE,
                                      data->migration ? 0 : &pass->since, &data->hInputDB,
                                      &dataModified, &nonDataModified);
    if (status == NOERROR) return NOERROR;
    data->hInputDB = NULLHANDLE;
    if (!data->migration && ERR(status) == ERR_NO_MODIFIED_NOTES) {
        char sinceText[NOTEINFO_TEXT_SIZE];
        GetTimeDateString(&pass->since, sinceText);
        PassLog(data->traceLevel, TRACE_NORMAL, "\n%s: %s hasn't been modified since %s",
                data->statusLine, pass->inputPath, sinceText);
    } else {
        LogLine(status, "%s:  Fatal Error:  Unable to open input DB %s", data->statusLine,
                pass->inputPath);
    }
    return status;
}

// Opens the output database, creating it from the input database's views
// when it is missing; a created database gets its "Filtered" title. A
// failure is logged with its status, whose text says why.
STATUS OpenOutput(PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    data->config->GetOutputDB(pass->outputDB);
    if (NSFDbOpen(pass->outputDB, &data->hOutputDB) == NOERROR) return NOERROR;

    DBHANDLE hCreated = NULLHANDLE;
    STATUS status =
        NSFDbCreateAndCopy(pass->inputPath, pass->outputDB, NOTE_CLASS_VIEW, 0, 0, &hCreated);
    if (status != NOERROR) {
        data->hOutputDB = NULLHANDLE;
        LogLine(status, "%s:  Fatal Error:  Unable to create output DB", data->statusLine);
        return status;
    }
    NSFDbClose(hCreated);
    status = NSFDbOpen(pass->outputDB, &data->hOutputDB);
    if (status != NOERROR) {
        data->hOutputDB = NULLHANDLE;
        LogLine(status, "%s:  Fatal Error:  Unable to open output DB", data->statusLine);
        return status;
    }
    ChangeDBTitle(data->hOutputDB);
    return NOERROR;
}

// A migration stores the wildcard before it lists anything: until it has
// published everything and stored its until-time, every pass does it again.
STATUS MarkMigrationUnderWay(PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    TIMEDATE wildcard = Wildcard();
    STATUS status = data->config->StoreLastReplication(&wildcard, pass->identity);
    if (status != NOERROR)
        PassLogStatus(data->traceLevel, 0, status, "%s: Unable to record that a migration of %s is under way",
                      data->statusLine, pass->inputPath);
    return status;
}

// Takes the modified-note table. When nothing changed, the stored time
// moves to the until-time that the table gave: every later change is
// later than it.
STATUS TakeModifiedNoteTable(PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    OSCurrentTIMEDATE(&pass->until);
    STATUS status = NSFDbGetModifiedNoteTable(data->hInputDB, NOTE_CLASS_DOCUMENT, pass->since,
                                              &pass->until, &pass->hTable);
    if (ERR(status) == ERR_NO_MODIFIED_NOTES) {
        pass->hTable = NULLHANDLE;
        PassLog(data->traceLevel, TRACE_NORMAL, "%s: No modified notes exist in %s\n",
                data->statusLine, pass->inputPath);
        data->config->StoreLastReplication(&pass->until, pass->identity);
        return status;
    }
    if (status != NOERROR || pass->hTable == NULLHANDLE) {
        if (status == NOERROR) pass->hTable = NULLHANDLE;
        PassLogStatus(data->traceLevel, 0, status, "%s: %s: Unable to obtain ModifiedNoteTable",
                      data->statusLine, pass->inputPath);
        return status != NOERROR ? status : (STATUS)ERR_INVALID_HANDLE;
    }
    return NOERROR;
}

STATUS PrepareTable(PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    pass->lockedTable = OSLockObject(pass->hTable);
    if (pass->lockedTable == 0) {
        PassLog(data->traceLevel, 0, "%s: %s: Unable to OSLock idtable_handle\n",
                data->statusLine, pass->inputPath);
        return ERR_INVALID_HANDLE;
    }
    if (IDTableFlags(pass->lockedTable) == IDTABLE_MODIFIED)
        IDTableSetFlags(pass->lockedTable, 0);
    data->entriesFound = (int32_t)IDEntries(pass->hTable);
    data->notesUpdated = 0;
    PassLog(data->traceLevel, TRACE_VERBOSE,
            "%s: Number of Entries in ID Table = %lu will be listed.\n", data->statusLine,
            (unsigned long)data->entriesFound);
    TIMEDATE now;
    OSCurrentTIMEDATE(&now);
    IDTableSetTime(pass->lockedTable, now);
    OSUnlockObject(pass->hTable);
    pass->lockedTable = 0;
    return NOERROR;
}

// A class or attribute name of the filter too long to take is left out,
// and the log says which (its first characters) and why.
void LogSkippedName(void* context, const char* name, size_t length, const char* className) {
    const int kShown = 64;
    VRD_THREAD_DATA* data = (VRD_THREAD_DATA*)context;
    if (className == 0)
        PassLog(data->traceLevel, TRACE_NORMAL,
                "%s: Publication Filter class \"%.*s...\" has %lu characters, more than %d: left out "
                "with its attributes",
                data->statusLine, kShown, name, (unsigned long)length, FILTER_NAME_SIZE - 1);
    else
        PassLog(data->traceLevel, TRACE_NORMAL,
                "%s: Publication Filter attribute \"%.*s...\" of class %s has %lu characters, more than %d: "
                "left out",
                data->statusLine, kShown, name, className, (unsigned long)length, FILTER_NAME_SIZE - 1);
}

// Builds the filter from the configuration's text; a filter without
// classes suspends the instance until its configuration is mended.
STATUS BuildFilter(PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    unsigned long handle = 0;
    data->config->GetPubFilter(&handle);
    pass->hFilterText = (MEMHANDLE)handle;
    if (pass->hFilterText != NULLMEMHANDLE)
        pass->filterText = (char*)OSMemoryLock(pass->hFilterText);
    data->pFilter = new (std::nothrow) CFilter(pass->filterText, LogSkippedName, data);
    if (data->pFilter == 0) return ERR_MEMORY;
    if (data->pFilter->ObjCount() == 0) {
        PassLog(data->traceLevel, 0,
                "%s: Publication Filter contains no Objects.  Suspending ZELREP",
                data->statusLine);
        data->config->SetState(STATE_WAITING, 0);
        return ERR_NOT_FOUND;
    }
    return NOERROR;
}

// Lists, sorts, processes and frees the entries of the table.
STATUS PublishTable(PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    data->noteList = new (std::nothrow) CEntityArray();
    if (data->noteList == 0) return ERR_MEMORY;
    data->since = pass->since;
    IDEnumerate(pass->hTable, ListNotes, data);
    data->noteList->QSort();
    data->counts.listed = (int32_t)data->noteList->Count();
    ProcessNotes(data);
    FreeArrayEntries(data->noteList);
    delete data->noteList;
    data->noteList = 0;
    return NOERROR;
}

// Closes both databases; closing the output makes its documents durable.
// A failure keeps the pass's interval.
STATUS CloseDatabases(PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    STATUS status = NOERROR;
    DBHANDLE* handles[] = {&data->hOutputDB, &data->hInputDB};
    const char* names[] = {pass->outputDB, pass->inputPath};
    for (int i = 0; i < 2; ++i) {
        STATUS closed = NSFDbClose(*handles[i]);
        *handles[i] = NULLHANDLE;
        if (closed == NOERROR) continue;
        PassLogStatus(data->traceLevel, 0, closed,
                      "%s: Unable to close %s; the next pass publishes these changes again",
                      data->statusLine, names[i]);
        if (status == NOERROR) status = closed;
    }
    return status;
}

// The lines of a pass that left changes unpublished, with the first cause.
void ReportUnpublished(PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    int unsaved = (int)(data->unpublished - data->unread);
    if (unsaved > 0)
        PassLogStatus(data->traceLevel, TRACE_NORMAL, data->saveFailure,
                      "%s: %d documents could not be saved in %s; the next pass publishes these "
                      "changes again",
                      data->statusLine, unsaved, pass->outputDB);
    if (data->unread > 0)
        PassLogStatus(data->traceLevel, TRACE_NORMAL, data->readFailure,
                      "%s: %d notes could not be read in %s; the next pass publishes these "
                      "changes again",
                      data->statusLine, (int)data->unread, pass->inputPath);
}

// Stores the until-time as the new last-replication time, unless a change
// of the pass could not be published: then the stored time stays, and the
// next pass publishes the same interval again (documents already written
// are published twice, which the reader tolerates).
void StoreUntilTime(PassResources* pass) {
    VRD_THREAD_DATA* data = &pass->data;
    data->since = Wildcard();
    if (data->unpublished > 0) {
        ReportUnpublished(pass);
        return;
    }
    data->config->StoreLastReplication(&pass->until, pass->identity);
    char stored[CFG_TEXT_SIZE];
    stored[0] = '\0';
    data->config->GetLastReplicationTimeStampStr(stored);
    PassLog(data->traceLevel, TRACE_NORMAL, "%s: %s last modified time/date = %s\n",
            data->statusLine, pass->inputPath, stored);
}

// Releases whatever the pass still holds; a failing close of the input
// database replaces the pass's status.
STATUS ReleasePass(PassResources* pass, STATUS status) {
    VRD_THREAD_DATA* data = &pass->data;
    if (pass->filterText != 0) OSMemoryUnlock(pass->hFilterText);
    delete data->pFilter;
    data->pFilter = 0;
    if (pass->lockedTable != 0) OSUnlockObject(pass->hTable);
    if (pass->hTable != NULLHANDLE) IDDestroyTable(pass->hTable);
    if (data->hOutputDB != NULLHANDLE) {
        STATUS closed = NSFDbClose(data->hOutputDB);
        if (status == NOERROR) status = closed;
    }
    if (data->hInputDB != NULLHANDLE) {
        STATUS closed = NSFDbClose(data->hInputDB);
        if (closed != NOERROR) status = closed;
    }
    return status;
}

STATUS RunPass(PassResources* pass, int* entriesFound, int* notesUpdated) {
    STATUS status = OpenInput(pass);
    if (status == NOERROR) status = OpenOutput(pass);
    if (status == NOERROR && pass->data.migration) status = MarkMigrationUnderWay(pass);
    if (status == NOERROR) status = TakeModifiedNoteTable(pass);
    if (status == NOERROR) status = PrepareTable(pass);
    if (status == NOERROR) status = BuildFilter(pass);
    if (status == NOERROR) status = PublishTable(pass);
    if (status != NOERROR) return status;
    if (entriesFound != 0) *entriesFound = pass->data.entriesFound;
    if (notesUpdated != 0) *notesUpdated = pass->data.notesUpdated;
    if (pass->hTable != NULLHANDLE) IDDestroyTable(pass->hTable);
    pass->hTable = NULLHANDLE;
    status = CloseDatabases(pass);
    if (status != NOERROR) {
        ReportUnpublished(pass);
        return status;
    }
    StoreUntilTime(pass);
    return NOERROR;
}

// A pass that kept its interval for a reason other than no changes or an
// empty filter: a note not read, a document not saved, a database that
// failed to open, list, or close.
bool PassFailed(const PassResources* pass, STATUS status) {
    if (pass->data.unpublished > 0) return true;
    return status != NOERROR && ERR(status) != ERR_NO_MODIFIED_NOTES &&
           pass->data.config->GetState() != STATE_WAITING;
}

// True when the entry's note information was read. A note that is gone
// (purged since the table was taken) is passed over; one that is there but
// cannot be read, live or deleted, keeps the pass's interval.
bool ReadForListing(VRD_THREAD_DATA* data, CNoteInfo* info, DWORD noteID) {
    STATUS status = info->ReadStatus();
    if (status == NOERROR || ERR(status) == ERR_NOTE_DELETED) return true;
    DWORD id = noteID & ~(DWORD)RRV_DELETED;
    if (ERR(status) == ERR_INVALID_NOTE) {
        PassLog(data->traceLevel, TRACE_NORMAL, "%s: Note ID %lu to be processed has been deleted\n",
                data->statusLine, (unsigned long)id);
        return false;
    }
    PassLogStatus(data->traceLevel, TRACE_NORMAL, status,
                  "%s: Note ID %lu could not be read; the next pass publishes its change again",
                  data->statusLine, (unsigned long)id);
    CountNotRead(data, status);
    return false;
}

void FillReport(const PassResources* pass, STATUS status, bool failed, PassReport* report) {
    if (report == 0) return;
    const VRD_THREAD_DATA* data = &pass->data;
    report->migration = data->migration;
    report->since = pass->since;
    report->until = pass->until;
    CopyText(report->inputIdentity, sizeof(report->inputIdentity), pass->identity);
    report->entriesFound = data->entriesFound;
    report->updated = data->notesUpdated;
    report->unpublished = data->unpublished;
    report->counts = data->counts;
    report->status = status;
    report->failed = failed ? 1 : 0;
}

}  // namespace

STATUS DoReplication(CConfig* config, char* inputDB, char* outputPath, int* entriesFound,
                     int* notesUpdated, int incremental, PassReport* report) {
    if (config == 0 || inputDB == 0) return ERR_BAD_PARAM;
    PassResources pass;
    memset(&pass, 0, sizeof(pass));
    FillFromConfig(&pass.data, config, outputPath, incremental);
    CopyText(pass.inputPath, sizeof(pass.inputPath), inputDB);
    ReadInputIdentity(pass.inputPath, pass.identity);
    if (incremental && NeedsMigration(config, &pass)) {
        incremental = 0;
        pass.data.migration = 1;
    }
    pass.since = PassSinceTime(config, incremental);
    STATUS status = RunPass(&pass, entriesFound, notesUpdated);
    bool failed = PassFailed(&pass, status);
    status = ReleasePass(&pass, status);
    FillReport(&pass, status, failed, report);
    if (failed) ReportDamagedDatabases(config);
    return status;
}

int ReportDamagedDatabases(CConfig* config) {
    if (config == 0) return 0;
    char statusLine[CFG_TEXT_SIZE], names[2][CFG_TEXT_SIZE];
    config->GetStatusLine(statusLine);
    config->GetInputDB(names[0]);
    config->GetOutputDB(names[1]);
    int damaged = 0;
    for (char* name : names) {
        if (name[0] == '\0') continue;
        DBHANDLE hDB = NULLHANDLE;
        STATUS status = NSFDbOpenExtended(name, DBOPEN_FORCE_FIXUP, NULLHANDLE, 0, &hDB, 0, 0);
        if (status == NOERROR) NSFDbClose(hDB);
        if (ERR(status) != ERR_DB_CORRUPT && ERR(status) != ERR_NOT_NSF) continue;
        LogLine(status, "%s: Database %s failed its integrity check", statusLine, name);
        damaged++;
    }
    return damaged;
}

STATUS ListNotes(void* context, DWORD noteID) {
    VRD_THREAD_DATA* data = (VRD_THREAD_DATA*)context;
    if (data == 0 || data->noteList == 0) return NOERROR;
    CNoteInfo* info = new (std::nothrow) CNoteInfo(data->hInputDB, noteID);
    if (info == 0) {
        data->unpublished++;
        return NOERROR;
    }
    if (!ReadForListing(data, info, noteID)) {
        delete info;
        return NOERROR;
    }

    char modified[NOTEINFO_TEXT_SIZE];
    char military[NOTEINFO_TEXT_SIZE];
    char key[ENTITY_NAME_SIZE];
    info->ModifiedAsStr(modified);
    info->ConvertTimeDateStringToMilitary(modified, military);
    NOTEEVENT event = info->EventType(data->since);
    snprintf(key, sizeof(key), "%s:%d", military, (int)event);
    info->SetEntityName(key);

    int held = data->noteList->Count();
    if (data->migration && event != EVENT_ADD) {
        delete info;
        return NOERROR;
    }
    data->noteList->Add(info);
    if (data->noteList->Count() == held) {  // the list could not grow
        delete info;
        data->unpublished++;
    }
    return NOERROR;
}

void FreeArrayEntries(CEntityArray* list) {
    if (list == 0) return;
    for (long index = 0; index < list->Count(); ++index)
        delete (CNoteInfo*)list->Get(index);
}

STATUS ChangeDBTitle(DBHANDLE hDB) {
    char info[NSF_INFO_SIZE];
    memset(info, 0, sizeof(info));
    STATUS status = NSFDbInfoGet(hDB, info);
    if (status != NOERROR) return status;
    char title[NSF_INFO_SIZE];
    title[0] = '\0';
    NSFDbInfoParse(info, INFOPARSE_TITLE, title, sizeof(title) - 1);
    char newTitle[NSF_INFO_SIZE];
    snprintf(newTitle, sizeof(newTitle), "Filtered %s Updates", title);
    NSFDbInfoModify(info, INFOPARSE_TITLE, newTitle);
    return NSFDbInfoSet(hDB, info);
}
