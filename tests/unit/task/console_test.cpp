// console_test.cpp - console command dispatch: splitting a message into
// command word and argument, finding the handler, the answer to unknown
// commands, the argument parsers and the trace level names.
#include <cstring>
#include <memory>
#include <string>

#include "cfgtest.h"
#include "cfgschema.h"
#include "console.h"

class ConsoleTest : public ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        AddInstance("ZEL1");
        std::string instance = "ZEL1", file = DEFAULT_CFGDB_NAME;
        config_.reset(new CConfig(&instance[0], &file[0]));
        ClearLog();
    }
    void TearDown() override {
        config_.reset();
        ConfigTest::TearDown();
    }

    // Dispatches text the way the main loop does: NUL-terminated after its length.
    STATUS Send(const std::string& text) {
        std::string message = text;
        message.push_back('\0');
        return ProcessMessage(&message[0], (WORD)text.size(), config_.get());
    }
    std::string Output() { return Get(*config_, &CConfig::GetOutputDB); }

    std::unique_ptr<CConfig> config_;
};

TEST_F(ConsoleTest, CommandWordsInAnyCaseAfterWhiteSpace) {
    for (const char* text : {"SHOWCONFIG", "showconfig", "ShowConfig", " \t\r\nshowCONFIG x"}) {
        ClearLog();
        EXPECT_EQ(NOERROR, Send(text));
        ASSERT_FALSE(Lines().empty()) << text;
        EXPECT_EQ("Orvane - ZEL1: == ZELREP v2.1.1 ==", Lines()[0]) << text;
    }
}

TEST_F(ConsoleTest, SeparatorBetweenWordAndArgument) {
    Send("OUTPUTDB out.nsf");
    EXPECT_EQ("OUT.NSF", Output());
    Send("OUTPUTDB\tTab.nsf");
    EXPECT_EQ("TAB.NSF", Output());
    Send("OUTPUTDB   blanks.nsf ");
    EXPECT_EQ("BLANKS.NSF ", Output());  // further blanks skipped, trailing ones kept
    Send("OUTPUTDB\t\ttabs.nsf");
    EXPECT_EQ("\tTABS.NSF", Output());  // a second tab is not skipped
}

TEST_F(ConsoleTest, WordsAreComparedWhole) {
    Send("LOOPDETECTID Jane Doe/Acme");
    EXPECT_EQ("Orvane - ZEL1: LOOPDETECT is looking for JANE DOE/ACME", Lines().back());
    Send("LOOPDETECT on");
    EXPECT_EQ("Orvane - ZEL1:  LOOPDETECT is Enabled", Lines().back());
    ClearLog();
    Send("LOOPDETECTIDX a");
    EXPECT_EQ("MSG_Q: Unknown command: LOOPDETECTIDX a", Lines().back());
}

TEST_F(ConsoleTest, UnknownCommands) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "MSG_Q: Unknown command: "},
        {" \t ", "MSG_Q: Unknown command: "},
        {"frobnicate Some Arg", "MSG_Q: Unknown command: FROBNICATE Some Arg"},
        {"  frob\targ", "MSG_Q: Unknown command: FROB arg"},
        {"%s%n%s", "MSG_Q: Unknown command: %S%N%S"},
    };
    for (const auto& c : cases) {
        ClearLog();
        EXPECT_EQ(NOERROR, Send(c.first));
        EXPECT_EQ(std::vector<std::string>{c.second}, Lines()) << c.first;
    }
}

TEST_F(ConsoleTest, LongUnknownCommandIsCut) {
    Send(std::string(256, 'q'));
    ASSERT_EQ(1u, Lines().size());
    EXPECT_EQ(255u, Lines()[0].size());
    EXPECT_EQ("MSG_Q: Unknown command: " + std::string(231, 'Q'), Lines()[0]);
}

