// runtime.h - nsfdb's thin layer over the Notes runtime: failures become
// ToolError exceptions carrying the runtime's error text, handles close
// themselves, and UNIDs and times have one text form each.
//
// Owned by the nsfdb tool; nothing outside tools/nsfdb includes it.
#ifndef NSFDB_RUNTIME_H
#define NSFDB_RUNTIME_H

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "global.h"

namespace nsfdb {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A failure reported on standard error; the exit code tells failure from
// bad usage.
class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& message, int exitCode = kExitFailure)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

class UsageError : public ToolError {
public:
    explicit UsageError(const std::string& message) : ToolError(message, kExitUsage) {}
};

// "<what>: <error text> (status N)", followed by the runtime's detail of
// the failure when it has one.
[[noreturn]] void FailStatus(STATUS status, const std::string& what);
inline void Check(STATUS status, const std::string& what) {
    if (status != NOERROR) FailStatus(status, what);
}
std::string Quoted(const std::string& text);

class Database {
public:
    static Database Open(const std::string& name);
    // No database when the file does not exist; other failures throw.
    static std::optional<Database> OpenIfExists(const std::string& name);
    Database(DBHANDLE handle, std::string name) : handle_(handle), name_(std::move(name)) {}
    Database(Database&& other) noexcept;
    Database& operator=(Database&&) = delete;
    ~Database();

    DBHANDLE handle() const { return handle_; }
    const std::string& name() const { return name_; }
    // "database "NAME"", for messages.
    std::string Describe() const { return "database " + Quoted(name_); }

    std::string Title() const;
    // Refuses a title that does not fit the information buffer.
    void SetTitle(const std::string& title);

private:
    DBHANDLE handle_;
    std::string name_;
};

// A database this command creates: deleted again unless Keep() is called,
// so a failed command leaves no half-filled database behind. With a
// source, the new database starts as a copy of the source's view notes.
class NewDatabase {
public:
    NewDatabase(const std::string& name, const std::string& source);
    ~NewDatabase();
    Database& db() { return db_; }
    void Keep() { kept_ = true; }

private:
    Database db_;
    bool kept_ = false;
};

class Note {
public:
    static Note Create(const Database& db);
    static Note OpenById(const Database& db, NOTEID id);
    static Note OpenByUnid(const Database& db, const UNIVERSALNOTEID& unid);
    Note(Note&& other) noexcept;
    Note& operator=(Note&&) = delete;
    ~Note();

    NOTEHANDLE handle() const { return handle_; }
    NOTEID Id() const;
    WORD NoteClass() const;
    void SetNoteClass(WORD noteClass);
    UNIVERSALNOTEID Unid() const;
    TIMEDATE Modified() const;
    // "document UNID in database "NAME"" (or "new document ..." before the
    // first save), for messages.
    std::string Describe() const;
    // Writes the note; a conflict is returned, every other failure thrown.
    STATUS TryUpdate();

private:
    Note(NOTEHANDLE handle, const Database& db) : handle_(handle), db_(&db) {}
    NOTEHANDLE handle_;
    const Database* db_;
};

// Opens a note, lets apply change it and saves it; when another writer
// changed the note in between, starts again from a fresh copy (a few
// times) instead of overwriting that change. Returns the saved note's UNID.
UNIVERSALNOTEID SaveNote(const std::function<Note()>& open,
                         const std::function<void(Note&)>& apply);

struct ListedNote {
    NOTEID id;     // without RRV_DELETED
    bool deleted;  // a deletion stub
};
// The notes of the classes that the modified-note table lists for since,
// in note ID order; until (may be null) receives the table's until-time.
std::vector<ListedNote> ListNotes(const Database& db, WORD noteClass, const TIMEDATE& since,
                                  TIMEDATE* until);
// Every note of the classes, deletion stubs included.
std::vector<ListedNote> AllNotes(const Database& db, WORD noteClass);

// The whole text of a file, or of standard input for "-".
std::string ReadTextFile(const std::string& path);

// 32 upper-case hexadecimal digits: File then Note, high word first.
std::string UnidText(const UNIVERSALNOTEID& unid);
bool ParseUnid(const std::string& text, UNIVERSALNOTEID* unid);
UNIVERSALNOTEID ParseUnidOrFail(const std::string& text);

// The runtime's full text form, e.g. "2026/12/07 08:43:21 PM GMT"; false
// when the runtime cannot show the time as text.
bool TryTimeText(const TIMEDATE& time, std::string* text);
std::string TimeTextOr(const TIMEDATE& time, const std::string& fallback);
// Reads the runtime's text form (or "now"); what names the value for the
// error message.
TIMEDATE ParseTime(const std::string& text, const std::string& what);

// The canonical form of a name (Jane Doe/Sales/Acme becomes
// CN=Jane Doe/OU=Sales/O=Acme).
std::string CanonicalName(const std::string& name);

}  // namespace nsfdb

#endif
