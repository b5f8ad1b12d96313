// files.cpp - the Windows side of the file calls of platform.h and of
// winsys.h's path and private-directory calls.
//
// Files are opened with CreateFile, sharing read, write and delete as
// POSIX files do (a file may be removed while others hold it open), and
// handed to the C library as descriptors. Locks are taken on one byte far
// beyond any file's end: Windows locks keep everyone, their holder too,
// from the bytes they cover, so a lock on the data itself would block the
// very writes it guards.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "winsys.h"

namespace nrt {
namespace {

constexpr char kPrivateDirectory[] = ".notesrt";
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

std::string Slashed(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

int LastErrno() { return ErrnoOfWindowsError(GetLastError()); }

// The access and creation of open()'s flags.
DWORD AccessOf(int flags) {
    switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
        case O_WRONLY: return GENERIC_WRITE;
        case O_RDWR: return GENERIC_READ | GENERIC_WRITE;
        default: return GENERIC_READ;
    }
}

DWORD CreationOf(int flags) {
    if ((flags & O_CREAT) && (flags & O_EXCL)) return CREATE_NEW;
    if ((flags & O_CREAT) && (flags & O_TRUNC)) return CREATE_ALWAYS;
    if (flags & O_CREAT) return OPEN_ALWAYS;
    return (flags & O_TRUNC) ? TRUNCATE_EXISTING : OPEN_EXISTING;
}

// A descriptor of path opened with open()'s flags; -1 with errno set.
int OpenDescriptor(const std::string& path, int flags) {
    HANDLE handle = CreateFileA(path.c_str(), AccessOf(flags), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, CreationOf(flags), FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = LastErrno();
        return -1;
    }
    int crtFlags = _O_BINARY | (flags & (O_RDONLY | O_WRONLY | O_RDWR | O_APPEND));
    int fd = _open_osfhandle(intptr_t(handle), crtFlags);
    if (fd < 0) CloseHandle(handle);
    return fd;
}

HANDLE HandleOf(int fd) { return HANDLE(_get_osfhandle(fd)); }

OVERLAPPED LockRange() {
    OVERLAPPED range = {};
    range.OffsetHigh = kLockOffsetHigh;
    return range;
}

}  // namespace

int ErrnoOfWindowsError(unsigned long error) {
    switch (error) {
        case ERROR_SUCCESS: return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME: return ENOENT;
        case ERROR_DIRECTORY: return ENOTDIR;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EACCES;
        case ERROR_WRITE_PROTECT: return EROFS;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER: return EINVAL;
        case ERROR_PIPE_BUSY: return EAGAIN;
        default: return EIO;
    }
}

int OpenCreating(const std::string& path, int flags) { return OpenDescriptor(path, flags | O_CREAT); }

int OpenExisting(const std::string& path, int flags) { return OpenDescriptor(path, flags); }

int MakeDirectories(const std::string& path) {
    if (path.empty() || IsDirectory(path)) return 0;
    size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos && slash > 0) {
        int error = MakeDirectories(path.substr(0, slash));
        if (error != 0) return error;
    }
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return LastErrno();
    return 0;
}

bool IsDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// The full form of path as Windows writes it, without a trailing
// separator; "" with *error set.
std::string NativeFullPath(const std::string& path, int* error) {
    char full[MAX_PATH * 4];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof(full), full, nullptr);
    if (length == 0 || length >= sizeof(full)) {
        *error = length == 0 ? LastErrno() : ENAMETOOLONG;
        return "";
    }
    std::string native(full, length);
    while (native.size() > 3 && (native.back() == '\\' || native.back() == '/')) native.pop_back();
    return native;
}

}  // namespace

std::string FullPathName(const std::string& path, int* error) { return Slashed(NativeFullPath(path, error)); }

std::string StoredName(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return "";
    FindClose(search);
    return found.cFileName;
}

