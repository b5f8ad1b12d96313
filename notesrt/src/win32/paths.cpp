// paths.cpp - the Windows side of the calls of platform.h on the names of
// a data directory that answer Notes statuses: where a path leads, and
// the per-process files of the private directory.
//
// Windows compares names without regard to letter case, so a path is
// inside the data directory when its full form starts with the
// directory's in any case. Where it leads is the directory as given, then
// the names of the path's parts as the disk holds them (a name typed in
// another case finds the file, but is not its name), so that the part
// inside the directory reads the same on every platform. Links are not
// followed: the runtime makes none there, and making one takes an
// administrator.
#include <algorithm>
#include <cctype>
#include <cerrno>

#include "status.h"
#include "winsys.h"

namespace nrt {
namespace {

// The parts of relative (separated by '/') after base, as stored; a part
// that does not exist (yet) as given.
std::string StoredParts(const std::string& base, const std::string& relative) {
    std::string stored;
    size_t at = 0;
    while (at <= relative.size()) {
        size_t end = std::min(relative.find('/', at), relative.size());
        std::string part = relative.substr(at, end - at);
        std::string name = part.empty() ? "" : StoredName(base + "/" + stored + part);
        stored += (name.empty() ? part : name) + (end < relative.size() ? "/" : "");
        at = end + 1;
    }
    return stored;
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower((unsigned char)text[i]) != std::tolower((unsigned char)prefix[i])) return false;
    return true;
}

}  // namespace

STATUS RealPathInside(const std::string& directory, const std::string& path, std::string* real) {
    int error = 0;
    std::string full = FullPathName(path, &error);
    if (full.empty()) return StatusFromErrno(error, "real location of " + path);
    std::string inside = FullPathName(directory, &error) + "/";
    if (!StartsWithIgnoringCase(full, inside)) return Fail(ERR_BAD_PATH, path + " leads to " + full);
    *real = directory + "/" + StoredParts(directory, full.substr(inside.size()));
    return NOERROR;
}

STATUS OpenPrivateFile(const std::string& dataDir, const char* part, const std::string& name, bool forWriting,
                       int* fd) {
    *fd = -1;
    std::string dir;
    int error = PrivateDirectory(dataDir, part, forWriting, &dir);
    if (error == 0) error = OpenPrivateDescriptor(dir + "/" + name, forWriting, fd);
    if (error == 0) return NOERROR;
    return error == ENOENT ? ERR_NOEXIST : StatusFromErrno(error, name + " in " + part);
}

}  // namespace nrt
