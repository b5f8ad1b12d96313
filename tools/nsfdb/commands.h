// commands.h - the commands of nsfdb, one function each, called with the
// parsed command line; each returns the exit status or throws ToolError.
//
// Owned by the nsfdb tool: commands.cpp holds the document commands,
// sample.cpp the sample directory, instance.cpp the configuration writer,
// check.cpp the integrity check.
// filtercheck.cpp the filter checker.
#ifndef NSFDB_COMMANDS_H
#define NSFDB_COMMANDS_H

#include "cmdline.h"

namespace nsfdb {

int RunCreate(const CommandLine& line);
int RunInfo(const CommandLine& line);
int RunPut(const CommandLine& line);
int RunGet(const CommandLine& line);
int RunFind(const CommandLine& line);
int RunDelete(const CommandLine& line);
int RunDump(const CommandLine& line);
int RunModified(const CommandLine& line);
int RunPurge(const CommandLine& line);
int RunSample(const CommandLine& line);
int RunInstance(const CommandLine& line);
int RunCheck(const CommandLine& line);
int RunFilter(const CommandLine& line);

// "nsfdb: message" on standard error: a failure of a command that goes on
// with the rest of its work, or a warning.
void ReportError(const std::string& message);

}  // namespace nsfdb

#endif
