// process_win32.cpp - task processes on Windows: CreateProcess with
// anonymous pipes for standard output, standard error and the start-up
// report, whose console ends are not inherited. Each task gets a process
// group of its own (a Ctrl-C at the console's terminal reaches only the
// console) and the read end of a stop pipe, whose handle it finds in
// NRT_STOP_FD: the console asks the task to stop by closing its end, and
// the runtime turns the end of that pipe into AddInIdle. Should the console
// itself end, the pipe closes with it, so the tasks stop as when asked. A
// child's handles are kept until the child is reaped.
#include "process.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace nserver {
namespace {

// The status a killed task ends with (that of a console's break).
constexpr UINT kKilledStatus = 0xC000013A;

struct Child {
    HANDLE process;
    HANDLE stop;  // the console's end of the stop pipe, until closed
};

std::map<pid_t, Child>& Children() {
    static std::map<pid_t, Child> children;
    return children;
}

HANDLE Handle(PipeEnd pipe) { return reinterpret_cast<HANDLE>(pipe); }
PipeEnd End(HANDLE handle) { return reinterpret_cast<PipeEnd>(handle); }

std::string ErrorText(DWORD code) {
    char text[512] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  text, sizeof(text), nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        text[--length] = '\0';
    return length > 0 ? text : "error " + std::to_string(code);
}

// An argument quoted as the C runtime splits a command line: backslashes
// are doubled only before a quote and at the end.
std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string CommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& arg : argv) line += (line.empty() ? "" : " ") + Quoted(arg);
    return line;
}

bool IsNamed(const char* entry, const char* name) {
    size_t length = std::strlen(name);
    return _strnicmp(entry, name, length) == 0 && entry[length] == '=';
}

std::string HandleText(HANDLE handle) { return std::to_string(reinterpret_cast<uintptr_t>(handle)); }

// The console's environment with the task's data directory, start-up pipe
// and stop pipe, as the block CreateProcess takes.
std::string Environment(const std::string& dataDir, HANDLE ready, HANDLE stop) {
    std::string block;
    char* all = GetEnvironmentStringsA();
    for (const char* entry = all; entry != nullptr && *entry != '\0'; entry += std::strlen(entry) + 1) {
        if (IsNamed(entry, "NOTES_DATA_DIR") || IsNamed(entry, "NRT_READY_FD") || IsNamed(entry, "NRT_STOP_FD"))
            continue;
        block.append(entry, std::strlen(entry) + 1);
    }
    if (all != nullptr) FreeEnvironmentStringsA(all);
    block += "NOTES_DATA_DIR=" + dataDir + '\0';
    block += "NRT_READY_FD=" + HandleText(ready) + '\0';
    block += "NRT_STOP_FD=" + HandleText(stop) + '\0';
    return block + '\0';
}

// A pipe whose child end is inherited and whose console end is not.
bool MakePipe(bool childWrites, HANDLE* consoleEnd, HANDLE* childEnd) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) return false;
    *consoleEnd = childWrites ? read : write;
    *childEnd = childWrites ? write : read;
    SetHandleInformation(*consoleEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

// The program file: the name itself when it ends in ".exe", else with it.
std::string ProgramPath(const std::string& path) {
    bool exe = path.size() > 4 && _stricmp(path.c_str() + path.size() - 4, ".exe") == 0;
    return exe ? path : path + ".exe";
}

}  // namespace

bool IsProgramFile(const std::string& path) {
    DWORD attributes = GetFileAttributesA(ProgramPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool StartChild(const std::string& path, const std::vector<std::string>& argv, const std::string& dataDir,
                pid_t* pid, ChildPipes* pipes, std::string* error) {
    HANDLE out = nullptr, err = nullptr, ready = nullptr, stop = nullptr, childOut = nullptr, childErr = nullptr,
           childReady = nullptr, childStop = nullptr;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE empty = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                               0, nullptr);
    if (!MakePipe(true, &out, &childOut) || !MakePipe(true, &err, &childErr) ||
        !MakePipe(true, &ready, &childReady) || !MakePipe(false, &stop, &childStop) ||
        empty == INVALID_HANDLE_VALUE) {
        *error = "cannot make pipes: " + ErrorText(GetLastError());
        for (HANDLE handle : {out, err, ready, stop, childOut, childErr, childReady, childStop, empty})
            if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        return false;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = empty;
    startup.hStdOutput = childOut;
    startup.hStdError = childErr;
    std::string commandLine = CommandLine(argv);
    std::string environment = Environment(dataDir, childReady, childStop);
    PROCESS_INFORMATION started = {};
    BOOL ran = CreateProcessA(ProgramPath(path).c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                              CREATE_NEW_PROCESS_GROUP, &environment[0], dataDir.c_str(), &startup, &started);
    DWORD failure = GetLastError();
    for (HANDLE handle : {childOut, childErr, childReady, childStop, empty}) CloseHandle(handle);
    if (!ran) {
        for (HANDLE handle : {out, err, ready, stop}) CloseHandle(handle);
        *error = ErrorText(failure);
        return false;
    }
    CloseHandle(started.hThread);
    *pid = pid_t(started.dwProcessId);
    Children()[*pid] = Child{started.hProcess, stop};
    *pipes = ChildPipes{End(out), End(err), End(ready)};
    return true;
}

ReadResult ReadPipe(PipeEnd pipe, char* buffer, size_t size, bool wait, size_t* length) {
    if (!wait) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(Handle(pipe), nullptr, 0, nullptr, &waiting, nullptr)) return ReadResult::kEnd;
        if (waiting == 0) return ReadResult::kNothing;
    }
    DWORD read = 0;
    if (!ReadFile(Handle(pipe), buffer, DWORD(size), &read, nullptr) || read == 0) return ReadResult::kEnd;
    *length = read;
    return ReadResult::kData;
}

bool HasInput(PipeEnd pipe) {
    DWORD waiting = 0;
    return !PeekNamedPipe(Handle(pipe), nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0;
}

void ClosePipe(PipeEnd pipe) { CloseHandle(Handle(pipe)); }

bool ReapChild(pid_t* pid, int* status) {
    for (auto it = Children().begin(); it != Children().end(); ++it) {
        Child& child = it->second;
        if (WaitForSingleObject(child.process, 0) != WAIT_OBJECT_0) continue;
        DWORD code = 0;
        GetExitCodeProcess(child.process, &code);
        CloseHandle(child.process);
        if (child.stop != nullptr) CloseHandle(child.stop);
        *pid = it->first;
        *status = int(code);
        Children().erase(it);
        return true;
    }
    return false;
}

std::string EndDescription(int status) {
    DWORD code = DWORD(status);
    if (code == kKilledStatus) return "when killed";
    if (code < 0xC0000000) return "with status " + std::to_string(code);
    char text[32];
    std::snprintf(text, sizeof(text), "by exception 0x%08lX", (unsigned long)code);
    return text;
}

void AskChildToStop(pid_t pid) {
    auto found = Children().find(pid);
    if (found == Children().end() || found->second.stop == nullptr) return;
    CloseHandle(found->second.stop);
    found->second.stop = nullptr;
}

void KillChild(pid_t pid) {
    auto found = Children().find(pid);
    if (found != Children().end()) TerminateProcess(found->second.process, kKilledStatus);
}

}  // namespace nserver
