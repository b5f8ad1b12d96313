// statistics.h - the server statistics as `show stat [PATTERN] [--json]`
// shows them: one "Name = value" a line, sorted by name, as a Domino
// console does, or a JSON array for a monitoring system. Used by the
// console and by a one-shot `show stat` when no console runs.
#ifndef ZELREP_NSERVER_STATISTICS_H
#define ZELREP_NSERVER_STATISTICS_H

#include <string>
#include <vector>

namespace nserver {

// The statistics whose full names match the pattern ("" all; '*' any run
// of characters, letters in either case, "ZELREP.SYNC1" as
// "ZELREP.SYNC1.*").
std::string StatisticsText(const std::string& pattern);
// [{"name": ..., "type": "LONG", "value": ..., "pid": ...}, ...]: values
// of type LONG and NUMBER as JSON numbers, the others as texts.
std::string StatisticsJson(const std::string& pattern);

// The answer to the words after "show stat": at most one pattern and
// "--json". False with the usage text in *answer when they do not parse.
bool ShowStatistics(const std::vector<std::string>& words, std::string* answer);

extern const char kShowStatisticsUsage[];

}  // namespace nserver

#endif
