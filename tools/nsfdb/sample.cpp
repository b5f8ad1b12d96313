// sample.cpp - `nsfdb sample`: a sample directory shaped as a Domino
// Directory holds it: Person documents, Group documents (the default groups
// LocalDomainServers and OtherDomainServers first) and a few view notes.
// The same seed always gives the same directory.
//
// Owned by the nsfdb tool. Every person has a unique canonical name, short
// name and internet address; groups have unique list names and nest only
// groups written before them, so nesting never forms a cycle.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <iostream>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include "cmdline.h"
#include "commands.h"
#include "items.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "runtime.h"
#include "sampledata.h"

namespace nsfdb {
namespace {

using sampledata::Department;
using sampledata::List;

const char kDefaultTitle[] = "Sample Directory";
const char kOrganization[] = "Acme";
const char kCompany[] = "Acme Corporation";
const char kMailDomain[] = "acme.example.com";
const char kForwardDomain[] = "partner.example.org";
const char* const kServers[] = {"CN=Mail01/O=Acme", "CN=Mail02/O=Acme", "CN=Mail03/O=Acme",
                                "CN=Mail04/O=Acme"};
const char* const kDefaultGroups[] = {"LocalDomainServers", "OtherDomainServers"};
constexpr size_t kDefaultGroupCount = sizeof(kDefaultGroups) / sizeof(kDefaultGroups[0]);

// Draws of a person's name before a number makes the common name unique.
constexpr int kPlainNameDraws = 10;
// Members of one group stay well inside the summary limit of a note.
constexpr size_t kMaxMembersBytes = 16000;

struct Fold {
    uint32_t first, last;
    const char* ascii;
};
// Latin letters with accents and their plain forms.
const Fold kFolds[] = {{0xC0, 0xC5, "a"},   {0xC6, 0xC6, "ae"},  {0xC7, 0xC7, "c"},
                       {0xC8, 0xCB, "e"},   {0xCC, 0xCF, "i"},   {0xD0, 0xD0, "d"},
                       {0xD1, 0xD1, "n"},   {0xD2, 0xD6, "o"},   {0xD8, 0xD8, "o"},
                       {0xD9, 0xDC, "u"},   {0xDD, 0xDD, "y"},   {0xDF, 0xDF, "ss"},
                       {0xE0, 0xE5, "a"},   {0xE6, 0xE6, "ae"},  {0xE7, 0xE7, "c"},
                       {0xE8, 0xEB, "e"},   {0xEC, 0xEF, "i"},   {0xF1, 0xF1, "n"},
                       {0xF2, 0xF6, "o"},   {0xF8, 0xF8, "o"},   {0xF9, 0xFC, "u"},
                       {0xFD, 0xFD, "y"},   {0xFF, 0xFF, "y"},   {0x10C, 0x10D, "c"},
                       {0x141, 0x142, "l"}, {0x15A, 0x15B, "s"}, {0x160, 0x161, "s"},
                       {0x179, 0x17E, "z"}};

size_t Utf8Length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    return 2;
}

// Letters and digits of a name in lower-case ASCII: accented letters lose
// their accents, every other character is dropped (O'Brien gives obrien).
std::string AsciiFold(const std::string& text) {
    std::string folded;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = (unsigned char)text[i];
        size_t length = std::min(Utf8Length(c), text.size() - i);
        if (length == 1 && std::isalnum(c)) folded += (char)std::tolower(c);
        if (length == 2) {
            uint32_t point = ((c & 0x1Fu) << 6) | ((unsigned char)text[i + 1] & 0x3Fu);
            for (const Fold& fold : kFolds)
                if (point >= fold.first && point <= fold.last) folded += fold.ascii;
        }
        i += length;
    }
    return folded;
}

// Words folded to ASCII and joined with '-': "Sales Team" gives sales-team.
std::string Slug(const std::string& text) {
    std::string slug, word;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ' ') {
            word += text[i];
            continue;
        }
        std::string folded = AsciiFold(word);
        if (!folded.empty()) slug += (slug.empty() ? "" : "-") + folded;
        word.clear();
    }
    return slug;
}

// Hands out texts not handed out before: the base itself, else the base
// with the separator and the next free number.
class UniqueNames {
public:
    explicit UniqueNames(std::string separator) : separator_(std::move(separator)) {}
    std::string Take(const std::string& base) {
        if (used_.insert(base).second) return base;
        int& next = next_[base];
        for (next = std::max(next, 2);; ++next) {
            std::string candidate = base + separator_ + std::to_string(next);
            if (used_.insert(candidate).second) return candidate;
        }
    }

private:
    std::string separator_;
    std::unordered_set<std::string> used_;
    std::unordered_map<std::string, int> next_;
};

