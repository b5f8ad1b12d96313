// memory.h - memory blocks behind DHANDLEs and MEMHANDLEs, for the rest of
// the runtime. A block's bytes never move while it exists, so a locked
// pointer stays valid until the block is freed.
#ifndef NOTESRT_SRC_MEMORY_H
#define NOTESRT_SRC_MEMORY_H

#include <cstddef>
#include <string>

#include "global.h"

namespace nrt {

// Allocates a zero-filled block and returns its handle (0 on failure, with
// the status in *status when given). Used by ID tables, formulas and
// converted item text.
DHANDLE AllocBlock(size_t size, STATUS* status);
// A block holding a copy of the bytes.
DHANDLE AllocBlockWith(const std::string& bytes, STATUS* status);
// The block's bytes without changing its lock count; null if unknown.
void* BlockData(DHANDLE handle, size_t* size);
size_t LiveBlockCount();

}  // namespace nrt

#endif
