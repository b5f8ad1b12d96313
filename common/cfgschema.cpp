// cfgschema.cpp - the configuration document's schema: the item table,
// the words of the settings and the escaping of the instance formula (see
// cfgschema.h).
#include "cfgschema.h"

#include <stdint.h>
#include <string.h>

const CFG_DB_FIELD cfg_db_field[CFG_END + 1] = {
    {CFG_INSTANCEID, "InstanceID_text", CFG_KIND_TEXT},
    {CFG_INPUTDB, "InputDB_text", CFG_KIND_TEXT},
    {CFG_OUTPUTDB, "OutputDB_text", CFG_KIND_TEXT},
    {CFG_LOOPDETECTID, "LoopDetectID_text", CFG_KIND_TEXT},
    {CFG_LOOPDETECT, "LoopDetect_number", CFG_KIND_NUMBER},
    {CFG_DIRECTORYFLAG, "DirectoryFlag_number", CFG_KIND_NUMBER},
    {CFG_AUTOREFRESH, "AutoRefresh_number", CFG_KIND_NUMBER},
    {CFG_SCHEDULEUNITS, "ScheduleUnits_text", CFG_KIND_TEXT},
    {CFG_SCHEDULEVALUE, "ScheduleValue_number", CFG_KIND_NUMBER},
    {CFG_DNFORMAT, "DNFormat_number", CFG_KIND_NUMBER},
    {CFG_CHECKATTRS, "CheckAttrs_number", CFG_KIND_NUMBER},
    {CFG_WRITETIMESTAMPS, "WriteTimeStamps_number", CFG_KIND_NUMBER},
    {CFG_TRACELEVEL, "ConsoleTraceLevel_number", CFG_KIND_NUMBER},
    {CFG_LASTEVENT, "LastEventTimeStamp_TS", CFG_KIND_TIME},
    {CFG_INPUTIDENTITY, "InputDBReplicaID_text", CFG_KIND_TEXT},
    {CFG_PUBLISHERFILTER, "PublisherFilter_text", CFG_KIND_LONGTEXT},
    {CFG_END, "", 0},
};

const CFG_WORD cfg_dn_formats[CFG_DN_FORMAT_COUNT] = {{"SLASH", 1}, {"LDAP", 2}, {"LDAP_TYPED", 4}};
const CFG_WORD cfg_trace_levels[CFG_TRACE_LEVEL_COUNT] = {
    {"SILENT", TRACE_SILENT}, {"NORMAL", TRACE_NORMAL}, {"VERBOSE", TRACE_VERBOSE}, {"DEBUG", TRACE_DEBUG}};
const CFG_WORD cfg_schedule_units[CFG_SCHEDULE_UNIT_COUNT] = {
    {"SECONDS", 1}, {"MINUTES", 60}, {"HOURS", 3600}, {"DAYS", 86400}};

void EscapeFormulaText(char* dest, const char* text) {
    char* out = dest;
    for (const char* in = text; *in != '\0'; ++in) {
        *out++ = *in;
        if (*in == '\\') *out++ = '\\';
    }
    *out = '\0';
}

// Trace levels are 32-bit values: the all-ones level reads as -1.
const char* GetTraceStr(long level) {
    switch ((int32_t)level) {
    case -1: return "UNKNOWN";
    case TRACE_SILENT: return "SILENT";
    case TRACE_NORMAL: return "NORMAL";
    case TRACE_VERBOSE: return "VERBOSE";
    default: return "DEBUG";
    }
}

long GetTraceLevel(const char* word) {
    if (word == 0) return -1;
    for (long level = TRACE_SILENT; level <= TRACE_DEBUG; ++level) {
        if (strcmp(word, GetTraceStr(level)) == 0) return level;
    }
    return -1;
}

const char* GetDNFormatWord(unsigned long format) {
    for (const CFG_WORD& entry : cfg_dn_formats) {
        if (entry.value == format) return entry.word;
    }
    return 0;
}

unsigned long GetDNFormatFromWord(const char* word) {
    if (word == 0) return 0;
    for (const CFG_WORD& entry : cfg_dn_formats) {
        if (strcmp(entry.word, word) == 0) return entry.value;
    }
    return 0;
}
