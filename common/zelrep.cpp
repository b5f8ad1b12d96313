// zelrep.cpp - the task host: AddInMain with its command line and usage
// report, the start-up sequence, the main loop that alternates between
// console messages and the schedule, the scheduled pass wrapper
// ExecuteReplication, shutdown and clean-up. Around each pass it keeps the
// pass's report, which the server statistics (taskstats.h) and the pass
// history (passhistory.h) publish; the main loop keeps State and Lag
// current.
//
// Owned by the task host. AddInMain creates the one CConfig of the process
// and deletes it at exit; everything runs on the task's one thread, and a
// pass or a console command runs to its end before the loop goes on.
#include "zelrep.h"

#include <new>
#include <string.h>

#include "addin.h"
#include "arrent.h"
#include "config.h"
#include "console.h"
#include "idtables.h"
#include "mq.h"
#include "n_ver.h"
#include "nsfdb.h"
#include "passhistory.h"
#include "taskstats.h"
#include "tasktext.h"

namespace {

const char* const kHelpSwitches[] = {"/?", "-?", "?", "/h", "-h", "/H", "-H"};
const char* const kFileSwitches[] = {"/f", "-f", "/F", "-F"};
// Command-line arguments longer than this are refused.
const size_t kMaxArgument = 255;
const size_t kCommandLineValueSize = 256;

const char kExitedText[] = "ZELREP Addin Process Exited.";

template <size_t N>
int IsOneOf(const char* argument, const char* const (&words)[N]) {
    for (const char* word : words) {
        if (strcmp(argument, word) == 0) return 1;
    }
    return 0;
}

void LogUsage() {
    LogText(NOERROR, "ZELREP\nOrvane Driver for Lotus Notes zelrep v" ZELREP_VERSION
                     " addin process for Domino.\n" ZELREP_LEGAL_NOTICE "\n");
    LogLine(NOERROR,
            "ZELREP\nUSAGE: load zelrep instanceName [-f configFile.nsf]\n"
            "\tinstanceName     : unique driver name (driver RDN)\n"
            "\t-f configFile.nsf: zelrep config file (defaults to %s)\n"
            "\t-h               : This usage message\n",
            DEFAULT_CFGDB_NAME);
    LogText(NOERROR, kExitedText);
}

// Refuses an argument that would not fit the task's 256-byte buffers.
int IsTooLong(const char* argument) {
    if (strlen(argument) <= kMaxArgument) return 0;
    LogLine(NOERROR, "ZELREP ERROR:  A command-line argument is longer than %u characters.",
            (unsigned)kMaxArgument);
    return 1;
}

// Refuses an instance name whose status-line name would not fit.
int IsTooLongForInstance(const char* argument) {
    if (strlen(argument) <= (size_t)MAX_INSTANCE_NAME) return 0;
    LogLine(NOERROR, "ZELREP ERROR:  The instance name %s is longer than %d characters.", argument,
            MAX_INSTANCE_NAME);
    return 1;
}

#ifdef _WIN32
// "BREAK=ON" in any letter case (the argument fits the buffer: it is never
// longer than kMaxArgument).
int IsBreakSwitch(const char* argument) {
    char upper[kCommandLineValueSize];
    CopyText(upper, sizeof(upper), argument);
    return strcmp(strupper(upper), "BREAK=ON") == 0;
}
#endif

// Walks the command line into the instance name and the configuration file
// name. Zero when the usage report is to be given instead. On Windows,
// "BREAK=ON" breaks into the debugger where it stands; elsewhere it is an
// ordinary argument.
int ParseCommandLine(int argc, char* argv[], char* instance, char* cfgFile) {
    if (argc <= 1 || argv == 0) return 0;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i] ? argv[i] : "";
        if (IsTooLong(argument) || IsOneOf(argument, kHelpSwitches)) return 0;
#ifdef _WIN32
        if (IsBreakSwitch(argument)) {
            DebugBreak();
            continue;
        }
#endif
        if (IsOneOf(argument, kFileSwitches)) {
            if (i + 1 >= argc) continue;
            const char* fileName = argv[++i] ? argv[i] : "";
            if (IsTooLong(fileName)) return 0;
            CopyText(cfgFile, kCommandLineValueSize, fileName);
            continue;
        }
        if (IsTooLongForInstance(argument)) return 0;
        CopyText(instance, kCommandLineValueSize, argument);
        strupper(instance);
    }
    return 1;
}

