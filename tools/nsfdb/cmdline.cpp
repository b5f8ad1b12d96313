// cmdline.cpp - nsfdb's command line parser and usage text (see cmdline.h).
#include "cmdline.h"

#include <cerrno>
#include <cstdlib>
#include <strings.h>

#include "runtime.h"

namespace nsfdb {
namespace {

const std::vector<OptionSpec> kGlobalOptions = {
    {"--data", 1, false}, {"--as", 1, false}, {"--help", 0, false}, {"--version", 0, false}};

const char kGlobalUsage[] = "usage: nsfdb [--data DIR] [--as NAME] ";

const char kOptionsHelp[] =
    "  --data DIR   data directory (default: NOTES_DATA_DIR, else the current\n"
    "               directory)\n"
    "  --as NAME    the name updates record in $UpdatedBy (default: ServerName\n"
    "               of notes.ini, else CN=Server/O=Org)\n"
    "  --version    the version of nsfdb\n"
    "  TIME         e.g. \"2026/12/07 08:43:21 PM GMT\", ISO 8601 such as\n"
    "               \"2026-12-07T20:43:21Z\" (no zone: the server's), or \"now\"\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad usage.\n";

// Each line of text with an indent in front: first before the first line,
// rest before the others.
std::string Indented(const std::string& text, const std::string& first, const std::string& rest) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        out += (start == 0 ? first : rest) + text.substr(start, end - start) + "\n";
        start = end + 1;
    }
    return out;
}

const OptionSpec* FindOption(const std::vector<OptionSpec>& options, const std::string& name) {
    for (const OptionSpec& option : options)
        if (name == option.name) return &option;
    return nullptr;
}

const CommandSpec* FindCommand(const std::vector<CommandSpec>& commands, const std::string& name) {
    for (const CommandSpec& command : commands)
        if (name == command.name) return &command;
    return nullptr;
}

const OptionSpec* OptionFor(const CommandLine& line, const std::string& name) {
    if (const OptionSpec* global = FindOption(kGlobalOptions, name)) return global;
    if (line.command == nullptr) return nullptr;
    return FindOption(line.command->options, name);
}

std::string ForWhom(const CommandLine& line) {
    return line.command ? std::string(" for ") + line.command->name : "";
}

// Takes the option at args[*index] and its values; "--name=value" gives
// the value inline.
void TakeOption(const std::vector<std::string>& args, size_t* index, CommandLine* line) {
    std::string name = args[*index];
    std::vector<std::string> values;
    size_t equals = name.find('=');
    if (equals != std::string::npos) {
        values.push_back(name.substr(equals + 1));
        name.resize(equals);
    }
    const OptionSpec* option = OptionFor(*line, name);
    if (option == nullptr) throw UsageError("unknown option " + name + ForWhom(*line));
    if (!values.empty() && option->arity != 1)
        throw UsageError(name + " does not take a value after '='");
    while ((int)values.size() < option->arity) {
        if (++*index >= args.size())
            throw UsageError(name + " needs " + std::to_string(option->arity) +
                             (option->arity == 1 ? " value" : " values"));
        values.push_back(args[*index]);
    }
    if (!option->repeatable && line->Has(name)) throw UsageError(name + " is given twice");
    line->options.emplace_back(name, std::move(values));
}

void CheckArgCount(const CommandLine& line) {
    const CommandSpec& command = *line.command;
    size_t count = line.args.size();
    if (count < command.minArgs)
        throw UsageError(std::string(command.name) + ": missing arguments");
    if (count > command.maxArgs)
        throw UsageError(std::string(command.name) + ": too many arguments");
}

}  // namespace

bool CommandLine::Has(const std::string& name) const {
    for (const auto& option : options)
        if (option.first == name) return true;
    return false;
}

std::string CommandLine::Value(const std::string& name, const std::string& fallback) const {
    for (const auto& option : options)
        if (option.first == name && !option.second.empty()) return option.second.front();
    return fallback;
}

std::vector<std::string> CommandLine::Values(const std::string& name) const {
    for (const auto& option : options)
        if (option.first == name) return option.second;
    return {};
}

CommandLine ParseCommandLine(int argc, char** argv, const std::vector<CommandSpec>& commands,
                             const CommandSpec** found) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine line;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            line.help = true;
        } else if (!optionsEnded && arg == "--version") {
            line.version = true;
        } else if (!optionsEnded && arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            TakeOption(args, &i, &line);
        } else if (line.command == nullptr) {
            line.command = FindCommand(commands, arg);
            if (line.command == nullptr) throw UsageError("unknown command " + Quoted(arg));
            *found = line.command;
        } else {
            line.args.push_back(arg);
        }
    }
    if (line.help || line.version) return line;
    if (line.command == nullptr) throw UsageError("no command given");
    CheckArgCount(line);
    return line;
}

std::string UsageText(const std::vector<CommandSpec>& commands) {
    std::string text = std::string(kGlobalUsage) + "COMMAND ...\n\n";
    for (const CommandSpec& command : commands)
        text += Indented(std::string(command.name) + " " + command.synopsis, "  ", "        ") +
                Indented(command.help, "        ", "        ");
    return text + "\n" + kOptionsHelp;
}

std::string ShortUsage(const CommandSpec* command) {
    std::string synopsis = command ? std::string(command->name) + " " + command->synopsis : "COMMAND ...";
    return Indented(synopsis, kGlobalUsage, "        ") + "(nsfdb --help describes every command)\n";
}

unsigned long ParseCount(const std::string& text, const std::string& what, unsigned long min,
                         unsigned long max) {
    bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    errno = 0;
    unsigned long value = digits ? std::strtoul(text.c_str(), nullptr, 10) : 0;
    if (!digits || errno == ERANGE || value < min || value > max)
        throw UsageError(what + " must be a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not " + Quoted(text));
    return value;
}

bool ParseSwitch(const std::string& text, const std::string& what) {
    if (strcasecmp(text.c_str(), "on") == 0) return true;
    if (strcasecmp(text.c_str(), "off") == 0) return false;
    throw UsageError(what + " must be on or off, not " + Quoted(text));
}

}  // namespace nsfdb
