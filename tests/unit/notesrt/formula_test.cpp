// formula_test.cpp - selection formulas: what compiles, where errors are
// reported, and which documents a search selects with them.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "nrt_env.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "nsfsearch.h"
#include "osmem.h"
#include "testenv.h"

namespace {

struct CompileResult {
    STATUS status = NOERROR;
    STATUS error = NOERROR;
    WORD line = 0, column = 0, offset = 0, length = 0;
    FORMULAHANDLE handle = NULLHANDLE;
};

CompileResult Compile(const std::string& text) {
    CompileResult result;
    WORD programLength = 0;
    result.status = NSFFormulaCompile(nullptr, 0, text.data(), (WORD)text.size(), &result.handle,
                                      &programLength, &result.error, &result.line,
                                      &result.column, &result.offset, &result.length);
    if (result.status == NOERROR) {
        EXPECT_GT(programLength, 0);
    }
    return result;
}

class FormulaCompileTest : public ::testing::Test {};

TEST_F(FormulaCompileTest, TheLanguageCompiles) {
    const char* good[] = {
        "@IsAvailable(InstanceID_text) & InstanceID_text = \"A\";",
        "SELECT Form = \"Person\" | Form = \"Group\"",
        "select !(@isunavailable($UpdatedBy)) & Count != 3.5e1",
        "((Type = \"x\"))",
        "Tags = \"red\";  \n",
        "!Type = \"Person\"",
        "Name = \"say \\\"hi\\\" \\\\ there\"",
        "Salary = .5",
    };
    for (const char* text : good) {
        CompileResult result = Compile(text);
        EXPECT_EQ(NOERROR, result.status) << text;
        EXPECT_EQ(NOERROR, result.error) << text;
        EXPECT_EQ(NOERROR, OSMemFree(result.handle)) << text;
    }
}

TEST_F(FormulaCompileTest, ErrorsReportTheirPlace) {
    // A double quote in the name ends the text early: the rest cannot parse.
    CompileResult quote = Compile("@IsAvailable(InstanceID_text) & InstanceID_text = \"A\"B\";");
    EXPECT_EQ(ERR_FORMULA_COMPILATION, quote.status);
    EXPECT_EQ(ERR_FORMULA_COMPILATION, quote.error);
    EXPECT_EQ(NULLHANDLE, quote.handle);
    EXPECT_EQ(1, quote.line);
    EXPECT_EQ(53, quote.offset);  // the B after the closed text
    EXPECT_EQ(quote.offset + 1, quote.column);

    CompileResult secondLine = Compile("Form = \"x\" &\n  @Bogus(Form)");
    EXPECT_EQ(ERR_FORMULA_COMPILATION, secondLine.status);
    EXPECT_EQ(2, secondLine.line);
    EXPECT_EQ(3, secondLine.column);
    EXPECT_EQ(6, secondLine.length);  // "@Bogus"
    char detail[256];
    NRTLastErrorDetail(detail, sizeof detail);
    EXPECT_NE(nullptr, std::strstr(detail, "unknown @function")) << detail;
}

TEST_F(FormulaCompileTest, AnythingOutsideTheLanguageIsRefused) {
    const char* bad[] = {
        "",          ";",           "SELECT",          "Form = ",        "= \"x\"",
        "(Form",     "Form)",       "\"open",          "\"ends in \\",   "a = b = c",
        "a := 1",    "a + b",       "-1",              "@All",           "@IsAvailable(\"x\")",
        "@IsAvailable(x",           "@IsAvailable()",  "@",              "a; b",
        "Form = {x}", "a < b",      "FIELD x",         "a & & b",        "1abc",
        "REM \"c\"",  "@IsAvailable(SELECT)",
    };
    for (const char* text : bad) {
        CompileResult result = Compile(text);
        EXPECT_EQ(ERR_FORMULA_COMPILATION, result.status) << text;
        EXPECT_EQ(NULLHANDLE, result.handle) << text;
    }
    CompileResult withNul = Compile(std::string("x\0 = 1", 6));
    EXPECT_EQ(ERR_FORMULA_COMPILATION, withNul.status);
    CompileResult nested = Compile(std::string(500, '(') + "x" + std::string(500, ')'));
    EXPECT_EQ(ERR_FORMULA_COMPILATION, nested.status);
    CompileResult negated = Compile(std::string(500, '!') + "x");
    EXPECT_EQ(ERR_FORMULA_COMPILATION, negated.status);
}

TEST_F(FormulaCompileTest, RandomTextFailsToCompile) {
    std::mt19937 random(3);
    const std::string alphabet = "abc @()\"=!&|;\\{}<>:+-*/[],.'#%^~`\t\n0123456789";
    int compiled = 0;
    for (int i = 0; i < 2000; ++i) {
        std::string text;
        size_t length = 8 + random() % 40;
        for (size_t j = 0; j < length; ++j) text += alphabet[random() % alphabet.size()];
        CompileResult result = Compile(text);
        if (result.status == NOERROR) {
            ++compiled;
            OSMemFree(result.handle);
        } else {
            EXPECT_EQ(ERR_FORMULA_COMPILATION, result.status);
            EXPECT_LE(result.offset, text.size());
        }
    }
    EXPECT_LT(compiled, 20);  // only a rare accident is valid
}

// Documents in a database, searched with formulas.
class FormulaSearchTest : public DataDirTest {
protected:
    void SetUp() override {
        DataDirTest::SetUp();
        ASSERT_EQ(NOERROR, NSFDbCreate("f.nsf", DBCLASS_NOTEFILE, FALSE));
        ASSERT_EQ(NOERROR, NSFDbOpen("f.nsf", &db_));
    }
    void TearDown() override {
        NSFDbClose(db_);
        DataDirTest::TearDown();
    }