// The data directory is shown as Windows writes it.
std::string AbsoluteDirectory(const std::string& path) {
    int error = 0;
    std::string full = NativeFullPath(path, &error);
    return !full.empty() && IsDirectory(full) ? full : "";
}

bool LockFile(int fd, FileLock lock, bool wait) {
    OVERLAPPED range = LockRange();
    DWORD flags = (lock == FileLock::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) |
                  (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    return LockFileEx(HandleOf(fd), flags, 0, 1, 0, &range) != 0;
}

void UnlockFile(int fd) {
    OVERLAPPED range = LockRange();
    UnlockFileEx(HandleOf(fd), 0, 1, 0, &range);
}

int WriteAt(int fd, const char* data, size_t size, int64_t offset) {
    HANDLE handle = HandleOf(fd);
    while (size > 0) {
        OVERLAPPED at = {};
        at.Offset = DWORD(uint64_t(offset));
        at.OffsetHigh = DWORD(uint64_t(offset) >> 32);
        DWORD written = 0;
        if (!WriteFile(handle, data, DWORD(size), &written, &at)) return LastErrno();
        if (written == 0) return EIO;
        data += written;
        size -= written;
        offset += written;
    }
    return 0;
}

int TruncateFile(int fd, int64_t size) {
    LARGE_INTEGER end;
    end.QuadPart = size;
    HANDLE handle = HandleOf(fd);
    LARGE_INTEGER before = {}, zero = {};
    if (!SetFilePointerEx(handle, zero, &before, FILE_CURRENT)) return LastErrno();
    bool done = SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
    int error = done ? 0 : LastErrno();
    SetFilePointerEx(handle, before, nullptr, FILE_BEGIN);
    return error;
}

int TruncatePath(const std::string& path, int64_t size) {
    int fd = OpenDescriptor(path, O_WRONLY);
    if (fd < 0) return errno;
    int error = TruncateFile(fd, size);
    _close(fd);
    return error;
}

// A directory's names are kept by the file system's own journal; there is
// nothing to flush.
int FlushToDisk(const std::string& path) {
    if (IsDirectory(path)) return 0;
    int fd = OpenDescriptor(path, O_RDWR);
    if (fd < 0) return errno;
    int error = FlushDescriptor(fd);
    _close(fd);
    return error;
}

int FlushDescriptor(int fd) { return FlushFileBuffers(HandleOf(fd)) ? 0 : LastErrno(); }

int LinkNewName(const std::string& existing, const std::string& newName) {
    return MoveFileExA(existing.c_str(), newName.c_str(), MOVEFILE_WRITE_THROUGH) ? 0 : LastErrno();
}

int RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) ? 0 : LastErrno(); }

int CommonErrno(int systemError) { return systemError; }

int CommonErrnoOfSqlite(int systemError) { return ErrnoOfWindowsError(DWORD(systemError)); }

int PrivateDirectory(const std::string& dataDir, const char* part, bool create, std::string* path) {
    std::string top = dataDir + "/" + kPrivateDirectory;
    *path = top + "/" + part;
    if (IsDirectory(*path)) return 0;
    if (!create) return ENOENT;
    for (const std::string& dir : {top, *path})
        if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return LastErrno();
    return 0;
}

int OpenPrivateDescriptor(const std::string& path, bool forWriting, int* fd) {
    *fd = OpenDescriptor(path, forWriting ? O_WRONLY | O_CREAT : O_RDONLY);
    return *fd >= 0 ? 0 : errno;
}

void RemovePrivateFile(const std::string& dataDir, const char* part, const std::string& name) {
    std::string dir;
    if (PrivateDirectory(dataDir, part, false, &dir) == 0) DeleteFileA((dir + "/" + name).c_str());
}

std::vector<std::string> PrivateFileNames(const std::string& dataDir, const char* part) {
    std::vector<std::string> names;
    std::string dir;
    if (PrivateDirectory(dataDir, part, false, &dir) != 0) return names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((dir + "/*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
}

}  // namespace nrt
