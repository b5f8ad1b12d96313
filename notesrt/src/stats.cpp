// stats.cpp - StatUpdate, StatDelete, StatTraverse, StatQuery, StatToText
// and the listing that nserver's "show stat" uses.
//
// A process keeps its own statistics in memory and, after each change,
// publishes all of them as one file DATA/.notesrt/stats/<token> (procfiles.h), so
// a reader gets the set of one moment. One line a statistic:
//   <type> TAB <flags> TAB <ticks of the update> TAB <facility> TAB <name> TAB <value>
// with a LONG or NUMBER in decimal, a TIMEDATE as two hex words and a text
// as it is: names and texts hold no control characters, so neither a tab
// nor a newline. Readers gather the files of the live processes, drop the
// older instances of unique statistics and sort by full name.
#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "memory.h"
#include "misc.h"
#include "nrt_server.h"
#include "platform.h"
#include "procfiles.h"
#include "statsrt.h"
#include "status.h"
#include "timeutil.h"

namespace nrt {
namespace {

constexpr const char* kStatsPart = "stats";
constexpr size_t kMaxStatName = 127;
constexpr size_t kMaxStatText = 511;
constexpr WORD kKnownFlags = ST_UNIQUE | ST_ADDITIVE;
// The documented way to ask for another instance, not a set of flags.
constexpr WORD kAnotherInstance = WORD(~ST_UNIQUE);

struct Statistic {
    std::string facility;
    std::string name;
    WORD type = VT_LONG;
    WORD flags = 0;
    int64_t updated = 0;  // ticks (timeutil.h)
    LONG longValue = 0;
    NUMBER number = 0;
    TIMEDATE time = {{0, 0}};
    std::string text;
    DWORD pid = 0;     // of the process that set it (read from its file)
    std::string line;  // of this process's: its line in the file
};

std::string Upper(const std::string& text) {
    std::string upper = text;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return upper;
}

std::string FullName(const std::string& facility, const std::string& name) {
    return facility + "." + name;
}

// Identity and order: the full name without regard to case.
std::string KeyOf(const Statistic& stat) { return Upper(FullName(stat.facility, stat.name)); }

const void* ValueOf(const Statistic& stat) {
    switch (stat.type) {
        case VT_LONG: return &stat.longValue;
        case VT_NUMBER: return &stat.number;
        case VT_TIMEDATE: return &stat.time;
        default: return stat.text.c_str();
    }
}

std::string ValueText(WORD type, const void* value) {
    char buffer[MAXALPHATIMEDATE + 1];
    switch (type) {
        case VT_LONG: return std::to_string(*static_cast<const LONG*>(value));
        case VT_NUMBER:
            std::snprintf(buffer, sizeof(buffer), "%.15g", *static_cast<const NUMBER*>(value));
            return buffer;
        case VT_TIMEDATE: {
            WORD length = 0;
            if (ConvertTIMEDATEToText(nullptr, nullptr, static_cast<const TIMEDATE*>(value), buffer,
                                      MAXALPHATIMEDATE, &length) != NOERROR)
                length = 0;
            return std::string(buffer, length);
        }
        case VT_TEXT: return static_cast<const char*>(value);
        default: return "";
    }
}

const char* TypeName(WORD type) {
    switch (type) {
        case VT_LONG: return "LONG";
        case VT_NUMBER: return "NUMBER";
        case VT_TIMEDATE: return "TIMEDATE";
        default: return "TEXT";
    }
}

bool ValidName(const char* name) {
    if (name == nullptr) return false;
    size_t length = std::strlen(name);
    if (length == 0 || length > kMaxStatName) return false;
    for (size_t i = 0; i < length; ++i)
        if ((unsigned char)name[i] < 0x20 || name[i] == 0x7F) return false;
    return true;
}

// --- the file of one process ---

std::string EncodeValue(const Statistic& stat) {
    char buffer[40];
    switch (stat.type) {
        case VT_LONG: return std::to_string(stat.longValue);
        case VT_NUMBER: std::snprintf(buffer, sizeof(buffer), "%.17g", stat.number); return buffer;
        case VT_TIMEDATE:
            std::snprintf(buffer, sizeof(buffer), "%08X %08X", unsigned(stat.time.Innards[0]),
                          unsigned(stat.time.Innards[1]));
            return buffer;
        default: return stat.text;
    }
}

bool DecodeValue(const std::string& text, Statistic* stat) {
    char* end = nullptr;
    switch (stat->type) {
        case VT_LONG: stat->longValue = LONG(std::strtol(text.c_str(), &end, 10)); break;
        case VT_NUMBER: stat->number = std::strtod(text.c_str(), &end); break;
        case VT_TIMEDATE: {
            unsigned low = 0, high = 0;
            if (std::sscanf(text.c_str(), "%8X %8X", &low, &high) != 2) return false;
            stat->time.Innards[0] = low;
            stat->time.Innards[1] = high;
            return true;
        }
        case VT_TEXT: stat->text = text; return true;
        default: return false;
    }
    return end != text.c_str() && *end == '\0';
}

std::string EncodeLine(const Statistic& stat) {
    return std::to_string(stat.type) + '\t' + std::to_string(stat.flags) + '\t' +
           std::to_string(stat.updated) + '\t' + stat.facility + '\t' + stat.name + '\t' +
           EncodeValue(stat) + '\n';
}

bool DecodeLine(const std::string& line, DWORD pid, Statistic* stat) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (int i = 0; i < 5; ++i) {
        size_t tab = line.find('\t', start);
        if (tab == std::string::npos) return false;
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    stat->type = WORD(std::strtoul(fields[0].c_str(), nullptr, 10));
    stat->flags = WORD(std::strtoul(fields[1].c_str(), nullptr, 10));
    stat->updated = std::strtoll(fields[2].c_str(), nullptr, 10);
    stat->facility = fields[3];
    stat->name = fields[4];
    stat->pid = pid;
    return ValidName(stat->facility.c_str()) && ValidName(stat->name.c_str()) &&
           DecodeValue(line.substr(start), stat);
}

void DecodeFile(const LiveFile& file, std::vector<Statistic>* stats) {
    std::istringstream in(file.content);
    for (std::string line; std::getline(in, line);) {
        Statistic stat;
        if (DecodeLine(line, file.pid, &stat)) stats->push_back(std::move(stat));
    }
}

// --- this process's statistics ---

struct OwnStatistics {
    std::mutex mutex;
    std::map<std::string, Statistic> byKey;
    unsigned long owner = 0;  // a forked child starts with none of its parent's
};

OwnStatistics& Own() {
    static OwnStatistics own;
    return own;
}

// Called with the mutex held.
std::map<std::string, Statistic>& OwnMap(OwnStatistics& own) {
    if (own.owner != ProcessId()) {
        own.byKey.clear();
        own.owner = ProcessId();
    }
    return own.byKey;
}

STATUS PublishOwn(const std::map<std::string, Statistic>& stats) {
    OwnFile file = NewOwnFile(kStatsPart, "");
    if (stats.empty()) {
        RemoveOwnFile(file);
        return NOERROR;
    }
    std::string content;
    for (const auto& entry : stats) content += entry.second.line;
    return ReplaceOwnFile(file, content);
}

// Gives stat the value of the update (added to its old one with
// ST_ADDITIVE); false when the arguments are refused.
bool ApplyUpdate(WORD flags, WORD type, const void* value, bool existed, Statistic* stat) {
    bool additive = flags != kAnotherInstance && (flags & ST_ADDITIVE) != 0;
    if (additive && (type == VT_TEXT || type == VT_TIMEDATE || (existed && stat->type != type)))
        return false;
    if (!additive) {
        stat->longValue = 0;
        stat->number = 0;
    }
    switch (type) {
        case VT_LONG:
            // A counter wraps around rather than overflow.
            stat->longValue =
                LONG(uint32_t(stat->longValue) + uint32_t(*static_cast<const LONG*>(value)));
            break;
        case VT_NUMBER: {
            NUMBER sum = stat->number + *static_cast<const NUMBER*>(value);
            if (!std::isfinite(sum)) return false;
            stat->number = sum;
            break;
        }
        case VT_TIMEDATE: stat->time = *static_cast<const TIMEDATE*>(value); break;
        case VT_TEXT: stat->text = OneLine(static_cast<const char*>(value), kMaxStatText); break;
        default: return false;
    }
    if (type != VT_TEXT) stat->text.clear();
    stat->type = type;
    stat->flags = flags == kAnotherInstance ? 0 : flags;
    return true;
}

// An update that changes nothing others can see need not be published; a
// unique statistic always is, since another process may have set it since.
bool UnchangedForOthers(const Statistic& before, const Statistic& after) {
    return (after.flags & ST_UNIQUE) == 0 && before.type == after.type &&
           before.flags == after.flags && before.facility == after.facility &&
           before.name == after.name && EncodeValue(before) == EncodeValue(after);
}

// --- readers ---

// Every live statistic of the data directory ordered by full name (then
// process); of a unique statistic only the latest instance.
std::vector<Statistic> LiveStatistics() {
    std::vector<Statistic> all;
    for (const LiveFile& file : LiveFiles(kStatsPart)) DecodeFile(file, &all);
    std::vector<std::pair<std::string, Statistic>> keyed;
    for (Statistic& stat : all) keyed.emplace_back(KeyOf(stat), std::move(stat));
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.pid < b.second.pid;
    });
    std::vector<Statistic> listed;
    for (size_t begin = 0, end; begin < keyed.size(); begin = end) {
        bool unique = false;
        size_t latest = begin;
        for (end = begin; end < keyed.size() && keyed[end].first == keyed[begin].first; ++end) {
            unique = unique || (keyed[end].second.flags & ST_UNIQUE) != 0;
            if (keyed[end].second.updated > keyed[latest].second.updated) latest = end;
        }
        if (unique) {
            listed.push_back(std::move(keyed[latest].second));
            continue;
        }
        for (size_t i = begin; i < end; ++i) listed.push_back(std::move(keyed[i].second));
    }
    return listed;
}