    struct Item {
        const char* name;
        std::vector<std::string> texts;  // one entry: text, more: text list
        double number;
    };

    NOTEID AddDocument(const std::vector<Item>& items) {
        NOTEHANDLE note = NULLHANDLE;
        EXPECT_EQ(NOERROR, NSFNoteCreate(db_, &note));
        for (const Item& item : items) {
            if (item.texts.empty()) {
                NUMBER number = item.number;
                EXPECT_EQ(NOERROR, NSFItemSetNumber(note, item.name, &number));
            } else if (item.texts.size() == 1) {
                EXPECT_EQ(NOERROR, NSFItemSetText(note, item.name, item.texts[0].c_str(), MAXWORD));
            } else {
                for (const std::string& entry : item.texts)
                    EXPECT_EQ(NOERROR, NSFItemAppendTextList(note, item.name, entry.c_str(),
                                                             MAXWORD, TRUE));
            }
        }
        EXPECT_EQ(NOERROR, NSFNoteUpdate(note, 0));
        NOTEID id = 0;
        NSFNoteGetInfo(note, _NOTE_ID, &id);
        NSFNoteClose(note);
        return id;
    }

    static STATUS LNCALLBACK Collect(void* context, SEARCH_MATCH* match, ITEM_TABLE*) {
        SEARCH_MATCH copy;
        std::memcpy(&copy, match, sizeof copy);
        if (copy.SERetFlags & SE_FMATCH) static_cast<std::set<NOTEID>*>(context)->insert(copy.ID.NoteID);
        return NOERROR;
    }

    std::set<NOTEID> Selected(const std::string& formula) {
        CompileResult compiled = Compile(formula);
        EXPECT_EQ(NOERROR, compiled.status) << formula;
        std::set<NOTEID> found;
        EXPECT_EQ(NOERROR, NSFSearch(db_, compiled.handle, nullptr, 0, NOTE_CLASS_DOCUMENT,
                                     nullptr, Collect, &found, nullptr));
        OSMemFree(compiled.handle);
        return found;
    }

