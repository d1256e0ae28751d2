// listing.cpp - entry names and paths, the locale-formatted listing texts,
// and the listing lines with their header.
#include "extractor/listing.h"

#include <cstring>

#include "console/console.h"
#include "image/byte_order.h"

// A path component is at least the "\" before it (a stored name may be all
// spaces, so empty), so no path with more components fits its field.
static constexpr std::size_t kMaxPathDepth = kPathSize;
// A FAT12 volume has fewer than 4085 clusters and each directory of a chain
// holds at least one, so a longer climb can only be a fault of the tree.
static constexpr std::size_t kMaxClimbSteps = 4096;

static constexpr std::size_t kHeaderFormatSize = 80;
static constexpr std::size_t kDigitsSize = 10;   // the digits of 4294967295

void FormatStoredName(const std::uint8_t* entry, NameMarks marks, char* text, std::size_t textSize) {
    static_assert(kEntryNameLength + 1 + kEntryExtensionLength < kNameSize, "name field");
    char name[kNameSize] = {};
    std::size_t nameLength = kEntryNameLength;
    while (nameLength > 0 && entry[kEntryName + nameLength - 1] == ' ') --nameLength;
    std::memcpy(name, entry + kEntryName, nameLength);
    std::size_t extensionLength = kEntryExtensionLength;
    while (extensionLength > 0 && entry[kEntryExtension + extensionLength - 1] == ' ') {
        --extensionLength;
    }
    if (extensionLength > 0) {
        name[nameLength] = '.';
        std::memcpy(name + nameLength + 1, entry + kEntryExtension, extensionLength);
    }
    const std::uint8_t first = static_cast<std::uint8_t>(name[0]);
    if (marks == NameMarks::kListed && first == kEntryDeleted) {
        name[0] = '?';
    } else if (marks != NameMarks::kAsStored && first == kEntryE5Stand) {
        name[0] = static_cast<char>(kEntryDeleted);
    }
    // name holds at most 12 bytes and a NUL, so it always fits kNameSize.
    (void)CopyText(text, textSize, name);
}

// Writes the names of the enclosing directories from the root downwards,
// joined by "\", into path (kPathSize bytes); false when the path was cut.
// A "\" follows a name only when something non-empty comes
// after it, as when the path is put together from the inside out.
[[nodiscard]] static bool BuildDirectoryPath(const TreeNode* node, char* path) {
    // The outermost kMaxPathDepth ancestors, kept in a ring while climbing.
    const TreeNode* chain[kMaxPathDepth];
    std::size_t climbed = 0;
    const TreeNode* ancestor = node->parent;
    while (ancestor != nullptr && climbed < kMaxClimbSteps) {
        chain[climbed % kMaxPathDepth] = ancestor;
        ++climbed;
        ancestor = ancestor->parent;
    }
    // Deeper chains cannot fit; their path keeps its outermost part.
    const bool wholeChain = ancestor == nullptr && climbed <= kMaxPathDepth;
    const std::size_t depth = climbed < kMaxPathDepth ? climbed : kMaxPathDepth;

    // names[0] is the outermost directory.
    char names[kMaxPathDepth][kNameSize];
    std::size_t lastNonEmpty = depth;
    for (std::size_t level = 0; level < depth; ++level) {
        const TreeNode* directory = chain[(climbed - 1 - level) % kMaxPathDepth];
        FormatStoredName(directory->entry, NameMarks::kAsStored, names[level], kNameSize);
        if (names[level][0] != '\0') lastNonEmpty = level;
    }

    path[0] = '\0';
    std::size_t pathLength = 0;
    bool fits = true;
    for (std::size_t level = 0; level < depth && fits; ++level) {
        fits = AppendToField(path, kPathSize, &pathLength, names[level]);
        if (fits && lastNonEmpty != depth && level < lastNonEmpty) {
            fits = AppendToField(path, kPathSize, &pathLength, "\\");
        }
    }
    return wholeChain && fits;
}

void BuildEntryName(const TreeNode* node, EntryFields* fields) {
    FormatStoredName(node->entry, NameMarks::kListed, fields->name, std::size(fields->name));
}

void BuildEntryPath(const TreeNode* node, EntryFields* fields) {
    fields->pathComplete = BuildDirectoryPath(node, fields->directoryPath);
}

