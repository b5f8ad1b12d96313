// stats_bench.cpp - cost of the server statistics: one StatUpdate that
// changes a counter (and so publishes the process's whole set) with 1, 10
// and 30 statistics set; one that leaves the value as it was; one listing
// of 30 statistics (NRTEnumStatistics) and one StatQuery. Then what that
// means for the two passes of pass.sh: 200 progress updates (two counters
// every 500 notes of a 100,000-person migration) and the 30 figures set at
// the end of a pass. Each figure is the median of several runs.
//
// Usage: stats_bench [RUNS] (default 7); works in a temporary data
// directory beside the system's temporary files, which it removes.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "benchutil.h"
#include "nrt_env.h"
#include "nrt_server.h"
#include "osmem.h"
#include "stats.h"

using benchutil::MedianMs;

namespace {

constexpr int kCalls = 2000;

std::string Name(int n) { return "BENCH.Figure" + std::to_string(n); }

// Sets statistics 0 to count-1 of the set.
void FillSet(int count) {
    for (int n = 0; n < count; ++n) {
        LONG value = n;
        StatUpdate("ZELREP", Name(n).c_str(), ST_UNIQUE, VT_LONG, &value);
    }
}

void ClearSet(int count) {
    for (int n = 0; n < count; ++n) StatDelete("ZELREP", Name(n).c_str());
}

// Microseconds per StatUpdate of statistic 0, set to a new value each call
// (changing) or to the same one (not changing).
double UpdateMicros(int runs, int setSize, bool changing) {
    FillSet(setSize);
    LONG counter = 0;
    double ms = MedianMs(runs, [&] {
        for (int i = 0; i < kCalls; ++i) {
            LONG value = changing ? ++counter : 0;
            StatUpdate("ZELREP", Name(0).c_str(), 0, VT_LONG, &value);
        }
    });
    ClearSet(setSize);
    return ms * 1e3 / kCalls;
}

STATUS LNCALLBACK CountOne(void* context, const NRTSTATINFO*) {
    ++*static_cast<int*>(context);
    return NOERROR;
}

double ListMicros(int runs, int setSize) {
    FillSet(setSize);
    int seen = 0;
    double ms = MedianMs(runs, [&] {
        for (int i = 0; i < kCalls / 10; ++i) NRTEnumStatistics("ZELREP.*", CountOne, &seen);
    });
    ClearSet(setSize);
    return ms * 1e3 / (kCalls / 10);
}

double QueryMicros(int runs, int setSize) {
    FillSet(setSize);
    double ms = MedianMs(runs, [&] {
        for (int i = 0; i < kCalls / 10; ++i) {
            DHANDLE text = NULLHANDLE;
            DWORD length = 0;
            if (StatQuery(nullptr, "  ", " = ", "\n", &text, &length) == NOERROR) OSMemFree(text);
        }
    });
    ClearSet(setSize);
    return ms * 1e3 / (kCalls / 10);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    if (runs < 1) {
        std::fprintf(stderr, "usage: stats_bench [RUNS >= 1]\n");
        return 2;
    }
    std::string dir = (std::filesystem::temp_directory_path() / "stats-bench-XXXXXX").string();
    if (mkdtemp(&dir[0]) == nullptr || NRTSetDataDirectory(dir.c_str()) != NOERROR) return 1;

    std::printf("| operation | us |\n|---|---:|\n");
    double setOf30 = 0;
    for (int size : {1, 10, 30}) {
        double us = UpdateMicros(runs, size, true);
        if (size == 30) setOf30 = us;
        std::printf("| StatUpdate, value changed, %d statistic%s set | %.1f |\n", size,
                    size == 1 ? "" : "s", us);
    }
    std::printf("| StatUpdate, value unchanged, 30 statistics set | %.2f |\n",
                UpdateMicros(runs, 30, false));
    std::printf("| NRTEnumStatistics of 30 statistics | %.1f |\n", ListMicros(runs, 30));
    std::printf("| StatQuery of 30 statistics | %.1f |\n", QueryMicros(runs, 30));
    std::printf("\n| in a pass | ms |\n|---|---:|\n");
    std::printf("| 200 progress updates of a 100,000-person migration | %.2f |\n",
                200 * setOf30 / 1e3);
    std::printf("| 30 figures at the end of a pass | %.2f |\n", 30 * setOf30 / 1e3);

    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
