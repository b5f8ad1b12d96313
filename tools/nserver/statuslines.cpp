// statuslines.cpp - the status lines as the console shows them (see
// statuslines.h).
#include "statuslines.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "nrt_server.h"

namespace nserver {
namespace {

struct Listed {
    std::string name;
    std::string text;
    pid_t pid;
};

std::vector<Listed> LiveStatusLines() {
    std::vector<Listed> lines;
    NRTEnumStatusLines(
        [](void* context, const char* name, const char* text, DWORD pid) -> STATUS {
            static_cast<std::vector<Listed>*>(context)->push_back({name, text, pid_t(pid)});
            return NOERROR;
        },
        &lines);
    return lines;
}

}  // namespace

std::string TaskListText() {
    std::vector<Listed> lines = LiveStatusLines();
    if (lines.empty()) return "No task is running.";
    size_t width = 20;
    for (const Listed& line : lines) width = std::max(width, line.name.size());
    std::string table = std::string("Task") + std::string(width - 2, ' ') + "Status";
    for (const Listed& line : lines)
        table += "\n" + line.name + std::string(width + 2 - line.name.size(), ' ') + line.text;
    return table;
}

std::map<pid_t, std::string> StatusTextsByProcess() {
    std::map<pid_t, std::string> texts;
    for (const Listed& line : LiveStatusLines()) {
        std::string& text = texts[line.pid];
        if (!line.text.empty()) text += (text.empty() ? "" : "; ") + line.text;
    }
    return texts;
}

}  // namespace nserver
