// console.cpp - the console's event loop and its commands.
//
// One thread waits on standard input (none for a service), every task's
// output and start-up report, the control socket and its callers, and the
// console's stop requests (a task ended; stop the console; an interrupt,
// which at a terminal clears the line being typed and elsewhere stops the
// console). What those are made of is the platform's (consoleos.h). The
// console's own lines go through the runtime's log, so they carry a time
// stamp and land in DATA/console.log as well; task lines are relayed as
// the task wrote them (the task logs them itself). Standard output never
// blocks the loop (output.h).
//
// A command comes from the console's input, from notes.ini's ServerTasks
// at start ("load" words, one entry per comma), or from a caller on the
// control socket (control.h). A caller gets the lines its command causes
// and an exit status: a tell is answered with what the task logs within a
// short wait, a load when the task has started or has ended during its
// start-up, a quit when the console has stopped.
#include "console.h"

#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "consoleos.h"
#include "control.h"
#include "lineinput.h"
#include "nrt_env.h"
#include "nrt_server.h"
#include "osenv.h"
#include "output.h"
#include "process.h"
#include "statistics.h"
#include "statuslines.h"
#include "tasks.h"
#include "tell.h"

namespace nserver {
namespace {

using Clock = std::chrono::steady_clock;

// How long a caller's tell waits for the task's answer once it has begun,
// after its last line.
constexpr auto kAnswerQuiet = std::chrono::milliseconds(500);
// A caller's answer is cut beyond this size (the console log has it all).
constexpr size_t kMaxAnswer = 4 << 20;

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

// A command word and the shortest abbreviation it is known by, as on a
// Domino console: any start of the word at least that long.
struct Word {
    const char* name;
    size_t shortest;
};

bool Abbreviates(const std::string& typed, const Word& word) {
    return typed.size() >= word.shortest && typed.size() <= std::strlen(word.name) &&
           strncasecmp(typed.c_str(), word.name, typed.size()) == 0;
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower((unsigned char)c));
    return text;
}

std::string Seconds(int seconds) { return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds"); }

// A console line without its time stamp ("YYYY/MM/DD HH:MM:SS  ").
std::string Unstamped(const std::string& line) {
    static const char kShape[] = "dddd/dd/dd dd:dd:dd  ";
    size_t length = sizeof(kShape) - 1;
    if (line.size() < length) return line;
    for (size_t i = 0; i < length; ++i) {
        bool digit = std::isdigit((unsigned char)line[i]) != 0;
        if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) return line;
    }
    return line.substr(length);
}

// "CN=Server/O=Org" as "Server/Org".
std::string AbbreviatedName(const std::string& canonical) {
    std::string out;
    std::istringstream parts(canonical);
    for (std::string part; std::getline(parts, part, '/');) {
        size_t equals = part.find('=');
        out += (out.empty() ? "" : "/") + (equals == std::string::npos ? part : part.substr(equals + 1));
    }
    return out;
}

std::string Prompt(const std::string& dataDir) {
    char name[256] = "";
    NRTGetUserName(name, sizeof(name));
    std::string base = dataDir.substr(dataDir.find_last_of("/\\") + 1);
    return AbbreviatedName(name) + " (" + (base.empty() ? dataDir : base) + ")> ";
}

const Word kLoad = {"load", 1}, kTell = {"tell", 1}, kShow = {"show", 2}, kHelp = {"help", 1},
           kQuit = {"quit", 1}, kExit = {"exit", 1};
const Word kCommandWords[] = {kLoad, kTell, kShow, kHelp, kQuit, kExit};

const char* const kHelpText[] = {
    "Commands (words in any case; the letters in brackets may be left out):",
    "  l[oad] PROGRAM [ARGUMENTS...]   start an add-in task from the program directory",
    "  t[ell] TASK COMMAND...          send a command to a task (tell TASK quit stops it)",
    "  sh[ow] ta[sks]                  list the status line of every running task",
    "  sh[ow] stat[istics] [PATTERN] [--json]",
    "                                  the server statistics (PATTERN like ZELREP.*)",
    "  h[elp]                          this list",
    "  q[uit] | e[xit]                 stop every task and leave the console",
};
// Only where the console edits the line being typed.
const char kEditingHelp[] = "Ctrl-C clears the line being typed; Tab completes commands and task names.";

// A caller on the control socket.
struct Request {
    enum class Waiting { kCommand, kNothing, kAnswer, kStartUp, kConsoleEnd };