void BuildListingTexts(const TreeNode* node, const LocaleSettings* locale, EntryFields* fields) {
    const std::uint8_t* entry = node->entry;
    const std::uint8_t attributes = entry[kEntryAttributes];
    FormatDateText(ReadLe16(entry + kEntryDate), locale, fields->dateText,
                   std::size(fields->dateText));
    FormatTimeText(ReadLe16(entry + kEntryTime), locale, fields->timeText,
                   std::size(fields->timeText));
    if ((attributes & kAttributeDirectory) != 0) {
        (void)CopyText(fields->sizeText, std::size(fields->sizeText), "<DIR>");
    } else {
        FormatSizeText(ReadLe32(entry + kEntryFileSize), locale, fields->sizeText,
                       std::size(fields->sizeText));
    }
    FormatAttributeText(attributes, fields->attributeText, std::size(fields->attributeText));
}

void BuildEntryFields(const TreeNode* node, const LocaleSettings* locale, EntryFields* fields) {
    BuildEntryName(node, fields);
    BuildEntryPath(node, fields);
    BuildListingTexts(node, locale, fields);
}

// The texts below are put together digit by digit: the listing builds them
// for every line, where a format interpreter would cost more than the rest of
// the line. A text longer than its field is cut, as snprintf would cut it.

static constexpr std::size_t kNumberTextSize = 24;   // the longest date or time text, NUL included

// Appends value in decimal, at least minimumDigits digits with leading zeros
// (value below 10^7, as every field of a date or time is); text holds room.
static void AppendDigits(char* text, std::size_t* length, unsigned value, unsigned minimumDigits) {
    char digits[8];
    unsigned count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && count < std::size(digits));
    while (count < minimumDigits && count < std::size(digits)) digits[count++] = '0';
    while (count > 0) text[(*length)++] = digits[--count];
}

// Puts the text of length characters built into text (textSize bytes), cut
// to fit as snprintf would cut it.
static void PutBuiltText(char* text, std::size_t textSize, const char* built, std::size_t length) {
    if (textSize == 0) return;
    const std::size_t copied = length < textSize - 1 ? length : textSize - 1;
    std::memcpy(text, built, copied);
    text[copied] = '\0';
}

// Appends a separator text of at most one character.
static void AppendSeparator(char* text, std::size_t* length, const char* separator) {
    if (separator[0] != '\0') text[(*length)++] = separator[0];
}

void FormatDateText(std::uint16_t dateWord, const LocaleSettings* locale, char* text,
                    std::size_t textSize) {
    const unsigned day = dateWord & 0x1Fu;
    const unsigned month = (dateWord >> 5) & 0x0Fu;
    const unsigned year = (dateWord >> 9) + 1980u;
    const char* separator = locale->dateSeparator;
    unsigned first = day, second = month, third = year;   // day-month-year
    unsigned firstDigits = 2, thirdDigits = 4;
    if (locale->dateOrder == kDateOrderYearMonthDay) {
        first = year;
        firstDigits = 4;
        third = day;
        thirdDigits = 2;
    } else if (locale->dateOrder == kDateOrderMonthDayYear) {
        first = month;
        second = day;
    }
    char built[kNumberTextSize];
    std::size_t length = 0;
    AppendDigits(built, &length, first, firstDigits);
    AppendSeparator(built, &length, separator);
    AppendDigits(built, &length, second, 2);
    AppendSeparator(built, &length, separator);
    AppendDigits(built, &length, third, thirdDigits);
    PutBuiltText(text, textSize, built, length);
}

void FormatTimeText(std::uint16_t timeWord, const LocaleSettings* locale, char* text,
                    std::size_t textSize) {
    const unsigned hours = timeWord >> 11;
    const unsigned minutes = (timeWord >> 5) & 0x3Fu;
    unsigned shownHour = hours;
    const char* suffix = "";
    if (locale->twelveHourClock) {
        suffix = "am";
        if (hours == 0) {
            shownHour = 12;
            suffix = minutes > 0 ? "am" : "pm";
        } else if (hours == 12) {
            suffix = minutes > 0 ? "pm" : "am";
        } else if (hours > 12) {
            shownHour = hours - 12;
            suffix = "pm";
        }
    }
    char built[kNumberTextSize];
    std::size_t length = 0;
    AppendDigits(built, &length, shownHour, 2);
    AppendSeparator(built, &length, locale->timeSeparator);
    AppendDigits(built, &length, minutes, 2);
    for (const char* p = suffix; *p != '\0'; ++p) built[length++] = *p;
    PutBuiltText(text, textSize, built, length);
}

