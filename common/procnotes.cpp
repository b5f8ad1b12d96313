// procnotes.cpp - note processing: the heart of a publication pass.
//
// ProcessNotes walks the pass's sorted note list. A deletion becomes an
// obituary; a live note is opened, checked for a change loop, given its
// object class, looked up in the filter and, when its class is published,
// turned into a change document (preceded by a rename document when its
// name changed); a modify none of whose published attributes changed writes
// nothing. No failure stops
// the walk: it ends the current note only. A change whose document (change,
// rename or obituary) could not be written, or whose note could not be
// read, is counted as unpublished, so that the pass keeps its interval for
// the next pass; only documents saved count as updated. Each note's handles
// and work buffer are released before the next note begins, so at most two
// notes and one buffer are held at a time; the buffer grows to hold the
// longest text entry of the attribute it serves. The pass's counts
// (documents by kind, notes passed over and why, notes done) feed the
// operator's view (passreport.h).
#include "procnotes.h"

#include <string.h>

#include "arrent.h"
#include "config.h"
#include "dnevents.h"
#include "entarray.h"
#include "filter.h"
#include "noteinfo.h"
#include "nsfnote.h"
#include "osmem.h"
#include "osmisc.h"
#include "ostime.h"
#include "passlog.h"
#include "taskstats.h"

