// note.h - a note held by a note handle, and what opening, saving and
// deleting a note mean.
//
// The note handle owns its items (in the note's order) and the memory
// blocks that NSFItemInfo handed out for their values; a block lives until
// its item is replaced or removed, or the note is closed. Saving applies
// the change-tracking rules: sequence number and time, $UpdatedBy, and a
// new modified time only for items whose value changed.
#ifndef NOTESRT_SRC_NOTE_H
#define NOTESRT_SRC_NOTE_H

#include <memory>
#include <string>
#include <vector>

#include "handles.h"
#include "store.h"

namespace nrt {

struct NoteItem : StoredItem {
    DHANDLE valueBlock = NULLHANDLE;  // type WORD + value, made on demand
};

struct Note {
    DBHANDLE db = NULLHANDLE;
    NoteRow row;  // row.id is 0 until the first save
    std::vector<NoteItem> items;

    Note() = default;
    Note(const Note&) = delete;
    Note& operator=(const Note&) = delete;
    ~Note();

    // The first item of the name (letter case ignored), or null.
    NoteItem* Find(const std::string& name);
    // Removes every item of the name; false when there was none.
    bool Remove(const std::string& name);
    void Append(const std::string& name, WORD type, WORD flags, const std::string& data);
    // Removes every item of the name and appends one summary item.
    void Replace(const std::string& name, WORD type, const std::string& data);
    // The block holding the item's type WORD and value; 0 when memory ran out.
    DHANDLE ValueBlock(NoteItem* item, STATUS* status);
    // Sets the first item's value in place, keeping its position.
    void ChangeValue(NoteItem* item, WORD type, const std::string& data);
};

HandleTable<Note>& Notes();

// Item names compare without regard to letter case.
bool SameItemName(const std::string& a, const std::string& b);

// A new, unsaved document with a fresh UNID; the UNID's time becomes the
// time of the first save.
std::unique_ptr<Note> NewNote(DBHANDLE db);
// ERR_NOTE_DELETED for a deletion stub, ERR_INVALID_NOTE when there is no
// such note.
STATUS LoadNote(DBHANDLE hDB, Store& store, NOTEID id, std::unique_ptr<Note>* note);
// The same by UNID; ERR_NOT_FOUND when no note has it.
STATUS LoadNote(DBHANDLE hDB, Store& store, const UNIVERSALNOTEID& unid, std::unique_ptr<Note>* note);
// Writes the note; on failure the database and the note are as before.
STATUS SaveNote(Store& store, Note* note, WORD updateFlags);
// Leaves a deletion stub, or no trace with UPDATE_NOSTUB.
STATUS DeleteNote(Store& store, NOTEID id, WORD updateFlags);

}  // namespace nrt

#endif
