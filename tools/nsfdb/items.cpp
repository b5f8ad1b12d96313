// items.cpp - item values in the Notes encodings (see items.h).
#include "items.h"

#include <strings.h>

#include <cstring>

#include "nsferr.h"
#include "nsfnote.h"
#include "runtime.h"

namespace nsfdb {
namespace {

// The largest value one item holds (the type WORD aside).
constexpr size_t kMaxValueBytes = MAXONESEGSIZE_ITEM - sizeof(WORD);

template <typename T>
void Append(std::string* data, const T& value) {
    data->append(reinterpret_cast<const char*>(&value), sizeof(T));
}

// Reads fixed-size values from a value's bytes, refusing to run past them.
class Reader {
public:
    explicit Reader(const std::string& data) : data_(data) {}
    template <typename T>
    T Next() {
        T value;
        Need(sizeof(T));
        std::memcpy(&value, data_.data() + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }
    std::string Bytes(size_t count) {
        Need(count);
        std::string bytes = data_.substr(offset_, count);
        offset_ += count;
        return bytes;
    }

private:
    void Need(size_t count) const {
        if (data_.size() - offset_ < count) throw ToolError("damaged item value (too short)");
    }
    const std::string& data_;
    size_t offset_ = 0;
};

ItemValue Checked(WORD type, std::string data) {
    if (data.size() > kMaxValueBytes)
        throw ToolError("value too large for one item (" + std::to_string(data.size()) +
                        " bytes, at most " + std::to_string(kMaxValueBytes) + ")");
    return ItemValue{type, std::move(data)};
}

template <typename Single, typename Pair>
ItemValue RangeValue(WORD type, const Range<Single, Pair>& range) {
    if (range.singles.size() > MAXWORD || range.pairs.size() > MAXWORD)
        throw ToolError("too many entries for one item");
    std::string data;
    Append(&data, RANGE{(USHORT)range.singles.size(), (USHORT)range.pairs.size()});
    for (const Single& single : range.singles) Append(&data, single);
    for (const Pair& pair : range.pairs) Append(&data, pair);
    return Checked(type, std::move(data));
}

template <typename Single, typename Pair>
Range<Single, Pair> RangeOf(const ItemValue& value) {
    Reader reader(value.data);
    RANGE header = reader.Next<RANGE>();
    Range<Single, Pair> range;
    for (USHORT i = 0; i < header.ListEntries; ++i) range.singles.push_back(reader.Next<Single>());
    for (USHORT i = 0; i < header.RangeEntries; ++i) range.pairs.push_back(reader.Next<Pair>());
    return range;
}

void CheckName(const std::string& name) {
    if (name.empty()) throw ToolError("an item name must not be empty");
    if (name.size() >= MAXITEMNAME)
        throw ToolError("item name " + Quoted(name.substr(0, 40) + "...") + " is longer than " +
                        std::to_string(MAXITEMNAME - 1) + " bytes");
}

STATUS LNCALLBACK CollectItem(WORD, WORD flags, char* name, WORD nameLength, void* value,
                              DWORD valueLength, void* parameter) {
    auto* items = static_cast<std::vector<Item>*>(parameter);
    Item item;
    item.name.assign(name, nameLength);
    item.flags = flags;
    if (valueLength >= sizeof(WORD)) {
        std::memcpy(&item.value.type, value, sizeof(WORD));
        item.value.data.assign(static_cast<const char*>(value) + sizeof(WORD),
                               valueLength - sizeof(WORD));
    }
    items->push_back(std::move(item));
    return NOERROR;
}

}  // namespace

ItemValue TextValue(const std::string& text) { return Checked(TYPE_TEXT, text); }

ItemValue TextListValue(const std::vector<std::string>& entries) {
    if (entries.size() > MAXWORD) throw ToolError("too many text list entries for one item");
    std::string data;
    Append(&data, LIST{(USHORT)entries.size()});
    for (const std::string& entry : entries) {
        if (entry.size() > MAXWORD) throw ToolError("text list entry longer than 65535 bytes");
        Append(&data, (WORD)entry.size());
    }
    for (const std::string& entry : entries) data += entry;
    return Checked(TYPE_TEXT_LIST, std::move(data));
}

ItemValue NumberValue(NUMBER number) {
    std::string data;
    Append(&data, number);
    return ItemValue{TYPE_NUMBER, data};
}

ItemValue TimeValue(const TIMEDATE& time) {
    std::string data;
    Append(&data, time);
    return ItemValue{TYPE_TIME, data};
}

ItemValue NumberRangeValue(const NumberRange& range) { return RangeValue(TYPE_NUMBER_RANGE, range); }
ItemValue TimeRangeValue(const TimeRange& range) { return RangeValue(TYPE_TIME_RANGE, range); }

std::vector<std::string> TextListEntries(const ItemValue& value) {
    if (value.type == TYPE_TEXT) return {value.data};
    Reader reader(value.data);
    LIST header = reader.Next<LIST>();
    std::vector<WORD> lengths;
    for (USHORT i = 0; i < header.ListEntries; ++i) lengths.push_back(reader.Next<WORD>());
    std::vector<std::string> entries;
    for (WORD length : lengths) entries.push_back(reader.Bytes(length));
    return entries;
}

NUMBER NumberOf(const ItemValue& value) { return Reader(value.data).Next<NUMBER>(); }
TIMEDATE TimeOf(const ItemValue& value) { return Reader(value.data).Next<TIMEDATE>(); }
NumberRange NumberRangeOf(const ItemValue& value) { return RangeOf<NUMBER, NUMBER_PAIR>(value); }
TimeRange TimeRangeOf(const ItemValue& value) { return RangeOf<TIMEDATE, TIMEDATE_PAIR>(value); }

std::vector<Item> ReadItems(NOTEHANDLE note) {
    std::vector<Item> items;
    Check(NSFItemScan(note, CollectItem, &items), "cannot read the items");
    return items;
}

std::vector<std::string> TextEntriesOf(const std::vector<Item>& items, const std::string& name) {
    for (const Item& item : items) {
        if (strcasecmp(item.name.c_str(), name.c_str()) != 0) continue;
        if (item.value.type != TYPE_TEXT && item.value.type != TYPE_TEXT_LIST) return {};
        return TextListEntries(item.value);
    }
    return {};
}

void WriteItem(NOTEHANDLE note, const std::string& name, const ItemValue& value, WORD flags) {
    RemoveItem(note, name);
    Check(NSFItemAppend(note, (WORD)(flags | ITEM_SUMMARY), name.c_str(), (WORD)name.size(),
                        value.type, value.data.data(), value.data.size()),
          "cannot write item " + Quoted(name));
}

void RemoveItem(NOTEHANDLE note, const std::string& name) {
    CheckName(name);
    STATUS status = NSFItemDelete(note, name.c_str(), (WORD)name.size());
    if (ERR(status) != ERR_ITEM_NOT_FOUND) Check(status, "cannot remove item " + Quoted(name));
}

}  // namespace nsfdb
