// handles.cpp - the one counter that numbers every handle of the process.
#include "handles.h"

#include <atomic>

namespace nrt {

uint32_t NextHandleValue() {
    static std::atomic<uint32_t> next{0x100};
    uint32_t value = next.fetch_add(1);
    if (value == 0) value = next.fetch_add(1);  // never hand out 0
    return value;
}

}  // namespace nrt
