// fault.cpp - per-kind countdowns that make a chosen call fail. The state
// is process-wide and guarded by one mutex; the NRT_FAULT environment
// variable arms it at the first use.
#include "fault.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "nrt_fault.h"

namespace nrt {
namespace {

struct FaultState {
    DWORD countdown[NRT_FAULT_KINDS] = {};
    bool always[NRT_FAULT_KINDS] = {};
    STATUS status[NRT_FAULT_KINDS] = {};
};

std::mutex g_mutex;
FaultState g_state;
std::once_flag g_env_once;

int KindFromName(const std::string& name) {
    static const char* const kNames[NRT_FAULT_KINDS] = {"alloc", "open", "read", "commit", "logwrite"};
    for (int k = 0; k < NRT_FAULT_KINDS; ++k)
        if (name == kNames[k]) return k;
    return -1;
}

STATUS DefaultStatus(int kind) {
    return kind == NRT_FAULT_ALLOC ? ERR_MEMORY : ERR_IO;
}

// NRT_FAULT="kind:n[:status]"
void ArmFromEnvironment() {
    const char* setting = std::getenv("NRT_FAULT");
    if (setting == nullptr || *setting == '\0') return;
    std::string text(setting);
    size_t colon = text.find(':');
    if (colon == std::string::npos) return;
    int kind = KindFromName(text.substr(0, colon));
    if (kind < 0) return;
    char* end = nullptr;
    unsigned long n = std::strtoul(text.c_str() + colon + 1, &end, 10);
    STATUS status = DefaultStatus(kind);
    if (end != nullptr && *end == ':') status = (STATUS)std::strtoul(end + 1, nullptr, 0);
    g_state.countdown[kind] = (DWORD)n;
    g_state.status[kind] = status;
}

}  // namespace

bool FaultHit(int kind, STATUS* status) {
    if (kind < 0 || kind >= NRT_FAULT_KINDS) return false;
    std::call_once(g_env_once, [] {
        std::lock_guard<std::mutex> lock(g_mutex);
        ArmFromEnvironment();
    });
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_state.always[kind]) {
        *status = g_state.status[kind];
        return true;
    }
    if (g_state.countdown[kind] == 0) return false;
    if (--g_state.countdown[kind] != 0) return false;
    *status = g_state.status[kind];
    return true;
}

}  // namespace nrt

extern "C" {

void LNPUBLIC NRTFaultFailNth(int kind, DWORD n, STATUS status) {
    if (kind < 0 || kind >= NRT_FAULT_KINDS) return;
    std::lock_guard<std::mutex> lock(nrt::g_mutex);
    nrt::g_state.countdown[kind] = n;
    nrt::g_state.always[kind] = false;
    nrt::g_state.status[kind] = status;
}

void LNPUBLIC NRTFaultFailAlways(int kind, STATUS status) {
    if (kind < 0 || kind >= NRT_FAULT_KINDS) return;
    std::lock_guard<std::mutex> lock(nrt::g_mutex);
    nrt::g_state.countdown[kind] = 0;
    nrt::g_state.always[kind] = status != NOERROR;
    nrt::g_state.status[kind] = status;
}

void LNPUBLIC NRTFaultReset(void) {
    std::lock_guard<std::mutex> lock(nrt::g_mutex);
    nrt::g_state = nrt::FaultState();
}

}  // extern "C"
