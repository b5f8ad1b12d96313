// conslog.cpp - AddInLogMessageText and the log sink for tests.
//
// A message becomes one block of stamped lines, written with a single
// write() to standard output and a single O_APPEND write() to
// DATA/console.log, so messages of concurrent tasks never interleave.
//
// A task's standard output is normally a pipe to the server console, whose
// reader is woken by every write: at a line a note, that wake-up costs more
// than the rest of the line's work. So the messages of AddInLogMessageText
// bound for a pipe are gathered and written together, at most kPipeDelay
// after the first of them, by whichever comes first: a later message, or a
// flusher thread that no signal interrupts (signals still reach the task's
// own thread). console.log always gets each message at once.
#include "conslog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "addin.h"
#include "env.h"
#include "nrt_server.h"
#include "platform.h"
#include "osmisc.h"
#include "status.h"
#include "timecalc.h"
#include "timeutil.h"

namespace nrt {
namespace {

struct Sink {
    std::mutex mutex;
    NRTLOGSINK callback = nullptr;
    void* context = nullptr;
    DWORD flags = 0;
};

Sink& LogSink() {
    static Sink sink;
    return sink;
}

// Writes all of data; false on failure.
bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

constexpr auto kPipeDelay = std::chrono::milliseconds(2);
constexpr size_t kMaxGathered = 64 * 1024;

// Standard output, with the gathering of messages bound for a pipe.
class StdoutWriter {
public:
    // Writes block at once, or, when gather is set and standard output is a
    // pipe, within kPipeDelay. Blocks keep their order, and their order with
    // what the program printed itself: whatever stdio holds at a call was
    // printed after the gathered blocks and before this one.
    void Write(const std::string& block, bool gather) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!gather || !StdoutIsPipe() || !FlusherRunningLocked()) {
            WriteGatheredLocked();
            std::fflush(stdout);
            WriteAll(STDOUT_FILENO, block);
            return;
        }
        if (MayHoldOutput(stdout)) {
            WriteGatheredLocked();
            std::fflush(stdout);
        }
        if (gathered_.empty()) {
            due_ = std::chrono::steady_clock::now() + kPipeDelay;
            wake_.notify_one();
        }
        gathered_ += block;
        if (gathered_.size() >= kMaxGathered || std::chrono::steady_clock::now() >= due_)
            WriteGatheredLocked();
    }

    void WriteGathered() {
        std::lock_guard<std::mutex> lock(mutex_);
        WriteGatheredLocked();
    }

    // At exit: what is gathered goes out (before what stdio still holds,
    // which exit writes after), and the flusher ends.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            WriteGatheredLocked();
        }
        wake_.notify_one();
        if (flusher_.joinable()) flusher_.join();
    }

private:
    void WriteGatheredLocked() {
        if (gathered_.empty()) return;
        WriteAll(STDOUT_FILENO, gathered_);
        gathered_.clear();
    }

    // Starts the flusher on first use; false when it cannot run.
    bool FlusherRunningLocked() {
        if (flusherTried_) return flusher_.joinable() && !stopping_;
        flusherTried_ = true;
        flusher_ = StartQuietThread([this] { RunFlusher(); });
        if (flusher_.joinable()) std::atexit(StopAtExit);
        return flusher_.joinable();
    }

    void RunFlusher() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            if (gathered_.empty())
                wake_.wait(lock);
            else if (wake_.wait_until(lock, due_) == std::cv_status::timeout)
                WriteGatheredLocked();
        }
    }

    static void StopAtExit();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::string gathered_;
    std::chrono::steady_clock::time_point due_;
    std::thread flusher_;
    bool flusherTried_ = false;
    bool stopping_ = false;
};

StdoutWriter& Stdout() {
    static StdoutWriter writer;
    return writer;
}

void StdoutWriter::StopAtExit() { Stdout().Stop(); }

// DATA/console.log stays open between the lines of one second: at most one
// open a second, and a log moved away (rotated) is opened afresh within a
// second.
struct ConsoleLogFile {
    std::mutex mutex;
    int fd = -1;
    std::string path;
    std::time_t openedAt = 0;
    std::string failure;  // why the log could not be written
    bool reported = false;
};

// Opens DATA/console.log for appending, created with the runtime's file mode;
// a log linked to a file outside the data directory is refused. -1 with
// the reason on failure.
int OpenConsoleLog(const std::string& dataDir, std::string* reason) {
    std::string real;
    STATUS status = RealPathInside(dataDir, dataDir + "/console.log", &real);
    if (status != NOERROR) {
        *reason = ErrorTextFor(status);
        return -1;
    }
    int fd = OpenCreating(real, O_WRONLY | O_APPEND);
    if (fd < 0) *reason = std::strerror(errno);
    return fd;
}

