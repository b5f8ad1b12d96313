// cfgcmds.h - the console commands that list the configuration
// (SHOWCONFIG, SHOWFILTER) and switch the running task to another instance
// (SETINSTANCE), in the CMDHANDLER form of console.h.
#ifndef ZELREP_CFGCMDS_H
#define ZELREP_CFGCMDS_H

#include "global.h"

class CConfig;

STATUS CmdShowConfig(char* argument, WORD length, CConfig* config);
STATUS CmdShowFilter(char* argument, WORD length, CConfig* config);
STATUS CmdSetInstance(char* argument, WORD length, CConfig* config);

#endif
