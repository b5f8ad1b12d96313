// nsfnote.cpp - the note calls: open, create, update, delete, close, and
// the note's header information.
#include <cstring>

#include "note.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "ostime.h"
#include "status.h"
#include "timeutil.h"

using namespace nrt;

namespace {

Store* StoreOf(DBHANDLE hDB) {
    Database* database = Databases().Get(hDB);
    return database ? database->store.get() : nullptr;
}

// Opens the note that key (a note ID or a UNID) names.
template <typename Key>
STATUS OpenNote(DBHANDLE hDB, const Key& key, NOTEHANDLE* rethNote, const char* call) {
    if (rethNote == nullptr) return Fail(ERR_BAD_PARAM, std::string(call) + " without a handle pointer");
    *rethNote = NULLHANDLE;
    Store* store = StoreOf(hDB);
    if (store == nullptr) return Fail(ERR_INVALID_HANDLE, std::string(call) + " database handle");
    std::unique_ptr<Note> note;
    STATUS status = LoadNote(hDB, *store, key, &note);
    if (status == NOERROR) *rethNote = Notes().Add(std::move(note));
    return status;
}

TIMEDATE TimeOrClear(int64_t ticks) {
    TIMEDATE td{};
    if (ticks > 0) td = TimedateFromTicks(ticks);
    return td;
}

ORIGINATORID OidOf(const NoteRow& row) {
    ORIGINATORID oid;
    oid.File = row.unid.File;
    oid.Note = row.unid.Note;
    oid.Sequence = row.sequence;
    oid.SequenceTime = TimeOrClear(row.sequenceTicks);
    return oid;
}

template <typename T>
void Put(void* out, const T& value) {
    std::memcpy(out, &value, sizeof(T));
}

}  // namespace

extern "C" {

STATUS LNPUBLIC NSFNoteOpen(DBHANDLE hDB, NOTEID noteID, WORD /*openFlags*/, NOTEHANDLE* rethNote) {
    return Guarded<STATUS>(ERR_MEMORY,
                           [&]() -> STATUS { return OpenNote(hDB, noteID, rethNote, "NSFNoteOpen"); });
}

STATUS LNPUBLIC NSFNoteOpenByUNID(DBHANDLE hDB, UNIVERSALNOTEID* unid, WORD /*openFlags*/,
                                  NOTEHANDLE* rethNote) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        if (unid == nullptr) {
            if (rethNote != nullptr) *rethNote = NULLHANDLE;
            return Fail(ERR_BAD_PARAM, "NSFNoteOpenByUNID without a UNID");
        }
        return OpenNote(hDB, *unid, rethNote, "NSFNoteOpenByUNID");
    });
}

STATUS LNPUBLIC NSFNoteCreate(DBHANDLE hDB, NOTEHANDLE* rethNote) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        if (rethNote == nullptr) return Fail(ERR_BAD_PARAM, "NSFNoteCreate without a handle pointer");
        *rethNote = NULLHANDLE;
        if (StoreOf(hDB) == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFNoteCreate database handle");
        *rethNote = Notes().Add(NewNote(hDB));
        return NOERROR;
    });
}

STATUS LNPUBLIC NSFNoteUpdate(NOTEHANDLE hNote, WORD updateFlags) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Note* note = Notes().Get(hNote);
        if (note == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFNoteUpdate note handle");
        Store* store = StoreOf(note->db);
        if (store == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFNoteUpdate: database closed");
        return SaveNote(*store, note, updateFlags);
    });
}

STATUS LNPUBLIC NSFNoteDelete(DBHANDLE hDB, NOTEID noteID, WORD updateFlags) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Store* store = StoreOf(hDB);
        if (store == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFNoteDelete database handle");
        return DeleteNote(*store, noteID, updateFlags);
    });
}

STATUS LNPUBLIC NSFNoteClose(NOTEHANDLE hNote) {
    if (Notes().Remove(hNote) == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFNoteClose note handle");
    return NOERROR;
}

void LNPUBLIC NSFNoteGetInfo(NOTEHANDLE hNote, WORD member, void* valuePtr) {
    Note* note = Notes().Get(hNote);
    if (note == nullptr || valuePtr == nullptr) return;
    const NoteRow& row = note->row;
    switch (member) {
        case _NOTE_DB: Put(valuePtr, note->db); break;
        case _NOTE_ID: Put(valuePtr, row.id); break;
        case _NOTE_OID: Put(valuePtr, OidOf(row)); break;
        case _NOTE_CLASS: Put(valuePtr, row.noteClass); break;
        case _NOTE_MODIFIED:
        case _NOTE_ACCESSED: Put(valuePtr, TimeOrClear(row.sequenceTicks)); break;
        case _NOTE_FLAGS: Put(valuePtr, (WORD)0); break;
        case _NOTE_PARENT_NOTEID: Put(valuePtr, (NOTEID)0); break;
        case _NOTE_ADDED_TO_FILE: Put(valuePtr, row.unid.Note); break;
        default: break;
    }
}

void LNPUBLIC NSFNoteSetInfo(NOTEHANDLE hNote, WORD member, void* valuePtr) {
    Note* note = Notes().Get(hNote);
    if (note == nullptr || valuePtr == nullptr) return;
    if (member == _NOTE_CLASS) std::memcpy(&note->row.noteClass, valuePtr, sizeof(WORD));
}

}  // extern "C"
