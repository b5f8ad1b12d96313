// procfiles.cpp - the per-process files of status lines and statistics:
// their names, their writing in place and the listing of the live ones, in
// the runtime's private directory.
#include "procfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "env.h"
#include "platform.h"
#include "status.h"

namespace nrt {
namespace {

// "<pid>-<hex>[.<suffix>]": the owner's token.
std::string TokenOfFile(const std::string& file) { return file.substr(0, file.find('.')); }

// A file holds a header "<length> <hash>\n" and the content after it. It
// is written in place (a rename over it would make the file system write
// the new file out at once, which costs a hundred times more) under an
// exclusive lock, and read under a shared one. Neither side waits long for
// the other: a process stopped while it holds a lock must not stop the
// rest. The hash tells a reader who could not wait whether it got a whole
// content.
constexpr std::chrono::milliseconds kWriterPatience(2);
constexpr std::chrono::milliseconds kReaderPatience(100);
constexpr int kReadAttempts = 10;

uint64_t Fnv1a(const char* bytes, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) {
        hash ^= (unsigned char)bytes[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::string WithHeader(const std::string& content) {
    char header[48];
    std::snprintf(header, sizeof(header), "%zu %016llx\n", content.size(),
                  (unsigned long long)Fnv1a(content.data(), content.size()));
    return header + content;
}

// The content of a whole file read; false for one written in part.
bool Unwrap(const std::string& file, std::string* content) {
    size_t newline = file.find('\n');
    if (newline == std::string::npos || newline > 40) return false;
    size_t size = 0;
    unsigned long long hash = 0;
    int used = 0;
    std::string header = file.substr(0, newline);
    if (std::sscanf(header.c_str(), "%zu %16llx%n", &size, &hash, &used) != 2 ||
        size_t(used) != header.size() || file.size() - newline - 1 < size ||
        Fnv1a(file.data() + newline + 1, size) != hash)
        return false;
    content->assign(file, newline + 1, size);
    return true;
}

// Takes the lock if it comes free within patience.
bool LockWithin(int fd, FileLock lock, std::chrono::milliseconds patience) {
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (!LockFile(fd, lock, false)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return true;
}

int WriteInPlace(int fd, const std::string& bytes) {
    LockWithin(fd, FileLock::kExclusive, kWriterPatience);
    int error = WriteAt(fd, bytes.data(), bytes.size(), 0);
    if (error != 0) return error;
    // A shorter content leaves the end of the longer one behind it, which
    // is cut off; a truncation to the same length would still cost a
    // change of the file's times.
    struct stat info;
    if (fstat(fd, &info) == 0 && info.st_size <= off_t(bytes.size())) return 0;
    return TruncateFile(fd, int64_t(bytes.size()));
}

// The whole file; false when it is gone or cannot be read.
bool ReadWhole(const std::string& dataDir, const char* part, const std::string& name, std::string* bytes) {
    int fd = -1;
    if (OpenPrivateFile(dataDir, part, name, false, &fd) != NOERROR) return false;
    LockWithin(fd, FileLock::kShared, kReaderPatience);
    bytes->clear();
    char buffer[16384];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        bytes->append(buffer, size_t(n));
    }
    close(fd);
    return n == 0;
}

bool ReadContent(const std::string& dataDir, const char* part, const std::string& name, std::string* content) {
    std::string bytes;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        if (!ReadWhole(dataDir, part, name, &bytes)) return false;
        if (Unwrap(bytes, content)) return true;
    }
    return false;
}

}  // namespace

std::string OneLine(const std::string& text, size_t limit) {
    std::string line = text.substr(0, limit);
    for (char& c : line)
        if ((unsigned char)c < 0x20 || c == 0x7F) c = ' ';
    return line;
}

OwnFile NewOwnFile(const char* part, const std::string& suffix) {
    std::string name = ProcessToken();
    return OwnFile{DataDirectory(), part, suffix.empty() ? name : name + "." + suffix};
}

STATUS ReplaceOwnFile(const OwnFile& file, const std::string& content) {
    int fd = -1;
    STATUS status = OpenPrivateFile(file.dataDir, file.part, file.name, true, &fd);
    if (status != NOERROR) return status;
    int error = WriteInPlace(fd, WithHeader(content));
    if (close(fd) != 0 && error == 0) error = errno;
    return error == 0 ? NOERROR : StatusFromErrno(error, "writing " + file.name + " in " + file.part);
}

void RemoveOwnFile(const OwnFile& file) { RemovePrivateFile(file.dataDir, file.part, file.name); }

std::vector<LiveFile> LiveFiles(const char* part) {
    std::vector<LiveFile> files;
    std::string dataDir = DataDirectory();
    std::map<std::string, bool> alive;
    for (const std::string& file : PrivateFileNames(dataDir, part)) {
        std::string token = TokenOfFile(file);
        auto known = alive.find(token);
        if (known == alive.end()) known = alive.emplace(token, TokenAlive(token)).first;
        if (!known->second) {
            RemovePrivateFile(dataDir, part, file);
            continue;
        }
        LiveFile live{"", DWORD(std::strtoul(token.c_str(), nullptr, 10))};
        if (ReadContent(dataDir, part, file, &live.content)) files.push_back(std::move(live));
    }
    return files;
}

}  // namespace nrt
