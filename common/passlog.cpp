// passlog.cpp - composing and logging the publication engine's lines.
#include "passlog.h"

#include <stdarg.h>
#include <stdio.h>

#include "tasktext.h"

namespace {

void LogComposed(long traceLevel, long minimum, STATUS status, const char* format, va_list args) {
    if (traceLevel < minimum) return;
    char line[LOG_LINE_SIZE];
    vsnprintf(line, sizeof(line), format, args);
    LogText(status, line);
}

}  // namespace

void PassLog(long traceLevel, long minimum, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogComposed(traceLevel, minimum, NOERROR, format, args);
    va_end(args);
}

void PassLogStatus(long traceLevel, long minimum, STATUS status, const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogComposed(traceLevel, minimum, status, format, args);
    va_end(args);
}
