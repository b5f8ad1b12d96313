// statusline.cpp - AddInCreateStatusLine, AddInSetStatusLine,
// AddInDeleteStatusLine and the listing that nserver's "show tasks" uses.
#include "statusline.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

namespace nrt {
namespace {

constexpr size_t kMaxTaskName = 79;

struct StatusLine {
    std::string name;
    std::string text;
    std::string file;  // where other processes read it
};

HandleTable<StatusLine>& Lines() {
    static HandleTable<StatusLine> lines;
    return lines;
}

std::string StatusDirectory() { return DataDirectory() + "/.status"; }

// Status texts are shown on one console line.
std::string OneLine(const std::string& text, size_t limit) {
    std::string line = text.substr(0, limit);
    for (char& c : line)
        if ((unsigned char)c < 0x20 || c == 0x7F) c = ' ';
    return line;
}

// Replaces the file in one step so that readers never see half a text.
void Publish(const StatusLine& line) {
    mkdir(StatusDirectory().c_str(), 0755);
    size_t slash = line.file.rfind('/');
    std::string temp = line.file.substr(0, slash + 1) + "." + line.file.substr(slash + 1) + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << line.name << '\n' << line.text;
        if (!out) return;
    }
    std::rename(temp.c_str(), line.file.c_str());
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

bool ReadLine(const std::string& path, const std::string& token, ListedLine* line) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t newline = content.find('\n');
    line->name = content.substr(0, newline);
    line->text = newline == std::string::npos ? "" : content.substr(newline + 1);
    line->pid = DWORD(std::strtoul(token.c_str(), nullptr, 10));
    return true;
}

// Lines of live processes; files of ended processes are removed.
std::vector<ListedLine> LiveLines() {
    std::vector<ListedLine> lines;
    std::string dir = StatusDirectory();
    DIR* handle = opendir(dir.c_str());
    if (handle == nullptr) return lines;
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
        ListedLine line;
        if (file[0] != '.' && ReadLine(path, token, &line)) lines.push_back(line);
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
    created->file = nrt::StatusDirectory() + "/" + nrt::ProcessToken() + "." + std::to_string(handle);
    nrt::Publish(*created);
    return handle;
}

void LNPUBLIC AddInDeleteStatusLine(HANDLE hStatusLine) {
    std::unique_ptr<nrt::StatusLine> line = nrt::Lines().Remove(hStatusLine);
    if (line) unlink(line->file.c_str());
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

