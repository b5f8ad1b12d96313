// notes_main.cpp - the start-up shim: Notes runtime start, command line,
// NotesMain (add-in runtime around AddInMain), and the report of any
// failure on standard output unless its status says it was already shown.
#include "notes_main.h"

#include <cstdio>

#include "addin.h"
#include "notesinit.h"

namespace {

constexpr WORD kTextLength = 255;

bool AlreadyReported(STATUS status) { return (status & STS_DISPLAYED) != 0; }

// Fills the text of a failed runtime start and shows it; returns what
// NotesSDKMAINInitError gave back.
STATUS ReportInitFailure(STATUS status) {
    char text[kTextLength + 1] = "";
    STATUS result = NotesSDKMAINInitError(status, text, kTextLength);
    if (!AlreadyReported(status)) Msg(text);
    return result;
}

}  // namespace

void Msg(const char* text) {
    std::printf("\r\n%s\r\n\r\n", text);
    std::fflush(stdout);
}

STATUS NotesMain(int argc, char* argv[]) {
    STATUS status = AddInSDKInit(argc, argv);
    if (status != NOERROR) return status;
    HMODULE module = NULLHANDLE;
    NotesInitModule(&module, nullptr, nullptr);
    return AddInSDKTerm(AddInMain(module, argc, argv));
}

int notes_main(void* /*instance*/, void* previousInstance, void* commandLine, int argc,
               char* argv[]) {
    STATUS status = NotesInitExtended(argc, argv);
    if (status != NOERROR) return ReportInitFailure(status);

    status = NotesSDKMAINCommandLineBegin(argc, argv, &argc, &argv);
    if (status != NOERROR) {
        STATUS result = ReportInitFailure(status);
        NotesTerm();
        return result;
    }

    status = NotesSDKMAINInit(NotesMain, argc, argv, previousInstance, commandLine);
    if (status == NOERROR) {
        status = NotesMain(argc, argv);
        if (status != NOERROR && !AlreadyReported(status)) {
            char text[kTextLength + 1] = "";
            NotesSDKMAINError(status, text, kTextLength);
            Msg(text);
        }
    }

    NotesSDKMAINCommandLineEnd(argc, argv);
    NotesTerm();
    return status == NOERROR ? 0 : -1;
}
