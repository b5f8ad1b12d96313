// console.h - console command dispatch: the command table, the one
// dispatcher ProcessMessage, the answer to unknown commands and the
// argument parsers that the handlers share.
//
// Handlers take the argument text after the command word (NUL-terminated
// after its length), its length and the task's CConfig; they parse their
// argument, act, and log their answer. ProcessMessage is the only
// dispatcher.
#ifndef ZELREP_CONSOLE_H
#define ZELREP_CONSOLE_H

#include "global.h"

class CConfig;

// Output buffers of the parsers hold this many bytes; longer arguments are
// cut there.
#define PARSE_BUFFER_SIZE 256

// Parser statuses.
#define PARSE_EMPTY ((STATUS)0xFFFE)
#define PARSE_NO_OUTPUT ((STATUS)0xFFFF)
#define PARSE_NOT_DIGIT ((STATUS)0x040D)

typedef STATUS (*CMDHANDLER)(char* argument, WORD length, CConfig* config);

typedef struct {
    const char* command;
    CMDHANDLER handler;
} CMDTABLE_ENTRY;

extern const CMDTABLE_ENTRY CmdTable[];
extern const char MessageCmdError[];

STATUS ProcessMessage(char* message, WORD length, CConfig* config);
STATUS GetStringValue(char* argument, WORD length, char* out);
STATUS GetBooleanValue(char* argument, WORD length, int* out);
STATUS GetNumericValue(char* argument, WORD length, char* out);

STATUS CmdError(char* argument, WORD length, CConfig* config);

#endif
