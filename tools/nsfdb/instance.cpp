// instance.cpp - `nsfdb instance`: writes an instance's configuration
// document. A new document gets all fifteen items with the task's
// defaults; an existing one gets only the items the options name (and
// --last-event forgets which input database the stored time belonged to).
// The configuration database is created when missing.
//
// Owned by the nsfdb tool. The item names, defaults, words and limits are
// the task's own (cfgschema.h); the document is found as the task finds it:
// by the task's search formula, then the document whose InstanceID_text
// equals the name exactly (letter case counts).
#include <string.h>
#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <utility>

#include "cfgschema.h"
#include "commands.h"
#include "filtercheck.h"
#include "items.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "nsfsearch.h"
#include "osmem.h"
#include "ostime.h"
#include "runtime.h"
#include "schedule.h"

namespace nsfdb {
namespace {

const char kConfigTitle[] = "zelrep Configuration";
// The name of the item of index CFG_... in the task's item table.
std::string Item(int index) { return cfg_db_field[index].name; }

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
    return {{Item(CFG_INSTANCEID), TextValue(instance)},
            {Item(CFG_INPUTDB), TextValue("")},
            {Item(CFG_OUTPUTDB), TextValue("")},
            {Item(CFG_LOOPDETECTID), TextValue("")},
            {Item(CFG_LOOPDETECT), Flag(CFG_DEFAULT_LOOPDETECT)},
            {Item(CFG_DIRECTORYFLAG), Flag(CFG_DEFAULT_DIRECTORYFLAG)},
            {Item(CFG_AUTOREFRESH), Flag(CFG_DEFAULT_AUTOREFRESH)},
            {Item(CFG_SCHEDULEUNITS), TextValue(cfg_schedule_units[CFG_DEFAULT_SCHEDULEUNITS].word)},
            {Item(CFG_SCHEDULEVALUE), NumberValue(CFG_DEFAULT_SCHEDULEVALUE)},
            {Item(CFG_DNFORMAT), NumberValue(CFG_DEFAULT_DNFORMAT)},
            {Item(CFG_CHECKATTRS), Flag(CFG_DEFAULT_CHECKATTRS)},
            {Item(CFG_WRITETIMESTAMPS), Flag(CFG_DEFAULT_WRITETIMESTAMPS)},
            {Item(CFG_TRACELEVEL), NumberValue(CFG_DEFAULT_TRACELEVEL)},
            {Item(CFG_LASTEVENT), SetUpTime(TextOf(changes, Item(CFG_INPUTDB)))},
            {Item(CFG_PUBLISHERFILTER), TextValue("")}};
}

// One of the words (any case) or a whole number.
template <size_t N>
ItemValue NamedNumber(const std::string& text, const CFG_WORD (&names)[N], const std::string& what) {
    for (const CFG_WORD& named : names)
        if (strcasecmp(text.c_str(), named.word) == 0) return NumberValue(named.value);
    std::string choices;
    for (const CFG_WORD& named : names) choices += std::string(named.word) + ", ";
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(what + " must be one of " + choices + "or a number, not " + Quoted(text));
    return NumberValue(ParseCount(text, what, 0, MAXDWORD));
}

// --schedule N UNITS: the count and the units' name.
// The task takes no schedule whose interval does not fit 32 bits.
std::pair<DWORD, std::string> ParseSchedule(const std::string& count, const std::string& units) {
    DWORD value = (DWORD)ParseCount(count, "--schedule value", 1, MAXDWORD);
    for (const CFG_WORD& named : cfg_schedule_units) {
        if (strcasecmp(units.c_str(), named.word) != 0) continue;
        unsigned long seconds = 0;
        if (!Schedule::Interval(value, named.value, &seconds))
            throw UsageError("--schedule " + count + " " + named.word + " is longer than the task's longest interval (" +
                             std::to_string(Schedule::kMaxInterval) + " seconds)");
        return {value, named.word};
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
    int item;
};
const SwitchOption kSwitches[] = {{"--loop-detect", CFG_LOOPDETECT},
                                  {"--directory", CFG_DIRECTORYFLAG},
                                  {"--auto-refresh", CFG_AUTOREFRESH},
                                  {"--check-attrs", CFG_CHECKATTRS},
                                  {"--write-timestamps", CFG_WRITETIMESTAMPS}};

bool ApplySwitch(Settings* settings, const std::string& option, const std::string& value) {
    for (const SwitchOption& entry : kSwitches) {
        if (option != entry.option) continue;
        Set(settings, Item(entry.item), Flag(ParseSwitch(value, option)));
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
            Set(settings, Item(CFG_INPUTDB), TextValue(values[0]));
        else if (option == "--output")
            Set(settings, Item(CFG_OUTPUTDB), TextValue(values[0]));
        else if (option == "--filter")
            Set(settings, Item(CFG_PUBLISHERFILTER), TextValue(CheckedFilter(line, values[0])));
        else if (option == "--schedule") {
            std::pair<DWORD, std::string> schedule = ParseSchedule(values[0], values[1]);
            Set(settings, Item(CFG_SCHEDULEVALUE), NumberValue(schedule.first));
            Set(settings, Item(CFG_SCHEDULEUNITS), TextValue(schedule.second));
        } else if (option == "--loop-detect-id")
            Set(settings, Item(CFG_LOOPDETECTID), LoopDetectId(values[0]));
        else if (option == "--dn-format")
            Set(settings, Item(CFG_DNFORMAT), NamedNumber(values[0], cfg_dn_formats, option));
        else if (option == "--trace")
            Set(settings, Item(CFG_TRACELEVEL), NamedNumber(values[0], cfg_trace_levels, option));
        else if (option == "--last-event") {
            // A time given belongs to whatever input database the next pass
            // finds: the task takes that database's replica ID with it.
            Set(settings, Item(CFG_LASTEVENT), TimeValue(ParseTime(values[0], option)));
            Set(settings, Item(CFG_INPUTIDENTITY), TextValue(""));
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
    if (instance.size() > (size_t)MAX_INSTANCE_NAME)
        throw UsageError("instance: the task cannot load an instance name longer than " +
                         std::to_string(MAX_INSTANCE_NAME) + " characters (" + std::to_string(instance.size()) +
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
    std::vector<std::string> entries = TextEntriesOf(ReadItems(note.handle()), Item(CFG_INSTANCEID));
    return !entries.empty() && entries[0] == instance;
}

STATUS LNCALLBACK CollectSelected(void* parameter, SEARCH_MATCH* match, ITEM_TABLE* /*summary*/) {
    SEARCH_MATCH found;
    memcpy(&found, match, sizeof(found));
    if (found.SERetFlags & SE_FMATCH) static_cast<std::vector<NOTEID>*>(parameter)->push_back(found.ID.NoteID);
    return NOERROR;
}

// The documents that the task's instance formula selects, in search order.
std::vector<NOTEID> SelectedByInstanceFormula(const Database& db, const std::string& instance) {
    std::vector<char> escaped(2 * instance.size() + 1);
    EscapeFormulaText(escaped.data(), instance.c_str());
    std::vector<char> formula(sizeof(CFG_INSTANCE_FORMULA) + escaped.size());
    snprintf(formula.data(), formula.size(), CFG_INSTANCE_FORMULA, escaped.data());
    FORMULAHANDLE hFormula = NULLHANDLE;
    WORD formulaLength = 0, line = 0, column = 0, offset = 0, errorLength = 0;
    STATUS compileError = NOERROR;
    Check(NSFFormulaCompile(nullptr, 0, formula.data(), (WORD)strlen(formula.data()), &hFormula, &formulaLength,
                            &compileError, &line, &column, &offset, &errorLength),
          "cannot compile the instance formula");
    std::vector<NOTEID> selected;
    TIMEDATE until;
    STATUS status = NSFSearch(db.handle(), hFormula, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr, CollectSelected,
                              &selected, &until);
    OSMemFree(hFormula);
    Check(status, "cannot search " + db.Describe());
    return selected;
}

// The instance's document; when there are several, the last one, as the
// task takes it.
std::optional<NOTEID> FindInstance(const Database& db, const std::string& instance) {
    std::vector<NOTEID> found;
    for (NOTEID id : SelectedByInstanceFormula(db, instance))
        if (HoldsInstance(Note::OpenById(db, id), instance)) found.push_back(id);
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
