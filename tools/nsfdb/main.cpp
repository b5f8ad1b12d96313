// main.cpp - nsfdb, the database tool: reads the command line, points the
// runtime at the data directory and the writer's name, and runs the
// command. Failures print "nsfdb: ..." on standard error and exit 1; bad
// usage adds the usage text and exits 2.
//
// Owned by the nsfdb tool.
#include <iostream>

#include "cmdline.h"
#include "commands.h"
#include "nrt_env.h"
#include "runtime.h"

namespace nsfdb {
namespace {

const OptionSpec kTitle = {"--title", 1, false};
const OptionSpec kClass = {"--class", 1, false};

const std::vector<CommandSpec> kCommands = {
    {"create", 1, 1, {kTitle, {"--from", 1, false}}, RunCreate},
    {"info", 1, 1, {}, RunInfo},
    {"put", 1, 2, {{"--new", 0, false}}, RunPut},
    {"get", 2, 2, {}, RunGet},
    {"find", 2, kAnyCount, {}, RunFind},
    {"delete", 2, kAnyCount, {}, RunDelete},
    {"dump", 1, 1, {{"--format", 1, false}, kClass, {"--skip", 1, false}, {"--width", 1, false}}, RunDump},
    {"modified", 1, 1, {{"--since", 1, false}, kClass}, RunModified},
    {"sample", 1, 1,
     {{"--people", 1, false}, {"--groups", 1, false}, {"--seed", 1, false}, kTitle},
     RunSample},
    {"instance", 2, 2,
     {{"--input", 1, false}, {"--output", 1, false}, {"--filter", 1, false},
      {"--schedule", 2, false}, {"--loop-detect-id", 1, false}, {"--loop-detect", 1, false},
      {"--directory", 1, false}, {"--auto-refresh", 1, false}, {"--dn-format", 1, false},
      {"--check-attrs", 1, false}, {"--write-timestamps", 1, false}, {"--trace", 1, false},
      {"--last-event", 1, false}, {"--set", 1, true}},
     RunInstance},
    {"check", 1, 1, {}, RunCheck},
};

void SetUpRuntime(const CommandLine& line) {
    if (line.Has("--data")) {
        std::string dir = line.Value("--data");
        Check(NRTSetDataDirectory(dir.c_str()), "cannot use data directory " + Quoted(dir));
    }
    if (line.Has("--as")) NRTSetUserName(CanonicalName(line.Value("--as")).c_str());
}

int Run(int argc, char** argv) {
    CommandLine line = ParseCommandLine(argc, argv, kCommands);
    if (line.help) {
        std::cout << UsageText();
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
    try {
        return nsfdb::Run(argc, argv);
    } catch (const nsfdb::ToolError& e) {
        nsfdb::ReportError(e.what());
        if (e.exitCode() == nsfdb::kExitUsage) std::cerr << '\n' << nsfdb::UsageText();
        return e.exitCode();
    } catch (const std::exception& e) {
        nsfdb::ReportError(e.what());
        return nsfdb::kExitFailure;
    }
}
