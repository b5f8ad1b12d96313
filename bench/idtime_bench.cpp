// idtime_bench.cpp - speed of the runtime's small exact pieces at
// publication-pass sizes: 100,000 note IDs inserted into an ID table
// (ascending, as the storage layer inserts them, and shuffled) and walked
// with IDEnumerate; 100,000 times turned into sort-key text and read back;
// one selection formula compiled and run against 100,000 notes. Each figure
// is the median of several runs; the ratios compare with standard-library
// baselines doing the same work in the same run.
//   idtime_bench [RUNS]   (default 5)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "benchutil.h"
#include "idtable.h"
#include "misc.h"
#include "nsfsearch.h"
#include "osmem.h"
#include "ostime.h"

#include "../notesrt/src/formula.h"

namespace {

using benchutil::MedianMs;

const DWORD kCount = 100000;
const TFMT kSortKeyFormat = {TDFMT_FULL, TTFMT_FULL, TZFMT_ALWAYS, TSFMT_DATETIME};

void Row(const char* what, double ms, const char* baseline, double baseMs) {
    if (baseline == nullptr) {
        printf("| %s | %.2f | | | |\n", what, ms);
        return;
    }
    printf("| %s | %.2f | %s | %.2f | %.2f |\n", what, ms, baseline, baseMs, ms / baseMs);
}

volatile DWORD g_sink;

void InsertAll(const std::vector<DWORD>& ids) {
    DHANDLE table = NULLHANDLE;
    if (IDCreateTable(sizeof(NOTEID), &table) != NOERROR) abort();
    for (DWORD id : ids)
        if (IDInsert(table, id, nullptr) != NOERROR) abort();
    g_sink = IDEntries(table);
    IDDestroyTable(table);
}

void SetInsertAll(const std::vector<DWORD>& ids) {
    std::set<DWORD> set;
    for (DWORD id : ids) set.insert(id);
    g_sink = (DWORD)set.size();
}

STATUS LNCALLBACK Count(void* context, DWORD id) {
    *static_cast<DWORD*>(context) += id & 1;
    return NOERROR;
}

void IdTableRows(int runs) {
    std::vector<DWORD> ascending;
    for (DWORD i = 1; i <= kCount; ++i) ascending.push_back(i * 4);
    std::vector<DWORD> shuffled = ascending;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(1));
    Row("100,000 IDInsert ascending", MedianMs(runs, [&] { InsertAll(ascending); }),
        "std::set insert", MedianMs(runs, [&] { SetInsertAll(ascending); }));
    Row("100,000 IDInsert shuffled", MedianMs(runs, [&] { InsertAll(shuffled); }),
        "std::set insert", MedianMs(runs, [&] { SetInsertAll(shuffled); }));

    DHANDLE table = NULLHANDLE;
    IDCreateTable(sizeof(NOTEID), &table);
    for (DWORD id : ascending) IDInsert(table, id, nullptr);
    std::set<DWORD> set(ascending.begin(), ascending.end());
    double walk = MedianMs(runs, [&] {
        DWORD odd = 0;
        IDEnumerate(table, Count, &odd);
        g_sink = odd;
    });
    double setWalk = MedianMs(runs, [&] {
        DWORD odd = 0;
        for (DWORD id : set) Count(&odd, id);
        g_sink = odd;
    });
    Row("IDEnumerate 100,000", walk, "std::set iteration", setWalk);
    IDDestroyTable(table);
}

std::vector<TIMEDATE> SampleTimes() {
    std::vector<TIMEDATE> times;
    std::mt19937 random(2);
    for (DWORD i = 0; i < kCount; ++i)
        times.push_back(TIMEDATE{{(DWORD)(random() % 8640000), (DWORD)(2461000 + random() % 400)}});
    return times;
}

