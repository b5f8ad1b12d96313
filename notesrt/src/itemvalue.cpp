// itemvalue.cpp - encoding, decoding and text forms of item values.
#include "itemvalue.h"

#include <cstdio>
#include <cstring>

#include "misc.h"
#include "nsfnote.h"

namespace nrt {
namespace {

template <typename T>
bool ReadAt(const std::string& data, size_t offset, T* value) {
    if (offset + sizeof(T) > data.size()) return false;
    std::memcpy(value, data.data() + offset, sizeof(T));
    return true;
}

template <typename T>
void Append(std::string* data, const T& value) {
    data->append(reinterpret_cast<const char*>(&value), sizeof(T));
}

// Single values and pairs of a range value, or of a plain value (one single).
template <typename T>
bool DecodeValues(WORD type, WORD plainType, WORD rangeType, const std::string& data,
                  std::vector<T>* singles, std::vector<std::pair<T, T>>* pairs) {
    if (type == plainType) {
        T value;
        if (!ReadAt(data, 0, &value)) return false;
        singles->push_back(value);
        return true;
    }
    RANGE range;
    if (type != rangeType || !ReadAt(data, 0, &range)) return false;
    size_t offset = sizeof(RANGE);
    for (WORD i = 0; i < range.ListEntries; ++i, offset += sizeof(T)) {
        T value;
        if (!ReadAt(data, offset, &value)) return false;
        singles->push_back(value);
    }
    for (WORD i = 0; i < range.RangeEntries; ++i, offset += 2 * sizeof(T)) {
        T lower, upper;
        if (!ReadAt(data, offset, &lower) || !ReadAt(data, offset + sizeof(T), &upper)) return false;
        pairs->emplace_back(lower, upper);
    }
    return true;
}

template <typename T>
bool FirstValue(WORD type, WORD plainType, WORD rangeType, const std::string& data, T* value) {
    std::vector<T> singles;
    std::vector<std::pair<T, T>> pairs;
    if (!DecodeValues(type, plainType, rangeType, data, &singles, &pairs)) return false;
    if (!singles.empty()) *value = singles.front();
    else if (!pairs.empty()) *value = pairs.front().first;
    else return false;
    return true;
}

std::string NumberText(NUMBER number) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15G", number);
    return buffer;
}

std::string TimeText(TIMEDATE time) {
    char buffer[MAXALPHATIMEDATE + 1];
    WORD length = 0;
    if (ConvertTIMEDATEToText(nullptr, nullptr, &time, buffer, MAXALPHATIMEDATE, &length) != NOERROR)
        return std::string();
    return std::string(buffer, length);
}

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) text += separator;
        text += parts[i];
    }
    return text;
}

template <typename T, typename Format>
bool RangeText(WORD type, WORD plainType, WORD rangeType, const std::string& data,
               const std::string& separator, Format format, std::string* text) {
    std::vector<T> singles;
    std::vector<std::pair<T, T>> pairs;
    if (!DecodeValues(type, plainType, rangeType, data, &singles, &pairs)) return false;
    std::vector<std::string> parts;
    for (const T& value : singles) parts.push_back(format(value));
    for (const auto& pair : pairs) parts.push_back(format(pair.first) + " - " + format(pair.second));
    *text = Join(parts, separator);
    return true;
}

}  // namespace

bool TextEntryViews(WORD type, const std::string& data, std::vector<std::string_view>* entries) {
    entries->clear();
    if (type == TYPE_TEXT) {
        if (!data.empty()) entries->push_back(data);
        return true;
    }
    WORD count = 0;
    if (type != TYPE_TEXT_LIST || !ReadAt(data, 0, &count)) return false;
    entries->reserve(count);
    size_t offset = sizeof(WORD) * (1 + (size_t)count);
    for (WORD i = 0; i < count; ++i) {
        WORD length = 0;
        if (!ReadAt(data, sizeof(WORD) * (1 + (size_t)i), &length)) return false;
        if (offset + length > data.size()) return false;
        entries->push_back(std::string_view(data).substr(offset, length));
        offset += length;
    }
    return true;
}

bool TextEntries(WORD type, const std::string& data, std::vector<std::string>* entries) {
    std::vector<std::string_view> views;
    bool valid = TextEntryViews(type, data, &views);
    entries->assign(views.begin(), views.end());
    return valid;
}

bool EncodeTextList(const std::vector<std::string_view>& entries, std::string* data) {
    size_t size = sizeof(WORD) * (1 + entries.size());
    for (std::string_view entry : entries) size += entry.size();
    if (entries.size() > MAXWORD || size > kMaxItemValueSize) return false;
    data->clear();
    data->reserve(size);
    Append(data, (WORD)entries.size());
    for (std::string_view entry : entries) Append(data, (WORD)entry.size());
    for (std::string_view entry : entries) data->append(entry);
    return true;
}

std::string EncodeNumber(NUMBER number) {
    std::string data;
    Append(&data, number);
    return data;
}

std::string EncodeTime(const TIMEDATE& time) {
    std::string data;
    Append(&data, time);
    return data;
}

bool FirstNumber(WORD type, const std::string& data, NUMBER* number) {
    return FirstValue(type, TYPE_NUMBER, TYPE_NUMBER_RANGE, data, number);
}

bool FirstTime(WORD type, const std::string& data, TIMEDATE* time) {
    return FirstValue(type, TYPE_TIME, TYPE_TIME_RANGE, data, time);
}

bool ValueToText(WORD type, const std::string& data, const std::string& separator,
                 std::string* text) {
    std::vector<std::string> entries;
    switch (type) {
        case TYPE_TEXT:
            *text = data;
            return true;
        case TYPE_TEXT_LIST:
            if (!TextEntries(type, data, &entries)) return false;
            *text = Join(entries, separator);
            return true;
        case TYPE_NUMBER:
        case TYPE_NUMBER_RANGE:
            return RangeText<NUMBER>(type, TYPE_NUMBER, TYPE_NUMBER_RANGE, data, separator,
                                     NumberText, text);
        case TYPE_TIME:
        case TYPE_TIME_RANGE:
            return RangeText<TIMEDATE>(type, TYPE_TIME, TYPE_TIME_RANGE, data, separator,
                                       TimeText, text);
        default:
            return false;
    }
}

}  // namespace nrt
