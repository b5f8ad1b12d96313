// n_ver.cpp - the version and legal-notice marker texts.
#include "n_ver.h"

const char VeRsIoN[] = "char *VeRsIoN=2.1.1 Lotus Notes Orvane Driver Addin Process Module";
const char CoPyRiGhT[] = "char *CoPyRiGhT=" ZELREP_LEGAL_NOTICE;
