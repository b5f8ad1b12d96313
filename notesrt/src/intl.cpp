// intl.cpp - the server's international and time-zone settings
// (OSGetIntlSettings), read from notes.ini in the data directory.
//
// Keys (letter case does not matter; a missing or unreadable value keeps
// the default, and NRTCheckSettings names it):
//   TimeZone=N    hours west of GMT (EST 5, CET -1); a zone with minutes
//                 is written minutes*100+hours (India -3005, Newfoundland
//                 3003). Default: the operating system's zone (its
//                 standard offset, whether it observes daylight time, and
//                 this year's change dates as the daylight rule), so that
//                 console time stamps and Notes times agree.
//   DST=0|1       whether the zone observes daylight saving time. Default 0
//                 with a TimeZone, else the system's.
//   DSTLaw=M,W,D,M,W,D  when daylight time starts and ends: month, week of
//                 the month (1-4, -1 = last), weekday (1 = Sunday), at 02:00
//                 local time. Default 3,2,1,11,1,1 with a TimeZone, else
//                 the system's.
//   DateOrder=YMD|MDY|DMY  order of the date's parts. Default YMD.
//   Clock=12|24   12-hour clock with AM/PM, or 24-hour. Default 12.
// Texts are fixed: "AM", "PM", date separator "/", time separator ":",
// years with four digits, "Yesterday", "Today", "Tomorrow".
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "env.h"
#include "intl.h"
#include "nrt_env.h"
#include "platform.h"
#include "timecalc.h"

namespace nrt {
namespace {

void CopyText(char* field, size_t size, const char* text) {
    std::strncpy(field, text, size - 1);
    field[size - 1] = '\0';
}

std::string UpperSetting(const char* key) {
    std::string value;
    if (!IniSetting(key, &value)) return "";
    for (char& c : value) c = (char)std::toupper((unsigned char)c);
    return value;
}

bool ParseInt(const std::string& text, int* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || parsed < -100000 || parsed > 100000) return false;
    *value = (int)parsed;
    return true;
}

bool ValidLawPart(int month, int week, int weekday) {
    return month >= 1 && month <= 12 && (week == -1 || (week >= 1 && week <= 4)) &&
           weekday >= 1 && weekday <= 7;
}

// The operating system's zone and daylight rule, as far as the rule's
// shape can hold it: this year's change days, at 02:00 local time.
struct SystemZone {
    Zone zone;
    DstLaw law;
};

int WeekOfMonth(int day, int daysInMonth) { return day > daysInMonth - 7 ? -1 : (day - 1) / 7 + 1; }

SystemZone ReadSystemZone() {
    SystemZone system;
    std::time_t now = std::time(nullptr);
    std::tm today;
    GmTime(now, &today);
    std::tm start = {};
    start.tm_year = today.tm_year;
    start.tm_mday = 1;
    std::time_t january = GmTimeToSeconds(&start) + 12 * 3600;  // noon GMT of 1 January
    long standard = 0;
    bool first = true, daylight = false, previous = false;
    for (int day = 0; day < 366; ++day) {
        std::time_t at = january + std::time_t(day) * 86400;
        std::tm local;
        long offset = 0;
        LocalTime(at, &local, &offset);
        if (local.tm_year != today.tm_year) break;
        bool dst = local.tm_isdst > 0;
        if (!dst && (first || offset != standard)) standard = offset;
        if (!first && dst != previous) {
            int week = WeekOfMonth(local.tm_mday, DaysInMonth(local.tm_year + 1900, local.tm_mon + 1));
            int& month = dst ? system.law.startMonth : system.law.endMonth;
            int& weekOf = dst ? system.law.startWeek : system.law.endWeek;
            int& weekday = dst ? system.law.startDay : system.law.endDay;
            month = local.tm_mon + 1;
            weekOf = week;
            weekday = local.tm_wday + 1;
        }
        daylight = daylight || dst;
        previous = dst;
        first = false;
    }
    system.zone.westMinutes = int(-standard / 60);
    system.zone.observesDst = daylight;
    return system;
}

// Read again when the process's TZ changes (tests).
SystemZone CurrentSystemZone() {
    static std::mutex mutex;
    static std::string readFor = "\x01";
    static SystemZone cached;
    const char* tz = std::getenv("TZ");
    std::string key = tz ? tz : "";
    std::lock_guard<std::mutex> lock(mutex);
    if (key != readFor) {
        tzset();
        cached = ReadSystemZone();
        readFor = key;
    }
    return cached;
}

WORD DateOrderFlag() {
    std::string order = UpperSetting("DateOrder");
    if (order == "MDY") return DATE_MDY;
    if (order == "DMY") return DATE_DMY;
    return DATE_YMD;
}

// The rule of notes.ini, valid, or null.
bool IniDstLaw(DstLaw* law) {
    std::string text;
    if (!IniSetting("DSTLaw", &text)) return false;
    int parts[6];
    std::istringstream in(text);
    std::string part;
    for (int& value : parts) {
        if (!std::getline(in, part, ',') || !ParseInt(part, &value)) return false;
    }
    if (!ValidLawPart(parts[0], parts[1], parts[2]) || !ValidLawPart(parts[3], parts[4], parts[5]))
        return false;
    *law = DstLaw{parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]};
    return true;
}

