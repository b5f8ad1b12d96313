// commands.cpp - the console command handlers for passes, states, the
// schedule, switches, string settings, saving, reloading and tracing.
//
// Owned by the task host. Each handler parses its own argument, changes the
// task's CConfig in memory (only SAVECONFIG writes the configuration
// document) and logs its answer. Dispatch lives in console.cpp; the
// configuration listing and instance switch in cfgcmds.cpp.
#include "commands.h"

#include <string.h>

#include "arrent.h"
#include "cfgschema.h"
#include "config.h"
#include "console.h"
#include "schedule.h"
#include "tasktext.h"
#include "zelrep.h"

namespace {

// Status of LOOPDETECT without a loop-detect ID.
const STATUS kNoLoopDetectID = 0xFFFD;

// Answers a command that needs the running state; nonzero when it runs.
int IsRunning(CConfig* config) {
    switch (config->GetState()) {
    case STATE_RUNNING: return 1;
    case STATE_SUSPENDED: LogText(NOERROR, "ZELREP is suspended, Command ignored"); break;
    case STATE_WAITING:
        LogText(NOERROR, "ZELREP is suspended and waiting for configuration info, Command ignored");
        break;
    default: LogText(NOERROR, "ZELREP is in an unknown state, Command ignored"); break;
    }
    return 0;
}

// Logs one of the command's fixed lines, whose only argument is the name.
// The format is always a constant of this file.
void LogNamed(const char* format, const char* name) { LogLine(NOERROR, format, name); }

// Parses the ON/OFF argument of a switch; a bad one is answered with the
// command's own line.
STATUS ParseSwitch(char* argument, WORD length, const char* name, const char* badFormat, int* on) {
    STATUS status = GetBooleanValue(argument, length, on);
    if (status != NOERROR) LogNamed(badFormat, name);
    return status;
}

// Parses the text argument of a setting (upper-cased into out, which holds
// PARSE_BUFFER_SIZE bytes); a missing one is answered with the command's own
// line.
STATUS ParseSetting(char* argument, WORD length, const char* name, const char* badFormat,
                    char* out) {
    STATUS status = GetStringValue(argument, length, out);
    if (status != NOERROR) LogNamed(badFormat, name);
    return status;
}

void LogSchedule(const char* name, unsigned long count, const char* units) {
    LogLine(NOERROR, "%s will run every %lu %s", name, count, units);
}

// One of the two switches of the timestamps rule: setting it to
// refusedSetting is refused while the other switch has refusingValue.
struct RuledSwitch {
    const char* badFormat;
    int refusedSetting;
    int (CConfig::*other)();
    int refusingValue;
    const char* refusal;
    int (CConfig::*set)(int);
    const char* onLine;
    const char* offLine;
};

STATUS SetRuledSwitch(char* argument, WORD length, CConfig* config, const RuledSwitch& rule) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    int on = 0;
    STATUS status = ParseSwitch(argument, length, name, rule.badFormat, &on);
    if (status != NOERROR) return status;
    if (on == rule.refusedSetting && ((config->*rule.other)() != 0) == (rule.refusingValue != 0)) {
        LogNamed(rule.refusal, name);
        return NOERROR;
    }
    (config->*rule.set)(on);
    LogNamed(on ? rule.onLine : rule.offLine, name);
    return NOERROR;
}

}  // namespace

// ---- Pass commands ----

STATUS CmdReplicate(char* /*argument*/, WORD /*length*/, CConfig* config) {
    if (IsRunning(config)) ExecuteReplication(config, 1);
    return NOERROR;
}

STATUS CmdMigrate(char* argument, WORD length, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    if (!IsRunning(config)) return NOERROR;
    int on = 0;
    STATUS status = GetBooleanValue(argument, length, &on);
    if (status == NOERROR && on) {
        ExecuteReplication(config, 0);
        return NOERROR;
    }
    LogNamed("%s:  The Migrate command is no longer supported.", name);
    return status;
}

// ---- State commands ----

STATUS CmdSuspend(char* /*argument*/, WORD /*length*/, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    config->SetState(STATE_SUSPENDED, 0);
    LogNamed("%s:  Suspended", name);
    return NOERROR;
}

STATUS CmdResume(char* /*argument*/, WORD /*length*/, CConfig* config) {
    char instance[CFG_TEXT_SIZE];
    config->GetInstanceName(instance);
    if (config->ErrorReport(0) & CFGERR_CRITICAL) {
        LogNamed("%s:  Missing critical configuration data, cannot resume.", instance);
        config->SetState(STATE_WAITING, 0);
    } else {
        config->SetState(STATE_RUNNING, 0);
        LogNamed("%s:  Resuming process", instance);
    }
    return NOERROR;
}

// ---- Schedule commands ----

