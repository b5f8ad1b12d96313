// statistics.cpp - the server statistics as text and as JSON (see
// statistics.h), read with NRTEnumStatistics.
#include "statistics.h"

#include <nlohmann/json.hpp>

#include "nrt_server.h"
#include "stats.h"

namespace nserver {
namespace {

struct Listed {
    std::string name;
    std::string type;
    WORD valueType;
    std::string text;
    double number;
    unsigned long pid;
};

std::vector<Listed> Matching(const std::string& pattern) {
    std::vector<Listed> listed;
    NRTEnumStatistics(
        pattern.c_str(),
        [](void* context, const NRTSTATINFO* stat) -> STATUS {
            double number = 0;
            if (stat->ValueType == VT_LONG) number = double(*static_cast<const LONG*>(stat->Value));
            if (stat->ValueType == VT_NUMBER) number = *static_cast<const NUMBER*>(stat->Value);
            static_cast<std::vector<Listed>*>(context)->push_back(
                {stat->FullName, stat->TypeName, stat->ValueType, stat->ValueText, number, stat->Pid});
            return NOERROR;
        },
        &listed);
    return listed;
}

}  // namespace

const char kShowStatisticsUsage[] = "Usage: show stat [PATTERN] [--json]";

std::string StatisticsText(const std::string& pattern) {
    std::vector<Listed> listed = Matching(pattern);
    if (listed.empty()) return pattern.empty() ? "No statistics." : "No statistics match " + pattern + ".";
    std::string text;
    for (const Listed& stat : listed) text += (text.empty() ? "" : "\n") + stat.name + " = " + stat.text;
    return text;
}

std::string StatisticsJson(const std::string& pattern) {
    nlohmann::json array = nlohmann::json::array();
    for (const Listed& stat : Matching(pattern)) {
        nlohmann::json value = stat.text;
        if (stat.valueType == VT_LONG) value = (long long)stat.number;
        if (stat.valueType == VT_NUMBER) value = stat.number;
        array.push_back({{"name", stat.name}, {"type", stat.type}, {"value", value}, {"pid", stat.pid}});
    }
    return array.dump(1);
}

bool ShowStatistics(const std::vector<std::string>& words, std::string* answer) {
    bool json = false;
    std::string pattern;
    int patterns = 0;
    for (const std::string& word : words) {
        if (word == "--json")
            json = true;
        else
            pattern = word, ++patterns;
    }
    if (patterns > 1) {
        *answer = kShowStatisticsUsage;
        return false;
    }
    *answer = json ? StatisticsJson(pattern) : StatisticsText(pattern);
    return true;
}

}  // namespace nserver
