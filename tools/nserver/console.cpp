// console.cpp - the console's event loop and its commands.
//
// One thread waits on standard input, every task's output and a pipe fed by
// the signal handlers (SIGCHLD: a task ended; SIGTERM, SIGINT, SIGHUP: stop
// the console). The console's own lines go through the runtime's log, so
// they carry a time stamp and land in DATA/console.log as well; task lines
// are relayed as the task wrote them (the task logs them itself).
#include "console.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <vector>

#include "lineinput.h"
#include "nrt_server.h"
#include "tasks.h"
#include "tell.h"

namespace nserver {
namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    char code = signal == SIGCHLD ? 'c' : 'q';
    int saved = errno;
    if (write(g_signalPipe[1], &code, 1) < 0) {
        // The pipe is full: a wake-up is already pending.
    }
    errno = saved;
}

void InstallSignals() {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);  // a closed terminal must not kill the console
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// The text after the first n words, without the blanks before it.
std::string AfterWords(const std::string& text, int n) {
    size_t at = 0;
    for (int i = 0; i < n; ++i) {
        at = text.find_first_not_of(" \t", at);
        at = at == std::string::npos ? text.size() : text.find_first_of(" \t", at);
        if (at == std::string::npos) return "";
    }
    size_t start = text.find_first_not_of(" \t", at);
    if (start == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t");
    return text.substr(start, end - start + 1);
}

bool Is(const std::string& word, const char* command) { return strcasecmp(word.c_str(), command) == 0; }

bool IsExecutableFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower((unsigned char)c));
    return text;
}

std::string EndDescription(int status) {
    if (WIFEXITED(status)) return "with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    return "";
}

const char* const kHelp[] = {
    "Commands (words in any case):",
    "  load PROGRAM [ARGUMENTS...]   start an add-in task from the program directory",
    "  tell TASK COMMAND...          send a command to a task (tell TASK quit stops it)",
    "  show tasks                    list the status line of every running task",
    "  help                          this list",
    "  quit | exit                   stop every task and leave the console",
};

class Console {
public:
    explicit Console(const ConsoleSettings& settings)
        : settings_(settings),
          input_(isatty(STDIN_FILENO) != 0),
          tasks_([this](const std::string& task, bool isError, const std::string& line) {
                     Relay(task, isError, line);
                 },
                 [this](const std::string& task, pid_t pid, int status) {
                     Say("Task " + task + " (process " + std::to_string(pid) + ") ended " +
                         EndDescription(status) + ".");
                 }) {}

    int Run() {
        Say("Server console started on " + settings_.dataDir + " (programs from " + settings_.binDir + ").");
        while (!quitRequested_ && !input_.Ended()) WaitAndHandle(true);
        StopAllTasks();
        input_.Stop();
        Say("Server console stopped.");
        return 0;
    }

private:
    // One round of the loop: waits for input, task output or a signal.
    void WaitAndHandle(bool readInput, int timeoutMs = -1) {
        std::vector<pollfd> fds = {{g_signalPipe[0], POLLIN, 0}};
        if (readInput) fds.push_back({input_.Fd(), POLLIN, 0});
        tasks_.AddPollFds(&fds);
        if (poll(fds.data(), fds.size(), timeoutMs) < 0) return;
        if (fds[0].revents & POLLIN) HandleSignals();
        tasks_.ReadReady(fds);
        tasks_.ReapEnded();
        if (readInput && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            std::vector<InputLine> lines;
            input_.ReadAvailable(&lines);
            for (const InputLine& line : lines)
                if (!quitRequested_) Execute(line);
        }
    }

    void HandleSignals() {
        char codes[64];
        ssize_t n;
        while ((n = read(g_signalPipe[0], codes, sizeof(codes))) > 0)
            if (std::find(codes, codes + n, 'q') != codes + n) quitRequested_ = true;
    }

    void Execute(const InputLine& line) {
        if (line.length > LineInput::kMaxLine)
            return Say("Line too long (" + std::to_string(line.length) + " characters, at most " +
                       std::to_string(LineInput::kMaxLine) + "); ignored.");
        std::vector<std::string> words = Words(line.text);
        if (words.empty()) return Say("Empty command. Type \"help\" for the list of commands.");
        const std::string& command = words[0];
        if (Is(command, "load")) return Load(words);
        if (Is(command, "tell")) return Tell(words, AfterWords(line.text, 2));
        if (Is(command, "show")) return Show(words);
        if (Is(command, "help")) return Help();
        if (Is(command, "quit") || Is(command, "exit")) {
            quitRequested_ = true;
            return;
        }
        Say("Unknown command \"" + Printable(command) + "\". Type \"help\" for the list of commands.");
    }

