// conslog.h - the server log inside the runtime: bounded formatting and
// the one writer of console lines (standard output and DATA/console.log).
// See nrt_server.h for the line rule.
#ifndef NOTESRT_SRC_CONSLOG_H
#define NOTESRT_SRC_CONSLOG_H

#include <cstdarg>
#include <string>

#include "global.h"

namespace nrt {

// The longest text one formatted message or status-line text keeps.
constexpr size_t kMaxFormattedText = 4095;

// printf-style formatting into a bounded buffer; a longer result is cut.
std::string FormatBounded(const char* format, va_list args);

// The text with its lines stamped: "YYYY/MM/DD HH:MM:SS  line\n" each.
std::string StampedLines(const std::string& text, const std::string& stamp);
// The local time stamp of now, "YYYY/MM/DD HH:MM:SS".
std::string LocalTimeStamp();

// Hands text to the log sink, then (unless the sink is exclusive) writes
// its stamped lines to standard output and appends them to console.log.
// With gather, lines bound for a pipe, and in a server task those bound
// for console.log, may reach it up to 2 ms later (at the latest at the
// task's next idle call, and when it exits).
void LogText(const std::string& text, bool gather);
// Writes what is gathered now (the task is idle, or its add-in run ends).
void WriteGatheredLog();
// Gathers console.log's lines too (a server task's add-in services run),
// or no longer, after writing those gathered.
void GatherConsoleLog(bool gather);

}  // namespace nrt

#endif
