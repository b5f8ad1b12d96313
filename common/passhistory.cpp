// passhistory.cpp - appending pass documents to the history database and
// removing old ones (passhistory.h).
//
// Items of a pass document (form "Pass"): Instance, Kind, Scope (CHANGES or
// ALL), Start, End, Since (CHANGES only), Until (when the pass got that
// far), StoredTime (absent while a migration is to finish), Chain
// (CONTINUES, FULL for a publication of every object, or GAP, with its
// GapReason), the counts, Result and StatusText. Documents are appended in
// time order, so the removal of old ones walks from the first and stops at
// the first young one.
#include "passhistory.h"

#include <string.h>

#include <vector>

#include "config.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "nsfsearch.h"
#include "osenv.h"
#include "ostime.h"
#include "taskstats.h"
#include "tasktext.h"

namespace {

const char kForm[] = "Pass";
const char kTitle[] = "zelrep Pass History";
const LONG kSecondsPerDay = 86400;
const LONG kMaxDays = 36500;

// What this process remembers between its passes. The database stays
// open from the first pass to the end of the task: closing it makes the
// runtime copy its log into the file and sync it, which would cost an
// incremental pass more than the document does.
struct History {
    DBHANDLE hDB;
    int havePrevious;
    TIMEDATE previousStored;
    int purged;
    TIMEDATE lastPurge;
};

History g_history;

int SameTime(const TIMEDATE* a, const TIMEDATE* b) {
    return a->Innards[0] == b->Innards[0] && a->Innards[1] == b->Innards[1];
}

int IsKnown(const TIMEDATE* time) {
    TIMEDATE wildcard;
    TimeConstant(TIMEDATE_WILDCARD, &wildcard);
    return (time->Innards[0] != 0 || time->Innards[1] != 0) && !SameTime(time, &wildcard);
}

PASSGAP JudgeGap(const PassReport* report) {
    if (report->storedIdentity[0] != '\0' && report->inputIdentity[0] != '\0' &&
        strcmp(report->storedIdentity, report->inputIdentity) != 0)
        return GAP_INPUT_REPLACED;
    if (report->migration) return GAP_NONE;
    if (g_history.havePrevious)
        return SameTime(&report->since, &g_history.previousStored) ? GAP_NONE : GAP_TIME_SET;
    // nsfdb instance --last-event (and a new instance) leaves the stored
    // time without the identity that the task stores with its own.
    return report->storedIdentity[0] == '\0' ? GAP_TIME_SET : GAP_NONE;
}

const char* ChainWord(const PassReport* report) {
    if (report->gap != GAP_NONE) return "GAP";
    return report->migration ? "FULL" : "CONTINUES";
}

const char* GapReason(PASSGAP gap) {
    return gap == GAP_INPUT_REPLACED ? "the input database was replaced"
                                     : "the stored time was set outside the task";
}

// The days to keep; 0 keeps no history.
LONG DaysToKeep() {
    char value[16];
    if (!OSGetEnvironmentString(PASS_HISTORY_DAYS_SETTING, value, sizeof(value) - 1))
        return PASS_HISTORY_DEFAULT_DAYS;
    LONG days = OSGetEnvironmentLong(PASS_HISTORY_DAYS_SETTING);
    if (days < 0) return PASS_HISTORY_DEFAULT_DAYS;
    return days > kMaxDays ? kMaxDays : days;
}

STATUS OpenHistory(DBHANDLE* hDB) {
    if (*hDB != NULLHANDLE) return NOERROR;
    if (NSFDbOpen(PASS_HISTORY_DB, hDB) == NOERROR) return NOERROR;
    STATUS created = NSFDbCreate(PASS_HISTORY_DB, DBCLASS_NOTEFILE, FALSE);
    STATUS status = NSFDbOpen(PASS_HISTORY_DB, hDB);
    if (status != NOERROR) {
        *hDB = NULLHANDLE;
        return created != NOERROR ? created : status;
    }
    if (created != NOERROR) return NOERROR;  // another instance made it meanwhile
    char info[NSF_INFO_SIZE];
    memset(info, 0, sizeof(info));
    if (NSFDbInfoGet(*hDB, info) == NOERROR) {
        NSFDbInfoModify(info, INFOPARSE_TITLE, kTitle);
        NSFDbInfoSet(*hDB, info);
    }
    return NOERROR;
}

STATUS SetNumber(NOTEHANDLE hNote, const char* item, int32_t value) {
    NUMBER number = value;
    return NSFItemSetNumber(hNote, item, &number);
}

STATUS SetTime(NOTEHANDLE hNote, const char* item, const TIMEDATE* time) {
    if (!IsKnown(time)) return NOERROR;
    TIMEDATE copy = *time;
    return NSFItemSetTime(hNote, item, &copy);
}

STATUS WriteTexts(NOTEHANDLE hNote, CConfig* config, const PassReport* report) {
    char instance[CFG_TEXT_SIZE];
    instance[0] = '\0';
    config->GetInstanceName(instance);
    char statusText[LOG_LINE_SIZE];
    PassStatusText(report, statusText, sizeof(statusText));
    const char* const texts[][2] = {
        {"Form", kForm},
        {"Instance", instance},
        {"Kind", PassKindName(report->kind)},
        {"Scope", report->migration ? "ALL" : "CHANGES"},
        {"Chain", ChainWord(report)},
        {"Result", PassResultName(report)},
        {"StatusText", statusText},
    };
    for (const auto& text : texts) {
        STATUS status = NSFItemSetText(hNote, text[0], text[1], MAXWORD);
        if (status != NOERROR) return status;
    }
    if (report->gap == GAP_NONE) return NOERROR;
    return NSFItemSetText(hNote, "GapReason", GapReason(report->gap), MAXWORD);
}

STATUS WriteFigures(NOTEHANDLE hNote, const PassReport* report) {
    PassFigure figures[PASS_FIGURE_COUNT];
    PassFigures(report, figures);
    for (const PassFigure& figure : figures) {
        STATUS status = SetNumber(hNote, figure.name, figure.value);
        if (status != NOERROR) return status;
    }
    return NOERROR;
}

STATUS WriteTimes(NOTEHANDLE hNote, const PassReport* report) {
    const struct {
        const char* item;
        const TIMEDATE* time;
    } times[] = {
        {"Start", &report->start},
        {"End", &report->end},
        {"Since", &report->since},
        {"Until", &report->until},
        {"StoredTime", &report->storedAfter},
    };
    for (const auto& time : times) {
        STATUS status = SetTime(hNote, time.item, time.time);
        if (status != NOERROR) return status;
    }
    return NOERROR;
}

STATUS AppendDocument(DBHANDLE hDB, CConfig* config, const PassReport* report) {
    NOTEHANDLE hNote = NULLHANDLE;
    STATUS status = NSFNoteCreate(hDB, &hNote);
    if (status != NOERROR) return status;
    status = WriteTexts(hNote, config, report);
    if (status == NOERROR) status = WriteTimes(hNote, report);
    if (status == NOERROR) status = WriteFigures(hNote, report);
    if (status == NOERROR) status = NSFNoteUpdate(hNote, 0);
    STATUS closed = NSFNoteClose(hNote);
    return status != NOERROR ? status : closed;
}

// ---- removal of old documents ----

struct PurgeWalk {
    DBHANDLE hDB;
    TIMEDATE cutoff;
    std::vector<NOTEID> old;
    int reachedYoung;  // the walk was stopped there
};

// Any status stops a search; this one only says where.
const STATUS kStopWalk = ERR_NOT_FOUND;

// Collects documents that ended before the cutoff; stops at the first
// that did not.
STATUS LNCALLBACK CollectOld(void* parameter, SEARCH_MATCH* match, ITEM_TABLE*) {
    PurgeWalk* walk = (PurgeWalk*)parameter;
    NOTEHANDLE hNote = NULLHANDLE;
    if (NSFNoteOpen(walk->hDB, match->ID.NoteID, 0, &hNote) != NOERROR) return NOERROR;
    TIMEDATE end;
    int found = NSFItemGetTime(hNote, "End", &end);
    NSFNoteClose(hNote);
    if (found && TimeDateCompare(&end, &walk->cutoff) >= 0) {
        walk->reachedYoung = 1;
        return kStopWalk;
    }
    walk->old.push_back(match->ID.NoteID);
    return NOERROR;
}

int PurgeDue(const TIMEDATE* now) {
    return !g_history.purged || TimeDateDifference(now, &g_history.lastPurge) >= kSecondsPerDay;
}

STATUS PurgeOld(DBHANDLE hDB, LONG days) {
    TIMEDATE now;
    OSCurrentTIMEDATE(&now);
    if (!PurgeDue(&now)) return NOERROR;
    g_history.purged = 1;
    g_history.lastPurge = now;
    PurgeWalk walk;
    walk.reachedYoung = 0;
    walk.hDB = hDB;
    walk.cutoff = now;
    TimeDateAdjustSeconds(&walk.cutoff, -days * kSecondsPerDay);
    STATUS status = NSFSearch(hDB, NULLHANDLE, 0, 0, NOTE_CLASS_DOCUMENT, 0, CollectOld, &walk, 0);
    if (status != NOERROR && !walk.reachedYoung) return status;
    for (NOTEID id : walk.old) {
        status = NSFNoteDelete(hDB, id, 0);
        if (status != NOERROR) return status;
    }
    return NOERROR;
}

void ReportFailure(CConfig* config, STATUS status) {
    char statusLine[CFG_TEXT_SIZE], text[LOG_LINE_SIZE];
    statusLine[0] = '\0';
    config->GetStatusLine(statusLine);
    char reason[LOG_LINE_SIZE];
    StatusText(status, reason, sizeof(reason));
    FormatText(text, sizeof(text), "The pass history could not be written to %s: %s", PASS_HISTORY_DB,
               reason);
    LogLine(NOERROR, "%s: %s", statusLine, text);
    TaskStatsError(text);
}

}  // namespace

void PassHistoryAppend(CConfig* config, PassReport* report) {
    report->gap = JudgeGap(report);
    g_history.havePrevious = 1;
    g_history.previousStored = report->storedAfter;
    LONG days = DaysToKeep();
    if (days == 0) return;
    STATUS status = OpenHistory(&g_history.hDB);
    if (status == NOERROR) status = AppendDocument(g_history.hDB, config, report);
    if (status == NOERROR) status = PurgeOld(g_history.hDB, days);
    if (status == NOERROR) return;
    ReportFailure(config, status);
    PassHistoryClose();  // the next pass opens it afresh
}

void PassHistoryClose() {
    if (g_history.hDB != NULLHANDLE) NSFDbClose(g_history.hDB);
    g_history.hDB = NULLHANDLE;
}
