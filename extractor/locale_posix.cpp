// locale_posix.cpp - the listing's locale settings from the C library's
// locale data: localeconv for the thousands separator, nl_langinfo for the
// date and time formats.
#include "extractor/listing.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

// The formats of the C locale, read when a locale supplies no usable one.
static constexpr const char* kPosixDateFormat = "%m/%d/%y";
static constexpr const char* kPosixTimeFormat = "%H:%M:%S";

static constexpr std::size_t kLocaleTextSize = 128;   // a copied format; a longer one is cut
static constexpr std::size_t kMaxTokenCount = 64;     // later parts of a format are ignored

// One part of a strftime format: a field such as 'd' for %d, or a literal byte.
struct FormatToken {
    char conversion;   // the field's letter without flags, width or E/O; 0 for a literal
    char literal;      // the byte itself when conversion is 0
};

struct FormatTokenList {
    FormatToken tokens[kMaxTokenCount];
    std::size_t count;   // tokens in use
};

// What a composite field stands for; nullptr for a simple one. %x and %X
// would name the locale's own formats again, so they count as the C forms.
static const char* ExpandComposite(char conversion) {
    switch (conversion) {
        case 'D': return "%m/%d/%y";
        case 'F': return "%Y-%m-%d";
        case 'x': return kPosixDateFormat;
        case 'T': return "%H:%M:%S";
        case 'X': return kPosixTimeFormat;
        case 'R': return "%H:%M";
        case 'r': return "%I:%M:%S %p";
        default: return nullptr;
    }
}

static void AddToken(FormatTokenList* list, char conversion, char literal) {
    if (list->count >= kMaxTokenCount) return;
    list->tokens[list->count] = FormatToken{conversion, literal};
    ++list->count;
}

// Splits format into tokens, replacing composite fields by their parts (one
// level deep: the parts are never composite themselves).
static void ReadFormatTokens(const char* format, bool expandComposites, FormatTokenList* list) {
    std::size_t index = 0;
    while (format[index] != '\0') {
        if (format[index] != '%') {
            AddToken(list, 0, format[index]);
            ++index;
            continue;
        }
        ++index;
        // The C library's flags and field width, then the E or O modifier.
        while (format[index] == '_' || format[index] == '-' || format[index] == '0' ||
               format[index] == '^' || format[index] == '#') {
            ++index;
        }
        while (format[index] >= '0' && format[index] <= '9') ++index;
        if (format[index] == 'E' || format[index] == 'O') ++index;
        const char conversion = format[index];
        if (conversion == '\0') return;
        ++index;
        if (conversion == '%') {
            AddToken(list, 0, '%');
            continue;
        }
        const char* expansion = expandComposites ? ExpandComposite(conversion) : nullptr;
        if (expansion != nullptr) {
            ReadFormatTokens(expansion, false, list);
        } else {
            AddToken(list, conversion, 0);
        }
    }
}

[[nodiscard]] static bool IsFieldOf(const FormatToken* token, const char* letters) {
    return token->conversion != 0 && std::strchr(letters, token->conversion) != nullptr;
}

// Index of the first token that is one of the fields in letters, or count.
[[nodiscard]] static std::size_t FindField(const FormatTokenList* list, const char* letters) {
    for (std::size_t i = 0; i < list->count; ++i) {
        if (IsFieldOf(&list->tokens[i], letters)) return i;
    }
    return list->count;
}

// The listing's texts are single-byte code page text, so only a printable
// ASCII byte is taken as it is; the first byte of a multi-byte character
// (the locales' no-break spaces, for instance) or a control byte shows as
// a space.
static void SetSeparator(char* separator, char byte) {
    const unsigned char value = static_cast<unsigned char>(byte);
    separator[0] = value >= 0x20 && value <= 0x7E ? byte : ' ';
    separator[1] = '\0';
}

