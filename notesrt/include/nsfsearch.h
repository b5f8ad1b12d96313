/* nsfsearch.h - selection formulas and database search. */
#ifndef NOTESRT_NSFSEARCH_H
#define NOTESRT_NSFSEARCH_H

#include "global.h"

#define SEARCH_ALL_VERSIONS 0x0001
#define SEARCH_SUMMARY 0x0002
#define SEARCH_NOTIFYDELETIONS 0x0010

#define SE_FNOMATCH 0x00
#define SE_FMATCH 0x01
#define SE_FTRUNCATED 0x02
#define SE_FPURGED 0x04
#define SE_FNOPURGE 0x08
#define SE_FSOFTDELETED 0x10

typedef struct {
    GLOBALINSTANCEID ID;
    ORIGINATORID OriginatorID;
    WORD NoteClass;
    BYTE SERetFlags;
    BYTE Privileges;
    WORD SummaryLength;
} SEARCH_MATCH;

typedef struct {
    USHORT Length;
    USHORT Items;
} ITEM_TABLE;

typedef STATUS(LNCALLBACK* NSFSEARCHPROC)(void* parameter, SEARCH_MATCH* match,
                                           ITEM_TABLE* summaryBuffer);

NRT_EXTERN_C_BEGIN

/* Compiles a selection formula (a text length of MAXWORD means the text is
 * NUL-terminated). On failure returns ERR_FORMULA_COMPILATION, also in
 * *retCompileError, with the place in the other outputs (line and column
 * from 1, offset from 0, length of the offending part); the reason is in
 * NRTLastErrorDetail. */
STATUS LNPUBLIC NSFFormulaCompile(const char* formulaName, WORD formulaNameLength,
                                  const char* formulaText, WORD formulaTextLength,
                                  FORMULAHANDLE* rethFormula, WORD* retFormulaLength,
                                  STATUS* retCompileError, WORD* retCompileErrorLine,
                                  WORD* retCompileErrorColumn,
                                  WORD* retCompileErrorOffset,
                                  WORD* retCompileErrorLength);
/* Calls the routine for each note of the classes; with a null since only
 * selected notes are passed (SE_FMATCH set); with a since, every note
 * changed after it is passed, stubs and unselected notes included. */
STATUS LNPUBLIC NSFSearch(DBHANDLE hDB, FORMULAHANDLE hFormula, const char* viewTitle,
                          WORD searchFlags, WORD noteClassMask, TIMEDATE* since,
                          NSFSEARCHPROC enumRoutine, void* enumRoutineParameter,
                          TIMEDATE* retUntil);

NRT_EXTERN_C_END

#endif
