// output.h - the console's standard output, written without ever blocking
// the console: what the terminal, pipe or socket cannot take at once waits
// here (up to a limit) and goes out when it can. Should the reader stop
// reading, lines beyond the limit are dropped and counted; console.log
// still has every one of them. So a stalled reader never keeps the console
// from its tasks or from a stop request.
#ifndef ZELREP_NSERVER_OUTPUT_H
#define ZELREP_NSERVER_OUTPUT_H

#include <cstddef>
#include <functional>
#include <string>

namespace nserver {

class Output {
public:
    static constexpr size_t kMaxPending = 1 << 20;

    // Queues text (whole lines) and writes what can be written now.
    void Write(const std::string& text);
    // Writes more of what waits; call when standard output is reported
    // writable.
    void Flush();
    // True when text waits for the descriptor to be writable.
    bool Pending() const { return !pending_.empty() || dropped_ > 0; }
    // Runs around every actual write (the console hides its prompt).
    void SetWriteGuard(std::function<void(const std::function<void()>&)> guard) { guard_ = std::move(guard); }

private:
    bool WriteSome();

    std::string pending_;
    size_t dropped_ = 0;
    std::function<void(const std::function<void()>&)> guard_;
};

}  // namespace nserver

#endif
