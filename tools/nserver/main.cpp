// main.cpp - nserver's command line: the data and program directories,
// then either the console or a one-shot "tell".
//
//   nserver [--data DIR] [--bin DIR] [--kill-after SECONDS]
//   nserver [--data DIR] tell TASK COMMAND...
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "nrt_env.h"
#include "tell.h"

namespace {

const char kUsage[] =
    "usage: nserver [--data DIR] [--bin DIR] [--kill-after SECONDS]\n"
    "       nserver [--data DIR] tell TASK COMMAND...\n"
    "The data directory defaults to NOTES_DATA_DIR, else the current directory;\n"
    "programs are loaded from --bin, else the directory of nserver itself.\n";

struct Options {
    std::string dataDir;
    std::string binDir;
    int killAfterSeconds = 10;
    std::vector<std::string> tell;  // TASK COMMAND... of a one-shot tell
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "nserver: %s\n%s", message.c_str(), kUsage);
    return 2;
}

std::string ProgramDirectory() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    std::string exe(path, size_t(n));
    return exe.substr(0, exe.find_last_of('/'));
}

// 0 when parsed, else the exit code to end with.
int ParseOptions(int argc, char* argv[], Options* options) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        }
        if (i + 1 >= argc) return UsageError("option " + option + " needs a value");
        std::string value = argv[++i];
        if (option == "--data")
            options->dataDir = value;
        else if (option == "--bin")
            options->binDir = value;
        else if (option == "--kill-after" && std::atoi(value.c_str()) > 0)
            options->killAfterSeconds = std::atoi(value.c_str());
        else
            return UsageError("unknown option or bad value: " + option + " " + value);
    }
    if (i < argc && std::strcmp(argv[i], "tell") != 0) return UsageError(std::string("unknown command ") + argv[i]);
    if (i < argc) {
        options->tell.assign(argv + i + 1, argv + argc);
        if (options->tell.size() < 2) return UsageError("tell needs a task and a command");
    }
    return 0;
}

int OneShotTell(const std::vector<std::string>& words) {
    std::string command = words[1];
    for (size_t i = 2; i < words.size(); ++i) command += " " + words[i];
    std::string error;
    if (nserver::DeliverTell(words[0], command, &error)) return 0;
    std::fprintf(stderr, "nserver: %s\n", error.c_str());
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    Options options;
    int parsed = ParseOptions(argc, argv, &options);
    if (parsed != 0) return parsed < 0 ? 0 : parsed;

    const char* fromEnv = std::getenv("NOTES_DATA_DIR");
    std::string dataDir = !options.dataDir.empty() ? options.dataDir : fromEnv && *fromEnv ? fromEnv : ".";
    if (NRTSetDataDirectory(dataDir.c_str()) != NOERROR) {
        std::fprintf(stderr, "nserver: data directory %s does not exist\n", dataDir.c_str());
        return 1;
    }
    if (!options.tell.empty()) return OneShotTell(options.tell);

    nserver::ConsoleSettings settings;
    char resolved[1024];
    NRTGetDataDirectory(resolved, sizeof(resolved));
    settings.dataDir = resolved;
    settings.binDir = options.binDir.empty() ? ProgramDirectory() : options.binDir;
    settings.killAfterSeconds = options.killAfterSeconds;
    return nserver::RunConsole(settings);
}
