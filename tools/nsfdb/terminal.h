// terminal.h - the width of the terminal that standard output shows on.
#ifndef NSFDB_TERMINAL_H
#define NSFDB_TERMINAL_H

#include <cstddef>

namespace nsfdb {

// The terminal's columns when standard output is one, else 0.
size_t TerminalColumns();

}  // namespace nsfdb

#endif