    DBHANDLE db_ = NULLHANDLE;
};

TEST_F(FormulaSearchTest, ConfigurationFormulaFindsTheInstanceWithABackslash) {
    NOTEID wanted = AddDocument({{"InstanceID_text", {"dir\\main"}, 0}});
    NOTEID other = AddDocument({{"InstanceID_text", {"dir\\other"}, 0}});
    AddDocument({{"Form", {"Unrelated"}, 0}});
    std::set<NOTEID> found =
        Selected("@IsAvailable(InstanceID_text) & InstanceID_text = \"dir\\\\main\";");
    EXPECT_EQ(std::set<NOTEID>{wanted}, found);
    EXPECT_EQ(std::set<NOTEID>{other},
              Selected("@IsAvailable(InstanceID_text) & InstanceID_text = \"DIR\\\\OTHER\";"));
}

TEST_F(FormulaSearchTest, ItemsListsAndMissingItems) {
    NOTEID listed = AddDocument({{"Tags", {"red", "green"}, 0}, {"Count", {}, 5}});
    NOTEID single = AddDocument({{"Tags", {"green"}, 0}, {"Empty", {""}, 0}});
    NOTEID bare = AddDocument({{"Form", {"x"}, 0}});
    EXPECT_EQ((std::set<NOTEID>{listed, single}), Selected("Tags = \"green\""));
    EXPECT_EQ((std::set<NOTEID>{listed, bare}), Selected("Tags != \"green\""));  // any entry differs
    EXPECT_EQ((std::set<NOTEID>{bare}), Selected("Tags = \"\""));  // missing is empty text
    EXPECT_EQ((std::set<NOTEID>{listed, single, bare}), Selected("Empty = \"\""));
    EXPECT_EQ((std::set<NOTEID>{single}), Selected("@IsAvailable(Empty)"));
    EXPECT_EQ((std::set<NOTEID>{listed, bare}), Selected("@IsUnavailable(empty)"));
    EXPECT_EQ((std::set<NOTEID>{listed}), Selected("Count = 5 & !(Count != 5)"));
    EXPECT_EQ((std::set<NOTEID>{listed}), Selected("Count"));  // a nonzero number selects
    EXPECT_EQ(std::set<NOTEID>{}, Selected("Count = \"5\""));  // text against number
    EXPECT_EQ(std::set<NOTEID>{}, Selected("Tags"));           // text is no condition
    // & and | rank alike and go left to right.
    EXPECT_EQ(std::set<NOTEID>{}, Selected("1 | 0 & 0"));
    EXPECT_EQ((std::set<NOTEID>{listed, single, bare}), Selected("0 & 0 | 1"));
    EXPECT_EQ((std::set<NOTEID>{single}),
              Selected("SELECT Tags = \"green\" & !(Tags = \"red\")"));
}

TEST_F(FormulaSearchTest, DamagedOrForeignHandlesAreRefused) {
    AddDocument({{"Form", {"x"}, 0}});
    CompileResult compiled = Compile("Form = \"x\"");
    ASSERT_EQ(NOERROR, compiled.status);
    DWORD size = 0;
    ASSERT_EQ(NOERROR, OSMemGetSize(compiled.handle, &size));
    char* bytes = OSLock(char, compiled.handle);
    std::memset(bytes + size - 3, 0x7F, 3);  // cut into the last instruction
    OSUnlock(compiled.handle);
    std::set<NOTEID> found;
    EXPECT_NE(NOERROR, NSFSearch(db_, compiled.handle, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr,
                                 Collect, &found, nullptr));
    EXPECT_TRUE(found.empty());
    OSMemFree(compiled.handle);

    DHANDLE plain = NULLHANDLE;
    ASSERT_EQ(NOERROR, OSMemAlloc(0, 64, &plain));
    EXPECT_NE(NOERROR, NSFSearch(db_, plain, nullptr, 0, NOTE_CLASS_DOCUMENT, nullptr, Collect,
                                 &found, nullptr));
    OSMemFree(plain);
}

}  // namespace
