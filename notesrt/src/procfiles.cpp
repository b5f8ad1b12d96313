// procfiles.cpp - the per-process files of status lines and statistics:
// their names, their writing in place and the listing of the live ones.
#include "procfiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "env.h"
#include "localsock.h"

namespace nrt {
namespace {

// What is made here is for the server's user only.
mode_t NewOwnFileMode() { return 0600; }
mode_t NewOwnDirectoryMode() { return 0700; }

std::string DirectoryPath(const char* directory) { return DataDirectory() + "/" + directory; }

// "<pid>-<hex>[.<suffix>]": the owner's token.
std::string TokenOfFile(const std::string& file) { return file.substr(0, file.find('.')); }

// A file holds a header "<length> <hash>\n" and the content after it. It
// is written in place with one pwrite (a rename over it would make the
// file system write the new file out at once, which costs a hundred times
// more), so a reader that meets a write half done finds a content that
// does not match the header, and reads again.
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

// The content of a whole file read; false for a file written half.
bool Unwrap(const std::string& file, std::string* content) {
    size_t size = 0;
    unsigned long long hash = 0;
    int header = 0;
    if (std::sscanf(file.c_str(), "%zu %16llx\n%n", &size, &hash, &header) != 2 || header == 0 ||
        file.size() - size_t(header) < size)
        return false;
    if (Fnv1a(file.data() + header, size) != hash) return false;
    content->assign(file, size_t(header), size);
    return true;
}

int WriteAllAt(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        done += size_t(n);
    }
    return ftruncate(fd, off_t(bytes.size())) == 0 ? 0 : errno;
}

bool ReadWhole(const std::string& path, std::string* bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bytes->clear();
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        bytes->append(buffer, size_t(n));
    }
    close(fd);
    return n == 0;
}

// A file's content, read again while a write is under way; false when it
// is gone or never came out whole.
bool ReadContent(const std::string& path, std::string* content) {
    constexpr int kAttempts = 100;
    std::string bytes;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!ReadWhole(path, &bytes)) return false;
        if (Unwrap(bytes, content)) return true;
        sched_yield();
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

std::string OwnFilePath(const char* directory, const std::string& suffix) {
    std::string path = DirectoryPath(directory) + "/" + ProcessToken();
    return suffix.empty() ? path : path + "." + suffix;
}

int ReplaceOwnFile(const std::string& path, const std::string& content) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    int fd = open(path.c_str(), flags, NewOwnFileMode());
    if (fd < 0 && errno == ENOENT) {  // the first file of the directory
        mkdir(path.substr(0, path.rfind('/')).c_str(), NewOwnDirectoryMode());
        fd = open(path.c_str(), flags, NewOwnFileMode());
    }
    if (fd < 0) return errno;
    int error = WriteAllAt(fd, WithHeader(content));
    if (close(fd) != 0 && error == 0) error = errno;
    return error;
}

std::vector<LiveFile> LiveFiles(const char* directory) {
    std::vector<LiveFile> files;
    std::string dir = DirectoryPath(directory);
    DIR* handle = opendir(dir.c_str());
    if (handle == nullptr) return files;
    std::map<std::string, bool> alive;
    while (struct dirent* entry = readdir(handle)) {
        std::string file = entry->d_name;
        if (file == "." || file == "..") continue;
        std::string token = TokenOfFile(file);
        auto known = alive.find(token);
        if (known == alive.end()) known = alive.emplace(token, TokenAlive(token)).first;
        std::string path = dir + "/" + file;
        if (!known->second) {
            unlink(path.c_str());
            continue;
        }
        LiveFile live{"", DWORD(std::strtoul(token.c_str(), nullptr, 10))};
        if (ReadContent(path, &live.content)) files.push_back(std::move(live));
    }
    closedir(handle);
    return files;
}

}  // namespace nrt
