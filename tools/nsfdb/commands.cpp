// commands.cpp - the document commands of nsfdb: create, info, put, get,
// find, delete, dump, modified and purge (see commands.h).
#include "commands.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "docjson.h"
#include "items.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "ostime.h"
#include "runtime.h"
#include "table.h"
#include "terminal.h"

namespace nsfdb {
namespace {

WORD ParseNoteClass(const CommandLine& line) {
    std::string text = line.Value("--class", "1");
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno == ERANGE || value == 0 || value > MAXWORD ||
        text[0] == '-')
        throw UsageError("--class must be a note class such as 1 (documents) or 0x8 (views), not " +
                         Quoted(text));
    return (WORD)value;
}

UNIVERSALNOTEID WriteDocument(const Database& db, const DocumentInput& document) {
    auto open = [&] {
        return document.unid ? Note::OpenByUnid(db, *document.unid) : Note::Create(db);
    };
    auto apply = [&](Note& note) {
        for (const auto& [name, value] : document.items) {
            if (value)
                WriteItem(note.handle(), name, *value);
            else
                RemoveItem(note.handle(), name);
        }
    };
    return SaveNote(open, apply);
}

// A document already deleted counts as done, so that a reader may repeat
// a deletion it is not sure went through.
void DeleteDocument(const Database& db, const std::string& unidText) {
    UNIVERSALNOTEID unid = ParseUnidOrFail(unidText);
    NOTEID id = 0;
    std::string document = "document " + unidText + " in " + db.Describe();
    STATUS status = NSFDbGetNoteInfoByUNID(db.handle(), &unid, &id, nullptr, nullptr, nullptr);
    if (ERR(status) == ERR_NOTE_DELETED) return ReportError(document + " was already deleted");
    Check(status, "cannot find " + document);
    Check(NSFNoteDelete(db.handle(), id, 0), "cannot delete " + document);
}

UNIVERSALNOTEID UnidOfListed(const Database& db, const ListedNote& note) {
    ORIGINATORID oid;
    std::memset(&oid, 0, sizeof(oid));
    STATUS status = NSFDbGetNoteInfo(db.handle(), note.id, &oid, nullptr, nullptr);
    if (ERR(status) != ERR_NOTE_DELETED)
        Check(status, "cannot read note ID " + std::to_string(note.id) + " of " + db.Describe());
    return UNIVERSALNOTEID{oid.File, oid.Note};
}

bool IsWildcard(const TIMEDATE& time) {
    TIMEDATE wildcard;
    TimeConstant(TIMEDATE_WILDCARD, &wildcard);
    return time.Innards[0] == wildcard.Innards[0] && time.Innards[1] == wildcard.Innards[1];
}

std::string ListingTime(const TIMEDATE& time) {
    return IsWildcard(time) ? "wildcard" : TimeTextOr(time, "unknown");
}

// The wildcard is null in JSON.
Json ListingTimeJson(const TIMEDATE& time) {
    return IsWildcard(time) ? Json() : Json(TimeTextOr(time, "unknown"));
}

void PrintListingText(const Database& db, const TIMEDATE& since, const TIMEDATE& until,
                      const std::vector<ListedNote>& notes) {
    std::cout << "Since: " << ListingTime(since) << '\n'
              << "Until: " << ListingTime(until) << '\n'
              << "Notes: " << notes.size() << '\n'
              << "NoteID      Deleted  UNID\n";
    for (const ListedNote& note : notes) {
        std::string id = std::to_string(note.id);
        id.resize(std::max<size_t>(id.size() + 1, 12), ' ');
        std::cout << id << (note.deleted ? "yes      " : "no       ")
                  << UnidText(UnidOfListed(db, note)) << '\n';
    }
}

void PrintListingJson(const Database& db, const TIMEDATE& since, const TIMEDATE& until,
                      const std::vector<ListedNote>& notes) {
    Json listed = Json::array();
    for (const ListedNote& note : notes)
        listed.push_back({{"noteid", note.id}, {"unid", UnidText(UnidOfListed(db, note))},
                          {"deleted", note.deleted}});
    Json listing = {{"since", ListingTimeJson(since)}, {"until", ListingTimeJson(until)},
                    {"notes", std::move(listed)}};
    std::cout << JsonLine(listing) << '\n';
}

// The time that the stub of a note deleted then holds.
TIMEDATE DeletionTime(const Database& db, NOTEID id) {
    TIMEDATE deleted = {{0, 0}};
    STATUS status = NSFDbGetNoteInfo(db.handle(), id, nullptr, &deleted, nullptr);
    if (ERR(status) != ERR_NOTE_DELETED)
        Check(status, "cannot read the deletion stub of note ID " + std::to_string(id) + " of " + db.Describe());
    return deleted;
}

bool IsClear(const TIMEDATE& time) { return time.Innards[0] == 0 && time.Innards[1] == 0; }

std::string LastModified(const Database& db) {
    TIMEDATE data, design;
    Check(NSFDbModifiedTime(db.handle(), &data, &design),
          "cannot read the modification time of " + db.Describe());
    const TIMEDATE& later = TimeDateCompare(&data, &design) >= 0 ? data : design;
    return IsClear(later) ? "never" : TimeTextOr(later, "unknown");
}

// The table's width: --width, else the terminal's when standard output
// is one, else no limit (0).
size_t TableWidth(const CommandLine& line) {
    if (line.Has("--width")) return ParseCount(line.Value("--width"), "--width", 0, 100000);
    return TerminalColumns();
}

// One ITEM=VALUE condition of find.
struct TextCondition {
    std::string item;
    std::string value;
};

std::vector<TextCondition> ParseConditions(const std::vector<std::string>& args) {
    std::vector<TextCondition> conditions;
    for (size_t i = 1; i < args.size(); ++i) {
        size_t equals = args[i].find('=');
        if (equals == std::string::npos || equals == 0)
            throw UsageError("find needs ITEM=VALUE, not " + Quoted(args[i]));
        conditions.push_back({args[i].substr(0, equals), args[i].substr(equals + 1)});
    }
    return conditions;
}

bool MeetsAll(const std::vector<Item>& items, const std::vector<TextCondition>& conditions) {
    for (const TextCondition& condition : conditions) {
        std::vector<std::string> entries = TextEntriesOf(items, condition.item);
        if (std::find(entries.begin(), entries.end(), condition.value) == entries.end()) return false;
    }
    return true;
}

std::string ConditionsText(const std::vector<std::string>& args) {
    std::string text;
    for (size_t i = 1; i < args.size(); ++i) text += (i > 1 ? " " : "") + Quoted(args[i]);
    return text;
}

}  // namespace

