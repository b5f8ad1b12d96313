// instance.cpp - `nsfdb instance`: writes an instance's configuration
// document. A new document gets all fifteen items with the task's
// defaults; an existing one gets only the items the options name (and
// --last-event forgets which input database the stored time belonged to).
// The configuration database is created when missing.
//
// Owned by the nsfdb tool. The item names and kinds are those the task
// reads; the document is found as the task finds it: a document whose
// InstanceID_text equals the name exactly (letter case counts).
#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <utility>

#include "commands.h"
#include "filtercheck.h"
#include "items.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "ostime.h"
#include "runtime.h"

namespace nsfdb {
namespace {

const char kConfigTitle[] = "zelrep Configuration";
const char kInstanceItem[] = "InstanceID_text";
// The task's console status-line name leaves room for this many characters.
constexpr size_t kMaxTaskInstanceName = 54;

// Items to write, in order; a later setting of a name replaces the earlier.
using Settings = std::vector<std::pair<std::string, ItemValue>>;

void Set(Settings* settings, const std::string& name, ItemValue value) {
    for (auto& setting : *settings) {
        if (strcasecmp(setting.first.c_str(), name.c_str()) == 0) {
            setting.second = std::move(value);
            return;
        }
    }
    settings->emplace_back(name, std::move(value));
}

ItemValue Flag(bool on) { return NumberValue(on ? 1 : 0); }

ItemValue LoopDetectId(const std::string& dn) { return TextValue(dn.empty() ? "" : CanonicalName(dn)); }

// The start of the first pass. For an existing input database it is the
// until-time of a listing of its changes since its latest one: every later
// change gets a later time, and nothing written before the set-up counts as
// a change. For a database not there yet it is a second before now, so that
// nothing written from now on shares the set-up time.
ItemValue SetUpTime(const std::string& input) {
    TIMEDATE before;
    OSCurrentTIMEDATE(&before);
    TimeDateAdjustSeconds(&before, -1);
    if (input.empty()) return TimeValue(before);
    try {
        std::optional<Database> db = Database::OpenIfExists(input);
        if (!db) return TimeValue(before);
        TIMEDATE data, design, until;
        Check(NSFDbModifiedTime(db->handle(), &data, &design),
              "cannot read the modification time of " + db->Describe());
        ListNotes(*db, NOTE_CLASS_DOCUMENT, data, &until);
        return TimeValue(until);
    } catch (const ToolError& e) {
        ReportError(std::string("warning: ") + e.what() + "; LastEventTimeStamp_TS is the current time");
        return TimeValue(before);
    }
}

std::string TextOf(const Settings& settings, const std::string& name) {
    for (const auto& setting : settings)
        if (setting.first == name && setting.second.type == TYPE_TEXT) return setting.second.data;
    return "";
}

Settings Defaults(const std::string& instance, const Settings& changes) {
    return {{kInstanceItem, TextValue(instance)},
            {"InputDB_text", TextValue("")},
            {"OutputDB_text", TextValue("")},
            {"LoopDetectID_text", TextValue("")},
            {"LoopDetect_number", Flag(false)},
            {"DirectoryFlag_number", Flag(true)},
            {"AutoRefresh_number", Flag(true)},
            {"ScheduleUnits_text", TextValue("SECONDS")},
            {"ScheduleValue_number", NumberValue(120)},
            {"DNFormat_number", NumberValue(1)},
            {"CheckAttrs_number", Flag(true)},
            {"WriteTimeStamps_number", Flag(false)},
            {"ConsoleTraceLevel_number", NumberValue(1)},
            {"LastEventTimeStamp_TS", SetUpTime(TextOf(changes, "InputDB_text"))},
            {"PublisherFilter_text", TextValue("")}};
}

struct NamedValue {
    const char* name;
    unsigned long value;
};
const NamedValue kDnFormats[] = {{"SLASH", 1}, {"LDAP", 2}, {"LDAP_TYPED", 4}};
const NamedValue kTraceLevels[] = {{"SILENT", 0}, {"NORMAL", 1}, {"VERBOSE", 2}, {"DEBUG", 3}};
const NamedValue kScheduleUnits[] = {{"SECONDS", 1}, {"MINUTES", 60}, {"HOURS", 3600}, {"DAYS", 86400}};
// The task takes no schedule whose interval does not fit 32 bits.
constexpr unsigned long long kMaxScheduleSeconds = 0xFFFFFFFFull;

// One of the names (any case) or a whole number.
template <size_t N>
ItemValue NamedNumber(const std::string& text, const NamedValue (&names)[N], const std::string& what) {
    for (const NamedValue& named : names)
        if (strcasecmp(text.c_str(), named.name) == 0) return NumberValue(named.value);
    std::string choices;
    for (const NamedValue& named : names) choices += std::string(named.name) + ", ";
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(what + " must be one of " + choices + "or a number, not " + Quoted(text));
    return NumberValue(ParseCount(text, what, 0, MAXDWORD));
}

// --schedule N UNITS: the count and the units' name.
std::pair<DWORD, std::string> Schedule(const std::string& count, const std::string& units) {
    DWORD value = (DWORD)ParseCount(count, "--schedule value", 1, MAXDWORD);
    for (const NamedValue& named : kScheduleUnits) {
        if (strcasecmp(units.c_str(), named.name) != 0) continue;
        if ((unsigned long long)value * named.value > kMaxScheduleSeconds)
            throw UsageError("--schedule " + count + " " + named.name + " is longer than the task's longest interval (" +
                             std::to_string(kMaxScheduleSeconds) + " seconds)");
        return {value, named.name};
    }
    throw UsageError("--schedule units must be SECONDS, MINUTES, HOURS or DAYS, not " + Quoted(units));
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           strcasecmp(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

NUMBER ParseNumber(const std::string& text, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value))
        throw UsageError(what + " must be a number, not " + Quoted(text));
    return value;
}

// --set ITEM=VALUE: the name's ending gives the kind.
void SetItem(Settings* settings, const std::string& assignment) {
    size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0)
        throw UsageError("--set needs ITEM=VALUE, not " + Quoted(assignment));
    std::string name = assignment.substr(0, equals);
    std::string text = assignment.substr(equals + 1);
    if (EndsWith(name, "_number"))
        Set(settings, name, NumberValue(ParseNumber(text, "--set " + name)));
    else if (EndsWith(name, "_TS"))
        Set(settings, name, TimeValue(ParseTime(text, "--set " + name)));
    else
        Set(settings, name, TextValue(text));
}

struct SwitchOption {
    const char* option;
    const char* item;
};
const SwitchOption kSwitches[] = {{"--loop-detect", "LoopDetect_number"},
                                  {"--directory", "DirectoryFlag_number"},
                                  {"--auto-refresh", "AutoRefresh_number"},
                                  {"--check-attrs", "CheckAttrs_number"},
                                  {"--write-timestamps", "WriteTimeStamps_number"}};

bool ApplySwitch(Settings* settings, const std::string& option, const std::string& value) {
    for (const SwitchOption& entry : kSwitches) {
        if (option != entry.option) continue;
        Set(settings, entry.item, Flag(ParseSwitch(value, option)));
        return true;
    }
    return false;
}

// The filter file's text, refused when the task would not read it as
// written; its classes are checked against --input when given.
std::string CheckedFilter(const CommandLine& line, const std::string& file) {
    std::string text = ReadTextFile(file);
    FilterReport report = CheckFilter(text);
    if (!report.faults.empty())
        throw ToolError("the filter is not written (nsfdb filter check tells the same):\n" +
                        FaultsText(report, file) + "instance unchanged");
    if (line.Has("--input")) WarnAboutClasses(report, file, line.Value("--input"));
    return text;
}

// The options in the order given; the last one for an item wins.
void ApplyOptions(const CommandLine& line, Settings* settings) {
    for (const auto& [option, values] : line.options) {
        if (ApplySwitch(settings, option, values[0])) continue;
        if (option == "--input")
            Set(settings, "InputDB_text", TextValue(values[0]));
        else if (option == "--output")
            Set(settings, "OutputDB_text", TextValue(values[0]));
        else if (option == "--filter")
            Set(settings, "PublisherFilter_text", TextValue(CheckedFilter(line, values[0])));
        else if (option == "--schedule") {
            std::pair<DWORD, std::string> schedule = Schedule(values[0], values[1]);
            Set(settings, "ScheduleValue_number", NumberValue(schedule.first));
            Set(settings, "ScheduleUnits_text", TextValue(schedule.second));
        } else if (option == "--loop-detect-id")
            Set(settings, "LoopDetectID_text", LoopDetectId(values[0]));
        else if (option == "--dn-format")
            Set(settings, "DNFormat_number", NamedNumber(values[0], kDnFormats, option));
        else if (option == "--trace")
            Set(settings, "ConsoleTraceLevel_number", NamedNumber(values[0], kTraceLevels, option));
        else if (option == "--last-event") {
            // A time given belongs to whatever input database the next pass
            // finds: the task takes that database's replica ID with it.
            Set(settings, "LastEventTimeStamp_TS", TimeValue(ParseTime(values[0], option)));
            Set(settings, "InputDBReplicaID_text", TextValue(""));
        }
        else if (option == "--set")
            SetItem(settings, values[0]);
    }
}

// Refuses a name the task could not load; warns of one it would not find
// from its command line.
void CheckName(const std::string& instance) {
    if (instance.find('"') != std::string::npos)
        throw UsageError("instance: the task cannot load an instance name containing a double quote: " +
                         Quoted(instance));
    if (instance.size() > kMaxTaskInstanceName)
        throw UsageError("instance: the task cannot load an instance name longer than " +
                         std::to_string(kMaxTaskInstanceName) + " characters (" + std::to_string(instance.size()) +
                         " given)");
    for (char c : instance) {
        if (c >= 'a' && c <= 'z') {
            ReportError("warning: the task upper-cases the instance name of its command line; this "
                 "document is found only by SETINSTANCE or another exact name");
            return;
        }
    }
}

bool HoldsInstance(const Note& note, const std::string& instance) {
    std::vector<std::string> entries = TextEntriesOf(ReadItems(note.handle()), kInstanceItem);
    return !entries.empty() && entries[0] == instance;
}

// The instance's document; when there are several, the last one, as the
// task takes it.
std::optional<NOTEID> FindInstance(const Database& db, const std::string& instance) {
    std::vector<NOTEID> found;
    for (const ListedNote& listed : AllNotes(db, NOTE_CLASS_DOCUMENT))
        if (!listed.deleted && HoldsInstance(Note::OpenById(db, listed.id), instance))
            found.push_back(listed.id);
    if (found.empty()) return std::nullopt;
    if (found.size() > 1)
        ReportError("warning: " + std::to_string(found.size()) + " documents in " + db.Describe() +
             " hold instance " + Quoted(instance) + "; changing note ID " +
             std::to_string(found.back()) + ", the one the task uses");
    return found.back();
}

UNIVERSALNOTEID WriteSettings(const Database& db, std::optional<NOTEID> existing,
                              const Settings& settings) {
    auto open = [&] { return existing ? Note::OpenById(db, *existing) : Note::Create(db); };
    auto apply = [&](Note& note) {
        for (const auto& [name, value] : settings) {
            try {
                WriteItem(note.handle(), name, value);
            } catch (const ToolError& e) {
                throw ToolError("item " + Quoted(name) + " of " + note.Describe() + ": " + e.what());
            }
        }
    };
    return SaveNote(open, apply);
}

std::string ItemNames(const Settings& settings) {
    std::string names;
    for (const auto& setting : settings) names += (names.empty() ? "" : ", ") + setting.first;
    return names;
}

}  // namespace

