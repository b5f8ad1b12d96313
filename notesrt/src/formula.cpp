// formula.cpp - selection formulas: NSFFormulaCompile turns the text into a
// small postfix program kept in a memory block, FormulaSelects runs it
// against one note (formula.h).
//
// The language: an optional SELECT, one expression, an optional closing ';'.
// Operands are item names, "text" literals (a backslash takes the next
// character as it is), numbers, @IsAvailable(item) and
// @IsUnavailable(item), and parenthesised expressions. Operators, from the
// tightest: = and != (one per comparison), then !, then & and | (equal
// rank, left to right). Anything else is a compile error with its place;
// nothing is run unless the whole text compiled.
//
// Evaluation: a missing item is the empty text. Text compares without
// regard to ASCII letter case, as the formula language's = does. Lists
// compare pair by pair, the shorter one repeating its last entry: = holds
// when any pair is equal, != when any pair differs. Comparing text with a
// number, or using text as a condition, is an error that leaves the note
// unselected.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "formula.h"
#include "itemvalue.h"
#include "memory.h"
#include "nsfsearch.h"
#include "status.h"

namespace nrt {
namespace {

// ------------------------------------------------------------ program form

const char kMagic[4] = {'N', 'R', 'T', 'F'};
constexpr int kMaxNesting = 100;
constexpr size_t kMaxProgramSize = 0xFFFF;

enum Op : unsigned char {
    kOpText = 1,  // WORD length, bytes
    kOpNumber,    // 8 bytes
    kOpItem,      // WORD length, name
    kOpIsAvailable,
    kOpIsUnavailable,
    kOpEqual,
    kOpNotEqual,
    kOpAnd,
    kOpOr,
    kOpNot,
};

// ------------------------------------------------------------------ tokens

enum class Tok { kEnd, kName, kFunction, kText, kNumber, kOpen, kClose, kEqual, kNotEqual,
                 kAnd, kOr, kNot, kSemicolon, kBad };

struct Token {
    Tok kind = Tok::kEnd;
    size_t offset = 0;
    size_t length = 0;
    std::string text;  // name, function name or the literal's value
    double number = 0;
    const char* problem = nullptr;  // for kBad
};

bool IsNameStart(char c) { return std::isalpha((unsigned char)c) || c == '_' || c == '$'; }
bool IsNameChar(char c) { return IsNameStart(c) || std::isdigit((unsigned char)c); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return std::isdigit((unsigned char)c) != 0; }

bool SameWord(const std::string& a, const char* b) {
    size_t length = std::strlen(b);
    if (a.size() != length) return false;
    for (size_t i = 0; i < length; ++i)
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
    return true;
}

class Lexer {
public:
    Lexer(const char* text, size_t length) : text_(text), length_(length) {}

    Token Next() {
        while (pos_ < length_ && IsBlank(text_[pos_])) ++pos_;
        Token token;
        token.offset = pos_;
        if (pos_ >= length_) return token;
        char c = text_[pos_];
        if (c == '"') return Finish(ReadText(&token), &token);
        if (c == '@' || IsNameStart(c)) return Finish(ReadName(c == '@', &token), &token);
        if (IsDigit(c) || (c == '.' && pos_ + 1 < length_ && IsDigit(text_[pos_ + 1])))
            return Finish(ReadNumber(&token), &token);
        return Finish(ReadSymbol(&token), &token);
    }

private:
    Token Finish(bool ok, Token* token) {
        if (!ok) token->kind = Tok::kBad;
        token->length = pos_ - token->offset;
        if (token->length == 0) token->length = 1;
        return *token;
    }

    bool ReadText(Token* token) {
        token->kind = Tok::kText;
        ++pos_;
        while (pos_ < length_ && text_[pos_] != '"') {
            if (text_[pos_] == '\\') ++pos_;
            if (pos_ < length_) token->text += text_[pos_++];
        }
        if (pos_ >= length_) {
            token->problem = "text has no closing quote";
            return false;
        }
        ++pos_;
        return true;
    }

