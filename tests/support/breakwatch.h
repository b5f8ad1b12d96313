// breakwatch.h - Windows only: counts the breakpoints that the platform's
// DebugBreak raises while a BreakWatch lives, and lets the program go on
// after each one, as a debugger that is attached and told to continue
// would. So a test sees DebugBreak reached without the process stopping.
//
// Owned by the tests. The build is 32-bit x86; the exception structures are
// declared here with the documented layout of the fields that are read.
#ifndef ZELREP_TESTS_BREAKWATCH_H
#define ZELREP_TESTS_BREAKWATCH_H

#ifdef _WIN32

#include <cstddef>

namespace breakwatch {

// EXCEPTION_RECORD, CONTEXT (x86) and EXCEPTION_POINTERS, up to what is read.
struct ExceptionRecord {
    unsigned long code;
    unsigned long flags;
    ExceptionRecord* next;
    void* address;
};
struct Context {
    unsigned long flags;
    unsigned long debugRegisters[6];
    unsigned char floatSave[112];
    unsigned long segments[4];
    unsigned long general[6];
    unsigned long ebp;
    unsigned long eip;
};
static_assert(offsetof(Context, eip) == 0xB8, "x86 CONTEXT layout");
struct ExceptionPointers {
    ExceptionRecord* record;
    Context* context;
};

typedef long(__stdcall* Handler)(ExceptionPointers* pointers);

extern "C" {
__declspec(dllimport) void* __stdcall AddVectoredExceptionHandler(unsigned long first,
                                                                  Handler handler);
__declspec(dllimport) unsigned long __stdcall RemoveVectoredExceptionHandler(void* handle);
}

const unsigned long kBreakpoint = 0x80000003;
const long kContinueExecution = -1;
const long kContinueSearch = 0;

inline int& Seen() {
    static int seen = 0;
    return seen;
}

// A breakpoint leaves the instruction pointer on its one-byte instruction;
// going on means stepping over it.
inline long __stdcall OnException(ExceptionPointers* pointers) {
    if (pointers->record->code != kBreakpoint) return kContinueSearch;
    ++Seen();
    if (pointers->context->eip == (unsigned long)(size_t)pointers->record->address)
        pointers->context->eip += 1;
    return kContinueExecution;
}

}  // namespace breakwatch

class BreakWatch {
public:
    BreakWatch() : handle_(breakwatch::AddVectoredExceptionHandler(1, breakwatch::OnException)) {
        breakwatch::Seen() = 0;
    }
    ~BreakWatch() { breakwatch::RemoveVectoredExceptionHandler(handle_); }
    BreakWatch(const BreakWatch&) = delete;
    BreakWatch& operator=(const BreakWatch&) = delete;

    int Breaks() const { return breakwatch::Seen(); }

private:
    void* handle_;
};

#endif

#endif
