/* notesinit.h - bringing the Notes runtime and the add-in runtime up and
 * down; used by the start-up shim of an add-in program. */
#ifndef NOTESRT_NOTESINIT_H
#define NOTESRT_NOTESINIT_H

#include "global.h"

/* The program's entry as registered with NotesSDKMAINInit. */
typedef STATUS(LNCALLBACK* NOTESMAINPROC)(int argc, char* argv[]);

NRT_EXTERN_C_BEGIN

/* The data directory: the Directory setting of a settings file named by an
 * argument "=file.ini", else NOTES_DATA_DIR, else the current directory.
 * ERR_NOEXIST when the file or the directory does not exist. */
STATUS LNPUBLIC NotesInitExtended(int argc, char* argv[]);
void LNPUBLIC NotesTerm(void);

/* Gives the program's arguments without the "=file.ini" ones; they stay
 * valid until NotesSDKMAINCommandLineEnd. */
STATUS LNPUBLIC NotesSDKMAINCommandLineBegin(int argc, char* argv[], int* retArgc,
                                             char*** retArgv);
STATUS LNPUBLIC NotesSDKMAINInit(NOTESMAINPROC mainProc, int argc, char* argv[],
                                 void* hPrevInstance, void* cmdLine);
/* Both fill text with the status's message (at most length characters and a
 * NUL) and return the status. */
STATUS LNPUBLIC NotesSDKMAINInitError(STATUS status, char* text, WORD length);
STATUS LNPUBLIC NotesSDKMAINError(STATUS status, char* text, WORD length);
void LNPUBLIC NotesSDKMAINCommandLineEnd(int argc, char* argv[]);

STATUS LNPUBLIC AddInSDKInit(int argc, char* argv[]);
STATUS LNPUBLIC NotesInitModule(HMODULE* rethModule, HANDLE* rethInstance,
                                HANDLE* rethPrevInstance);
STATUS LNPUBLIC AddInSDKTerm(STATUS status);

NRT_EXTERN_C_END

#endif