    bool ReadName(bool function, Token* token) {
        token->kind = function ? Tok::kFunction : Tok::kName;
        if (function) ++pos_;
        size_t start = pos_;
        while (pos_ < length_ && IsNameChar(text_[pos_])) ++pos_;
        token->text.assign(text_ + start, pos_ - start);
        if (!token->text.empty() && IsNameStart(token->text[0])) return true;
        token->problem = "@ must be followed by a function name";
        return false;
    }

    bool ReadNumber(Token* token) {
        token->kind = Tok::kNumber;
        size_t start = pos_;
        SkipDigits();
        if (pos_ < length_ && text_[pos_] == '.') ++pos_, SkipDigits();
        if (pos_ < length_ && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            size_t mark = pos_++;
            if (pos_ < length_ && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
            if (pos_ < length_ && IsDigit(text_[pos_])) SkipDigits();
            else pos_ = mark;  // "1e" is the number 1 followed by a name
        }
        std::string digits(text_ + start, pos_ - start);
        token->number = std::strtod(digits.c_str(), nullptr);
        return true;
    }

    void SkipDigits() {
        while (pos_ < length_ && IsDigit(text_[pos_])) ++pos_;
    }

    bool ReadSymbol(Token* token) {
        char c = text_[pos_++];
        switch (c) {
            case '(': token->kind = Tok::kOpen; return true;
            case ')': token->kind = Tok::kClose; return true;
            case '=': token->kind = Tok::kEqual; return true;
            case '&': token->kind = Tok::kAnd; return true;
            case '|': token->kind = Tok::kOr; return true;
            case ';': token->kind = Tok::kSemicolon; return true;
            case '!':
                token->kind = Tok::kNot;
                if (pos_ < length_ && text_[pos_] == '=') ++pos_, token->kind = Tok::kNotEqual;
                return true;
            default:
                token->problem = "unexpected character";
                return false;
        }
    }

    const char* text_;
    size_t length_;
    size_t pos_ = 0;
};

// ---------------------------------------------------------------- compiler

struct CompileError {
    std::string reason;
    size_t offset = 0;
    size_t length = 0;
};

class Compiler {
public:
    Compiler(const char* text, size_t length) : lexer_(text, length) { Advance(); }

    bool Compile(std::string* program, CompileError* error) {
        program_.assign(kMagic, sizeof kMagic);
        bool ok = Statement();
        if (ok && program_.size() > kMaxProgramSize)
            ok = Fail("formula is too large", current_.offset);
        if (!ok) {
            *error = error_;
            return false;
        }
        *program = program_;
        return true;
    }

private:
    void Advance() { current_ = lexer_.Next(); }

    bool Fail(const char* reason) { return Fail(reason, current_.offset, current_.length); }
    bool Fail(const char* reason, size_t offset, size_t length = 1) {
        if (error_.reason.empty()) {
            error_.reason = current_.kind == Tok::kBad && current_.problem ? current_.problem : reason;
            error_.offset = offset;
            error_.length = length;
        }
        return false;
    }

    bool Statement() {
        if (current_.kind == Tok::kName && SameWord(current_.text, "SELECT")) Advance();
        if (current_.kind == Tok::kEnd || current_.kind == Tok::kSemicolon)
            return Fail("formula is empty");
        if (!Logical(0)) return false;
        if (current_.kind == Tok::kSemicolon) Advance();
        if (current_.kind != Tok::kEnd) return Fail("only one expression is allowed");
        return true;
    }

    // Negations joined by & and |, left to right.
    bool Logical(int depth) {
        if (!Negation(depth)) return false;
        while (current_.kind == Tok::kAnd || current_.kind == Tok::kOr) {
            Op op = current_.kind == Tok::kAnd ? kOpAnd : kOpOr;
            Advance();
            if (!Negation(depth)) return false;
            Emit(op);
        }
        return true;
    }

    bool Negation(int depth) {
        if (depth > kMaxNesting) return Fail("formula is nested too deeply");
        if (current_.kind != Tok::kNot) return Comparison(depth);
        Advance();
        if (!Negation(depth + 1)) return false;
        Emit(kOpNot);
        return true;
    }

