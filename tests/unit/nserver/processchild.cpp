// processchild.cpp - the program process_test starts as a task. Its first
// argument says what it does:
//   report ARGS...  prints its directory, NOTES_DATA_DIR and each argument
//                   on standard output and a line on standard error, sends
//                   the start-up report, and exits with status 3;
//   wait            sends the start-up report and waits for the stop
//                   request, then exits with status 7;
//   stubborn        sends the start-up report and ignores the stop request.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

volatile bool g_stopAsked = false;

void SendStartUpReport() {
    const char* pipe = std::getenv("NRT_READY_FD");
    if (pipe == nullptr) return;
    char byte = 1;
#ifdef _WIN32
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(std::strtoull(pipe, nullptr, 10)), &byte, 1, &written, nullptr);
#else
    if (write(std::atoi(pipe), &byte, 1) != 1) std::perror("start-up report");
#endif
}

#ifdef _WIN32
// The stop request is the end of the stop pipe.
void WatchStopRequest(bool obey) {
    const char* pipe = std::getenv("NRT_STOP_FD");
    if (!obey || pipe == nullptr) return;
    HANDLE stop = reinterpret_cast<HANDLE>(std::strtoull(pipe, nullptr, 10));
    std::thread([stop] {
        char byte;
        DWORD read = 0;
        while (ReadFile(stop, &byte, 1, &read, nullptr) && read > 0) {
        }
        g_stopAsked = true;
    }).detach();
}
#else
void OnTerm(int) { g_stopAsked = true; }
void WatchStopRequest(bool obey) { signal(SIGTERM, obey ? OnTerm : SIG_IGN); }
#endif

}  // namespace

int main(int argc, char* argv[]) {
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "report") == 0) {
        std::printf("cwd=%s\n", std::filesystem::current_path().string().c_str());
        const char* data = std::getenv("NOTES_DATA_DIR");
        std::printf("data=%s\n", data ? data : "");
        for (int i = 2; i < argc; ++i) std::printf("arg=%s\n", argv[i]);
        std::fflush(stdout);
        std::fprintf(stderr, "a line on standard error\n");
        SendStartUpReport();
        return 3;
    }
    bool obey = std::strcmp(mode, "wait") == 0;
    if (!obey && std::strcmp(mode, "stubborn") != 0) return 2;
    WatchStopRequest(obey);
    SendStartUpReport();
    while (!g_stopAsked) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 7;
}