// A count that is not all digits, or too large for an unsigned long, is
// taken as 0, which the schedule refuses; so is a count whose interval
// does not fit (schedule.h).
STATUS CmdSchVal(char* argument, WORD length, CConfig* config) {
    char digits[PARSE_BUFFER_SIZE] = "";
    unsigned long count = 0;
    if (GetNumericValue(argument, length, digits) != NOERROR || !Schedule::Count(digits, &count))
        count = 0;
    STATUS status = (STATUS)config->SetScheduleInUnits(count);
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    if (status == NOERROR) {
        char units[PARSE_BUFFER_SIZE];
        config->GetScheduleUnits(units);
        LogSchedule(name, count, units);
    } else if (status == PARSE_EMPTY) {
        LogLine(status, "%s: Invalid value specified", name);
    } else {
        LogLine(status, "%s:  Unknown error changing schedule", name);
    }
    return status;
}

STATUS CmdSchUnits(char* argument, WORD length, CConfig* config) {
    char units[PARSE_BUFFER_SIZE];
    GetStringValue(argument, length, units);
    LogText(NOERROR, units);
    int result = config->SetScheduleUnits(units);
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    unsigned long count = 0;
    config->GetScheduleInUnits(&count);
    if (result == -3) {
        LogLine(NOERROR, "%s:  %lu %s do not fit the longest interval (%lu seconds); schedule unchanged",
                name, count, units, (unsigned long)Schedule::kMaxInterval);
        return NOERROR;
    }
    if (result != 0) {
        LogNamed("%s:  Invalid Schedule Units specified", name);
        LogNamed("%s:  \tUse DAYS or HOURS or MINUTES or SECONDS", name);
        return NOERROR;
    }
    LogSchedule(name, count, units);
    return NOERROR;
}

// ---- Loop detection ----

STATUS CmdSetLoopDetectID(char* argument, WORD length, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    char id[PARSE_BUFFER_SIZE];
    STATUS status =
        ParseSetting(argument, length, name, "%s: LOOPDETECTID expects a DN as a parameter", id);
    if (status != NOERROR) return status;
    status = (STATUS)config->SetLoopDetectID(id);
    LogLine(NOERROR, "%s: LOOPDETECT is looking for %s", name, id);
    return status;
}

STATUS CmdSetLoopDetect(char* argument, WORD length, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    char id[CFG_TEXT_SIZE];
    config->GetLoopDetectID(id);
    if (id[0] == '\0') {
        LogNamed("%s:  LOOPDETECTID not set.  Unable to set LOOPDETECT", name);
        return kNoLoopDetectID;
    }
    int on = 0;
    STATUS status = ParseSwitch(argument, length, name,
                                "%s:  LOOPDETECT expects ON or OFF as a parameter", &on);
    if (status != NOERROR) return status;
    config->SetLoopDetectFlag(on);
    LogNamed(on ? "%s:  LOOPDETECT is Enabled" : "%s:  LOOPDETECT is Disabled", name);
    return NOERROR;
}

// ---- Configuration store ----

STATUS CmdRefreshConfig(char* /*argument*/, WORD /*length*/, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    LogNamed("%s:  Refreshing Configuration", name);
    return (STATUS)config->Refresh();
}

// A save that did not reach the document is reported, never taken for done.
STATUS CmdSaveConfig(char* /*argument*/, WORD /*length*/, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    STATUS status = (STATUS)config->Save();
    if (status == NOERROR)
        LogNamed("%s:  Configuration Saved", name);
    else
        LogLine(status, "%s:  Configuration could not be saved", name);
    return status;
}

// ---- Database settings ----

STATUS CmdOutputDB(char* argument, WORD length, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    char path[PARSE_BUFFER_SIZE];
    STATUS status = ParseSetting(argument, length, name,
                                 "%s: OUTPUTDB expects a directory path as a parameter", path);
    if (status != NOERROR) return status;
    config->SetOutputDB(path);
    LogLine(NOERROR, "%s: Filtered directory updates will be written to %s", name, path);
    return NOERROR;
}

STATUS CmdInputDB(char* argument, WORD length, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    char path[PARSE_BUFFER_SIZE];
    STATUS status = ParseSetting(argument, length, name,
                                 "%s: INPUTDB expects a directory path as a parameter", path);
    if (status != NOERROR) return status;
    status = (STATUS)config->SetInputDB(path);
    LogLine(NOERROR, "%s: Domino Directory will be read from %s", name, path);
    return status;
}

// A format that cannot be written to the configuration document is not
// taken, and the answer says so.
STATUS CmdSetDNFormat(char* argument, WORD length, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    char word[PARSE_BUFFER_SIZE];
    STATUS status =
        ParseSetting(argument, length, name, "%s:  DNFORMAT expects a FORMAT as a parameter", word);
    if (status != NOERROR) return status;
    unsigned long format = GetDNFormatFromWord(word);
    if (format == 0) {
        LogNamed("%s:  DNFORMAT accepts SLASH, LDAP, or LDAP_TYPED as a parameter", name);
        return NOERROR;
    }
    status = (STATUS)config->SetDNFormat(format);
    if (status == NOERROR)
        LogLine(NOERROR, "%s:  DNs will be %s formatted", name, word);
    else
        LogLine(status, "%s:  DNFORMAT unchanged, the configuration document could not be written",
                name);
    return status;
}

