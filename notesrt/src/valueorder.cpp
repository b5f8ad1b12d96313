// valueorder.cpp - swapping the fields of item values between host order
// and the little-endian order of database files.
#include "valueorder.h"

#include <algorithm>
#include <cstring>

#include "nsfnote.h"

namespace nrt {
namespace {

// Reverses the bytes of each of count fields of width bytes from offset
// on; false, changing nothing, when they pass the end.
bool SwapFields(std::string* data, size_t offset, size_t count, size_t width) {
    if (offset + count * width > data->size()) return false;
    for (size_t at = offset; at < offset + count * width; at += width)
        std::reverse(data->begin() + at, data->begin() + at + width);
    return true;
}

// A list's count or length, in host order or in the other one.
bool ReadCount(const std::string& data, size_t offset, bool hostOrder, WORD* count) {
    if (offset + sizeof(WORD) > data.size()) return false;
    std::memcpy(count, data.data() + offset, sizeof(WORD));
    if (!hostOrder) *count = (WORD)((*count >> 8) | (*count << 8));
    return true;
}

// The count and the lengths.
bool SwapTextList(bool countsInHostOrder, std::string* data) {
    WORD count = 0;
    if (!ReadCount(*data, 0, countsInHostOrder, &count)) return false;
    return SwapFields(data, 0, 1 + (size_t)count, sizeof(WORD));
}

// The RANGE header, then the singles and pairs, each value made of
// valueFields fields of fieldWidth bytes.
bool SwapRange(bool countsInHostOrder, size_t valueFields, size_t fieldWidth, std::string* data) {
    WORD singles = 0, pairs = 0;
    if (!ReadCount(*data, 0, countsInHostOrder, &singles) ||
        !ReadCount(*data, sizeof(WORD), countsInHostOrder, &pairs))
        return false;
    size_t fields = valueFields * (singles + 2 * (size_t)pairs);
    if (sizeof(RANGE) + fields * fieldWidth > data->size()) return false;
    return SwapFields(data, 0, 2, sizeof(WORD)) && SwapFields(data, sizeof(RANGE), fields, fieldWidth);
}

constexpr size_t kTimeFields = sizeof(TIMEDATE) / sizeof(DWORD);

}  // namespace

bool SwapValueBytes(WORD type, bool countsInHostOrder, std::string* data) {
    switch (type) {
        case TYPE_TEXT_LIST:
            return SwapTextList(countsInHostOrder, data);
        case TYPE_NUMBER:
            return SwapFields(data, 0, 1, sizeof(NUMBER));
        case TYPE_NUMBER_RANGE:
            return SwapRange(countsInHostOrder, 1, sizeof(NUMBER), data);
        case TYPE_TIME:
            return SwapFields(data, 0, kTimeFields, sizeof(DWORD));
        case TYPE_TIME_RANGE:
            return SwapRange(countsInHostOrder, kTimeFields, sizeof(DWORD), data);
        default:
            return true;  // text, or bytes of a layout the runtime does not know
    }
}

void HostToStoredOrder(WORD type, std::string* data) {
    if (!kHostIsLittleEndian) SwapValueBytes(type, true, data);
}

void StoredToHostOrder(WORD type, std::string* data) {
    if (!kHostIsLittleEndian) SwapValueBytes(type, false, data);
}

}  // namespace nrt
