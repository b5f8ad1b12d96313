// notes_main.h - the start-up shim of an add-in program, the same on every
// platform: brings up the Notes runtime and the add-in runtime, runs
// AddInMain and reports start-up failures on standard output. main.cpp
// calls notes_main; the task provides AddInMain.
#ifndef ZELREP_SHIM_NOTES_MAIN_H
#define ZELREP_SHIM_NOTES_MAIN_H

#include "global.h"

// The three leading parameters are only filled by a windowed entry; main
// passes null. Returns 0 when the program ran and ended well, -1 when the
// runtime or the task failed, or the status of a failed runtime start.
int notes_main(void* instance, void* previousInstance, void* commandLine, int argc, char* argv[]);

// Writes text to standard output framed as "\r\n%s\r\n\r\n".
void Msg(const char* text);

// The add-in runtime's bridge to AddInMain.
STATUS NotesMain(int argc, char* argv[]);

#endif
