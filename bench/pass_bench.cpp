// pass_bench.cpp - the publication pass as an administrator feels it: for
// directories of several sizes made by `nsfdb sample`, nserver loads zelrep
// (trace NORMAL, a filter of 12 Person and 3 Group attributes) and runs
//   - a migration pass (MIGRATE ON until "ZEL Replication complete"): notes
//     per second, the task's peak resident set, the output database's size;
//   - incremental passes over 100, 1,000 and 10,000 modified people in turn
//     (REPLICATE until "ZEL Replication complete"), so that the time of a
//     pass can be seen against the changes it publishes.
// Each pass is compared with its floor, measured in the same run: the same
// reads of the changed notes and the same writes of the change documents
// done directly with SQLite in one transaction, synced to disk as the
// pass's groups are. The machine's fdatasync
// latency (median of 1,000) is printed beside the figures.
//
// With --operator-view, for one size (default 100,000 people), it measures
// instead what the server statistics and the pass history cost: rounds
// with them on and off (notes.ini ZelrepStatistics=0, ZelrepHistoryDays=0)
// in the order on, off, off, on, on, off, off, on after one round not
// counted (the first migration after the set-up is the slowest), each round
// a migration into a new output database and five incremental passes of
// 1,000 changes; the medians of each setting and their ratio.
//
// Usage: pass_bench [--plot-data FILE] [PEOPLE...] (default 10000 100000
// 300000; at least 10,000 each); pass_bench --operator-view [PEOPLE]. Works
// in a temporary data directory per size, removed at the end; needs
// nserver, nsfdb and zelrep in the build's bin/ directory.
// Owned by the benchmarks; bench/pass.sh runs it and draws bench/pass.png.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "benchutil.h"
#include "idtable.h"
#include "nrt_env.h"
#include "nsfdb.h"
#include "nsfnote.h"

using benchutil::CheckSql;
using benchutil::Prepare;
using benchutil::Seconds;

namespace {

constexpr int kChanges = 1000;
// The incremental passes of each size, in this order.
const int kIncrementalChanges[] = {100, kChanges, 10000};
constexpr int kLeastPeople = 10000;
constexpr int kSyncRounds = 1000;
constexpr int kPeoplePerGroup = 200;
constexpr double kPassTimeoutSeconds = 1800;
const char kInstance[] = "BENCH";
const char kPassDone[] = "BENCH: ZEL Replication complete";

const char kFilter[] =
    "<publisher-filter>\n"
    "  <allow-class class-name=\"Person\">\n"
    "    <allow-attr attr-name=\"FirstName\"/> <allow-attr attr-name=\"LastName\"/>\n"
    "    <allow-attr attr-name=\"FullName\"/> <allow-attr attr-name=\"ShortName\"/>\n"
    "    <allow-attr attr-name=\"InternetAddress\"/> <allow-attr attr-name=\"MailAddress\"/>\n"
    "    <allow-attr attr-name=\"OfficePhoneNumber\"/> <allow-attr attr-name=\"Department\"/>\n"
    "    <allow-attr attr-name=\"JobTitle\"/> <allow-attr attr-name=\"CompanyName\"/>\n"
    "    <allow-attr attr-name=\"Location\"/> <allow-attr attr-name=\"MailServer\"/>\n"
    "  </allow-class>\n"
    "  <allow-class class-name=\"Group\">\n"
    "    <allow-attr attr-name=\"Members\"/> <allow-attr attr-name=\"ListDescription\"/>\n"
    "    <allow-attr attr-name=\"GroupType\"/>\n"
    "  </allow-class>\n"
    "</publisher-filter>\n";

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "pass_bench: %s\n", message.c_str());
    std::exit(1);
}

void Check(STATUS status, const char* what) {
    if (status != NOERROR) Die(std::string(what) + " failed with status " + std::to_string(status));
}

// Runs a program to its end with its output in a file; dies on failure.
void RunProgram(const std::vector<std::string>& argv, const std::string& outputPath) {
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Die(argv[0] + " " + argv[1] + " failed; see " + outputPath);
}

