// formula.h - evaluation of compiled selection formulas, for NSFSearch.
//
// NSFFormulaCompile stores the compiled program in a memory block (freed
// with OSMemFree); FormulaSelects runs it against one note, which it sees
// only through ItemSource.
#ifndef NOTESRT_SRC_FORMULA_H
#define NOTESRT_SRC_FORMULA_H

#include <string>

#include "global.h"

namespace nrt {

// One note's items as the evaluator sees them.
class ItemSource {
public:
    virtual ~ItemSource() = default;
    // The first item of that name (compared without regard to case): its
    // type and its value's bytes without the leading type WORD.
    virtual bool FindItem(const std::string& name, WORD* type, std::string* data) const = 0;
};

// ERR_INVALID_HANDLE when the handle is not a compiled formula.
STATUS FormulaSelects(FORMULAHANDLE formula, const ItemSource& note, bool* selected);

}  // namespace nrt

#endif
