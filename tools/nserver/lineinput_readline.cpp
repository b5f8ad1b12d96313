// lineinput_readline.cpp - console input at a terminal with readline's
// callback interface (so the console can relay task output while a line is
// being typed); other input is read plainly (lineinput.cpp). readline
// leaves the signals to the console, which turns Ctrl-C into ClearLine.
#include "lineinput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <readline/history.h>
#include <readline/readline.h>

namespace nserver {
namespace {

// readline's callbacks take no context: the one interactive input.
LineInput* g_interactive = nullptr;
constexpr int kHistoryLines = 1000;

// The history file, made for the owner only when missing.
void LoadHistory(const std::string& file) {
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
    read_history(file.c_str());
    history_truncate_file(file.c_str(), kHistoryLines);
}

}  // namespace

LineInput::LineInput(bool interactive, const std::string& prompt, const std::string& historyFile)
    : interactive_(interactive), prompt_(prompt), historyFile_(historyFile) {
    if (!interactive_) return;
    g_interactive = this;
    rl_catch_signals = 0;
    rl_catch_sigwinch = 1;
    rl_attempted_completion_function = &LineInput::Complete;
    stifle_history(kHistoryLines);
    if (!historyFile_.empty()) LoadHistory(historyFile_);
    rl_callback_handler_install(prompt_.c_str(), &LineInput::OnReadlineLine);
}

LineInput::~LineInput() { Stop(); }

void LineInput::Stop() {
    if (interactive_ && g_interactive == this) {
        rl_callback_handler_remove();
        g_interactive = nullptr;
    }
    ended_ = true;
}

void LineInput::ReadAvailable(std::vector<InputLine>* lines) {
    if (ended_) return;
    if (!interactive_) return ReadPlain(lines);
    sink_ = lines;
    rl_callback_read_char();
    sink_ = nullptr;
}

void LineInput::OnReadlineLine(char* line) {
    LineInput* self = g_interactive;
    if (self == nullptr) return std::free(line);
    if (line == nullptr) {  // end of input (Ctrl-D)
        self->ended_ = true;
        return;
    }
    if (*line != '\0') {
        add_history(line);
        if (!self->historyFile_.empty()) append_history(1, self->historyFile_.c_str());
    }
    if (self->sink_ != nullptr) self->TakeLine(line, self->sink_);
    std::free(line);
}

void LineInput::ClearLine() {
    if (!interactive_ || g_interactive != this) return;
    rl_replace_line("", 0);
    rl_point = rl_end = 0;
    std::fputs("^C\n", rl_outstream ? rl_outstream : stdout);
    std::fflush(rl_outstream ? rl_outstream : stdout);
    rl_on_new_line();
    rl_forced_update_display();
}

char** LineInput::Complete(const char* text, int start, int /*end*/) {
    rl_attempted_completion_over = 1;  // no file names
    LineInput* self = g_interactive;
    if (self == nullptr || !self->completer_) return nullptr;
    self->candidates_ = self->completer_(std::string(rl_line_buffer, size_t(start)));
    return rl_completion_matches(text, &LineInput::NextCandidate);
}

// readline's generator: the candidates that start with text, case aside.
char* LineInput::NextCandidate(const char* text, int state) {
    static size_t next;
    LineInput* self = g_interactive;
    if (self == nullptr) return nullptr;
    if (state == 0) next = 0;
    size_t length = std::strlen(text);
    while (next < self->candidates_.size()) {
        const std::string& candidate = self->candidates_[next++];
        if (strncasecmp(candidate.c_str(), text, length) == 0) return strdup(candidate.c_str());
    }
    return nullptr;
}

void LineInput::WithPromptHidden(const std::function<void()>& write) {
    bool prompt = interactive_ && g_interactive == this;
    if (prompt) {
        rl_clear_visible_line();
        std::fflush(rl_outstream ? rl_outstream : stdout);  // before write() bypasses stdio
    }
    write();
    if (prompt) rl_forced_update_display();
}

}  // namespace nserver
