// benchutil.h - helpers shared by the benchmark programs in bench/: timing,
// medians, and raw SQLite connections with the runtime's settings for the
// floors that runtime figures are compared with. Owned by the benchmarks.
#ifndef ZELREP_BENCH_BENCHUTIL_H
#define ZELREP_BENCH_BENCHUTIL_H

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace benchutil {

inline double Seconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median wall time of runs of work, in milliseconds.
inline double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) times.push_back(Seconds(work) * 1e3);
    return Median(std::move(times));
}

inline void CheckSql(int rc, sqlite3* db, const char* what) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
    std::fprintf(stderr, "%s failed: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
}

// A connection to a database file of the runtime, with the settings the
// runtime gives its own connections.
inline sqlite3* OpenRaw(const std::string& path) {
    sqlite3* db = nullptr;
    CheckSql(sqlite3_open(path.c_str(), &db), db, "sqlite3_open");
    const char* settings =
        "PRAGMA synchronous = NORMAL; PRAGMA cache_size = -8192; PRAGMA wal_autocheckpoint = 8192";
    CheckSql(sqlite3_exec(db, settings, nullptr, nullptr, nullptr), db, "pragma");
    return db;
}

inline sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    CheckSql(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), db, "prepare");
    return statement;
}

// The machine and its load, for the heading of a benchmark's figures.
inline std::string MachineLine() {
    std::string model = "unknown CPU";
    if (FILE* cpu = std::fopen("/proc/cpuinfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, cpu)) {
            std::string text = line;
            if (text.compare(0, 10, "model name") != 0) continue;
            model = text.substr(text.find(':') + 2);
            model.erase(model.find_last_not_of("\n ") + 1);
            break;
        }
        std::fclose(cpu);
    }
    double load[3] = {0, 0, 0};
    if (FILE* avg = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(avg, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3) load[0] = 0;
        std::fclose(avg);
    }
    char text[512];
    std::snprintf(text, sizeof text, "%ld cores, %s, load average %.2f %.2f %.2f",
                  sysconf(_SC_NPROCESSORS_ONLN), model.c_str(), load[0], load[1], load[2]);
    return text;
}

}  // namespace benchutil

#endif
