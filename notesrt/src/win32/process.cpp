// process.cpp - the Windows side of the process calls of platform.h: pid,
// random source, liveness tokens, stop requests from the console, the
// start-up handle and the console's standard output.
//
// A server asks a task to stop by closing its end of the stop pipe whose
// handle the task finds in NRT_STOP_FD; a thread waits for that end.
//
// A liveness token is the name of a mutex the process creates and never
// closes: Windows removes a named object with the last handle to it, so
// the name vanishes with the process, also when it is killed.
#define _CRT_RAND_S  // rand_s, the system's random source
#include <stdlib.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "platform.h"

namespace nrt {
namespace {

std::string TokenObjectName(const std::string& token) { return "zelrep-live-" + token; }

void (*g_onStop)() = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            g_onStop();
            return TRUE;
        default: return FALSE;
    }
}

// An inherited handle whose value the environment variable holds, taken
// out of the environment and no longer inherited; null when there is none.
HANDLE TakeInheritedHandle(const char* variable) {
    const char* text = std::getenv(variable);
    if (text == nullptr) return nullptr;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    bool valid = *end == '\0' && value != 0;
    _putenv((std::string(variable) + "=").c_str());
    SetEnvironmentVariableA(variable, nullptr);
    HANDLE handle = HANDLE(uintptr_t(value));
    return valid && SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0) ? handle : nullptr;
}

// Reads the stop pipe until the server closes its end.
void WatchStopPipe(HANDLE pipe) {
    char unused[64];
    DWORD got = 0;
    while (ReadFile(pipe, unused, sizeof(unused), &got, nullptr)) {
    }
    CloseHandle(pipe);
    g_onStop();
}

}  // namespace

unsigned long ProcessId() { return GetCurrentProcessId(); }

uint64_t RandomNumber() {
    unsigned int low = 0, high = 0;
    rand_s(&low);
    rand_s(&high);
    return (uint64_t(high) << 32) | low;
}

std::string ProcessToken() {
    static std::once_flag made;
    static std::string token;
    std::call_once(made, [] {
        char text[48];
        std::snprintf(text, sizeof(text), "%lu-%016llx", ProcessId(), (unsigned long long)RandomNumber());
        token = text;
        CreateMutexA(nullptr, FALSE, TokenObjectName(token).c_str());
    });
    return token;
}

bool TokenAlive(const std::string& token) {
    HANDLE held = OpenMutexA(SYNCHRONIZE, FALSE, TokenObjectName(token).c_str());
    if (held == nullptr) return false;
    CloseHandle(held);
    return true;
}

void InstallStopHandlers(void (*onStop)()) {
    g_onStop = onStop;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    HANDLE stopPipe = TakeInheritedHandle("NRT_STOP_FD");
    if (stopPipe == nullptr) return;
    try {
        std::thread(WatchStopPipe, stopPipe).detach();
    } catch (...) {
        CloseHandle(stopPipe);
    }
}

void YieldToOthers() { SwitchToThread(); }

int TakeReadyDescriptor() {
    HANDLE handle = TakeInheritedHandle("NRT_READY_FD");
    return handle == nullptr ? -1 : _open_osfhandle(intptr_t(handle), _O_WRONLY | _O_BINARY);
}

void AtFork(void (*)(), void (*)(), void (*)()) {}

std::thread StartQuietThread(std::function<void()> body) {
    try {
        return std::thread(std::move(body));
    } catch (...) {
        return std::thread();
    }
}

bool StdoutIsPipe() { return GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_PIPE; }

// The C library here tells nobody what a stream holds.
bool MayHoldOutput(FILE*) { return true; }

}  // namespace nrt