    bool Comparison(int depth) {
        if (!Operand(depth)) return false;
        if (current_.kind != Tok::kEqual && current_.kind != Tok::kNotEqual) return true;
        Op op = current_.kind == Tok::kEqual ? kOpEqual : kOpNotEqual;
        Advance();
        if (!Operand(depth)) return false;
        Emit(op);
        if (current_.kind == Tok::kEqual || current_.kind == Tok::kNotEqual)
            return Fail("comparisons cannot be chained; use parentheses");
        return true;
    }

    bool Operand(int depth) {
        switch (current_.kind) {
            case Tok::kOpen: return Parenthesised(depth);
            case Tok::kFunction: return Function();
            case Tok::kText:
                EmitWithText(kOpText, current_.text);
                Advance();
                return true;
            case Tok::kNumber:
                EmitNumber(current_.number);
                Advance();
                return true;
            case Tok::kName:
                if (IsReservedWord(current_.text)) return Fail("keyword is not supported here");
                EmitWithText(kOpItem, current_.text);
                Advance();
                return true;
            default:
                return Fail("a value is expected here");
        }
    }

    bool Parenthesised(int depth) {
        if (depth >= kMaxNesting) return Fail("formula is nested too deeply");
        size_t open = current_.offset;
        Advance();
        if (!Logical(depth + 1)) return false;
        if (current_.kind != Tok::kClose) return Fail("')' is missing", open);
        Advance();
        return true;
    }

    bool Function() {
        Op op;
        if (SameWord(current_.text, "IsAvailable")) op = kOpIsAvailable;
        else if (SameWord(current_.text, "IsUnavailable")) op = kOpIsUnavailable;
        else return Fail("unknown @function");
        Advance();
        if (current_.kind != Tok::kOpen) return Fail("'(' is expected after the @function");
        Advance();
        if (current_.kind != Tok::kName || IsReservedWord(current_.text))
            return Fail("an item name is expected");
        std::string name = current_.text;
        Advance();
        if (current_.kind != Tok::kClose) return Fail("')' is expected");
        Advance();
        EmitWithText(op, name);
        return true;
    }

    static bool IsReservedWord(const std::string& word) {
        for (const char* reserved : {"SELECT", "FIELD", "DEFAULT", "ENVIRONMENT", "REM"})
            if (SameWord(word, reserved)) return true;
        return false;
    }

    void Emit(Op op) { program_ += (char)op; }
    void EmitWithText(Op op, const std::string& text) {
        Emit(op);
        WORD length = (WORD)text.size();  // within a formula of at most 64K
        program_.append(reinterpret_cast<const char*>(&length), sizeof length);
        program_ += text;
    }
    void EmitNumber(double number) {
        Emit(kOpNumber);
        program_.append(reinterpret_cast<const char*>(&number), sizeof number);
    }

    Lexer lexer_;
    Token current_;
    std::string program_;
    CompileError error_;
};

// Line and column (both from 1) of a byte offset.
void PlaceOf(const char* text, size_t offset, WORD* line, WORD* column) {
    size_t lines = 1, columns = 1;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') ++lines, columns = 1;
        else ++columns;
    }
    *line = (WORD)(lines > MAXWORD ? MAXWORD : lines);
    *column = (WORD)(columns > MAXWORD ? MAXWORD : columns);
}

// --------------------------------------------------------------- evaluator

struct Value {
    enum Kind { kText, kNumber, kOther, kError } kind = kError;
    std::vector<std::string> texts;
    std::vector<double> numbers;

