// docjson.h - documents as JSON: item values to and from JSON values, a
// note to its JSON document, and the documents of a JSON input text.
//
// Owned by the nsfdb tool. The shape: {"unid", "noteid", "class",
// "modified", "items": {name: value}}; a string is a text item, an array of
// strings a text list, a number a number item, {"numbers": [...]} a number
// range, {"time": T} a time, {"times": [...]} a time range. Within ranges a
// two-element array is a pair ([low, high]). A time the runtime cannot show
// as text is written as its two raw words [Innards0, Innards1].
#ifndef NSFDB_DOCJSON_H
#define NSFDB_DOCJSON_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "global.h"
#include "items.h"

namespace nsfdb {

class Note;
using Json = nlohmann::ordered_json;

// Null for item types JSON does not show (rich text, objects, ...).
Json ItemToJson(const ItemValue& value);
// Throws ToolError naming what is wrong with the value.
ItemValue ItemFromJson(const Json& value);

Json NoteToJson(const Note& note);

// One document to write: the note to update (none: create one) and the
// items to set, in order; an empty value removes the item.
struct DocumentInput {
    std::optional<UNIVERSALNOTEID> unid;
    std::vector<std::pair<std::string, std::optional<ItemValue>>> items;
};
DocumentInput DocumentFromJson(const Json& document);

// One document of an input text: where it starts ("line 3", "document 2")
// and either its JSON or the reason it could not be read.
struct InputDocument {
    std::string where;
    Json json;
    std::string error;
};
// One JSON document, an array of documents, or JSON lines.
std::vector<InputDocument> SplitDocuments(const std::string& text);

// Serialisation that never fails on bytes that are not UTF-8.
std::string JsonLine(const Json& json);
std::string JsonPretty(const Json& json);

}  // namespace nsfdb

#endif
