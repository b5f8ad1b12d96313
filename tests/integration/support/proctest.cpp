// proctest.cpp - the process harness (see proctest.h).
#include "proctest.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>

extern char** environ;

namespace proctest {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(int timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(Scaled(timeoutMs));
}

// The test's environment with the overrides applied.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> merged;
    auto keyOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        bool replaced = false;
        for (const std::string& item : overrides) replaced = replaced || keyOf(item) == keyOf(text);
        if (!replaced) merged.push_back(text);
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

std::vector<char*> CStrings(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the child: never returns.
[[noreturn]] void ExecChild(std::vector<std::string> argv, std::vector<std::string> env,
                            const StartOptions& options, int in, int out, int err) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // die with the test binary
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
    if (options.otherUser && (setgroups(0, nullptr) != 0 || setgid(options.otherUserGroup) != 0 ||
                              setuid(testenv::kOtherUser) != 0))
        _exit(125);
    std::vector<char*> args = CStrings(argv);
    std::vector<char*> vars = CStrings(env);
    execve(args[0], args.data(), vars.data());
    std::fprintf(stderr, "proctest: cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
}

}  // namespace

std::string BinDir() { return ZELREP_BIN_DIR; }
std::string BinPath(const std::string& program) { return BinDir() + "/" + program; }
std::string TestTaskDir() { return std::string(ZELREP_TEST_BIN_DIR) + "/tasks"; }
std::string SourceDir() { return ZELREP_SOURCE_DIR; }

int Scaled(int timeoutMs) {
    const char* scale = std::getenv("ZELREP_TEST_TIMEOUT_SCALE");
    double factor = scale ? std::atof(scale) : 1.0;
    return factor > 0 ? int(timeoutMs * factor) : timeoutMs;
}

bool Matches(const std::string& text, const std::string& regex) {
    return std::regex_search(text, std::regex(regex));
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

Process::~Process() {
    if (pid_ > 0 && !reaped_) Kill();
    if (stopFd_[1] >= 0 && write(stopFd_[1], "x", 1) < 0) {
        // The reader ends on end of file anyway.
    }
    if (reader_.joinable()) reader_.join();
    for (int fd : {stdinFd_, stopFd_[0], stopFd_[1]})
        if (fd >= 0) close(fd);
}

bool Process::Start(const std::vector<std::string>& argv, const StartOptions& options) {
    int in[2] = {-1, -1}, out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(stopFd_, O_CLOEXEC) != 0)
        return false;
    if (options.pipeStdin ? pipe2(in, O_CLOEXEC) != 0
                          : (in[0] = open("/dev/null", O_RDONLY | O_CLOEXEC)) < 0)
        return false;
    std::vector<std::string> env = MergedEnvironment(options.env);
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) ExecChild(argv, env, options, in[0], out[1], err[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdinFd_ = in[1];
    reader_ = std::thread(&Process::ReadOutput, this, out[0], err[0]);
    return true;
}

void Process::ReadOutput(int outFd, int errFd) {
    pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {stopFd_[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 3, -1) < 0 && errno != EINTR) break;
        if (fds[2].revents) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
            if (n > 0) {
                Append(i == 1, std::string(buffer, size_t(n)));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            close(fds[i].fd);
            fds[i].fd = -1;
            --open;
        }
    }
    for (int i = 0; i < 2; ++i)
        if (fds[i].fd >= 0) close(fds[i].fd);
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::string* partial : {&partialOut_, &partialErr_})
        if (!partial->empty()) lines_.push_back(*partial), partial->clear();
    readerDone_ = true;
    changed_.notify_all();
}

void Process::Append(bool isError, const std::string& chunk) {
    std::lock_guard<std::mutex> lock(mutex_);
    (isError ? err_ : out_) += chunk;
    std::string& partial = isError ? partialErr_ : partialOut_;
    partial += chunk;
    size_t newline;
    while ((newline = partial.find('\n')) != std::string::npos) {
        std::string line = partial.substr(0, newline);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(line);
        partial.erase(0, newline + 1);
    }
    changed_.notify_all();
}