TEST_F(ConsoleTest, DispatcherReturnsTheHandlersStatus) {
    EXPECT_EQ(PARSE_EMPTY, Send("SCHVAL 0"));
    EXPECT_EQ(PARSE_EMPTY, Send("OUTPUTDB"));  // a word alone: empty argument
    EXPECT_EQ(NOERROR, Send("SCHVAL 5"));
    EXPECT_EQ(PARSE_EMPTY, ProcessMessage(nullptr, 0, config_.get()));
}

TEST_F(ConsoleTest, StringValues) {
    char out[PARSE_BUFFER_SIZE];
    std::string text = "  some/Path  ";
    EXPECT_EQ(NOERROR, GetStringValue(&text[0], (WORD)text.size(), out));
    EXPECT_STREQ("SOME/PATH  ", out);
    text = "\tx";
    EXPECT_EQ(NOERROR, GetStringValue(&text[0], (WORD)text.size(), out));
    EXPECT_STREQ("\tX", out);
    text = "   ";
    EXPECT_EQ(PARSE_EMPTY, GetStringValue(&text[0], (WORD)text.size(), out));
    EXPECT_STREQ("", out);
    EXPECT_EQ(PARSE_NO_OUTPUT, GetStringValue(&text[0], 3, nullptr));
    // Only the given length counts, and the result is cut at its buffer.
    text = "abc";
    EXPECT_EQ(NOERROR, GetStringValue(&text[0], 2, out));
    EXPECT_STREQ("AB", out);
    text = std::string(400, 'z');
    EXPECT_EQ(NOERROR, GetStringValue(&text[0], (WORD)text.size(), out));
    EXPECT_EQ((size_t)PARSE_BUFFER_SIZE - 1, strlen(out));
}

TEST_F(ConsoleTest, BooleanValues) {
    const std::vector<std::pair<std::string, int>> good = {{"on", 1}, {" OFF", 0}, {"On", 1}};
    for (const auto& c : good) {
        std::string text = c.first;
        int value = -1;
        EXPECT_EQ(NOERROR, GetBooleanValue(&text[0], (WORD)text.size(), &value)) << text;
        EXPECT_EQ(c.second, value) << text;
    }
    for (std::string text : std::vector<std::string>{"ON ", "\tON", "", "yes", "ONN", std::string(200, 'O')}) {
        int value = 5;
        EXPECT_EQ(PARSE_EMPTY, GetBooleanValue(&text[0], (WORD)text.size(), &value)) << text;
        EXPECT_EQ(5, value) << text;
    }
    std::string text = "ON";
    EXPECT_EQ(PARSE_NO_OUTPUT, GetBooleanValue(&text[0], 2, nullptr));
}

TEST_F(ConsoleTest, NumericValues) {
    char out[PARSE_BUFFER_SIZE];
    std::string text = "  42";
    EXPECT_EQ(NOERROR, GetNumericValue(&text[0], (WORD)text.size(), out));
    EXPECT_STREQ("42", out);
    strcpy(out, "kept");
    for (std::string bad : {"12 ", "1a2", "-3", "\t7"}) {
        EXPECT_EQ(PARSE_NOT_DIGIT, GetNumericValue(&bad[0], (WORD)bad.size(), out)) << bad;
        EXPECT_STREQ("kept", out) << bad;
    }
    text = "";
    EXPECT_EQ(NOERROR, GetNumericValue(&text[0], 0, out));
    EXPECT_STREQ("", out);
}

TEST_F(ConsoleTest, TraceLevelNames) {
    EXPECT_STREQ("UNKNOWN", GetTraceStr(-1));
    EXPECT_STREQ("SILENT", GetTraceStr(0));
    EXPECT_STREQ("NORMAL", GetTraceStr(1));
    EXPECT_STREQ("VERBOSE", GetTraceStr(2));
    EXPECT_STREQ("DEBUG", GetTraceStr(3));
    EXPECT_STREQ("DEBUG", GetTraceStr(7));
    EXPECT_STREQ("UNKNOWN", GetTraceStr((long)0xFFFFFFFFul));  // a 32-bit -1
}
