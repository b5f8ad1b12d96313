// cmdline.cpp - nsfdb's command line parser and usage text (see cmdline.h).
#include "cmdline.h"

#include <cerrno>
#include <cstdlib>
#include <strings.h>

#include "runtime.h"

namespace nsfdb {
namespace {

const std::vector<OptionSpec> kGlobalOptions = {
    {"--data", 1, false}, {"--as", 1, false}, {"--help", 0, false}};

const char kUsage[] =
    "usage: nsfdb [--data DIR] [--as NAME] COMMAND ...\n"
    "\n"
    "  create DB [--title TITLE] [--from SOURCE_DB]\n"
    "        create a database; --from copies SOURCE_DB's view notes\n"
    "  info DB\n"
    "        title, documents, deletion stubs, last modification\n"
    "  put DB [FILE|-] [--new]\n"
    "        write one JSON document or JSON lines (standard input by default);\n"
    "        a document with \"unid\" updates that note (an item set to null is\n"
    "        removed), one without creates a note (--new: every document creates\n"
    "        one); prints the UNID of each document written\n"
    "  get DB UNID\n"
    "        one document as JSON\n"
    "  find DB ITEM=VALUE...\n"
    "        the UNIDs of the documents in which each ITEM is a text or text\n"
    "        list holding VALUE (letter case counts), one a line; fails when\n"
    "        there is none\n"
    "  delete DB UNID...\n"
    "        delete documents, leaving deletion stubs\n"
    "  dump DB [--format json|table] [--class N] [--skip N] [--width N]\n"
    "        every live note of the class (default 1, documents) in note ID\n"
    "        order, JSON lines by default; --skip leaves out the first N;\n"
    "        a table fits N columns (default: the terminal's, 0: no limit)\n"
    "  modified DB [--since TIME] [--class N]\n"
    "        the modified-note table (every note, stubs included, without\n"
    "        --since) and its until-time\n"
    "  sample DB --people N --groups M [--seed S] [--title T]\n"
    "        create a sample directory: people, groups (LocalDomainServers and\n"
    "        OtherDomainServers among them) and its views\n"
    "  instance CFGDB NAME [--input DB] [--output DB] [--filter FILE]\n"
    "        [--schedule N SECONDS|MINUTES|HOURS|DAYS] [--loop-detect-id DN]\n"
    "        [--loop-detect on|off] [--directory on|off] [--auto-refresh on|off]\n"
    "        [--dn-format SLASH|LDAP|LDAP_TYPED|N] [--check-attrs on|off]\n"
    "        [--write-timestamps on|off] [--trace SILENT|NORMAL|VERBOSE|DEBUG|N]\n"
    "        [--last-event TIME] [--set ITEM=VALUE]...\n"
    "        create the configuration database and the instance's document\n"
    "        when missing, else change only the items given\n"
    "  check DB\n"
    "        check that a database is sound (every page readable, its contents\n"
    "        consistent); exit status 0 only when it is\n"
    "\n"
    "  --data DIR   data directory (default: NOTES_DATA_DIR, else the current\n"
    "               directory)\n"
    "  --as NAME    the name updates record in $UpdatedBy (default: ServerName\n"
    "               of notes.ini, else CN=Server/O=Org)\n"
    "  TIME         e.g. \"2026/12/07 08:43:21 PM GMT\", or \"now\"\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad usage.\n";

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

CommandLine ParseCommandLine(int argc, char** argv, const std::vector<CommandSpec>& commands) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine line;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            line.help = true;
        } else if (!optionsEnded && arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            TakeOption(args, &i, &line);
        } else if (line.command == nullptr) {
            line.command = FindCommand(commands, arg);
            if (line.command == nullptr) throw UsageError("unknown command " + Quoted(arg));
        } else {
            line.args.push_back(arg);
        }
    }
    if (line.help) return line;
    if (line.command == nullptr) throw UsageError("no command given");
    CheckArgCount(line);
    return line;
}

const char* UsageText() { return kUsage; }

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
