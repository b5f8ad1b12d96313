// cmdline.h - nsfdb's command line: the options each command takes, the
// parser that checks a command line against them, and the usage text.
//
// Owned by the nsfdb tool. Global options (--data, --as, --help) may stand
// before or after the command word; a command's own options follow it.
#ifndef NSFDB_CMDLINE_H
#define NSFDB_CMDLINE_H

#include <string>
#include <utility>
#include <vector>

namespace nsfdb {

struct OptionSpec {
    const char* name;  // with the leading "--"
    int arity;         // values that follow the option
    bool repeatable;
};

struct CommandLine;

struct CommandSpec {
    const char* name;
    size_t minArgs;
    size_t maxArgs;  // kAnyCount for no limit
    std::vector<OptionSpec> options;
    int (*run)(const CommandLine& line);
    // The command's arguments and options after its name, as the usage
    // shows them, and what it does (lines of the help, without indent).
    const char* synopsis = "";
    const char* help = "";
};
constexpr size_t kAnyCount = (size_t)-1;

struct CommandLine {
    const CommandSpec* command = nullptr;
    std::vector<std::string> args;
    // Every option given, in order, with its values.
    std::vector<std::pair<std::string, std::vector<std::string>>> options;
    bool help = false;
    bool version = false;

    bool Has(const std::string& name) const;
    // The option's (first) value, or fallback when it is not given.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    std::vector<std::string> Values(const std::string& name) const;
};

// Throws UsageError for anything the command does not take; *found is the
// command as soon as its name has been read (for the usage line).
CommandLine ParseCommandLine(int argc, char** argv, const std::vector<CommandSpec>& commands,
                             const CommandSpec** found);
// The whole help: every command with its synopsis and help.
std::string UsageText(const std::vector<CommandSpec>& commands);
// The usage line of one command (of nsfdb itself for none), and where the
// whole help is.
std::string ShortUsage(const CommandSpec* command);

// Whole numbers of options: digits only, within [min, max].
unsigned long ParseCount(const std::string& text, const std::string& what, unsigned long min,
                         unsigned long max);
// "on" or "off" (any case).
bool ParseSwitch(const std::string& text, const std::string& what);

}  // namespace nsfdb

#endif
