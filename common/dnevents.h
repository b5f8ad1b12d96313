// dnevents.h - a note's distinguished name in the pass's DN format, and
// the rename document written before the change document of a renamed or
// moved note.
#ifndef ZELREP_DNEVENTS_H
#define ZELREP_DNEVENTS_H

#include "global.h"
#include "passdata.h"

int GetDNComponents(NOTEHANDLE hNote, char* fullDN, char* containers, char* first);
WORD GetNotesDN(NOTEHANDLE hNote, WORD dnFormat, char* out, WORD size);
STATUS OutputRenameMoveEvent(NOTEHANDLE hNote, VRD_THREAD_DATA* data, char* className,
                             char* unidText, UNIVERSALNOTEID unid);

#endif
