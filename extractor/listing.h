// listing.h - the texts shown for one directory entry (name, directory path,
// size, date, time, attributes) in the user's locale formats, and the listing
// lines with their header.
#pragma once
#include <cstddef>
#include <cstdint>

#include "console/text.h"
#include "extractor/fat_volume.h"

// The user's locale conventions, read once per run by ReadLocaleSettings and
// then only read. Each separator is a text of one character, or empty when
// the locale supplies none.
struct LocaleSettings {
    char thousandsSeparator[2];   // between groups of three digits of a size
    char dateOrder;               // '0' month-day-year, '2' year-month-day, else day-month-year
    bool twelveHourClock;         // "am"/"pm" times instead of 00 to 23 hours
    char dateSeparator[2];        // between the three parts of a date
    char timeSeparator[2];        // between hours and minutes
};

inline constexpr char kDateOrderMonthDayYear = '0';
inline constexpr char kDateOrderDayMonthYear = '1';
inline constexpr char kDateOrderYearMonthDay = '2';

// Fills settings. On Windows: the first character of the user's thousands
// separator, date order digit, time format digit, date separator and time
// separator, as they are. On POSIX: from the locale the environment asks for
// (LC_ALL, LC_NUMERIC, LC_TIME, LANG). The process locale is "C" again
// afterwards, so printf and everything else keep their C behaviour. A locale
// that is not installed gives the C locale's settings: month-day-year with
// "/", a 24-hour clock with ":", no thousands separator. A separator that is
// not one printable ASCII character (a multi-byte one) is shown as a space.
void ReadLocaleSettings(LocaleSettings* settings);

// The decoding part of ReadLocaleSettings on POSIX, for the C library's
// locale data: thousandsSeparator as localeconv gives it, dateFormat and
// timeFormat as nl_langinfo(D_FMT) and nl_langinfo(T_FMT) give them
// (strftime formats).
// The date order is the order of the day (%d, %e), month (%m, %b, %B, %h) and
// year (%y, %Y) fields; a separator is the first character after the first
// field (day or hour) and before the next one (month, day or year; minute).
// Composite fields count as what they stand for (%D = %m/%d/%y,
// %F = %Y-%m-%d, %T = %H:%M:%S, %R = %H:%M, %r = %I:%M:%S %p, %x and %X as
// in the C locale). %I, %l, %p or %r make the clock a 12-hour one. A date
// format that is missing (nullptr) or lacks the day or the month, and a time
// format that lacks the hour or the minute, are read as the C locale's.
void DecodeLocaleSettings(const char* thousandsSeparator, const char* dateFormat,
                          const char* timeFormat, LocaleSettings* settings);

inline constexpr std::size_t kNameSize = 13;        // 8 + "." + 3 characters, NUL included
inline constexpr std::size_t kListingTextSize = 16;
inline constexpr std::size_t kAttributeTextSize = 5;

// What becomes of the first byte of a stored name.
enum class NameMarks : std::uint8_t {
    kAsStored = 0,   // kept: the directories of a listed path
    kE5Stand = 1,    // a stored 0x05 becomes the 0xE5 it stands for: names on the host
    kListed = 2,     // as kE5Stand, and a deleted entry's 0xE5 becomes "?": an entry's name
};

// Writes the entry's name and extension without their padding spaces, joined
// by "." when the extension is not empty, with the first byte as marks says,
// into text (textSize bytes, kNameSize hold every name). A NUL byte among the
// stored bytes ends the text there.
void FormatStoredName(const std::uint8_t* entry, NameMarks marks, char* text, std::size_t textSize);

// The texts of one entry, built by BuildEntryFields.
struct EntryFields {
    char name[kNameSize];                  // "NAME.EXT"; "?" first for a deleted entry
    char directoryPath[kPathSize];         // enclosing directories joined by "\", "" in the root
    char dateText[kListingTextSize];       // 10 characters with a one-character separator
    char timeText[kListingTextSize];       // 5 characters, 7 on the 12-hour clock
    char sizeText[kListingTextSize];       // up to 13 characters, "<DIR>" for a directory
    char attributeText[kAttributeTextSize];   // "ARSH" with "-" for each bit not set
    bool pathComplete;                     // false: directoryPath holds only its beginning
};

// Fills the name of fields from node's directory entry: name and extension
// without their padding spaces; a deleted entry's first byte 0xE5 shows as
// "?", a stored 0x05 as 0xE5. A NUL byte among the stored name bytes ends the
// text there.
void BuildEntryName(const TreeNode* node, EntryFields* fields);

// Fills directoryPath and pathComplete of fields from node's parent links.
// Directory names in the path stay as stored. A path longer than the field is
// cut and pathComplete is cleared. Entries of one directory share the path.
void BuildEntryPath(const TreeNode* node, EntryFields* fields);

// Fills the date, time, size and attribute texts of fields from node's
// directory entry: what a listing line shows besides the names.
void BuildListingTexts(const TreeNode* node, const LocaleSettings* locale, EntryFields* fields);

// All of the above.
void BuildEntryFields(const TreeNode* node, const LocaleSettings* locale, EntryFields* fields);

// The entry's date word (bits 15-9 years since 1980, 8-5 month, 4-0 day) in
// the locale's order, e.g. "31.12.1998", "12/31/1998" or "1998-12-31".
void FormatDateText(std::uint16_t dateWord, const LocaleSettings* locale, char* text,
                    std::size_t textSize);

// The entry's time word (bits 15-11 hours, 10-5 minutes), without seconds:
// "23:59", or on the 12-hour clock "11:59pm". 00:00 reads "12:00pm" and
// 12:00 reads "12:00am", as the listing has always shown them.
void FormatTimeText(std::uint16_t timeWord, const LocaleSettings* locale, char* text,
                    std::size_t textSize);

// A size in bytes in decimal, with the thousands separator before each
// further group of three digits: "1.234.567".
void FormatSizeText(std::uint32_t size, const LocaleSettings* locale, char* text,
                    std::size_t textSize);

// Four characters in the order archive, read-only, system, hidden: "AR--".
void FormatAttributeText(std::uint8_t attributes, char* text, std::size_t textSize);

struct ListingState {
    bool headerPrinted;   // set once the header stands above the first line
};

// Prints one listing line through ConsolePrint; before the first line of a
// run it prints the two header lines, whose columns take the widths of this
// entry's date and time texts.
void PrintListingLine(const EntryFields* fields, ListingState* state);