    static Value Text(std::vector<std::string> entries) {
        Value value;
        value.kind = kText;
        value.texts = std::move(entries);
        if (value.texts.empty()) value.texts.emplace_back();  // empty list reads as ""
        return value;
    }
    static Value Number(double number) {
        Value value;
        value.kind = kNumber;
        value.numbers.push_back(number);
        return value;
    }
    static Value Of(Kind kind) {
        Value value;
        value.kind = kind;
        return value;
    }
    size_t Size() const { return kind == kText ? texts.size() : numbers.size(); }
    bool Truth() const { return numbers.front() != 0; }
};

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
    return true;
}

bool PairEqual(const Value& a, const Value& b, size_t i) {
    size_t ia = i < a.Size() ? i : a.Size() - 1;
    size_t ib = i < b.Size() ? i : b.Size() - 1;
    if (a.kind == Value::kText) return SameText(a.texts[ia], b.texts[ib]);
    return a.numbers[ia] == b.numbers[ib];
}

Value Compare(const Value& a, const Value& b, bool equal) {
    if (a.kind != b.kind || (a.kind != Value::kText && a.kind != Value::kNumber))
        return Value::Of(Value::kError);
    size_t pairs = a.Size() > b.Size() ? a.Size() : b.Size();
    for (size_t i = 0; i < pairs; ++i)
        if (PairEqual(a, b, i) == equal) return Value::Number(1);
    return Value::Number(0);
}

Value ItemValue(const ItemSource& note, const std::string& name) {
    WORD type = 0;
    std::string data;
    if (!note.FindItem(name, &type, &data)) return Value::Text({});
    std::vector<std::string> entries;
    if (TextEntries(type, data, &entries)) return Value::Text(std::move(entries));
    NUMBER number = 0;
    if (FirstNumber(type, data, &number)) return Value::Number(number);
    return Value::Of(Value::kOther);
}

// Reads the program defensively: a damaged block never reads past its end.
class ProgramReader {
public:
    ProgramReader(const char* bytes, size_t size) : bytes_(bytes), size_(size) {}
    bool AtEnd() const { return pos_ == size_; }
    bool Byte(unsigned char* value) { return Raw(value, 1); }
    bool Number(double* value) { return Raw(value, sizeof *value); }
    bool Text(std::string* text) {
        WORD length = 0;
        if (!Raw(&length, sizeof length) || size_ - pos_ < length) return false;
        text->assign(bytes_ + pos_, length);
        pos_ += length;
        return true;
    }

private:
    bool Raw(void* out, size_t length) {
        if (size_ - pos_ < length) return false;
        std::memcpy(out, bytes_ + pos_, length);
        pos_ += length;
        return true;
    }
    const char* bytes_;
    size_t size_;
    size_t pos_ = 0;
};

bool PopTwo(std::vector<Value>* stack, Value* a, Value* b) {
    if (stack->size() < 2) return false;
    *b = std::move(stack->back());
    stack->pop_back();
    *a = std::move(stack->back());
    stack->pop_back();
    return true;
}

Value Logical(const Value& a, const Value& b, bool both) {
    if (a.kind != Value::kNumber || b.kind != Value::kNumber) return Value::Of(Value::kError);
    return Value::Number(both ? (a.Truth() && b.Truth()) : (a.Truth() || b.Truth()));
}

// One instruction; false when the program is damaged.
bool Step(unsigned char op, ProgramReader* in, const ItemSource& note, std::vector<Value>* stack) {
    std::string text;
    double number = 0;
    Value a, b;
    switch (op) {
        case kOpText:
            if (!in->Text(&text)) return false;
            stack->push_back(Value::Text({text}));
            return true;
        case kOpNumber:
            if (!in->Number(&number)) return false;
            stack->push_back(Value::Number(number));
            return true;
        case kOpItem:
            if (!in->Text(&text)) return false;
            stack->push_back(ItemValue(note, text));
            return true;
        case kOpIsAvailable:
        case kOpIsUnavailable: {
            if (!in->Text(&text)) return false;
            WORD type = 0;
            std::string data;
            bool present = note.FindItem(text, &type, &data);
            stack->push_back(Value::Number(present == (op == kOpIsAvailable)));
            return true;
        }
        case kOpEqual:
        case kOpNotEqual:
            if (!PopTwo(stack, &a, &b)) return false;
            stack->push_back(Compare(a, b, op == kOpEqual));
            return true;
        case kOpAnd:
        case kOpOr:
            if (!PopTwo(stack, &a, &b)) return false;
            stack->push_back(Logical(a, b, op == kOpAnd));
            return true;
        case kOpNot:
            if (stack->empty()) return false;
            if (stack->back().kind != Value::kNumber) stack->back() = Value::Of(Value::kError);
            else stack->back() = Value::Number(!stack->back().Truth());
            return true;
        default:
            return false;
    }
}

STATUS Run(const char* bytes, size_t size, const ItemSource& note, bool* selected) {
    if (size < sizeof kMagic || std::memcmp(bytes, kMagic, sizeof kMagic) != 0)
        return ERR_INVALID_HANDLE;
    ProgramReader in(bytes + sizeof kMagic, size - sizeof kMagic);
    std::vector<Value> stack;
    while (!in.AtEnd()) {
        unsigned char op = 0;
        if (!in.Byte(&op) || !Step(op, &in, note, &stack)) return ERR_INVALID_HANDLE;
    }
    if (stack.size() != 1) return ERR_INVALID_HANDLE;
    *selected = stack.back().kind == Value::kNumber && stack.back().Truth();
    return NOERROR;
}

}  // namespace

