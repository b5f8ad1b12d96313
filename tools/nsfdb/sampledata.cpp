// sampledata.cpp - the word lists of the sample directory (see
// sampledata.h).
#include "sampledata.h"

namespace nsfdb {
namespace sampledata {
namespace {

template <typename T, size_t N>
constexpr List<T> ListOf(const T (&items)[N]) {
    return List<T>{items, N};
}

const char* const kGiven[] = {
    "Aaron", "Abigail", "Adam", "Adrian", "Aisha", "Alan", "Albert", "Alice", "Amelia", "Amir",
    "Ana", "Anaïs", "Andrew", "Angela", "Anna", "Anthony", "Arjun", "Barbara", "Benjamin",
    "Björn", "Brian", "Carlos", "Carmen", "Caroline", "Catherine", "Charles", "Chen", "Chloé",
    "Christopher", "Claire", "Daniel", "David", "Deborah", "Diana", "Dmitri", "Edward",
    "Elena", "Elizabeth", "Emily", "Emma", "Eric", "Fatima", "Felix", "Fiona", "François",
    "Gabriel", "George", "Grace", "Hannah", "Hans", "Helen", "Henry", "Hiroshi", "Ian",
    "Inés", "Isabel", "Jack", "Jacob", "James", "Jane", "Jennifer", "Jessica", "John",
    "Jonathan", "José", "Joseph", "Julia", "Jürgen", "Karen", "Kenji", "Kevin", "Laura",
    "Leah", "Linda", "Lucas", "Łukasz", "Margaret", "Maria", "Mark", "Martin", "Mary",
    "Matthew", "Mei", "Michael", "Mohammed", "Nadia", "Nathan", "Nicole", "Noah", "Olivia",
    "Omar", "Patricia", "Paul", "Peter", "Priya", "Rachel", "Rebecca", "Renée", "Richard",
    "Robert", "Samuel", "Sandra", "Sarah", "Sean", "Sofia", "Søren", "Stephen", "Susan",
    "Thomas", "Timothy", "Victoria", "William", "Yuki", "Zoë"};

const char* const kFamily[] = {
    "Adams", "Ahmed", "Allen", "Anderson", "Bailey", "Baker", "Bennett", "Bergström",
    "Brooks", "Brown", "Campbell", "Carter", "Chen", "Clark", "Collins", "Cook", "Cooper",
    "D'Angelo", "Davies", "Davis", "Díaz", "Dubois", "Edwards", "Evans", "Fischer", "Fitzgerald",
    "Foster", "García", "Gonzalez", "Gray", "Green", "Hall", "Harris", "Hernández", "Hill",
    "Hughes", "Jackson", "James", "Jensen", "Johnson", "Jones", "Kelly", "Khan", "Kim", "King",
    "Kowalski", "Lee", "Lewis", "Li", "Lopez", "Martin", "Martínez", "McDonald", "Miller",
    "Mitchell", "Moore", "Morgan", "Morris", "Müller", "Murphy", "Nakamura", "Nguyen",
    "Núñez", "O'Brien", "O'Connor", "O'Neill", "Parker", "Patel", "Perez", "Peterson",
    "Phillips", "Price", "Reed", "Reyes", "Richardson", "Roberts", "Robinson", "Rodríguez",
    "Rogers", "Rossi", "Russell", "Sanchez", "Schmidt", "Scott", "Shah", "Singh", "Smith",
    "Sørensen", "Stewart", "Sullivan", "Tanaka", "Taylor", "Thomas", "Thompson", "Turner",
    "Wagner", "Walker", "Wang", "Ward", "Watson", "White", "Williams", "Wilson", "Wood",
    "Wright", "Young", "Zhang", "Żukowski"};

const char* const kSuffixList[] = {"Jr.", "Sr.", "III"};

const char* const kSalesRegions[] = {"East", "West", "Central"};
const char* const kSupportRegions[] = {"EMEA", "Americas", "APAC"};
const Department kDepartmentList[] = {
    {"Sales", ListOf(kSalesRegions)},
    {"Marketing", {nullptr, 0}},
    {"Engineering", {nullptr, 0}},
    {"Finance", {nullptr, 0}},
    {"HR", {nullptr, 0}},
    {"Support", ListOf(kSupportRegions)},
    {"Legal", {nullptr, 0}},
    {"Operations", {nullptr, 0}},
    {"Research", {nullptr, 0}}};

const char* const kTitles[] = {
    "Account Manager", "Analyst", "Architect", "Assistant", "Consultant", "Coordinator",
    "Designer", "Developer", "Director", "Engineer", "Manager", "Senior Engineer",
    "Specialist", "Team Lead", "Technician", "Vice President"};

const char* const kPlaces[] = {"Boston", "Chicago", "Dublin", "London", "Munich", "New York",
                               "Paris", "San Francisco", "Singapore", "Sydney", "Toronto",
                               "Zürich"};

const char* const kCommentList[] = {"Contractor until further notice", "Works part time",
                                    "On parental leave", "Prefers e-mail to \"urgent\" calls",
                                    "Moved from the Dublin office", "Second line: ext. 4411"};

const char* const kTopics[] = {"Sales", "Marketing", "Engineering", "Finance", "HR",
                               "Support", "Legal", "Operations", "Research", "Project Falcon",
                               "Project Aurora", "Project Nimbus", "Release", "Security",
                               "Social Club", "Office Boston", "Office Dublin", "Office Munich"};

const char* const kKinds[] = {"Team", "Managers", "Announcements", "Reviewers", "Admins",
                              "Readers", "Editors", "On Call"};

const char* const kViews[] = {"People", "Groups", "Servers", "($Users)", "($ServerAccess)",
                              "($VIMPeople)", "($VIMGroups)"};

}  // namespace

const List<const char*> kGivenNames = ListOf(kGiven);
const List<const char*> kFamilyNames = ListOf(kFamily);
const List<const char*> kSuffixes = ListOf(kSuffixList);
const List<Department> kDepartments = ListOf(kDepartmentList);
const List<const char*> kJobTitles = ListOf(kTitles);
const List<const char*> kLocations = ListOf(kPlaces);
const List<const char*> kComments = ListOf(kCommentList);
const List<const char*> kGroupTopics = ListOf(kTopics);
const List<const char*> kGroupKinds = ListOf(kKinds);
const List<const char*> kViewTitles = ListOf(kViews);

}  // namespace sampledata
}  // namespace nsfdb