// The first literal after the field at first, looking no further than the
// next field named in nextLetters; empty when there is none.
static void FindSeparator(const FormatTokenList* list, std::size_t first, const char* nextLetters,
                          char* separator) {
    separator[0] = '\0';
    for (std::size_t i = first + 1; i < list->count; ++i) {
        const FormatToken* token = &list->tokens[i];
        if (IsFieldOf(token, nextLetters)) return;
        if (token->conversion == 0) {
            SetSeparator(separator, token->literal);
            return;
        }
    }
}

static constexpr const char* kDayFields = "de";
static constexpr const char* kMonthFields = "mbBh";
static constexpr const char* kYearFields = "yY";
static constexpr const char* kDateFields = "dembBhyY";
static constexpr const char* kHourFields = "HIkl";
static constexpr const char* kMinuteFields = "M";
static constexpr const char* kTwelveHourFields = "IlpP";

static void DecodeDateFormat(const char* dateFormat, LocaleSettings* settings) {
    FormatTokenList list{};
    ReadFormatTokens(dateFormat != nullptr ? dateFormat : kPosixDateFormat, true, &list);
    if (FindField(&list, kDayFields) == list.count || FindField(&list, kMonthFields) == list.count) {
        list = FormatTokenList{};
        ReadFormatTokens(kPosixDateFormat, true, &list);
    }
    const std::size_t day = FindField(&list, kDayFields);
    const std::size_t month = FindField(&list, kMonthFields);
    const std::size_t year = FindField(&list, kYearFields);   // count when there is none
    if (year < day && year < month) {
        settings->dateOrder = kDateOrderYearMonthDay;
    } else if (month < day) {
        settings->dateOrder = kDateOrderMonthDayYear;
    } else {
        settings->dateOrder = kDateOrderDayMonthYear;
    }
    FindSeparator(&list, FindField(&list, kDateFields), kDateFields, settings->dateSeparator);
}

static void DecodeTimeFormat(const char* timeFormat, LocaleSettings* settings) {
    FormatTokenList list{};
    ReadFormatTokens(timeFormat != nullptr ? timeFormat : kPosixTimeFormat, true, &list);
    if (FindField(&list, kHourFields) == list.count ||
        FindField(&list, kMinuteFields) == list.count) {
        list = FormatTokenList{};
        ReadFormatTokens(kPosixTimeFormat, true, &list);
    }
    settings->twelveHourClock = FindField(&list, kTwelveHourFields) != list.count;
    FindSeparator(&list, FindField(&list, kHourFields), kMinuteFields, settings->timeSeparator);
}

void DecodeLocaleSettings(const char* thousandsSeparator, const char* dateFormat,
                          const char* timeFormat, LocaleSettings* settings) {
    *settings = LocaleSettings{};
    if (thousandsSeparator != nullptr && thousandsSeparator[0] != '\0') {
        SetSeparator(settings->thousandsSeparator, thousandsSeparator[0]);
    }
    DecodeDateFormat(dateFormat, settings);
    DecodeTimeFormat(timeFormat, settings);
}

void ReadLocaleSettings(LocaleSettings* settings) {
    // A category whose locale is not installed keeps the C locale.
    (void)std::setlocale(LC_NUMERIC, "");
    (void)std::setlocale(LC_TIME, "");
    // The C library's texts change with the next setlocale: copy them first.
    char thousandsSeparator[kLocaleTextSize];
    char dateFormat[kLocaleTextSize];
    char timeFormat[kLocaleTextSize];
    (void)CopyText(thousandsSeparator, std::size(thousandsSeparator),
                   std::localeconv()->thousands_sep);
    (void)CopyText(dateFormat, std::size(dateFormat), nl_langinfo(D_FMT));
    (void)CopyText(timeFormat, std::size(timeFormat), nl_langinfo(T_FMT));
    (void)std::setlocale(LC_NUMERIC, "C");
    (void)std::setlocale(LC_TIME, "C");
    DecodeLocaleSettings(thousandsSeparator, dateFormat, timeFormat, settings);
}
