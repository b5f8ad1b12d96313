// procnotes.h - note processing of a publication pass: ProcessNotes over
// the pass's note list, the count of notes not read, the item change test
// and the processed stamp ($ZELREPLastProcessedTime) on source notes.
#ifndef ZELREP_PROCNOTES_H
#define ZELREP_PROCNOTES_H

#include "global.h"
#include "passdata.h"

#define LAST_PROCESSED_ITEM "$ZELREPLastProcessedTime"

STATUS ProcessNotes(VRD_THREAD_DATA* data);
// Counts a change of the pass whose note could not be read; returns status.
STATUS CountNotRead(VRD_THREAD_DATA* data, STATUS status);

int IsItemChanged(NOTEHANDLE hNote, char* itemName, TIMEDATE* time, long traceLevel);
int GetZELREPLastProcessedTime(NOTEHANDLE hNote, TIMEDATE* time, long traceLevel);
int SetZELREPLastProcessedTime(NOTEHANDLE hNote, long traceLevel);

#endif
