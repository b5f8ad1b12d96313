// taskstats.cpp - publishing the instance's statistics (taskstats.h)
// through the Notes statistics calls. Each is unique in the server (its
// name carries the instance); an update that does not change a value costs
// next to nothing, so the main loop may set State and Lag on every round.
#include "taskstats.h"

#include <stdio.h>
#include <string.h>

#include "config.h"
#include "osenv.h"
#include "ostime.h"
#include "stats.h"
#include "tasktext.h"

namespace {

// During a pass, the progress figures are published every this many notes
// (some twenty times a second in a migration): two updates, 10 to 60 us in
// all, per 500 notes of about 90 us each cost about 0.1% of the pass.
const int32_t kProgressEvery = 500;
// A full name has at most 127 bytes; an instance name at most 54.
const size_t kPrefixSize = 64;
const size_t kNameSize = 128;
const size_t kShortNameSize = 56;  // the part after the prefix
const size_t kTextSize = 512;

struct Instance {
    int enabled;
    char prefix[kPrefixSize];
    LONG passesRun;
    LONG passesFailed;
};

Instance g_instance;

// The names this module sets, so that TaskStatsStop removes them all.
const char* const kNames[] = {
    "State", "StoredTime", "Lag", "Passes.Run", "Passes.Failed", "LastPass.Kind",
    "LastPass.Time", "LastPass.Duration", "LastPass.Result", "LastPass.Since",
    "LastPass.Until", "LastPass.EntriesFound", "LastPass.Added", "LastPass.Modified",
    "LastPass.Deleted", "LastPass.Renamed", "LastPass.SkippedLoop", "LastPass.SkippedClass",
    "LastPass.SkippedFilter", "LastPass.Unpublished", "Progress.Listed", "Progress.Done",
    "LastError.Text", "LastError.Time",
};

void FullName(const char* name, char* full) {
    snprintf(full, kNameSize, "%s.%s", g_instance.prefix, name);
}

void Publish(const char* name, WORD type, const void* value) {
    char full[kNameSize];
    FullName(name, full);
    StatUpdate(TASKSTATS_FACILITY, full, ST_UNIQUE, type, value);
}

void PublishLong(const char* name, LONG value) { Publish(name, VT_LONG, &value); }

void PublishText(const char* name, const char* text) { Publish(name, VT_TEXT, text); }

void PublishTime(const char* name, const TIMEDATE* time) { Publish(name, VT_TIMEDATE, time); }

void Remove(const char* name) {
    char full[kNameSize];
    FullName(name, full);
    StatDelete(TASKSTATS_FACILITY, full);
}

int IsWildcard(const TIMEDATE* time) {
    TIMEDATE wildcard;
    TimeConstant(TIMEDATE_WILDCARD, &wildcard);
    return time->Innards[0] == wildcard.Innards[0] && time->Innards[1] == wildcard.Innards[1];
}

int IsZero(const TIMEDATE* time) { return time->Innards[0] == 0 && time->Innards[1] == 0; }

// A time that is not known (zero, or the wildcard of a migration) is not
// shown.
void PublishKnownTime(const char* name, const TIMEDATE* time) {
    if (IsZero(time) || IsWildcard(time))
        Remove(name);
    else
        PublishTime(name, time);
}

// The stored time and the lag behind it in seconds; -1 while a migration
// is to finish (no stored time).
void PublishLag(const TIMEDATE* stored) {
    PublishKnownTime("StoredTime", stored);
    LONG lag = -1;
    if (!IsZero(stored) && !IsWildcard(stored)) {
        TIMEDATE now;
        OSCurrentTIMEDATE(&now);
        lag = TimeDateDifference(&now, stored);
    }
    PublishLong("Lag", lag);
}

const char* StateName(int state) {
    switch (state) {
        case STATE_RUNNING: return "Idle";
        case STATE_SUSPENDED: return "Suspended";
        default: return "Waiting for configuration";
    }
}

void PublishProgress(const PassCounts* counts) {
    PublishLong("Progress.Listed", counts->listed);
    PublishLong("Progress.Done", counts->done);
}

void PublishCounts(const PassReport* report) {
    PassFigure figures[PASS_FIGURE_COUNT];
    PassFigures(report, figures);
    for (const PassFigure& figure : figures) {
        char name[kShortNameSize];
        snprintf(name, sizeof(name), "LastPass.%.40s", figure.name);
        PublishLong(name, figure.value);
    }
}

void PublishError(const char* text, const TIMEDATE* when) {
    PublishText("LastError.Text", text);
    PublishTime("LastError.Time", when);
}

// notes.ini's ZelrepStatistics=0 (present, and zero).
int IsTurnedOff() {
    char value[16];
    return OSGetEnvironmentString("ZelrepStatistics", value, sizeof(value) - 1) &&
           OSGetEnvironmentLong("ZelrepStatistics") == 0;
}

}  // namespace

void TaskStatsStart(const char* instance) {
    memset(&g_instance, 0, sizeof(g_instance));
    if (IsTurnedOff()) return;
    CopyText(g_instance.prefix, sizeof(g_instance.prefix), instance);
    g_instance.enabled = 1;
    PublishText("State", "Initializing");
    PublishLong("Passes.Run", 0);
    PublishLong("Passes.Failed", 0);
}

void TaskStatsStop() {
    if (!g_instance.enabled) return;
    for (const char* name : kNames) Remove(name);
    g_instance.enabled = 0;
}

void TaskStatsTick(CConfig* config) {
    if (!g_instance.enabled) return;
    PublishText("State", StateName(config->GetState()));
    TIMEDATE stored;
    memset(&stored, 0, sizeof(stored));
    config->GetLastReplicationTimeStamp(&stored);
    PublishLag(&stored);
}

void TaskStatsPassBegin(const PassReport* report) {
    if (!g_instance.enabled) return;
    PublishText("State", report->migration ? "Migrating" : "Replicating");
    PassCounts none;
    memset(&none, 0, sizeof(none));
    PublishProgress(&none);
}

void TaskStatsProgress(const PassCounts* counts) {
    if (!g_instance.enabled || counts->done % kProgressEvery != 0) return;
    PublishProgress(counts);
}

void TaskStatsPassEnd(const PassReport* report) {
    if (!g_instance.enabled) return;
    g_instance.passesRun++;
    if (report->failed) g_instance.passesFailed++;
    PublishLong("Passes.Run", g_instance.passesRun);
    PublishLong("Passes.Failed", g_instance.passesFailed);
    PublishText("LastPass.Kind", PassKindName(report->kind));
    PublishTime("LastPass.Time", &report->start);
    NUMBER duration = 0;
    TimeDateDifferenceFloat(&report->end, &report->start, &duration);
    Publish("LastPass.Duration", VT_NUMBER, &duration);
    PublishText("LastPass.Result", PassResultName(report));
    PublishKnownTime("LastPass.Since", &report->since);
    PublishKnownTime("LastPass.Until", &report->until);
    PublishCounts(report);
    PublishProgress(&report->counts);
    PublishLag(&report->storedAfter);
    if (!report->failed) return;
    char text[kTextSize];
    PassStatusText(report, text, sizeof(text));
    PublishError(text, &report->end);
}

void TaskStatsError(const char* text) {
    if (!g_instance.enabled) return;
    TIMEDATE now;
    OSCurrentTIMEDATE(&now);
    PublishError(text, &now);
}
