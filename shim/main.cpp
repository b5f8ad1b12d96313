// main.cpp - process entry of an add-in program: answers --version, else
// hands over to the start-up shim and returns its result as the exit
// status.
#include <cstdio>
#include <cstring>

#include "n_ver.h"
#include "notes_main.h"

int main(int argc, char* argv[]) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        const char* slash = std::strrchr(argv[0], '/');
        std::printf("%s %s\n", slash ? slash + 1 : argv[0], ZELREP_VERSION);
        return 0;
    }
    int result = notes_main(nullptr, nullptr, nullptr, argc, argv);
    // A failure status whose low byte is zero would read as success to the
    // shell; such a result exits with 1 instead.
    return result != 0 && (result & 0xFF) == 0 ? 1 : result;
}
