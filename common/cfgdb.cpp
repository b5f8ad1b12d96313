// cfgdb.cpp - the configuration database: finding an instance's document,
// reading and writing its items one at a time, and loading or saving every
// item of a CConfig.
//
// Owned by the configuration subsystem. Each item read or write opens the
// database and the document and closes both again; the database handle lives
// in the CConfig only for that time. Memory blocks of the filter text read
// here are handed to the caller, which owns them from then on.
#include "cfgdb.h"

#include <stdint.h>
#include <string.h>

#include "config.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "osmem.h"
#include "ostime.h"
#include "tasktext.h"

namespace {

// Whole numbers of the document: truncated toward zero to an unsigned 32-bit
// value, negative numbers wrapping.
unsigned long WholeNumber(double number) {
    if (number != number) return 0;  // not a number
    if (number <= -2147483649.0 || number >= 4294967296.0) return 0;
    if (number < 0) return (uint32_t)(int32_t)number;
    return (uint32_t)number;
}

int IsValidIndex(int index) { return index >= 0 && index < CFG_END; }

const char* ItemName(int index) { return cfg_db_field[index].name; }

WORD NameLength(int index) { return (WORD)strlen(ItemName(index)); }

// The value of one item on its way between the object and the document.
struct CfgValue {
    char text[CFG_TEXT_SIZE];
    double number;
    TIMEDATE time;
    unsigned long handle;
};

// Where getCfgField/putCfgField find a value of the kind.
void* SlotOf(CfgValue* value, int kind) {
    switch (kind) {
    case CFG_KIND_TEXT: return value->text;
    case CFG_KIND_NUMBER: return &value->number;
    case CFG_KIND_TIME: return &value->time;
    default: return &value->handle;
    }
}

// Converts a long text item into a new NUL-terminated memory block for the
// record. A failed allocation is reported, never taken for an empty text.
STATUS ReadLongText(BLOCKID valueBlock, DWORD valueLength, tagPASS_DATA* data) {
    DHANDLE hText = NULLHANDLE;
    DWORD textLength = 0;
    STATUS status =
        ConvertItemToText(valueBlock, valueLength, "\n", 65535, &hText, &textLength, FALSE);
    if (status == NOERROR && textLength > 0 && hText != NULLHANDLE) {
        MEMHANDLE hBlock = NULLMEMHANDLE;
        status = OSMemoryAllocate(0, textLength + 1, &hBlock);
        char* source = status == NOERROR ? (char*)OSLockObject(hText) : 0;
        char* dest = source != 0 ? (char*)OSMemoryLock(hBlock) : 0;
        if (dest != 0) {
            memcpy(dest, source, textLength);
            dest[textLength] = '\0';
            OSMemoryUnlock(hBlock);
            data->textLength = textLength;
            data->handle = hBlock;
        } else if (hBlock != NULLMEMHANDLE) {
            OSMemoryFree(hBlock);
            if (status == NOERROR) status = ERR_MEMORY;
        }
        if (source != 0) OSUnlockObject(hText);
    }
    if (hText != NULLHANDLE) OSMemFree(hText);
    return status;
}

// Checks the record and opens the object's configuration document for its
// field; a failure to open is kept whole in the record and returned without
// its flag bits.
STATUS OpenInstanceNote(tagPASS_DATA* data, NOTEHANDLE* hNote) {
    if (data == 0 || data->config == 0) return CFGDB_NULL_ARG;
    if (!IsValidIndex(data->fieldIndex)) return CFGDB_MISSING;
    unsigned long noteID = 0;
    DBHANDLE hDB = NULLHANDLE;
    data->config->GetInstanceNoteID(&noteID);
    data->config->GetCfgDBHandle(&hDB);
    STATUS status = NSFNoteOpen(hDB, (NOTEID)noteID, 0, hNote);
    if (status == NOERROR) return NOERROR;
    data->status = status;
    return ERR(status);
}

STATUS WriteItem(NOTEHANDLE hNote, tagPASS_DATA* data) {
    const char* name = ItemName(data->fieldIndex);
    switch (cfg_db_field[data->fieldIndex].kind) {
    case CFG_KIND_TEXT:
        return NSFItemSetText(hNote, name, data->text, (WORD)strlen(data->text));
    case CFG_KIND_NUMBER: {
        NUMBER number = data->number;
        return NSFItemSetNumber(hNote, name, &number);
    }
    case CFG_KIND_TIME: {
        TIMEDATE time = data->time;
        return NSFItemSetTime(hNote, name, &time);
    }
    default: {
        if (data->handle == NULLMEMHANDLE) return NOERROR;
        const char* text = (const char*)OSMemoryLock(data->handle);
        if (text == 0) return ERR_INVALID_HANDLE;
        STATUS status = NSFItemSetText(hNote, name, text, MAXWORD);
        OSMemoryUnlock(data->handle);
        return status;
    }
    }
}

// The task's own writes are no reason for an auto-refresh: when the
// document had not changed since the object last loaded it, the load time
// moves on to this write. A change made by anyone else before the write
// still makes the document newer than the load time, to the hundredth of a
// second: an edit made within a second of the last load is loaded too.
void PassOwnWrite(CConfig* config, NOTEHANDLE hNote, const TIMEDATE* before) {
    TIMEDATE loaded;
    config->GetRefreshCfgTimeStamp(&loaded);
    if (TimeDateCompare(before, &loaded) > 0) return;
    TIMEDATE written;
    NSFNoteGetInfo(hNote, _NOTE_MODIFIED, &written);
    config->SetRefreshCfgTimeStamp(&written);
}

// The document's units come before its count: units that do not fit with
// the count in memory are taken with a count of 1 until the count follows.
void LoadScheduleUnits(CConfig* config, char* units) {
    if (config->SetScheduleUnits(units) != -3) return;
    config->SetScheduleInUnits(1);
    config->SetScheduleUnits(units);
}

// A count whose interval does not fit is refused, with its reason.
void LoadScheduleValue(CConfig* config, unsigned long count) {
    if (count == 0 || config->SetScheduleInUnits(count) == 0) return;
    char name[STATUS_LINE_SIZE], units[CFG_TEXT_SIZE];
    config->GetStatusLine(name);
    config->GetScheduleUnits(units);
    unsigned long kept = 0;
    config->GetScheduleInUnits(&kept);
    LogLine(NOERROR,
            "%s:  ScheduleValue_number %lu %s does not fit the longest interval; the schedule stays %lu %s",
            name, count, units, kept, units);
}

// Hands a value read from the document to the object.
void LoadItem(CConfig* config, int index, CfgValue* value) {
    int flag = value->number != 0;
    switch (index) {
    case CFG_INSTANCEID: config->SetInstanceName(value->text); break;
    case CFG_INPUTDB: config->SetInputDB(value->text); break;
    case CFG_OUTPUTDB: config->SetOutputDB(value->text); break;
    case CFG_LOOPDETECTID: config->SetLoopDetectID(value->text); break;
    case CFG_LOOPDETECT: config->SetLoopDetectFlag(flag); break;
    case CFG_DIRECTORYFLAG: config->SetDirectoryFlag(flag); break;
    case CFG_AUTOREFRESH: config->SetAutoRefreshFlag(flag); break;
    case CFG_SCHEDULEUNITS: LoadScheduleUnits(config, value->text); break;
    case CFG_SCHEDULEVALUE: LoadScheduleValue(config, WholeNumber(value->number)); break;
    case CFG_DNFORMAT: config->SetDNFormat(WholeNumber(value->number)); break;
    case CFG_CHECKATTRS: config->SetCheckAttrs(flag); break;
    case CFG_WRITETIMESTAMPS: config->SetWriteTimeStamps(flag); break;
    case CFG_TRACELEVEL: config->SetTrace(WholeNumber(value->number)); break;
    case CFG_LASTEVENT: config->SetLastReplicationTimeStamp(&value->time); break;
    case CFG_INPUTIDENTITY: config->SetInputIdentity(value->text); break;
    case CFG_PUBLISHERFILTER: config->SetPubFilter(value->handle); break;
    }
}

// Takes the object's value of an item for the document.
void SaveItem(CConfig* config, int index, CfgValue* value) {
    unsigned long number = 0;
    switch (index) {
    case CFG_INSTANCEID: config->GetInstanceName(value->text); return;
    case CFG_INPUTDB: config->GetInputDB(value->text); return;
    case CFG_OUTPUTDB: config->GetOutputDB(value->text); return;
    case CFG_LOOPDETECTID: config->GetLoopDetectID(value->text); return;
    case CFG_SCHEDULEUNITS: config->GetScheduleUnits(value->text); return;
    case CFG_LASTEVENT: config->GetLastReplicationTimeStamp(&value->time); return;
    case CFG_INPUTIDENTITY: config->GetInputIdentity(value->text); return;
    case CFG_PUBLISHERFILTER: config->GetPubFilter(&value->handle); return;
    case CFG_LOOPDETECT: number = config->DoLoopDetect() != 0; break;
    case CFG_DIRECTORYFLAG: number = config->IsDirectory() != 0; break;
    case CFG_AUTOREFRESH: number = config->GetAutoRefreshFlag() != 0; break;
    case CFG_SCHEDULEVALUE: config->GetScheduleInUnits(&number); break;
    case CFG_DNFORMAT: number = config->DNFormat(); break;
    case CFG_CHECKATTRS: number = config->CheckAttrs() != 0; break;
    case CFG_WRITETIMESTAMPS: number = config->WriteTimeStamps() != 0; break;
    case CFG_TRACELEVEL: number = config->Tracing(); break;
    }
    value->number = (double)number;
}

// Takes a value of the record's item kind into the record.
void FillValue(tagPASS_DATA* data, void* value) {
    switch (cfg_db_field[data->fieldIndex].kind) {
    case CFG_KIND_TEXT: CopyText(data->text, sizeof(data->text), (const char*)value); break;
    case CFG_KIND_NUMBER: data->number = *(double*)value; break;
    case CFG_KIND_TIME: data->time = *(TIMEDATE*)value; break;
    default: {
        data->handle = (MEMHANDLE)*(unsigned long*)value;
        const char* text = data->handle ? (const char*)OSMemoryLock(data->handle) : 0;
        if (text != 0) {
            data->textLength = strlen(text);
            OSMemoryUnlock(data->handle);
        }
        break;
    }
    }
}

// Timestamps are written only while only changed items are published.
void KeepTimeStampsRule(CConfig* config) {
    if (!config->CheckAttrs()) config->SetWriteTimeStamps(0);
}

}  // namespace

