// process_win32.cpp - task processes on Windows: CreateProcess with
// anonymous pipes for standard output, standard error and the start-up
// report, whose console ends are not inherited. Each task gets a process
// group of its own, so that the console break event sent to that group
// reaches only the task: that is the stop request, which the runtime turns
// into AddInIdle. The tasks are kept in a job object that ends them should
// the console itself end without stopping them. A child's handle is kept
// until the child is reaped.
#include "process.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace nserver {
namespace {

// The status a killed task ends with.
constexpr UINT kKilledStatus = 0xC000013A;

std::map<pid_t, HANDLE>& Children() {
    static std::map<pid_t, HANDLE> children;
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

// The console's environment with the task's data directory and start-up
// pipe, as the block CreateProcess takes.
std::string Environment(const std::string& dataDir, HANDLE ready) {
    std::string block;
    char* all = GetEnvironmentStringsA();
    for (const char* entry = all; entry != nullptr && *entry != '\0'; entry += std::strlen(entry) + 1) {
        if (IsNamed(entry, "NOTES_DATA_DIR") || IsNamed(entry, "NRT_READY_FD")) continue;
        block.append(entry, std::strlen(entry) + 1);
    }
    if (all != nullptr) FreeEnvironmentStringsA(all);
    block += "NOTES_DATA_DIR=" + dataDir + '\0';
    block += "NRT_READY_FD=" + std::to_string(reinterpret_cast<uintptr_t>(ready)) + '\0';
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

// The job whose closing, when the console ends, ends every task in it.
HANDLE TaskJob() {
    static HANDLE job = [] {
        HANDLE made = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (made != nullptr)
            SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
        return made;
    }();
    return job;
}

}  // namespace

bool IsProgramFile(const std::string& path) {
    DWORD attributes = GetFileAttributesA(ProgramPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool StartChild(const std::string& path, const std::vector<std::string>& argv, const std::string& dataDir,
                pid_t* pid, ChildPipes* pipes, std::string* error) {
    HANDLE out = nullptr, err = nullptr, ready = nullptr, childOut = nullptr, childErr = nullptr,
           childReady = nullptr;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE empty = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                               0, nullptr);
    if (!MakePipe(true, &out, &childOut) || !MakePipe(true, &err, &childErr) ||
        !MakePipe(true, &ready, &childReady) || empty == INVALID_HANDLE_VALUE) {
        *error = "cannot make pipes: " + ErrorText(GetLastError());
        for (HANDLE handle : {out, err, ready, childOut, childErr, childReady, empty})
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
    std::string environment = Environment(dataDir, childReady);
    PROCESS_INFORMATION started = {};
    BOOL ran = CreateProcessA(ProgramPath(path).c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                              CREATE_NEW_PROCESS_GROUP, &environment[0], dataDir.c_str(), &startup, &started);
    DWORD failure = GetLastError();
    for (HANDLE handle : {childOut, childErr, childReady, empty}) CloseHandle(handle);
    if (!ran) {
        for (HANDLE handle : {out, err, ready}) CloseHandle(handle);
        *error = ErrorText(failure);
        return false;
    }
    CloseHandle(started.hThread);
    if (TaskJob() != nullptr) AssignProcessToJobObject(TaskJob(), started.hProcess);
    *pid = pid_t(started.dwProcessId);
    Children()[*pid] = started.hProcess;
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

void ClosePipe(PipeEnd pipe) { CloseHandle(Handle(pipe)); }

bool ReapChild(pid_t* pid, int* status) {
    for (auto it = Children().begin(); it != Children().end(); ++it) {
        if (WaitForSingleObject(it->second, 0) != WAIT_OBJECT_0) continue;
        DWORD code = 0;
        GetExitCodeProcess(it->second, &code);
        CloseHandle(it->second);
        *pid = it->first;
        *status = int(code);
        Children().erase(it);
        return true;
    }
    return false;
}

std::string EndDescription(int status) {
    DWORD code = DWORD(status);
    if (code < 0xC0000000) return "with status " + std::to_string(code);
    char text[32];
    std::snprintf(text, sizeof(text), "by exception 0x%08lX", (unsigned long)code);
    return text;
}

void AskChildToStop(pid_t pid) { GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, DWORD(pid)); }

void KillChild(pid_t pid) {
    auto found = Children().find(pid);
    if (found != Children().end()) TerminateProcess(found->second, kKilledStatus);
}

}  // namespace nserver
