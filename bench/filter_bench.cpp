// filter_bench.cpp - speed of the publisher filter and the entity array at
// publication-pass sizes: building a filter of 50 classes with 40
// attributes each and looking classes up in it, and sorting and searching
// 100,000 note sort keys. Prints one table; each figure is the median of
// several runs, and the ratios compare against standard-library baselines
// timed in the same run.
//   filter_bench [RUNS]   (default 5)
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "arrent.h"
#include "benchutil.h"
#include "entarray.h"
#include "filter.h"

namespace {

using benchutil::MedianMs;

const int kClasses = 50;
const int kAttributes = 40;
const int kLookups = 100000;
const int kKeys = 100000;
const int kFilterBuilds = 200;

std::string ClassName(int i) { return "ObjectClass" + std::to_string(i); }

std::string FilterText() {
    std::string text = "<?xml version=\"1.0\"?>\n<publisher-filter>\n";
    for (int c = 0; c < kClasses; ++c) {
        text += "  <allow-class class-name=\"" + ClassName(c) + "\">\n";
        for (int a = 0; a < kAttributes; ++a)
            text += "    <allow-attr attr-name=\"Attribute" + std::to_string(a) + "\"/>\n";
        text += "  </allow-class>\n";
    }
    return text + "</publisher-filter>\n";
}

// Sort keys as a pass builds them: 24-hour change time, zone, event.
std::vector<std::string> NoteKeys(std::mt19937& random) {
    std::vector<std::string> keys;
    keys.reserve(kKeys);
    char key[64];
    for (int i = 0; i < kKeys; ++i) {
        unsigned value = random();
        snprintf(key, sizeof key, "2026/12/%02u %02u:%02u:%02u GMT:%u", 1 + value % 7, (value >> 3) % 24,
                 (value >> 8) % 60, (value >> 14) % 60, 1 + (value >> 20) % 3);
        keys.push_back(key);
    }
    return keys;
}

struct Row {
    const char* what;
    double ms;
    const char* baseline;
    double baselineMs;
};

void PrintTable(const std::vector<Row>& rows) {
    printf("%-44s %10s  %-28s %10s %7s\n", "operation", "ms", "baseline (same run)", "ms", "ratio");
    for (const Row& row : rows) {
        if (row.baseline == nullptr)
            printf("%-44s %10.3f\n", row.what, row.ms);
        else
            printf("%-44s %10.3f  %-28s %10.3f %7.2f\n", row.what, row.ms, row.baseline, row.baselineMs,
                   row.ms / row.baselineMs);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    std::vector<Row> rows;
    long sink = 0;

    // The filter: built once per pass, then asked once per changed note.
    std::string text = FilterText();
    double buildMs = MedianMs(runs, [&] {
        for (int i = 0; i < kFilterBuilds; ++i) {
            CFilter filter(&text[0]);
            sink += filter.ObjCount();
        }
    });
    rows.push_back({"build filter 50x40 (one build)", buildMs / kFilterBuilds, nullptr, 0});

    CFilter filter(&text[0]);
    std::vector<std::string> names;
    for (int c = 0; c < kClasses; ++c) names.push_back(ClassName(c));
    double hasObjectMs = MedianMs(runs, [&] {
        for (int i = 0; i < kLookups; ++i) {
            CFilterObject* object = nullptr;
            sink += filter.HasObject(&names[i % kClasses][0], &object);
        }
    });
    double linearMs = MedianMs(runs, [&] {
        for (int i = 0; i < kLookups; ++i)
            sink += std::find(names.begin(), names.end(), names[i % kClasses]) - names.begin();
    });
    rows.push_back({"100,000 HasObject", hasObjectMs, "std::find over strings", linearMs});

    // The note list: 100,000 keys sorted once, then each found.
    std::mt19937 random(20261207);
    std::vector<std::string> keys = NoteKeys(random);
    std::vector<std::unique_ptr<CArrayEntity>> entities;
    for (std::string& key : keys) entities.push_back(std::make_unique<CArrayEntity>(&key[0]));

    CEntityArray list;
    double qsortMs = MedianMs(runs, [&] {
        CEntityArray unsorted;
        for (auto& entity : entities) unsorted.Add(entity.get());
        unsorted.QSort();
        sink += unsorted.Count();
    });
    double addMs = MedianMs(runs, [&] {
        CEntityArray unsorted;
        for (auto& entity : entities) unsorted.Add(entity.get());
        sink += unsorted.Count();
    });
    double stdSortMs = MedianMs(runs, [&] {
        std::vector<std::string> copy = keys;
        std::sort(copy.begin(), copy.end());
        sink += copy.size();
    });
    rows.push_back({"Add 100,000 keys", addMs, nullptr, 0});
    rows.push_back({"Add + QSort 100,000 keys", qsortMs, "copy + std::sort strings", stdSortMs});

    for (auto& entity : entities) list.Add(entity.get());
    list.QSort();
    std::vector<std::string> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    double findMs = MedianMs(runs, [&] {
        long index = 0;
        for (std::string& key : keys) sink += list.Find(&key[0], &index) ? index : -1;
    });
    double lowerBoundMs = MedianMs(runs, [&] {
        for (const std::string& key : keys)
            sink += std::lower_bound(sorted.begin(), sorted.end(), key) - sorted.begin();
    });
    rows.push_back({"100,000 Find on the sorted list", findMs, "std::lower_bound strings", lowerBoundMs});

    PrintTable(rows);
    printf("\nQSort budget: Add + QSort of 100,000 keys takes %.1f%% of 500 ms.\n", qsortMs / 5.0);
    printf("(runs per figure: %d; checksum %ld)\n", runs, sink);
    return 0;
}
