// lineinput.cpp - console input read plainly, line by line, on every
// platform: what standard input holds when it is not a terminal the
// console edits lines on (lineinput_readline.cpp), and all input where
// there is no line editing (lineinput_plain.cpp).
#include "lineinput.h"

#include "consoleos.h"

namespace nserver {

void LineInput::ReadPlain(std::vector<InputLine>* lines) {
    char buffer[65536];
    long n = ReadInput(buffer, sizeof(buffer));
    if (n < 0) return;
    if (n == 0) {
        if (!partial_.empty() || overlong_ > 0) TakeLine(partial_, lines);
        partial_.clear();
        ended_ = true;
        return;
    }
    for (long i = 0; i < n; ++i) {
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

}  // namespace nserver
