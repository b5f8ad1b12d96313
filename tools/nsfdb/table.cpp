// table.cpp - documents as a text table (see table.h).
#include "table.h"

#include <algorithm>
#include <array>
#include <string>

namespace nsfdb {
namespace {

constexpr size_t kColumns = 5;
constexpr size_t kMaxColumnWidth = 48;  // longer cells overflow their column
const std::array<std::string, kColumns> kHeaders = {"Event", "Type", "Source Note ID",
                                                   "NotesDN/DN", "Items"};
// Items not listed among the others: those shown in their own columns and
// those the runtime adds to every note it saves.
const char* const kOwnColumnItems[] = {"Event",   "Type", "Source Note ID", "NotesDN",
                                       "DN",      "$UpdatedBy", "$Revisions"};

using Row = std::array<std::string, kColumns>;

// Characters on screen: UTF-8 continuation bytes take no column.
size_t DisplayWidth(const std::string& text) {
    return (size_t)std::count_if(text.begin(), text.end(),
                                 [](char c) { return ((unsigned char)c & 0xC0) != 0x80; });
}

// A value on one line: control characters (line breaks in texts) become
// blanks; list entries are joined with "; ", the two ends of a pair with
// " - ".
std::string Flatten(const Json& value, const char* separator = "; ") {
    if (value.is_string()) {
        std::string text = value.get<std::string>();
        std::replace_if(text.begin(), text.end(), [](char c) { return (unsigned char)c < 0x20; }, ' ');
        return text;
    }
    if (value.is_array()) {
        std::string text;
        for (const Json& entry : value) {
            if (!text.empty()) text += separator;
            text += Flatten(entry, " - ");
        }
        return text;
    }
    if (value.is_object() && !value.empty()) return Flatten(value.begin().value(), separator);
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool IsOwnColumnItem(const std::string& name) {
    for (const char* column : kOwnColumnItems)
        if (name == column) return true;
    return false;
}

std::string Cell(const Json& items, const char* name) {
    return items.contains(name) ? Flatten(items[name]) : "";
}

std::string OtherItems(const Json& items) {
    std::string text;
    for (const auto& [name, value] : items.items()) {
        if (IsOwnColumnItem(name)) continue;
        if (!text.empty()) text += " | ";
        text += name + "=" + Flatten(value);
    }
    return text;
}

Row RowOf(const Json& document) {
    const Json& items = document["items"];
    std::string dn = items.contains("NotesDN") ? Cell(items, "NotesDN") : Cell(items, "DN");
    return {Cell(items, "Event"), Cell(items, "Type"), Cell(items, "Source Note ID"), dn,
            OtherItems(items)};
}

void PrintRow(const Row& row, const std::array<size_t, kColumns>& widths, std::ostream& out) {
    std::string line;
    for (size_t c = 0; c + 1 < kColumns; ++c) {
        line += row[c];
        size_t width = DisplayWidth(row[c]);
        line.append(width < widths[c] ? widths[c] - width + 2 : 2, ' ');
    }
    line += row[kColumns - 1];
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
}

}  // namespace

void PrintTable(const std::vector<Json>& documents, std::ostream& out) {
    std::vector<Row> rows;
    rows.reserve(documents.size());
    for (const Json& document : documents) rows.push_back(RowOf(document));

    std::array<size_t, kColumns> widths;
    for (size_t c = 0; c < kColumns; ++c) {
        widths[c] = kHeaders[c].size();
        for (const Row& row : rows) widths[c] = std::max(widths[c], std::min(DisplayWidth(row[c]), kMaxColumnWidth));
    }
    Row rule;
    for (size_t c = 0; c < kColumns; ++c) rule[c] = std::string(widths[c], '-');
    PrintRow(kHeaders, widths, out);
    PrintRow(rule, widths, out);
    for (const Row& row : rows) PrintRow(row, widths, out);
}

}  // namespace nsfdb
