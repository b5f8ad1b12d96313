// addin.cpp - the add-in services of a task: the stop request, the
// schedule timers and the default status line.
//
// The stop request is raised by the platform's stop signals (handlers
// installed by AddInSDKInit, see platform.h) and read by AddInIdle. The timers count from the moment the
// services started; NRTAdvanceAddInClock lets tests move them forward.
//
// Start-up report: a server that starts the task may hand it the write end
// of a pipe in NRT_READY_FD. The first AddInIdle (or AddInShouldTerminate)
// means the task has finished its start-up and entered its main loop: one
// byte is written and the pipe closed. A task that ends before that closes
// it without the byte, which tells the server that the task did not start.
#include "addinrt.h"

#include <unistd.h>

#include <csignal>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "addin.h"
#include "conslog.h"
#include "handles.h"
#include "nrt_server.h"
#include "platform.h"
#include "statsrt.h"
#include "statusline.h"
#include "store.h"

namespace nrt {
namespace {

constexpr size_t kMaxDefaultTaskName = 20;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kDayStartsAtGmt = 2 * 3600;  // AddInDayHasElapsed turns at 02:00 GMT

volatile sig_atomic_t g_stop = 0;

void OnStopSignal() { g_stop = 1; }

struct AddInState {
    std::mutex mutex;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    int64_t advanced_ms = 0;
    int64_t last_elapsed_true_ms = 0;
    bool day_checked = false;
    int64_t last_day = 0;
    HMODULE module = 0;
    HANDLE default_line = 0;
};

AddInState& State() {
    static AddInState state;
    return state;
}

// Caller holds the mutex.
int64_t ElapsedMs(const AddInState& state) {
    auto real = std::chrono::steady_clock::now() - state.start;
    return std::chrono::duration_cast<std::chrono::milliseconds>(real).count() + state.advanced_ms;
}

// Caller holds the mutex. Days counted from 02:00 GMT.
int64_t ServerDay(const AddInState& state) {
    int64_t now = int64_t(std::time(nullptr)) + state.advanced_ms / 1000;
    return (now - kDayStartsAtGmt) / kSecondsPerDay;
}

std::atomic<int> g_readyFd{-1};

// Takes the start-up pipe from the environment; programs the task starts
// do not inherit it.
void TakeReadyPipe() {
    int fd = TakeReadyDescriptor();
    if (fd >= 0) g_readyFd = fd;
}

void ReportReady() {
    int fd = g_readyFd.exchange(-1);
    if (fd < 0) return;
    if (write(fd, "R", 1) < 0) {
        // The server is gone; nothing to tell.
    }
    close(fd);
}

std::string DefaultTaskName(const char* programPath) {
    std::string path = programPath ? programPath : "";
    size_t slash = path.find_last_of('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return base.substr(0, kMaxDefaultTaskName);
}

}  // namespace

void StartAddInServices(const char* programPath) {
    GroupCommitsOfThisProcess();
    GatherConsoleLog(true);
    InstallStopHandlers(OnStopSignal);
    TakeReadyPipe();
    AddInState& state = State();
    HANDLE line = AddInCreateStatusLine(DefaultTaskName(programPath).c_str());
    std::lock_guard<std::mutex> lock(state.mutex);
    state.start = std::chrono::steady_clock::now();
    state.advanced_ms = 0;  // a clock moved forward belongs to the services it moved
    state.last_elapsed_true_ms = 0;
    state.day_checked = false;
    if (state.module == 0) state.module = NextHandleValue();
    state.default_line = line;
}

void StopAddInServices() {
    GatherConsoleLog(false);
    WriteGatheredLog();  // the program may print on its own from here on
    DeleteAllStatusLines();
    DeleteAllStatistics();
    AddInState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.default_line = 0;
}

bool StopRequested() { return g_stop != 0; }

HMODULE ModuleHandle() {
    AddInState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.module == 0) state.module = NextHandleValue();
    return state.module;
}

}  // namespace nrt

extern "C" {

BOOL LNPUBLIC AddInIdle(void) {
    nrt::ReportReady();
    nrt::WriteGatheredLog();  // an idle task's lines are all out
    nrt::YieldToOthers();
    return nrt::StopRequested() ? TRUE : FALSE;
}

BOOL LNPUBLIC AddInShouldTerminate(void) {
    nrt::ReportReady();
    return nrt::StopRequested() ? TRUE : FALSE;
}

BOOL LNPUBLIC AddInSecondsHaveElapsed(DWORD seconds) {
    if (seconds == 0) return TRUE;
    nrt::AddInState& state = nrt::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    int64_t period = int64_t(seconds) * 1000;
    int64_t due = (state.last_elapsed_true_ms / period + 1) * period;
    int64_t elapsed = nrt::ElapsedMs(state);
    if (elapsed < due) return FALSE;
    state.last_elapsed_true_ms = elapsed;
    return TRUE;
}

BOOL LNPUBLIC AddInDayHasElapsed(void) {
    nrt::AddInState& state = nrt::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    int64_t day = nrt::ServerDay(state);
    if (state.day_checked && day <= state.last_day) return FALSE;
    state.day_checked = true;
    state.last_day = day;
    return TRUE;
}

void LNPUBLIC AddInQueryDefaults(HMODULE* rethModule, HANDLE* rethStatusLine) {
    HMODULE module = nrt::ModuleHandle();
    nrt::AddInState& state = nrt::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (rethModule) *rethModule = module;
    if (rethStatusLine) *rethStatusLine = state.default_line;
}

void LNPUBLIC AddInSetDefaults(HMODULE hModule, HANDLE hStatusLine) {
    nrt::AddInState& state = nrt::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (hModule != 0) state.module = hModule;
    state.default_line = hStatusLine;
}

void LNPUBLIC AddInSetStatusText(const char* format, ...) {
    HANDLE line;
    {
        nrt::AddInState& state = nrt::State();
        std::lock_guard<std::mutex> lock(state.mutex);
        line = state.default_line;
    }
    if (line == 0) return;
    va_list args;
    va_start(args, format);
    std::string text = nrt::FormatBounded(format, args);
    va_end(args);
    AddInSetStatusLine(line, "%s", text.c_str());
}

void LNPUBLIC NRTAdvanceAddInClock(DWORD milliseconds) {
    nrt::AddInState& state = nrt::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.advanced_ms += milliseconds;
}

void LNPUBLIC NRTRequestStop(BOOL stop) { nrt::g_stop = stop ? 1 : 0; }

}  // extern "C"