void TimeTextRows(int runs) {
    std::vector<TIMEDATE> times = SampleTimes();
    std::vector<std::string> texts(kCount);
    double toText = MedianMs(runs, [&] {
        char buf[MAXALPHATIMEDATE];
        WORD length = 0;
        for (DWORD i = 0; i < kCount; ++i) {
            ConvertTIMEDATEToText(nullptr, &kSortKeyFormat, &times[i], buf, sizeof buf, &length);
            texts[i].assign(buf, length);
        }
    });
    double strftimeMs = MedianMs(runs, [&] {
        char buf[MAXALPHATIMEDATE];
        for (DWORD i = 0; i < kCount; ++i) {
            time_t seconds = (time_t)((times[i].Innards[1] & 0xFFFFFF) - 2440588) * 86400 +
                             times[i].Innards[0] / 100;
            struct tm fields;
            gmtime_r(&seconds, &fields);
            g_sink = (DWORD)strftime(buf, sizeof buf, "%Y/%m/%d %I:%M:%S %p GMT", &fields);
        }
    });
    Row("100,000 ConvertTIMEDATEToText", toText, "gmtime_r + strftime", strftimeMs);

    double fromText = MedianMs(runs, [&] {
        for (DWORD i = 0; i < kCount; ++i) {
            char* cursor = &texts[i][0];
            TIMEDATE td;
            ConvertTextToTIMEDATE(nullptr, &kSortKeyFormat, &cursor, (WORD)texts[i].size(), &td);
            g_sink = td.Innards[0];
        }
    });
    double strptimeMs = MedianMs(runs, [&] {
        for (DWORD i = 0; i < kCount; ++i) {
            struct tm fields = {};
            strptime(texts[i].c_str(), "%Y/%m/%d %I:%M:%S %p", &fields);
            g_sink = (DWORD)timegm(&fields);
        }
    });
    Row("100,000 ConvertTextToTIMEDATE", fromText, "strptime + timegm", strptimeMs);
}

class InstanceNote : public nrt::ItemSource {
public:
    explicit InstanceNote(const std::string* name) : name_(name) {}
    bool FindItem(const std::string& item, WORD* type, std::string* data) const override {
        if (item != "InstanceID_text") return false;
        *type = 0x0500;
        *data = *name_;
        return true;
    }

private:
    const std::string* name_;
};

void FormulaRows(int runs) {
    const char* text = "@IsAvailable(InstanceID_text) & InstanceID_text = \"dir\\\\main\";";
    std::vector<std::string> names;
    for (DWORD i = 0; i < kCount; ++i) names.push_back("dir\\instance" + std::to_string(i));
    double compile = MedianMs(runs, [&] {
        for (int i = 0; i < 1000; ++i) {
            FORMULAHANDLE formula = NULLHANDLE;
            NSFFormulaCompile(nullptr, 0, text, (WORD)strlen(text), &formula, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr);
            OSMemFree(formula);
        }
    });
    Row("1,000 NSFFormulaCompile", compile, nullptr, 0);

    FORMULAHANDLE formula = NULLHANDLE;
    NSFFormulaCompile(nullptr, 0, text, (WORD)strlen(text), &formula, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr);
    double run = MedianMs(runs, [&] {
        DWORD hits = 0;
        for (const std::string& name : names) {
            bool selected = false;
            nrt::FormulaSelects(formula, InstanceNote(&name), &selected);
            hits += selected;
        }
        g_sink = hits;
    });
    double direct = MedianMs(runs, [&] {
        DWORD hits = 0;
        for (const std::string& name : names) hits += strcasecmp(name.c_str(), "dir\\main") == 0;
        g_sink = hits;
    });
    Row("formula run on 100,000 notes", run, "strcasecmp", direct);
    OSMemFree(formula);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? atoi(argv[1]) : 5;
    if (runs < 1) runs = 1;
    printf("| operation | ms | baseline (same run) | ms | ratio |\n|---|---:|---|---:|---:|\n");
    IdTableRows(runs);
    TimeTextRows(runs);
    FormulaRows(runs);
    return 0;
}
