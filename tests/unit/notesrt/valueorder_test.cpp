// valueorder_test.cpp - item values in the byte order of database files:
// each layout stored has its documented little-endian bytes whatever the
// host, the swap reaches every multi-byte field and undoes itself, a value
// cut short is left alone, and the database files written by other builds
// (tests/data/byteorder.nsf on Linux x86-64, tests/data/windows.nsf by the
// 32-bit Windows build, see nsfnote_test.cpp) decode to the values they
// were given.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "nsfnote.h"
#include "valueorder.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
    std::string data;
    for (int byte : bytes) data.push_back((char)byte);
    return data;
}

template <typename T>
void Append(std::string* data, const T& value) {
    data->append(reinterpret_cast<const char*>(&value), sizeof(T));
}

// A range value in host order: the RANGE header, the single values, then
// the pairs.
template <typename T>
std::string HostRange(const std::vector<T>& singles, const std::vector<std::pair<T, T>>& pairs = {}) {
    std::string data;
    Append(&data, RANGE{(USHORT)singles.size(), (USHORT)pairs.size()});
    for (const T& value : singles) Append(&data, value);
    for (const auto& pair : pairs) {
        Append(&data, pair.first);
        Append(&data, pair.second);
    }
    return data;
}

template <typename T>
std::string Host(const T& value) {
    std::string data;
    Append(&data, value);
    return data;
}

std::string HostTextList(const std::vector<std::string>& entries) {
    std::string data = Host((WORD)entries.size());
    for (const std::string& entry : entries) Append(&data, (WORD)entry.size());
    for (const std::string& entry : entries) data += entry;
    return data;
}

const TIMEDATE kHired = {{0x00317040, 0x002583B0}};  // 2019/03/01 09:00:00 AM GMT
const TIMEDATE kShiftStart = {{0x002BF200, 0x00258D76}};
const TIMEDATE kShiftEnd = {{0x0057E400, 0x00258D76}};

struct Layout {
    WORD type;
    std::string host;
    std::string littleEndian;
    std::string bigEndian;
};

std::vector<Layout> EveryLayout() {
    return {
        {TYPE_TEXT, "Jane", "Jane", "Jane"},
        {TYPE_TEXT_LIST, HostTextList({"ab", "c"}),
         Bytes({2, 0, 2, 0, 1, 0, 'a', 'b', 'c'}), Bytes({0, 2, 0, 2, 0, 1, 'a', 'b', 'c'})},
        {TYPE_NUMBER, Host<NUMBER>(1250.5), Bytes({0, 0, 0, 0, 0, 0x8A, 0x93, 0x40}),
         Bytes({0x40, 0x93, 0x8A, 0, 0, 0, 0, 0})},
        {TYPE_NUMBER_RANGE, HostRange<NUMBER>({10}, {{10, 20}}),
         Bytes({1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x24, 0x40, 0, 0, 0, 0, 0, 0, 0x24, 0x40,
                0, 0, 0, 0, 0, 0, 0x34, 0x40}),
         Bytes({0, 1, 0, 1, 0x40, 0x24, 0, 0, 0, 0, 0, 0, 0x40, 0x24, 0, 0, 0, 0, 0, 0,
                0x40, 0x34, 0, 0, 0, 0, 0, 0})},
        {TYPE_TIME, Host(kHired), Bytes({0x40, 0x70, 0x31, 0, 0xB0, 0x83, 0x25, 0}),
         Bytes({0, 0x31, 0x70, 0x40, 0, 0x25, 0x83, 0xB0})},
        {TYPE_TIME_RANGE, HostRange<TIMEDATE>({kHired}),
         Bytes({1, 0, 0, 0, 0x40, 0x70, 0x31, 0, 0xB0, 0x83, 0x25, 0}),
         Bytes({0, 1, 0, 0, 0, 0x31, 0x70, 0x40, 0, 0x25, 0x83, 0xB0})},
        {TYPE_COMPOSITE, Bytes({1, 2, 3}), Bytes({1, 2, 3}), Bytes({1, 2, 3})},
    };
}

std::string OtherOrder(const Layout& layout) {
    return nrt::kHostIsLittleEndian ? layout.bigEndian : layout.littleEndian;
}

}  // namespace