void ReportError(const std::string& message) { std::cerr << "nsfdb: " << message << '\n'; }

int RunCreate(const CommandLine& line) {
    if (line.Has("--from") && line.Value("--from").empty())
        throw UsageError("--from needs a database name");
    NewDatabase created(line.args[0], line.Value("--from"));
    if (line.Has("--title")) created.db().SetTitle(line.Value("--title"));
    std::string title = created.db().Title();
    created.Keep();
    std::cout << "created " << created.db().Describe() << " titled " << Quoted(title) << '\n';
    return 0;
}

int RunInfo(const CommandLine& line) {
    Database db = Database::Open(line.args[0]);
    std::vector<ListedNote> notes = AllNotes(db, NOTE_CLASS_DOCUMENT);
    size_t stubs = (size_t)std::count_if(notes.begin(), notes.end(),
                                         [](const ListedNote& note) { return note.deleted; });
    std::cout << "Title: " << db.Title() << '\n'
              << "Documents: " << notes.size() - stubs << '\n'
              << "Deletion stubs: " << stubs << '\n'
              << "Last modified: " << LastModified(db) << '\n';
    return 0;
}

int RunPut(const CommandLine& line) {
    Database db = Database::Open(line.args[0]);
    std::string text = ReadTextFile(line.args.size() > 1 ? line.args[1] : "-");
    int failures = 0;
    for (const InputDocument& input : SplitDocuments(text)) {
        try {
            if (!input.error.empty()) throw ToolError(input.error);
            DocumentInput document = DocumentFromJson(input.json);
            if (line.Has("--new")) document.unid.reset();
            std::cout << UnidText(WriteDocument(db, document)) << '\n';
        } catch (const ToolError& e) {
            ++failures;
            ReportError(db.name() + ", " + input.where + ": " + e.what() + " (not written)");
        }
    }
    return failures == 0 ? 0 : kExitFailure;
}

int RunGet(const CommandLine& line) {
    Database db = Database::Open(line.args[0]);
    Note note = Note::OpenByUnid(db, ParseUnidOrFail(line.args[1]));
    std::cout << JsonPretty(NoteToJson(note)) << '\n';
    return 0;
}

