// Tests of the entry fields (names, paths, locale texts) and the listing lines.
#include "extractor/listing.h"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/capture.h"

namespace {

using Entry = std::array<std::uint8_t, kDirectoryEntrySize>;

// A 32-byte directory entry; stored holds the 11 bytes of name and extension.
Entry MakeEntry(const char* stored, std::uint8_t attributes = 0x20, std::uint16_t time = 0,
                std::uint16_t date = 0, std::uint32_t size = 0) {
    Entry entry{};
    EXPECT_EQ(std::strlen(stored), 11u) << "stored name \"" << stored << "\"";
    std::memcpy(entry.data(), stored, 11);
    entry[11] = attributes;
    entry[22] = static_cast<std::uint8_t>(time);
    entry[23] = static_cast<std::uint8_t>(time >> 8);
    entry[24] = static_cast<std::uint8_t>(date);
    entry[25] = static_cast<std::uint8_t>(date >> 8);
    entry[28] = static_cast<std::uint8_t>(size);
    entry[29] = static_cast<std::uint8_t>(size >> 8);
    entry[30] = static_cast<std::uint8_t>(size >> 16);
    entry[31] = static_cast<std::uint8_t>(size >> 24);
    return entry;
}

LocaleSettings MakeLocale(char dateOrder, const char* dateSeparator, bool twelveHourClock,
                          const char* timeSeparator, const char* thousandsSeparator) {
    LocaleSettings locale{};
    locale.dateOrder = dateOrder;
    locale.dateSeparator[0] = dateSeparator[0];
    locale.twelveHourClock = twelveHourClock;
    locale.timeSeparator[0] = timeSeparator[0];
    locale.thousandsSeparator[0] = thousandsSeparator[0];
    return locale;
}

const LocaleSettings kGerman = MakeLocale('1', ".", false, ":", ".");

// Dates: bits 15-9 years since 1980, 8-5 month, 4-0 day.
constexpr std::uint16_t kDate19981231 = (18 << 9) | (12 << 5) | 31;   // 0x259F
constexpr std::uint16_t kDate19800101 = (0 << 9) | (1 << 5) | 1;
// Times: bits 15-11 hours, 10-5 minutes, 4-0 seconds / 2.
constexpr std::uint16_t Time(unsigned hours, unsigned minutes, unsigned halfSeconds = 0) {
    return static_cast<std::uint16_t>((hours << 11) | (minutes << 5) | halfSeconds);
}

TEST(EntryFieldsName, DropsPaddingAndMarksDeletedEntries) {
    struct Row {
        const char* name;
        const char* stored;
        const char* expected;
    };
    const Row rows[] = {
        {"name and extension", "README  TXT", "README.TXT"},
        {"no extension, no dot", "MAKEFILE   ", "MAKEFILE"},
        {"eight and three fill the field", "12345678ABC", "12345678.ABC"},
        {"inner spaces stay", "A B     C D", "A B.C D"},
        {"spaces only in the name part", "        TXT", ".TXT"},
        {"all spaces", "           ", ""},
        {"deleted entry shows ?", "\xE5ILE    TXT", "?ILE.TXT"},
        {"0x05 stands for 0xE5", "\x05ILE    TXT", "\xE5ILE.TXT"},
        {"0xE5 later in the name stays", "A\xE5      TXT", "A\xE5.TXT"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Entry entry = MakeEntry(row.stored);
        const TreeNode node{nullptr, nullptr, nullptr, nullptr, entry.data()};
        EntryFields fields{};
        BuildEntryFields(&node, &kGerman, &fields);
        EXPECT_STREQ(fields.name, row.expected);
        EXPECT_STREQ(fields.directoryPath, "");
        EXPECT_TRUE(fields.pathComplete);
    }
}

// Builds a chain of directories from the root down (names[0] in the root) and
// returns the path of a file in the innermost one.
std::string PathThrough(const char* const* names, std::size_t count, bool* complete) {
    constexpr std::size_t kMaxChain = 8;
    Entry entries[kMaxChain + 1];
    TreeNode nodes[kMaxChain + 1] = {};
    for (std::size_t i = 0; i < count; ++i) {
        entries[i] = MakeEntry(names[i], 0x10);
        nodes[i].entry = entries[i].data();
        nodes[i].parent = i > 0 ? &nodes[i - 1] : nullptr;
        if (i > 0) nodes[i - 1].firstChild = &nodes[i];
    }
    entries[count] = MakeEntry("FILE    TXT");
    nodes[count].entry = entries[count].data();
    nodes[count].parent = count > 0 ? &nodes[count - 1] : nullptr;
    EntryFields fields{};
    BuildEntryFields(&nodes[count], &kGerman, &fields);
    *complete = fields.pathComplete;
    EXPECT_STREQ(fields.name, "FILE.TXT");
    return fields.directoryPath;
}

TEST(EntryFieldsPath, JoinsTheEnclosingDirectoriesFromTheRootDown) {
    struct Row {
        const char* name;
        std::size_t count;
        const char* names[4];
        const char* expected;
    };
    const Row rows[] = {
        {"root entry: empty path", 0, {}, ""},
        {"one level", 1, {"SUB        "}, "SUB"},
        {"two levels, outermost first", 2, {"SUB        ", "INNER      "}, "SUB\\INNER"},
        {"directory with an extension", 2, {"SUB        ", "DIR     EXT"}, "SUB\\DIR.EXT"},
        {"deleted directory as stored", 1, {"\xE5IR        "}, "\xE5IR"},
        {"0x05 directory as stored", 1, {"\x05IR        "}, "\x05IR"},
        // Put together from the inside out, a "\" joins a name only to a
        // non-empty rest: an empty innermost name vanishes, an empty inner
        // one leaves two "\".
        {"empty innermost name", 2, {"SUB        ", "           "}, "SUB"},
        {"empty middle name", 3, {"A          ", "           ", "B          "}, "A\\\\B"},
        {"empty outermost name", 2, {"           ", "B          "}, "\\B"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bool complete = false;
        EXPECT_EQ(PathThrough(row.names, row.count, &complete), row.expected);
        EXPECT_TRUE(complete);
    }
}

struct Chain {
    Entry entries[400];
    TreeNode nodes[400];
};

// Directories named stored[0] (in the root) and then stored[1] for the
// rest, depth in all, with a file in the innermost; returns the file's node.
const TreeNode* BuildChain(Chain* chain, std::size_t depth, const char* outermost,
                           const char* inner) {
    for (std::size_t i = 0; i < depth; ++i) {
        chain->entries[i] = MakeEntry(i == 0 ? outermost : inner, 0x10);
        chain->nodes[i] = TreeNode{nullptr, nullptr, i > 0 ? &chain->nodes[i - 1] : nullptr,
                                   nullptr, chain->entries[i].data()};
    }
    chain->entries[depth] = MakeEntry("FILE    TXT");
    chain->nodes[depth] =
        TreeNode{nullptr, nullptr, &chain->nodes[depth - 1], nullptr, chain->entries[depth].data()};
    return &chain->nodes[depth];
}

std::string Repeat(const char* piece, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += piece;
    return text;
}

TEST(EntryFieldsPath, FillsTheFieldExactlyOrCutsTheRest) {
    static Chain chain;
    EntryFields fields{};
    // 20 names of 12 characters and 19 "\": 20 x 13 - 1 = 259 characters,
    // the most the 260-byte field holds.
    BuildEntryFields(BuildChain(&chain, 20, "DIRNAME1EXT", "DIRNAME1EXT"), &kGerman, &fields);
    EXPECT_EQ(std::strlen(fields.directoryPath), 259u);
    EXPECT_EQ(fields.directoryPath, "DIRNAME1.EXT" + Repeat("\\DIRNAME1.EXT", 19));
    EXPECT_TRUE(fields.pathComplete);

    // A 21st name does not fit: the "\" after the 20th is already cut.
    BuildEntryFields(BuildChain(&chain, 21, "DIRNAME1EXT", "DIRNAME1EXT"), &kGerman, &fields);
    EXPECT_EQ(fields.directoryPath, "DIRNAME1.EXT" + Repeat("\\DIRNAME1.EXT", 19));
    EXPECT_FALSE(fields.pathComplete);
    EXPECT_STREQ(fields.name, "FILE.TXT");
    EXPECT_STREQ(fields.dateText, "00.00.1980");
}

// 300 levels: more "\" alone than the field holds. The path keeps its
// outermost part: "ROOTDIR" (7) and "\D" 126 times make 7 + 252 = 259
// characters; the next "\" does not fit.
TEST(EntryFieldsPath, DeeperChainThanTheFieldKeepsTheOutermostPart) {
    static Chain chain;
    EntryFields fields{};
    std::memset(&fields, 0x5A, sizeof(fields));
    BuildEntryFields(BuildChain(&chain, 300, "ROOTDIR    ", "D          "), &kGerman, &fields);
    EXPECT_EQ(fields.directoryPath, "ROOTDIR" + Repeat("\\D", 126));
    EXPECT_FALSE(fields.pathComplete);
    EXPECT_STREQ(fields.name, "FILE.TXT");
    EXPECT_STREQ(fields.sizeText, "0");
    EXPECT_STREQ(fields.attributeText, "A---");
}

TEST(EntryFieldsDate, FollowsTheLocaleOrderAndSeparator) {
    struct Row {
        const char* name;
        char dateOrder;
        const char* separator;
        std::uint16_t date;
        const char* expected;
    };
    const Row rows[] = {
        {"day-month-year with .", '1', ".", kDate19981231, "31.12.1998"},
        {"year-month-day with -", '2', "-", kDate19981231, "1998-12-31"},
        {"month-day-year with /", '0', "/", kDate19981231, "12/31/1998"},
        {"any other order digit is day-month-year", '7', "/", kDate19981231, "31/12/1998"},
        {"no order at all is day-month-year", '\0', ".", kDate19981231, "31.12.1998"},
        {"no separator", '0', "", kDate19981231, "12311998"},
        {"first day of 1980, two-digit fields padded", '1', ".", kDate19800101, "01.01.1980"},
        {"zero word", '2', "-", 0, "1980-00-00"},
        // 0xFFFF: year 127 + 1980, month 15, day 31, shown as stored.
        {"all bits set", '2', "-", 0xFFFF, "2107-15-31"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const LocaleSettings locale = MakeLocale(row.dateOrder, row.separator, false, ":", "");
        char text[kListingTextSize];
        FormatDateText(row.date, &locale, text, std::size(text));
        EXPECT_STREQ(text, row.expected);
    }
}

TEST(EntryFieldsTime, ShowsHoursAndMinutesOnEitherClock) {
    struct Row {
        const char* name;
        bool twelveHourClock;
        const char* separator;
        std::uint16_t time;
        const char* expected;
    };
    const Row rows[] = {
        {"24-hour", false, ":", Time(23, 59), "23:59"},
        {"24-hour, seconds not shown", false, ".", Time(10, 30, 29), "10.30"},
        {"24-hour, no separator", false, "", Time(23, 59), "2359"},
        {"12-hour, midnight reads 12 pm", true, ":", Time(0, 0), "12:00pm"},
        {"12-hour, a minute after midnight is am", true, ":", Time(0, 1), "12:01am"},
        {"12-hour, before noon", true, ":", Time(11, 59), "11:59am"},
        {"12-hour, noon reads 12 am", true, ":", Time(12, 0), "12:00am"},
        {"12-hour, a minute after noon is pm", true, ":", Time(12, 1), "12:01pm"},
        {"12-hour, afternoon less 12", true, ":", Time(13, 5), "01:05pm"},
        {"12-hour, last minute", true, ".", Time(23, 59), "11.59pm"},
        // Hours 24-31 and minutes 60-63 fit the bits; shown as stored.
        {"24-hour, all bits set", false, ":", 0xFFFF, "31:63"},
        {"12-hour, all bits set", true, ":", 0xFFFF, "19:63pm"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const LocaleSettings locale = MakeLocale('1', ".", row.twelveHourClock, row.separator, "");
        char text[kListingTextSize];
        FormatTimeText(row.time, &locale, text, std::size(text));
        EXPECT_STREQ(text, row.expected);
    }
}

TEST(EntryFieldsSize, GroupsThreeDigitsWithTheSeparator) {
    struct Row {
        const char* name;
        const char* separator;
        std::uint32_t size;
        const char* expected;
    };
    const Row rows[] = {
        {"zero", ".", 0, "0"},
        {"three digits, no group", ".", 999, "999"},
        {"four digits", ".", 1000, "1.000"},
        {"seven digits: after the first and the fourth", ".", 1234567, "1.234.567"},
        {"largest size: 13 characters", ",", 4294967295u, "4,294,967,295"},
        {"no separator", "", 1234567, "1234567"},
        {"space separator", " ", 1440000, "1 440 000"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const LocaleSettings locale = MakeLocale('1', ".", false, ":", row.separator);
        char text[kListingTextSize];
        FormatSizeText(row.size, &locale, text, std::size(text));
        EXPECT_STREQ(text, row.expected);
    }
}

TEST(EntryFieldsSize, ShortFieldIsNeverOverrun) {
    const LocaleSettings locale = MakeLocale('1', ".", false, ":", ".");
    char text[8];
    std::memset(text, 'x', sizeof(text));
    FormatSizeText(1234567, &locale, text + 2, 5);   // room for 4 characters
    EXPECT_STREQ(text + 2, "1.23");
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(text[7], 'x');
}

TEST(EntryFieldsAttributes, ArchiveReadOnlySystemHiddenInThatOrder) {
    struct Row {
        const char* name;
        std::uint8_t attributes;
        const char* expected;
    };
    const Row rows[] = {
        {"none", 0x00, "----"},
        {"archive and read-only", 0x21, "AR--"},
        {"all four", 0x27, "ARSH"},
        {"system alone is third", 0x04, "--S-"},
        {"directory and label bits are not shown", 0x18, "----"},
        {"every bit", 0xFF, "ARSH"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        char text[kAttributeTextSize];
        FormatAttributeText(row.attributes, text, std::size(text));
        EXPECT_STREQ(text, row.expected);
    }
}

TEST(EntryFieldsSize, DirectoryShowsDirInsteadOfItsSize) {
    const Entry entry = MakeEntry("SUB        ", 0x12, Time(8, 0), kDate19800101, 4096);
    const TreeNode node{nullptr, nullptr, nullptr, nullptr, entry.data()};
    EntryFields fields{};
    BuildEntryFields(&node, &kGerman, &fields);
    EXPECT_STREQ(fields.sizeText, "<DIR>");
    EXPECT_STREQ(fields.attributeText, "---H");
}

// The locale settings straight from decoded locale data, as the C library
// would hand them over for the locales named.
TEST(LocaleDecoding, ReadsOrderSeparatorsAndClockFromTheFormats) {
    struct Row {
        const char* name;
        const char* thousands;
        const char* dateFormat;
        const char* timeFormat;
        const char* expectedThousands;
        char expectedOrder;
        const char* expectedDateSeparator;
        bool expectedTwelveHour;
        const char* expectedTimeSeparator;
    };
    const Row rows[] = {
        {"C locale", "", "%m/%d/%y", "%H:%M:%S", "", '0', "/", false, ":"},
        {"German-like", ".", "%d.%m.%Y", "%T", ".", '1', ".", false, ":"},
        {"ISO dates, 12-hour", ",", "%Y-%m-%d", "%I:%M:%S %p", ",", '2', "-", true, ":"},
        {"composites %D and %r", ",", "%D", "%r", ",", '0', "/", true, ":"},
        {"composites %F and %R", "'", "%F", "%R", "'", '2', "-", false, ":"},
        {"%x and %X as the C forms", "", "%x", "%X", "", '0', "/", false, ":"},
        {"flags, %e and %l", "", "%-d/%-m/%Y", "%l:%M %p", "", '1', "/", true, ":"},
        {"%k hour and a dot", "", "%e.%m.%Y", "%k.%M", "", '1', ".", false, "."},
        {"E and O modifiers", "", "%Od-%Om-%EY", "%OH.%OM", "", '1', "-", false, "."},
        {"month name after the day", "", "%a %d %b %Y", "%H:%M", "", '1', " ", false, ":"},
        {"no separators", "", "%d%m%Y", "%H%M", "", '1', "", false, ""},
        // UTF-8 separators: the first byte of a multi-byte character is no
        // code page character; a space stands in for it.
        {"narrow no-break space", "\xE2\x80\xAF", "%d/%m/%Y", "%H:%M", " ", '1', "/", false, ":"},
        {"year, month, day words", "", "%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5",
         "%H\xE6\x99\x82%M\xE5\x88\x86", "", '2', " ", false, " "},
        {"empty formats read as the C locale's", "", "", "", "", '0', "/", false, ":"},
        {"no day or hour: the C locale's", "", "%Y", "%M:%S", "", '0', "/", false, ":"},
        {"literal %% is a separator", "", "%d%%%m%%%Y", "%H:%M", "", '1', "%", false, ":"},
        {"missing texts", nullptr, nullptr, nullptr, "", '0', "/", false, ":"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LocaleSettings settings;
        std::memset(&settings, 0x5A, sizeof(settings));
        DecodeLocaleSettings(row.thousands, row.dateFormat, row.timeFormat, &settings);
        EXPECT_STREQ(settings.thousandsSeparator, row.expectedThousands);
        EXPECT_EQ(settings.dateOrder, row.expectedOrder);
        EXPECT_STREQ(settings.dateSeparator, row.expectedDateSeparator);
        EXPECT_EQ(settings.twelveHourClock, row.expectedTwelveHour);
        EXPECT_STREQ(settings.timeSeparator, row.expectedTimeSeparator);
    }
}

// Sets LC_ALL for the test's duration and puts the previous value back.
class ScopedLcAll {
public:
    explicit ScopedLcAll(const char* value) {
        const char* previous = std::getenv("LC_ALL");
        hadValue_ = previous != nullptr;
        if (hadValue_) previous_ = previous;
        setenv("LC_ALL", value, 1);
    }
    ~ScopedLcAll() {
        if (hadValue_) {
            setenv("LC_ALL", previous_.c_str(), 1);
        } else {
            unsetenv("LC_ALL");
        }
    }

private:
    bool hadValue_ = false;
    std::string previous_;
};

TEST(LocaleSettingsRead, CLocaleGivesMonthDayYearAndA24HourClock) {
    ScopedLcAll lcAll("C");
    LocaleSettings locale;
    std::memset(&locale, 0x5A, sizeof(locale));
    ReadLocaleSettings(&locale);
    EXPECT_STREQ(locale.thousandsSeparator, "");
    EXPECT_EQ(locale.dateOrder, '0');
    EXPECT_STREQ(locale.dateSeparator, "/");
    EXPECT_FALSE(locale.twelveHourClock);
    EXPECT_STREQ(locale.timeSeparator, ":");

    const Entry entry = MakeEntry("FILE    TXT", 0x21, Time(23, 59), kDate19981231, 1234567);
    const TreeNode node{nullptr, nullptr, nullptr, nullptr, entry.data()};
    EntryFields fields{};
    BuildEntryFields(&node, &locale, &fields);
    EXPECT_STREQ(fields.dateText, "12/31/1998");
    EXPECT_STREQ(fields.timeText, "23:59");
    EXPECT_STREQ(fields.sizeText, "1234567");
}

TEST(LocaleSettingsRead, LeavesTheProcessInTheCLocale) {
    // C.UTF-8 where it is installed; elsewhere the request fails and the
    // C locale stays, which is the same answer.
    ScopedLcAll lcAll("C.UTF-8");
    LocaleSettings locale{};
    ReadLocaleSettings(&locale);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), "C");
    EXPECT_STREQ(std::localeconv()->decimal_point, ".");
}

// The header takes its column widths from the first listed entry's date
// (10) and time (5) texts: "%-9.9s  %-10.10s  %-5.5s  %-4.4s  %-12.12s\r\n".
TEST(ListingLines, HeaderOnceThenOneLinePerEntry) {
    const Entry sub = MakeEntry("SUB        ", 0x10, Time(8, 15), kDate19800101);
    const Entry file = MakeEntry("FILE    TXT", 0x21, Time(23, 59), kDate19981231, 1234567);
    const Entry root = MakeEntry("A       TXT", 0x00, Time(0, 0), kDate19800101, 999);
    TreeNode nodes[3] = {};
    nodes[0] = TreeNode{&nodes[2], nullptr, nullptr, &nodes[1], sub.data()};
    nodes[1] = TreeNode{nullptr, nullptr, &nodes[0], nullptr, file.data()};
    nodes[2] = TreeNode{nullptr, &nodes[0], nullptr, nullptr, root.data()};

    ListingState state{};
    const std::string output = CaptureOutput([&] {
        for (const TreeNode& node : nodes) {
            EntryFields fields{};
            BuildEntryFields(&node, &kGerman, &fields);
            PrintListingLine(&fields, &state);
        }
    });
    const std::string expected =
        // "Size" in 9, "Date" in 10, "Time" in 5, "Att." in 4, "Name" in 12.
        "Size       Date        Time   Att.  Name        \n"
        "---------  ----------  -----  ----  ------------\n"
        // "<DIR>" right-aligned in 9: four spaces.
        "    <DIR>  01.01.1980  08:15  ----  SUB\n"
        // "1.234.567" fills the 9 characters.
        "1.234.567  31.12.1998  23:59  AR--  SUB\\FILE.TXT\n"
        "      999  01.01.1980  00:00  ----  A.TXT\n";
    EXPECT_EQ(output, expected);
    EXPECT_TRUE(state.headerPrinted);
}

TEST(ListingLines, HeaderWidthsFollowTheTexts) {
    struct Row {
        const char* name;
        LocaleSettings locale;
        std::uint32_t size;
        const char* expected;
    };
    const Row rows[] = {
        // 12-hour times are 7 characters: "Time" padded to 7, seven dashes.
        {"12-hour clock", MakeLocale('0', "/", true, ":", ","), 4294967295u,
         "Size       Date        Time     Att.  Name        \n"
         "---------  ----------  -------  ----  ------------\n"
         // a size longer than 9 characters widens its line
         "4,294,967,295  12/31/1998  11:59pm  -R-H  \xE5OOT.BIN\n"},
        // Without separators the date is 8 and the time 4 characters: "Time"
        // fills its column, "Date" gets 4 spaces.
        {"no separators", MakeLocale('2', "", false, "", ""), 0,
         "Size       Date      Time  Att.  Name        \n"
         "---------  --------  ----  ----  ------------\n"
         "        0  19981231  2359  -R-H  \xE5OOT.BIN\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Entry entry = MakeEntry("\x05OOT    BIN", 0x03, Time(23, 59), kDate19981231, row.size);
        const TreeNode node{nullptr, nullptr, nullptr, nullptr, entry.data()};
        ListingState state{};
        const std::string output = CaptureOutput([&] {
            EntryFields fields{};
            BuildEntryFields(&node, &row.locale, &fields);
            PrintListingLine(&fields, &state);
        });
        EXPECT_EQ(output, row.expected);
    }
}

TEST(ListingLines, NoHeaderWhenAlreadyPrinted) {
    const Entry entry = MakeEntry("\xE5" "ELETED TXT", 0x20, Time(12, 0), kDate19800101, 1000);
    const TreeNode node{nullptr, nullptr, nullptr, nullptr, entry.data()};
    ListingState state{true};
    const std::string output = CaptureOutput([&] {
        EntryFields fields{};
        BuildEntryFields(&node, &kGerman, &fields);
        PrintListingLine(&fields, &state);
    });
    EXPECT_EQ(output, "    1.000  01.01.1980  12:00  A---  ?ELETED.TXT\n");
}

}  // namespace
