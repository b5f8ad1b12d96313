// conslog.cpp - AddInLogMessageText and the log sink for tests.
//
// A message becomes one block of stamped lines. Blocks reach standard
// output and DATA/console.log whole, each write (of one block or of several
// gathered ones, see ConsoleWriter) a single write() or O_APPEND write(),
// so messages of concurrent tasks never interleave.
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

constexpr auto kGatherDelay = std::chrono::milliseconds(2);
constexpr size_t kMaxGathered = 64 * 1024;

// DATA/console.log stays open between the lines of one second: at most one
// open a second, and a log moved away (rotated) is opened afresh within a
// second.
struct ConsoleLogFile {
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

// One O_APPEND write of whole lines; the caller serializes.
void AppendToConsoleLog(ConsoleLogFile* log, const std::string& lines) {
    std::string dataDir = DataDirectory();
    std::string path = dataDir + "/console.log";
    std::time_t now = std::time(nullptr);
    if (log->fd >= 0 && (path != log->path || now != log->openedAt)) {
        close(log->fd);
        log->fd = -1;
    }
    if (log->fd < 0) {
        log->fd = OpenConsoleLog(dataDir, &log->failure);
        log->path = path;
        log->openedAt = now;
    }
    bool written = log->fd >= 0 && WriteAll(log->fd, lines);
    if (log->fd >= 0 && !written) log->failure = std::strerror(errno);
    if (!written && !log->reported) {
        log->reported = true;
        std::fprintf(stderr, "notesrt: cannot append to %s: %s\n", path.c_str(), log->failure.c_str());
    }
}

// Standard output and console.log, with the gathering of messages.
//
// A task's standard output is normally a pipe to the server console, whose
// reader is woken by every write, and each append to console.log is a
// write to the file system: at a line a note, either costs more than the
// rest of the line's work. So the messages of AddInLogMessageText bound for
// a pipe, and in a server task those bound for console.log, are gathered
// and written together, at most kGatherDelay after the first of them, by
// whichever comes first: a later message, the task's idle call, a flusher
// thread that no signal interrupts (signals still reach the task's own
// thread), the end of the task's add-in services, or the exit. console.log
// gets each line no later than standard output does.
class ConsoleWriter {
public:
    ConsoleWriter() { AtFork(LockForFork, UnlockInParent, UnlockInChild); }

    // Writes block to standard output and console.log, at once or, with
    // gather, within kGatherDelay. Blocks keep their order in each, and their
    // order with what the program printed itself: whatever stdio holds at a
    // call was printed after the gathered blocks and before this one.
    void Write(const std::string& block, bool toStdout, bool gather) {
        std::lock_guard<std::mutex> lock(mutex_);
        bool stdoutLater = gather && toStdout && StdoutIsPipe() && FlusherRunningLocked();
        bool logLater = gather && logGathers_ && FlusherRunningLocked();
        if (!logLater) {
            WriteLogLocked();
            AppendToConsoleLog(&log_, block);
        }
        if (toStdout && !stdoutLater) WriteStdoutLocked(block);
        if (!stdoutLater && !logLater) return;
        if (stdoutLater && MayHoldOutput(stdout)) {
            WriteGatheredLocked();
            std::fflush(stdout);
        }
        if (forStdout_.empty() && forLog_.empty()) {
            due_ = std::chrono::steady_clock::now() + kGatherDelay;
            wake_.notify_one();
        }
        if (stdoutLater) forStdout_ += block;
        if (logLater) forLog_ += block;
        if (forStdout_.size() + forLog_.size() >= kMaxGathered || std::chrono::steady_clock::now() >= due_)
            WriteGatheredLocked();
    }

    // Whether console.log's lines are gathered too; the lines gathered so
    // far are written when that ends.
    void GatherLog(bool gather) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!gather) WriteLogLocked();
        logGathers_ = gather;
    }

    void WriteGathered() {
        std::lock_guard<std::mutex> lock(mutex_);
        WriteGatheredLocked();
    }

    // At exit: what is gathered goes out (before what stdio still holds,
    // which exit writes after), and the flusher ends. A forked child has no
    // flusher to wake: its copy of the condition still counts the parent's
    // waiting flusher, and a notify there can wait for it for ever.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
            WriteGatheredLocked();
        }
        if (startedIn_ != ProcessId()) return;
        wake_.notify_one();
        if (flusher_.joinable()) flusher_.join();
    }