// The format of the settings, without the zone's parts.
INTLFORMAT ReadIntl() {
    INTLFORMAT intl;
    std::memset(&intl, 0, sizeof intl);
    intl.Flags = DateOrderFlag() | DATE_4DIGIT_YEAR;
    if (UpperSetting("Clock") == "24") intl.Flags |= CLOCK_24_HOUR;
    intl.CurrencyDigits = 2;
    intl.Length = (BYTE)sizeof(INTLFORMAT);
    CopyText(intl.AMString, ISTRMAX, "AM");
    CopyText(intl.PMString, ISTRMAX, "PM");
    CopyText(intl.CurrencyString, ISTRMAX, "$");
    CopyText(intl.ThousandString, ISTRMAX, ",");
    CopyText(intl.DecimalString, ISTRMAX, ".");
    CopyText(intl.DateString, ISTRMAX, "/");
    CopyText(intl.TimeString, ISTRMAX, ":");
    CopyText(intl.YesterdayString, YTSTRMAX, "Yesterday");
    CopyText(intl.TodayString, YTSTRMAX, "Today");
    CopyText(intl.TomorrowString, YTSTRMAX, "Tomorrow");
    return intl;
}

Zone ReadServerZone() {
    std::string text;
    if (!IniSetting("TimeZone", &text)) return CurrentSystemZone().zone;
    int field = 0;
    int dst = 0;
    Zone zone;
    if (!ParseInt(text, &field) || !ZoneOfTimeFields(field, 0, &zone)) return CurrentSystemZone().zone;
    if (IniSetting("DST", &text) && !ParseInt(text, &dst)) dst = 0;
    ZoneOfTimeFields(field, dst, &zone);
    return zone;
}

DstLaw ReadServerDstLaw() {
    DstLaw law;
    if (IniDstLaw(&law)) return law;
    std::string zone;
    return IniSetting("TimeZone", &zone) ? DstLaw() : CurrentSystemZone().law;
}

// The settings as this thread last read them. Every time conversion asks
// for them, so they are read again only when notes.ini may have changed
// (SettingsGeneration) or the process's TZ did.
struct ServerSettings {
    uint64_t generation = 0;
    bool hasTz = false;
    std::string tz;
    Zone zone;
    DstLaw law;
    INTLFORMAT intl;
};

bool StillValid(const ServerSettings& settings, uint64_t generation, const char* tz) {
    if (settings.generation != generation || settings.hasTz != (tz != nullptr)) return false;
    return tz == nullptr || settings.tz == tz;
}

const ServerSettings& CurrentSettings() {
    thread_local ServerSettings settings;
    uint64_t generation = SettingsGeneration();
    const char* tz = std::getenv("TZ");
    if (StillValid(settings, generation, tz)) return settings;
    settings.hasTz = tz != nullptr;
    settings.tz = tz ? tz : "";
    settings.zone = ReadServerZone();
    settings.law = ReadServerDstLaw();
    settings.intl = ReadIntl();
    settings.generation = generation;
    return settings;
}

}  // namespace

INTLFORMAT ServerIntl(const Zone& zone) {
    INTLFORMAT intl = CurrentSettings().intl;
    if (zone.observesDst) intl.Flags |= DAYLIGHT_SAVINGS;
    intl.TimeZone = TimeFieldOfZone(zone);
    return intl;
}

Zone ServerZone() { return CurrentSettings().zone; }

DstLaw ServerDstLaw() { return CurrentSettings().law; }

// What NRTCheckSettings names: values not used as written, and values
// that break the order of a pass's notes.
std::vector<std::string> SettingsWarnings() {
    std::vector<std::string> warnings;
    std::string text;
    int number = 0;
    Zone zone;
    if (IniSetting("TimeZone", &text) && (!ParseInt(text, &number) || !ZoneOfTimeFields(number, 0, &zone)))
        warnings.push_back("notes.ini: TimeZone=" + text +
                           " is not a zone (hours west of GMT such as 5 or -1, or minutes*100+hours such as "
                           "-3005); the operating system's zone is used");
    if (IniSetting("DST", &text) && (!ParseInt(text, &number) || (number != 0 && number != 1)))
        warnings.push_back("notes.ini: DST=" + text + " is neither 0 nor 1; 0 is used");
    DstLaw law;
    if (IniSetting("DSTLaw", &text) && !IniDstLaw(&law))
        warnings.push_back("notes.ini: DSTLaw=" + text +
                           " is not month,week,weekday,month,week,weekday; the default rule is used");
    std::string order = UpperSetting("DateOrder");
    if (!order.empty() && order != "YMD" && order != "MDY" && order != "DMY")
        warnings.push_back("notes.ini: DateOrder=" + order + " is not YMD, MDY or DMY; YMD is used");
    else if (order == "MDY" || order == "DMY")
        warnings.push_back("notes.ini: DateOrder=" + order +
                           " writes time texts that do not sort in time order across months and years, and a "
                           "pass orders its notes by those texts; keep DateOrder=YMD on a server that runs zelrep");
    std::string clock = UpperSetting("Clock");
    if (!clock.empty() && clock != "12" && clock != "24")
        warnings.push_back("notes.ini: Clock=" + clock + " is neither 12 nor 24; 12 is used");
    else if (clock == "24")
        warnings.push_back("notes.ini: Clock=24 writes times without AM/PM, which a pass needs to read the hour "
                           "of a change; keep Clock=12 on a server that runs zelrep");
    return warnings;
}

}  // namespace nrt

extern "C" {

void LNPUBLIC NRTCheckSettings(NRTWARNINGPROC callback, void* context) {
    if (callback == nullptr) return;
    for (const std::string& warning : nrt::SettingsWarnings()) callback(context, warning.c_str());
}

void LNPUBLIC OSGetIntlSettings(INTLFORMAT* intl, WORD size) {
    if (intl == nullptr) return;
    INTLFORMAT full = nrt::ServerIntl(nrt::ServerZone());
    std::memcpy(intl, &full, size < sizeof full ? size : sizeof full);
}

}  // extern "C"
