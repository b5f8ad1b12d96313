// lineinput.h - where console commands come from: a terminal with line
// editing, completion and history kept in a file (readline, on POSIX), or
// any other standard input read line by line. Output written through
// WithPromptHidden never tears the prompt or a half-typed line. Windows
// builds read plain lines only (lineinput_plain.cpp): the Windows console
// edits the line itself before the program reads it.
#ifndef ZELREP_NSERVER_LINEINPUT_H
#define ZELREP_NSERVER_LINEINPUT_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace nserver {

struct InputLine {
    std::string text;   // empty when the line was too long
    size_t length = 0;  // characters typed, also for a line too long
};

class LineInput {
public:
    // Longest command line taken; a longer one is reported and dropped.
    static constexpr size_t kMaxLine = 4096;

    // Candidates for the word being typed, given the line before it.
    using Completer = std::function<std::vector<std::string>(const std::string& before)>;

    // On a terminal (interactive): the prompt, and the history file (none
    // when empty), read at start and appended to with every line.
    LineInput(bool interactive, const std::string& prompt = "> ", const std::string& historyFile = "");
    ~LineInput();
    LineInput(const LineInput&) = delete;
    LineInput& operator=(const LineInput&) = delete;

    bool Interactive() const { return interactive_; }
    bool Ended() const { return ended_; }
    // Reads what standard input holds now; complete lines go to *lines.
    void ReadAvailable(std::vector<InputLine>* lines);
    // Runs write (which prints to standard output) with the prompt hidden.
    void WithPromptHidden(const std::function<void()>& write);
    // Stops reading (the console is quitting).
    void Stop();
    // Drops the half-typed line and shows a fresh prompt (Ctrl-C).
    void ClearLine();
    void SetCompleter(Completer completer) { completer_ = std::move(completer); }

private:
    void ReadPlain(std::vector<InputLine>* lines);
    void TakeLine(std::string text, std::vector<InputLine>* lines);
    static void OnReadlineLine(char* line);
    static char** Complete(const char* text, int start, int end);
    static char* NextCandidate(const char* text, int state);

    bool interactive_;
    bool ended_ = false;
    std::string partial_;
    size_t overlong_ = 0;  // length of a line being dropped, 0 if none
    std::vector<InputLine>* sink_ = nullptr;
    std::string prompt_;
    std::string historyFile_;
    Completer completer_;
    std::vector<std::string> candidates_;
};

}  // namespace nserver

#endif