void CheckModule(HMODULE hModule) {
    HMODULE queried = 0;
    HANDLE defaultStatusLine = NULLHANDLE;
    AddInQueryDefaults(&queried, &defaultStatusLine);
    if (queried != hModule)
        LogText(NOERROR,
                "ZELREP ERROR:  The hModule passed to AddInMain doesn't match AddInQueryDefaults.");
    AddInDeleteStatusLine(defaultStatusLine);
}

// Shows a status text composed from a fixed format and one name.
void SetStatusText(CConfig* config, const char* format, const char* name) {
    char text[LOG_LINE_SIZE];
    FormatText(text, sizeof(text), format, name);
    config->SetStatusLineText(text);
}

// Makes sure the output database exists, creating it with the input
// database's views when it does not. Zero when that failed (logged).
int EnsureOutputDB(CConfig* config, const char* statusLine) {
    char output[CFG_TEXT_SIZE];
    char input[CFG_TEXT_SIZE];
    config->GetOutputDB(output);
    config->GetInputDB(input);
    DBHANDLE hDB = NULLHANDLE;
    STATUS status = NSFDbOpen(output, &hDB);
    if (status != NOERROR) status = NSFDbCreateAndCopy(input, output, NOTE_CLASS_VIEW, 0, 0, &hDB);
    if (status != NOERROR) {
        LogLine(status, "%s: Cannot create output file %s from %s file: NFSDbCreateAndCopy error=%d",
                statusLine, output, input, (int)status);
        LogLine(NOERROR,
                "%s: Ensure input DB %s exists.  Check or change the Driver's <Directory File> "
                "and/or <Update File> parameters",
                statusLine, input);
        return 0;
    }
    NSFDbClose(hDB);
    return 1;
}

int LoadFailure(const char* statusLine, const char* instance, int status) {
    LogLine((STATUS)status, "%s:  ZELREP load failure for instance %s", statusLine, instance);
    return 0;
}

// The start-up sequence after the configuration object exists. Nonzero
// when the main loop is to run; statusLine receives the status-line name.
int StartTask(CConfig* config, HMODULE hModule, char* instance, const char* cfgFile,
              char* statusLine) {
    if (config->GetState() != STATE_RUNNING) {
        LogLine(NOERROR, "Orvane - ZELREP: load failure: file=%s, instance=%s", cfgFile, instance);
        return 0;
    }
    int result = config->SetInstanceName(instance);
    config->GetStatusLine(statusLine);
    TaskStatsStart(instance);
    if (result != 0) return LoadFailure(statusLine, instance, result);
    char initializing[] = "Initializing";
    result = config->SetStatusLineText(initializing);
    if (result != 0) return LoadFailure(statusLine, instance, result);
    result = config->SetQueueName(instance);
    if (result != 0) return LoadFailure(statusLine, instance, result);

    STATUS readStatus = (STATUS)config->Refresh();
    if (readStatus != NOERROR) {
        config->SetState(STATE_WAITING, 0);
        LogLine(readStatus, "%s:  ZELREP failure reading configuration instance %s", statusLine,
                instance);
    }
    unsigned long missing = config->ErrorReport(0);
    if (missing != 0 && config->Tracing() != TRACE_SILENT) config->ErrorReport(1);

    char cfgDB[CFG_DBNAME_SIZE];
    config->GetCfgDBName(cfgDB);
    if (missing & CFGERR_CRITICAL) {
        char waiting[LOG_LINE_SIZE];
        FormatText(waiting, sizeof(waiting), "waiting for critical data in instance %s in %s",
                   instance, cfgDB);
        config->SetState(STATE_WAITING, waiting);
        LogLine(readStatus, "%s waiting for critical data in instance %s in %s", statusLine,
                instance, cfgDB);
    } else {
        LogLine(NOERROR, "%s:  Initialization Complete.", statusLine);
        config->SetState(STATE_RUNNING, 0);
    }
    if (!EnsureOutputDB(config, statusLine)) return 0;
    ReportDamagedDatabases(config);
    AddInSetDefaults(hModule, NULLHANDLE);
    return 1;
}

STATUS ExecutePass(CConfig* config, int incremental, PASSKIND kind);

// The work of an elapsed schedule interval, by state.
void RunSchedule(CConfig* config, const char* statusLine, unsigned long traceLevel) {
    switch (config->GetState()) {
    case STATE_RUNNING: {
        int refreshed = 0;
        int status = config->AutoRefresh(&refreshed);
        if (refreshed) {
            if (traceLevel >= TRACE_VERBOSE)
                LogLine(NOERROR, "%s:  Autorefresh triggered", statusLine);
            if (status != 0) config->ErrorReport(0);
        }
        ExecutePass(config, 1, PASS_SCHEDULED);
        break;
    }
    case STATE_WAITING: {
        int status = config->Refresh();
        unsigned long missing = config->ErrorReport(0);
        if (status == 0 && !(missing & CFGERR_CRITICAL)) config->SetState(STATE_RUNNING, 0);
        break;
    }
    }
}

