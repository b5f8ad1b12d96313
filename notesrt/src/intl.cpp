// intl.cpp - the server's international and time-zone settings
// (OSGetIntlSettings), read from notes.ini in the data directory.
//
// Keys (letter case does not matter; a missing or unreadable value keeps
// the default):
//   TimeZone=N    hours west of GMT (EST 5, CET -1); a zone with minutes
//                 is written minutes*100+hours (India -3005, Newfoundland
//                 3003). Default 0 (GMT).
//   DST=0|1       whether the zone observes daylight saving time. Default 0.
//   DSTLaw=M,W,D,M,W,D  when daylight time starts and ends: month, week of
//                 the month (1-4, -1 = last), weekday (1 = Sunday), at 02:00
//                 local time. Default 3,2,1,11,1,1.
//   DateOrder=YMD|MDY|DMY  order of the date's parts. Default YMD.
//   Clock=12|24   12-hour clock with AM/PM, or 24-hour. Default 12.
// Texts are fixed: "AM", "PM", date separator "/", time separator ":",
// years with four digits, "Yesterday", "Today", "Tomorrow".
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "env.h"
#include "intl.h"
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

WORD DateOrderFlag() {
    std::string order = UpperSetting("DateOrder");
    if (order == "MDY") return DATE_MDY;
    if (order == "DMY") return DATE_DMY;
    return DATE_YMD;
}

}  // namespace

INTLFORMAT ServerIntl(const Zone& zone) {
    INTLFORMAT intl;
    std::memset(&intl, 0, sizeof intl);
    intl.Flags = DateOrderFlag() | DATE_4DIGIT_YEAR;
    if (UpperSetting("Clock") == "24") intl.Flags |= CLOCK_24_HOUR;
    if (zone.observesDst) intl.Flags |= DAYLIGHT_SAVINGS;
    intl.CurrencyDigits = 2;
    intl.Length = (BYTE)sizeof(INTLFORMAT);
    intl.TimeZone = TimeFieldOfZone(zone);
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

Zone ServerZone() {
    int field = 0;
    int dst = 0;
    std::string text;
    if (IniSetting("TimeZone", &text) && !ParseInt(text, &field)) field = 0;
    if (IniSetting("DST", &text) && !ParseInt(text, &dst)) dst = 0;
    Zone zone;
    if (!ZoneOfTimeFields(field, dst, &zone)) zone = Zone();
    return zone;
}

DstLaw ServerDstLaw() {
    DstLaw law;
    std::string text;
    if (!IniSetting("DSTLaw", &text)) return law;
    int parts[6];
    std::istringstream in(text);
    std::string part;
    for (int& value : parts) {
        if (!std::getline(in, part, ',') || !ParseInt(part, &value)) return law;
    }
    if (!ValidLawPart(parts[0], parts[1], parts[2]) || !ValidLawPart(parts[3], parts[4], parts[5]))
        return law;
    return DstLaw{parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]};
}

}  // namespace nrt

extern "C" {

void LNPUBLIC OSGetIntlSettings(INTLFORMAT* intl, WORD size) {
    if (intl == nullptr) return;
    INTLFORMAT full = nrt::ServerIntl(nrt::ServerZone());
    std::memcpy(intl, &full, size < sizeof full ? size : sizeof full);
}

}  // extern "C"