struct Person {
    std::string given, middle, family, commonName;
    const Department* department = nullptr;
    const char* region = nullptr;  // a regional unit below the department
    std::string canonical, abbreviated;
};

struct SampleItem {
    const char* name;
    ItemValue value;
    WORD flags;
};
using SampleItems = std::vector<SampleItem>;

SampleItem Text(const char* name, const std::string& text) { return {name, TextValue(text), 0}; }
SampleItem Names(const char* name, const std::vector<std::string>& names) {
    return {name, TextListValue(names), ITEM_NAMES};
}

class SampleDirectory {
public:
    SampleDirectory(const Database& db, unsigned long seed) : db_(db), random_(seed) {}

    void WriteViews();
    void WritePeople(unsigned long count);
    void WriteGroups(unsigned long count);

private:
    size_t Below(size_t bound) { return bound == 0 ? 0 : (size_t)(random_() % bound); }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    template <typename T>
    const T& Pick(const List<T>& list) { return list[Below(list.size)]; }

    Person DrawPerson();
    SampleItems PersonItems(const Person& person);
    SampleItems GroupItems(const std::string& listName, const std::string& description,
                           const std::vector<std::string>& members);
    std::vector<std::string> DrawMembers();
    void Write(const SampleItems& items, WORD noteClass);

    const Database& db_;
    std::mt19937_64 random_;
    std::unordered_set<std::string> canonicalNames_;
    UniqueNames shortNames_{""};
    UniqueNames mailNames_{""};
    UniqueNames listNames_{" "};
    UniqueNames groupMailNames_{"-"};
    std::vector<std::string> people_;  // canonical names, for group members
    std::vector<std::string> groups_;  // list names of the groups that may be nested
};

void SampleDirectory::Write(const SampleItems& items, WORD noteClass) {
    SaveNote([&] { return Note::Create(db_); },
             [&](Note& note) {
                 note.SetNoteClass(noteClass);
                 for (const SampleItem& item : items)
                     WriteItem(note.handle(), item.name, item.value, item.flags);
             });
}

void SampleDirectory::WriteViews() {
    for (size_t i = 0; i < sampledata::kViewTitles.size; ++i)
        Write({Text("$TITLE", sampledata::kViewTitles[i])}, NOTE_CLASS_VIEW);
}

Person SampleDirectory::DrawPerson() {
    for (int draw = 1;; ++draw) {
        Person person;
        person.given = Pick(sampledata::kGivenNames);
        person.middle = Chance(40) ? std::string(1, (char)('A' + Below(26))) + "." : "";
        person.family = Pick(sampledata::kFamilyNames);
        person.department = &Pick(sampledata::kDepartments);
        if (person.department->regions.size > 0) person.region = Pick(person.department->regions);
        person.commonName = person.given + (person.middle.empty() ? "" : " " + person.middle) +
                            " " + person.family;
        if (Chance(2)) person.commonName += std::string(", ") + Pick(sampledata::kSuffixes);
        if (draw > kPlainNameDraws) person.commonName += " " + std::to_string(draw);

        std::string units = person.region ? std::string(person.region) + "/" : "";
        std::string typedUnits = person.region ? "/OU=" + std::string(person.region) : "";
        person.canonical = "CN=" + person.commonName + typedUnits + "/OU=" +
                           person.department->name + "/O=" + kOrganization;
        person.abbreviated = person.commonName + "/" + units + person.department->name + "/" +
                             kOrganization;
        if (canonicalNames_.insert(person.canonical).second) return person;
    }
}

SampleItems SampleDirectory::PersonItems(const Person& person) {
    std::string given = AsciiFold(person.given), family = AsciiFold(person.family);
    if (family.empty()) family = "user";
    std::string shortName = shortNames_.Take((given.empty() ? "x" : given.substr(0, 1)) + family);
    std::string mail = mailNames_.Take((given.empty() ? "" : given + ".") + family) + "@" + kMailDomain;
    std::string phone = "+1 555 " + std::to_string(100 + Below(900));
    phone += " " + std::to_string(1000 + Below(9000));
    return {Text("Form", "Person"),
            Text("Type", "Person"),
            Names("FullName", {person.canonical, person.abbreviated, person.commonName, shortName}),
            Text("FirstName", person.given),
            Text("MiddleInitial", person.middle),
            Text("LastName", person.family),
            {"ShortName", TextListValue({shortName}), 0},
            Text("InternetAddress", mail),
            Text("MailAddress", Chance(5) ? shortName + "@" + kForwardDomain : ""),
            Text("MailSystem", "1"),
            Text("MailDomain", kOrganization),
            Names("MailServer", {kServers[Below(sizeof(kServers) / sizeof(kServers[0]))]}),
            Text("MailFile", "mail\\" + shortName),
            Text("OfficePhoneNumber", phone),
            Text("Department", person.department->name),
            Text("CompanyName", kCompany),
            Text("JobTitle", Pick(sampledata::kJobTitles)),
            Text("Location", Pick(sampledata::kLocations)),
            Text("Comment", Chance(12) ? Pick(sampledata::kComments) : "")};
}

