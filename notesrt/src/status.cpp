// status.cpp - error texts (OSLoadString) and the mapping of SQLite and
// errno results to Notes statuses, with the detail of the last failure of
// each thread.
#include "status.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "nrt_env.h"
#include "osmisc.h"
#include "platform.h"

namespace nrt {
namespace {

struct ErrorText {
    STATUS code;
    const char* text;
};

const ErrorText kErrorTexts[] = {
    {ERR_NOEXIST, "File does not exist"},
    {ERR_MEMORY, "Insufficient memory"},
    {ERR_SEGMENT_TOO_BIG, "Memory block is larger than 64 KB"},
    {ERR_INVALID_HANDLE, "Invalid or closed handle"},
    {ERR_IO, "Disk read or write failed"},
    {ERR_DISK_FULL, "The disk is full"},
    {ERR_BAD_PATH, "Path must be relative to the data directory and must not lead outside it"},
    {ERR_BAD_PARAM, "Invalid argument"},
    {ERR_FILE_EXISTS, "File already exists"},
    {ERR_NOT_NSF, "File is not a database"},
    {ERR_CONFLICT, "Document has been modified or corrupted since it was opened"},
    {ERR_ITEM_NOT_FOUND, "Item not found"},
    {ERR_NOTE_DELETED, "Document has been deleted"},
    {ERR_INVALID_NOTE, "Invalid or nonexistent document"},
    {ERR_NSF_INFO_SIZE, "Database information is too long"},
    {ERR_SUMMARY_TOO_BIG, "Document's summary information is too large"},
    {ERR_NO_MODIFIED_NOTES, "No documents have been modified since the specified time"},
    {ERR_NOACCESS, "You are not authorized to perform that operation"},
    {ERR_ALREADY_LOCKED, "Database is already locked by another scan"},
    {ERR_DB_BUSY, "Database is in use by another process; try again later"},
    {ERR_DB_CORRUPT, "Database is damaged"},
    {ERR_DATATYPE, "Item is not of a type this operation accepts"},
    {ERR_TEXT_LIST_TOO_BIG, "Text list is too large"},
    {ERR_DIRECTORY, "Operation is not valid on a directory"},
    {ERR_ITEM_NAME, "Item name is empty or too long"},
    {ERR_NOT_FOUND, "Entry not found in index"},
    {ERR_TDI_CONV, "Unable to interpret time or date"},
    {ERR_TDO_CONV, "Unable to convert time or date to text"},
    {ERR_IFMT, "Invalid international format"},
    {ERR_TFMT, "Invalid time or date format"},
    {ERR_MQ_TIMEOUT, "Timed out waiting for a message"},
    {ERR_DUPLICATE_MQ, "A message queue with that name already exists"},
    {ERR_NO_SUCH_MQ, "No message queue with that name exists"},
    {ERR_MQ_EXCEEDED_QUOTA, "Message queue is full"},
    {ERR_MQ_EMPTY, "Message queue is empty"},
    {ERR_MQ_BFR_TOO_SMALL, "Message is longer than the receive buffer"},
    {ERR_MQ_QUITTING, "Message queue is being closed"},
    {ERR_MQ_NAME, "Message queue name is empty or too long"},
    {ERR_MQ_OTHER_USER, "Message queue belongs to another user"},
    {ERR_FORMULA_COMPILATION, "Formula error"},
    {ERR_ADDIN_INIT, "Notes runtime could not be initialized"},
    {ERR_ADDIN_ARGS, "Command line is not valid"},
};

thread_local std::string t_last_error;

}  // namespace

const char* ErrorTextFor(STATUS status) {
    STATUS code = ERR(status);
    for (const ErrorText& entry : kErrorTexts)
        if (entry.code == code) return entry.text;
    return nullptr;
}

STATUS Fail(STATUS status, const std::string& context) {
    const char* text = ErrorTextFor(status);
    t_last_error = context + ": " + (text ? text : "unknown error");
    return status;
}

void ClearLastError() { t_last_error.clear(); }

STATUS StatusFromSqlite(int rc, const std::string& context, const char* message, int systemError) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return NOERROR;
    int systemErrno = CommonErrnoOfSqlite(systemError);
    STATUS status;
    switch (rc & 0xFF) {
        case SQLITE_NOMEM: status = ERR_MEMORY; break;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: status = ERR_DB_BUSY; break;
        case SQLITE_NOTADB: status = ERR_NOT_NSF; break;
        case SQLITE_CORRUPT: status = ERR_DB_CORRUPT; break;
        case SQLITE_FULL: status = ERR_DISK_FULL; break;
        case SQLITE_CANTOPEN:
            status = systemErrno == EACCES || systemErrno == EPERM ? ERR_NOACCESS : ERR_NOEXIST;
            break;
        case SQLITE_PERM:
        case SQLITE_READONLY:
        case SQLITE_AUTH: status = ERR_NOACCESS; break;
        case SQLITE_TOOBIG: status = ERR_SEGMENT_TOO_BIG; break;
        case SQLITE_MISUSE:
        case SQLITE_RANGE: status = ERR_BAD_PARAM; break;
        default: status = ERR_IO; break;
    }
    t_last_error = context + ": " + (message ? message : sqlite3_errstr(rc));
    // An I/O error's extended code names the operation (read, write, sync,
    // lock, shared memory) and the system error its cause.
    if (status == ERR_IO)
        t_last_error += " (SQLite code " + std::to_string(rc) + ", system error " + std::to_string(systemError) + ")";
    return status;
}

STATUS StatusFromErrno(int err, const std::string& context) {
    STATUS status;
    err = CommonErrno(err);
    switch (err) {
        case 0: return NOERROR;
        case ENOENT:
        case ENOTDIR: status = ERR_NOEXIST; break;
        case ENOMEM: status = ERR_MEMORY; break;
        case EACCES:
        case EPERM:
        case EROFS: status = ERR_NOACCESS; break;
        case ENOSPC: status = ERR_DISK_FULL; break;
        case EEXIST: status = ERR_FILE_EXISTS; break;
        case EISDIR: status = ERR_DIRECTORY; break;
        case ENAMETOOLONG:
        case EINVAL: status = ERR_BAD_PARAM; break;
        default: status = ERR_IO; break;
    }
    t_last_error = context + ": " + std::strerror(err);
    return status;
}

}  // namespace nrt

extern "C" {

WORD LNPUBLIC OSLoadString(HMODULE /*hModule*/, STATUS stringCode, char* retBuffer,
                           WORD bufferLength) {
    const char* text = nrt::ErrorTextFor(stringCode);
    if (retBuffer == nullptr) return 0;
    if (text == nullptr) {
        retBuffer[0] = '\0';
        return 0;
    }
    // The caller passes its buffer's size less one, as documented.
    size_t length = std::strlen(text);
    if (length > bufferLength) length = bufferLength;
    std::memcpy(retBuffer, text, length);
    retBuffer[length] = '\0';
    return (WORD)length;
}

void LNPUBLIC NRTLastErrorDetail(char* retText, WORD bufferLength) {
    if (retText == nullptr || bufferLength == 0) return;
    size_t length = nrt::t_last_error.size();
    if (length > bufferLength - 1u) length = bufferLength - 1u;
    std::memcpy(retText, nrt::t_last_error.data(), length);
    retText[length] = '\0';
}

}  // extern "C"