void FormatSizeText(std::uint32_t size, const LocaleSettings* locale, char* text,
                    std::size_t textSize) {
    if (textSize == 0) return;
    char digits[kDigitsSize];
    std::size_t digitCount = 0;
    do {
        digits[digitCount++] = static_cast<char>('0' + size % 10);
        size /= 10;
    } while (size > 0);   // at most 10 digits
    const char separator = locale->thousandsSeparator[0];
    std::size_t length = 0;
    for (std::size_t i = 0; i < digitCount && length + 1 < textSize; ++i) {
        text[length++] = digits[digitCount - 1 - i];
        const std::size_t digitsToCome = digitCount - 1 - i;
        if (separator != '\0' && digitsToCome > 0 && digitsToCome % 3 == 0 &&
            length + 1 < textSize) {
            text[length++] = separator;
        }
    }
    text[length] = '\0';
}

void FormatAttributeText(std::uint8_t attributes, char* text, std::size_t textSize) {
    const char built[kAttributeTextSize] = {
        (attributes & kAttributeArchive) != 0 ? 'A' : '-',
        (attributes & kAttributeReadOnly) != 0 ? 'R' : '-',
        (attributes & kAttributeSystem) != 0 ? 'S' : '-',
        (attributes & kAttributeHidden) != 0 ? 'H' : '-',
        '\0',
    };
    PutBuiltText(text, textSize, built, kAttributeTextSize - 1);
}

// The longest listing line: every field full, the widest columns, the
// separators, CR LF and the NUL. Console print's buffer holds it, so no line
// is ever cut.
static constexpr std::size_t kLongestListingLine =
    (kListingTextSize - 1) * 3 + (kAttributeTextSize - 1) + (kPathSize - 1) + (kNameSize - 1) +
    4 * 2 + 1 + 2 + 1;
static_assert(kLongestListingLine <= kPrintBufferSize, "a listing line is never cut");

// Appends text, with spaces before it to fill width characters as "%9s"
// does (a longer text is not cut). The caller's buffer holds every field.
static void AppendColumn(char* line, std::size_t* length, const char* text, std::size_t width) {
    std::size_t textLength = 0;
    while (text[textLength] != '\0') ++textLength;
    for (std::size_t pad = textLength; pad < width; ++pad) line[(*length)++] = ' ';
    std::memcpy(line + *length, text, textLength);
    *length += textLength;
}

void PrintListingLine(const EntryFields* fields, ListingState* state) {
    if (!state->headerPrinted) {
        // Columns as wide as this entry's date and time texts.
        const unsigned dateLength = static_cast<unsigned>(std::strlen(fields->dateText));
        const unsigned timeLength = static_cast<unsigned>(std::strlen(fields->timeText));
        char headerFormat[kHeaderFormatSize];
        (void)FormatText(headerFormat, std::size(headerFormat),
                         "%%-9.9s  %%-%u.%us  %%-%u.%us  %%-4.4s  %%-12.12s\r\n", dateLength,
                         dateLength, timeLength, timeLength);
        const char* dashes = "--------------------";
        ConsolePrint(headerFormat, "Size", "Date", "Time", "Att.", "Name");
        ConsolePrint(headerFormat, dashes, dashes, dashes, dashes, dashes);
        state->headerPrinted = true;
    }
    // "%9s  %s  %s  %4s  %s\\%s\r\n", or without the path and its "\" in the
    // root directory.
    char line[kLongestListingLine];
    std::size_t length = 0;
    AppendColumn(line, &length, fields->sizeText, 9);
    AppendColumn(line, &length, "  ", 0);
    AppendColumn(line, &length, fields->dateText, 0);
    AppendColumn(line, &length, "  ", 0);
    AppendColumn(line, &length, fields->timeText, 0);
    AppendColumn(line, &length, "  ", 0);
    AppendColumn(line, &length, fields->attributeText, 4);
    AppendColumn(line, &length, "  ", 0);
    if (fields->directoryPath[0] != '\0') {
        AppendColumn(line, &length, fields->directoryPath, 0);
        AppendColumn(line, &length, "\\", 0);
    }
    AppendColumn(line, &length, fields->name, 0);
    AppendColumn(line, &length, "\r\n", 0);
    line[length] = '\0';
    ConsoleWrite(line);
}
