// passreport.cpp - a pass's report around DoReplication: the facts from
// before the pass, the end, and the words and texts that the statistics
// and the pass history show for it.
#include "passreport.h"

#include <stdio.h>
#include <string.h>

#include "config.h"
#include "osmisc.h"
#include "ostime.h"
#include "tasktext.h"

void BeginPassReport(PassReport* report, CConfig* config, PASSKIND kind) {
    memset(report, 0, sizeof(*report));
    report->kind = kind;
    report->migration = kind == PASS_MIGRATE;
    OSCurrentTIMEDATE(&report->start);
    config->GetLastReplicationTimeStamp(&report->storedBefore);
    report->migrationPending = config->IsMigrationPending();
    char identity[CFG_TEXT_SIZE];
    identity[0] = '\0';
    config->GetInputIdentity(identity);
    CopyText(report->storedIdentity, sizeof(report->storedIdentity), identity);
}

void EndPassReport(PassReport* report, CConfig* config) {
    OSCurrentTIMEDATE(&report->end);
    config->GetLastReplicationTimeStamp(&report->storedAfter);
}

const char* PassKindName(PASSKIND kind) {
    switch (kind) {
        case PASS_REPLICATE: return "REPLICATE";
        case PASS_MIGRATE: return "MIGRATE";
        default: return "SCHEDULED";
    }
}

const char* PassResultName(const PassReport* report) {
    if (report->failed) return "FAILED";
    if (ERR(report->status) == ERR_NO_MODIFIED_NOTES) return "NO CHANGES";
    if (report->status != NOERROR) return "WAITING";
    return "OK";
}

void PassFigures(const PassReport* report, PassFigure figures[PASS_FIGURE_COUNT]) {
    const PassFigure all[PASS_FIGURE_COUNT] = {
        {"EntriesFound", report->entriesFound},
        {"Added", report->counts.added},
        {"Modified", report->counts.modified},
        {"Deleted", report->counts.deleted},
        {"Renamed", report->counts.renamed},
        {"SkippedLoop", report->counts.skippedLoop},
        {"SkippedClass", report->counts.skippedClass},
        {"SkippedFilter", report->counts.skippedFilter},
        {"Unpublished", report->unpublished},
    };
    for (int i = 0; i < PASS_FIGURE_COUNT; ++i) figures[i] = all[i];
}

void StatusText(STATUS status, char* text, size_t size) {
    WORD length = OSLoadString(NULLHANDLE, ERR(status), text, (WORD)(size - 1));
    text[length < size ? length : size - 1] = '\0';
}

void PassStatusText(const PassReport* report, char* text, size_t size) {
    if (report->unpublished > 0) {
        snprintf(text, size, "%d changes could not be published; the next pass publishes them again",
                 (int)report->unpublished);
        return;
    }
    if (report->status != NOERROR && ERR(report->status) != ERR_NO_MODIFIED_NOTES) {
        StatusText(report->status, text, size);
        return;
    }
    snprintf(text, size, "%d entries found, %d updated", (int)report->entriesFound, (int)report->updated);
}