char* prepQueryString(char* dest, char* src) {
    if (dest == 0 || src == 0) return 0;
    EscapeFormulaText(dest, src);
    return dest;
}

STATUS openCfgDB(char* fileName, DBHANDLE* handle) {
    if (handle == 0 || fileName == 0) return CFGDB_NULL_ARG;
    if (*handle != NULLHANDLE) return NOERROR;
    return NSFDbOpen(fileName, handle);
}

STATUS closeCfgDB(DBHANDLE* handle) {
    if (handle == 0) return CFGDB_NULL_ARG;
    if (*handle == NULLHANDLE) return NOERROR;
    STATUS status = NSFDbClose(*handle);
    if (status == NOERROR) *handle = NULLHANDLE;
    return status;
}

STATUS findCfgDBInstance(char* instanceName, char* fileName, unsigned long* noteID,
                         TIMEDATE* modified) {
    if (instanceName == 0 || fileName == 0 || noteID == 0) return CFGDB_NULL_ARG;
    // No item text read through a CFG_TEXT_SIZE buffer can equal a longer name.
    if (strlen(instanceName) >= CFG_TEXT_SIZE) return NOERROR;

    DBHANDLE hDB = NULLHANDLE;
    STATUS status = openCfgDB(fileName, &hDB);
    if (status != NOERROR) return status;

    tagPASS_DATA data;
    memset(&data, 0, sizeof(data));
    data.fieldIndex = CFG_INSTANCEID;
    CopyText(data.text, sizeof(data.text), instanceName);
    data.dbHandle = &hDB;

    char escaped[2 * CFG_TEXT_SIZE];
    memset(escaped, 0, sizeof(escaped));
    prepQueryString(escaped, instanceName);
    char formula[sizeof(escaped) + sizeof(CFG_INSTANCE_FORMULA)];
    FormatText(formula, sizeof(formula), CFG_INSTANCE_FORMULA, escaped);

    FORMULAHANDLE hFormula = NULLHANDLE;
    WORD formulaLength = 0, line = 0, column = 0, offset = 0, errorLength = 0;
    STATUS compileError = NOERROR;
    status = NSFFormulaCompile(0, 0, formula, (WORD)strlen(formula), &hFormula, &formulaLength,
                               &compileError, &line, &column, &offset, &errorLength);
    if (status == NOERROR) {
        TIMEDATE until;
        status = NSFSearch(hDB, hFormula, 0, 0, NOTE_CLASS_DOCUMENT, 0, findInstanceNoteID, &data,
                           &until);
    }
    if (status == NOERROR && data.number != 0) {
        *noteID = (uint32_t)data.number;
        if (modified != 0) *modified = data.time;
    }
    if (hFormula != NULLHANDLE) OSMemFree(hFormula);
    closeCfgDB(&hDB);
    return status;
}

