// timetext.cpp - TIMEDATE to text and back (ConvertTIMEDATEToText,
// ConvertTextToTIMEDATE), following the international settings.
//
// With the server's defaults a full value reads "2026/12/07 08:43:21 PM GMT":
// date, time, AM/PM and zone label separated by single blanks, every field
// zero-padded. Reading accepts everything writing produces (any format, any
// zone label it prints, "Today"-style words), 24-hour times, and dates in
// the settings' order. Labels are those of the table below; other zones
// read ZWn/ZEn (west/east, whole hours, then A, B or C for 15, 30 or 45
// minutes). Hundredths are never written and are dropped when read.
#include <cctype>
#include <cstring>

#include "misc.h"
#include "nsferr.h"
#include "ostime.h"
#include "timecalc.h"
#include "timeutil.h"

namespace nrt {
namespace {

constexpr int kMaxTextYear = 9999;

// ---------------------------------------------------------------- settings

enum class DateOrder { kYMD, kMDY, kDMY };

// The international settings, checked once per call.
struct TextSettings {
    DateOrder order;
    bool clock24;
    bool fourDigitYears;
    const char* am;
    const char* pm;
    const char* dateSep;
    const char* timeSep;
    const char* decimalSep;
    const char* relativeWords[3];  // yesterday, today, tomorrow
    Zone server;
};

bool IsTerminated(const char* field, size_t size) { return std::memchr(field, '\0', size) != nullptr; }

bool HasDigitOrBlank(const char* text) {
    for (; *text; ++text)
        if (std::isdigit((unsigned char)*text) || std::isspace((unsigned char)*text)) return true;
    return false;
}

// A separator or word must be non-empty and never look like a number.
bool UsableMarker(const char* text) { return *text != '\0' && !HasDigitOrBlank(text); }

bool ReadSettings(const INTLFORMAT* given, INTLFORMAT* storage, TextSettings* settings) {
    settings->server = ServerZone();
    if (given == nullptr) {
        *storage = ServerIntl(settings->server);
        given = storage;
    }
    const char* texts[] = {given->AMString,      given->PMString,      given->DateString,
                           given->TimeString,    given->DecimalString};
    for (const char* text : texts)
        if (!IsTerminated(text, ISTRMAX) || !UsableMarker(text)) return false;
    const char* words[] = {given->YesterdayString, given->TodayString, given->TomorrowString};
    for (const char* word : words)
        if (!IsTerminated(word, YTSTRMAX) || !UsableMarker(word)) return false;
    if (std::strcmp(given->DateString, given->TimeString) == 0) return false;
    if (std::strcmp(given->AMString, given->PMString) == 0) return false;
    settings->order = (given->Flags & DATE_DMY)   ? DateOrder::kDMY
                      : (given->Flags & DATE_YMD) ? DateOrder::kYMD
                                                  : DateOrder::kMDY;
    settings->clock24 = (given->Flags & CLOCK_24_HOUR) != 0;
    settings->fourDigitYears = (given->Flags & DATE_4DIGIT_YEAR) != 0;
    settings->am = given->AMString;
    settings->pm = given->PMString;
    settings->dateSep = given->DateString;
    settings->timeSep = given->TimeString;
    settings->decimalSep = given->DecimalString;
    for (int i = 0; i < 3; ++i) settings->relativeWords[i] = words[i];
    return true;
}

bool ValidFormat(const TFMT& format) {
    return format.Date <= TDFMT_DPARTIAL4 && format.Time <= TTFMT_HOUR &&
           format.Zone <= TZFMT_ALWAYS && format.Structure <= TSFMT_CDATETIME;
}

TFMT FormatOrDefault(const TFMT* format) {
    TFMT defaults = {TDFMT_FULL, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATETIME};
    return format == nullptr ? defaults : *format;
}

// ------------------------------------------------------------- zone labels

struct NamedZone {
    int westHours;
    const char* standard;
    const char* daylight;
};

const NamedZone kNamedZones[] = {
    {0, "GMT", "GDT"}, {4, "AST", "ADT"}, {5, "EST", "EDT"}, {6, "CST", "CDT"},
    {7, "MST", "MDT"}, {8, "PST", "PDT"}, {9, "YST", "YDT"}, {10, "HST", "HDT"},
    {-1, "CET", "CEDT"},
};

const char kQuarterLetters[] = " ABC";

const NamedZone* NamedZoneOf(const Zone& zone) {
    for (const NamedZone& named : kNamedZones)
        if (named.westHours * 60 == zone.westMinutes) return &named;
    return nullptr;
}

bool SameZone(const Zone& a, const Zone& b) {
    return a.westMinutes == b.westMinutes && a.observesDst == b.observesDst;
}

// ------------------------------------------------------------ text builder

// Fixed-size output; reports overflow instead of growing.
class TextBuilder {
public:
    void Append(const char* text) {
        size_t length = std::strlen(text);
        if (length_ + length >= sizeof bytes_) {
            overflow_ = true;
            return;
        }
        std::memcpy(bytes_ + length_, text, length);
        length_ += length;
    }
    // A non-negative number, zero-padded to at least width digits.
    void AppendNumber(int value, int width) {
        char digits[16];
        int count = 0;
        do {
            digits[count++] = (char)('0' + value % 10);
            value /= 10;
        } while (value > 0 && count < 15);
        while (count < width && count < 15) digits[count++] = '0';
        char text[16];
        for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
        text[count] = '\0';
        Append(text);
    }
    void Blank() {
        if (length_ > 0) Append(" ");
    }
    const char* Bytes() const { return bytes_; }
    size_t Length() const { return length_; }
    bool Overflowed() const { return overflow_; }

private:
    char bytes_[192] = {};
    size_t length_ = 0;
    bool overflow_ = false;
};

// ------------------------------------------------------------------ output

// What one value shows, in which zone, at which wall clock.
struct Shown {
    bool date;
    bool time;
    bool label;
    Zone zone;
    bool daylight;
    WallClock wall;
};

int64_t DayOf(int64_t ticks) { return FloorDiv(ticks, kTicksPerDay); }

// Julian day of the current date on the zone's wall clock.
int64_t Today(const Zone& zone) {
    int64_t now = CurrentTicks();
    return DayOf(now - WallOffsetTicks(zone, now));
}

bool DecideShown(const TFMT& format, const TIMEDATE& td, const Zone& server, Shown* shown) {
    shown->date = HasDate(td) && format.Structure != TSFMT_TIME;
    shown->time = HasTimeOfDay(td) && format.Structure != TSFMT_DATE;
    if (format.Structure == TSFMT_DATE && !HasDate(td)) return false;
    if (format.Structure == TSFMT_TIME && !HasTimeOfDay(td)) return false;
    if (!shown->date && !shown->time) return false;

    shown->zone = (format.Zone == TZFMT_NEVER || !HasDate(td)) ? server : ZoneOfBits(td.Innards[1]);
    shown->label = shown->time && (format.Zone == TZFMT_ALWAYS ||
                                   (format.Zone == TZFMT_SOMETIMES && !SameZone(shown->zone, server)));
    int64_t wall = 0;
    if (!WallTicksOf(td, shown->zone, &wall)) return false;
    shown->daylight = HasTimeOfDay(td) && HasDate(td) && DstInEffect(shown->zone, TicksOf(td));
    shown->wall = WallClockOf(wall);
    return !shown->date || (shown->wall.year >= 1 && shown->wall.year <= kMaxTextYear);
}

// Whether the instant falls in a year that text can show, on the wall
// clock of its own zone.
bool CanBeShown(const Zone& zone, int64_t instant) {
    int year = WallClockOf(instant - WallOffsetTicks(zone, instant)).year;
    return year >= 1 && year <= kMaxTextYear;
}

void AppendYear(const TextSettings& settings, int year, bool forceFour, TextBuilder* out) {
    bool twoDigits = !forceFour && !settings.fourDigitYears && year >= 1950 && year <= 1999;
    out->AppendNumber(twoDigits ? year % 100 : year, twoDigits ? 2 : 4);
}

// Appends the listed parts in order: 'y', 'm', 'd'.
void AppendDateParts(const TextSettings& settings, const char* parts, const WallClock& wall,
                     bool forceFour, TextBuilder* out) {
    for (const char* part = parts; *part; ++part) {
        if (part != parts) out->Append(settings.dateSep);
        if (*part == 'y') AppendYear(settings, wall.year, forceFour, out);
        if (*part == 'm') out->AppendNumber(wall.month, 2);
        if (*part == 'd') out->AppendNumber(wall.day, 2);
    }
}

const char* FullOrder(DateOrder order) {
    return order == DateOrder::kYMD ? "ymd" : (order == DateOrder::kDMY ? "dmy" : "mdy");
}
const char* MonthDayOrder(DateOrder order) { return order == DateOrder::kDMY ? "dm" : "md"; }
const char* YearMonthOrder(DateOrder order) { return order == DateOrder::kYMD ? "ym" : "my"; }

void AppendDate(const TextSettings& settings, const TFMT& format, const Shown& shown,
                TextBuilder* out) {
    if (format.Structure == TSFMT_CDATETIME) {
        int64_t shownDay = JulianDayOf(shown.wall.year, shown.wall.month, shown.wall.day);
        int64_t today = Today(shown.zone);
        if (shownDay >= today - 1 && shownDay <= today + 1) {
            out->Append(settings.relativeWords[shownDay - today + 1]);
            return;
        }
    }
    bool forceFour = format.Date >= TDFMT_FULL4;
    switch (format.Date) {
        case TDFMT_CPARTIAL:
        case TDFMT_CPARTIAL4: {
            bool thisYear = CivilDateOf(Today(shown.zone)).year == shown.wall.year;
            const char* parts = thisYear ? MonthDayOrder(settings.order) : FullOrder(settings.order);
            AppendDateParts(settings, parts, shown.wall, forceFour, out);
            return;
        }
        case TDFMT_PARTIAL:
            AppendDateParts(settings, MonthDayOrder(settings.order), shown.wall, forceFour, out);
            return;
        case TDFMT_DPARTIAL:
        case TDFMT_DPARTIAL4:
            AppendDateParts(settings, YearMonthOrder(settings.order), shown.wall, forceFour, out);
            return;
        default:
            AppendDateParts(settings, FullOrder(settings.order), shown.wall, forceFour, out);
            return;
    }
}

void AppendTime(const TextSettings& settings, const TFMT& format, const WallClock& wall,
                TextBuilder* out) {
    int hour = wall.hour;
    if (!settings.clock24) hour = hour % 12 == 0 ? 12 : hour % 12;
    out->AppendNumber(hour, 2);
    if (format.Time != TTFMT_HOUR) {
        out->Append(settings.timeSep);
        out->AppendNumber(wall.minute, 2);
    }
    if (format.Time == TTFMT_FULL) {
        out->Append(settings.timeSep);
        out->AppendNumber(wall.second, 2);
    }
    if (!settings.clock24) {
        out->Append(" ");
        out->Append(wall.hour < 12 ? settings.am : settings.pm);
    }
}

void AppendZoneLabel(const Zone& zone, bool daylight, TextBuilder* out) {
    if (const NamedZone* named = NamedZoneOf(zone)) {
        out->Append(daylight ? named->daylight : named->standard);
        return;
    }
    int effective = zone.westMinutes - (daylight ? 60 : 0);
    int magnitude = effective < 0 ? -effective : effective;
    out->Append(effective < 0 ? "ZE" : "ZW");
    out->AppendNumber(magnitude / 60, 1);
    if (magnitude % 60 != 0) {
        char letter[2] = {kQuarterLetters[(magnitude % 60) / 15], '\0'};
        out->Append(letter);
    }
}

// ------------------------------------------------------------------- input

int LowerAscii(char c) { return std::tolower((unsigned char)c); }
bool IsWordChar(char c) { return std::isalnum((unsigned char)c) != 0; }

// Reads within [pos, end); nothing past end is ever looked at.
class Scanner {
public:
    Scanner(const char* begin, const char* end) : pos_(begin), end_(end) {}
    const char* Pos() const { return pos_; }
    void Reset(const char* pos) { pos_ = pos; }
    bool AtDigit() const { return pos_ < end_ && std::isdigit((unsigned char)*pos_); }
    void SkipBlanks() {
        while (pos_ < end_ && (*pos_ == ' ' || *pos_ == '\t')) ++pos_;
    }
    // A run of 1 to 9 digits.
    bool Number(int* value, int* digits) {
        const char* start = pos_;
        long long parsed = 0;
        while (AtDigit() && pos_ - start < 10) parsed = parsed * 10 + (*pos_++ - '0');
        *digits = (int)(pos_ - start);
        *value = (int)parsed;
        return *digits > 0 && *digits < 10;
    }
    bool Literal(const char* text) {
        size_t length = std::strlen(text);
        if ((size_t)(end_ - pos_) < length || std::memcmp(pos_, text, length) != 0) return false;
        pos_ += length;
        return true;
    }
    bool AtWordEnd() const { return pos_ == end_ || !IsWordChar(*pos_); }
    // Takes one of the characters; returns its position in chars plus 1,
    // or 0 when the next character is none of them.
    int OneOf(const char* chars) {
        if (pos_ == end_ || *pos_ == '\0') return 0;
        const char* found = std::strchr(chars, *pos_);
        if (found == nullptr) return 0;
        ++pos_;
        return (int)(found - chars) + 1;
    }
    // A whole word, compared without regard to case.
    bool Word(const char* word) {
        size_t length = std::strlen(word);
        if ((size_t)(end_ - pos_) < length) return false;
        for (size_t i = 0; i < length; ++i)
            if (LowerAscii(pos_[i]) != LowerAscii(word[i])) return false;
        if (pos_ + length < end_ && IsWordChar(pos_[length]) && IsWordChar(word[length - 1]))
            return false;
        pos_ += length;
        return true;
    }

private:
    const char* pos_;
    const char* end_;
};

struct DateText {
    int count = 0;
    int values[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    int relativeDays = 0;
    bool relative = false;
};

struct TimeText {
    int hour = 0, minute = 0, second = 0;
    int clockHalf = 0;  // 0 none, 1 AM, 2 PM
};

struct ZoneText {
    Zone zone;
    bool daylight = false;
};

bool ReadRelativeWord(const TextSettings& settings, Scanner* in, DateText* date) {
    for (int i = 0; i < 3; ++i) {
        if (in->Word(settings.relativeWords[i])) {
            date->relative = true;
            date->relativeDays = i - 1;
            return true;
        }
    }
    return false;
}

// Numbers joined by the date separator: two or three of them.
bool ReadNumericDate(const TextSettings& settings, Scanner* in, DateText* date) {
    const char* start = in->Pos();
    while (date->count < 3) {
        if (!in->Number(&date->values[date->count], &date->digits[date->count])) break;
        ++date->count;
        const char* beforeSep = in->Pos();
        if (date->count == 3 || !in->Literal(settings.dateSep)) break;
        if (!in->AtDigit()) {
            in->Reset(beforeSep);
            break;
        }
    }
    if (date->count >= 2) return true;
    in->Reset(start);
    date->count = 0;
    return false;
}

bool ReadClockHalf(const TextSettings& settings, Scanner* in, TimeText* time) {
    const char* start = in->Pos();
    in->SkipBlanks();
    if (in->Word(settings.am)) {
        time->clockHalf = 1;
        return true;
    }
    if (in->Word(settings.pm)) {
        time->clockHalf = 2;
        return true;
    }
    in->Reset(start);
    return false;
}

// hh[:mm[:ss[.ff]]] [AM|PM]. A bare hour counts only with AM/PM or where
// an hour is expected (loneHourOk).
bool ReadTime(const TextSettings& settings, Scanner* in, bool loneHourOk, TimeText* time) {
    int digits = 0;
    if (!in->Number(&time->hour, &digits) || digits > 2) return false;
    bool hasMinutes = false;
    if (in->Literal(settings.timeSep)) {
        if (!in->Number(&time->minute, &digits) || digits > 2) return false;
        hasMinutes = true;
        if (in->Literal(settings.timeSep)) {
            if (!in->Number(&time->second, &digits) || digits > 2) return false;
            int fraction = 0;
            if (in->Literal(settings.decimalSep) && !in->Number(&fraction, &digits)) return false;
        }
    }
    bool half = ReadClockHalf(settings, in, time);
    if (!hasMinutes && !half && !loneHourOk) return false;
    if (half) {
        if (time->hour < 1 || time->hour > 12) return false;
        time->hour = time->hour % 12 + (time->clockHalf == 2 ? 12 : 0);
    }
    return time->hour <= 23 && time->minute <= 59 && time->second <= 59;
}

// ZWn / ZEn with an optional quarter letter: minutes west (negative east).
bool ReadOffsetLabel(Scanner* in, int* westMinutes) {
    const char* start = in->Pos();
    bool east = in->Literal("ZE");
    int hours = 0, digits = 0;
    if ((east || in->Literal("ZW")) && in->Number(&hours, &digits) && digits <= 2 && hours <= 15) {
        int quarter = in->OneOf(kQuarterLetters + 1);
        if (in->AtWordEnd()) {
            int minutes = hours * 60 + quarter * 15;
            *westMinutes = east ? -minutes : minutes;
            return true;
        }
    }
    in->Reset(start);
    return false;
}

bool ReadZoneLabel(Scanner* in, ZoneText* zone) {
    const char* start = in->Pos();
    in->SkipBlanks();
    for (const NamedZone& named : kNamedZones) {
        bool daylight = in->Word(named.daylight);
        if (daylight || in->Word(named.standard)) {
            zone->zone.westMinutes = named.westHours * 60;
            zone->daylight = daylight;
            return true;
        }
    }
    if (in->Word("UTC")) {
        zone->zone = Zone();
        return true;
    }
    if (ReadOffsetLabel(in, &zone->zone.westMinutes)) {
        zone->daylight = false;
        return true;
    }
    in->Reset(start);
    return false;
}

int FullYear(int value, int digits) {
    if (digits > 2) return value;
    return value >= 50 ? 1900 + value : 2000 + value;
}

bool IsYearMonthFormat(const TFMT& format) {
    return format.Date == TDFMT_DPARTIAL || format.Date == TDFMT_DPARTIAL4;
}

// Orders the numbers into year, month, day. A missing year is the current
// one in the zone, a missing day the first of the month.
bool ResolveDate(const TextSettings& settings, const TFMT& format, const DateText& date,
                 const Zone& zone, WallClock* wall) {
    const int* v = date.values;
    const int* d = date.digits;
    int year = 0, month = 0, day = 1;
    if (date.count == 3) {
        DateOrder order = d[0] > 2 ? DateOrder::kYMD : settings.order;
        if (order == DateOrder::kYMD) year = FullYear(v[0], d[0]), month = v[1], day = v[2];
        if (order == DateOrder::kMDY) month = v[0], day = v[1], year = FullYear(v[2], d[2]);
        if (order == DateOrder::kDMY) day = v[0], month = v[1], year = FullYear(v[2], d[2]);
    } else if (d[0] > 2 || (IsYearMonthFormat(format) && settings.order == DateOrder::kYMD)) {
        year = FullYear(v[0], d[0]), month = v[1];
    } else if (d[1] > 2 || IsYearMonthFormat(format)) {
        month = v[0], year = FullYear(v[1], d[1]);
    } else {
        year = CivilDateOf(Today(zone)).year;
        bool dayFirst = settings.order == DateOrder::kDMY;
        month = v[dayFirst ? 1 : 0];
        day = v[dayFirst ? 0 : 1];
    }
    wall->year = year;
    wall->month = month;
    wall->day = day;
    return year >= 1 && year <= kMaxTextYear && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month);
}

// Everything read from the text, before it becomes a TIMEDATE.
struct ParsedText {
    bool hasDate = false;
    bool hasTime = false;
    bool hasZone = false;
    DateText date;
    TimeText time;
    ZoneText zone;
};

bool ReadText(const TextSettings& settings, const TFMT& format, Scanner* in, ParsedText* parsed) {
    in->SkipBlanks();
    parsed->hasDate = ReadRelativeWord(settings, in, &parsed->date) ||
                      ReadNumericDate(settings, in, &parsed->date);
    const char* afterDate = in->Pos();
    if (parsed->hasDate) in->SkipBlanks();
    if (in->AtDigit()) {
        bool loneHourOk = parsed->hasDate || format.Time == TTFMT_HOUR;
        if (!ReadTime(settings, in, loneHourOk, &parsed->time)) return false;
        parsed->hasTime = true;
        parsed->hasZone = ReadZoneLabel(in, &parsed->zone);
    } else {
        in->Reset(afterDate);
    }
    return parsed->hasDate || parsed->hasTime;
}

// The zone the text's wall clock is read in: its label, else the server's.
void ReadingZone(const ParsedText& parsed, const Zone& server, Zone* zone, bool* fixedDaylight,
                 bool* daylight) {
    *fixedDaylight = parsed.hasZone;
    *daylight = parsed.zone.daylight;
    if (!parsed.hasZone) {
        *zone = server;
        return;
    }
    *zone = parsed.zone.zone;
    // A label of the server's own zone stands for the server's zone.
    zone->observesDst = parsed.zone.daylight ||
                        (zone->westMinutes == server.westMinutes && server.observesDst);
}

int64_t GmOfWall(const Zone& zone, bool fixedDaylight, bool daylight, int64_t wall) {
    if (!fixedDaylight) return GmTicksOfWall(zone, wall);
    return wall + zone.westMinutes * kTicksPerMinute - (daylight ? kTicksPerHour : 0);
}

bool BuildTimedate(const TextSettings& settings, const TFMT& format, const ParsedText& parsed,
                   TIMEDATE* result) {
    Zone zone;
    bool fixedDaylight = false, daylight = false;
    ReadingZone(parsed, settings.server, &zone, &fixedDaylight, &daylight);
    WallClock wall = {0, 0, 0, parsed.time.hour, parsed.time.minute, parsed.time.second, 0};
    int64_t timeOfDay = wall.hour * kTicksPerHour + wall.minute * kTicksPerMinute +
                        wall.second * kTicksPerSecond;
    if (!parsed.hasDate) {
        int64_t gm = GmOfWall(zone, true, daylight, timeOfDay);
        result->Innards[0] = (DWORD)(gm - DayOf(gm) * kTicksPerDay);
        result->Innards[1] = ANYDAY;
        return true;
    }
    if (parsed.date.relative) {
        CivilDate date = CivilDateOf(Today(zone) + parsed.date.relativeDays);
        wall.year = date.year, wall.month = date.month, wall.day = date.day;
    } else if (!ResolveDate(settings, format, parsed.date, zone, &wall)) {
        return false;
    }
    int64_t day = JulianDayOf(wall.year, wall.month, wall.day);
    if (!parsed.hasTime) {
        result->Innards[0] = ALLDAY;
        result->Innards[1] = (DWORD)day;
        return true;
    }
    int64_t gm = GmOfWall(zone, fixedDaylight, daylight, day * kTicksPerDay + timeOfDay);
    int64_t gmDay = DayOf(gm);
    if (gmDay < 0 || gmDay > (int64_t)kJulianDayMask || !CanBeShown(zone, gm)) return false;
    result->Innards[0] = (DWORD)(gm - gmDay * kTicksPerDay);
    result->Innards[1] = (DWORD)gmDay | ZoneBitsOf(zone);
    return true;
}

}  // namespace
}  // namespace nrt

