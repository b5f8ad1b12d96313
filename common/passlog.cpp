// passlog.cpp - composing and logging the publication engine's lines.
#include "passlog.h"

#include <stdarg.h>
#include <stdio.h>

#include "tasktext.h"

void PassLog(long traceLevel, long minimum, const char* format, ...) {
    if (traceLevel < minimum) return;
    char line[LOG_LINE_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    LogText(NOERROR, line);
}