    int fd = -1;
    std::string input;   // until the command line is complete
    std::string output;  // answer lines not yet sent
    Waiting waiting = Waiting::kCommand;
    bool finished = false;  // the exit line is queued
    int code = 0;
    std::string task;             // the tell's task name
    std::set<pid_t> pids;         // whose lines the caller gets
    bool everyTask = false;       // or every task's lines
    bool answered = false;        // a line of the answer came
    Clock::time_point deadline;   // of the wait
    Clock::time_point quietEnd;   // answer complete when no line came until then

    void Line(char kind, const std::string& text) {
        if (output.size() > kMaxAnswer) return;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) output += std::string(1, kind) + " " + line + "\n";
        if (text.empty()) output += std::string(1, kind) + " \n";
    }
    void Finish(int exitCode) {
        if (finished) return;
        code = exitCode;
        output += "X " + std::to_string(code) + "\n";
        finished = true;
        waiting = Waiting::kNothing;
    }
    // Sends what it can; false when the caller is gone.
    bool Send() { return SendToCaller(fd, &output); }
};

class Console {
public:
    explicit Console(const ConsoleSettings& settings)
        : settings_(settings),
          input_(!settings.service && InputIsTerminal(), Prompt(settings.dataDir),
                 HistoryFile(settings.dataDir)),
          tasks_([this](const std::string& task, pid_t pid, bool isError,
                        const std::string& line) { Relay(task, pid, isError, line); },
                 [this](const std::string&, pid_t pid) { OnStarted(pid); },
                 [this](const std::string& task, pid_t pid, int status, bool started) {
                     OnEnded(task, pid, status, started);
                 }) {
        output_.SetWriteGuard([this](const std::function<void()>& write) { input_.WithPromptHidden(write); });
        NRTSetLogSink(&Console::OnLogged, this, NRT_LOGSINK_INSTEAD_OF_STDOUT);
        input_.SetCompleter([this](const std::string& before) { return Candidates(before); });
    }
    ~Console() { NRTSetLogSink(nullptr, nullptr, 0); }

    int Run() {
        std::string error;
        bool listening = control_.Listen(settings_.dataDir, &error);
        Say("Server console started on " + settings_.dataDir + " (programs from " + settings_.binDir + ").");
        if (!listening) Say("Commands from other shells are not taken: " + error + ".");
        NRTCheckSettings([](void* self, const char* text) { static_cast<Console*>(self)->Say(std::string("Warning: ") + text); },
                         this);
        LoadServerTasks();
        while (!quitRequested_ && !InputEnded()) WaitAndHandle(true);
        StopAllTasks();
        input_.Stop();
        Say("Server console stopped.");
        EndRequests();
        return 0;
    }

private:
    static std::string HistoryFile(const std::string& dataDir) {
        std::string directory, error;
        return ConsoleDirectory(dataDir, &directory, &error) ? directory + "/history" : "";
    }

    static void LNCALLBACK OnLogged(void* self, const char* block) {
        static_cast<Console*>(self)->output_.Write(block);
    }

    bool InputEnded() const { return !settings_.service && input_.Ended(); }

