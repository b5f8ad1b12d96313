// filtercheck.h - the publisher filter checker of `nsfdb filter check` and
// `nsfdb instance --filter`: reads the filter with an XML parser, walks it
// with the task's own scanner, and names every place where the task would
// read it otherwise than the XML says.
//
// Owned by the nsfdb tool. The task's scanner (common/filtxml) is used as
// it is; this file only compares.
#ifndef NSFDB_FILTERCHECK_H
#define NSFDB_FILTERCHECK_H

#include <string>
#include <vector>

namespace nsfdb {

class Database;

struct FilterClass {
    std::string name;
    std::vector<std::string> attributes;
    bool operator==(const FilterClass& other) const {
        return name == other.name && attributes == other.attributes;
    }
};

struct FilterReport {
    // Where the task reads the filter otherwise than the XML, or why the
    // XML is not a filter; each text starts with "line N: " when it has a
    // place.
    std::vector<std::string> faults;
    std::vector<FilterClass> xmlClasses;   // as the XML says (when well-formed)
    std::vector<FilterClass> taskClasses;  // as the task's scanner reads it
};

FilterReport CheckFilter(const std::string& text);

// Each fault after "where: ", then what the task reads, one a line.
std::string FaultsText(const FilterReport& report, const std::string& where);
// Warnings on standard error for the filter's classes that no document of
// the input database has (or that the database is not there yet).
void WarnAboutClasses(const FilterReport& report, const std::string& where, const std::string& input);

// The classes of the filter that no document of the database has as its
// "Type" (or "Form").
std::vector<std::string> ClassesNotIn(const Database& db, const std::vector<FilterClass>& classes);

}  // namespace nsfdb

#endif