extern "C" {

STATUS LNPUBLIC ConvertTIMEDATEToText(const INTLFORMAT* intl, const TFMT* format,
                                      const TIMEDATE* td, char* buf, WORD bufLen,
                                      WORD* retLen) {
    if (retLen != nullptr) *retLen = 0;
    if (td == nullptr || buf == nullptr) return ERR_BAD_PARAM;
    INTLFORMAT storage;
    nrt::TextSettings settings;
    if (!nrt::ReadSettings(intl, &storage, &settings)) return ERR_IFMT;
    TFMT tfmt = nrt::FormatOrDefault(format);
    if (!nrt::ValidFormat(tfmt)) return ERR_TFMT;
    nrt::Shown shown;
    if (!nrt::DecideShown(tfmt, *td, settings.server, &shown)) return ERR_TDO_CONV;

    nrt::TextBuilder text;
    if (shown.date) nrt::AppendDate(settings, tfmt, shown, &text);
    if (shown.time) {
        text.Blank();
        nrt::AppendTime(settings, tfmt, shown.wall, &text);
    }
    if (shown.label) {
        text.Blank();
        nrt::AppendZoneLabel(shown.zone, shown.daylight, &text);
    }
    if (text.Overflowed() || text.Length() > bufLen) return ERR_TDO_CONV;
    std::memcpy(buf, text.Bytes(), text.Length());
    if (retLen != nullptr) *retLen = (WORD)text.Length();
    return NOERROR;
}

STATUS LNPUBLIC ConvertTextToTIMEDATE(const INTLFORMAT* intl, const TFMT* format, char** text,
                                      WORD maxLen, TIMEDATE* retTime) {
    if (text == nullptr || *text == nullptr || retTime == nullptr) return ERR_BAD_PARAM;
    INTLFORMAT storage;
    nrt::TextSettings settings;
    if (!nrt::ReadSettings(intl, &storage, &settings)) return ERR_IFMT;
    TFMT tfmt = nrt::FormatOrDefault(format);
    if (!nrt::ValidFormat(tfmt)) return ERR_TFMT;

    const char* begin = *text;
    nrt::Scanner in(begin, begin + strnlen(begin, maxLen));
    nrt::ParsedText parsed;
    TIMEDATE result;
    if (!nrt::ReadText(settings, tfmt, &in, &parsed) ||
        !nrt::BuildTimedate(settings, tfmt, parsed, &result))
        return ERR_TDI_CONV;
    *retTime = result;
    *text += in.Pos() - begin;
    return NOERROR;
}

}  // extern "C"
