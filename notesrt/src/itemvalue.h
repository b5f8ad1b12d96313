// itemvalue.h - the byte layout of item values and their text forms.
//
// Values are kept without their leading type WORD, in host byte order:
// TEXT is the bytes; TEXT_LIST a WORD count, one WORD length per entry and
// the entries back to back; NUMBER a double; TIME a TIMEDATE; the range
// types a RANGE header, the single values, then the pairs. Used by the
// item calls and by note saving ($UpdatedBy).
// Database files hold them in little-endian order (valueorder.h).
#ifndef NOTESRT_SRC_ITEMVALUE_H
#define NOTESRT_SRC_ITEMVALUE_H

#include <string>
#include <string_view>
#include <vector>

#include "global.h"

namespace nrt {

// Largest value an item may hold, and so the largest text list.
constexpr size_t kMaxItemValueSize = 0xFFFF;

// The entries of a TEXT or TEXT_LIST value: a TEXT value is one entry, an
// empty TEXT value none. False for other types and malformed lists.
bool TextEntries(WORD type, const std::string& data, std::vector<std::string>* entries);
// The same entries as views into data, for reading without copies.
bool TextEntryViews(WORD type, const std::string& data, std::vector<std::string_view>* entries);
// False when the list would pass kMaxItemValueSize.
bool EncodeTextList(const std::vector<std::string_view>& entries, std::string* data);

std::string EncodeNumber(NUMBER number);
std::string EncodeTime(const TIMEDATE& time);

// The first value of a NUMBER or NUMBER_RANGE (TIME or TIME_RANGE) value:
// the first single one, else the lower end of the first pair.
bool FirstNumber(WORD type, const std::string& data, NUMBER* number);
bool FirstTime(WORD type, const std::string& data, TIMEDATE* time);

// The value as text: list entries joined with the separator, numbers and
// times formatted. False for types without a text form.
bool ValueToText(WORD type, const std::string& data, const std::string& separator,
                 std::string* text);

}  // namespace nrt

#endif
