// statusline.cpp - AddInCreateStatusLine, AddInSetStatusLine,
// AddInDeleteStatusLine and the listing that nserver's "show tasks" uses.
#include "statusline.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "addin.h"
#include "conslog.h"
#include "handles.h"
#include "nrt_server.h"
#include "procfiles.h"

namespace nrt {
namespace {

constexpr size_t kMaxTaskName = 79;

struct StatusLine {
    std::string name;
    std::string text;
    OwnFile file;  // where other processes read it
};

HandleTable<StatusLine>& Lines() {
    static HandleTable<StatusLine> lines;
    return lines;
}

constexpr const char* kStatusPart = "status";

struct ListedLine {
    std::string name;
    std::string text;
    DWORD pid;
};

// A status line's file: the task name on the first line, the text after it.
void Publish(const StatusLine& line) { ReplaceOwnFile(line.file, line.name + '\n' + line.text); }

ListedLine ParseLine(const LiveFile& file) {
    size_t newline = file.content.find('\n');
    std::string text = newline == std::string::npos ? "" : file.content.substr(newline + 1);
    return ListedLine{file.content.substr(0, newline), text, file.pid};
}

// Lines of live processes; files of ended processes are removed.
std::vector<ListedLine> LiveLines() {
    std::vector<ListedLine> lines;
    for (const LiveFile& file : LiveFiles(kStatusPart)) lines.push_back(ParseLine(file));
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
    created->file = nrt::NewOwnFile(nrt::kStatusPart, std::to_string(handle));
    nrt::Publish(*created);
    return handle;
}

void LNPUBLIC AddInDeleteStatusLine(HANDLE hStatusLine) {
    std::unique_ptr<nrt::StatusLine> line = nrt::Lines().Remove(hStatusLine);
    if (line) nrt::RemoveOwnFile(line->file);
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