// Search routine: remembers the last selected document whose InstanceID_text
// equals the wanted name byte for byte.
STATUS findInstanceNoteID(void* parameter, SEARCH_MATCH* match, ITEM_TABLE* /*summary*/) {
    tagPASS_DATA* data = (tagPASS_DATA*)parameter;
    if (data == 0 || match == 0 || data->dbHandle == 0) return CFGDB_MISSING;
    SEARCH_MATCH found;
    memcpy(&found, match, sizeof(found));
    if (!(found.SERetFlags & SE_FMATCH)) return NOERROR;

    NOTEHANDLE hNote = NULLHANDLE;
    STATUS status = NSFNoteOpen(*data->dbHandle, found.ID.NoteID, 0, &hNote);
    if (status != NOERROR) return status;
    const char* item = ItemName(data->fieldIndex);
    if (NSFItemInfo(hNote, item, NameLength(data->fieldIndex), 0, 0, 0, 0) != NOERROR) {
        status = CFGDB_MISSING;
    } else {
        char text[CFG_TEXT_SIZE];
        memset(text, 0, sizeof(text));
        NSFItemGetText(hNote, item, text, sizeof(text));
        if (text[0] != '\0' && strcmp(text, data->text) == 0) {
            data->number = found.ID.NoteID;
            NSFNoteGetInfo(hNote, _NOTE_MODIFIED, &data->time);
        }
    }
    NSFNoteClose(hNote);
    return status;
}

