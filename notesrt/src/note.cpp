// note.cpp - note handles' items, and loading, saving and deleting notes
// under the change-tracking rules.
#include "note.h"

#include <strings.h>

#include <cstring>

#include "env.h"
#include "fault.h"
#include "itemvalue.h"
#include "memory.h"
#include "nrt_fault.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "osmem.h"
#include "status.h"
#include "timeutil.h"

namespace nrt {
namespace {

const char kUpdatedBy[] = "$UpdatedBy";
constexpr int kUnidAttempts = 8;

void FreeBlock(NoteItem* item) {
    if (item->valueBlock != NULLHANDLE) OSMemoryFree(item->valueBlock);
    item->valueBlock = NULLHANDLE;
}

bool ChangedSinceOpened(const NoteRow& opened, const NoteRow& onDisk, bool exists) {
    return !exists || onDisk.deleted || onDisk.sequence != opened.sequence ||
           onDisk.sequenceTicks != opened.sequenceTicks;
}

// $UpdatedBy with the writer's name last, dropping the oldest names when
// the list would grow too big.
std::string UpdatedByWith(const StoredItem* current, const std::string& user) {
    std::vector<std::string_view> names;
    if (current != nullptr) TextEntryViews(current->type, current->data, &names);
    if (names.empty() || names.back() != user) names.push_back(user);
    std::string data;
    while (!EncodeTextList(names, &data)) names.erase(names.begin());
    return data;
}

// The nth item of the name among items (n counted from 0), or null.
const StoredItem* NthNamed(const std::vector<StoredItem>& items, const std::string& name, size_t n) {
    for (const StoredItem& item : items)
        if (SameItemName(item.name, name) && n-- == 0) return &item;
    return nullptr;
}

// The items as they will be stored (moved from items): an item keeps its
// modified time when the stored item at its place (same name, same
// occurrence) has the same type and bytes; every other item is modified at
// ticks.
std::vector<StoredItem> ItemsToStore(std::vector<StoredItem>&& items,
                                     const std::vector<StoredItem>& previous, int64_t ticks) {
    std::vector<StoredItem> stored;
    stored.reserve(items.size());
    for (StoredItem& item : items) {
        const StoredItem* before = nullptr;
        if (!previous.empty()) {  // a new note has no earlier items to match
            size_t occurrence = 0;
            for (const StoredItem& earlier : stored) occurrence += SameItemName(earlier.name, item.name);
            before = NthNamed(previous, item.name, occurrence);
        }
        bool unchanged = before && before->type == item.type && before->data == item.data;
        item.modifiedTicks = unchanged ? before->modifiedTicks : ticks;
        stored.push_back(std::move(item));
    }
    return stored;
}

// Writes the row; a new note whose random UNID is taken draws another.
STATUS WriteRow(Store& store, NoteRow* row, bool isNew) {
    STATUS status = store.WriteNoteRow(*row);
    for (int attempt = 1; isNew && status == ERR_FILE_EXISTS && attempt < kUnidAttempts; ++attempt) {
        row->unid.File = RandomTimedate();
        status = store.WriteNoteRow(*row);
    }
    return status;
}

bool IsData(const NoteRow& row) { return (row.noteClass & NOTE_CLASS_DOCUMENT) != 0; }

// Writes the row, its items (in place of stored ones when replacing) and
// the database's counters.
STATUS WriteNote(Store& store, const Counters& counters, NoteRow* row, bool isNew, bool replacing,
                 const std::vector<StoredItem>& items) {
    STATUS status = WriteRow(store, row, isNew);
    if (status == NOERROR && replacing) status = store.RemoveItems(row->id);
    if (status == NOERROR) status = store.InsertItems(row->id, items);
    if (status == NOERROR) status = store.WriteCounters(counters, IsData(*row), row->sequenceTicks);
    return status;
}

// After a commit: the handle sees what was stored. Items keep their
// blocks unless their value changed ($UpdatedBy).
void AdoptStored(Note* note, const NoteRow& row, const std::vector<StoredItem>& stored) {
    note->row = row;
    for (size_t i = 0; i < stored.size(); ++i) {
        if (i == note->items.size()) {
            note->Append(stored[i].name, stored[i].type, stored[i].flags, stored[i].data);
        } else if (note->items[i].data != stored[i].data) {
            note->ChangeValue(&note->items[i], stored[i].type, stored[i].data);
            note->items[i].flags = stored[i].flags;
        }
        note->items[i].modifiedTicks = stored[i].modifiedTicks;
    }
}

}  // namespace

bool SameItemName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

Note::~Note() {
    for (NoteItem& item : items) FreeBlock(&item);
}

NoteItem* Note::Find(const std::string& name) {
    for (NoteItem& item : items)
        if (SameItemName(item.name, name)) return &item;
    return nullptr;
}

bool Note::Remove(const std::string& name) {
    size_t before = items.size();
    for (auto it = items.begin(); it != items.end();) {
        if (SameItemName(it->name, name)) {
            FreeBlock(&*it);
            it = items.erase(it);
        } else {
            ++it;
        }
    }
    return items.size() != before;
}

void Note::Append(const std::string& name, WORD type, WORD flags, const std::string& data) {
    NoteItem item;
    item.name = name;
    item.type = type;
    item.flags = flags;
    item.data = data;
    item.modifiedTicks = CurrentTicks();
    items.push_back(std::move(item));
}

void Note::Replace(const std::string& name, WORD type, const std::string& data) {
    Remove(name);
    Append(name, type, ITEM_SUMMARY, data);
}

void Note::ChangeValue(NoteItem* item, WORD type, const std::string& data) {
    FreeBlock(item);
    item->type = type;
    item->data = data;
    item->modifiedTicks = CurrentTicks();
}

DHANDLE Note::ValueBlock(NoteItem* item, STATUS* status) {
    *status = NOERROR;
    if (item->valueBlock != NULLHANDLE) return item->valueBlock;
    DHANDLE block = AllocBlock(sizeof(WORD) + item->data.size(), status);
    if (block == NULLHANDLE) return NULLHANDLE;
    char* bytes = static_cast<char*>(BlockData(block, nullptr));
    std::memcpy(bytes, &item->type, sizeof(WORD));
    if (!item->data.empty()) std::memcpy(bytes + sizeof(WORD), item->data.data(), item->data.size());
    item->valueBlock = block;
    return block;
}

HandleTable<Note>& Notes() {
    static HandleTable<Note> table;
    return table;
}

std::unique_ptr<Note> NewNote(DBHANDLE db) {
    std::unique_ptr<Note> note(new Note);
    note->db = db;
    note->row.noteClass = NOTE_CLASS_DOCUMENT;
    note->row.unid.File = RandomTimedate();
    note->row.unid.Note = TimedateFromTicks(CurrentTicks());
    return note;
}

namespace {

// Loads the note that read finds (its row and items from one snapshot);
// notFound names the failure when there is none.
template <typename Read>
STATUS LoadWith(DBHANDLE hDB, Store& store, Read read, STATUS notFound, const std::string& what,
                std::unique_ptr<Note>* note) {
    STATUS status = NOERROR;
    if (FaultHit(NRT_FAULT_READ, &status)) return Fail(status, "read note in " + store.Path());
    std::unique_ptr<Note> loaded(new Note);
    std::vector<StoredItem> items;
    bool found = false;
    status = read(&loaded->row, &items, &found);
    if (status != NOERROR) return status;
    if (!found) return Fail(notFound, what + " in " + store.Path());
    if (loaded->row.deleted)
        return Fail(ERR_NOTE_DELETED, "note ID " + std::to_string(loaded->row.id) + " in " + store.Path());
    loaded->db = hDB;
    loaded->items.reserve(items.size());
    for (StoredItem& item : items) {
        NoteItem held;
        static_cast<StoredItem&>(held) = std::move(item);
        loaded->items.push_back(std::move(held));
    }
    *note = std::move(loaded);
    return NOERROR;
}

}  // namespace

STATUS LoadNote(DBHANDLE hDB, Store& store, NOTEID id, std::unique_ptr<Note>* note) {
    std::string what = "note ID " + std::to_string(id);
    auto read = [&](NoteRow* row, std::vector<StoredItem>* items, bool* found) -> STATUS {
        if (id == 0 || (id & RRV_DELETED) != 0) return Fail(ERR_INVALID_NOTE, what);
        return store.ReadNoteWithItems(id, row, items, found);
    };
    return LoadWith(hDB, store, read, ERR_INVALID_NOTE, what, note);
}

STATUS LoadNote(DBHANDLE hDB, Store& store, const UNIVERSALNOTEID& unid, std::unique_ptr<Note>* note) {
    auto read = [&](NoteRow* row, std::vector<StoredItem>* items, bool* found) {
        return store.ReadNoteWithItems(unid, row, items, found);
    };
    return LoadWith(hDB, store, read, ERR_NOT_FOUND, "UNID", note);
}

STATUS SaveNote(Store& store, Note* note, WORD updateFlags) {
    WriteTransaction transaction(store, Store::Grouping::kMayGroup);
    STATUS status = transaction.Begin();
    if (status != NOERROR) return status;

    NoteRow row = note->row;
    bool isNew = row.id == 0;
    NoteRow onDisk;
    bool exists = false;
    if (!isNew) status = store.ReadNote(row.id, &onDisk, &exists);
    if (status != NOERROR) return status;
    if (!isNew && (updateFlags & UPDATE_FORCE) == 0 && ChangedSinceOpened(row, onDisk, exists))
        return Fail(ERR_CONFLICT, "note ID " + std::to_string(row.id) + " in " + store.Path());

    Counters counters;
    status = store.ReadCounters(&counters);
    if (status != NOERROR) return status;
    row.sequenceTicks = counters.SequenceTicksFor(exists ? onDisk.sequenceTicks : 0);
    if (isNew) {
        row.id = counters.TakeNoteId();
        // The UNID's time is when the note was first stored, so a note
        // created before a listing but saved after it counts as new in the
        // next one.
        row.unid.Note = TimedateFromTicks(row.sequenceTicks);
    }
    std::vector<StoredItem> previous;
    if (status == NOERROR && exists) status = store.ReadItems(row.id, &previous);
    if (status != NOERROR) return status;
    row.sequence = (exists ? onDisk.sequence : row.sequence) + 1;
    row.deleted = false;

    // $UpdatedBy changes in a copy first, so a failed save leaves the handle as it was.
    std::vector<StoredItem> items(note->items.begin(), note->items.end());
    StoredItem* updatedBy = nullptr;
    for (StoredItem& item : items)
        if (!updatedBy && SameItemName(item.name, kUpdatedBy)) updatedBy = &item;
    std::string names = UpdatedByWith(updatedBy, UserName());
    if (updatedBy == nullptr) {
        items.emplace_back();
        updatedBy = &items.back();
        updatedBy->name = kUpdatedBy;
    }
    updatedBy->type = TYPE_TEXT_LIST;
    updatedBy->flags |= ITEM_NAMES | ITEM_SUMMARY;
    updatedBy->data = names;

    std::vector<StoredItem> stored = ItemsToStore(std::move(items), previous, row.sequenceTicks);
    status = WriteNote(store, counters, &row, isNew, exists, stored);
    if (status == NOERROR) status = transaction.Commit();
    if (status != NOERROR) return status;
    AdoptStored(note, row, stored);
    return NOERROR;
}

STATUS DeleteNote(Store& store, NOTEID id, WORD updateFlags) {
    if (id == 0 || (id & RRV_DELETED) != 0)
        return Fail(ERR_INVALID_NOTE, "note ID " + std::to_string(id));
    WriteTransaction transaction(store, Store::Grouping::kMayGroup);
    STATUS status = transaction.Begin();
    if (status != NOERROR) return status;
    NoteRow row;
    bool found = false;
    status = store.ReadNote(id, &row, &found);
    if (status != NOERROR) return status;
    std::string what = "note ID " + std::to_string(id) + " in " + store.Path();
    if (!found) return Fail(ERR_INVALID_NOTE, what);
    bool leaveStub = (updateFlags & UPDATE_NOSTUB) == 0;
    if (row.deleted && leaveStub) return Fail(ERR_NOTE_DELETED, what);

    Counters counters;
    status = store.ReadCounters(&counters);
    if (status != NOERROR) return status;
    row.sequenceTicks = counters.SequenceTicksFor(row.sequenceTicks);
    if (leaveStub) {
        row.sequence += 1;
        row.deleted = true;
        status = WriteNote(store, counters, &row, false, true, {});
    } else {
        status = store.RemoveNote(id);
        if (status == NOERROR) status = store.WriteCounters(counters, IsData(row), row.sequenceTicks);
    }
    if (status == NOERROR) status = transaction.Commit();
    return status;
}

}  // namespace nrt
