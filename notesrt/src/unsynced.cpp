// unsynced.cpp - the record of writes not yet synced, and the reboot that
// drops them (see unsynced.h).
//
// A side file holds records appended one write() each: a header (magic,
// length, offset, the file's size before the change) and the length bytes
// the change overwrote from offset on. Writers hold a shared lock on the
// side file from their record to the end of their write, a sync holds it
// exclusively from its flush to the record's emptying. A record cut short
// by a killed process belongs to a write that never began, and is ignored.
#include "unsynced.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "env.h"
#include "fault.h"
#include "nrt_fault.h"
#include "platform.h"
#include "status.h"
#include "store.h"

namespace nrt {
namespace {

constexpr char kSuffix[] = "-unsynced";
constexpr uint32_t kMagic = 0x4E555352;

struct RecordHeader {
    uint32_t magic;
    uint32_t length;
    int64_t offset;
    int64_t sizeBefore;
};

// Holds a file lock for its scope.
class ScopedLock {
public:
    ScopedLock(int fd, FileLock lock) : fd_(fd) { locked_ = fd_ >= 0 && LockFile(fd_, lock, true); }
    ~ScopedLock() {
        if (locked_) UnlockFile(fd_);
    }
    bool Locked() const { return locked_; }

private:
    int fd_;
    bool locked_;
};

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= (size_t)written;
    }
    return true;
}

struct Record {
    RecordHeader header;
    std::string bytes;
};

// The complete records of a side file, in the order they were written.
std::vector<Record> ReadRecords(const std::string& sidePath) {
    std::vector<Record> records;
    std::string all;
    int fd = OpenExisting(sidePath, O_RDONLY);
    if (fd < 0) return records;
    char chunk[65536];
    for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) all.append(chunk, (size_t)got);
    ::close(fd);
    size_t at = 0;
    while (all.size() - at >= sizeof(RecordHeader)) {
        Record record;
        std::memcpy(&record.header, all.data() + at, sizeof(RecordHeader));
        if (record.header.magic != kMagic || all.size() - at - sizeof(RecordHeader) < record.header.length) break;
        record.bytes = all.substr(at + sizeof(RecordHeader), record.header.length);
        at += sizeof(RecordHeader) + record.header.length;
        records.push_back(std::move(record));
    }
    return records;
}

// Undoes the records of one file, newest first.
STATUS Revert(const std::string& sidePath) {
    std::string path = sidePath.substr(0, sidePath.size() - (sizeof(kSuffix) - 1));
    std::vector<Record> records = ReadRecords(sidePath);
    STATUS status = NOERROR;
    int fd = records.empty() ? -1 : OpenExisting(path, O_RDWR);
    if (fd >= 0) {
        int error = 0;
        for (auto record = records.rbegin(); record != records.rend() && error == 0; ++record) {
            error = WriteAt(fd, record->bytes.data(), record->bytes.size(), record->header.offset);
            if (error == 0) error = TruncateFile(fd, record->header.sizeBefore);
        }
        if (error == 0) error = FlushDescriptor(fd);
        if (error != 0) status = StatusFromErrno(error, "reboot " + path);
        ::close(fd);
    }
    if (status == NOERROR) RemoveFile(sidePath);
    return status;
}

bool IsSideFile(const std::filesystem::path& path) {
    std::string name = path.filename().string();
    size_t suffix = sizeof(kSuffix) - 1;
    return name.size() > suffix && name.compare(name.size() - suffix, suffix, kSuffix) == 0;
}

}  // namespace

std::string UnsyncedPath(const std::string& path) { return path + kSuffix; }

UnsyncedRecord::~UnsyncedRecord() {
    if (fd_ >= 0) ::close(fd_);
}

bool UnsyncedRecord::Open() {
    if (fd_ < 0) fd_ = OpenExisting(UnsyncedPath(path_), O_WRONLY | O_APPEND | O_CREAT);
    return fd_ >= 0;
}

int UnsyncedRecord::Keep(sqlite3_file* file, sqlite3_int64 offset, sqlite3_int64 amount) {
    sqlite3_int64 size = 0;
    int rc = file->pMethods->xFileSize(file, &size);
    if (rc != SQLITE_OK) return rc;
    sqlite3_int64 kept = std::max<sqlite3_int64>(0, std::min(amount, size - offset));
    RecordHeader header{kMagic, (uint32_t)kept, offset, size};
    std::string record(reinterpret_cast<const char*>(&header), sizeof header);
    record.resize(sizeof header + (size_t)kept);
    if (kept > 0) rc = file->pMethods->xRead(file, &record[sizeof header], (int)kept, offset);
    if (rc != SQLITE_OK) return rc;
    return WriteAll(fd_, record.data(), record.size()) ? SQLITE_OK : SQLITE_IOERR_WRITE;
}

int UnsyncedRecord::Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
    if (!Open()) return SQLITE_IOERR_WRITE;
    ScopedLock lock(fd_, FileLock::kShared);
    int rc = lock.Locked() ? Keep(file, offset, amount) : SQLITE_IOERR_WRITE;
    return rc == SQLITE_OK ? file->pMethods->xWrite(file, data, amount, offset) : rc;
}

int UnsyncedRecord::Truncate(sqlite3_file* file, sqlite3_int64 size) {
    if (!Open()) return SQLITE_IOERR_TRUNCATE;
    ScopedLock lock(fd_, FileLock::kShared);
    sqlite3_int64 current = 0;
    int rc = lock.Locked() ? file->pMethods->xFileSize(file, &current) : SQLITE_IOERR_TRUNCATE;
    if (rc == SQLITE_OK) rc = Keep(file, size, current - size);
    return rc == SQLITE_OK ? file->pMethods->xTruncate(file, size) : rc;
}

int UnsyncedRecord::Sync(sqlite3_file* file, int flags) {
    if (!Open()) return SQLITE_IOERR_FSYNC;
    ScopedLock lock(fd_, FileLock::kExclusive);
    int rc = lock.Locked() ? file->pMethods->xSync(file, flags) : SQLITE_IOERR_FSYNC;
    if (rc == SQLITE_OK && TruncateFile(fd_, 0) != 0) rc = SQLITE_IOERR_FSYNC;
    return rc;
}

STATUS SyncFile(const std::string& path) {
    if (PowerIsOff()) return Fail(ERR_IO, "flush " + path);
    int error = FlushToDisk(path);
    if (error != 0) return StatusFromErrno(error, "flush " + path);
    error = TruncatePath(UnsyncedPath(path), 0);
    if (error != 0 && error != ENOENT) return StatusFromErrno(error, "flush " + path);
    return NOERROR;
}

}  // namespace nrt

extern "C" {

STATUS LNPUBLIC NRTFaultReboot(void) {
    return nrt::Guarded<STATUS>(ERR_MEMORY, []() -> STATUS {
        nrt::Store::CloseParked();  // their pages would outlive the files' undone writes
        std::error_code error;
        std::vector<std::string> sideFiles;
        for (auto it = std::filesystem::recursive_directory_iterator(nrt::DataDirectory(), error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            if (it->is_regular_file() && nrt::IsSideFile(it->path())) sideFiles.push_back(it->path().string());
        if (error) return nrt::StatusFromErrno(error.value(), "reboot " + nrt::DataDirectory());
        STATUS status = NOERROR;
        for (const std::string& sideFile : sideFiles) {
            STATUS reverted = nrt::Revert(sideFile);
            if (status == NOERROR) status = reverted;
        }
        nrt::RestorePower();
        return status;
    });
}

}  // extern "C"
