// notesinit.cpp - bringing the runtime up and down for an add-in program.
//
// NotesInitExtended settles the data directory: an argument "=file.ini"
// names a settings file whose Directory setting, if any, is the data
// directory; otherwise NOTES_DATA_DIR, else the current directory.
// It then logs a warning for each notes.ini setting the runtime cannot use
// as written or that breaks the order of a pass (NRTCheckSettings).
// NotesSDKMAINCommandLineBegin hands the program its arguments without the
// "=file.ini" ones. AddInSDKInit starts the add-in services (stop signals,
// timers, the default status line); AddInSDKTerm and NotesTerm remove the
// process's status lines.
//
// For tests of start-up failures, NRT_INIT_FAIL="Call:status" (for example
// "NotesInitExtended:0x0103") makes the named start-up call fail with that
// status.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "addinrt.h"
#include "conslog.h"
#include "env.h"
#include "notesinit.h"
#include "nrt_env.h"
#include "osmisc.h"
#include "status.h"

namespace nrt {
namespace {

bool g_initialized = false;
std::vector<char*> g_program_args;

// The status NRT_INIT_FAIL asks this call to fail with, or NOERROR.
STATUS InjectedFailure(const char* call) {
    const char* setting = std::getenv("NRT_INIT_FAIL");
    if (setting == nullptr) return NOERROR;
    const char* colon = std::strchr(setting, ':');
    if (colon == nullptr || std::string(setting, colon) != call) return NOERROR;
    STATUS status = STATUS(std::strtoul(colon + 1, nullptr, 0));
    return status;
}

bool IsSettingsFileArgument(const char* arg) { return arg != nullptr && arg[0] == '='; }

// The Directory setting of a settings file, or "".
std::string DirectorySetting(std::ifstream& in) {
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        if (strcasecmp(key.c_str(), "Directory") == 0) return line.substr(eq + 1);
    }
    return "";
}

STATUS UseSettingsFile(const char* path) {
    std::ifstream in(path);
    if (!in) return Fail(ERR_NOEXIST, std::string("settings file \"") + path + "\"");
    std::string directory = DirectorySetting(in);
    return directory.empty() ? NOERROR : NRTSetDataDirectory(directory.c_str());
}

STATUS SettleDataDirectory(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        if (IsSettingsFileArgument(argv[i])) return UseSettingsFile(argv[i] + 1);
    const char* from_env = std::getenv("NOTES_DATA_DIR");
    if (from_env != nullptr && *from_env != '\0') return NRTSetDataDirectory(from_env);
    return NOERROR;
}

void LogWarning(void*, const char* text) { LogText(std::string("Warning: ") + text, false); }

void ErrorText(STATUS status, char* text, WORD length) {
    if (text == nullptr) return;
    if (OSLoadString(NULLHANDLE, ERR(status), text, length) == 0)
        std::snprintf(text, size_t(length) + 1, "Notes error 0x%04X", ERR(status));
}

}  // namespace
}  // namespace nrt

extern "C" {

STATUS LNPUBLIC NotesInitExtended(int argc, char* argv[]) {
    STATUS status = nrt::InjectedFailure("NotesInitExtended");
    if (status == NOERROR) status = nrt::SettleDataDirectory(argc, argv);
    nrt::g_initialized = status == NOERROR;
    if (nrt::g_initialized) NRTCheckSettings(&nrt::LogWarning, nullptr);
    return status;
}

void LNPUBLIC NotesTerm(void) {
    nrt::StopAddInServices();
    nrt::g_initialized = false;
}

STATUS LNPUBLIC NotesSDKMAINCommandLineBegin(int argc, char* argv[], int* retArgc,
                                             char*** retArgv) {
    STATUS status = nrt::InjectedFailure("NotesSDKMAINCommandLineBegin");
    if (status != NOERROR) return status;
    nrt::g_program_args.clear();
    for (int i = 0; i < argc; ++i)
        if (i == 0 || !nrt::IsSettingsFileArgument(argv[i])) nrt::g_program_args.push_back(argv[i]);
    nrt::g_program_args.push_back(nullptr);
    if (retArgc) *retArgc = int(nrt::g_program_args.size()) - 1;
    if (retArgv) *retArgv = nrt::g_program_args.data();
    return NOERROR;
}

STATUS LNPUBLIC NotesSDKMAINInit(NOTESMAINPROC mainProc, int /*argc*/, char* /*argv*/[],
                                 void* /*hPrevInstance*/, void* /*cmdLine*/) {
    STATUS status = nrt::InjectedFailure("NotesSDKMAINInit");
    if (status != NOERROR) return status;
    if (mainProc == nullptr) return nrt::Fail(ERR_BAD_PARAM, "NotesSDKMAINInit without an entry");
    if (!nrt::g_initialized) return nrt::Fail(ERR_ADDIN_INIT, "NotesInitExtended was not called");
    return NOERROR;
}

STATUS LNPUBLIC NotesSDKMAINInitError(STATUS status, char* text, WORD length) {
    nrt::ErrorText(status, text, length);
    return status;
}

STATUS LNPUBLIC NotesSDKMAINError(STATUS status, char* text, WORD length) {
    nrt::ErrorText(status, text, length);
    return status;
}

void LNPUBLIC NotesSDKMAINCommandLineEnd(int /*argc*/, char* /*argv*/[]) {
    nrt::g_program_args.clear();
}

STATUS LNPUBLIC AddInSDKInit(int argc, char* argv[]) {
    STATUS status = nrt::InjectedFailure("AddInSDKInit");
    if (status != NOERROR) return status;
    nrt::StartAddInServices(argc > 0 && argv != nullptr ? argv[0] : "");
    return NOERROR;
}

STATUS LNPUBLIC NotesInitModule(HMODULE* rethModule, HANDLE* rethInstance,
                                HANDLE* rethPrevInstance) {
    STATUS status = nrt::InjectedFailure("NotesInitModule");
    if (status != NOERROR) return status;
    if (rethModule) *rethModule = nrt::ModuleHandle();
    if (rethInstance) *rethInstance = 0;
    if (rethPrevInstance) *rethPrevInstance = 0;
    return NOERROR;
}

STATUS LNPUBLIC AddInSDKTerm(STATUS status) {
    nrt::StopAddInServices();
    return status;
}

}  // extern "C"
