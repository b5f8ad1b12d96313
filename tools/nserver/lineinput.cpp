// lineinput.cpp - console input with readline's callback interface (so the
// console can relay task output while a line is being typed) or plain
// reads of standard input.
#include "lineinput.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <readline/history.h>
#include <readline/readline.h>

namespace nserver {
namespace {

const char kPrompt[] = "> ";
// readline's line callback takes no context: the one interactive input.
LineInput* g_interactive = nullptr;

}  // namespace

LineInput::LineInput(bool interactive) : interactive_(interactive) {
    if (!interactive_) return;
    g_interactive = this;
    rl_callback_handler_install(kPrompt, &LineInput::OnReadlineLine);
}

LineInput::~LineInput() { Stop(); }

void LineInput::Stop() {
    if (interactive_ && g_interactive == this) {
        rl_callback_handler_remove();
        g_interactive = nullptr;
    }
    ended_ = true;
}

int LineInput::Fd() const { return STDIN_FILENO; }

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
    if (*line != '\0') add_history(line);
    if (self->sink_ != nullptr) self->TakeLine(line, self->sink_);
    std::free(line);
}

void LineInput::ReadPlain(std::vector<InputLine>* lines) {
    char buffer[65536];
    ssize_t n = read(STDIN_FILENO, buffer, sizeof(buffer));
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        if (!partial_.empty() || overlong_ > 0) TakeLine(partial_, lines);
        partial_.clear();
        ended_ = true;
        return;
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] == '\n') {
            TakeLine(partial_, lines);
            partial_.clear();
        } else if (overlong_ > 0) {
            ++overlong_;
        } else if (partial_.size() == kMaxLine) {
            overlong_ = partial_.size() + 1;  // drop the rest of this line
            partial_.clear();
        } else {
            partial_ += buffer[i];
        }
    }
}

void LineInput::TakeLine(std::string text, std::vector<InputLine>* lines) {
    InputLine line;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    line.length = overlong_ > 0 ? overlong_ : text.size();
    if (overlong_ == 0 && text.size() <= kMaxLine) line.text = std::move(text);
    overlong_ = 0;
    lines->push_back(std::move(line));
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