    // One round of the loop: waits for input, task output, callers or a
    // stop request.
    void WaitAndHandle(bool readInput, int timeoutMs = -1) {
        std::vector<Watch> watches = {{Source::kStopRequests, 0, kReadable, 0}};
        size_t inputAt = watches.size();
        bool takeInput = readInput && !settings_.service;
        if (takeInput) watches.push_back({Source::kInput, 0, kReadable, 0});
        size_t controlAt = watches.size();
        if (readInput && control_.Fd() >= 0) watches.push_back({Source::kCaller, control_.Fd(), kReadable, 0});
        size_t requestsAt = watches.size();
        for (const auto& request : requests_)
            watches.push_back({Source::kCaller, request->fd,
                               short((request->finished ? 0 : kReadable) | (request->output.empty() ? 0 : kWritable)),
                               0});
        size_t outputAt = watches.size();
        if (output_.Pending()) watches.push_back({Source::kOutput, 0, kWritable, 0});
        size_t tasksAt = watches.size();
        for (PipeEnd pipe : tasks_.Pipes()) watches.push_back({Source::kTaskPipe, pipe, kReadable, 0});
        Wait(&watches, WaitTimeout(timeoutMs));
        if (watches[0].ready & kReadable) HandleStopRequests();
        for (size_t i = tasksAt; i < watches.size(); ++i)
            if (watches[i].ready) tasks_.ReadFrom(watches[i].handle);
        tasks_.ReapEnded();
        if (outputAt < tasksAt && watches[outputAt].ready) output_.Flush();
        for (size_t i = requestsAt; i < outputAt; ++i)
            if (watches[i].ready & kReadable) ReadRequest(int(watches[i].handle));
        if (controlAt < requestsAt && (watches[controlAt].ready & kReadable)) AcceptCallers();
        if (takeInput && watches[inputAt].ready) {
            std::vector<InputLine> lines;
            input_.ReadAvailable(&lines);
            for (const InputLine& line : lines)
                if (!quitRequested_) ExecuteLine(line, nullptr);
        }
        CheckWaits();
        SendAnswers();
    }

    int WaitTimeout(int timeoutMs) const {
        int timeout = timeoutMs;
        auto now = Clock::now();
        for (const auto& request : requests_) {
            if (request->waiting != Request::Waiting::kAnswer && request->waiting != Request::Waiting::kStartUp)
                continue;
            auto due = request->answered ? std::min(request->deadline, request->quietEnd) : request->deadline;
            int ms = int(std::max<int64_t>(
                1, std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1));
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }
        return timeout;
    }

    void HandleStopRequests() {
        for (char request : TakeStopRequests()) {
            if (request == 'q') quitRequested_ = true;
            if (request != 'i') continue;
            if (input_.Interactive())
                input_.ClearLine();
            else
                quitRequested_ = true;
        }
    }

    // ---- commands ----

    // Runs one command line; its answer also goes to request (when a
    // caller sent it). Returns the exit status for a caller.
    int ExecuteLine(const InputLine& line, Request* request) {
        current_ = request;
        int code = Execute(line);
        current_ = nullptr;
        return code;
    }

    int Execute(const InputLine& line) {
        if (line.length > LineInput::kMaxLine)
            return Fail("Line too long (" + std::to_string(line.length) + " characters, at most " +
                        std::to_string(LineInput::kMaxLine) + "); ignored.");
        std::vector<std::string> words = Words(line.text);
        if (words.empty()) return Fail("Empty command. Type \"help\" for the list of commands.", 2);
        const std::string& command = words[0];
        if (Abbreviates(command, kLoad)) return Load(words);
        if (Abbreviates(command, kTell)) return Tell(words, AfterWords(line.text, 2));
        if (Abbreviates(command, kShow)) return Show(words);
        if (Abbreviates(command, kHelp)) return Help();
        if (Abbreviates(command, kQuit) || Abbreviates(command, kExit)) {
            quitRequested_ = true;
            if (current_) {  // the caller hears everything until the console has stopped
                current_->waiting = Request::Waiting::kConsoleEnd;
                current_->everyTask = true;
            }
            return 0;
        }
        return Fail("Unknown command \"" + Printable(command) + "\". Type \"help\" for the list of commands.", 2);
    }

