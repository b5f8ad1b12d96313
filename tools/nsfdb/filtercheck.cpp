// filtercheck.cpp - the publisher filter checker (see filtercheck.h).
//
// The XML side: expat reads the text; elements and attributes named
// allow-class, allow-attr, class-name and attr-name in any letter case are
// what the writer meant. Each such tag is also looked at as written (its
// raw bytes), since the task's scanner sees only those: the letter case of
// the tokens, the quote around a name, entities, the length of a name and
// the exact end tag. The task side: the scanner's own walk, as the task's
// filter model makes it. When the two readings still differ, the
// difference itself is named.
#include "filtercheck.h"

#include <expat.h>
#include <strings.h>

#include <cstring>
#include <iostream>
#include <optional>
#include <set>
#include <vector>

#include "commands.h"
#include "filtxml.h"
#include "items.h"
#include "nsfdb.h"
#include "runtime.h"

namespace nsfdb {
namespace {

constexpr size_t kMaxTaskName = FILTER_NAME_SIZE - 1;

const char kClassTag[] = "allow-class";
const char kAttrTag[] = "allow-attr";
const char kClassKey[] = "class-name";
const char kAttrKey[] = "attr-name";

bool SameIgnoringCase(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// One attribute of a start tag as written: its name and quote character.
struct RawAttribute {
    std::string name;
    char quote;
    std::string value;  // between the quotes, undecoded
};

// The attributes of a well-formed start tag, read from its bytes.
std::vector<RawAttribute> RawAttributes(const std::string& tag) {
    std::vector<RawAttribute> attributes;
    size_t at = tag.find_first_of(" \t\r\n/>");
    while (at < tag.size()) {
        at = tag.find_first_not_of(" \t\r\n", at);
        if (at == std::string::npos || tag[at] == '/' || tag[at] == '>') break;
        size_t nameEnd = tag.find_first_of(" \t\r\n=", at);
        if (nameEnd == std::string::npos) break;
        RawAttribute attribute;
        attribute.name = tag.substr(at, nameEnd - at);
        size_t quote = tag.find_first_of("\"'", nameEnd);
        if (quote == std::string::npos) break;
        attribute.quote = tag[quote];
        size_t close = tag.find(attribute.quote, quote + 1);
        if (close == std::string::npos) break;
        attribute.value = tag.substr(quote + 1, close - quote - 1);
        attributes.push_back(attribute);
        at = close + 1;
    }
    return attributes;
}

class XmlReader {
public:
    explicit XmlReader(const std::string& text) : text_(text) {}

    void Read(FilterReport* report) {
        report_ = report;
        XML_Parser parser = XML_ParserCreate(nullptr);
        if (parser == nullptr) throw ToolError("out of memory while reading the filter");
        parser_ = parser;
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, &XmlReader::OnStart, &XmlReader::OnEnd);
        bool parsed = XML_Parse(parser, text_.data(), (int)text_.size(), XML_TRUE) == XML_STATUS_OK;
        if (!parsed) {
            Fault(XML_GetCurrentLineNumber(parser),
                  std::string("not well-formed XML (") + XML_ErrorString(XML_GetErrorCode(parser)) +
                      ", column " + std::to_string(XML_GetCurrentColumnNumber(parser) + 1) +
                      "); the task reads the text anyway, as shown below");
            report->xmlClasses.clear();
        }
        XML_ParserFree(parser);
    }

private:
    static void XMLCALL OnStart(void* self, const XML_Char* name, const XML_Char** attributes) {
        static_cast<XmlReader*>(self)->Start(name, attributes);
    }
    static void XMLCALL OnEnd(void* self, const XML_Char* name) { static_cast<XmlReader*>(self)->End(name); }

    long Line() const { return (long)XML_GetCurrentLineNumber(parser_); }

    void Fault(long line, const std::string& text) {
        report_->faults.push_back("line " + std::to_string(line) + ": " + text);
    }

    std::string RawEvent() const {
        long index = (long)XML_GetCurrentByteIndex(parser_);
        int count = XML_GetCurrentByteCount(parser_);
        if (index < 0 || count <= 0) return "";
        return text_.substr((size_t)index, (size_t)count);
    }

    void CheckTagName(const XML_Char* name, const char* exact) {
        if (std::strcmp(name, exact) != 0)
            Fault(Line(), std::string("<") + name + ">: the task looks for \"<" + exact +
                              "\" in lower case only and does not see this tag");
    }

    // The name an allow-class or allow-attr tag gives under key, checked as
    // written; empty when the tag has none.
    std::string NameOf(const XML_Char** attributes, const char* key, const char* tag) {
        std::string value;
        const char* written = nullptr;
        for (int i = 0; attributes[i] != nullptr; i += 2) {
            if (!SameIgnoringCase(attributes[i], key)) continue;
            value = attributes[i + 1];
            written = attributes[i];
        }
        if (written == nullptr) {
            Fault(Line(), std::string("<") + tag + "> without " + key + "=\"...\"");
            return "";
        }
        if (std::strcmp(written, key) != 0)
            Fault(Line(), std::string(written) + ": the task looks for \"" + key +
                              "\" in lower case only");
        for (const RawAttribute& raw : RawAttributes(RawEvent())) {
            if (!SameIgnoringCase(raw.name.c_str(), key)) continue;
            if (raw.quote != '"')
                Fault(Line(), std::string(key) + "='" + raw.value +
                                  "' is in single quotes; the task reads only names in double quotes");
            else if (raw.value != value)
                Fault(Line(), std::string(key) + "=\"" + raw.value + "\": the task decodes no entity and reads \"" +
                                  raw.value + "\", not \"" + value + "\"");
        }
        if (value.size() > kMaxTaskName)
            Fault(Line(), std::string(key) + " of " + std::to_string(value.size()) +
                              " characters; the task takes names of at most " + std::to_string(kMaxTaskName));
        return value;
    }

    void Start(const XML_Char* name, const XML_Char** attributes) {
        if (SameIgnoringCase(name, kClassTag)) {
            CheckTagName(name, kClassTag);
            if (inClass_) Fault(Line(), "<allow-class> inside another class");
            inClass_ = true;
            classLine_ = Line();
            report_->xmlClasses.push_back(FilterClass{NameOf(attributes, kClassKey, kClassTag), {}});
        } else if (SameIgnoringCase(name, kAttrTag)) {
            CheckTagName(name, kAttrTag);
            std::string attribute = NameOf(attributes, kAttrKey, kAttrTag);
            if (!inClass_ || report_->xmlClasses.empty())
                Fault(Line(), "<allow-attr> outside of any <allow-class>; the task ignores it");
            else
                report_->xmlClasses.back().attributes.push_back(attribute);
        }
    }

    void End(const XML_Char* name) {
        if (!SameIgnoringCase(name, kClassTag)) return;
        inClass_ = false;
        std::string raw = RawEvent();
        std::string exact = std::string("</") + kClassTag + ">";
        if (raw.empty())
            Fault(classLine_, "<allow-class .../> has no end tag; the task needs \"" + exact +
                                  "\" after the class's attributes");
        else if (raw != exact)
            Fault(Line(), raw + ": the task looks for the end tag \"" + exact + "\" exactly");
    }

    const std::string& text_;
    FilterReport* report_ = nullptr;
    XML_Parser parser_ = nullptr;
    bool inClass_ = false;
    long classLine_ = 0;
};

// The classes as the task's filter model takes them from its scanner.
std::vector<FilterClass> TaskReading(const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    CFilterXML scanner(copy.data());
    std::vector<FilterClass> classes;
    char name[FILTER_NAME_SIZE];
    for (int found = scanner.GetFirstObject(name); found; found = scanner.GetNextObject(name)) {
        classes.push_back(FilterClass{name, {}});
        char attribute[FILTER_NAME_SIZE];
        while (scanner.GetAttribute(attribute)) classes.back().attributes.push_back(attribute);
    }
    return classes;
}

const FilterClass* Find(const std::vector<FilterClass>& classes, const std::string& name) {
    for (const FilterClass& entry : classes)
        if (entry.name == name) return &entry;
    return nullptr;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// Differences that the tag checks did not already explain.
void CompareReadings(FilterReport* report) {
    if (!report->faults.empty() || report->xmlClasses == report->taskClasses) return;
    for (const FilterClass& meant : report->xmlClasses) {
        const FilterClass* read = Find(report->taskClasses, meant.name);
        if (read == nullptr)
            report->faults.push_back("class \"" + meant.name + "\": the task does not read it");
        else if (read->attributes != meant.attributes)
            report->faults.push_back("class \"" + meant.name + "\": the task reads the attributes " +
                                     Joined(read->attributes) + " instead of " + Joined(meant.attributes));
    }
    for (const FilterClass& read : report->taskClasses)
        if (Find(report->xmlClasses, read.name) == nullptr)
            report->faults.push_back("class \"" + read.name +
                                     "\": the task reads it from text that is not an <allow-class> tag "
                                     "(a comment or character data)");
    if (report->faults.empty())
        report->faults.push_back("the task reads the classes in another order or twice");
}

void CollectTexts(const std::vector<Item>& items, const char* name, std::set<std::string>* into) {
    for (const std::string& entry : TextEntriesOf(items, name)) into->insert(entry);
}

}  // namespace

FilterReport CheckFilter(const std::string& text) {
    FilterReport report;
    if (text.find('\0') != std::string::npos)
        report.faults.push_back("the filter holds a NUL byte; the task reads only the text before it");
    XmlReader(text).Read(&report);
    report.taskClasses = TaskReading(text);
    CompareReadings(&report);
    if (report.taskClasses.empty())
        report.faults.push_back("the task finds no class in this filter and suspends itself at its first pass");
    return report;
}

std::vector<std::string> ClassesNotIn(const Database& db, const std::vector<FilterClass>& classes) {
    std::set<std::string> present;
    for (const ListedNote& listed : AllNotes(db, NOTE_CLASS_DOCUMENT)) {
        if (listed.deleted) continue;
        std::vector<Item> items = ReadItems(Note::OpenById(db, listed.id).handle());
        CollectTexts(items, "Type", &present);
        CollectTexts(items, "Form", &present);
    }
    std::vector<std::string> missing;
    for (const FilterClass& entry : classes)
        if (!entry.name.empty() && present.count(entry.name) == 0) missing.push_back(entry.name);
    return missing;
}

}  // namespace nsfdb

namespace nsfdb {
namespace {

std::string Summary(const FilterClass& entry) {
    return entry.name + " (" + std::to_string(entry.attributes.size()) +
           (entry.attributes.size() == 1 ? " attribute)" : " attributes)");
}

}  // namespace

std::string FaultsText(const FilterReport& report, const std::string& where) {
    std::string text;
    for (const std::string& fault : report.faults) text += where + ": " + fault + "\n";
    text += where + ": the task reads " + std::to_string(report.taskClasses.size()) +
            (report.taskClasses.size() == 1 ? " class" : " classes");
    for (size_t i = 0; i < report.taskClasses.size(); ++i)
        text += (i == 0 ? ": " : ", ") + Summary(report.taskClasses[i]);
    return text + "\n";
}

void WarnAboutClasses(const FilterReport& report, const std::string& where, const std::string& input) {
    std::optional<Database> db = Database::OpenIfExists(input);
    if (!db) return ReportError("warning: " + Quoted(input) + " does not exist yet; the filter's classes are not checked");
    for (const std::string& name : ClassesNotIn(*db, report.xmlClasses.empty() ? report.taskClasses : report.xmlClasses))
        ReportError("warning: " + where + ": class " + Quoted(name) + " occurs in no document of " + db->Describe());
}

int RunFilter(const CommandLine& line) {
    if (line.args[0] != "check") throw UsageError("filter: unknown action " + Quoted(line.args[0]) + " (check)");
    const std::string& file = line.args[1];
    FilterReport report = CheckFilter(ReadTextFile(file));
    std::cout << FaultsText(report, file);
    if (line.Has("--input")) WarnAboutClasses(report, file, line.Value("--input"));
    if (!report.faults.empty()) return kExitFailure;
    std::cout << file << ": the task reads the filter as written\n";
    return 0;
}

}  // namespace nsfdb
