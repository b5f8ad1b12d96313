// nsfsearch.cpp - NSFSearch: walks the notes of a database, selects them
// with a compiled formula (formula.h) and calls the caller's routine.
//
// The notes to visit are listed from one snapshot; each note's items are
// read when the routine is about to see it, so the routine may open,
// change or delete notes of the same database while the search runs.
#include "fault.h"
#include "formula.h"
#include "note.h"
#include "nrt_fault.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "nsfsearch.h"
#include "ostime.h"
#include "status.h"
#include "timeutil.h"

using namespace nrt;

namespace {

class StoredItemSource : public ItemSource {
public:
    explicit StoredItemSource(const std::vector<StoredItem>& items) : items_(items) {}
    bool FindItem(const std::string& name, WORD* type, std::string* data) const override {
        for (const StoredItem& item : items_) {
            if (!SameItemName(item.name, name)) continue;
            *type = item.type;
            *data = item.data;
            return true;
        }
        return false;
    }

private:
    const std::vector<StoredItem>& items_;
};

ChangeWindow WindowFor(const TIMEDATE* since) {
    if (since == nullptr) return ChangeWindow::kLiveOnly;
    if (IsWildcard(*since)) return ChangeWindow::kEverything;
    return ChangeWindow::kAfter;
}

SEARCH_MATCH MatchFor(const NoteRow& row, BYTE flags) {
    SEARCH_MATCH match{};
    TIMEDATE sequenceTime = TimedateFromTicks(row.sequenceTicks);
    match.ID.File = row.unid.File;
    match.ID.Note = sequenceTime;
    match.ID.NoteID = row.id;
    match.OriginatorID = ORIGINATORID{row.unid.File, row.unid.Note, row.sequence, sequenceTime};
    match.NoteClass = row.noteClass;
    if (row.deleted) match.NoteClass |= NOTE_CLASS_NOTIFYDELETION;
    match.SERetFlags = flags;
    return match;
}

// Whether the note as it is now is selected; false for a note gone since
// the listing.
STATUS Selects(Store& store, FORMULAHANDLE formula, NoteRow* row, bool* selected) {
    *selected = !row->deleted;
    if (formula == NULLHANDLE || row->deleted) return NOERROR;
    std::vector<StoredItem> items;
    bool found = false;
    STATUS status = store.ReadNoteWithItems(row->id, row, &items, &found);
    if (status != NOERROR || !found || row->deleted) {
        *selected = false;
        return status;
    }
    return FormulaSelects(formula, StoredItemSource(items), selected);
}

STATUS Search(DBHANDLE hDB, FORMULAHANDLE formula, WORD classMask, TIMEDATE* since,
              NSFSEARCHPROC routine, void* parameter, TIMEDATE* retUntil) {
    Database* database = Databases().Get(hDB);
    if (database == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFSearch database handle");
    if (routine == nullptr) return Fail(ERR_BAD_PARAM, "NSFSearch without a routine");
    Store& store = *database->store;
    STATUS status = NOERROR;
    if (FaultHit(NRT_FAULT_READ, &status)) return Fail(status, "search " + store.Path());
    std::vector<NoteRow> rows;
    int64_t after = since ? TicksOf(*since) : 0;
    if (since != nullptr && retUntil != nullptr) {
        // A search for changes answers with an until-time for the next one.
        int64_t until = 0;
        status = store.ListChanges(classMask, WindowFor(since), after, &rows, &until);
        if (status == NOERROR) *retUntil = TimedateFromTicks(until);
    } else {
        ReadTransaction snapshot(store);
        status = snapshot.Begin();
        if (status == NOERROR) status = store.ListNotes(classMask, WindowFor(since), after, &rows);
        if (status == NOERROR && retUntil != nullptr) OSCurrentTIMEDATE(retUntil);
    }
    if (status != NOERROR) return status;
    // With a since time every changed note is passed, selected or not.
    for (NoteRow& row : rows) {
        bool selected = false;
        status = Selects(store, formula, &row, &selected);
        if (status != NOERROR) return status;
        if (!selected && since == nullptr) continue;
        SEARCH_MATCH match = MatchFor(row, selected ? SE_FMATCH : SE_FNOMATCH);
        status = routine(parameter, &match, nullptr);
        if (status != NOERROR) return status;
    }
    return NOERROR;
}

}  // namespace

extern "C" {

STATUS LNPUBLIC NSFSearch(DBHANDLE hDB, FORMULAHANDLE hFormula, const char* /*viewTitle*/,
                          WORD /*searchFlags*/, WORD noteClassMask, TIMEDATE* since,
                          NSFSEARCHPROC enumRoutine, void* enumRoutineParameter,
                          TIMEDATE* retUntil) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        return Search(hDB, hFormula, noteClassMask, since, enumRoutine, enumRoutineParameter, retUntil);
    });
}

}  // extern "C"
