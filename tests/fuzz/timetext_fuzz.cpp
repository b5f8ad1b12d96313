// timetext_fuzz.cpp - libFuzzer target for reading time texts: the first
// two bytes pick the format and the international settings, the rest is
// the text, read with its exact length as the limit (the sanitizer sees any
// read past it). Whatever is read must be written back and read again to
// the same value, using the whole written text. The server runs five hours
// west with daylight time so that the zone rules are exercised. Traps on an
// inconsistent result.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "misc.h"
#include "nrt_env.h"
#include "nsferr.h"
#include "ostime.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

TFMT FormatFrom(uint8_t byte) {
    TFMT format;
    format.Date = (BYTE)(byte % 7);
    format.Time = (BYTE)(byte / 7 % 3);
    format.Zone = TZFMT_ALWAYS;
    format.Structure = (BYTE)(byte / 21 % 4);
    return format;
}

INTLFORMAT IntlFrom(uint8_t byte) {
    INTLFORMAT intl;
    OSGetIntlSettings(&intl, sizeof intl);
    const WORD orders[] = {DATE_YMD, DATE_MDY, DATE_DMY};
    intl.Flags = orders[byte % 3];
    if (byte & 0x04) intl.Flags |= CLOCK_24_HOUR;
    if (byte & 0x08) intl.Flags |= DATE_4DIGIT_YEAR;
    if (byte & 0x10) strcpy(intl.DateString, ".");
    return intl;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/timetext-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr) abort();
    std::string ini = std::string(dir) + "/notes.ini";
    FILE* file = fopen(ini.c_str(), "w");
    if (file == nullptr) abort();
    fputs("TimeZone=5\nDST=1\n", file);
    fclose(file);
    if (NRTSetDataDirectory(dir) != NOERROR) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size - 2 >= MAXWORD) return 0;
    TFMT format = FormatFrom(data[0]);
    INTLFORMAT intl = IntlFrom(data[1]);
    size_t length = size - 2;
    char* text = static_cast<char*>(malloc(length == 0 ? 1 : length));
    memcpy(text, data + 2, length);

    char* cursor = text;
    TIMEDATE read;
    STATUS status = ConvertTextToTIMEDATE(&intl, &format, &cursor, (WORD)length, &read);
    if (status != NOERROR) {
        Check(status == ERR_TDI_CONV && cursor == text);
        free(text);
        return 0;
    }
    Check(cursor > text && cursor <= text + length);

    // Written back in full, the value must read back the same.
    TFMT full = {TDFMT_FULL4, TTFMT_FULL, TZFMT_ALWAYS, TSFMT_DATETIME};
    char written[MAXALPHATIMEDATE];
    WORD writtenLength = 0;
    status = ConvertTIMEDATEToText(&intl, &full, &read, written, sizeof written, &writtenLength);
    Check(status == NOERROR && writtenLength <= sizeof written);
    char* again = written;
    TIMEDATE reread;
    Check(ConvertTextToTIMEDATE(&intl, &full, &again, writtenLength, &reread) == NOERROR);
    Check(again == written + writtenLength);
    Check(TimeDateCompare(&read, &reread) == 0);
    Check(read.Innards[0] == reread.Innards[0]);
    free(text);
    return 0;
}
