// idtables.cpp - the publication pass.
#include "idtables.h"

// Placeholder until the publication engine lands: publishes nothing.
STATUS DoReplication(CConfig*, char*, char*, int*, int*, int) { return NOERROR; }
