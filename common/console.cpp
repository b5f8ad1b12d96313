// console.cpp - console command dispatch: the command table, the one
// dispatcher that splits a message into command word and argument, the
// answer to unknown commands, and the argument parsers the handlers share.
//
// Owned by the task host. The dispatcher works in the received message in
// place (upper-cased word, NUL after it); handlers own their argument text
// for the duration of the call.
#include "console.h"

#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "arrent.h"
#include "cfgcmds.h"
#include "commands.h"
#include "tasktext.h"

const char MessageCmdError[] = "MSG_Q: Unknown command: ";

const CMDTABLE_ENTRY CmdTable[] = {
    {"REPLICATE", CmdReplicate},
    {"MIGRATE", CmdMigrate},
    {"SUSPEND", CmdSuspend},
    {"RESUME", CmdResume},
    {"SCHVAL", CmdSchVal},
    {"SCHUNITS", CmdSchUnits},
    {"LOOPDETECTID", CmdSetLoopDetectID},
    {"LOOPDETECT", CmdSetLoopDetect},
    {"SHOWCONFIG", CmdShowConfig},
    {"SHOWFILTER", CmdShowFilter},
    {"REFRESHCONFIG", CmdRefreshConfig},
    {"SAVECONFIG", CmdSaveConfig},
    {"OUTPUTDB", CmdOutputDB},
    {"INPUTDB", CmdInputDB},
    {"AUTOREFRESH", CmdSetAutoRefresh},
    {"ISDIRECTORY", CmdSetDirectoryFlag},
    {"DNFORMAT", CmdSetDNFormat},
    {"SETINSTANCE", CmdSetInstance},
    {"WRITETIMESTAMPS", CmdWriteTimeStamps},
    {"CHECKATTRS", CmdCheckAttrs},
    {"DEBUGTRACE", CmdDebugTrace},
    {"DEBUGBREAK", CmdDebugBreak},
    {"TRACE", CmdTraceLevel},
    {0, CmdError},
};

namespace {

// The logged line of an unknown command has at most this many characters.
const size_t kCmdErrorLineMax = 255;

int IsSpace(char c) { return isspace((unsigned char)c); }

// Steps over leading blanks (0x20 only) within length; returns how many.
WORD SkipBlanks(const char* text, WORD length) {
    WORD skipped = 0;
    while (skipped < length && text[skipped] == ' ') ++skipped;
    return skipped;
}

const CMDTABLE_ENTRY* FindCommand(const char* word) {
    const CMDTABLE_ENTRY* row = CmdTable;
    while (row->command != 0 && strcmp(row->command, word) != 0) ++row;
    return row;
}

}  // namespace

STATUS ProcessMessage(char* message, WORD length, CConfig* config) {
    if (message == 0 || config == 0) return PARSE_EMPTY;
    char* cursor = message;
    WORD remaining = length;
    while (remaining > 0 && IsSpace(*cursor)) {
        ++cursor;
        --remaining;
    }
    char* word = cursor;
    WORD wordAndRest = remaining;
    while (remaining > 0 && !IsSpace(*cursor)) {
        *cursor = (char)toupper((unsigned char)*cursor);
        ++cursor;
        --remaining;
    }
    char* wordEnd = cursor;
    int endedBySpace = remaining > 0;
    *wordEnd = '\0';
    char* argument = endedBySpace ? wordEnd + 1 : wordEnd;
    WORD argumentLength = endedBySpace ? (WORD)(remaining - 1) : 0;

    const CMDTABLE_ENTRY* row = FindCommand(word);
    if (row->command != 0) return row->handler(argument, argumentLength, config);
    if (endedBySpace) *wordEnd = ' ';
    return row->handler(word, wordAndRest, config);
}

STATUS CmdError(char* argument, WORD length, CConfig* /*config*/) {
    const size_t textMax = kCmdErrorLineMax - (sizeof(MessageCmdError) - 1);
    size_t shown = argument ? strnlen(argument, length < textMax ? length : textMax) : 0;
    LogLine(NOERROR, "%s%.*s", MessageCmdError, (int)shown, argument ? argument : "");
    return NOERROR;
}

STATUS GetStringValue(char* argument, WORD length, char* out) {
    if (out == 0) return PARSE_NO_OUTPUT;
    char work[PARSE_BUFFER_SIZE];
    WORD skipped = argument ? SkipBlanks(argument, length) : length;
    size_t copied = (size_t)(length - skipped);
    if (copied > sizeof(work) - 1) copied = sizeof(work) - 1;
    if (copied > 0) memcpy(work, argument + skipped, copied);
    work[copied] = '\0';
    strupper(work);
    strcpy(out, work);
    return out[0] == '\0' ? PARSE_EMPTY : NOERROR;
}

STATUS GetBooleanValue(char* argument, WORD length, int* out) {
    if (out == 0) return PARSE_NO_OUTPUT;
    char word[PARSE_BUFFER_SIZE];
    GetStringValue(argument, length, word);
    if (strcmp(word, "ON") == 0) {
        *out = 1;
        return NOERROR;
    }
    if (strcmp(word, "OFF") == 0) {
        *out = 0;
        return NOERROR;
    }
    return PARSE_EMPTY;
}

STATUS GetNumericValue(char* argument, WORD length, char* out) {
    if (out == 0) return PARSE_NO_OUTPUT;
    WORD skipped = argument ? SkipBlanks(argument, length) : length;
    for (WORD i = skipped; i < length; ++i) {
        if (!isdigit((unsigned char)argument[i])) return PARSE_NOT_DIGIT;
    }
    size_t digits = (size_t)(length - skipped);
    if (digits > PARSE_BUFFER_SIZE - 1) digits = PARSE_BUFFER_SIZE - 1;
    if (digits > 0) memcpy(out, argument + skipped, digits);
    out[digits] = '\0';
    return NOERROR;
}
