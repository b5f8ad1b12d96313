// main.cpp - nsfdb, the database tool: reads the command line, points the
// runtime at the data directory and the writer's name, and runs the
// command. Failures print "nsfdb: ..." on standard error and exit 1; bad
// usage adds the command's usage line and exits 2 (--help shows them all).
//
// Owned by the nsfdb tool.
#include <iostream>

#include "cmdline.h"
#include "commands.h"
#include "n_ver.h"
#include "nrt_env.h"
#include "runtime.h"

namespace nsfdb {
namespace {

const OptionSpec kTitle = {"--title", 1, false};
const OptionSpec kClass = {"--class", 1, false};
const OptionSpec kFormat = {"--format", 1, false};
const OptionSpec kInput = {"--input", 1, false};

const std::vector<CommandSpec> kCommands = {
    {"create", 1, 1, {kTitle, {"--from", 1, false}}, RunCreate,
     "DB [--title TITLE] [--from SOURCE_DB]",
     "create a database; --from copies SOURCE_DB's view notes"},
    {"info", 1, 1, {}, RunInfo, "DB", "title, documents, deletion stubs, last modification"},
    {"put", 1, 2, {{"--new", 0, false}}, RunPut, "DB [FILE|-] [--new]",
     "write one JSON document or JSON lines (standard input by default);\n"
     "a document with \"unid\" updates that note (an item set to null is\n"
     "removed), one without creates a note (--new: every document creates\n"
     "one); prints the UNID of each document written"},
    {"get", 2, 2, {}, RunGet, "DB UNID", "one document as JSON"},
    {"find", 2, kAnyCount, {}, RunFind, "DB ITEM=VALUE...",
     "the UNIDs of the documents in which each ITEM is a text or text\n"
     "list holding VALUE (letter case counts), one a line; fails when\n"
     "there is none"},
    {"delete", 2, kAnyCount, {}, RunDelete, "DB UNID...",
     "delete documents, leaving deletion stubs; a document already\n"
     "deleted is reported on standard error and counts as done"},
    {"dump", 1, 1,
     {kFormat, kClass, {"--skip", 1, false}, {"--after", 1, false}, {"--width", 1, false}}, RunDump,
     "DB [--format json|table] [--class N] [--after NOTEID] [--skip N]\n[--width N]",
     "every live note of the class (default 1, documents) in note ID\n"
     "order, JSON lines by default; --after lists only the notes with a\n"
     "higher note ID (a reader's place, kept across deletions); --skip\n"
     "leaves out the first N; a table fits N columns (default: the\n"
     "terminal's, 0: no limit)"},
    {"modified", 1, 1, {{"--since", 1, false}, kClass, kFormat}, RunModified,
     "DB [--since TIME] [--class N] [--format text|json]",
     "the modified-note table (every note, stubs included, without\n"
     "--since) and its until-time"},
    {"purge", 1, 1, {{"--stubs-older-than", 1, false}}, RunPurge, "DB --stubs-older-than DAYS",
     "remove the deletion stubs of notes deleted more than DAYS days ago\n"
     "(0: every stub); prints how many were removed"},
    {"sample", 1, 1,
     {{"--people", 1, false}, {"--groups", 1, false}, {"--seed", 1, false}, kTitle}, RunSample,
     "DB --people N --groups M [--seed S] [--title T]",
     "create a sample directory: people, groups (LocalDomainServers and\n"
     "OtherDomainServers among them) and its views"},
    {"instance", 2, 2,
     {kInput, {"--output", 1, false}, {"--filter", 1, false},
      {"--schedule", 2, false}, {"--loop-detect-id", 1, false}, {"--loop-detect", 1, false},
      {"--directory", 1, false}, {"--auto-refresh", 1, false}, {"--dn-format", 1, false},
      {"--check-attrs", 1, false}, {"--write-timestamps", 1, false}, {"--trace", 1, false},
      {"--last-event", 1, false}, {"--set", 1, true}},
     RunInstance,
     "CFGDB NAME [--input DB] [--output DB] [--filter FILE]\n"
     "[--schedule N SECONDS|MINUTES|HOURS|DAYS] [--loop-detect-id DN]\n"
     "[--loop-detect on|off] [--directory on|off] [--auto-refresh on|off]\n"
     "[--dn-format SLASH|LDAP|LDAP_TYPED|N] [--check-attrs on|off]\n"
     "[--write-timestamps on|off] [--trace SILENT|NORMAL|VERBOSE|DEBUG|N]\n"
     "[--last-event TIME] [--set ITEM=VALUE]...",
     "create the configuration database and the instance's document\n"
     "when missing, else change only the items given; a filter FILE is\n"
     "read from the current directory and checked as filter check does"},
    {"filter", 2, 2, {kInput}, RunFilter, "check FILE [--input DB]",
     "check a publisher filter: where the task would read it otherwise\n"
     "than an XML reader does, and with --input the classes that no\n"
     "document of DB has; exit status 1 when the task would not read it\n"
     "as written"},
    {"check", 1, 1, {}, RunCheck, "DB",
     "check that a database is sound (every page readable, its contents\n"
     "consistent); exit status 0 only when it is"},
};

void SetUpRuntime(const CommandLine& line) {
    if (line.Has("--data")) {
        std::string dir = line.Value("--data");
        Check(NRTSetDataDirectory(dir.c_str()), "cannot use data directory " + Quoted(dir));
    }
    if (line.Has("--as")) NRTSetUserName(CanonicalName(line.Value("--as")).c_str());
    NRTCheckSettings([](void*, const char* text) { ReportError(std::string("warning: ") + text); }, nullptr);
}

int Run(int argc, char** argv, const CommandSpec** command) {
    CommandLine line = ParseCommandLine(argc, argv, kCommands, command);
    if (line.help) {
        std::cout << UsageText(kCommands);
        return 0;
    }
    if (line.version) {
        std::cout << "nsfdb " << ZELREP_VERSION << '\n';
        return 0;
    }
    SetUpRuntime(line);
    int status = line.command->run(line);
    std::cout.flush();
    if (!std::cout) throw ToolError("cannot write to standard output");
    return status;
}

}  // namespace
}  // namespace nsfdb

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const nsfdb::CommandSpec* command = nullptr;
    try {
        return nsfdb::Run(argc, argv, &command);
    } catch (const nsfdb::ToolError& e) {
        nsfdb::ReportError(e.what());
        if (e.exitCode() == nsfdb::kExitUsage) std::cerr << nsfdb::ShortUsage(command);
        return e.exitCode();
    } catch (const std::exception& e) {
        nsfdb::ReportError(e.what());
        return nsfdb::kExitFailure;
    }
}
