// cfgschema.h - the configuration document's schema: its items with their
// names and kinds, the values a new instance starts with, the words of the
// trace levels, DN formats and schedule units, the limits of an instance
// name, and the search formula that finds an instance's document.
//
// Plain data and functions with no runtime dependency: the task (CConfig,
// cfgdb, the console) and the tools (nsfdb instance) read and write the
// document through this one definition.
#ifndef ZELREP_CFGSCHEMA_H
#define ZELREP_CFGSCHEMA_H

#include <stddef.h>

// Trace levels.
#define TRACE_SILENT 0
#define TRACE_NORMAL 1
#define TRACE_VERBOSE 2
#define TRACE_DEBUG 3

// Item kinds.
#define CFG_KIND_TEXT 1
#define CFG_KIND_NUMBER 2
#define CFG_KIND_TIME 3
#define CFG_KIND_LONGTEXT 4

// Item indexes, in table order.
#define CFG_INSTANCEID 0
#define CFG_INPUTDB 1
#define CFG_OUTPUTDB 2
#define CFG_LOOPDETECTID 3
#define CFG_LOOPDETECT 4
#define CFG_DIRECTORYFLAG 5
#define CFG_AUTOREFRESH 6
#define CFG_SCHEDULEUNITS 7
#define CFG_SCHEDULEVALUE 8
#define CFG_DNFORMAT 9
#define CFG_CHECKATTRS 10
#define CFG_WRITETIMESTAMPS 11
#define CFG_TRACELEVEL 12
#define CFG_LASTEVENT 13
#define CFG_INPUTIDENTITY 14
#define CFG_PUBLISHERFILTER 15
#define CFG_END 16

// Text items are read through a buffer of this size.
#define CFG_ITEM_TEXT_SIZE 384

typedef struct {
    int index;
    const char* name;
    int kind;
} CFG_DB_FIELD;

extern const CFG_DB_FIELD cfg_db_field[CFG_END + 1];

typedef enum { SECONDS = 0, MINUTES = 1, HOURS = 2, DAYS = 3 } SCHEDULEUNITS;

// The values of a new instance, item by item (the loop-detect ID, the
// databases and the filter start empty).
#define CFG_DEFAULT_LOOPDETECT 0
#define CFG_DEFAULT_DIRECTORYFLAG 1
#define CFG_DEFAULT_AUTOREFRESH 1
#define CFG_DEFAULT_SCHEDULEUNITS SECONDS
#define CFG_DEFAULT_SCHEDULEVALUE 120
#define CFG_DEFAULT_DNFORMAT 1
#define CFG_DEFAULT_CHECKATTRS 1
#define CFG_DEFAULT_WRITETIMESTAMPS 0
#define CFG_DEFAULT_TRACELEVEL TRACE_NORMAL

// Names and limits of an instance.
#define STATUS_LINE_SIZE 64
#define DEFAULT_INSTANCE_NAME "ZELREP"
#define DEFAULT_CFGDB_NAME "zelrpcfg.nsf"
#define STATUS_LINE_PREFIX "Orvane - "
// The status-line name ("Orvane - " and the instance name) fits in a
// STATUS_LINE_SIZE buffer, so an instance name has at most 54 characters;
// SetInstanceName refuses longer names with -2.
#define MAX_INSTANCE_NAME (STATUS_LINE_SIZE - 1 - (int)(sizeof(STATUS_LINE_PREFIX) - 1))

// The search formula that selects an instance's document; %s is the
// instance name escaped with EscapeFormulaText. A name with a double quote
// cannot be written into it. Of the documents selected, the task takes the
// last whose InstanceID_text equals the name byte for byte.
#define CFG_INSTANCE_FORMULA "@IsAvailable(InstanceID_text) & InstanceID_text = \"%s\";"

// Copies text into dest with every backslash doubled, as a formula's text
// constant needs; dest holds 2 * strlen(text) + 1 bytes.
void EscapeFormulaText(char* dest, const char* text);

// A word of a setting and the value it stands for.
typedef struct {
    const char* word;
    unsigned long value;
} CFG_WORD;

#define CFG_DN_FORMAT_COUNT 3
#define CFG_TRACE_LEVEL_COUNT 4
#define CFG_SCHEDULE_UNIT_COUNT 4
// SLASH 1, LDAP 2, LDAP_TYPED 4.
extern const CFG_WORD cfg_dn_formats[CFG_DN_FORMAT_COUNT];
// SILENT, NORMAL, VERBOSE, DEBUG: TRACE_SILENT to TRACE_DEBUG.
extern const CFG_WORD cfg_trace_levels[CFG_TRACE_LEVEL_COUNT];
// SECONDS, MINUTES, HOURS, DAYS, indexed by SCHEDULEUNITS; the value is the
// unit's length in seconds.
extern const CFG_WORD cfg_schedule_units[CFG_SCHEDULE_UNIT_COUNT];

// The word of a trace level (SILENT, NORMAL, VERBOSE, DEBUG, and UNKNOWN
// for the all-ones level).
const char* GetTraceStr(long level);

// The trace level named by an upper-case word (SILENT, NORMAL, VERBOSE,
// DEBUG), or -1 for any other text.
long GetTraceLevel(const char* word);

// The word of a DN format (1 SLASH, 2 LDAP, 4 LDAP_TYPED), or null for any
// other value.
const char* GetDNFormatWord(unsigned long format);

// The DN format named by an upper-case word, or 0 for any other text.
unsigned long GetDNFormatFromWord(const char* word);

#endif
