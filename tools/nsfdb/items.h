// items.h - item values in the Notes encodings (text, text list, number,
// number range, time, time range): building them, taking them apart,
// reading every item of a note and writing or removing one.
//
// Owned by the nsfdb tool. Values are kept as the bytes after the type
// WORD, in host order, exactly as NSFItemAppend takes them.
#ifndef NSFDB_ITEMS_H
#define NSFDB_ITEMS_H

#include <string>
#include <vector>

#include "global.h"

namespace nsfdb {

struct ItemValue {
    WORD type = 0;
    std::string data;  // without the type WORD
};

struct Item {
    std::string name;
    WORD flags = 0;
    ItemValue value;
};

// A range: single values, then pairs (NUMBER_PAIR or TIMEDATE_PAIR).
template <typename Single, typename Pair>
struct Range {
    std::vector<Single> singles;
    std::vector<Pair> pairs;
};
using NumberRange = Range<NUMBER, NUMBER_PAIR>;
using TimeRange = Range<TIMEDATE, TIMEDATE_PAIR>;

// Builders throw ToolError when the value exceeds what one item holds.
ItemValue TextValue(const std::string& text);
ItemValue TextListValue(const std::vector<std::string>& entries);
ItemValue NumberValue(NUMBER number);
ItemValue TimeValue(const TIMEDATE& time);
ItemValue NumberRangeValue(const NumberRange& range);
ItemValue TimeRangeValue(const TimeRange& range);

// Readers of the six types; they throw ToolError on a damaged value.
std::vector<std::string> TextListEntries(const ItemValue& value);
NUMBER NumberOf(const ItemValue& value);
TIMEDATE TimeOf(const ItemValue& value);
NumberRange NumberRangeOf(const ItemValue& value);
TimeRange TimeRangeOf(const ItemValue& value);

// Every item of the note, in the note's order.
std::vector<Item> ReadItems(NOTEHANDLE note);
// The entries of the first item of the name (any letter case) when it is
// a text or a text list; none for a missing item or another type.
std::vector<std::string> TextEntriesOf(const std::vector<Item>& items, const std::string& name);
// Replaces every item of the name with one holding value; ITEM_SUMMARY is
// added to flags.
void WriteItem(NOTEHANDLE note, const std::string& name, const ItemValue& value,
               WORD flags = 0);
// Removes every item of the name; a missing item is not an error.
void RemoveItem(NOTEHANDLE note, const std::string& name);

}  // namespace nsfdb

#endif
