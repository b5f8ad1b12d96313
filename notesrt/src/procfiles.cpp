// procfiles.cpp - the per-process files of status lines and statistics:
// their names, their replacement in one step and the listing of the live
// ones.
#include "procfiles.h"

#include <dirent.h>
#include <fcntl.h>
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

// The file that a new content is written to before it replaces path:
// ".<name>.tmp" beside it, so readers know it for a part.
std::string TempPathFor(const std::string& path) {
    size_t slash = path.rfind('/');
    return path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".tmp";
}

// "<pid>-<hex>[.<suffix>]" or ".<pid>-<hex>[.<suffix>].tmp": the owner's token.
std::string TokenOfFile(const std::string& file) {
    std::string name = file[0] == '.' ? file.substr(1) : file;
    return name.substr(0, name.find('.'));
}

int WriteAll(int fd, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        done += size_t(n);
    }
    return 0;
}

bool ReadWhole(const std::string& path, std::string* content) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    content->clear();
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        content->append(buffer, size_t(n));
    }
    close(fd);
    return n == 0;
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
    std::string temp = TempPathFor(path);
    int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    int fd = open(temp.c_str(), flags, NewOwnFileMode());
    if (fd < 0 && errno == ENOENT) {  // the first file of the directory
        mkdir(path.substr(0, path.rfind('/')).c_str(), NewOwnDirectoryMode());
        fd = open(temp.c_str(), flags, NewOwnFileMode());
    }
    if (fd < 0) return errno;
    int error = WriteAll(fd, content);
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && std::rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) unlink(temp.c_str());
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
        if (file[0] != '.' && ReadWhole(path, &live.content)) files.push_back(std::move(live));
    }
    closedir(handle);
    return files;
}

}  // namespace nrt
