// osfiles.cpp - modes of new files, real locations, the server's user and
// the private directory (see osfiles.h), and the file calls of platform.h
// that need them.
#include "osfiles.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "env.h"
#include "status.h"

namespace nrt {
namespace {

constexpr char kPrivateDirectory[] = ".notesrt";
// Links followed for one path before it counts as a loop, as the kernel does.
constexpr int kMaxLinks = 40;

struct Owner {
    uid_t uid;
    gid_t gid;
};

bool GroupReadable() {
    std::string value;
    return IniSetting("GroupReadable", &value) && std::strtol(value.c_str(), nullptr, 10) != 0;
}

// The last component of the real location of path: its directory is
// real already, and the component is missing or a link to follow.
int FollowLast(const std::string& directory, const std::string& name, int links, std::string* real);

// path with every link followed; components that are missing are kept as
// they are ("." and ".." after them are taken by their meaning, as the
// kernel would once they exist).
int RealLocation(const std::string& path, int links, std::string* real) {
    if (links > kMaxLinks) return ELOOP;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) {
        *real = resolved;
        return 0;
    }
    if (errno != ENOENT) return errno;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ENOENT;
    std::string directory;
    int error = RealLocation(slash == 0 ? "/" : path.substr(0, slash), links, &directory);
    return error != 0 ? error : FollowLast(directory, path.substr(slash + 1), links, real);
}

int FollowLast(const std::string& directory, const std::string& name, int links, std::string* real) {
    std::string base = directory == "/" ? "" : directory;
    if (name.empty() || name == ".") {
        *real = directory;
        return 0;
    }
    if (name == "..") {
        size_t slash = base.rfind('/');
        *real = slash == 0 || slash == std::string::npos ? "/" : base.substr(0, slash);
        return 0;
    }
    std::string joined = base + "/" + name;
    char target[PATH_MAX];
    ssize_t length = readlink(joined.c_str(), target, sizeof(target) - 1);
    if (length < 0) {  // missing: nothing to follow
        *real = joined;
        return 0;
    }
    std::string to(target, size_t(length));
    return RealLocation(to[0] == '/' ? to : base + "/" + to, links + 1, real);
}

bool OwnerOf(const std::string& dataDir, Owner* owner) {
    struct stat info;
    if (stat(dataDir.c_str(), &info) != 0) return false;
    owner->uid = info.st_uid;
    owner->gid = info.st_gid;
    return true;
}

void GiveTo(int dirFd, const std::string& name, const Owner& owner) {
    if (geteuid() == 0 && owner.uid != 0) fchownat(dirFd, name.c_str(), owner.uid, owner.gid, AT_SYMLINK_NOFOLLOW);
}

// Moves an entry that is in the way to a name of its own, for its owner or
// an administrator to look at.
void MoveAside(int dirFd, const std::string& name) {
    std::string aside = name + ".foreign-" + std::to_string(getpid()) + "-" + std::to_string(RandomNumber());
    renameat(dirFd, name.c_str(), dirFd, aside.c_str());
}

// Opens dirFd/name, a directory of owner, with the runtime's directory
// mode; with create, makes it when missing and moves aside whatever else
// holds the name. ENOENT when missing, EPERM when it is not owner's.
int OpenOwnedDirectory(int dirFd, const std::string& name, const Owner& owner, bool create, int* fd) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (create) {
            if (mkdirat(dirFd, name.c_str(), NewDirectoryMode()) == 0)
                GiveTo(dirFd, name, owner);
            else if (errno != EEXIST)
                return errno;
        }
        int opened = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (opened < 0 && errno != ELOOP && errno != ENOTDIR) return errno;
        struct stat info;
        if (opened >= 0 && fstat(opened, &info) == 0 && info.st_uid == owner.uid) {
            if ((info.st_mode & 0777) != NewDirectoryMode()) fchmod(opened, NewDirectoryMode());
            *fd = opened;
            return 0;
        }
        if (opened >= 0) close(opened);
        if (!create) return EPERM;
        MoveAside(dirFd, name);
    }
    return EPERM;
}

}  // namespace

mode_t NewFileMode() { return GroupReadable() ? 0640 : 0600; }

mode_t NewDirectoryMode() { return GroupReadable() ? 0750 : 0700; }

int OpenCreating(const std::string& path, int flags) {
    flags |= O_CLOEXEC;
    for (;;) {
        int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, NewFileMode());
        if (fd >= 0) {
            fchmod(fd, NewFileMode());  // the umask does not decide
            return fd;
        }
        if (errno != EEXIST || (flags & O_EXCL) != 0) return -1;
        fd = open(path.c_str(), flags & ~O_CREAT);
        if (fd >= 0 || errno != ENOENT) return fd;  // else removed meanwhile: create it
    }
}

int MakeDirectories(const std::string& path) {
    struct stat info;
    if (path.empty() || stat(path.c_str(), &info) == 0) return 0;
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        int error = MakeDirectories(path.substr(0, slash));
        if (error != 0) return error;
    }
    if (mkdir(path.c_str(), NewDirectoryMode()) != 0 && errno != EEXIST) return errno;
    chmod(path.c_str(), NewDirectoryMode());
    return 0;
}

STATUS RealPathInside(const std::string& directory, const std::string& path, std::string* real) {
    std::string location;
    int error = RealLocation(path, 0, &location);
    if (error != 0) return StatusFromErrno(error, "real location of " + path);
    if (location.compare(0, directory.size() + 1, directory + "/") != 0)
        return Fail(ERR_BAD_PATH, path + " leads to " + location);
    *real = location;
    return NOERROR;
}

STATUS OpenPrivateDirectory(const std::string& dataDir, const char* part, bool create, int* fd) {
    *fd = -1;
    Owner owner;
    if (!OwnerOf(dataDir, &owner)) return StatusFromErrno(errno, "data directory " + dataDir);
    if (geteuid() != owner.uid && geteuid() != 0)
        return Fail(ERR_NOACCESS, "data directory " + dataDir + " belongs to user " + std::to_string(owner.uid));
    int data = open(dataDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (data < 0) return StatusFromErrno(errno, "data directory " + dataDir);
    std::string where = dataDir + "/" + kPrivateDirectory;
    int top = -1;
    int error = OpenOwnedDirectory(data, kPrivateDirectory, owner, create, &top);
    close(data);
    if (error == 0) {
        where += std::string("/") + part;
        error = OpenOwnedDirectory(top, part, owner, create, fd);
        close(top);
    }
    if (error == 0) return NOERROR;
    if (error == ENOENT) return Fail(ERR_NOEXIST, where);
    if (error == EPERM) return Fail(ERR_NOACCESS, where + " is not a directory of user " + std::to_string(owner.uid));
    return StatusFromErrno(error, where);
}

bool IsServerUser(const std::string& dataDir, uid_t uid) {
    Owner owner;
    return uid == 0 || (OwnerOf(dataDir, &owner) && uid == owner.uid);
}

void GiveToServerUser(const std::string& dataDir, int dirFd, const std::string& name) {
    Owner owner;
    if (geteuid() == 0 && OwnerOf(dataDir, &owner)) GiveTo(dirFd, name, owner);
}

}  // namespace nrt
