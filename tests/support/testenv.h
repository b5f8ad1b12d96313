// testenv.h - fixtures shared by the test binaries: a fresh data directory
// per test, made under the system's temporary directory and removed after
// the test, with the runtime pointed at it; and a second local user for
// the tests of who may do what.
#ifndef ZELREP_TESTS_TESTENV_H
#define ZELREP_TESTS_TESTENV_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#ifndef _WIN32
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#endif
#include <string>

#include "nrt_env.h"

namespace testenv {

// Creates a unique empty directory, readable by its owner only, and returns
// its path (empty when none could be made).
inline std::string MakeTempDir(const char* tag) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) return "";
    std::random_device seed;
    std::mt19937_64 random(((uint64_t)seed() << 32) ^ seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof(name), "zelrep-%s-%016llx", tag, (unsigned long long)random());
        fs::path dir = base / name;
        if (fs::create_directory(dir, error)) {
            fs::permissions(dir, fs::perms::owner_all, error);
            return dir.string();
        }
        if (error) return "";
    }
    return "";
}

// Sets an environment variable of this process, or removes it (nullptr).
inline void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv((std::string(name) + "=" + (value != nullptr ? value : "")).c_str());
#else
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
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

#ifndef _WIN32
// A user and group that no account has: tests running as root act as a
// second local user with them.
constexpr uid_t kOtherUser = 12345;
constexpr gid_t kOtherGroup = 12345;

// Runs body in a forked child as kOtherUser (its group gid) and returns
// body's result, or 100 when the child could not become that user.
inline int AsOtherUser(const std::function<int()>& body, gid_t gid = kOtherGroup) {
    pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(kOtherUser) != 0) _exit(100);
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits up to seconds for child to end; a child still running then is
// killed and reaped, and the answer is false.
inline bool WaitOrKill(pid_t child, int* status, int seconds) {
    for (int tenths = 0; tenths < seconds * 10; ++tenths) {
        if (waitpid(child, status, WNOHANG) == child) return true;
        usleep(100000);
    }
    kill(child, SIGKILL);
    waitpid(child, status, 0);
    return false;
}

#define SKIP_UNLESS_ROOT()                                                              \
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second local user (uid " \
                                     << testenv::kOtherUser << ")"
#endif

// What the runtime last said of a failure, for an assertion's message.
inline std::string LastErrorDetail() {
    char detail[512] = "";
    NRTLastErrorDetail(detail, sizeof detail);
    return detail;
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
    // ZELREP_KEEP_FAILED=1 keeps the data directory of a failed test for a
    // post-mortem (its path is printed).
    void TearDown() override {
        if (dataDir_.empty()) return;
        const char* keep = std::getenv("ZELREP_KEEP_FAILED");
        if (HasFailure() && keep != nullptr && *keep == '1') {
            std::fprintf(stderr, "kept the data directory %s\n", dataDir_.c_str());
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(dataDir_, ignored);
    }
    std::string DataPath(const std::string& name) const { return dataDir_ + "/" + name; }

    std::string dataDir_;
};

#endif