bool EqualIgnoringCase(const char* wanted, const std::string& name) {
    return wanted == nullptr || Upper(wanted) == Upper(name);
}

// '*' stands for any run of characters, also for none.
bool GlobMatch(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p, ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// A pattern matches the full name, or its start up to a dot: "ZELREP"
// is read as "ZELREP.*".
bool StatisticMatches(const char* pattern, const std::string& fullName) {
    if (pattern == nullptr || *pattern == '\0') return true;
    std::string upperPattern = Upper(pattern);
    std::string upperName = Upper(fullName);
    return GlobMatch(upperPattern, upperName) || GlobMatch(upperPattern + ".*", upperName);
}

}  // namespace

void DeleteAllStatistics() {
    OwnStatistics& own = Own();
    std::lock_guard<std::mutex> lock(own.mutex);
    std::map<std::string, Statistic>& stats = OwnMap(own);
    if (stats.empty()) return;
    stats.clear();
    PublishOwn(stats);
}

}  // namespace nrt

using nrt::Statistic;

extern "C" {

STATUS LNPUBLIC StatUpdate(const char* Facility, const char* StatName, WORD Flags, WORD ValueType,
                           const void* Value) {
    if (!nrt::ValidName(Facility) || !nrt::ValidName(StatName) || Value == nullptr ||
        ValueType > VT_NUMBER ||
        (Flags != nrt::kAnotherInstance && (Flags & ~nrt::kKnownFlags) != 0))
        return ERR_BAD_PARAM;
    nrt::OwnStatistics& own = nrt::Own();
    std::lock_guard<std::mutex> lock(own.mutex);
    std::map<std::string, Statistic>& stats = nrt::OwnMap(own);
    std::string key = nrt::Upper(nrt::FullName(Facility, StatName));
    auto found = stats.find(key);
    bool existed = found != stats.end();
    Statistic updated = existed ? found->second : Statistic();
    if (!nrt::ApplyUpdate(Flags, ValueType, Value, existed, &updated)) return ERR_BAD_PARAM;
    updated.facility = Facility;
    updated.name = StatName;
    if (existed && nrt::UnchangedForOthers(found->second, updated)) return NOERROR;
    updated.updated = nrt::CurrentTicks();
    updated.line = nrt::EncodeLine(updated);
    std::swap(stats[key], updated);  // updated now holds the old value, if any
    STATUS status = nrt::PublishOwn(stats);
    if (status == NOERROR) return NOERROR;
    // Not published: this process keeps what the others still see.
    if (existed)
        stats[key] = std::move(updated);
    else
        stats.erase(key);
    return status;
}

void LNPUBLIC StatDelete(const char* Facility, const char* StatName) {
    if (Facility == nullptr || StatName == nullptr) return;
    nrt::OwnStatistics& own = nrt::Own();
    std::lock_guard<std::mutex> lock(own.mutex);
    std::map<std::string, Statistic>& stats = nrt::OwnMap(own);
    if (stats.erase(nrt::Upper(nrt::FullName(Facility, StatName))) > 0) nrt::PublishOwn(stats);
}

void LNPUBLIC StatTraverse(const char* Facility, const char* StatName, STATTRAVERSEPROC Routine,
                           void* Context) {
    if (Routine == nullptr) return;
    for (const Statistic& stat : nrt::LiveStatistics()) {
        if (!nrt::EqualIgnoringCase(Facility, stat.facility) ||
            !nrt::EqualIgnoringCase(StatName, stat.name))
            continue;
        STATUS status = Routine(Context, const_cast<char*>(stat.facility.c_str()),
                                const_cast<char*>(stat.name.c_str()), stat.type,
                                const_cast<void*>(nrt::ValueOf(stat)));
        if (status != NOERROR) return;
    }
}

STATUS LNPUBLIC StatQuery(const char* HeaderString, const char* NamePrefix, const char* ValuePrefix,
                          const char* LineSuffix, DHANDLE* rethStats, DWORD* retStatsLength) {
    if (rethStats == nullptr) return ERR_BAD_PARAM;
    *rethStats = NULLHANDLE;
    if (retStatsLength != nullptr) *retStatsLength = 0;
    auto text = [](const char* given) { return std::string(given ? given : ""); };
    std::string formatted = text(HeaderString);
    for (const Statistic& stat : nrt::LiveStatistics())
        formatted += text(NamePrefix) + nrt::FullName(stat.facility, stat.name) +
                     text(ValuePrefix) + nrt::ValueText(stat.type, nrt::ValueOf(stat)) +
                     text(LineSuffix);
    STATUS status = NOERROR;
    DHANDLE block = nrt::AllocBlockWith(formatted + '\0', &status);
    if (block == NULLHANDLE) return status;
    *rethStats = block;
    if (retStatsLength != nullptr) *retStatsLength = DWORD(formatted.size());
    return NOERROR;
}

void LNPUBLIC StatToText(const char* Facility, const char* StatName, WORD ValueType,
                         const void* Value, char* NameBuffer, WORD NameBufferLen, char* ValueBuffer,
                         WORD ValueBufferLen) {
    auto copy = [](const std::string& text, char* buffer, WORD length) {
        if (buffer == nullptr || length == 0) return;
        size_t size = std::min(text.size(), size_t(length - 1));
        std::memcpy(buffer, text.data(), size);
        buffer[size] = '\0';
    };
    copy(nrt::FullName(Facility ? Facility : "", StatName ? StatName : ""), NameBuffer,
         NameBufferLen);
    copy(Value ? nrt::ValueText(ValueType, Value) : "", ValueBuffer, ValueBufferLen);
}

STATUS LNPUBLIC NRTEnumStatistics(const char* pattern, NRTSTATPROC callback, void* context) {
    if (callback == nullptr) return ERR_BAD_PARAM;
    for (const Statistic& stat : nrt::LiveStatistics()) {
        std::string fullName = nrt::FullName(stat.facility, stat.name);
        if (!nrt::StatisticMatches(pattern, fullName)) continue;
        std::string valueText = nrt::ValueText(stat.type, nrt::ValueOf(stat));
        NRTSTATINFO info;
        info.Facility = stat.facility.c_str();
        info.StatName = stat.name.c_str();
        info.FullName = fullName.c_str();
        info.ValueType = stat.type;
        info.TypeName = nrt::TypeName(stat.type);
        info.Value = nrt::ValueOf(stat);
        info.ValueText = valueText.c_str();
        info.Pid = stat.pid;
        info.Updated = nrt::TimedateFromTicks(stat.updated);
        STATUS status = callback(context, &info);
        if (status != NOERROR) return status;
    }
    return NOERROR;
}

}  // extern "C"
