// zelrep_test.cpp - the task entry's command-line walk, run through
// AddInMain: the usage report, and "BREAK=ON", which breaks into the
// debugger on Windows and is an ordinary argument elsewhere.
#include <string>
#include <vector>

#include "addin.h"
#include "breakwatch.h"
#include "cfgtest.h"

class TaskEntryTest : public ConfigTest {
protected:
    typedef std::vector<std::string> Texts;

    // Runs AddInMain with these arguments after the program name; answers
    // the lines it logged.
    Texts Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "zelrep");
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(&argument[0]);
        ClearLog();
        EXPECT_EQ(NOERROR, AddInMain(NULLHANDLE, (int)argv.size(), argv.data()));
        return Lines();
    }
    static bool Has(const Texts& lines, const std::string& text) {
        for (const std::string& line : lines) {
            if (line == text) return true;
        }
        return false;
    }
    static bool IsUsage(const Texts& lines) {
        return lines.size() == 3 && lines[1].find("USAGE: load zelrep instanceName") != std::string::npos &&
               lines[2] == "ZELREP Addin Process Exited.";
    }
};

TEST_F(TaskEntryTest, HelpSwitchAnywhereGivesTheUsage) {
    EXPECT_TRUE(IsUsage(Run({})));
    EXPECT_TRUE(IsUsage(Run({"INST", "-f", "cfg.nsf", "/?"})));
    // After -f a help switch is the file name.
    EXPECT_FALSE(IsUsage(Run({"INST", "-f", "-h"})));
}

#ifdef _WIN32
TEST_F(TaskEntryTest, BreakSwitchBreaksIntoTheDebuggerInAnyLetterCase) {
    BreakWatch watch;
    EXPECT_TRUE(IsUsage(Run({"Break=On", "bReAk=oN", "-h"})));
    EXPECT_EQ(2, watch.Breaks());
    // The walk ends at a help switch.
    EXPECT_TRUE(IsUsage(Run({"-h", "BREAK=ON"})));
    EXPECT_EQ(2, watch.Breaks());
    // The switch is no instance name: the default instance is loaded.
    Texts lines = Run({"BREAK=ON"});
    EXPECT_EQ(3, watch.Breaks());
    EXPECT_TRUE(Has(lines, "Orvane - ZELREP: load failure: file=zelrpcfg.nsf, instance=ZELREP"))
        << Joined();
    // Anything else is an instance name.
    lines = Run({"BREAK=ONE"});
    EXPECT_EQ(3, watch.Breaks());
    EXPECT_TRUE(Has(lines, "Orvane - ZELREP: load failure: file=zelrpcfg.nsf, instance=BREAK=ONE"))
        << Joined();
}
#else
TEST_F(TaskEntryTest, BreakSwitchIsAnInstanceNameOffWindows) {
    Texts lines = Run({"Break=On"});
    EXPECT_TRUE(Has(lines, "Orvane - ZELREP: load failure: file=zelrpcfg.nsf, instance=BREAK=ON"))
        << Joined();
}
#endif