// ---- Switches ----

STATUS CmdSetAutoRefresh(char* argument, WORD length, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    int on = 0;
    STATUS status = ParseSwitch(argument, length, name,
                                "%s:  AUTOREFRESH expects ON or OFF as a parameter", &on);
    if (status != NOERROR) return status;
    config->SetAutoRefreshFlag(on);
    LogLine(NOERROR, "%s: AUTOREFRESH is %s", name, on ? "ON" : "OFF");
    return NOERROR;
}

STATUS CmdSetDirectoryFlag(char* argument, WORD length, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    int on = 0;
    STATUS status = ParseSwitch(argument, length, name,
                                "%s: ISDIRECTORY expects ON or OFF as a parameter", &on);
    if (status != NOERROR) return status;
    config->SetDirectoryFlag(on);
    char input[CFG_TEXT_SIZE];
    config->GetInputDB(input);
    LogLine(NOERROR,
            on ? "%s: Treating %s as a Notes Directory" : "%s: Not treating %s as a Notes Directory",
            name, input);
    return NOERROR;
}

// Timestamps are written only while only changed items are published, so
// WRITETIMESTAMPS ON needs CHECKATTRS ON and CHECKATTRS OFF needs
// WRITETIMESTAMPS OFF.
STATUS CmdWriteTimeStamps(char* argument, WORD length, CConfig* config) {
    static const RuledSwitch kWriteTimeStamps = {
        "%s:  WriteTimeStamps expects ON or OFF as a parameter",
        1, &CConfig::CheckAttrs, 0,
        "%s:  CheckAttrs is OFF.  WriteTimeStamps requires CheckAttrs to be ON",
        &CConfig::SetWriteTimeStamps,
        "%s:  Timestamps will be written on processed notes",
        "%s:  Timestamps will not be written on processed notes"};
    return SetRuledSwitch(argument, length, config, kWriteTimeStamps);
}

STATUS CmdCheckAttrs(char* argument, WORD length, CConfig* config) {
    static const RuledSwitch kCheckAttrs = {
        "%s:  CheckAttrs expects ON or OFF as a parameter",
        0, &CConfig::WriteTimeStamps, 1,
        "%s:  WriteTimeStamps is ON.  WriteTimeStamps requires CheckAttrs to be ON",
        &CConfig::SetCheckAttrs,
        "%s:  only note items changed will be published",
        "%s:  all note items in the publisher filter will be published"};
    return SetRuledSwitch(argument, length, config, kCheckAttrs);
}

// ---- Tracing and debugging ----

STATUS CmdDebugTrace(char* argument, WORD length, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    int on = 0;
    STATUS status = ParseSwitch(argument, length, name,
                                "%s:  DebugTrace expects ON or OFF as a parameter", &on);
    if (status != NOERROR) return status;
    config->SetTrace(on ? (unsigned long)TRACE_DEBUG : (unsigned long)TRACE_NORMAL);
    LogNamed(on ? "%s:  DebugTrace is Enabled" : "%s:  DebugTrace is Diabled", name);
    return NOERROR;
}

// The level word is taken exactly as received after the command word: no
// blanks are skipped and trailing characters count.
STATUS CmdTraceLevel(char* argument, WORD /*length*/, CConfig* config) {
    unsigned long previous = config->Tracing();
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    char none[1] = {'\0'};
    char* word = argument ? strupper(argument) : none;
    if (GetTraceLevel(word) < 0) {
        LogNamed("%s: zelrep console trace expects: SILENT, NORMAL, VERBOSE, or DEBUG, as a "
                 "parameter",
                 name);
        return NOERROR;
    }
    STATUS status = (STATUS)config->SetTrace(word);
    const char* current = GetTraceStr((long)config->Tracing());
    if (status != NOERROR) {
        LogLine(status, "%s: Error setting zelrep trace level. TraceLevel=%s", name, current);
        return status;
    }
    LogLine(NOERROR,
            config->Tracing() == previous ? "%s: zelrep console trace level already set to %s"
                                          : "%s: zelrep console trace level set to %s",
            name, current);
    return NOERROR;
}

// Only the Windows build can break into a debugger.
STATUS CmdDebugBreak(char* /*argument*/, WORD /*length*/, CConfig* config) {
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
#ifdef _WIN32
    LogNamed("%s:  BREAK into debugger", name);
    DebugBreak();
#else
    LogNamed("%s:  Unable to BREAK into debugger", name);
#endif
    return NOERROR;
}