// Reads at most one console message and hands it to the dispatcher.
// Nonzero when the server is closing the queue.
int ReadConsoleMessage(CConfig* config, const char* statusLine) {
    char message[MQ_RECEIVE_SIZE + 1];
    WORD length = 0;
    STATUS status = MQGet((MQHANDLE)config->GetMQHandle(), message, MQ_RECEIVE_SIZE, 0,
                          MQ_READ_TIMEOUT_MS, &length);
    switch (ERR(status)) {
    case NOERROR:
        if (length > MQ_RECEIVE_SIZE) length = MQ_RECEIVE_SIZE;
        message[length] = '\0';
        ProcessMessage(message, length, config);
        return 0;
    case ERR_MQ_QUITTING:
        LogLine(NOERROR, "%s:  Shutting Down", statusLine);
        return 1;
    case ERR_MQ_BFR_TOO_SMALL:
        LogLine(NOERROR, "%s:  Buffer too small for message data", statusLine);
        return 0;
    default:
        return 0;
    }
}

void RunMainLoop(CConfig* config, char* statusLine) {
    int shuttingDown = 0;
    while (!AddInIdle() && !shuttingDown) {
        config->GetStatusLine(statusLine);
        unsigned long traceLevel = config->Tracing();
        shuttingDown = ReadConsoleMessage(config, statusLine);
        TaskStatsTick(config);
        if (AddInSecondsHaveElapsed((DWORD)config->Interval()))
            RunSchedule(config, statusLine, traceLevel);
    }
}

// A pass with its report: the statistics follow it, and it is appended to
// the pass history.
STATUS ExecutePass(CConfig* config, int incremental, PASSKIND kind) {
    if (config == 0 || config->GetState() != STATE_RUNNING) return NOERROR;
    char statusLine[STATUS_LINE_SIZE];
    char input[CFG_TEXT_SIZE];
    char outputPath[CFG_TEXT_SIZE];
    config->GetStatusLine(statusLine);
    config->GetInputDB(input);
    config->GetOutputPath(outputPath);
    SetStatusText(config, "Replicating updates from %s", input);

    PassReport report;
    BeginPassReport(&report, config, kind);
    TaskStatsPassBegin(&report);
    int found = 0;
    int updated = 0;
    DoReplication(config, input, outputPath, &found, &updated, incremental, &report);
    EndPassReport(&report, config);
    TaskStatsPassEnd(&report);
    PassHistoryAppend(config, &report);
    TaskStatsTick(config);
    if (config->Tracing() >= TRACE_NORMAL) {
        LogLine(NOERROR, "%s: %d entries found, %d updated", statusLine, found, updated);
        LogLine(NOERROR, "%s: ZEL Replication complete", statusLine);
    }
    SetStatusText(config, "Idle on %s", input);
    return NOERROR;
}

}  // namespace

STATUS LNPUBLIC AddInMain(HMODULE hModule, int argc, char* argv[]) {
    char instance[kCommandLineValueSize] = DEFAULT_INSTANCE_NAME;
    char cfgFile[kCommandLineValueSize] = DEFAULT_CFGDB_NAME;
    if (!ParseCommandLine(argc, argv, instance, cfgFile)) {
        LogUsage();
        return NOERROR;
    }
    CheckModule(hModule);

    CConfig* config = new (std::nothrow) CConfig(instance, cfgFile);
    if (config == 0) {
        LogLine(NOERROR, "Orvane - ZELREP: OUT OF MEMORY load failure: file=%s, instance=%s",
                cfgFile, instance);
        LogText(NOERROR, kExitedText);
        return NOERROR;
    }
    char statusLine[STATUS_LINE_SIZE] = "";
    if (StartTask(config, hModule, instance, cfgFile, statusLine)) {
        RunMainLoop(config, statusLine);
        char terminating[] = "Terminating";
        config->SetStatusLineText(terminating);
    }
    TaskStatsStop();
    PassHistoryClose();
    delete config;
    LogLine(NOERROR, "%s:  Addin Process Exited.", statusLine);
    return NOERROR;
}

STATUS ExecuteReplication(CConfig* config, int incremental) {
    return ExecutePass(config, incremental, incremental ? PASS_REPLICATE : PASS_MIGRATE);
}