STATUS getInstanceField(tagPASS_DATA* data) {
    NOTEHANDLE hNote = NULLHANDLE;
    STATUS status = OpenInstanceNote(data, &hNote);
    if (status != NOERROR) return status;

    const char* name = ItemName(data->fieldIndex);
    BLOCKID valueBlock;
    DWORD valueLength = 0;
    if (NSFItemInfo(hNote, name, NameLength(data->fieldIndex), 0, 0, &valueBlock, &valueLength) !=
        NOERROR) {
        data->status = CFGDB_MISSING;
        NSFNoteClose(hNote);
        return CFGDB_MISSING;
    }
    switch (cfg_db_field[data->fieldIndex].kind) {
    case CFG_KIND_TEXT: {
        char text[CFG_ITEM_TEXT_SIZE];
        memset(text, 0, sizeof(text));
        if (NSFItemGetText(hNote, name, text, sizeof(text)) > 0)
            CopyText(data->text, sizeof(data->text), text);
        break;
    }
    case CFG_KIND_NUMBER: {
        NUMBER number = 0;
        if (NSFItemGetNumber(hNote, name, &number)) data->number = number;
        break;
    }
    case CFG_KIND_TIME: {
        TIMEDATE time;
        if (NSFItemGetTime(hNote, name, &time)) data->time = time;
        break;
    }
    default:
        status = ReadLongText(valueBlock, valueLength, data);
        break;
    }
    NSFNoteClose(hNote);
    return status;
}

STATUS putInstanceField(tagPASS_DATA* data) { return putInstanceFields(data, 1); }

STATUS putInstanceFields(tagPASS_DATA* data, int count) {
    if (data == 0 || count < 1) return CFGDB_NULL_ARG;
    for (int i = 1; i < count; ++i)
        if (!IsValidIndex(data[i].fieldIndex)) return CFGDB_MISSING;
    NOTEHANDLE hNote = NULLHANDLE;
    STATUS status = OpenInstanceNote(data, &hNote);
    if (status != NOERROR) return status;
    TIMEDATE before;
    NSFNoteGetInfo(hNote, _NOTE_MODIFIED, &before);
    for (int i = 0; i < count && status == NOERROR; ++i) status = WriteItem(hNote, &data[i]);
    if (status == NOERROR) status = NSFNoteUpdate(hNote, UPDATE_FORCE | UPDATE_NOREVISION);
    if (status == NOERROR)
        PassOwnWrite(data->config, hNote, &before);
    else
        data->status = status;
    NSFNoteClose(hNote);
    return status;
}