int RunInstance(const CommandLine& line) {
    const std::string& file = line.args[0];
    const std::string& instance = line.args[1];
    if (instance.empty()) throw UsageError("instance: the instance name must not be empty");
    CheckName(instance);
    Settings changes;
    ApplyOptions(line, &changes);

    std::optional<NewDatabase> created;
    std::optional<Database> opened = Database::OpenIfExists(file);
    if (!opened) {
        created.emplace(file, "");
        created->db().SetTitle(kConfigTitle);
    }
    const Database& db = opened ? *opened : created->db();

    std::optional<NOTEID> existing = FindInstance(db, instance);
    Settings settings = existing ? Settings() : Defaults(instance, changes);
    for (const auto& [name, value] : changes) Set(&settings, name, value);
    if (settings.empty()) {
        std::cout << "instance " << Quoted(instance) << " in " << db.Describe()
                  << " unchanged (no items given)\n";
        return 0;
    }
    UNIVERSALNOTEID unid = WriteSettings(db, existing, settings);
    if (created) created->Keep();
    std::cout << (existing ? "updated" : "created") << " instance " << Quoted(instance) << " in "
              << db.Describe() << " (document " << UnidText(unid) << "): " << ItemNames(settings)
              << '\n';
    return 0;
}

}  // namespace nsfdb
