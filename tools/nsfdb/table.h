// table.h - documents as a text table: one row per document with the
// items a change document carries first (Event, Type, Source Note ID,
// NotesDN or DN), then the document's other items as NAME=VALUE pairs.
// Documents of the pass history (every one of form "Pass") show Instance,
// Kind, Scope, Start, Since, Until, Chain and Result first instead.
//
// Owned by the nsfdb tool (dump --format table).
#ifndef NSFDB_TABLE_H
#define NSFDB_TABLE_H

#include <ostream>
#include <vector>

#include "docjson.h"

namespace nsfdb {

// documents are in the JSON shape of NoteToJson. With a width (0: no
// limit) the Items cell goes on over further lines of the row, aligned
// under its column, broken between items and between list entries.
void PrintTable(const std::vector<Json>& documents, std::ostream& out, size_t width = 0);

}  // namespace nsfdb

#endif
