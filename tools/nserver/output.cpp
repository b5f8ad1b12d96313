// output.cpp - standard output that never blocks the console (see
// output.h).
//
// The descriptor is shared with whoever started the console, so it is not
// switched to non-blocking mode; instead each write is only made when poll
// says the descriptor takes it, and is kept small enough for what that
// promise covers: a pipe then has room for PIPE_BUF bytes, a terminal for
// a little less than 256 characters once newlines become two. Sockets (a
// service's journal) take MSG_DONTWAIT; files never block.
#include "output.h"

#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace nserver {

Output::Output() : kind_(Kind::kFile) {
    struct stat info;
    if (fstat(Fd(), &info) != 0) return;
    if (S_ISFIFO(info.st_mode)) kind_ = Kind::kPipe;
    if (S_ISSOCK(info.st_mode)) kind_ = Kind::kSocket;
    if (isatty(Fd())) kind_ = Kind::kTerminal;
}

size_t Output::Chunk() const {
    switch (kind_) {
    case Kind::kPipe:
        return PIPE_BUF;
    case Kind::kTerminal:
        return 120;
    default:
        return pending_.size();
    }
}

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
    if (kind_ == Kind::kPipe || kind_ == Kind::kTerminal) {
        pollfd ready = {Fd(), POLLOUT, 0};
        if (poll(&ready, 1, 0) != 1 || !(ready.revents & POLLOUT)) return false;
    }
    size_t size = std::min(Chunk(), pending_.size());
    ssize_t n = kind_ == Kind::kSocket ? send(Fd(), pending_.data(), size, MSG_DONTWAIT | MSG_NOSIGNAL)
                                       : write(Fd(), pending_.data(), size);
    if (n < 0 && errno == EINTR) return true;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (n <= 0) {
        pending_.clear();  // output is gone for good (closed terminal, reader ended)
        return false;
    }
    pending_.erase(0, size_t(n));
    return true;
}

}  // namespace nserver
