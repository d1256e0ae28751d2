// locale_win.cpp - the listing's locale settings on Windows: the first
// character of five settings of the user's default locale (GetLocaleInfoA),
// taken as they are.
#include "extractor/listing.h"

#include <windows.h>

#include <iterator>

// The first character of one setting; 0 when the locale supplies none.
static char FirstCharacterOf(LCTYPE setting) {
    char value[16] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, setting, value, static_cast<int>(std::size(value))) ==
        0) {
        return '\0';
    }
    return value[0];
}

// A separator the locale does not supply is empty: nothing is inserted.
static void SetSeparator(char* separator, char character) {
    separator[0] = character;
    separator[1] = '\0';
}

void ReadLocaleSettings(LocaleSettings* settings) {
    *settings = LocaleSettings{};
    SetSeparator(settings->thousandsSeparator, FirstCharacterOf(LOCALE_STHOUSAND));
    // Digit 0 month-day-year, 2 year-month-day; anything else, or nothing,
    // day-month-year.
    const char dateOrder = FirstCharacterOf(LOCALE_IDATE);
    settings->dateOrder = dateOrder == kDateOrderMonthDayYear || dateOrder == kDateOrderYearMonthDay
                              ? dateOrder
                              : kDateOrderDayMonthYear;
    settings->twelveHourClock = FirstCharacterOf(LOCALE_ITIME) == '0';
    SetSeparator(settings->dateSeparator, FirstCharacterOf(LOCALE_SDATE));
    SetSeparator(settings->timeSeparator, FirstCharacterOf(LOCALE_STIME));
}