// nserver with commands through a pipe and its output in a file, which
// waits follow from the end of the previous match. A file keeps the
// reader's cost off the machine while the pass runs.
class Server {
public:
    Server(const std::string& bin, const std::string& dataDir) : outPath_(dataDir + "/server.out") {
        // A file left by an earlier server must not be read as this one's.
        unlink(outPath_.c_str());
        int pipeFds[2];
        if (pipe(pipeFds) != 0) Die("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(pipeFds[0], STDIN_FILENO);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            close(pipeFds[1]);
            std::string nserver = bin + "/nserver";
            execl(nserver.c_str(), nserver.c_str(), "--data", dataDir.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(pipeFds[0]);
        in_ = pipeFds[1];
    }
    ~Server() {
        if (in_ >= 0) close(in_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
        if (out_ >= 0) close(out_);
    }

    void Send(const std::string& line) {
        std::string text = line + "\n";
        if (write(in_, text.data(), text.size()) != (ssize_t)text.size()) Die("command to nserver");
    }

    // The first line after the last match that contains text.
    std::string WaitFor(const std::string& text, double timeoutSeconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
        for (;;) {
            size_t end;
            while ((end = pending_.find('\n')) != std::string::npos) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                if (line.find(text) != std::string::npos) return line;
            }
            if (!ReadMore()) {
                if (std::chrono::steady_clock::now() > deadline)
                    Die("no line \"" + text + "\" from nserver; see " + outPath_);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
    }

    void Quit() {
        Send("quit");
        close(in_);
        in_ = -1;
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    bool ReadMore() {
        if (out_ < 0) out_ = open(outPath_.c_str(), O_RDONLY);
        char buffer[65536];
        ssize_t n = out_ < 0 ? 0 : read(out_, buffer, sizeof buffer);
        if (n <= 0) return false;
        pending_.append(buffer, (size_t)n);
        return true;
    }

    std::string outPath_;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;
};

long PeakResidentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Seconds of processor time (user and system) the process has used.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) user = std::stoull(field);
        if (index == 15) system = std::stoull(field);
    }
    return double(user + system) / (double)sysconf(_SC_CLK_TCK);
}

// The numbers of "N entries found, M updated".
void PassCounts(const std::string& line, long* found, long* updated) {
    size_t at = line.find(" entries found, ");
    size_t start = line.rfind(' ', at - 1) + 1;
    *found = std::atol(line.c_str() + start);
    *updated = std::atol(line.c_str() + at + std::strlen(" entries found, "));
}

// ---- the floor: the same reads and writes straight in SQLite ----------

struct StoredItem {
    std::string name, value;
    int64_t type, flags, ticks;
};

struct Document {
    int64_t columns[7];  // the notes row
    std::vector<StoredItem> items;
};

std::vector<int64_t> LiveDocumentIds(const std::string& path) {
    sqlite3* db = benchutil::OpenRaw(path);
    sqlite3_stmt* select = Prepare(db, "SELECT note_id FROM notes WHERE class & 1 AND deleted = 0 ORDER BY note_id");
    std::vector<int64_t> ids;
    while (sqlite3_step(select) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(select, 0));
    sqlite3_finalize(select);
    sqlite3_close(db);
    return ids;
}

std::string Column(sqlite3_stmt* statement, int column) {
    const char* bytes = (const char*)sqlite3_column_blob(statement, column);
    return bytes ? std::string(bytes, (size_t)sqlite3_column_bytes(statement, column)) : std::string();
}

int64_t LastNoteId(const std::string& path) {
    sqlite3* db = benchutil::OpenRaw(path);
    sqlite3_stmt* select = Prepare(db, "SELECT max(note_id) FROM notes");
    CheckSql(sqlite3_step(select), db, "last note");
    int64_t last = sqlite3_column_int64(select, 0);
    sqlite3_finalize(select);
    sqlite3_close(db);
    return last;
}

// The documents a pass wrote: those with note IDs in (after, upTo].
std::vector<Document> DocumentsBetween(const std::string& path, int64_t after, int64_t upTo) {
    sqlite3* db = benchutil::OpenRaw(path);
    sqlite3_stmt* notes = Prepare(db, "SELECT * FROM notes WHERE note_id > ? AND note_id <= ? AND class & 1 "
                                      "ORDER BY note_id");
    sqlite3_stmt* items = Prepare(db, "SELECT name, type, flags, value, modified_ticks FROM items "
                                      "WHERE note_id = ? ORDER BY position");
    sqlite3_bind_int64(notes, 1, after);
    sqlite3_bind_int64(notes, 2, upTo);
    std::vector<Document> documents;
    while (sqlite3_step(notes) == SQLITE_ROW) {
        Document document;
        for (int column = 0; column < 7; ++column) document.columns[column] = sqlite3_column_int64(notes, column);
        sqlite3_bind_int64(items, 1, document.columns[0]);
        while (sqlite3_step(items) == SQLITE_ROW)
            document.items.push_back({Column(items, 0), Column(items, 3), sqlite3_column_int64(items, 1),
                                      sqlite3_column_int64(items, 2), sqlite3_column_int64(items, 4)});
        sqlite3_reset(items);
        documents.push_back(std::move(document));
    }
    sqlite3_finalize(notes);
    sqlite3_finalize(items);
    sqlite3_close(db);
    return documents;
}

// Reads each source note (row and items, as opening it does) and writes
// each document into an empty database of the runtime's schema, all in
// one transaction per database. Returns the seconds taken.
double FloorSeconds(const std::string& dataDir, const std::vector<int64_t>& sources,
                    const std::vector<Document>& documents, const std::string& floorName) {
    Check(NSFDbCreate(floorName.c_str(), DBCLASS_NOTEFILE, FALSE), "NSFDbCreate of the floor");
    sqlite3* input = benchutil::OpenRaw(dataDir + "/names.nsf");
    sqlite3* output = benchutil::OpenRaw(dataDir + "/" + floorName);
    // Durable as the pass is: the commit is synced before it returns.
    CheckSql(sqlite3_exec(output, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr), output, "pragma");
    sqlite3_stmt* read = Prepare(input,
                                 "SELECT n.class, n.unid_file, n.unid_note, n.sequence, n.sequence_ticks, "
                                 "n.deleted, i.name, i.type, i.flags, i.value, i.modified_ticks "
                                 "FROM notes n LEFT JOIN items i ON i.note_id = n.note_id "
                                 "WHERE n.note_id = ? ORDER BY i.position");
    sqlite3_stmt* note = Prepare(output, "INSERT INTO notes VALUES (?, ?, ?, ?, ?, ?, ?)");
    sqlite3_stmt* item = Prepare(output, "INSERT INTO items VALUES (?, ?, ?, ?, ?, ?, ?)");
    sqlite3_stmt* counters = Prepare(output, "UPDATE database SET last_sequence_ticks = ?, next_note_id = ?, "
                                             "data_modified_ticks = ? WHERE id = 1");
    size_t bytesRead = 0;
    double seconds = Seconds([&] {
        CheckSql(sqlite3_exec(input, "BEGIN", nullptr, nullptr, nullptr), input, "begin");
        CheckSql(sqlite3_exec(output, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), output, "begin");
        for (size_t n = 0; n < std::max(sources.size(), documents.size()); ++n) {
            if (n < sources.size()) {
                sqlite3_bind_int64(read, 1, sources[n]);
                while (sqlite3_step(read) == SQLITE_ROW) {
                    sqlite3_column_blob(read, 6);
                    sqlite3_column_blob(read, 9);
                    bytesRead += (size_t)sqlite3_column_bytes(read, 9);
                }
                sqlite3_reset(read);
            }
            if (n >= documents.size()) continue;
            const Document& document = documents[n];
            for (int column = 0; column < 7; ++column) sqlite3_bind_int64(note, column + 1, document.columns[column]);
            CheckSql(sqlite3_step(note), output, "insert note");
            sqlite3_reset(note);
            int64_t position = 0;
            for (const StoredItem& stored : document.items) {
                sqlite3_bind_int64(item, 1, document.columns[0]);
                sqlite3_bind_int64(item, 2, position++);
                sqlite3_bind_blob(item, 3, stored.name.data(), (int)stored.name.size(), SQLITE_STATIC);
                sqlite3_bind_int64(item, 4, stored.type);
                sqlite3_bind_int64(item, 5, stored.flags);
                sqlite3_bind_blob(item, 6, stored.value.data(), (int)stored.value.size(), SQLITE_STATIC);
                sqlite3_bind_int64(item, 7, stored.ticks);
                CheckSql(sqlite3_step(item), output, "insert item");
                sqlite3_reset(item);
            }
        }
        const int64_t* last = documents.empty() ? nullptr : documents.back().columns;
        sqlite3_bind_int64(counters, 1, last ? last[5] : 0);
        sqlite3_bind_int64(counters, 2, last ? last[0] + 4 : 4);
        sqlite3_bind_int64(counters, 3, last ? last[5] : 0);
        CheckSql(sqlite3_step(counters), output, "counters");
        CheckSql(sqlite3_exec(output, "COMMIT", nullptr, nullptr, nullptr), output, "commit");
        CheckSql(sqlite3_exec(input, "COMMIT", nullptr, nullptr, nullptr), input, "commit");
    });
    if (bytesRead == 0 && !sources.empty()) Die("the floor read nothing");
    for (sqlite3_stmt* statement : {read, note, item, counters}) sqlite3_finalize(statement);
    sqlite3_close(input);
    sqlite3_close(output);
    return seconds;
}

// ---- the directory and its changes ---------------------------------------

// Changes the office phone of count people drawn at random (the same ones
// for the same count); round makes each round's values new. Their note IDs.
std::vector<int64_t> ChangePeople(int round, int count = kChanges) {
    DBHANDLE db = NULLHANDLE;
    Check(NSFDbOpen("names.nsf", &db), "NSFDbOpen names.nsf");
    TIMEDATE wildcard{{0xFFFFFFFF, 0xFFFFFFFF}}, until{};
    DHANDLE table = NULLHANDLE;
    Check(NSFDbGetModifiedNoteTable(db, NOTE_CLASS_DOCUMENT, wildcard, &until, &table), "modified table");
    std::vector<NOTEID> ids;
    DWORD id = 0;
    for (BOOL first = TRUE; IDScan(table, first, &id); first = FALSE) ids.push_back(id);
    IDDestroyTable(table);
    std::mt19937 random(7);
    std::shuffle(ids.begin(), ids.end(), random);
    std::vector<int64_t> changed;
    for (size_t n = 0; n < ids.size() && changed.size() < (size_t)count; ++n) {
        NOTEHANDLE note = NULLHANDLE;
        Check(NSFNoteOpen(db, ids[n], 0, &note), "NSFNoteOpen");
        char type[32];
        NSFItemGetText(note, "Type", type, sizeof type);
        if (std::strcmp(type, "Person") == 0) {
            std::string phone = "+1 555 " + std::to_string(100 + round) + " " + std::to_string(1000 + changed.size());
            Check(NSFItemSetText(note, "OfficePhoneNumber", phone.c_str(), (WORD)phone.size()), "set phone");
            Check(NSFNoteUpdate(note, 0), "NSFNoteUpdate");
            changed.push_back(ids[n]);
        }
        NSFNoteClose(note);
    }
    NSFDbClose(db);
    if (changed.size() != (size_t)count) Die("too few people to change");
    return changed;
}

// Median seconds of writing one block and flushing it with fdatasync.
double FdatasyncSeconds(const std::string& dir) {
    std::string path = dir + "/fdatasync.probe";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) Die("open " + path);
    char block[4096];
    std::memset(block, 'x', sizeof block);
    std::vector<double> rounds;
    for (int round = 0; round < kSyncRounds; ++round) {
        rounds.push_back(Seconds([&] {
            if (pwrite(fd, block, sizeof block, 0) != (ssize_t)sizeof block || fdatasync(fd) != 0)
                Die("fdatasync probe");
        }));
    }
    close(fd);
    unlink(path.c_str());
    return benchutil::Median(rounds);
}

long FileKb(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? (long)(info.st_size / 1024) : -1;
}

// ---- one directory size --------------------------------------------------

struct IncrementalFigures {
    int changes = 0;
    long found = 0, updated = 0;
    double seconds = 0, floor = 0;
    std::vector<int64_t> changed;  // the source notes, for the floor
    int64_t firstDocument = 0, lastDocument = 0;  // the output's note IDs after them
};

struct SizeFigures {
    int people = 0;
    long notes = 0, updated = 0;
    double migration = 0, migrationFloor = 0, migrationCpu = 0;
    long peakKb = 0, outputKb = 0;
    std::vector<IncrementalFigures> incremental;
    const IncrementalFigures& OfChanges(int changes) const {
        for (const IncrementalFigures& pass : incremental)
            if (pass.changes == changes) return pass;
        Die("no incremental pass of " + std::to_string(changes) + " changes");
    }
};

std::string ProgramDir() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) Die("cannot find the program's directory");
    std::string exe(path, (size_t)n);
    return exe.substr(0, exe.find_last_of('/'));
}

