// console_fuzz.cpp - libFuzzer target for the console: any received message
// (at most 256 bytes, NUL-terminated after its length, as the main loop
// hands it over) through the dispatcher and every command handler, and the
// same bytes through the three argument parsers with output buffers of
// their documented size, so that the sanitizers see any overrun.
//
// One configuration object serves every input, in a data directory of its
// own without a configuration database; it is put back in the waiting state
// before each message, so no publication pass ever runs.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "config.h"
#include "nrt_env.h"
#include "nrt_server.h"
#include "console.h"
#include "zelrep.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

void Discard(void*, const char*) {}

CConfig* Config() {
    static CConfig* config = [] {
        static char directory[] = "/tmp/zelrep-console-fuzz-XXXXXX";
        Check(mkdtemp(directory) != nullptr);
        Check(NRTSetDataDirectory(directory) == NOERROR);
        NRTSetLogSink(Discard, nullptr, NRT_LOGSINK_ONLY);
        return new CConfig();
    }();
    return config;
}

// The bytes in a heap buffer of exactly length + 1, terminated.
char* Message(const uint8_t* data, size_t length) {
    char* message = static_cast<char*>(malloc(length + 1));
    memcpy(message, data, length);
    message[length] = '\0';
    return message;
}

void ParseEverything(const uint8_t* data, WORD length) {
    char* argument = Message(data, length);
    char* out = static_cast<char*>(malloc(PARSE_BUFFER_SIZE));
    STATUS status = GetStringValue(argument, length, out);
    Check(strlen(out) < PARSE_BUFFER_SIZE);
    Check((status == NOERROR) == (out[0] != '\0'));
    int flag = 7;
    status = GetBooleanValue(argument, length, &flag);
    Check(status == NOERROR ? (flag == 0 || flag == 1) : (status == PARSE_EMPTY && flag == 7));
    memcpy(out, "x", 2);
    status = GetNumericValue(argument, length, out);
    Check(status == NOERROR || (status == PARSE_NOT_DIGIT && strcmp(out, "x") == 0));
    free(out);
    free(argument);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 300) return 0;
    CConfig* config = Config();
    WORD length = (WORD)(size < MQ_RECEIVE_SIZE ? size : MQ_RECEIVE_SIZE);

    config->SetState(STATE_WAITING, 0);
    char* message = Message(data, length);
    ProcessMessage(message, length, config);
    free(message);
    char name[STATUS_LINE_SIZE];
    config->GetStatusLine(name);
    Check(strlen(name) < STATUS_LINE_SIZE);

    ParseEverything(data, length);
    return 0;
}