void AppendToConsoleLog(const std::string& block) {
    static ConsoleLogFile log;
    std::string dataDir = DataDirectory();
    std::string path = dataDir + "/console.log";
    std::time_t now = std::time(nullptr);
    std::lock_guard<std::mutex> lock(log.mutex);
    if (log.fd >= 0 && (path != log.path || now != log.openedAt)) {
        close(log.fd);
        log.fd = -1;
    }
    if (log.fd < 0) {
        log.fd = OpenConsoleLog(dataDir, &log.failure);
        log.path = path;
        log.openedAt = now;
    }
    bool written = log.fd >= 0 && WriteAll(log.fd, block);
    if (log.fd >= 0 && !written) log.failure = std::strerror(errno);
    if (!written && !log.reported) {
        log.reported = true;
        std::fprintf(stderr, "notesrt: cannot append to %s: %s\n", path.c_str(), log.failure.c_str());
    }
}

// Newlines (and carriage returns) at both ends are dropped.
std::string TrimNewlines(const std::string& text) {
    size_t begin = text.find_first_not_of("\r\n");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of("\r\n");
    return text.substr(begin, end - begin + 1);
}

char Printable(char c) {
    unsigned char u = (unsigned char)c;
    return (u < 0x20 && c != '\t') || u == 0x7F ? '?' : c;
}

}  // namespace

std::string FormatBounded(const char* format, va_list args) {
    if (format == nullptr) return "";
    char buffer[kMaxFormattedText + 1];
    int n = std::vsnprintf(buffer, sizeof(buffer), format, args);
    if (n < 0) return "";
    return std::string(buffer, size_t(n) < sizeof(buffer) ? size_t(n) : kMaxFormattedText);
}

// The server's local time (notes.ini's zone, as Notes times show it).
std::string LocalTimeStamp() {
    int64_t gm = CurrentTicks();
    WallClock clock = WallClockOf(gm - WallOffsetTicks(ServerZone(), gm));
    char text[32];
    std::snprintf(text, sizeof(text), "%04d/%02d/%02d %02d:%02d:%02d", clock.year, clock.month, clock.day,
                  clock.hour, clock.minute, clock.second);
    return text;
}

std::string StampedLines(const std::string& text, const std::string& stamp) {
    std::string body = TrimNewlines(text);
    std::string block = stamp + "  ";
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n') continue;
        if (body[i] == '\n')
            block += "\n" + stamp + "  ";
        else
            block += Printable(body[i]);
    }
    return block + "\n";
}

void WriteGatheredLog() { Stdout().WriteGathered(); }

void LogText(const std::string& text, bool gather) {
    Sink& sink = LogSink();
    std::string block = StampedLines(text, LocalTimeStamp());
    {
        std::lock_guard<std::mutex> lock(sink.mutex);
        bool instead = sink.callback != nullptr && (sink.flags & NRT_LOGSINK_INSTEAD_OF_STDOUT);
        if (sink.callback != nullptr) sink.callback(sink.context, instead ? block.c_str() : text.c_str());
        if (sink.callback != nullptr && (sink.flags & NRT_LOGSINK_ONLY)) return;
        if (!instead) Stdout().Write(block, gather);
    }
    AppendToConsoleLog(block);
}

}  // namespace nrt

extern "C" {

void LNPUBLIC AddInLogMessageText(const char* format, DWORD status, ...) {
    va_list args;
    va_start(args, status);
    std::string text = nrt::FormatBounded(format, args);
    va_end(args);
    STATUS code = ERR((STATUS)status);
    if (code != NOERROR) {
        char error[256];
        OSLoadString(NULLHANDLE, code, error, sizeof(error) - 1);
        if (error[0] == '\0') std::snprintf(error, sizeof(error), "Error 0x%04X", code);
        text += ": ";
        text += error;
    }
    nrt::LogText(text, true);
}

void LNPUBLIC NRTLogText(const char* text) { nrt::LogText(text ? text : "", false); }

void LNPUBLIC NRTSetLogSink(NRTLOGSINK sink, void* context, DWORD flags) {
    nrt::Sink& target = nrt::LogSink();
    std::lock_guard<std::mutex> lock(target.mutex);
    target.callback = sink;
    target.context = sink ? context : nullptr;
    target.flags = sink ? flags : 0;
}

}  // extern "C"