int RunFind(const CommandLine& line) {
    std::vector<TextCondition> conditions = ParseConditions(line.args);
    Database db = Database::Open(line.args[0]);
    size_t found = 0;
    for (const ListedNote& listed : AllNotes(db, NOTE_CLASS_DOCUMENT)) {
        if (listed.deleted) continue;
        Note note = Note::OpenById(db, listed.id);
        if (!MeetsAll(ReadItems(note.handle()), conditions)) continue;
        std::cout << UnidText(note.Unid()) << '\n';
        ++found;
    }
    if (found == 0)
        throw ToolError("no document in " + db.Describe() + " holds " + ConditionsText(line.args));
    return 0;
}

int RunDelete(const CommandLine& line) {
    Database db = Database::Open(line.args[0]);
    int failures = 0;
    for (size_t i = 1; i < line.args.size(); ++i) {
        try {
            DeleteDocument(db, line.args[i]);
        } catch (const ToolError& e) {
            ++failures;
            ReportError(e.what());
        }
    }
    return failures == 0 ? 0 : kExitFailure;
}

int RunDump(const CommandLine& line) {
    std::string format = line.Value("--format", "json");
    if (format != "json" && format != "table")
        throw UsageError("--format must be json or table, not " + Quoted(format));
    if (format != "table" && line.Has("--width")) throw UsageError("--width needs --format table");
    WORD noteClass = ParseNoteClass(line);
    unsigned long skip = ParseCount(line.Value("--skip", "0"), "--skip", 0, ULONG_MAX);
    unsigned long after = ParseCount(line.Value("--after", "0"), "--after", 0, MAXDWORD);
    Database db = Database::Open(line.args[0]);
    std::vector<Json> documents;
    int failures = 0;
    for (const ListedNote& listed : AllNotes(db, noteClass)) {
        if (listed.deleted || listed.id <= after) continue;
        if (skip > 0) {
            --skip;
            continue;
        }
        try {
            Json document = NoteToJson(Note::OpenById(db, listed.id));
            if (format == "json")
                std::cout << JsonLine(document) << '\n';
            else
                documents.push_back(std::move(document));
        } catch (const ToolError& e) {
            ++failures;
            ReportError(e.what());
        }
    }
    if (format == "table") PrintTable(documents, std::cout, TableWidth(line));
    return failures == 0 ? 0 : kExitFailure;
}

int RunModified(const CommandLine& line) {
    WORD noteClass = ParseNoteClass(line);
    std::string format = line.Value("--format", "text");
    if (format != "text" && format != "json")
        throw UsageError("--format must be text or json, not " + Quoted(format));
    TIMEDATE since;
    if (line.Has("--since"))
        since = ParseTime(line.Value("--since"), "--since");
    else
        TimeConstant(TIMEDATE_WILDCARD, &since);
    Database db = Database::Open(line.args[0]);
    TIMEDATE until;
    std::vector<ListedNote> notes = ListNotes(db, noteClass, since, &until);
    if (format == "json")
        PrintListingJson(db, since, until, notes);
    else
        PrintListingText(db, since, until, notes);
    return 0;
}

int RunPurge(const CommandLine& line) {
    if (!line.Has("--stubs-older-than")) throw UsageError("purge needs --stubs-older-than DAYS");
    unsigned long days = ParseCount(line.Value("--stubs-older-than"), "--stubs-older-than", 0, 10000);
    TIMEDATE cutoff;
    OSCurrentTIMEDATE(&cutoff);
    Check(TimeDateAdjustSeconds(&cutoff, -(LONG)(days * 86400)), "cannot compute the purge time");
    Database db = Database::Open(line.args[0]);
    size_t purged = 0;
    for (const ListedNote& listed : AllNotes(db, NOTE_CLASS_ALL)) {
        if (!listed.deleted) continue;
        TIMEDATE deleted = DeletionTime(db, listed.id);
        if (days > 0 && TimeDateCompare(&deleted, &cutoff) >= 0) continue;
        Check(NSFNoteDelete(db.handle(), listed.id, UPDATE_NOSTUB),
              "cannot purge the deletion stub of note ID " + std::to_string(listed.id) + " of " + db.Describe());
        ++purged;
    }
    std::cout << "purged " << purged << (purged == 1 ? " deletion stub" : " deletion stubs") << " from "
              << db.Describe() << '\n';
    return 0;
}

}  // namespace nsfdb