namespace {

#define WORK_BUFFER_SIZE 8192
// A text entry is at most 65535 bytes long (its length is a WORD).
#define MAX_WORK_BUFFER_SIZE 65536
#define CLASS_NAME_SIZE 128
#define UPDATER_SIZE 256
#define NOTES_DN_SIZE 256
#define LISTNAME_SIZE 256
#define FILTER_NAME_SIZE 128
#define EVENT_WORD_SIZE 16

const WORD kDocumentUpdateFlags = UPDATE_FORCE | UPDATE_NOREVISION;
char kFullNameItem[] = "FullName";

// The working state of one note; it starts afresh for every note.
struct NoteWork {
    UNIVERSALNOTEID unid;
    char unidText[UNID_TEXT_SIZE];
    char eventWord[EVENT_WORD_SIZE];
    int isAdd;
    char modifiedText[NOTEINFO_TEXT_SIZE];
    TIMEDATE compareTime;
    NOTEHANDLE hSource;
    NOTEHANDLE hOutput;
    MEMHANDLE hBuffer;
    char* buffer;
    DWORD bufferSize;
    char cn[NOTEINFO_TEXT_SIZE];
    int loop;
    char className[CLASS_NAME_SIZE];
    int classFromForm;
    CFilterObject* object;
    int written;
};

long Trace(const VRD_THREAD_DATA* data) { return (long)data->traceLevel; }

// Event, texts and comparison time of the entry.
void BeginNote(VRD_THREAD_DATA* data, CNoteInfo* info, NoteWork* work) {
    memset(work, 0, sizeof(*work));
    info->GetUNID(&work->unid);
    info->UNIDAsStr(work->unidText);
    work->isAdd = info->EventType(data->since) == EVENT_ADD;
    info->EventStr(work->eventWord);
    info->ModifiedAsStr(work->modifiedText);
    TIMEDATE sequenceTime = info->SequenceTime();
    if (!data->migration && TimeDateCompare(&sequenceTime, &data->since) < 0)
        work->compareTime = sequenceTime;
    else
        work->compareTime = data->since;
    PassLog(Trace(data), TRACE_VERBOSE, "%s: Note %s changed on %s by a %s event\n",
            data->statusLine, work->unidText, work->modifiedText, work->eventWord);
}

// Counts a change whose document could not be written; returns status.
STATUS NotSaved(VRD_THREAD_DATA* data, STATUS status) {
    data->unpublished++;
    if (data->saveFailure == NOERROR) data->saveFailure = status;
    return status;
}

// Saves a change or obituary document; only a saved one counts as updated
// (and in the count of its kind), and a failure is logged with its cause.
STATUS SaveDocument(VRD_THREAD_DATA* data, NOTEHANDLE hDocument, const char* failure,
                    const char* unidText, int32_t* kindCount) {
    STATUS status = NSFNoteUpdate(hDocument, kDocumentUpdateFlags);
    if (status == NOERROR) {
        data->notesUpdated++;
        (*kindCount)++;
        return NOERROR;
    }
    PassLogStatus(Trace(data), TRACE_VERBOSE, status, failure, data->statusLine, unidText);
    return NotSaved(data, status);
}

// The obituary's note with its two items, not yet saved.
STATUS ComposeObituary(VRD_THREAD_DATA* data, NoteWork* work) {
    STATUS status = NSFNoteCreate(data->hOutputDB, &work->hOutput);
    if (status != NOERROR) {
        work->hOutput = NULLHANDLE;
        PassLog(Trace(data), TRACE_VERBOSE, "%s: Failed to create output obituary for Note %s\n",
                data->statusLine, work->unidText);
        return status;
    }
    status = NSFItemSetText(work->hOutput, "Source Note ID", work->unidText, MAXWORD);
    if (status != NOERROR) {
        PassLog(Trace(data), TRACE_VERBOSE,
                "%s: Failed to write Source Note ID obituary for Note %s\n", data->statusLine,
                work->unidText);
        return status;
    }
    status = NSFItemSetText(work->hOutput, "Event", work->eventWord, MAXWORD);
    if (status != NOERROR)
        PassLog(Trace(data), TRACE_VERBOSE, "%s: Failed to write Event for obituary for Note %s\n",
                data->statusLine, work->unidText);
    return status;
}

STATUS WriteObituary(VRD_THREAD_DATA* data, NoteWork* work) {
    STATUS status = ComposeObituary(data, work);
    if (status != NOERROR) return NotSaved(data, status);
    return SaveDocument(data, work->hOutput, "%s: Failed to save obituary for Note %s", work->unidText,
                        &data->counts.deleted);
}

// One work buffer of size bytes, locked; only one at a time.
STATUS AllocWorkBuffer(VRD_THREAD_DATA* data, NoteWork* work, DWORD size = WORK_BUFFER_SIZE) {
    work->bufferSize = size;
    STATUS status = OSMemoryAllocate(0, size, &work->hBuffer);
    if (status == NOERROR && work->hBuffer == NULLMEMHANDLE) status = ERR_MEMORY;
    if (status != NOERROR) {
        work->hBuffer = NULLMEMHANDLE;
        if (ERR(status) == ERR_MEMORY)
            PassLog(Trace(data), 0, "%s: Error allocating memory from OS", data->statusLine);
        return status;
    }
    work->buffer = (char*)OSMemoryLock(work->hBuffer);
    if (work->buffer == 0) return ERR_MEMORY;
    work->buffer[0] = '\0';
    return NOERROR;
}

void FreeWorkBuffer(NoteWork* work) {
    if (work->hBuffer == NULLMEMHANDLE) return;
    if (work->buffer != 0) OSMemoryUnlock(work->hBuffer);
    OSMemoryFree(work->hBuffer);
    work->hBuffer = NULLMEMHANDLE;
    work->buffer = 0;
}

void ReadCommonName(NoteWork* work) {
    char fullDN[NOTEINFO_TEXT_SIZE], containers[NOTEINFO_TEXT_SIZE];
    work->cn[0] = '\0';
    GetDNComponents(work->hSource, fullDN, containers, work->cn);
}

// The last $UpdatedBy entry in the work buffer; its length.
WORD ReadLastUpdater(NoteWork* work) {
    static const char kUpdatedBy[] = "$UpdatedBy";
    WORD count = NSFItemGetTextListEntries(work->hSource, kUpdatedBy);
    WORD length;
    if (count >= 1)
        length = NSFItemGetTextListEntry(work->hSource, kUpdatedBy, (WORD)(count - 1),
                                         work->buffer, (WORD)(work->bufferSize - 1));
    else
        length = NSFItemGetText(work->hSource, kUpdatedBy, work->buffer, (WORD)work->bufferSize);
    if (length > work->bufferSize - 1) length = (WORD)(work->bufferSize - 1);
    work->buffer[length] = '\0';
    return length;
}

// Sets the loop flag when the note was last updated by the loop-detect ID,
// compared in lower case.
void DetectLoop(VRD_THREAD_DATA* data, NoteWork* work) {
    PassLog(Trace(data), TRACE_VERBOSE, "%s: Checking for a loop condition on Note %s (%s)\n",
            data->statusLine, work->cn, work->unidText);
    PassLog(Trace(data), TRACE_VERBOSE, "%s: Loop Detect ID is %s\n", data->statusLine,
            data->loopDetectID);
    if (ReadLastUpdater(work) == 0) {
        PassLog(Trace(data), TRACE_NORMAL, "%s: Unable to read $UpdatedBy for Note %s (%s)\n",
                data->statusLine, work->cn, work->unidText);
        return;
    }
    char updater[UPDATER_SIZE];
    strncpy(updater, work->buffer, sizeof(updater) - 1);
    updater[sizeof(updater) - 1] = '\0';
    strlower(updater);
    strlower(data->loopDetectID);
    PassLog(Trace(data), TRACE_VERBOSE, "%s: Note %s (%s) was updated by %s\n", data->statusLine,
            work->cn, work->unidText, updater);
    work->loop = strcmp(updater, data->loopDetectID) == 0;
    PassLog(Trace(data), TRACE_VERBOSE,
            work->loop ? "%s: A loop has been detected for Note %s (%s)\n"
                       : "%s: No loop exists for Note %s (%s)\n",
            data->statusLine, work->cn, work->unidText);
}

// The class from "Type", or outside a directory from "Form"; 1 when found.
int DetermineClass(VRD_THREAD_DATA* data, NoteWork* work) {
    PassLog(Trace(data), TRACE_VERBOSE, "%s: Beginning Class determination for Note %s (%s)\n",
            data->statusLine, work->cn, work->unidText);
    WORD length = NSFItemGetText(work->hSource, "Type", work->className, CLASS_NAME_SIZE);
    if (length == 0 && !data->isDirectory) {
        length = NSFItemGetText(work->hSource, "Form", work->className, CLASS_NAME_SIZE);
        work->classFromForm = length != 0;
    }
    if (length == 0) {
        work->className[0] = '\0';
        PassLog(Trace(data), TRACE_VERBOSE,
                "%s: Note %s (%s) will be skipped because its class can't be determined\n",
                data->statusLine, work->cn, work->unidText);
        return 0;
    }
    PassLog(Trace(data), TRACE_VERBOSE,
            work->classFromForm
                ? "%s: The FORM item was used to determine Note %s (%s) is of type %s\n"
                : "%s: The TYPE item was used to determine Note %s (%s) is of type %s\n",
            data->statusLine, work->cn, work->unidText, work->className);
    return 1;
}

// A stamp from an earlier pass replaces the comparison time.
void ApplyProcessedStamp(VRD_THREAD_DATA* data, NoteWork* work) {
    PassLog(Trace(data), TRACE_VERBOSE, "%s: Checking for $ZELREPLastProcessedTime on Note %s (%s)\n",
            data->statusLine, work->cn, work->unidText);
    TIMEDATE stamp;
    char timeText[NOTEINFO_TEXT_SIZE];
    if (GetZELREPLastProcessedTime(work->hSource, &stamp, Trace(data))) {
        work->compareTime = stamp;
        GetTimeDateString(&work->compareTime, timeText);
        PassLog(Trace(data), TRACE_VERBOSE, "%s: Found $ZELREPLastProcessedTime of %s on Note %s (%s)\n",
                data->statusLine, timeText, work->cn, work->unidText);
    } else {
        GetTimeDateString(&work->compareTime, timeText);
        PassLog(Trace(data), TRACE_VERBOSE,
                "%s: $ZELREPLastProcessedTime not found on Note %s (%s) -- Using Sequence Time %s\n",
                data->statusLine, work->cn, work->unidText, timeText);
    }
}

STATUS WriteNotesDNItem(VRD_THREAD_DATA* data, NoteWork* work, const char* dn) {
    STATUS status = NSFItemSetText(work->hOutput, "NotesDN", dn, MAXWORD);
    if (status != NOERROR)
        PassLog(Trace(data), TRACE_NORMAL, "%s: Error writing NotesDN for Note %s\n",
                data->statusLine, work->unidText);
    return status;
}

// "NotesDN": the formatted DN, or a Group's ListName; absent when neither
// is found. A failed write ends the note.
STATUS WriteNotesDN(VRD_THREAD_DATA* data, NoteWork* work) {
    char notesDN[NOTES_DN_SIZE];
    notesDN[0] = '\0';
    if (GetNotesDN(work->hSource, (WORD)data->dnFormat, notesDN, sizeof(notesDN)) != 0) {
        PassLog(Trace(data), TRACE_VERBOSE, "%s: Found NotesDN %s for Note %s (%s)\n",
                data->statusLine, notesDN, work->cn, work->unidText);
        return WriteNotesDNItem(data, work, notesDN);
    }
    PassLog(Trace(data), TRACE_NORMAL,
            "%s: An error occurred reading the Notes DN for Note %s (%s), checking Group case\n",
            data->statusLine, work->cn, work->unidText);
    if (strcmp(work->className, "Group") != 0) {
        PassLog(Trace(data), TRACE_NORMAL, "%s: Error reading NotesDN for class %s",
                data->statusLine, work->className);
        return NOERROR;
    }
    char listName[LISTNAME_SIZE];
    if (NSFItemGetText(work->hSource, "ListName", listName, sizeof(listName)) == 0) {
        PassLog(Trace(data), TRACE_NORMAL, "%s: Error reading Group ListName", data->statusLine);
        return NOERROR;
    }
    return WriteNotesDNItem(data, work, listName);
}

// A changed "FullName" of a directory note on a modify is a rename or move:
// its rename document replaces the change document's "NotesDN".
STATUS WriteNameItems(VRD_THREAD_DATA* data, NoteWork* work) {
    if (data->isDirectory && !work->isAdd &&
        IsItemChanged(work->hSource, kFullNameItem, &work->compareTime, Trace(data))) {
        PassLog(Trace(data), TRACE_VERBOSE, "%s: Detected rename/move condition for Note %s (%s)\n",
                data->statusLine, work->cn, work->unidText);
        STATUS status = OutputRenameMoveEvent(work->hSource, data, work->className,
                                              work->unidText, work->unid);
        if (status != NOERROR) NotSaved(data, status);
        return NOERROR;
    }
    return WriteNotesDN(data, work);
}

STATUS WriteHeader(VRD_THREAD_DATA* data, NoteWork* work) {
    const struct {
        const char* item;
        const char* value;
        const char* failure;
    } header[] = {
        {"Type", work->className, "%s: Error writing TYPE for Note %s\n"},
        {"Source Note ID", work->unidText, "%s: Error writing Source Note ID for Note %s\n"},
        {"Event", work->eventWord, "%s: Error writing Event for Note %s\n"},
    };
    for (size_t i = 0; i < sizeof(header) / sizeof(header[0]); ++i) {
        STATUS status = NSFItemSetText(work->hOutput, header[i].item, header[i].value, MAXWORD);
        if (status != NOERROR) {
            PassLog(Trace(data), TRACE_NORMAL, header[i].failure, data->statusLine,
                    work->unidText);
            return status;
        }
    }
    return NOERROR;
}

// A text entry too long for a list (a text of nearly 64 KB) goes whole into
// a text item instead.
STATUS AppendEntry(NoteWork* work, char* attr, WORD length, WORD count) {
    STATUS status = NSFItemAppendTextList(work->hOutput, attr, work->buffer, length, TRUE);
    if (ERR(status) == ERR_TEXT_LIST_TOO_BIG && count == 1)
        status = NSFItemSetText(work->hOutput, attr, work->buffer, length);
    return status;
}

// The work buffer for the entries of a text value of valueLength bytes:
// the usual size, or as large as the longest entry may be.
DWORD TextBufferSize(DWORD valueLength) {
    DWORD size = valueLength + 1;
    if (size < WORK_BUFFER_SIZE) return WORK_BUFFER_SIZE;
    return size > MAX_WORK_BUFFER_SIZE ? MAX_WORK_BUFFER_SIZE : size;
}

// Copies the text entries whole; on an add, empty entries are left out, and
// an attribute without entries on any other event is written as cleared.
STATUS PublishText(VRD_THREAD_DATA* data, NoteWork* work, char* attr, DWORD valueLength) {
    PassLog(Trace(data), TRACE_VERBOSE, "%s: Processing %s on Note %s as a Text item\n",
            data->statusLine, attr, work->unidText);
    WORD count = NSFItemGetTextListEntries(work->hSource, attr);
    if (!work->isAdd && count == 0) {
        NSFItemSetText(work->hOutput, attr, "", 0);
        work->written = 1;
        return NOERROR;
    }
    STATUS status = AllocWorkBuffer(data, work, TextBufferSize(valueLength));
    if (status != NOERROR) return status;
    WORD room = (WORD)(work->bufferSize - 1);
    for (WORD index = 0; index < count && status == NOERROR; ++index) {
        WORD length = NSFItemGetTextListEntry(work->hSource, attr, index, work->buffer, room);
        if (length > room) length = room;
        if (length == 0 && work->isAdd) {
            PassLog(Trace(data), TRACE_VERBOSE,
                    "%s: detected attribute (%s) with no value on Add event, skipping attribute.",
                    data->statusLine, attr);
            continue;
        }
        status = AppendEntry(work, attr, length, count);
        if (status == NOERROR) work->written = 1;
    }
    FreeWorkBuffer(work);
    return status;
}

STATUS PublishNumber(VRD_THREAD_DATA* data, NoteWork* work, char* attr) {
    PassLog(Trace(data), TRACE_VERBOSE, "%s: Processing %s on Note %s as a Numeric item\n",
            data->statusLine, attr, work->unidText);
    NUMBER number;
    if (!NSFItemGetNumber(work->hSource, attr, &number)) return NOERROR;
    STATUS status = NSFItemSetNumber(work->hOutput, attr, &number);
    if (status == NOERROR) work->written = 1;
    return status;
}

STATUS PublishTime(VRD_THREAD_DATA* data, NoteWork* work, char* attr) {
    PassLog(Trace(data), TRACE_VERBOSE, "%s: Processing %s on Note %s as a DATETIME item\n",
            data->statusLine, attr, work->unidText);
    TIMEDATE time;
    if (!NSFItemGetTime(work->hSource, attr, &time)) return NOERROR;
    STATUS status = NSFItemSetTime(work->hOutput, attr, &time);
    if (status == NOERROR) work->written = 1;
    return status;
}

// True when the attribute goes on to be published.
bool AttributeQualifies(VRD_THREAD_DATA* data, NoteWork* work, char* attr) {
    if (!data->checkAttrs)
        PassLog(Trace(data), TRACE_VERBOSE, "%s: Checking %s on Note %s for updates\n",
                data->statusLine, attr, work->unidText);
    if (!data->migration && data->checkAttrs && !work->isAdd &&
        !IsItemChanged(work->hSource, attr, &work->compareTime, Trace(data)))
        return false;
    if (strcmp(attr, work->className) == 0) return false;
    if (data->checkAttrs)
        PassLog(Trace(data), TRACE_VERBOSE, "%s: Attribute %s on Note %s has changed\n",
                data->statusLine, attr, work->unidText);
    return true;
}

// Publishes one attribute by the type of the source item; a failed write
// ends the note.
STATUS PublishAttribute(VRD_THREAD_DATA* data, NoteWork* work, char* attr) {
    if (!AttributeQualifies(data, work, attr)) return NOERROR;
    WORD type = TYPE_INVALID_OR_UNKNOWN;
    BLOCKID itemBlock, valueBlock;
    DWORD valueLength = 0;
    if (NSFItemInfo(work->hSource, attr, (WORD)strlen(attr), &itemBlock, &type, &valueBlock,
                    &valueLength) != NOERROR) {
        PassLog(Trace(data), TRACE_VERBOSE, "%s: Item %s on Note %s is not present, skipping\n",
                data->statusLine, attr, work->unidText);
        return NOERROR;
    }
    switch (type) {
        case TYPE_TEXT:
        case TYPE_TEXT_LIST:
            return PublishText(data, work, attr, valueLength);
        case TYPE_NUMBER:
        case TYPE_NUMBER_RANGE:
            return PublishNumber(data, work, attr);
        case TYPE_TIME:
        case TYPE_TIME_RANGE:
            return PublishTime(data, work, attr);
        default:
            PassLog(Trace(data), TRACE_VERBOSE,
                    "%s: Item %s on Note %s is an unsupported type, skipping\n", data->statusLine,
                    attr, work->unidText);
            return NOERROR;
    }
}

STATUS PublishAttributes(VRD_THREAD_DATA* data, NoteWork* work) {
    PassLog(Trace(data), TRACE_NORMAL,
            data->checkAttrs ? "%s: Processing attributes for Note %s\n"
                             : "%s: Publishing all attributes for Note %s\n",
            data->statusLine, work->unidText);
    char attr[FILTER_NAME_SIZE], attrType[FILTER_NAME_SIZE];
    int more = work->object->GetFirstAttr(attr, attrType);
    while (more) {
        STATUS status = PublishAttribute(data, work, attr);
        if (status != NOERROR) return status;
        more = work->object->GetNextAttr(attr, attrType);
    }
    return NOERROR;
}

// Stamps the source note as processed (saved without a commit of its own).
STATUS StampSource(VRD_THREAD_DATA* data, NoteWork* work) {
    STATUS status = SetZELREPLastProcessedTime(work->hSource, Trace(data))
                        ? NSFNoteUpdate(work->hSource, UPDATE_NOCOMMIT)
                        : (STATUS)ERR_BAD_PARAM;
    if (status != NOERROR)
        PassLog(Trace(data), TRACE_VERBOSE, "%s: Error saving timestamp for Note %s\n",
                data->statusLine, work->unidText);
    return status;
}

// Saves the change document when an attribute was written, then stamps the
// source note when asked to. An add is saved even without attribute values:
// the object exists and its reader must learn of it.
STATUS SaveChange(VRD_THREAD_DATA* data, NoteWork* work) {
    if (!work->written && !work->isAdd) return NOERROR;
    int32_t* kindCount = work->isAdd ? &data->counts.added : &data->counts.modified;
    STATUS status =
        SaveDocument(data, work->hOutput, "%s: Error saving update for Note %s", work->unidText, kindCount);
    if (status != NOERROR) return status;
    status = NSFNoteClose(work->hOutput);
    work->hOutput = NULLHANDLE;
    if (!data->writeTimeStamps) return status;
    return StampSource(data, work);
}

// True for the answers of a note that is no longer there: deleted (or
// purged) after the table was taken. Its deletion, if any, is listed by
// the next pass.
bool IsGone(STATUS status) {
    return ERR(status) == ERR_NOTE_DELETED || ERR(status) == ERR_NOT_FOUND || ERR(status) == ERR_INVALID_NOTE;
}

// Opens the source note and reads its name, loop state and class. A note
// that is there but cannot be read (a damaged page, an I/O error) keeps
// the pass's interval.
STATUS ExamineSource(VRD_THREAD_DATA* data, NoteWork* work) {
    STATUS status = NSFNoteOpenByUNID(data->hInputDB, &work->unid, 0, &work->hSource);
    if (status != NOERROR) {
        work->hSource = NULLHANDLE;
        if (IsGone(status)) {
            PassLog(Trace(data), TRACE_NORMAL, "%s: Note %s to be processed has been deleted\n",
                    data->statusLine, work->unidText);
            return status;
        }
        PassLogStatus(Trace(data), TRACE_NORMAL, status,
                      "%s: Note %s could not be read; the next pass publishes its change again",
                      data->statusLine, work->unidText);
        return CountNotRead(data, status);
    }
    status = AllocWorkBuffer(data, work);
    if (status != NOERROR) return NotSaved(data, status);
    ReadCommonName(work);
    if (data->loopDetect) DetectLoop(data, work);
    FreeWorkBuffer(work);
    return NOERROR;
}

// True when the note is to be published: no loop, a class, in the filter.
bool SelectNote(VRD_THREAD_DATA* data, NoteWork* work) {
    int classFound = DetermineClass(data, work);
    if (work->loop) {
        PassLog(Trace(data), TRACE_VERBOSE, "%s: Note %s (%s) was skipped by loop detection\n",
                data->statusLine, work->cn, work->unidText);
        data->counts.skippedLoop++;
        return false;
    }
    if (!classFound) {
        PassLog(Trace(data), TRACE_VERBOSE,
                "%s: Note %s was skipped because ZELREP couldn't determine object class\n",
                data->statusLine, work->unidText);
        data->counts.skippedClass++;
        return false;
    }
    PassLog(Trace(data), TRACE_VERBOSE, "%s: Searching filter for Class %s on Note %s (%s)\n",
            data->statusLine, work->className, work->cn, work->unidText);
    if (!data->pFilter->HasObject(work->className, &work->object)) {
        PassLog(Trace(data), TRACE_VERBOSE,
                "%s: Note %s was skipped because class %s isn't in the filter\n",
                data->statusLine, work->unidText, work->className);
        data->counts.skippedFilter++;
        return false;
    }
    return true;
}

STATUS BuildChangeDocument(VRD_THREAD_DATA* data, NoteWork* work) {
    STATUS status = NSFNoteCreate(data->hOutputDB, &work->hOutput);
    if (status != NOERROR) {
        work->hOutput = NULLHANDLE;
        PassLogStatus(Trace(data), TRACE_NORMAL, status, "%s: Failed to create output note for Note %s",
                      data->statusLine, work->unidText);
        return NotSaved(data, status);
    }
    PassLog(Trace(data), TRACE_VERBOSE,
            "%s: Class %s found in filter.  Processing header attributes on Note %s (%s)\n",
            data->statusLine, work->className, work->cn, work->unidText);
    if (data->writeTimeStamps && !data->migration) ApplyProcessedStamp(data, work);
    status = WriteNameItems(data, work);
    if (status == NOERROR) status = WriteHeader(data, work);
    if (status == NOERROR) status = PublishAttributes(data, work);
    if (status != NOERROR) return NotSaved(data, status);
    return SaveChange(data, work);
}

STATUS ProcessLiveNote(VRD_THREAD_DATA* data, NoteWork* work) {
    STATUS status = ExamineSource(data, work);
    if (status != NOERROR) return status;
    if (!SelectNote(data, work)) return NOERROR;
    return BuildChangeDocument(data, work);
}

// Releases what the note still holds; an output note still open was not
// saved and is discarded.
STATUS EndNote(NoteWork* work, STATUS status) {
    FreeWorkBuffer(work);
    if (work->hSource != NULLHANDLE) {
        STATUS closed = NSFNoteClose(work->hSource);
        if (closed != NOERROR) status = closed;
        work->hSource = NULLHANDLE;
    }
    if (work->hOutput != NULLHANDLE) {
        STATUS closed = NSFNoteClose(work->hOutput);
        if (closed != NOERROR) status = closed;
        work->hOutput = NULLHANDLE;
    }
    return status;
}

// Tells, at the verbose level, why an item's modified time was not read.
void LogErrorText(const char* itemName, STATUS status, long traceLevel) {
    if (traceLevel < TRACE_VERBOSE) return;
    char errorText[256];
    WORD length = OSLoadString(NULLHANDLE, ERR(status), errorText, sizeof(errorText) - 1);
    errorText[length < sizeof(errorText) ? length : sizeof(errorText) - 1] = '\0';
    PassLog(traceLevel, TRACE_VERBOSE, "ZelRep: Failed to get Modified time for %s.  Error: %s\n",
            itemName, errorText);
}

}  // namespace

