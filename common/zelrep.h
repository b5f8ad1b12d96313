// zelrep.h - the task host: entry, main loop, the scheduled pass wrapper,
// and the console: command table, dispatcher, parsers and handlers.
//
// Handlers take the argument text after the command word (NUL-terminated
// after its length), its length and the task's CConfig; they parse their
// argument, act, and log their answer. ProcessMessage is the only
// dispatcher.
#ifndef ZELREP_ZELREP_H
#define ZELREP_ZELREP_H

#include "global.h"

class CConfig;

#ifdef _WIN32
// The platform's break into the debugger (kernel32), declared here because
// the platform's headers clash with the Notes types. Windows build only.
extern "C" __declspec(dllimport) void __stdcall DebugBreak(void);
#endif

#define MQ_RECEIVE_SIZE 256
#define MQ_READ_TIMEOUT_MS 2000

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

STATUS ExecuteReplication(CConfig* config, int incremental);

STATUS ProcessMessage(char* message, WORD length, CConfig* config);
STATUS GetStringValue(char* argument, WORD length, char* out);
STATUS GetBooleanValue(char* argument, WORD length, int* out);
STATUS GetNumericValue(char* argument, WORD length, char* out);
const char* GetTraceStr(long level);

STATUS CmdError(char* argument, WORD length, CConfig* config);
STATUS CmdReplicate(char* argument, WORD length, CConfig* config);
STATUS CmdMigrate(char* argument, WORD length, CConfig* config);
STATUS CmdSuspend(char* argument, WORD length, CConfig* config);
STATUS CmdResume(char* argument, WORD length, CConfig* config);
STATUS CmdSchVal(char* argument, WORD length, CConfig* config);
STATUS CmdSchUnits(char* argument, WORD length, CConfig* config);
STATUS CmdSetLoopDetectID(char* argument, WORD length, CConfig* config);
STATUS CmdSetLoopDetect(char* argument, WORD length, CConfig* config);
STATUS CmdShowConfig(char* argument, WORD length, CConfig* config);
STATUS CmdShowFilter(char* argument, WORD length, CConfig* config);
STATUS CmdRefreshConfig(char* argument, WORD length, CConfig* config);
STATUS CmdSaveConfig(char* argument, WORD length, CConfig* config);
STATUS CmdOutputDB(char* argument, WORD length, CConfig* config);
STATUS CmdInputDB(char* argument, WORD length, CConfig* config);
STATUS CmdSetAutoRefresh(char* argument, WORD length, CConfig* config);
STATUS CmdSetDirectoryFlag(char* argument, WORD length, CConfig* config);
STATUS CmdSetDNFormat(char* argument, WORD length, CConfig* config);
STATUS CmdSetInstance(char* argument, WORD length, CConfig* config);
STATUS CmdWriteTimeStamps(char* argument, WORD length, CConfig* config);
STATUS CmdCheckAttrs(char* argument, WORD length, CConfig* config);
STATUS CmdDebugTrace(char* argument, WORD length, CConfig* config);
STATUS CmdDebugBreak(char* argument, WORD length, CConfig* config);
STATUS CmdTraceLevel(char* argument, WORD length, CConfig* config);

#endif
