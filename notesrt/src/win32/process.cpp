// process.cpp - the Windows side of the process calls of platform.h: pid,
// random source, liveness tokens, stop requests from the console, the
// start-up handle and the console's standard output.
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
}

void YieldToOthers() { SwitchToThread(); }

int TakeReadyDescriptor() {
    const char* text = std::getenv("NRT_READY_FD");
    if (text == nullptr) return -1;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    bool valid = *end == '\0' && value != 0;
    _putenv("NRT_READY_FD=");
    SetEnvironmentVariableA("NRT_READY_FD", nullptr);
    HANDLE handle = HANDLE(uintptr_t(value));
    if (!valid || !SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0)) return -1;
    return _open_osfhandle(intptr_t(handle), _O_WRONLY | _O_BINARY);
}

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
