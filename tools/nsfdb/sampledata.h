// sampledata.h - the word lists the sample directory is made of: given
// names and family names (a few with accents, apostrophes), generational
// suffixes, departments with their regions, job titles, places, group
// topics and comments.
//
// Owned by the nsfdb tool (sample.cpp is the only user). Texts are UTF-8.
#ifndef NSFDB_SAMPLEDATA_H
#define NSFDB_SAMPLEDATA_H

#include <cstddef>

namespace nsfdb {
namespace sampledata {

template <typename T>
struct List {
    const T* items;
    size_t size;
    const T& operator[](size_t i) const { return items[i]; }
};

struct Department {
    const char* name;
    List<const char*> regions;  // empty: no regional units
};

extern const List<const char*> kGivenNames;
extern const List<const char*> kFamilyNames;
extern const List<const char*> kSuffixes;
extern const List<Department> kDepartments;
extern const List<const char*> kJobTitles;
extern const List<const char*> kLocations;
extern const List<const char*> kComments;
extern const List<const char*> kGroupTopics;
extern const List<const char*> kGroupKinds;
extern const List<const char*> kViewTitles;

}  // namespace sampledata
}  // namespace nsfdb

#endif
