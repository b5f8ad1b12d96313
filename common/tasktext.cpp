// tasktext.cpp - bounded text copies and composed log lines of the task.
#include "tasktext.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "addin.h"

void CopyText(char* dest, size_t size, const char* source) {
    if (dest == 0 || size == 0) return;
    size_t length = source ? strnlen(source, size - 1) : 0;
    if (length > 0) memcpy(dest, source, length);
    dest[length] = '\0';
}

void FormatText(char* dest, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(dest, size, format, args);
    va_end(args);
}

void LogText(STATUS status, const char* text) {
    AddInLogMessageText("%s", status, text ? text : "");
}

void LogLine(STATUS status, const char* format, ...) {
    char line[LOG_LINE_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    LogText(status, line);
}
