// table.cpp - documents as a text table (see table.h).
#include "table.h"

#include <algorithm>
#include <string>

namespace nsfdb {
namespace {

constexpr size_t kMaxColumnWidth = 48;  // longer cells overflow their column
// With a width limit, the Items column keeps at least this many characters.
constexpr size_t kMinItemsWidth = 24;
const char kItemsHeader[] = "Items";

// The columns before Items: a header and the items it shows (the first
// one present); hidden items, and those the runtime adds to every note it
// saves, are shown nowhere.
struct Column {
    const char* header;
    std::vector<const char*> items;
};
struct Layout {
    std::vector<Column> columns;
    std::vector<const char*> hidden;
};

const std::vector<const char*> kRuntimeItems = {"$UpdatedBy", "$Revisions"};

const Layout kChangeLayout = {
    {{"Event", {"Event"}}, {"Type", {"Type"}}, {"Source Note ID", {"Source Note ID"}},
     {"NotesDN/DN", {"NotesDN", "DN"}}},
    {}};

// The pass history's documents (form "Pass").
const char kHistoryForm[] = "Pass";
const Layout kHistoryLayout = {
    {{"Instance", {"Instance"}}, {"Kind", {"Kind"}}, {"Scope", {"Scope"}}, {"Start", {"Start"}},
     {"Since", {"Since"}}, {"Until", {"Until"}}, {"Chain", {"Chain"}}, {"Result", {"Result"}}},
    {"Form"}};

const char kItemSeparator[] = " | ";
const char kEntrySeparator[] = "; ";
// A list that continues on the next line is indented by this much more.
const char kEntryIndent[] = "  ";

// One piece of the Items cell: an item's name with its first entry, or one
// of its further entries. Lines break only between pieces.
struct Piece {
    bool startsItem;
    std::string text;
};

struct Row {
    std::vector<std::string> cells;  // the columns before Items
    std::vector<Piece> items;
};

// Characters on screen: UTF-8 continuation bytes take no column.
size_t DisplayWidth(const std::string& text) {
    return (size_t)std::count_if(text.begin(), text.end(),
                                 [](char c) { return ((unsigned char)c & 0xC0) != 0x80; });
}

// A value on one line: control characters (line breaks in texts) become
// blanks, the two ends of a pair are joined with " - ".
std::string Flatten(const Json& value) {
    if (value.is_string()) {
        std::string text = value.get<std::string>();
        std::replace_if(text.begin(), text.end(), [](char c) { return (unsigned char)c < 0x20; }, ' ');
        return text;
    }
    if (value.is_array()) {
        std::string text;
        for (const Json& end : value) text += (text.empty() ? "" : " - ") + Flatten(end);
        return text;
    }
    if (value.is_object() && !value.empty()) return Flatten(value.begin().value());
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The entries of a value: one per list entry, or the value itself.
std::vector<std::string> Entries(const Json& value) {
    const Json& list = value.is_object() && !value.empty() ? value.begin().value() : value;
    if (!list.is_array()) return {Flatten(value)};
    std::vector<std::string> entries;
    for (const Json& entry : list) entries.push_back(Flatten(entry));
    return entries;
}

std::string Joined(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries) text += (text.empty() ? "" : kEntrySeparator) + entry;
    return text;
}

bool IsOneOf(const std::string& name, const std::vector<const char*>& names) {
    for (const char* listed : names)
        if (name == listed) return true;
    return false;
}

bool IsOwnColumnItem(const Layout& layout, const std::string& name) {
    if (IsOneOf(name, layout.hidden) || IsOneOf(name, kRuntimeItems)) return true;
    for (const Column& column : layout.columns)
        if (IsOneOf(name, column.items)) return true;
    return false;
}

std::string Cell(const Json& items, const Column& column) {
    for (const char* name : column.items)
        if (items.contains(name)) return Joined(Entries(items[name]));
    return "";
}

std::vector<Piece> OtherItems(const Layout& layout, const Json& items) {
    std::vector<Piece> pieces;
    for (const auto& [name, value] : items.items()) {
        if (IsOwnColumnItem(layout, name)) continue;
        std::vector<std::string> entries = Entries(value);
        pieces.push_back({true, name + "=" + (entries.empty() ? "" : entries[0])});
        for (size_t i = 1; i < entries.size(); ++i) pieces.push_back({false, entries[i]});
    }
    return pieces;
}

Row RowOf(const Layout& layout, const Json& document) {
    const Json& items = document["items"];
    Row row;
    for (const Column& column : layout.columns) row.cells.push_back(Cell(items, column));
    row.items = OtherItems(layout, items);
    return row;
}

// The history's layout when every document is a pass document.
const Layout& LayoutFor(const std::vector<Json>& documents) {
    if (documents.empty()) return kChangeLayout;
    for (const Json& document : documents) {
        const Json& items = document["items"];
        if (!items.contains("Form") || items["Form"] != kHistoryForm) return kChangeLayout;
    }
    return kHistoryLayout;
}

const char* SeparatorBefore(const Piece& piece) { return piece.startsItem ? kItemSeparator : kEntrySeparator; }

bool Fits(const std::string& line, const Piece& piece, size_t width) {
    return width == 0 ||
           DisplayWidth(line) + DisplayWidth(SeparatorBefore(piece)) + DisplayWidth(piece.text) <= width;
}

bool IsListContinuation(const std::string& line) { return line.compare(0, sizeof kEntryIndent - 1, kEntryIndent) == 0; }

// The Items cell in lines of at most width characters (0: one line); a
// piece wider than that has a line of its own, and an item that follows a
// list broken over lines starts a line.
std::vector<std::string> ItemLines(const std::vector<Piece>& pieces, size_t width) {
    std::vector<std::string> lines = {""};
    for (const Piece& piece : pieces) {
        std::string& line = lines.back();
        bool afterBrokenList = piece.startsItem && IsListContinuation(line);
        if (line.empty()) {
            line = piece.text;
        } else if (Fits(line, piece, width) && !afterBrokenList) {
            line += SeparatorBefore(piece) + piece.text;
        } else if (piece.startsItem) {
            lines.push_back(piece.text);
        } else {
            line += ";";
            lines.push_back(kEntryIndent + piece.text);
        }
    }
    return lines;
}

std::string WithoutTrailingBlanks(std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

void PrintRow(const std::vector<std::string>& cells, const std::vector<std::string>& itemLines,
              const std::vector<size_t>& widths, std::ostream& out) {
    std::string line;
    for (size_t c = 0; c < cells.size(); ++c) {
        line += cells[c];
        size_t width = DisplayWidth(cells[c]);
        line.append(width < widths[c] ? widths[c] - width + 2 : 2, ' ');
    }
    size_t itemsColumn = DisplayWidth(line);
    for (size_t i = 0; i < itemLines.size(); ++i) {
        std::string text = i == 0 ? line : std::string(itemsColumn, ' ');
        out << WithoutTrailingBlanks(text + itemLines[i]) << '\n';
    }
}

}  // namespace

void PrintTable(const std::vector<Json>& documents, std::ostream& out, size_t width) {
    const Layout& layout = LayoutFor(documents);
    const size_t columns = layout.columns.size();
    std::vector<Row> rows;
    rows.reserve(documents.size());
    for (const Json& document : documents) rows.push_back(RowOf(layout, document));

    std::vector<size_t> widths(columns + 1);
    for (size_t c = 0; c < columns; ++c) {
        widths[c] = std::string(layout.columns[c].header).size();
        for (const Row& row : rows)
            widths[c] = std::max(widths[c], std::min(DisplayWidth(row.cells[c]), kMaxColumnWidth));
    }
    size_t itemsColumn = 0;
    for (size_t c = 0; c < columns; ++c) itemsColumn += widths[c] + 2;
    size_t itemsWidth = width == 0 ? 0 : std::max(width > itemsColumn ? width - itemsColumn : 0, kMinItemsWidth);

    std::vector<std::vector<std::string>> itemLines;
    size_t ruleLimit = itemsWidth == 0 ? kMaxColumnWidth : std::min(itemsWidth, kMaxColumnWidth);
    widths[columns] = sizeof(kItemsHeader) - 1;
    for (const Row& row : rows) {
        itemLines.push_back(ItemLines(row.items, itemsWidth));
        for (const std::string& line : itemLines.back())
            widths[columns] = std::max(widths[columns], std::min(DisplayWidth(line), ruleLimit));
    }

    std::vector<std::string> headers, rule;
    for (size_t c = 0; c < columns; ++c) {
        headers.push_back(layout.columns[c].header);
        rule.push_back(std::string(widths[c], '-'));
    }
    PrintRow(headers, {kItemsHeader}, widths, out);
    PrintRow(rule, {std::string(widths[columns], '-')}, widths, out);
    for (size_t i = 0; i < rows.size(); ++i) PrintRow(rows[i].cells, itemLines[i], widths, out);
}

}  // namespace nsfdb
