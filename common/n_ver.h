// n_ver.h - the version texts of the program. Both are marker texts that
// can be found in the binary (strings zelrep | grep VeRsIoN).
#ifndef ZELREP_N_VER_H
#define ZELREP_N_VER_H

#define ZELREP_VERSION "2.1.1"
// The legal notice: the last line of the usage banner and the text of the
// CoPyRiGhT marker.
#define ZELREP_LEGAL_NOTICE "Copyright (c) 2026 The zelrep developers. All rights reserved."

extern const char VeRsIoN[];
extern const char CoPyRiGhT[];

#endif
