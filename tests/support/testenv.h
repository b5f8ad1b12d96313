// testenv.h - fixtures shared by the test binaries: a fresh data directory
// per test, made under the system's temporary directory and removed after
// the test, with the runtime pointed at it.
#ifndef ZELREP_TESTS_TESTENV_H
#define ZELREP_TESTS_TESTENV_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "nrt_env.h"

namespace testenv {

// Creates a unique empty directory and returns its path.
inline std::string MakeTempDir(const char* tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelrep-").string() + tag + "-XXXXXX";
    std::string buffer = pattern;
    if (mkdtemp(buffer.data()) == nullptr) return "";
    return buffer;
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Overwrites pages first to last (counted from 0, of the runtime's 2 KiB
// pages) of a closed database file with garbage, as a failing disk might;
// false when the file is not that long.
inline bool DamagePages(const std::string& path, size_t first, size_t last) {
    const size_t kPageSize = 2048;
    std::string bytes = ReadFile(path);
    if (bytes.size() < (last + 2) * kPageSize) return false;
    for (size_t at = first * kPageSize; at < (last + 1) * kPageSize; ++at) bytes[at] = (char)0x5A;
    WriteFile(path, bytes);
    return true;
}

}  // namespace testenv

// Base fixture: each test runs in its own data directory.
class DataDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        dataDir_ = testenv::MakeTempDir("test");
        ASSERT_FALSE(dataDir_.empty());
        ASSERT_EQ(0, NRTSetDataDirectory(dataDir_.c_str()));
    }
    void TearDown() override {
        std::error_code ignored;
        if (!dataDir_.empty()) std::filesystem::remove_all(dataDir_, ignored);
    }
    std::string DataPath(const std::string& name) const { return dataDir_ + "/" + name; }

    std::string dataDir_;
};

#endif