// ---- CConfig's item reads and writes ----

STATUS CConfig::getCfgField(int index, void* value) {
    if (value == 0) return CFGDB_NULL_ARG;
    if (!IsValidIndex(index)) return CFGDB_MISSING;
    tagPASS_DATA data;
    memset(&data, 0, sizeof(data));
    data.fieldIndex = index;
    data.config = this;
    STATUS status = openCfgDB(m_szCfgDBName, &m_hCfgDB);
    if (status != NOERROR) return status;

    status = getInstanceField(&data);
    if (status == NOERROR) {
        switch (cfg_db_field[index].kind) {
        case CFG_KIND_TEXT: strcpy((char*)value, data.text); break;
        case CFG_KIND_NUMBER: *(double*)value = data.number; break;
        case CFG_KIND_TIME: *(TIMEDATE*)value = data.time; break;
        default: *(unsigned long*)value = data.handle; break;
        }
    }
    closeCfgDB(&m_hCfgDB);
    return status;
}

STATUS CConfig::getCfgField(int index, char* value) { return getCfgField(index, (void*)value); }

STATUS CConfig::getCfgField(int index, double* value) { return getCfgField(index, (void*)value); }

STATUS CConfig::getCfgField(int index, TIMEDATE* value) {
    return getCfgField(index, (void*)value);
}

STATUS CConfig::getCfgField(int index, unsigned long* value) {
    return getCfgField(index, (void*)value);
}

STATUS CConfig::putCfgField(int index, void* value) { return putCfgFields(1, &index, &value); }

STATUS CConfig::putCfgFields(int count, const int* indexes, void* const* values) {
    if (count < 1 || count > CFG_END || indexes == 0 || values == 0) return CFGDB_NULL_ARG;
    tagPASS_DATA data[CFG_END];
    memset(data, 0, sizeof(data));
    for (int i = 0; i < count; ++i) {
        if (values[i] == 0) return CFGDB_NULL_ARG;
        if (!IsValidIndex(indexes[i])) return CFGDB_MISSING;
        data[i].fieldIndex = indexes[i];
        data[i].config = this;
        FillValue(&data[i], values[i]);
    }
    STATUS status = openCfgDB(m_szCfgDBName, &m_hCfgDB);
    if (status != NOERROR) return status;
    status = putInstanceFields(data, count);
    closeCfgDB(&m_hCfgDB);
    return status;
}

STATUS CConfig::putCfgField(int index, char* value) { return putCfgField(index, (void*)value); }

STATUS CConfig::putCfgField(int index, double value) { return putCfgField(index, (void*)&value); }

STATUS CConfig::putCfgField(int index, TIMEDATE value) {
    return putCfgField(index, (void*)&value);
}

STATUS CConfig::putCfgField(int index, unsigned long value) {
    return putCfgField(index, (void*)&value);
}

// ---- Whole document ----

// Items that are absent or unreadable leave the object's value as it was.
// Returns the status of the last item, the publisher filter.
STATUS getAllCfgDBData(CConfig* config) {
    if (config == 0) return CFGDB_NULL_ARG;
    STATUS status = NOERROR;
    for (const CFG_DB_FIELD* entry = cfg_db_field; entry->index != CFG_END; ++entry) {
        CfgValue value;
        memset(&value, 0, sizeof(value));
        status = config->getCfgField(entry->index, SlotOf(&value, entry->kind));
        if (status == NOERROR) LoadItem(config, entry->index, &value);
    }
    KeepTimeStampsRule(config);
    return status;
}

// Writes every item; a failed write does not stop the others. Returns the
// first failure, so that a save that did not reach the document is never
// reported as done.
STATUS putAllCfgDBData(CConfig* config) {
    if (config == 0) return CFGDB_NULL_ARG;
    STATUS firstFailure = NOERROR;
    for (const CFG_DB_FIELD* entry = cfg_db_field; entry->index != CFG_END; ++entry) {
        CfgValue value;
        memset(&value, 0, sizeof(value));
        SaveItem(config, entry->index, &value);
        STATUS status = config->putCfgField(entry->index, SlotOf(&value, entry->kind));
        if (firstFailure == NOERROR) firstFailure = status;
    }
    KeepTimeStampsRule(config);
    return firstFailure;
}