void MakeDirectory(const std::string& bin, const std::string& dir, int people) {
    std::ofstream(dir + "/filter.xml") << kFilter;
    std::string log = dir + "/setup.out";
    RunProgram({bin + "/nsfdb", "--data", dir, "sample", "names.nsf", "--people", std::to_string(people),
                "--groups", std::to_string(people / kPeoplePerGroup), "--seed", "7"},
               log);
    RunProgram({bin + "/nsfdb", "--data", dir, "instance", "zelrpcfg.nsf", kInstance, "--input", "names.nsf",
                "--output", "dirupd.nsf", "--filter", dir + "/filter.xml", "--schedule", "1", "DAYS",
                "--trace", "NORMAL"},
               log);
}

// Sends a pass command and waits for its end; seconds, and the counts.
double TimedPass(Server& server, const char* command, long* found, long* updated) {
    std::string counts;
    double seconds = Seconds([&] {
        server.Send(std::string("tell ") + kInstance + " " + command);
        counts = server.WaitFor("entries found", kPassTimeoutSeconds);
        server.WaitFor(kPassDone, kPassTimeoutSeconds);
    });
    PassCounts(counts, found, updated);
    return seconds;
}

SizeFigures MeasureSize(const std::string& bin, const std::string& dir, int people) {
    SizeFigures figures;
    figures.people = people;
    MakeDirectory(bin, dir, people);
    Check(NRTSetDataDirectory(dir.c_str()), "NRTSetDataDirectory");
    NRTSetUserName("CN=Bench Admin/O=Acme");

    Server server(bin, dir);
    server.Send(std::string("load zelrep ") + kInstance);
    std::string started = server.WaitFor("Task zelrep (process ", 60);
    pid_t task = (pid_t)std::atol(started.c_str() + started.find("(process ") + 9);
    server.WaitFor("Initialization Complete", 60);

    double cpuBefore = CpuSeconds(task);
    figures.migration = TimedPass(server, "MIGRATE ON", &figures.notes, &figures.updated);
    figures.migrationCpu = CpuSeconds(task) - cpuBefore;
    std::string output = dir + "/dirupd.nsf";
    int64_t lastMigrated = LastNoteId(output);
    int round = 0;
    for (int changes : kIncrementalChanges) {
        IncrementalFigures pass;
        pass.changes = changes;
        pass.changed = ChangePeople(++round, changes);
        pass.firstDocument = LastNoteId(output);
        pass.seconds = TimedPass(server, "REPLICATE", &pass.found, &pass.updated);
        pass.lastDocument = LastNoteId(output);
        figures.incremental.push_back(std::move(pass));
    }
    figures.peakKb = PeakResidentKb(task);
    server.Quit();
    figures.outputKb = FileKb(output);

    figures.migrationFloor = FloorSeconds(dir, LiveDocumentIds(dir + "/names.nsf"),
                                          DocumentsBetween(output, 0, lastMigrated), "floor1.nsf");
    for (IncrementalFigures& pass : figures.incremental) {
        std::sort(pass.changed.begin(), pass.changed.end());
        pass.floor = FloorSeconds(dir, pass.changed, DocumentsBetween(output, pass.firstDocument, pass.lastDocument),
                                  "floor-" + std::to_string(pass.changes) + ".nsf");
    }
    return figures;
}

