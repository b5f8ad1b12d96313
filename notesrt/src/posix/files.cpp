// files.cpp - the POSIX side of the file calls of platform.h: locks,
// writes in place, flushes, links, errno values, and the per-process files
// in the private directory (osfiles.h), reached through its descriptor and
// never through a link.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "osfiles.h"
#include "platform.h"
#include "status.h"

namespace nrt {

int OpenExisting(const std::string& path, int flags) { return open(path.c_str(), flags | O_CLOEXEC, 0600); }

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string AbsoluteDirectory(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr || !IsDirectory(resolved)) return "";
    return resolved;
}

bool LockFile(int fd, FileLock lock, bool wait) {
    int operation = (lock == FileLock::kShared ? LOCK_SH : LOCK_EX) | (wait ? 0 : LOCK_NB);
    for (;;) {
        if (flock(fd, operation) == 0) return true;
        if (errno != EINTR) return false;
    }
}

void UnlockFile(int fd) { flock(fd, LOCK_UN); }

int WriteAt(int fd, const char* data, size_t size, int64_t offset) {
    while (size > 0) {
        ssize_t n = pwrite(fd, data, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        data += n;
        size -= size_t(n);
        offset += n;
    }
    return 0;
}

int TruncateFile(int fd, int64_t size) { return ftruncate(fd, off_t(size)) == 0 ? 0 : errno; }

int TruncatePath(const std::string& path, int64_t size) {
    return truncate(path.c_str(), off_t(size)) == 0 ? 0 : errno;
}

int FlushToDisk(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = FlushDescriptor(fd);
    close(fd);
    return error;
}

int FlushDescriptor(int fd) { return fsync(fd) == 0 ? 0 : errno; }

int LinkNewName(const std::string& existing, const std::string& newName) {
    return link(existing.c_str(), newName.c_str()) == 0 ? 0 : errno;
}

int RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }

int CommonErrno(int systemError) { return systemError == EDQUOT ? ENOSPC : systemError; }

int CommonErrnoOfSqlite(int systemError) { return CommonErrno(systemError); }

namespace {

// The file, created when missing (given to the server's user when root
// made it); never through a link. -1 with errno on failure.
int OpenForWriting(int dir, const std::string& dataDir, const std::string& name) {
    const int flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(dir, name.c_str(), flags);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = openat(dir, name.c_str(), flags | O_CREAT | O_EXCL, NewFileMode());
    if (fd >= 0) GiveToServerUser(dataDir, dir, name);
    return fd;
}

}  // namespace

STATUS OpenPrivateFile(const std::string& dataDir, const char* part, const std::string& name, bool forWriting,
                       int* fd) {
    int dir = -1;
    STATUS status = OpenPrivateDirectory(dataDir, part, forWriting, &dir);
    if (status != NOERROR) return status;
    *fd = forWriting ? OpenForWriting(dir, dataDir, name)
                     : openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    int error = errno;
    close(dir);
    if (*fd >= 0) return NOERROR;
    return error == ENOENT ? ERR_NOEXIST : StatusFromErrno(error, name + " in " + part);
}

void RemovePrivateFile(const std::string& dataDir, const char* part, const std::string& name) {
    int dir = -1;
    if (OpenPrivateDirectory(dataDir, part, false, &dir) != NOERROR) return;
    unlinkat(dir, name.c_str(), 0);
    close(dir);
}

std::vector<std::string> PrivateFileNames(const std::string& dataDir, const char* part) {
    std::vector<std::string> names;
    int dir = -1;
    if (OpenPrivateDirectory(dataDir, part, false, &dir) != NOERROR) return names;
    DIR* handle = fdopendir(dir);
    if (handle == nullptr) {
        close(dir);
        return names;
    }
    while (struct dirent* entry = readdir(handle)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(handle);
    return names;
}

}  // namespace nrt