    void Load(const std::vector<std::string>& words) {
        if (words.size() < 2) return Say("Usage: load PROGRAM [ARGUMENTS...]");
        const std::string& program = words[1];
        if (program.find('/') != std::string::npos || program.find("..") != std::string::npos)
            return Say("Program name \"" + Printable(program) + "\" refused: give the name of a program in " +
                       settings_.binDir + ", without \"/\" or \"..\".");
        std::string name = program;
        if (!IsExecutableFile(settings_.binDir + "/" + name)) name = Lower(program);
        std::string path = settings_.binDir + "/" + name;
        if (!IsExecutableFile(path))
            return Say("Program " + Printable(program) + " not found in " + settings_.binDir + ".");
        std::vector<std::string> args(words.begin() + 2, words.end());
        pid_t pid = 0;
        std::string error;
        if (!tasks_.Start(path, name, args, settings_.dataDir, &pid, &error))
            return Say("Cannot start " + name + ": " + error + ".");
        Say("Task " + name + " (process " + std::to_string(pid) + ") started.");
    }

    void Tell(const std::vector<std::string>& words, const std::string& command) {
        if (words.size() < 3) return Say("Usage: tell TASK COMMAND...");
        std::string error;
        if (!DeliverTell(words[1], command, &error)) Say(error);
    }

    void Show(const std::vector<std::string>& words) {
        if (words.size() != 2 || !Is(words[1], "tasks")) return Say("Usage: show tasks");
        std::vector<std::pair<std::string, std::string>> lines;
        NRTEnumStatusLines(
            [](void* context, const char* name, const char* text, DWORD) -> STATUS {
                static_cast<decltype(lines)*>(context)->emplace_back(name, text);
                return NOERROR;
            },
            &lines);
        if (lines.empty()) return Say("No task is running.");
        size_t width = 20;
        for (const auto& line : lines) width = std::max(width, line.first.size());
        std::string table = std::string("Task") + std::string(width - 2, ' ') + "Status";
        for (const auto& line : lines)
            table += "\n" + line.first + std::string(width + 2 - line.first.size(), ' ') + line.second;
        Say(table);
    }

    void Help() {
        std::string text;
        for (const char* line : kHelp) text += std::string(line) + "\n";
        Say(text);
    }

    // Asks every task to stop, waits, and kills only those still running
    // after the grace period.
    void StopAllTasks() {
        if (tasks_.Empty()) return;
        Say("Stopping all tasks.");
        tasks_.SignalAll(SIGTERM);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(settings_.killAfterSeconds);
        while (!tasks_.Empty() && std::chrono::steady_clock::now() < deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            WaitAndHandle(false, int(std::max<int64_t>(1, left.count())));
        }
        std::string grace = std::to_string(settings_.killAfterSeconds) +
                            (settings_.killAfterSeconds == 1 ? " second" : " seconds");
        for (const std::string& task : tasks_.Running())
            Say("Task " + task + " did not stop within " + grace + "; killing it.");
        tasks_.SignalAll(SIGKILL);
        while (!tasks_.Empty()) WaitAndHandle(false, 1000);
    }

    void Relay(const std::string& task, bool isError, const std::string& line) {
        if (isError) return Say(task + ": " + line);  // not logged by the task: log it here
        input_.WithPromptHidden([&] {
            std::string text = line + "\n";
            if (write(STDOUT_FILENO, text.data(), text.size()) < 0) {
                // Standard output is gone; the task's lines are in its log.
            }
        });
    }

    void Say(const std::string& text) {
        input_.WithPromptHidden([&] { NRTLogText(text.c_str()); });
    }

    // Words typed at the console are shown, never interpreted.
    static std::string Printable(const std::string& word) {
        constexpr size_t kShown = 64;
        return word.size() > kShown ? word.substr(0, kShown) + "..." : word;
    }

    ConsoleSettings settings_;
    LineInput input_;
    TaskTable tasks_;
    bool quitRequested_ = false;
};

}  // namespace

int RunConsole(const ConsoleSettings& settings) {
    InstallSignals();
    Console console(settings);
    return console.Run();
}

}  // namespace nserver
