/* intl.h - the server's international settings. */
#ifndef NOTESRT_INTL_H
#define NOTESRT_INTL_H

#include "global.h"

#define ISTRMAX 5
#define YTSTRMAX 32

#define CURRENCY_SUFFIX 0x0001
#define CURRENCY_SPACE 0x0002
#define NUMBER_LEADING_ZERO 0x0004
#define CLOCK_24_HOUR 0x0008
#define DAYLIGHT_SAVINGS 0x0010
#define DATE_MDY 0x0020
#define DATE_DMY 0x0040
#define DATE_YMD 0x0080
#define DATE_4DIGIT_YEAR 0x0100

typedef struct {
    WORD Flags;
    BYTE CurrencyDigits;
    BYTE Length; /* sizeof(INTLFORMAT) */
    int TimeZone; /* hours to add to local time to get GMT */
    char AMString[ISTRMAX];
    char PMString[ISTRMAX];
    char CurrencyString[ISTRMAX];
    char ThousandString[ISTRMAX];
    char DecimalString[ISTRMAX];
    char DateString[ISTRMAX];
    char TimeString[ISTRMAX];
    char YesterdayString[YTSTRMAX];
    char TodayString[YTSTRMAX];
    char TomorrowString[YTSTRMAX];
} INTLFORMAT;

NRT_EXTERN_C_BEGIN

/* Fills at most size bytes of the settings (140 fills all of them). */
void LNPUBLIC OSGetIntlSettings(INTLFORMAT* intl, WORD size);

NRT_EXTERN_C_END

#endif