STATUS CountNotRead(VRD_THREAD_DATA* data, STATUS status) {
    data->unpublished++;
    data->unread++;
    if (data->readFailure == NOERROR) data->readFailure = status;
    return status;
}

STATUS ProcessNotes(VRD_THREAD_DATA* data) {
    if (data == 0 || data->noteList == 0 || data->pFilter == 0) return NOERROR;
    STATUS status = NOERROR;
    NoteWork work;
    for (long index = 0; index < data->noteList->Count(); ++index) {
        CNoteInfo* info = (CNoteInfo*)data->noteList->Get(index);
        if (info == 0) continue;
        BeginNote(data, info, &work);
        status = info->IsDeleted() ? WriteObituary(data, &work) : ProcessLiveNote(data, &work);
        status = EndNote(&work, status);
        data->counts.done = (int32_t)(index + 1);
        TaskStatsProgress(&data->counts);
    }
    return ERR(status);
}

// ---- Item change tests and the processed stamp ----

int IsItemChanged(NOTEHANDLE hNote, char* itemName, TIMEDATE* time, long traceLevel) {
    if (itemName == 0 || time == 0) return 0;
    TIMEDATE modified;
    memset(&modified, 0, sizeof(modified));
    STATUS status = NSFItemGetModifiedTime(hNote, itemName, MAXWORD, 0, &modified);
    if (status != NOERROR) {
        LogErrorText(itemName, status, traceLevel);
        return 0;
    }
    int order = TimeDateCompare(&modified, time);
    if (traceLevel >= TRACE_VERBOSE) {
        char modifiedText[NOTEINFO_TEXT_SIZE], savedText[NOTEINFO_TEXT_SIZE];
        GetTimeDateString(&modified, modifiedText);
        GetTimeDateString(time, savedText);
        PassLog(traceLevel, TRACE_VERBOSE, "ZelRep: %s Last Modified Time/Date = %s\n", itemName,
                modifiedText);
        PassLog(traceLevel, TRACE_VERBOSE, "ZelRep: Saved Timestamp = %s\n", savedText);
    }
    return order > 0 ? 1 : 0;
}

int GetZELREPLastProcessedTime(NOTEHANDLE hNote, TIMEDATE* time, long) {
    if (time == 0) return 0;
    if (NSFItemInfo(hNote, LAST_PROCESSED_ITEM, (WORD)strlen(LAST_PROCESSED_ITEM), 0, 0, 0, 0) !=
        NOERROR)
        return 0;
    memset(time, 0, sizeof(*time));
    NSFItemGetModifiedTime(hNote, LAST_PROCESSED_ITEM, (WORD)strlen(LAST_PROCESSED_ITEM), 0, time);
    return (time->Innards[0] != 0 || time->Innards[1] != 0) ? 1 : 0;
}

int SetZELREPLastProcessedTime(NOTEHANDLE hNote, long) {
    TIMEDATE now;
    OSCurrentTIMEDATE(&now);
    return NSFItemSetTime(hNote, LAST_PROCESSED_ITEM, &now) == NOERROR ? 1 : 0;
}
