// main.cpp - nserver's command line: the data and program directories,
// then either the console or one command for the console that runs on the
// data directory.
//
//   nserver [--data DIR] [--bin DIR] [--kill-after SECONDS] [--service]
//   nserver [--data DIR] [--wait SECONDS] COMMAND...   (tell, show, quit, load, ...)
//
// A one-shot command goes to the running console and ends with its answer
// and exit status. With no console on the data directory, "tell" is
// delivered straight to the task's queue, and "show tasks" and "show stat"
// read the status lines and statistics themselves; other commands need the
// console.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "consoleos.h"
#include "control.h"
#include "n_ver.h"
#include "nrt_env.h"
#include "statistics.h"
#include "statuslines.h"
#include "tell.h"

namespace {

const char kUsageLine[] =
    "usage: nserver [--data DIR] [--bin DIR] [--kill-after SECONDS] [--service]\n"
    "       nserver [--data DIR] [--wait SECONDS] COMMAND...\n";

const char kHelp[] =
    "\n"
    "Without a command: the server console. It reads commands from the terminal\n"
    "(or standard input, ending with it); with --service it reads none and runs\n"
    "until SIGTERM or a quit from another shell. At start it loads the tasks of\n"
    "notes.ini's ServerTasks (comma-separated \"load\" words).\n"
    "\n"
    "With a command (tell TASK COMMAND..., show tasks, show stat [PATTERN] [--json],\n"
    "quit, load PROGRAM ...):\n"
    "runs it in the console of the data directory and prints its answer; the exit\n"
    "status is 0 when it was done (a tell delivered, a task started), 1 when not,\n"
    "2 for bad usage. --wait is how long a tell waits for the task's answer and a\n"
    "load for the task's start-up (default 5).\n"
    "\n"
    "  --data DIR          data directory (default: NOTES_DATA_DIR, else the\n"
    "                      current directory)\n"
    "  --bin DIR           where load finds programs (default: nserver's directory)\n"
    "  --kill-after S      at quit, kill a task that has not stopped after S seconds\n"
    "                      (default 10)\n"
    "  --version           the version of nserver\n";

struct Options {
    std::string dataDir;
    std::string binDir;
    int killAfterSeconds = 10;
    int waitSeconds = 5;
    bool service = false;
    std::vector<std::string> command;  // a one-shot command's words
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "nserver: %s\n%s(nserver --help tells more)\n", message.c_str(), kUsageLine);
    return 2;
}

bool TakeSeconds(const std::string& value, int* seconds) {
    char* end = nullptr;
    long parsed = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || parsed < 1 || parsed > 86400) return false;
    *seconds = int(parsed);
    return true;
}

// 0 when parsed, -1 when done (help, version), else the exit code.
int ParseOptions(int argc, char* argv[], Options* options) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::printf("%s%s", kUsageLine, kHelp);
            return -1;
        }
        if (option == "--version") {
            std::printf("nserver %s\n", ZELREP_VERSION);
            return -1;
        }
        if (option == "--service") {
            options->service = true;
            continue;
        }
        bool known = option == "--data" || option == "--bin" || option == "--kill-after" || option == "--wait";
        if (!known) return UsageError("unknown option " + option);
        if (i + 1 >= argc) return UsageError("option " + option + " needs a value");
        std::string value = argv[++i];
        if (option == "--data")
            options->dataDir = value;
        else if (option == "--bin")
            options->binDir = value;
        else if (!TakeSeconds(value, option == "--wait" ? &options->waitSeconds : &options->killAfterSeconds))
            return UsageError(option + " needs a number of seconds from 1 to 86400, not " + value);
    }
    options->command.assign(argv + i, argv + argc);
    if (options->service && !options->command.empty()) return UsageError("--service takes no command");
    if (!options->command.empty() && options->command[0] == "tell" && options->command.size() < 3)
        return UsageError("tell needs a task and a command");
    return 0;
}

std::string Joined(const std::vector<std::string>& words, size_t from) {
    std::string text;
    for (size_t i = from; i < words.size(); ++i) text += (i > from ? " " : "") + words[i];
    return text;
}

// Without a console: what can be done without one.
int WithoutConsole(const std::vector<std::string>& words, const std::string& dataDir) {
    const std::string& command = words[0];
    if (command == "tell" || command == "t") {
        std::string error;
        if (!nserver::DeliverTell(words[1], Joined(words, 2), &error)) {
            std::fprintf(stderr, "nserver: %s\n", error.c_str());
            return 1;
        }
        std::fprintf(stderr, "nserver: delivered; no console runs on %s, so the answer is only in console.log\n",
                     dataDir.c_str());
        return 0;
    }
    if ((command == "show" || command == "sh") && words.size() >= 2) {
        std::vector<std::string> arguments(words.begin() + 2, words.end());
        std::string answer;
        if (words[1] == "stat" || words[1] == "statistics") {
            bool parsed = nserver::ShowStatistics(arguments, &answer);
            std::fprintf(parsed ? stdout : stderr, "%s\n", answer.c_str());
            return parsed ? 0 : 2;
        }
        if (arguments.empty()) {
            std::printf("%s\n", nserver::TaskListText().c_str());
            return 0;
        }
    }
    std::fprintf(stderr, "nserver: no console runs on %s (start one with: nserver --data %s --service)\n",
                 dataDir.c_str(), dataDir.c_str());
    return 1;
}

int OneShot(const Options& options, const std::string& dataDir) {
    std::string error;
    int fd = nserver::ConnectToConsole(dataDir, &error);
    if (fd >= 0) return nserver::RunOverConnection(fd, Joined(options.command, 0));
    if (!error.empty()) {
        std::fprintf(stderr, "nserver: %s\n", error.c_str());
        return 1;
    }
    return WithoutConsole(options.command, dataDir);
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
    char resolved[1024];
    NRTGetDataDirectory(resolved, sizeof(resolved));
    if (!options.command.empty()) return OneShot(options, resolved);

    nserver::ConsoleSettings settings;
    settings.dataDir = resolved;
    settings.binDir = options.binDir.empty() ? nserver::ProgramDirectory() : options.binDir;
    settings.killAfterSeconds = options.killAfterSeconds;
    settings.service = options.service;
    settings.waitSeconds = options.waitSeconds;
    return nserver::RunConsole(settings);
}
