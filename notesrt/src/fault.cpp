// fault.cpp - the arming of fault injection: per-kind countdowns that make
// a chosen run of calls fail, the power-cut state, and whether writes not
// yet synced are recorded. The state is process-wide and guarded by one
// mutex; the NRT_FAULT environment variable arms it at the first use. What
// a fault does to the files is the storage's file layer's (walvfs.cpp).
#include "fault.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>

#include "nrt_fault.h"
#include "nsferr.h"

namespace nrt {
namespace {

struct KindState {
    DWORD countdown = 0;  // calls until the run starts (0: not armed)
    DWORD run = 1;        // calls the run lasts (0: without end)
    DWORD remaining = 0;  // calls of the run still to fail
    bool forever = false;
    STATUS status = NOERROR;
};

struct FaultState {
    KindState kinds[NRT_FAULT_KINDS];
    bool keepUnsynced = false;
    bool powerOff = false;
};

std::mutex g_mutex;
FaultState g_state;
std::once_flag g_env_once;
// False until something is armed: the file layer asks at every read and
// write, and then pays no more than this load.
std::atomic<bool> g_armed{false};

int KindFromName(const std::string& name) {
    static const char* const kNames[NRT_FAULT_KINDS] = {"alloc",    "open",  "read",     "commit",
                                                        "logwrite", "write", "diskfull", "powercut"};
    for (int k = 0; k < NRT_FAULT_KINDS; ++k)
        if (name == kNames[k]) return k;
    return -1;
}

STATUS DefaultStatus(int kind) {
    if (kind == NRT_FAULT_ALLOC) return ERR_MEMORY;
    return kind == NRT_FAULT_DISKFULL ? ERR_DISK_FULL : ERR_IO;
}

// Caller holds g_mutex.
void Arm(int kind, DWORD n, DWORD count, STATUS status) {
    KindState& state = g_state.kinds[kind];
    state = KindState();
    state.countdown = n;
    state.run = count;
    state.status = status;
    if (kind == NRT_FAULT_POWERCUT) g_state.keepUnsynced = true;
    g_armed = true;
}

// One "kind:n[+count][:status]".
void ArmOne(const std::string& text) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) return;
    int kind = KindFromName(text.substr(0, colon));
    if (kind < 0) return;
    char* end = nullptr;
    unsigned long n = std::strtoul(text.c_str() + colon + 1, &end, 10);
    unsigned long count = 1;
    if (end != nullptr && *end == '+') count = std::strtoul(end + 1, &end, 10);
    STATUS status = DefaultStatus(kind);
    if (end != nullptr && *end == ':') status = (STATUS)std::strtoul(end + 1, nullptr, 0);
    Arm(kind, (DWORD)n, (DWORD)count, status);
}

void ArmFromEnvironment() {
    const char* setting = std::getenv("NRT_FAULT");
    if (setting == nullptr || *setting == '\0') return;
    std::istringstream list(setting);
    std::string one;
    while (std::getline(list, one, ',')) ArmOne(one);
}

void ArmFromEnvironmentOnce() {
    std::call_once(g_env_once, [] {
        std::lock_guard<std::mutex> lock(g_mutex);
        ArmFromEnvironment();
    });
}

bool Hit(KindState& state, STATUS* status) {
    if (state.forever || state.remaining > 0) {
        if (!state.forever) --state.remaining;
        *status = state.status;
        return true;
    }
    if (state.countdown == 0 || --state.countdown != 0) return false;
    if (state.run == 0)
        state.forever = true;
    else
        state.remaining = state.run - 1;
    *status = state.status;
    return true;
}

}  // namespace

bool FaultHit(int kind, STATUS* status) {
    if (kind < 0 || kind >= NRT_FAULT_KINDS) return false;
    ArmFromEnvironmentOnce();
    if (!g_armed) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!Hit(g_state.kinds[kind], status)) return false;
    if (kind == NRT_FAULT_POWERCUT) g_state.powerOff = true;
    return true;
}

bool PowerIsOff() {
    ArmFromEnvironmentOnce();
    if (!g_armed) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_state.powerOff;
}

bool KeepsUnsynced() {
    ArmFromEnvironmentOnce();
    if (!g_armed) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_state.keepUnsynced;
}

void RestorePower() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.powerOff = false;
    g_state.kinds[NRT_FAULT_POWERCUT] = KindState();  // a cut still to come is off too
}

}  // namespace nrt

extern "C" {

void LNPUBLIC NRTFaultFailRun(int kind, DWORD n, DWORD count, STATUS status) {
    if (kind < 0 || kind >= NRT_FAULT_KINDS) return;
    nrt::ArmFromEnvironmentOnce();
    std::lock_guard<std::mutex> lock(nrt::g_mutex);
    nrt::Arm(kind, n, count, status);
}

void LNPUBLIC NRTFaultFailNth(int kind, DWORD n, STATUS status) { NRTFaultFailRun(kind, n, 1, status); }

void LNPUBLIC NRTFaultFailAlways(int kind, STATUS status) {
    NRTFaultFailRun(kind, status != NOERROR ? 1 : 0, 0, status);
}

void LNPUBLIC NRTFaultReset(void) {
    nrt::ArmFromEnvironmentOnce();
    std::lock_guard<std::mutex> lock(nrt::g_mutex);
    nrt::g_state = nrt::FaultState();
    nrt::g_armed = false;  // the hooks are back to their one load
}

void LNPUBLIC NRTFaultKeepUnsynced(BOOL keep) {
    nrt::ArmFromEnvironmentOnce();
    std::lock_guard<std::mutex> lock(nrt::g_mutex);
    nrt::g_state.keepUnsynced = keep != FALSE;
    nrt::g_armed = true;
}

}  // extern "C"
