// main.cpp - process entry of an add-in program: hands over to the
// start-up shim and returns its result as the exit status.
#include "notes_main.h"

int main(int argc, char* argv[]) {
    int result = notes_main(nullptr, nullptr, nullptr, argc, argv);
    // A failure status whose low byte is zero would read as success to the
    // shell; such a result exits with 1 instead.
    return result != 0 && (result & 0xFF) == 0 ? 1 : result;
}