// ---- the operator's view on and off ----------------------------------------

const bool kViewRoundsOn[] = {true, false, false, true, true, false, false, true};
constexpr int kIncrementalPerRound = 5;

// Wall seconds of each pass, and the task's CPU seconds of a migration
// (less moved by the other jobs of a shared machine; counted in ticks of
// 10 ms, too coarse for an incremental pass).
struct ViewRuns {
    std::vector<double> migration, incremental, migrationCpu;
};

void WriteViewSettings(const std::string& dir, bool on) {
    std::ofstream(dir + "/notes.ini") << (on ? "" : "ZelrepStatistics=0\nZelrepHistoryDays=0\n");
}

void RemoveOutput(const std::string& dir) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(dir + "/dirupd.nsf" + suffix);
}

void MeasureViewRound(const std::string& bin, const std::string& dir, bool on, int round, ViewRuns* runs) {
    WriteViewSettings(dir, on);
    RemoveOutput(dir);
    Server server(bin, dir);
    server.Send(std::string("load zelrep ") + kInstance);
    std::string started = server.WaitFor("Task zelrep (process ", 60);
    pid_t task = (pid_t)std::atol(started.c_str() + started.find("(process ") + 9);
    server.WaitFor("Initialization Complete", 60);
    long found = 0, updated = 0;
    double cpu = CpuSeconds(task);
    runs->migration.push_back(TimedPass(server, "MIGRATE ON", &found, &updated));
    runs->migrationCpu.push_back(CpuSeconds(task) - cpu);
    for (int pass = 0; pass < kIncrementalPerRound; ++pass) {
        ChangePeople(round * kIncrementalPerRound + pass + 1);
        runs->incremental.push_back(TimedPass(server, "REPLICATE", &found, &updated));
    }
    server.Quit();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string Joined(const std::vector<double>& values, const char* format) {
    std::string text;
    char buffer[32];
    for (double value : values) {
        std::snprintf(buffer, sizeof buffer, format, value);
        text += (text.empty() ? "" : " ") + std::string(buffer);
    }
    return text;
}

void PrintViewRow(const char* pass, const std::vector<double>& on, const std::vector<double>& off,
                  const char* format) {
    double ratio = Median(on) / Median(off);
    std::printf(("| %s | " + std::string(format) + " | " + format + " | %.4f | %+.2f%% | %s | %s |\n").c_str(),
                pass, Median(on), Median(off), ratio, (ratio - 1) * 100, Joined(on, format).c_str(),
                Joined(off, format).c_str());
}

int MeasureOperatorView(const std::string& bin, int people) {
    std::string dir = (std::filesystem::temp_directory_path() / "pass-bench-XXXXXX").string();
    if (mkdtemp(&dir[0]) == nullptr) Die("mkdtemp");
    MakeDirectory(bin, dir, people);
    Check(NRTSetDataDirectory(dir.c_str()), "NRTSetDataDirectory");
    NRTSetUserName("CN=Bench Admin/O=Acme");
    ViewRuns on, off, warmUp;
    MeasureViewRound(bin, dir, false, 0, &warmUp);
    int round = 1;
    for (bool statsOn : kViewRoundsOn) {
        MeasureViewRound(bin, dir, statsOn, round++, statsOn ? &on : &off);
        std::printf("round %d (%s): migration %.2f s, incremental %s s\n", round, statsOn ? "on" : "off",
                    (statsOn ? on : off).migration.back(),
                    Joined(std::vector<double>((statsOn ? on : off).incremental.end() - kIncrementalPerRound,
                                               (statsOn ? on : off).incremental.end()),
                           "%.3f")
                        .c_str());
        std::fflush(stdout);
    }
    std::printf("\nStatistics and pass history on against off, %d people, medians:\n\n", people);
    std::printf("| pass | on s | off s | ratio | cost | on, each run | off, each run |\n");
    std::printf("|---|---:|---:|---:|---:|---|---|\n");
    PrintViewRow("migration", on.migration, off.migration, "%.2f");
    PrintViewRow("migration, task CPU", on.migrationCpu, off.migrationCpu, "%.2f");
    PrintViewRow("incremental, 1,000 changes", on.incremental, off.incremental, "%.3f");
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}

void PrintTables(const std::vector<SizeFigures>& all, double fdatasync) {
    std::printf("\nfdatasync latency of the disk: median %.3f ms of %d\n\n", fdatasync * 1e3, kSyncRounds);
    std::printf("Migration pass (MIGRATE ON to \"ZEL Replication complete\"):\n\n");
    std::printf("| people | notes | pass s | task CPU s | notes/s | floor s | ratio | peak RSS MB | output MB |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const SizeFigures& f : all)
        std::printf("| %d | %ld | %.2f | %.2f | %.0f | %.2f | %.2f | %.0f | %.0f |\n", f.people, f.notes,
                    f.migration, f.migrationCpu, f.notes / f.migration, f.migrationFloor,
                    f.migration / f.migrationFloor, f.peakKb / 1024.0, f.outputKb / 1024.0);
    std::printf("\nIncremental passes (REPLICATE to \"ZEL Replication complete\"); ms per change:\n\n");
    std::printf("| people | changes | entries found | updated | pass s | ms/change | floor s | ratio |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const SizeFigures& f : all)
        for (const IncrementalFigures& pass : f.incremental)
            std::printf("| %d | %d | %ld | %ld | %.3f | %.3f | %.3f | %.2f |\n", f.people, pass.changes, pass.found,
                        pass.updated, pass.seconds, pass.seconds * 1e3 / pass.changes, pass.floor,
                        pass.seconds / pass.floor);
}

void WritePlotData(const std::string& path, const std::vector<SizeFigures>& all) {
    std::ofstream out(path);
    out << "# people migration_s migration_floor_s incremental_s incremental_floor_s\n";
    for (const SizeFigures& f : all) {
        const IncrementalFigures& pass = f.OfChanges(kChanges);
        out << f.people << ' ' << f.migration << ' ' << f.migrationFloor << ' ' << pass.seconds << ' ' << pass.floor
            << '\n';
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string plotData;
    std::vector<int> sizes;
    bool operatorView = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plot-data") == 0 && i + 1 < argc) plotData = argv[++i];
        else if (std::strcmp(argv[i], "--operator-view") == 0) operatorView = true;
        else if (std::atoi(argv[i]) >= kLeastPeople) sizes.push_back(std::atoi(argv[i]));
        else Die("usage: pass_bench [--plot-data FILE] [PEOPLE >= 10000]... | --operator-view [PEOPLE]");
    }
    if (operatorView && (sizes.size() > 1 || !plotData.empty())) Die("--operator-view takes one size");
    if (sizes.empty()) sizes = {10000, 100000, 300000};
    signal(SIGPIPE, SIG_IGN);
    std::string bin = ProgramDir() + "/../bin";
    std::printf("machine: %s\n", benchutil::MachineLine().c_str());
    if (operatorView) {
        int result = MeasureOperatorView(bin, sizes.empty() ? 100000 : sizes[0]);
        std::printf("\nmachine after the run: %s\n", benchutil::MachineLine().c_str());
        return result;
    }

    std::vector<SizeFigures> all;
    double fdatasync = 0;
    for (int people : sizes) {
        std::string dir = (std::filesystem::temp_directory_path() / "pass-bench-XXXXXX").string();
        if (mkdtemp(&dir[0]) == nullptr) Die("mkdtemp");
        if (all.empty()) fdatasync = FdatasyncSeconds(dir);
        all.push_back(MeasureSize(bin, dir, people));
        const SizeFigures& f = all.back();
        std::printf("%d people: migration %.2f s (task CPU %.2f s, floor %.2f s)", people, f.migration,
                    f.migrationCpu, f.migrationFloor);
        for (const IncrementalFigures& pass : f.incremental)
            std::printf(", %d changes %.3f s (floor %.3f s)", pass.changes, pass.seconds, pass.floor);
        std::printf("\n");
        std::fflush(stdout);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    PrintTables(all, fdatasync);
    std::printf("\nmachine after the run: %s\n", benchutil::MachineLine().c_str());
    if (!plotData.empty()) WritePlotData(plotData, all);
    return 0;
}
