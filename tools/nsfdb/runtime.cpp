// runtime.cpp - nsfdb's thin layer over the Notes runtime (see runtime.h).
#include "runtime.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "idtable.h"
#include "intl.h"
#include "misc.h"
#include "names.h"
#include "nrt_env.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "osmisc.h"
#include "ostime.h"

namespace nsfdb {
namespace {

// How often SaveNote starts again after a conflicting writer.
constexpr int kSaveAttempts = 3;

std::string ErrorText(STATUS status) {
    char text[256] = "";
    if (OSLoadString(NULLHANDLE, ERR(status), text, sizeof(text) - 1) == 0)
        return "unknown error";
    return text;
}

std::string LastErrorDetail() {
    char detail[512] = "";
    NRTLastErrorDetail(detail, sizeof(detail));
    return detail;
}

}  // namespace

void FailStatus(STATUS status, const std::string& what) {
    std::string message = what + ": " + ErrorText(status) + " (status " +
                          std::to_string(ERR(status)) + ")";
    std::string detail = LastErrorDetail();
    if (!detail.empty()) message += " [" + detail + "]";
    throw ToolError(message);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// ---- databases ----

Database Database::Open(const std::string& name) {
    DBHANDLE handle = NULLHANDLE;
    Check(NSFDbOpen(name.c_str(), &handle), "cannot open database " + Quoted(name));
    return Database(handle, name);
}

std::optional<Database> Database::OpenIfExists(const std::string& name) {
    DBHANDLE handle = NULLHANDLE;
    STATUS status = NSFDbOpen(name.c_str(), &handle);
    if (ERR(status) == ERR_NOEXIST) return std::nullopt;
    Check(status, "cannot open database " + Quoted(name));
    return Database(handle, name);
}

Database::Database(Database&& other) noexcept : handle_(other.handle_), name_(std::move(other.name_)) {
    other.handle_ = NULLHANDLE;
}

Database::~Database() {
    if (handle_ != NULLHANDLE) NSFDbClose(handle_);
}

std::string Database::Title() const {
    char info[NSF_INFO_SIZE] = "";
    Check(NSFDbInfoGet(handle_, info), "cannot read the title of " + Describe());
    char title[NSF_INFO_SIZE] = "";
    NSFDbInfoParse(info, INFOPARSE_TITLE, title, sizeof(title) - 1);
    return title;
}

void Database::SetTitle(const std::string& title) {
    if (title.find_first_of("\r\n") != std::string::npos)
        throw ToolError("title of " + Describe() + " must be one line");
    char info[NSF_INFO_SIZE] = "";
    Check(NSFDbInfoGet(handle_, info), "cannot read the title of " + Describe());
    // The buffer keeps the other parts after the title; they must fit too.
    size_t room = NSF_INFO_SIZE - 1 - (std::strlen(info) - Title().size());
    if (title.size() > room)
        throw ToolError("title of " + Describe() + " is too long (at most " +
                        std::to_string(room) + " bytes)");
    NSFDbInfoModify(info, INFOPARSE_TITLE, title.c_str());
    Check(NSFDbInfoSet(handle_, info), "cannot set the title of " + Describe());
}

namespace {

Database CreateDatabase(const std::string& name, const std::string& source) {
    std::string what = "cannot create database " + Quoted(name);
    DBHANDLE handle = NULLHANDLE;
    if (!source.empty()) {
        Check(NSFDbCreateAndCopy(source.c_str(), name.c_str(), NOTE_CLASS_VIEW, 0, 0, &handle),
              what + " from " + Quoted(source));
        return Database(handle, name);
    }
    Check(NSFDbCreate(name.c_str(), DBCLASS_NOTEFILE, FALSE), what);
    STATUS status = NSFDbOpen(name.c_str(), &handle);
    if (status != NOERROR) {
        NSFDbDelete(name.c_str());
        FailStatus(status, "cannot open new database " + Quoted(name));
    }
    return Database(handle, name);
}

}  // namespace

NewDatabase::NewDatabase(const std::string& name, const std::string& source)
    : db_(CreateDatabase(name, source)) {}

NewDatabase::~NewDatabase() {
    if (kept_) return;
    std::string name = db_.name();
    { Database closing(std::move(db_)); }
    NSFDbDelete(name.c_str());
}

// ---- notes ----

Note Note::Create(const Database& db) {
    NOTEHANDLE handle = NULLHANDLE;
    Check(NSFNoteCreate(db.handle(), &handle), "cannot create a document in " + db.Describe());
    return Note(handle, db);
}

Note Note::OpenById(const Database& db, NOTEID id) {
    NOTEHANDLE handle = NULLHANDLE;
    Check(NSFNoteOpen(db.handle(), id, 0, &handle),
          "cannot open note ID " + std::to_string(id) + " in " + db.Describe());
    return Note(handle, db);
}

Note Note::OpenByUnid(const Database& db, const UNIVERSALNOTEID& unid) {
    NOTEHANDLE handle = NULLHANDLE;
    UNIVERSALNOTEID copy = unid;
    Check(NSFNoteOpenByUNID(db.handle(), &copy, 0, &handle),
          "cannot open document " + UnidText(unid) + " in " + db.Describe());
    return Note(handle, db);
}

Note::Note(Note&& other) noexcept : handle_(other.handle_), db_(other.db_) {
    other.handle_ = NULLHANDLE;
}

Note::~Note() {
    if (handle_ != NULLHANDLE) NSFNoteClose(handle_);
}

NOTEID Note::Id() const {
    NOTEID id = 0;
    NSFNoteGetInfo(handle_, _NOTE_ID, &id);
    return id;
}

WORD Note::NoteClass() const {
    WORD noteClass = 0;
    NSFNoteGetInfo(handle_, _NOTE_CLASS, &noteClass);
    return noteClass;
}

void Note::SetNoteClass(WORD noteClass) { NSFNoteSetInfo(handle_, _NOTE_CLASS, &noteClass); }

UNIVERSALNOTEID Note::Unid() const {
    ORIGINATORID oid;
    std::memset(&oid, 0, sizeof(oid));
    NSFNoteGetInfo(handle_, _NOTE_OID, &oid);
    UNIVERSALNOTEID unid;
    unid.File = oid.File;
    unid.Note = oid.Note;
    return unid;
}

TIMEDATE Note::Modified() const {
    TIMEDATE modified = {{0, 0}};
    NSFNoteGetInfo(handle_, _NOTE_MODIFIED, &modified);
    return modified;
}

std::string Note::Describe() const {
    if (Id() == 0) return "new document in " + db_->Describe();
    return "document " + UnidText(Unid()) + " in " + db_->Describe();
}

STATUS Note::TryUpdate() {
    STATUS status = NSFNoteUpdate(handle_, 0);
    if (ERR(status) != ERR_CONFLICT) Check(status, "cannot save " + Describe());
    return ERR(status);
}

UNIVERSALNOTEID SaveNote(const std::function<Note()>& open,
                         const std::function<void(Note&)>& apply) {
    for (int attempt = 1;; ++attempt) {
        Note note = open();
        apply(note);
        STATUS status = note.TryUpdate();
        if (status == NOERROR) return note.Unid();
        if (attempt == kSaveAttempts)
            FailStatus(status, "cannot save " + note.Describe() + ", another writer keeps changing it");
    }
}

// ---- note lists ----

namespace {

class IdTable {
public:
    explicit IdTable(DHANDLE handle) : handle_(handle) {}
    IdTable(const IdTable&) = delete;
    IdTable& operator=(const IdTable&) = delete;
    ~IdTable() { IDDestroyTable(handle_); }

private:
    DHANDLE handle_;
};

}  // namespace

std::vector<ListedNote> ListNotes(const Database& db, WORD noteClass, const TIMEDATE& since,
                                  TIMEDATE* until) {
    DHANDLE table = NULLHANDLE;
    TIMEDATE ignored;
    STATUS status = NSFDbGetModifiedNoteTable(db.handle(), noteClass, since,
                                              until ? until : &ignored, &table);
    if (ERR(status) == ERR_NO_MODIFIED_NOTES) return {};
    Check(status, "cannot list the notes of " + db.Describe());
    IdTable owner(table);
    std::vector<ListedNote> notes;
    DWORD id = 0;
    for (BOOL first = TRUE; IDScan(table, first, &id); first = FALSE)
        notes.push_back(ListedNote{id & ~(DWORD)RRV_DELETED, (id & RRV_DELETED) != 0});
    std::sort(notes.begin(), notes.end(),
              [](const ListedNote& a, const ListedNote& b) { return a.id < b.id; });
    return notes;
}

std::vector<ListedNote> AllNotes(const Database& db, WORD noteClass) {
    TIMEDATE wildcard;
    TimeConstant(TIMEDATE_WILDCARD, &wildcard);
    return ListNotes(db, noteClass, wildcard, nullptr);
}

std::string ReadTextFile(const std::string& path) {
    if (path == "-")
        return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        throw ToolError("cannot read " + Quoted(path) + ": it is a directory");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError("cannot read " + Quoted(path) + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw ToolError("cannot read " + Quoted(path) + ": " + std::strerror(errno));
    return text.str();
}

// ---- UNID text ----

std::string UnidText(const UNIVERSALNOTEID& unid) {
    char text[33];
    std::snprintf(text, sizeof(text), "%08X%08X%08X%08X", unid.File.Innards[1],
                  unid.File.Innards[0], unid.Note.Innards[1], unid.Note.Innards[0]);
    return text;
}

bool ParseUnid(const std::string& text, UNIVERSALNOTEID* unid) {
    if (text.size() != 32) return false;
    DWORD words[4];
    for (int w = 0; w < 4; ++w) {
        DWORD value = 0;
        for (int i = 0; i < 8; ++i) {
            char c = text[w * 8 + i];
            if (!std::isxdigit((unsigned char)c)) return false;
            value = value * 16 + (DWORD)(std::isdigit((unsigned char)c)
                                             ? c - '0'
                                             : std::toupper((unsigned char)c) - 'A' + 10);
        }
        words[w] = value;
    }
    unid->File.Innards[1] = words[0];
    unid->File.Innards[0] = words[1];
    unid->Note.Innards[1] = words[2];
    unid->Note.Innards[0] = words[3];
    return true;
}

UNIVERSALNOTEID ParseUnidOrFail(const std::string& text) {
    UNIVERSALNOTEID unid;
    if (!ParseUnid(text, &unid))
        throw ToolError(Quoted(text) + " is not a UNID (32 hexadecimal digits)");
    return unid;
}

// ---- time text ----

namespace {

const TFMT kFullTimeFormat = {TDFMT_FULL4, TTFMT_FULL, TZFMT_ALWAYS, TSFMT_DATETIME};

// Reads digits digits at *at into *value and moves on.
bool TakeDigits(const std::string& text, size_t* at, size_t digits, int* value) {
    if (*at + digits > text.size()) return false;
    int result = 0;
    for (size_t i = 0; i < digits; ++i) {
        char c = text[*at + i];
        if (!std::isdigit((unsigned char)c)) return false;
        result = result * 10 + (c - '0');
    }
    *at += digits;
    *value = result;
    return true;
}

bool TakeChar(const std::string& text, size_t* at, char c) {
    if (*at >= text.size() || text[*at] != c) return false;
    ++*at;
    return true;
}

// The zone part of an ISO 8601 time: "Z", "+HH", "+HH:MM", "+HHMM" (or
// "-"), as the TIME structure keeps it (hours west, minutes*100+hours for
// a zone with minutes). False when there is none or it is malformed.
bool TakeIsoZone(const std::string& text, size_t* at, int* zone) {
    if (TakeChar(text, at, 'Z')) {
        *zone = 0;
        return true;
    }
    if (*at >= text.size() || (text[*at] != '+' && text[*at] != '-')) return false;
    int east = text[(*at)++] == '+' ? 1 : -1;
    int hours = 0, minutes = 0;
    if (!TakeDigits(text, at, 2, &hours) || hours > 14) return false;
    if (*at < text.size()) {
        TakeChar(text, at, ':');
        if (!TakeDigits(text, at, 2, &minutes) || minutes > 59) return false;
    }
    *zone = -east * (minutes * 100 + hours);
    return true;
}

// An ISO 8601 date and time: YYYY-MM-DD, then optionally "T" (or a blank)
// and hh:mm[:ss[.fraction]], then optionally a zone; without a zone the
// time is the server's local time. False when text is not one.
bool ParseIsoTime(const std::string& text, TIMEDATE* result) {
    TIME time;
    std::memset(&time, 0, sizeof(time));
    size_t at = 0;
    if (!TakeDigits(text, &at, 4, &time.year) || !TakeChar(text, &at, '-') ||
        !TakeDigits(text, &at, 2, &time.month) || !TakeChar(text, &at, '-') ||
        !TakeDigits(text, &at, 2, &time.day))
        return false;
    if (TakeChar(text, &at, 'T') || TakeChar(text, &at, ' ')) {
        if (!TakeDigits(text, &at, 2, &time.hour) || !TakeChar(text, &at, ':') ||
            !TakeDigits(text, &at, 2, &time.minute))
            return false;
        if (TakeChar(text, &at, ':') && !TakeDigits(text, &at, 2, &time.second)) return false;
        if (TakeChar(text, &at, '.') || TakeChar(text, &at, ',')) {
            int digit = 0;
            if (!TakeDigits(text, &at, 1, &digit)) return false;
            time.hundredth = digit * 10;
            if (TakeDigits(text, &at, 1, &digit)) time.hundredth += digit;
            while (TakeDigits(text, &at, 1, &digit)) {
            }
        }
    }
    int zone = 0;
    if (TakeIsoZone(text, &at, &zone)) {
        time.zone = zone;
        time.dst = 0;
    } else {  // the server's zone, with its daylight rule
        INTLFORMAT intl;
        OSGetIntlSettings(&intl, sizeof(intl));
        time.zone = intl.TimeZone;
        time.dst = (intl.Flags & DAYLIGHT_SAVINGS) ? 1 : 0;
    }
    if (at != text.size() || time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 ||
        time.hour > 23 || time.minute > 59 || time.second > 59)
        return false;
    if (TimeLocalToGM(&time)) return false;
    *result = time.GM;
    return true;
}

}  // namespace

bool TryTimeText(const TIMEDATE& time, std::string* text) {
    char buffer[MAXALPHATIMEDATE + 1];
    WORD length = 0;
    if (ConvertTIMEDATEToText(nullptr, &kFullTimeFormat, &time, buffer, MAXALPHATIMEDATE,
                              &length) != NOERROR)
        return false;
    text->assign(buffer, length);
    return true;
}

std::string TimeTextOr(const TIMEDATE& time, const std::string& fallback) {
    std::string text;
    return TryTimeText(time, &text) ? text : fallback;
}

TIMEDATE ParseTime(const std::string& text, const std::string& what) {
    TIMEDATE time = {{0, 0}};
    if (text == "now") {
        OSCurrentTIMEDATE(&time);
        return time;
    }
    if (ParseIsoTime(text, &time)) return time;
    std::string copy = text;
    char* cursor = copy.data();
    STATUS status = copy.size() > MAXWORD
                        ? (STATUS)ERR_TDI_CONV
                        : ConvertTextToTIMEDATE(nullptr, &kFullTimeFormat, &cursor,
                                                (WORD)copy.size(), &time);
    // Every character must be taken, blanks at the end aside.
    bool rest = status == NOERROR &&
                copy.find_first_not_of(' ', (size_t)(cursor - copy.data())) != std::string::npos;
    if (status != NOERROR || rest)
        throw ToolError(what + ": " + Quoted(text) +
                        " is not a time (e.g. \"2026/12/07 08:43:21 PM GMT\", \"2026-12-07T20:43:21Z\" "
                        "or \"now\")");
    return time;
}

std::string CanonicalName(const std::string& name) {
    char canonical[MAXUSERNAME] = "";
    WORD length = 0;
    Check(DNCanonicalize(0, nullptr, name.c_str(), canonical, sizeof(canonical), &length),
          "cannot canonicalise the name " + Quoted(name));
    (void)length;
    return canonical;
}

}  // namespace nsfdb
