// tasktext.h - text helpers shared by the task's configuration, console and
// host code: bounded copies into fixed buffers, and composed log lines.
//
// Owned by the task host. A composed line is built in a LOG_LINE_SIZE buffer
// (cut there, never overrun) and handed to the server log as plain text, so
// names and paths that came from the console, the command line or the
// configuration can never act as a format.
#ifndef ZELREP_TASKTEXT_H
#define ZELREP_TASKTEXT_H

#include <stddef.h>

#include "global.h"

#define LOG_LINE_SIZE 512

#if defined(__GNUC__)
#define TASK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TASK_PRINTF(fmt, args)
#endif

// Copies source into dest (size bytes), cut at the buffer; a null source
// gives the empty text.
void CopyText(char* dest, size_t size, const char* source);

// Composes a text into dest (size bytes), cut at the buffer.
void FormatText(char* dest, size_t size, const char* format, ...) TASK_PRINTF(3, 4);

// Logs text as it is, with status as the additional error code.
void LogText(STATUS status, const char* text);

// Composes a line from format and its arguments and logs it as plain text.
void LogLine(STATUS status, const char* format, ...) TASK_PRINTF(2, 3);

#endif
