// commands.h - the console command handlers for passes, states, the
// schedule, switches, string settings, saving, reloading and tracing
// (commands.cpp). Each has the CMDHANDLER form of console.h.
#ifndef ZELREP_COMMANDS_H
#define ZELREP_COMMANDS_H

#include "global.h"

class CConfig;

STATUS CmdReplicate(char* argument, WORD length, CConfig* config);
STATUS CmdMigrate(char* argument, WORD length, CConfig* config);
STATUS CmdSuspend(char* argument, WORD length, CConfig* config);
STATUS CmdResume(char* argument, WORD length, CConfig* config);
STATUS CmdSchVal(char* argument, WORD length, CConfig* config);
STATUS CmdSchUnits(char* argument, WORD length, CConfig* config);
STATUS CmdSetLoopDetectID(char* argument, WORD length, CConfig* config);
STATUS CmdSetLoopDetect(char* argument, WORD length, CConfig* config);
STATUS CmdRefreshConfig(char* argument, WORD length, CConfig* config);
STATUS CmdSaveConfig(char* argument, WORD length, CConfig* config);
STATUS CmdOutputDB(char* argument, WORD length, CConfig* config);
STATUS CmdInputDB(char* argument, WORD length, CConfig* config);
STATUS CmdSetAutoRefresh(char* argument, WORD length, CConfig* config);
STATUS CmdSetDirectoryFlag(char* argument, WORD length, CConfig* config);
STATUS CmdSetDNFormat(char* argument, WORD length, CConfig* config);
STATUS CmdWriteTimeStamps(char* argument, WORD length, CConfig* config);
STATUS CmdCheckAttrs(char* argument, WORD length, CConfig* config);
STATUS CmdDebugTrace(char* argument, WORD length, CConfig* config);
STATUS CmdDebugBreak(char* argument, WORD length, CConfig* config);
STATUS CmdTraceLevel(char* argument, WORD length, CConfig* config);

#endif
