// output.cpp - standard output that never blocks the console (see
// output.h). How much one write may carry without blocking, and the write
// itself, are the platform's (consoleos.h).
#include "output.h"

#include <algorithm>

#include "consoleos.h"

namespace nserver {

void Output::Write(const std::string& text) {
    if (pending_.size() + text.size() > kMaxPending) {
        dropped_ += std::max<size_t>(1, size_t(std::count(text.begin(), text.end(), '\n')));
        return;
    }
    pending_ += text;
    Flush();
}

void Output::Flush() {
    if (!Pending()) return;
    auto writeAll = [this] {
        while (WriteSome()) {
        }
    };
    if (guard_)
        guard_(writeAll);
    else
        writeAll();
}

// One write of what waits; false when nothing more can go now.
bool Output::WriteSome() {
    if (pending_.empty() && dropped_ > 0) {
        pending_ = "nserver: " + std::to_string(dropped_) +
                   " lines not shown here (standard output was not read); console.log has them\n";
        dropped_ = 0;
    }
    if (pending_.empty()) return false;
    size_t chunk = OutputChunk();
    long n = WriteOutput(pending_.data(), chunk == 0 ? pending_.size() : std::min(chunk, pending_.size()));
    if (n == 0) return false;
    if (n < 0) {
        pending_.clear();  // output is gone for good (closed terminal, reader ended)
        return false;
    }
    pending_.erase(0, size_t(n));
    return true;
}

}  // namespace nserver