bool Process::Write(const std::string& text) {
    size_t done = 0;
    while (stdinFd_ >= 0 && done < text.size()) {
        ssize_t n = write(stdinFd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return stdinFd_ >= 0;
}

void Process::CloseStdin() {
    if (stdinFd_ >= 0) close(stdinFd_);
    stdinFd_ = -1;
}

bool Process::WaitForLine(const std::string& regex, int timeoutMs, std::string* line) {
    std::regex pattern(regex);
    std::unique_lock<std::mutex> lock(mutex_);
    auto deadline = DeadlineAfter(timeoutMs);
    // Each line is looked at once: a pass logs a hundred thousand lines.
    for (size_t scanned = cursor_;;) {
        for (; scanned < lines_.size(); ++scanned) {
            if (!std::regex_search(lines_[scanned], pattern)) continue;
            cursor_ = scanned + 1;
            if (line) *line = lines_[scanned];
            return true;
        }
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return false;
    }
}

size_t Process::CountLocked(const std::regex& pattern) const {
    size_t count = 0;
    for (const std::string& line : lines_) count += std::regex_search(line, pattern) ? 1 : 0;
    return count;
}

size_t Process::CountLines(const std::string& regex) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return CountLocked(std::regex(regex));
}

bool Process::WaitForCount(const std::string& regex, size_t count, int timeoutMs) {
    std::regex pattern(regex);
    std::unique_lock<std::mutex> lock(mutex_);
    size_t scanned = 0, matched = 0;
    return changed_.wait_until(lock, DeadlineAfter(timeoutMs), [&] {
        for (; scanned < lines_.size(); ++scanned) matched += std::regex_search(lines_[scanned], pattern) ? 1 : 0;
        return matched >= count;
    });
}

std::vector<std::string> Process::OutputLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::string Process::Output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

std::string Process::Errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
}

void Process::Signal(int signal) {
    if (pid_ > 0 && !reaped_) kill(pid_, signal);
}

void Process::Kill() {
    Signal(SIGKILL);
    WaitExit(Scaled(5000));
}

bool Process::WaitExit(int timeoutMs, int* status) {
    auto deadline = DeadlineAfter(timeoutMs);
    while (!reaped_) {
        pid_t done = waitpid(pid_, &exitStatus_, WNOHANG);
        if (done == pid_ || (done < 0 && errno == ECHILD)) {
            reaped_ = true;
            break;
        }
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Let the reader take in the last output before the caller looks at it
    // (bounded: a grandchild may still hold the pipes open).
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return readerDone_; });
    if (status) *status = exitStatus_;
    return true;
}

int Process::WaitExitCode(int timeoutMs) {
    int status = 0;
    if (!WaitExit(timeoutMs, &status)) return -1;
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

bool Process::Running() {
    if (pid_ <= 0 || reaped_) return false;
    return !WaitExit(0);
}

RunResult Run(const std::vector<std::string>& argv, const std::string& input,
              const StartOptions& options, int timeoutMs) {
    Process process;
    StartOptions withInput = options;
    withInput.pipeStdin = true;
    RunResult result;
    if (!process.Start(argv, withInput)) return result;
    process.Write(input);
    process.CloseStdin();
    result.exitCode = process.WaitExitCode(timeoutMs);
    if (result.exitCode < 0) process.Kill();
    result.out = process.Output();
    result.err = process.Errors();
    return result;
}

bool Console::Start(const std::string& dataDir, const std::string& binDir,
                    const std::vector<std::string>& extraArgs, const std::vector<std::string>& env) {
    std::vector<std::string> argv = {BinPath("nserver")};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    argv.insert(argv.end(), {"--data", dataDir, "--bin", binDir});
    StartOptions options;
    options.pipeStdin = true;
    options.env = env;
    return Process::Start(argv, options);
}

int Console::Quit(int timeoutMs) {
    Command("quit");
    CloseStdin();
    return WaitExitCode(timeoutMs);
}

std::string ConsoleLog(const std::string& dataDir) {
    return testenv::ReadFile(dataDir + "/console.log");
}

bool WaitForLogLine(const std::string& dataDir, const std::string& regex, int timeoutMs) {
    auto deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        if (Matches(ConsoleLog(dataDir), regex)) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void ProcessTest::TearDown() {
    processes_.clear();  // kills what still runs
    DataDirTest::TearDown();
}

StartOptions ProcessTest::DataDirOptions() const {
    StartOptions options;
    options.env = {"NOTES_DATA_DIR=" + dataDir_};
    options.workDir = dataDir_;
    return options;
}

Process& ProcessTest::StartProgram(const std::vector<std::string>& argv, StartOptions options) {
    processes_.push_back(std::make_unique<Process>());
    EXPECT_TRUE(processes_.back()->Start(argv, options)) << argv[0];
    return *processes_.back();
}

Console& ProcessTest::StartConsole(const std::string& binDir,
                                   const std::vector<std::string>& extraArgs,
                                   const std::vector<std::string>& env) {
    auto console = std::make_unique<Console>();
    Console& started = *console;
    EXPECT_TRUE(console->Start(dataDir_, binDir, extraArgs, env));
    processes_.push_back(std::move(console));
    return started;
}

RunResult ProcessTest::RunProgram(const std::vector<std::string>& argv, const std::string& input) {
    return proctest::Run(argv, input, DataDirOptions());
}

RunResult ProcessTest::RunNsfdb(const std::vector<std::string>& args, const std::string& input) {
    std::vector<std::string> argv = {BinPath("nsfdb"), "--data", dataDir_};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, input);
}

std::string ProcessTest::Nsfdb(const std::vector<std::string>& args, const std::string& input) {
    RunResult result = RunNsfdb(args, input);
    EXPECT_EQ(0, result.exitCode) << result.err;
    return result.out;
}

}  // namespace proctest