STATUS FormulaSelects(FORMULAHANDLE formula, const ItemSource& note, bool* selected) {
    if (selected == nullptr) return ERR_BAD_PARAM;
    *selected = false;
    size_t size = 0;
    const char* bytes = static_cast<const char*>(BlockData(formula, &size));
    if (bytes == nullptr) return ERR_INVALID_HANDLE;
    try {
        return Run(bytes, size, note, selected);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY;
    }
}

}  // namespace nrt

namespace {

template <typename T>
void Put(T* out, T value) {
    if (out != nullptr) *out = value;
}

STATUS Compile(const char* text, size_t length, FORMULAHANDLE* rethFormula,
               WORD* retFormulaLength, STATUS* retCompileError, WORD* line, WORD* column,
               WORD* offset, WORD* errorLength) {
    std::string program;
    nrt::CompileError error;
    if (!nrt::Compiler(text, length).Compile(&program, &error)) {
        WORD errorLine = 0, errorColumn = 0;
        nrt::PlaceOf(text, error.offset, &errorLine, &errorColumn);
        Put(retCompileError, (STATUS)ERR_FORMULA_COMPILATION);
        Put(line, errorLine);
        Put(column, errorColumn);
        Put(offset, (WORD)error.offset);
        Put(errorLength, (WORD)error.length);
        return nrt::Fail(ERR_FORMULA_COMPILATION,
                         "formula: " + error.reason + " (line " + std::to_string(errorLine) +
                             ", column " + std::to_string(errorColumn) + ")");
    }
    STATUS status = NOERROR;
    DHANDLE handle = nrt::AllocBlockWith(program, &status);
    if (handle == NULLHANDLE) return status;
    *rethFormula = handle;
    Put(retFormulaLength, (WORD)program.size());
    return NOERROR;
}

}  // namespace

extern "C" {

STATUS LNPUBLIC NSFFormulaCompile(const char* /*formulaName*/, WORD /*formulaNameLength*/,
                                  const char* formulaText, WORD formulaTextLength,
                                  FORMULAHANDLE* rethFormula, WORD* retFormulaLength,
                                  STATUS* retCompileError, WORD* retCompileErrorLine,
                                  WORD* retCompileErrorColumn,
                                  WORD* retCompileErrorOffset,
                                  WORD* retCompileErrorLength) {
    Put(retFormulaLength, (WORD)0);
    Put(retCompileError, (STATUS)NOERROR);
    Put(retCompileErrorLine, (WORD)0);
    Put(retCompileErrorColumn, (WORD)0);
    Put(retCompileErrorOffset, (WORD)0);
    Put(retCompileErrorLength, (WORD)0);
    if (rethFormula == nullptr || formulaText == nullptr) return ERR_BAD_PARAM;
    *rethFormula = NULLHANDLE;
    try {
        size_t length = formulaTextLength == MAXWORD ? std::strlen(formulaText) : formulaTextLength;
        return Compile(formulaText, length, rethFormula,
                       retFormulaLength, retCompileError, retCompileErrorLine,
                       retCompileErrorColumn, retCompileErrorOffset, retCompileErrorLength);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY;
    }
}

}  // extern "C"
