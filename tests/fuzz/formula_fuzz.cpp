// formula_fuzz.cpp - libFuzzer target for the selection formula compiler:
// any text is compiled with its exact length (the sanitizer sees any read
// past it); a failure must report a place inside the text and no handle; a
// success is run against a note with a text, a text list and a number item.
// Traps on an inconsistent result.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "../../notesrt/src/formula.h"
#include "nsferr.h"
#include "nsfsearch.h"
#include "osmem.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// Form = "Person", Tags = "a" : "B", Count = 2.
class SampleNote : public nrt::ItemSource {
public:
    bool FindItem(const std::string& name, WORD* type, std::string* data) const override {
        if (strcasecmp(name.c_str(), "Form") == 0) {
            *type = 0x0500;
            *data = "Person";
            return true;
        }
        if (strcasecmp(name.c_str(), "Tags") == 0) {
            const unsigned char list[] = {2, 0, 1, 0, 1, 0, 'a', 'B'};
            *type = 0x0501;
            data->assign(reinterpret_cast<const char*>(list), sizeof list);
            return true;
        }
        if (strcasecmp(name.c_str(), "Count") == 0) {
            double two = 2;
            *type = 0x0300;
            data->assign(reinterpret_cast<const char*>(&two), sizeof two);
            return true;
        }
        return false;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= MAXWORD) return 0;  // MAXWORD would mean a terminated text
    FORMULAHANDLE formula = NULLHANDLE;
    WORD programLength = 0, line = 0, column = 0, offset = 0, errorLength = 0;
    STATUS compileError = NOERROR;
    STATUS status = NSFFormulaCompile(nullptr, 0, reinterpret_cast<const char*>(data), (WORD)size,
                                      &formula, &programLength, &compileError, &line, &column,
                                      &offset, &errorLength);
    if (status != NOERROR) {
        Check(status == ERR_FORMULA_COMPILATION && compileError == ERR_FORMULA_COMPILATION);
        Check(formula == NULLHANDLE && offset <= size && line >= 1 && column >= 1);
        return 0;
    }
    Check(formula != NULLHANDLE && programLength > 0);
    bool selected = false;
    Check(nrt::FormulaSelects(formula, SampleNote(), &selected) == NOERROR);
    Check(OSMemFree(formula) == NOERROR);
    return 0;
}
