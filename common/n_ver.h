// n_ver.h - the version texts of the program. Both are marker texts that
// can be found in the binary (strings zelrep | grep VeRsIoN). The Windows
// version resource (win32/zelrep.rc) takes its version, maker and legal
// notice from here too, so there is one text of each.
#ifndef ZELREP_N_VER_H
#define ZELREP_N_VER_H

#define ZELREP_VERSION "2.1.1"
// The same version as the four numbers of a Windows version resource.
#define ZELREP_VERSION_NUMBERS 2, 1, 1, 0
#define ZELREP_MAKER "The zelrep developers"
// The legal notice: the last line of the usage banner and the text of the
// CoPyRiGhT marker.
#define ZELREP_LEGAL_NOTICE "Copyright (c) 2026 " ZELREP_MAKER ". All rights reserved."

#ifndef RC_INVOKED
extern const char VeRsIoN[];
extern const char CoPyRiGhT[];
#endif

#endif