private:
    // What is gathered for standard output, stdio's own output, then block.
    void WriteStdoutLocked(const std::string& block) {
        if (!forStdout_.empty()) WriteAll(STDOUT_FILENO, forStdout_);
        forStdout_.clear();
        std::fflush(stdout);
        if (!block.empty()) WriteAll(STDOUT_FILENO, block);
    }

    void WriteLogLocked() {
        if (!forLog_.empty()) AppendToConsoleLog(&log_, forLog_);
        forLog_.clear();
    }

    // console.log first: a line the console shows is in the log already.
    void WriteGatheredLocked() {
        WriteLogLocked();
        if (!forStdout_.empty()) WriteAll(STDOUT_FILENO, forStdout_);
        forStdout_.clear();
    }

    // Starts the flusher on first use; false when it cannot run, and in a
    // forked child, which has no flusher.
    bool FlusherRunningLocked() {
        if (flusherTried_) return flusher_.joinable() && !stopping_ && startedIn_ == ProcessId();
        flusherTried_ = true;
        flusher_ = StartQuietThread([this] { RunFlusher(); });
        startedIn_ = ProcessId();
        if (flusher_.joinable()) std::atexit(StopAtExit);
        return flusher_.joinable();
    }

    void RunFlusher() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            if (forStdout_.empty() && forLog_.empty())
                wake_.wait(lock);
            else if (wake_.wait_until(lock, due_) == std::cv_status::timeout)
                WriteGatheredLocked();
        }
    }

    static void StopAtExit();
    // Fork: the child gets the writer whole, without the parent's gathered
    // lines, which the parent writes.
    static void LockForFork();
    static void UnlockInParent();
    static void UnlockInChild();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::string forStdout_;
    std::string forLog_;
    bool logGathers_ = false;
    std::chrono::steady_clock::time_point due_;
    std::thread flusher_;
    ConsoleLogFile log_;
    unsigned long startedIn_ = 0;
    bool flusherTried_ = false;
    bool stopping_ = false;
};

// Never destroyed: a forked child holds its parent's flusher, which it
// can neither join nor end.
ConsoleWriter& Console() {
    static ConsoleWriter* writer = new ConsoleWriter;
    return *writer;
}

void ConsoleWriter::StopAtExit() { Console().Stop(); }
void ConsoleWriter::LockForFork() { Console().mutex_.lock(); }
void ConsoleWriter::UnlockInParent() { Console().mutex_.unlock(); }
void ConsoleWriter::UnlockInChild() {
    ConsoleWriter& writer = Console();
    writer.forStdout_.clear();
    writer.forLog_.clear();
    writer.mutex_.unlock();
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
// The text is made once a second (per thread and zone).
std::string LocalTimeStamp() {
    struct Stamp {
        int64_t second = -1;
        Zone zone;
        std::string text;
    };
    thread_local Stamp stamp;
    int64_t gm = CurrentTicks();
    Zone zone = ServerZone();
    if (gm / 100 == stamp.second && zone.westMinutes == stamp.zone.westMinutes &&
        zone.observesDst == stamp.zone.observesDst)
        return stamp.text;
    WallClock clock = WallClockOf(gm - WallOffsetTicks(zone, gm));
    char text[32];
    std::snprintf(text, sizeof(text), "%04d/%02d/%02d %02d:%02d:%02d", clock.year, clock.month, clock.day,
                  clock.hour, clock.minute, clock.second);
    stamp = Stamp{gm / 100, zone, text};
    return stamp.text;
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

void WriteGatheredLog() { Console().WriteGathered(); }

void GatherConsoleLog(bool gather) { Console().GatherLog(gather); }

void LogText(const std::string& text, bool gather) {
    Sink& sink = LogSink();
    std::string block = StampedLines(text, LocalTimeStamp());
    {
        std::lock_guard<std::mutex> lock(sink.mutex);
        bool instead = sink.callback != nullptr && (sink.flags & NRT_LOGSINK_INSTEAD_OF_STDOUT);
        if (sink.callback != nullptr) sink.callback(sink.context, instead ? block.c_str() : text.c_str());
        if (sink.callback != nullptr && (sink.flags & NRT_LOGSINK_ONLY)) return;
        Console().Write(block, !instead, gather);
    }
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
