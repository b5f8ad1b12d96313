// lineinput_plain.cpp - console input where the console does no line
// editing of its own (Windows): every input is read line by line, so there
// is no prompt to hide, no line to clear and no completion.
#include "lineinput.h"

namespace nserver {

LineInput::LineInput(bool /*interactive*/, const std::string& prompt, const std::string& historyFile)
    : interactive_(false), prompt_(prompt), historyFile_(historyFile) {}

LineInput::~LineInput() { Stop(); }

void LineInput::Stop() { ended_ = true; }

void LineInput::ReadAvailable(std::vector<InputLine>* lines) {
    if (!ended_) ReadPlain(lines);
}

void LineInput::ClearLine() {}

void LineInput::WithPromptHidden(const std::function<void()>& write) { write(); }

}  // namespace nserver
