// consoleos_win32.cpp - the console's operating-system side on Windows (see
// consoleos.h). Anonymous pipes cannot be waited on together with anything
// else, so Wait looks at each source in turn and sleeps a little between
// rounds: a task's pipe is ready when PeekNamedPipe sees bytes or the
// pipe's end, standard input when its reader thread has read something
// (a console, a pipe or a file alike, with no line editing of the
// console's own), standard output always (its writes may block). The break
// events of the Windows console are the stop requests; a task's end is
// noticed by the console's look at its tasks after each wait, which comes
// at least every kLongestWaitMs.
#include "consoleos.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

namespace nserver {
namespace {

constexpr DWORD kRoundMs = 10;
constexpr DWORD kLongestWaitMs = 100;

std::mutex g_lock;
std::string g_stopRequests;  // guarded by g_lock
std::string g_input;         // read from standard input, not yet taken; guarded by g_lock
bool g_inputEnded = false;   // guarded by g_lock

BOOL WINAPI OnConsoleEvent(DWORD event) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_stopRequests += event == CTRL_C_EVENT ? 'i' : 'q';
    return TRUE;
}

void ReadStandardInput() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[4096];
    for (;;) {
        DWORD read = 0;
        bool got = ReadFile(in, buffer, sizeof(buffer), &read, nullptr) && read > 0;
        std::lock_guard<std::mutex> hold(g_lock);
        if (!got) {
            g_inputEnded = true;
            return;
        }
        g_input.append(buffer, read);
    }
}

// The reader thread starts with the first look at standard input, so a
// service, which never reads it, has none.
bool InputWaits() {
    static std::once_flag started;
    std::call_once(started, [] { std::thread(ReadStandardInput).detach(); });
    std::lock_guard<std::mutex> hold(g_lock);
    return !g_input.empty() || g_inputEnded;
}

short PipeReadiness(intptr_t pipe) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(reinterpret_cast<HANDLE>(pipe), nullptr, 0, nullptr, &waiting, nullptr)) return kEnded;
    return waiting > 0 ? kReadable : 0;
}

short Readiness(const Watch& watch) {
    switch (watch.source) {
    case Source::kStopRequests: {
        std::lock_guard<std::mutex> hold(g_lock);
        return g_stopRequests.empty() ? 0 : kReadable;
    }
    case Source::kInput:
        return InputWaits() ? kReadable : 0;
    case Source::kOutput:
        return kWritable;
    case Source::kTaskPipe:
        return PipeReadiness(watch.handle);
    default:
        return 0;  // no callers on Windows
    }
}

}  // namespace

void InstallStopRequests(bool /*service*/) { SetConsoleCtrlHandler(&OnConsoleEvent, TRUE); }

std::string TakeStopRequests() {
    std::lock_guard<std::mutex> hold(g_lock);
    std::string requests;
    requests.swap(g_stopRequests);
    return requests;
}

void Wait(std::vector<Watch>* watches, int timeoutMs) {
    DWORD limit = timeoutMs < 0 ? kLongestWaitMs : std::min<DWORD>(DWORD(timeoutMs), kLongestWaitMs);
    DWORD start = GetTickCount();
    for (;;) {
        bool any = false;
        for (Watch& watch : *watches) {
            watch.ready = short(Readiness(watch) & (watch.wanted | kEnded));
            any = any || watch.ready != 0;
        }
        if (any || GetTickCount() - start >= limit) return;
        Sleep(kRoundMs);
    }
}

bool InputIsTerminal() { return false; }

long ReadInput(char* buffer, size_t size) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_input.empty()) return g_inputEnded ? 0 : -1;
    size_t length = std::min(size, g_input.size());
    std::memcpy(buffer, g_input.data(), length);
    g_input.erase(0, length);
    return long(length);
}

size_t OutputChunk() { return 0; }

long WriteOutput(const char* data, size_t size) {
    DWORD written = 0;
    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data, DWORD(size), &written, nullptr) || written == 0) return -1;
    return long(written);
}

std::string ProgramDirectory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) return ".";
    std::string exe(path, length);
    return exe.substr(0, exe.find_last_of("\\/"));
}

}  // namespace nserver
