// paths.cpp - the Windows side of the calls of platform.h on the names of
// a data directory that answer Notes statuses: where a path leads, and
// the per-process files of the private directory.
//
// Windows compares names without regard to letter case, so a path is
// inside the data directory when its full form starts with the
// directory's in any case. Links are not followed: the runtime makes none
// there, and making one takes an administrator.
#include <cerrno>
#include <cctype>

#include "status.h"
#include "winsys.h"

namespace nrt {
namespace {

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
    *real = full;
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
