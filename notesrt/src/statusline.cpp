// statusline.cpp - AddInCreateStatusLine, AddInSetStatusLine,
// AddInDeleteStatusLine and the listing that nserver's "show tasks" uses.
#include "statusline.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "addin.h"
#include "conslog.h"
#include "env.h"
#include "handles.h"
#include "localsock.h"
#include "nrt_server.h"
#include "osfiles.h"

namespace nrt {
namespace {

constexpr size_t kMaxTaskName = 79;

struct StatusLine {
    std::string name;
    std::string text;
    std::string dataDir;  // where other processes read it: DATA/.notesrt/status/file
    std::string file;
};

HandleTable<StatusLine>& Lines() {
    static HandleTable<StatusLine> lines;
    return lines;
}

// The status directory of dataDir, or -1.
int StatusDirectory(const std::string& dataDir, bool create) {
    int fd = -1;
    return OpenPrivateDirectory(dataDir, "status", create, &fd) == NOERROR ? fd : -1;
}

// Status texts are shown on one console line.
std::string OneLine(const std::string& text, size_t limit) {
    std::string line = text.substr(0, limit);
    for (char& c : line)
        if ((unsigned char)c < 0x20 || c == 0x7F) c = ' ';
    return line;
}

// Replaces the file in one step so that readers never see half a text.
void Publish(const StatusLine& line) {
    int dir = StatusDirectory(line.dataDir, true);
    if (dir < 0) return;
    std::string temp = "." + line.file + ".tmp";
    std::string content = line.name + '\n' + line.text;
    int fd = CreateInDirectory(dir, temp);
    bool written = fd >= 0 && write(fd, content.data(), content.size()) == ssize_t(content.size());
    if (fd >= 0) close(fd);
    if (written) {
        GiveToServerUser(line.dataDir, dir, temp);
        renameat(dir, temp.c_str(), dir, line.file.c_str());
    } else if (fd >= 0) {
        unlinkat(dir, temp.c_str(), 0);
    }
    close(dir);
}

struct ListedLine {
    std::string name;
    std::string text;
    DWORD pid;
};

// "<pid>-<hex>.<handle>" or ".<pid>-<hex>.<handle>.tmp": the owner's token.
std::string TokenOfFile(const std::string& file) {
    std::string name = file[0] == '.' ? file.substr(1) : file;
    return name.substr(0, name.find('.'));
}

bool ReadLine(int dir, const std::string& file, const std::string& token, ListedLine* line) {
    int fd = openat(dir, file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    std::string content;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof(buffer))) > 0;) content.append(buffer, size_t(n));
    close(fd);
    size_t newline = content.find('\n');
    line->name = content.substr(0, newline);
    line->text = newline == std::string::npos ? "" : content.substr(newline + 1);
    line->pid = DWORD(std::strtoul(token.c_str(), nullptr, 10));
    return true;
}

// Lines of live processes; files of ended processes are removed.
std::vector<ListedLine> LiveLines() {
    std::vector<ListedLine> lines;
    int dir = StatusDirectory(DataDirectory(), false);
    DIR* handle = dir >= 0 ? fdopendir(dir) : nullptr;
    if (handle == nullptr) {
        if (dir >= 0) close(dir);
        return lines;
    }
    std::map<std::string, bool> alive;
    while (struct dirent* entry = readdir(handle)) {
        std::string file = entry->d_name;
        if (file == "." || file == "..") continue;
        std::string token = TokenOfFile(file);
        auto known = alive.find(token);
        if (known == alive.end()) known = alive.emplace(token, TokenAlive(token)).first;
        if (!known->second) {
            unlinkat(dir, file.c_str(), 0);
            continue;
        }
        ListedLine line;
        if (file[0] != '.' && ReadLine(dir, file, token, &line)) lines.push_back(line);
    }
    closedir(handle);
    std::sort(lines.begin(), lines.end(), [](const ListedLine& a, const ListedLine& b) {
        return a.name != b.name ? a.name < b.name : a.pid < b.pid;
    });
    return lines;
}

}  // namespace

void DeleteAllStatusLines() {
    std::vector<uint32_t> handles;
    Lines().ForEach([&](uint32_t handle, const StatusLine&) { handles.push_back(handle); });
    for (uint32_t handle : handles) AddInDeleteStatusLine(handle);
}

}  // namespace nrt

extern "C" {

HANDLE LNPUBLIC AddInCreateStatusLine(const char* taskName) {
    auto line = std::make_unique<nrt::StatusLine>();
    line->name = nrt::OneLine(taskName ? taskName : "", nrt::kMaxTaskName);
    nrt::StatusLine* created = line.get();
    HANDLE handle = nrt::Lines().Add(std::move(line));
    created->dataDir = nrt::DataDirectory();
    created->file = nrt::ProcessToken() + "." + std::to_string(handle);
    nrt::Publish(*created);
    return handle;
}

void LNPUBLIC AddInDeleteStatusLine(HANDLE hStatusLine) {
    std::unique_ptr<nrt::StatusLine> line = nrt::Lines().Remove(hStatusLine);
    int dir = line ? nrt::StatusDirectory(line->dataDir, false) : -1;
    if (dir < 0) return;
    unlinkat(dir, line->file.c_str(), 0);
    close(dir);
}

void LNPUBLIC AddInSetStatusLine(HANDLE hStatusLine, const char* format, ...) {
    nrt::StatusLine* line = nrt::Lines().Get(hStatusLine);
    if (line == nullptr) return;
    va_list args;
    va_start(args, format);
    line->text = nrt::OneLine(nrt::FormatBounded(format, args), nrt::kMaxFormattedText);
    va_end(args);
    nrt::Publish(*line);
}

BOOL LNPUBLIC NRTGetStatusLineText(HANDLE hStatusLine, char* retText, WORD bufferLength) {
    if (retText == nullptr || bufferLength == 0) return FALSE;
    nrt::StatusLine* line = nrt::Lines().Get(hStatusLine);
    std::string text = line ? line->text : "";
    size_t length = std::min(text.size(), size_t(bufferLength - 1));
    std::memcpy(retText, text.data(), length);
    retText[length] = '\0';
    return line != nullptr;
}

STATUS LNPUBLIC NRTEnumStatusLines(NRTSTATUSLINEPROC callback, void* context) {
    if (callback == nullptr) return ERR_BAD_PARAM;
    for (const nrt::ListedLine& line : nrt::LiveLines()) {
        STATUS status = callback(context, line.name.c_str(), line.text.c_str(), line.pid);
        if (status != NOERROR) return status;
    }
    return NOERROR;
}

}  // extern "C"

