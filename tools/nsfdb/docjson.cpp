// docjson.cpp - documents as JSON (see docjson.h).
#include "docjson.h"

#include <cmath>

#include "nsfnote.h"
#include "runtime.h"

namespace nsfdb {
namespace {

const char kValueKinds[] =
    "expected a text, a list of texts, a number, or an object with \"numbers\", \"time\" or "
    "\"times\"";

// Whole numbers print without a fraction.
Json NumberJson(NUMBER number) {
    if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 9.0e15)
        return (int64_t)number;
    return number;
}

Json TimeJson(const TIMEDATE& time) {
    std::string text;
    if (TryTimeText(time, &text)) return text;
    return Json::array({time.Innards[0], time.Innards[1]});
}

template <typename Single, typename Pair, typename ToJson>
Json RangeJson(const Range<Single, Pair>& range, ToJson toJson) {
    Json entries = Json::array();
    for (const Single& single : range.singles) entries.push_back(toJson(single));
    for (const Pair& pair : range.pairs)
        entries.push_back(Json::array({toJson(pair.Lower), toJson(pair.Upper)}));
    return entries;
}

bool IsPair(const Json& value) { return value.is_array() && value.size() == 2; }

bool IsRawTime(const Json& value) {
    return IsPair(value) && value[0].is_number_unsigned() && value[1].is_number_unsigned();
}

TIMEDATE TimeFromJson(const Json& value) {
    if (value.is_string()) return ParseTime(value.get<std::string>(), "time");
    if (IsRawTime(value) && value[0].get<uint64_t>() <= MAXDWORD &&
        value[1].get<uint64_t>() <= MAXDWORD)
        return TIMEDATE{{(DWORD)value[0].get<uint64_t>(), (DWORD)value[1].get<uint64_t>()}};
    throw ToolError("expected a time text such as \"2026/12/07 08:43:21 PM GMT\"");
}

NUMBER NumberFromJson(const Json& value) {
    if (!value.is_number()) throw ToolError("expected a number in \"numbers\"");
    return value.get<NUMBER>();
}

// Entries of "numbers" or "times": singles, and two-element arrays as pairs.
template <typename Single, typename Pair, typename FromJson, typename IsSingle>
Range<Single, Pair> RangeFromJson(const Json& value, FromJson fromJson, IsSingle isSingle) {
    if (!value.is_array()) throw ToolError("a range must be an array");
    Range<Single, Pair> range;
    for (const Json& entry : value) {
        if (isSingle(entry))
            range.singles.push_back(fromJson(entry));
        else if (IsPair(entry))
            range.pairs.push_back(Pair{fromJson(entry[0]), fromJson(entry[1])});
        else
            range.singles.push_back(fromJson(entry));  // reports the bad entry
    }
    return range;
}

ItemValue ObjectItemFromJson(const Json& value) {
    if (value.size() != 1) throw ToolError(kValueKinds);
    const std::string& key = value.begin().key();
    const Json& inner = value.begin().value();
    if (key == "time") return TimeValue(TimeFromJson(inner));
    if (key == "numbers")
        return NumberRangeValue(RangeFromJson<NUMBER, NUMBER_PAIR>(
            inner, NumberFromJson, [](const Json& entry) { return !entry.is_array(); }));
    if (key == "times")
        return TimeRangeValue(RangeFromJson<TIMEDATE, TIMEDATE_PAIR>(
            inner, TimeFromJson,
            [](const Json& entry) { return !entry.is_array() || IsRawTime(entry); }));
    throw ToolError(kValueKinds);
}

std::vector<std::string> TextsFromJson(const Json& value) {
    std::vector<std::string> entries;
    for (const Json& entry : value) {
        if (!entry.is_string())
            throw ToolError("a list must hold only texts (use {\"numbers\": [...]} or "
                            "{\"times\": [...]} for ranges)");
        entries.push_back(entry.get<std::string>());
    }
    return entries;
}

std::string ParseErrorText(const std::exception& error) {
    std::string text = error.what();
    size_t end = text.find("] ");
    return end == std::string::npos ? text : text.substr(end + 2);
}

// Documents are a few levels deep; refusing deep nesting early keeps
// every later walk over the value shallow.
constexpr int kMaxNesting = 32;

bool ParsesAlone(const std::string& text, Json* json, std::string* error) {
    auto limitNesting = [](int depth, Json::parse_event_t, Json&) {
        if (depth > kMaxNesting)
            throw ToolError("nested deeper than " + std::to_string(kMaxNesting) + " levels");
        return true;
    };
    try {
        *json = Json::parse(text, limitNesting);
        return true;
    } catch (const Json::exception& e) {
        *error = ParseErrorText(e);
    } catch (const ToolError& e) {
        *error = e.what();
    }
    return false;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool IsBlank(const std::string& line) {
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

std::vector<InputDocument> SplitLines(const std::vector<std::string>& lines) {
    std::vector<InputDocument> documents;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (IsBlank(lines[i])) continue;
        InputDocument document;
        document.where = "line " + std::to_string(i + 1);
        ParsesAlone(lines[i], &document.json, &document.error);
        documents.push_back(std::move(document));
    }
    return documents;
}

}  // namespace

Json ItemToJson(const ItemValue& value) {
    switch (value.type) {
    case TYPE_TEXT:
        return value.data;
    case TYPE_TEXT_LIST:
        return TextListEntries(value);
    case TYPE_NUMBER:
        return NumberJson(NumberOf(value));
    case TYPE_TIME:
        return Json{{"time", TimeJson(TimeOf(value))}};
    case TYPE_NUMBER_RANGE:
        return Json{{"numbers", RangeJson(NumberRangeOf(value), NumberJson)}};
    case TYPE_TIME_RANGE:
        return Json{{"times", RangeJson(TimeRangeOf(value), TimeJson)}};
    default:
        return nullptr;
    }
}

ItemValue ItemFromJson(const Json& value) {
    if (value.is_string()) return TextValue(value.get<std::string>());
    if (value.is_array()) return TextListValue(TextsFromJson(value));
    if (value.is_number()) return NumberValue(value.get<NUMBER>());
    if (value.is_object()) return ObjectItemFromJson(value);
    throw ToolError(kValueKinds);
}

Json NoteToJson(const Note& note) {
    Json items = Json::object();
    for (const Item& item : ReadItems(note.handle())) {
        if (items.contains(item.name)) continue;  // the first item of a name counts
        Json value;
        try {
            value = ItemToJson(item.value);
        } catch (const ToolError& e) {
            throw ToolError("item " + Quoted(item.name) + " of " + note.Describe() + ": " + e.what());
        }
        if (!value.is_null()) items[item.name] = std::move(value);
    }
    return Json{{"unid", UnidText(note.Unid())},
                {"noteid", note.Id()},
                {"class", note.NoteClass()},
                {"modified", TimeJson(note.Modified())},
                {"items", std::move(items)}};
}

DocumentInput DocumentFromJson(const Json& document) {
    if (!document.is_object()) throw ToolError("a document must be a JSON object");
    DocumentInput input;
    for (const auto& [key, value] : document.items()) {
        if (key == "unid") {
            if (!value.is_string()) throw ToolError("\"unid\" must be a text of 32 hexadecimal digits");
            input.unid = ParseUnidOrFail(value.get<std::string>());
        } else if (key != "noteid" && key != "class" && key != "modified" && key != "items") {
            throw ToolError("unknown field " + Quoted(key) + " (a document has \"unid\" and \"items\")");
        }
    }
    if (!document.contains("items") || !document["items"].is_object())
        throw ToolError("a document needs \"items\", an object of item names and values");
    for (const auto& [name, value] : document["items"].items()) {
        if (name.empty()) throw ToolError("an item name must not be empty");
        if (value.is_null()) {
            input.items.emplace_back(name, std::nullopt);
            continue;
        }
        try {
            input.items.emplace_back(name, ItemFromJson(value));
        } catch (const ToolError& e) {
            throw ToolError("item " + Quoted(name) + ": " + e.what());
        }
    }
    return input;
}

std::vector<InputDocument> SplitDocuments(const std::string& text) {
    if (IsBlank(text)) return {};
    Json whole;
    std::string wholeError;
    if (ParsesAlone(text, &whole, &wholeError)) {
        std::vector<InputDocument> documents;
        if (!whole.is_array()) whole = Json::array({std::move(whole)});
        for (size_t i = 0; i < whole.size(); ++i)
            documents.push_back(
                InputDocument{"document " + std::to_string(i + 1), std::move(whole[i]), ""});
        return documents;
    }
    // Not one JSON value: JSON lines when the first line stands on its own.
    std::vector<std::string> lines = Lines(text);
    for (const std::string& line : lines) {
        if (IsBlank(line)) continue;
        Json first;
        std::string ignored;
        if (ParsesAlone(line, &first, &ignored)) return SplitLines(lines);
        break;
    }
    return {InputDocument{"input", nullptr, wholeError}};
}

std::string JsonLine(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string JsonPretty(const Json& json) {
    return json.dump(2, ' ', false, Json::error_handler_t::replace);
}

}  // namespace nsfdb