    int Load(const std::vector<std::string>& words) {
        if (words.size() < 2) return Fail("Usage: load PROGRAM [ARGUMENTS...]", 2);
        const std::string& program = words[1];
        if (program.find_first_of("/\\") != std::string::npos || program.find("..") != std::string::npos)
            return Fail("Program name \"" + Printable(program) + "\" refused: give the name of a program in " +
                        settings_.binDir + ", without \"/\" or \"..\".");
        std::string name = program;
        if (!IsProgramFile(settings_.binDir + "/" + name)) name = Lower(program);
        std::string path = settings_.binDir + "/" + name;
        if (!IsProgramFile(path)) return Fail("Program " + Printable(program) + " not found in " + settings_.binDir + ".");
        std::vector<std::string> args(words.begin() + 2, words.end());
        pid_t pid = 0;
        std::string error;
        if (!tasks_.Start(path, name, args, settings_.dataDir, &pid, &error))
            return Fail("Cannot start " + name + ": " + error + ".");
        Say("Task " + name + " (process " + std::to_string(pid) + ") started.");
        if (current_) {
            current_->waiting = Request::Waiting::kStartUp;
            current_->pids = {pid};
            current_->deadline = Clock::now() + std::chrono::seconds(settings_.waitSeconds);
        }
        return 0;
    }

    int Tell(const std::vector<std::string>& words, const std::string& command) {
        if (words.size() < 3) return Fail("Usage: tell TASK COMMAND...", 2);
        std::string error;
        if (!DeliverTell(words[1], command, &error)) return Fail(error);
        if (current_) {
            std::vector<pid_t> pids = tasks_.Matching(words[1]);
            current_->waiting = Request::Waiting::kAnswer;
            current_->task = words[1];
            current_->pids.insert(pids.begin(), pids.end());
            current_->everyTask = pids.empty();
            current_->deadline = Clock::now() + std::chrono::seconds(settings_.waitSeconds);
        }
        return 0;
    }

    // "show WHAT [ARGUMENTS]": one entry a thing to show.
    struct ShowEntry {
        Word word;
        int (Console::*show)(const std::vector<std::string>& arguments);
    };

    int Show(const std::vector<std::string>& words) {
        static const ShowEntry kShown[] = {{{"tasks", 2}, &Console::ShowTasks},
                                           {{"statistics", 4}, &Console::ShowStat}};
        if (words.size() >= 2)
            for (const ShowEntry& entry : kShown)
                if (Abbreviates(words[1], entry.word))
                    return (this->*entry.show)(std::vector<std::string>(words.begin() + 2, words.end()));
        return Fail("Usage: show tasks | show stat [PATTERN] [--json]", 2);
    }

    int ShowTasks(const std::vector<std::string>& arguments) {
        if (!arguments.empty()) return Fail("Usage: show tasks", 2);
        Say(TaskListText());
        return 0;
    }

    int ShowStat(const std::vector<std::string>& arguments) {
        std::string answer;
        if (!ShowStatistics(arguments, &answer)) return Fail(answer, 2);
        Say(answer);
        return 0;
    }

    int Help() {
        std::string text;
        for (const char* line : kHelpText) text += std::string(line) + "\n";
        if (input_.Interactive()) text += std::string(kEditingHelp) + "\n";
        Say(text);
        return 0;
    }

    void LoadServerTasks() {
        char value[1024] = "";
        if (!OSGetEnvironmentString("ServerTasks", value, sizeof(value) - 1)) return;
        std::istringstream entries(value);
        for (std::string entry; std::getline(entries, entry, ',');) {
            if (Words(entry).empty()) continue;
            InputLine line;
            line.text = "load " + entry;
            line.length = line.text.size();
            ExecuteLine(line, nullptr);
        }
    }