TEST(StoredOrderTest, EveryLayoutIsStoredWithItsLittleEndianBytes) {
    for (const Layout& layout : EveryLayout()) {
        SCOPED_TRACE(layout.type);
        std::string stored = layout.host;
        nrt::HostToStoredOrder(layout.type, &stored);
        EXPECT_EQ(layout.littleEndian, stored);
        nrt::StoredToHostOrder(layout.type, &stored);
        EXPECT_EQ(layout.host, stored);
    }
}

TEST(StoredOrderTest, SwapReachesEveryFieldAndUndoesItself) {
    for (const Layout& layout : EveryLayout()) {
        SCOPED_TRACE(layout.type);
        std::string data = layout.host;
        ASSERT_TRUE(nrt::SwapValueBytes(layout.type, true, &data));
        EXPECT_EQ(OtherOrder(layout), data);
        ASSERT_TRUE(nrt::SwapValueBytes(layout.type, false, &data));
        EXPECT_EQ(layout.host, data);
    }
}

TEST(StoredOrderTest, ValueCutShortIsLeftAlone) {
    for (const Layout& layout : EveryLayout()) {
        if (layout.host == layout.littleEndian && layout.host == layout.bigEndian) continue;
        SCOPED_TRACE(layout.type);
        std::string cut = layout.host.substr(0, layout.host.size() - 1);
        if (layout.type == TYPE_TEXT_LIST) cut = layout.host.substr(0, 5);  // a length missing
        std::string data = cut;
        EXPECT_FALSE(nrt::SwapValueBytes(layout.type, true, &data));
        EXPECT_EQ(cut, data);
    }
}

// A fixture file's items, read with SQLite itself (the file is opened
// immutable, so nothing is written beside it), in host order.
class FixtureFileTest : public ::testing::Test {
protected:
    std::map<std::string, std::pair<WORD, std::string>> ReadItems(const std::string& fixture) {
        std::map<std::string, std::pair<WORD, std::string>> items;
        std::string uri = std::string("file:") + ZELREP_SOURCE_DIR "/tests/data/" + fixture + "?immutable=1";
        sqlite3* db = nullptr;
        int opened = sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        EXPECT_EQ(SQLITE_OK, opened) << sqlite3_errmsg(db);
        sqlite3_stmt* query = nullptr;
        if (opened == SQLITE_OK) {
            EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "SELECT name, type, value FROM items", -1, &query, nullptr));
        }
        while (query != nullptr && sqlite3_step(query) == SQLITE_ROW) {
            std::string name((const char*)sqlite3_column_text(query, 0));
            WORD type = (WORD)sqlite3_column_int(query, 1);
            std::string value((const char*)sqlite3_column_blob(query, 2), sqlite3_column_bytes(query, 2));
            nrt::StoredToHostOrder(type, &value);
            items[name] = {type, value};
        }
        sqlite3_finalize(query);
        sqlite3_close(db);
        return items;
    }
};

TEST_F(FixtureFileTest, ValuesWrittenByAnotherBuildDecodeTheSame) {
    for (const char* fixture : {"byteorder.nsf", "windows.nsf"}) {
        SCOPED_TRACE(fixture);
        auto items = ReadItems(fixture);
        using Item = std::pair<WORD, std::string>;
        EXPECT_EQ(Item(TYPE_TEXT, "Person"), items["Form"]);
        EXPECT_EQ(Item(TYPE_TEXT_LIST, HostTextList({"CN=Jane Doe/O=Acme", "Jane Doe"})), items["FullName"]);
        EXPECT_EQ(Item(TYPE_NUMBER, Host<NUMBER>(1250.5)), items["Salary"]);
        EXPECT_EQ(Item(TYPE_NUMBER_RANGE, HostRange<NUMBER>({10, 20})), items["Extensions"]);
        EXPECT_EQ(Item(TYPE_TIME, Host(kHired)), items["Hired"]);
        EXPECT_EQ(Item(TYPE_TIME_RANGE, HostRange<TIMEDATE>({kShiftStart, kShiftEnd})), items["Shifts"]);
    }
}
