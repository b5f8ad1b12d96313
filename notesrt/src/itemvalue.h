// itemvalue.h - the byte layout of item values and their text forms.
//
// Values are kept without their leading type WORD, in host byte order:
// TEXT is the bytes; TEXT_LIST a WORD count, one WORD length per entry and
// the entries back to back; NUMBER a double; TIME a TIMEDATE; the range
// types a RANGE header, the single values, then the pairs. Used by the
// item calls and by note saving ($UpdatedBy).
//
// Database files hold the same layout in little-endian order whatever the
// host, so that a file reads the same on every platform; the store turns
// values into that order and back as it writes and reads them. Values of
// other types are opaque bytes and are stored as given.
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

// True where host order and stored order are the same, and converting
// values costs nothing.
constexpr bool kHostIsLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Reverses the bytes of every WORD, DWORD and NUMBER field of a value of a
// known layout. countsInHostOrder tells whether the list's counts and
// lengths can be read as they are (true before the swap from host order,
// false before the swap back). False, leaving data alone, for a value cut
// short.
bool SwapValueBytes(WORD type, bool countsInHostOrder, std::string* data);

// A host-order value in the byte order of database files, and back.
void HostToStoredOrder(WORD type, std::string* data);
void StoredToHostOrder(WORD type, std::string* data);

// The value as text: list entries joined with the separator, numbers and
// times formatted. False for types without a text form.
bool ValueToText(WORD type, const std::string& data, const std::string& separator,
                 std::string* text);

}  // namespace nrt

#endif