void SampleDirectory::WritePeople(unsigned long count) {
    people_.reserve(count);
    for (unsigned long i = 0; i < count; ++i) {
        Person person = DrawPerson();
        Write(PersonItems(person), NOTE_CLASS_DOCUMENT);
        people_.push_back(person.canonical);
    }
}

// Canonical names of people (most groups a handful, some a crowd), and
// now and then earlier groups nested by their list names.
std::vector<std::string> SampleDirectory::DrawMembers() {
    size_t wanted = std::min(people_.size(), Chance(10) ? 100 + Below(200) : 3 + Below(30));
    std::unordered_set<size_t> chosen;
    std::vector<std::string> members;
    size_t bytes = 0;
    for (size_t draw = 0; members.size() < wanted && draw < 2 * wanted; ++draw) {
        size_t person = Below(people_.size());
        if (bytes + people_[person].size() > kMaxMembersBytes) break;
        if (!chosen.insert(person).second) continue;
        members.push_back(people_[person]);
        bytes += people_[person].size();
    }
    if (!groups_.empty() && Chance(20)) {
        std::string first = groups_[Below(groups_.size())];
        std::string second = groups_[Below(groups_.size())];
        members.push_back(first);
        if (second != first) members.push_back(second);
    }
    return members;
}

SampleItems SampleDirectory::GroupItems(const std::string& listName,
                                        const std::string& description,
                                        const std::vector<std::string>& members) {
    return {Text("Form", "Group"),          Text("Type", "Group"),
            Text("ListName", listName),     Text("GroupType", "0"),
            Text("ListDescription", description), Names("Members", members)};
}

void SampleDirectory::WriteGroups(unsigned long count) {
    std::vector<std::string> servers(std::begin(kServers), std::end(kServers));
    const std::string descriptions[] = {"Servers of the Acme domain", "Servers of other domains"};
    const std::vector<std::string> defaultMembers[] = {servers, {}};
    for (size_t i = 0; i < kDefaultGroupCount; ++i) {
        std::string name = listNames_.Take(kDefaultGroups[i]);
        if (i < count) Write(GroupItems(name, descriptions[i], defaultMembers[i]), NOTE_CLASS_DOCUMENT);
    }
    for (unsigned long i = kDefaultGroupCount; i < count; ++i) {
        std::string topic = Pick(sampledata::kGroupTopics);
        std::string listName = listNames_.Take(topic + " " + Pick(sampledata::kGroupKinds));
        SampleItems items = GroupItems(listName, "The " + listName + " of " + kCompany, DrawMembers());
        if (Chance(35))
            items.push_back(Text("InternetAddress",
                                 groupMailNames_.Take(Slug(listName)) + "@" + kMailDomain));
        Write(items, NOTE_CLASS_DOCUMENT);
        groups_.push_back(listName);
    }
}

}  // namespace

int RunSample(const CommandLine& line) {
    if (!line.Has("--people") || !line.Has("--groups"))
        throw UsageError("sample needs --people N and --groups M");
    unsigned long people = ParseCount(line.Value("--people"), "--people", 0, 10000000);
    unsigned long groups = ParseCount(line.Value("--groups"), "--groups", 0, 1000000);
    unsigned long seed = ParseCount(line.Value("--seed", "1"), "--seed", 0, ULONG_MAX);

    NewDatabase created(line.args[0], "");
    created.db().SetTitle(line.Value("--title", kDefaultTitle));
    SampleDirectory directory(created.db(), seed);
    directory.WriteViews();
    directory.WritePeople(people);
    directory.WriteGroups(groups);
    created.Keep();
    std::cout << "created " << created.db().Describe() << " titled "
              << Quoted(created.db().Title()) << ": " << people << " people, " << groups
              << " groups, " << sampledata::kViewTitles.size << " views\n";
    return 0;
}

}  // namespace nsfdb