    // Completion: command words first, then what each command takes.
    std::vector<std::string> Candidates(const std::string& before) {
        std::vector<std::string> words = Words(before);
        std::vector<std::string> candidates;
        if (words.empty()) {
            for (const Word& word : kCommandWords) candidates.push_back(word.name);
        } else if (words.size() == 1 && Abbreviates(words[0], kTell)) {
            candidates = tasks_.TellNames();
        } else if (words.size() == 1 && Abbreviates(words[0], kShow)) {
            candidates = {"tasks", "statistics"};
        } else if (words.size() == 1 && Abbreviates(words[0], kLoad)) {
            candidates = Programs();
        }
        return candidates;
    }

    std::vector<std::string> Programs() const {
        std::vector<std::string> programs;
        DIR* dir = opendir(settings_.binDir.c_str());
        if (dir == nullptr) return programs;
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name[0] != '.' && name != "nserver" && name != "nsfdb" &&
                IsProgramFile(settings_.binDir + "/" + name))
                programs.push_back(name);
        }
        closedir(dir);
        std::sort(programs.begin(), programs.end());
        return programs;
    }

    // ---- tasks ----

    void OnStarted(pid_t pid) {
        for (const auto& request : requests_)
            if (request->waiting == Request::Waiting::kStartUp && request->pids.count(pid)) request->Finish(0);
    }

    void OnEnded(const std::string& task, pid_t pid, int status, bool started) {
        std::string who = "Task " + task + " (process " + std::to_string(pid) + ")";
        Say(who + " ended " + EndDescription(status) + ".");
        if (!started) Fail(who + " did not start: it ended during its start-up.", 1, pid);
        for (const auto& request : requests_) {
            if (!request->pids.count(pid)) continue;
            request->pids.erase(pid);
            if (request->waiting == Request::Waiting::kStartUp) request->Finish(started ? 0 : 1);
            if (request->waiting == Request::Waiting::kAnswer && request->pids.empty()) request->Finish(0);
        }
    }

    // Asks every task to stop, waits, and kills only those still running
    // after the grace period, saying what each was doing.
    void StopAllTasks() {
        if (tasks_.Empty()) return;
        Say("Stopping all tasks.");
        tasks_.AskAllToStop();
        auto deadline = Clock::now() + std::chrono::seconds(settings_.killAfterSeconds);
        while (!tasks_.Empty() && Clock::now() < deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            WaitAndHandle(false, int(std::max<int64_t>(1, left.count())));
        }
        std::map<pid_t, std::string> doing = StatusTextsByProcess();
        for (const std::string& task : tasks_.Running()) {
            Say("Task " + task + " did not stop within " + Seconds(settings_.killAfterSeconds) + "; killing it.");
            pid_t pid = pid_t(std::stol(task.substr(task.rfind(' ') + 1)));
            auto status = doing.find(pid);
            if (status != doing.end() && !status->second.empty())
                Say("Task " + task + " was: " + status->second +
                    ". What it had not finished is not lost: it is done again when the task next starts.");
        }
        tasks_.KillAll();
        while (!tasks_.Empty()) WaitAndHandle(false, 1000);
    }

    void Relay(const std::string& task, pid_t pid, bool isError, const std::string& line) {
        if (isError) {
            Say(task + ": " + line);  // not logged by the task: log it here
        } else {
            output_.Write(line + "\n");
            ForwardTaskLine(pid, Unstamped(line));
        }
    }

    void ForwardTaskLine(pid_t pid, const std::string& text) {
        for (const auto& request : requests_) {
            if (request->finished || !(request->everyTask || request->pids.count(pid))) continue;
            request->Line('O', text);
            request->answered = true;
            request->quietEnd = Clock::now() + kAnswerQuiet;
        }
    }

    // ---- callers ----

    void AcceptCallers() {
        for (int fd; (fd = control_.Accept()) >= 0;) {
            auto request = std::make_unique<Request>();
            request->fd = fd;
            requests_.push_back(std::move(request));
        }
    }

    void ReadRequest(int fd) {
        for (auto& request : requests_) {
            if (request->fd != fd) continue;
            char buffer[4096];
            long n = ReadFromCaller(fd, buffer, sizeof(buffer));
            if (n < 0) return;
            if (n == 0) {
                request->Finish(1);  // the caller is gone: nothing more to send
                request->output.clear();
                return;
            }
            if (request->waiting != Request::Waiting::kCommand) return;  // one command a caller
            request->input.append(buffer, size_t(n));
            size_t newline = request->input.find('\n');
            if (newline == std::string::npos && request->input.size() <= LineInput::kMaxLine) return;
            InputLine line;
            line.text = request->input.substr(0, newline);
            line.length = line.text.size();
            if (line.length > LineInput::kMaxLine) line.text.clear();
            request->waiting = Request::Waiting::kNothing;
            int code = ExecuteLine(line, request.get());
            if (request->waiting == Request::Waiting::kNothing) request->Finish(code);
            return;
        }
    }

    void CheckWaits() {
        auto now = Clock::now();
        for (const auto& request : requests_) {
            bool answer = request->waiting == Request::Waiting::kAnswer;
            if (!answer && request->waiting != Request::Waiting::kStartUp) continue;
            if (answer && request->answered && now >= request->quietEnd) request->Finish(0);
            if (now < request->deadline) continue;
            if (answer && !request->answered)
                request->Line('E', "no answer from " + request->task + " within " + Seconds(settings_.waitSeconds) +
                                       " (it may be busy with a pass); its answer goes to console.log");
            if (!answer)
                request->Line('E', "the task is still starting after " + Seconds(settings_.waitSeconds) +
                                       "; show tasks tells more");
            request->Finish(0);
        }
    }

    void SendAnswers() {
        for (auto it = requests_.begin(); it != requests_.end();) {
            Request& request = **it;
            bool alive = request.Send();
            if (alive && !(request.finished && request.output.empty())) {
                ++it;
                continue;
            }
            CloseCaller(request.fd);
            it = requests_.erase(it);
        }
    }

    // At the end: every caller gets the rest of its answer (a quit's exit
    // status among them), within a few seconds.
    void EndRequests() {
        for (const auto& request : requests_) request->Finish(request->waiting == Request::Waiting::kCommand ? 1 : 0);
        auto deadline = Clock::now() + std::chrono::seconds(3);
        while (!requests_.empty() && Clock::now() < deadline) {
            SendAnswers();
            if (requests_.empty()) break;
            std::vector<Watch> watches;
            for (const auto& request : requests_) watches.push_back({Source::kCaller, request->fd, kWritable, 0});
            Wait(&watches, 100);
        }
        for (const auto& request : requests_) CloseCaller(request->fd);
        requests_.clear();
        output_.Flush();
    }

    // ---- lines ----

    void Say(const std::string& text) {
        NRTLogText(text.c_str());
        for (const auto& request : requests_)
            if (request.get() == current_ || request->waiting == Request::Waiting::kConsoleEnd) request->Line('O', text);
    }

    // Says text as a failure: a caller gets it on standard error, and the
    // exit status code. With pid, the callers waiting on that task get it.
    int Fail(const std::string& text, int code = 1, pid_t pid = 0) {
        NRTLogText(text.c_str());
        for (const auto& request : requests_)
            if (request.get() == current_ || (pid != 0 && request->pids.count(pid)) ||
                request->waiting == Request::Waiting::kConsoleEnd)
                request->Line('E', text);
        return code;
    }

    // Words typed at the console are shown, never interpreted.
    static std::string Printable(const std::string& word) {
        constexpr size_t kShown = 64;
        return word.size() > kShown ? word.substr(0, kShown) + "..." : word;
    }

    ConsoleSettings settings_;
    Output output_;
    LineInput input_;
    TaskTable tasks_;
    ControlSocket control_;
    std::vector<std::unique_ptr<Request>> requests_;
    Request* current_ = nullptr;
    bool quitRequested_ = false;
};

}  // namespace

int RunConsole(const ConsoleSettings& settings) {
    InstallStopRequests(settings.service);
    Console console(settings);
    return console.Run();
}

}  // namespace nserver
