// Tests of the console writer and console print: splitting at colour pairs,
// redirected output in both variants, and the terminal form.
#include "console/console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {

ChildResult WriteRedirected(OutputVariant variant, const std::function<void()>& body) {
    ChildOptions options;
    return RunFunction(
        [&]() {
            SetOutputVariant(variant);
            body();
        },
        options);
}

ChildResult WriteOnTerminal(OutputVariant variant, const char* lang, const char* setting,
                            const std::function<void()>& body) {
    ChildOptions options;
    options.terminal = true;
    options.environment = {"LC_ALL=", "LC_CTYPE=", std::string("LANG=") + lang, setting};
    return RunFunction(
        [&]() {
            SetOutputVariant(variant);
            body();
        },
        options);
}

// Lines end in LF here: every CR LF of the system's texts arrives as LF, a
// lone CR stays.
TEST(ConsoleWriterRedirected, FileVariantDropsColourPairsAndEndsLinesInLf) {
    ChildResult result = WriteRedirected(OutputVariant::kFile, []() {
        ConsoleWrite("\x1b\x0F" "Usage:\r\n" "\x1b\x0E\x1b\x0B" "two\r" "\x1b\x07");
        ConsoleWrite("");
        ConsoleWrite("plain \xDB\xB0 bytes\r\n\r\r\n\n\r");
    });
    EXPECT_EQ(result.output, "Usage:\ntwo\rplain \xDB\xB0 bytes\n\r\n\n\r");
}

// Plain text is told apart eight bytes at a time: a colour pair or a byte
// above 0x7F at any place of a longer text must still be seen.
TEST(ConsoleWriterRedirected, ColourPairsAndHighBytesAreSeenAtEveryPlace) {
    const std::string text = "0123456789abcdefghij";
    std::string expected;
    ChildResult result = WriteRedirected(OutputVariant::kFile, [&]() {
        for (std::size_t place = 0; place <= text.size(); ++place) {
            const std::string paired =
                text.substr(0, place) + "\x1b\x0E" + text.substr(place) + "\r\n";
            ConsoleWrite(paired.c_str());
            const std::string high = text.substr(0, place) + "\xDB" + text.substr(place) + "\r\n";
            ConsoleWrite(high.c_str());
        }
    });
    for (std::size_t place = 0; place <= text.size(); ++place) {
        expected += text + "\n";
        expected += text.substr(0, place) + "\xDB" + text.substr(place) + "\n";
    }
    EXPECT_EQ(result.output, expected);
}

TEST(ConsoleWriterRedirected, ConsoleVariantDeliversNothing) {
    ChildResult result = WriteRedirected(OutputVariant::kConsole, []() {
        ConsoleWrite("\x1b\x0E" "Insert diskette\r" "\x1b\x07");
        ConsolePrint("%s\r\n", "more");
    });
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.exitCode, 0);
}

TEST(ConsoleWriterRedirected, EscAtTheVeryEndIsDropped) {
    ChildResult result = WriteRedirected(OutputVariant::kFile, []() { ConsoleWrite("end\x1b"); });
    EXPECT_EQ(result.output, "end");
}

TEST(ConsolePrint, InterpretsPairsInArgumentsAndCutsLongTexts) {
    ChildResult result = WriteRedirected(OutputVariant::kFile, []() {
        ConsolePrint("[%s]\r\n", "\x1b\x0E" "inside" "\x1b\x07");
        std::string longText(3000, 'x');
        ConsolePrint("%s", longText.c_str());
    });
    // 1024-byte buffer: at most 1023 characters of the long text arrive.
    EXPECT_EQ(result.output, "[inside]\n" + std::string(1023, 'x'));
}

TEST(ConsoleWriterTerminal, ColourPairsBecomeTerminalSequencesUnlessColoursAreOff) {
    struct Row {
        const char* setting;
        const char* output;
    };
    const Row rows[] = {
        {"NO_COLOR=", "\x1b[0;96mTitle\n\x1b[0mx\x1b[0;93m\x1b[0;97my"},
        {"NO_COLOR=1", "Title\nxy"},
        {"TERM=dumb", "Title\nxy"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.setting);
        ChildResult result = WriteOnTerminal(OutputVariant::kConsole, "C", row.setting, []() {
            ConsoleWrite("\x1b\x0B" "Title\r\n" "\x1b\x07" "x" "\x1b\x0E\x1b\x0F" "y");
        });
        EXPECT_EQ(result.output, row.output);
    }
}

TEST(ConsoleWriterTerminal, Cp437IsShownAsUtf8OnlyInAUtf8Locale) {
    // 600 full blocks take 1800 bytes as UTF-8: more than one write's worth.
    const std::string blocks(600, '\xDB');
    const std::string text = "[\xDB\xB0\xFE]\x81\r\nx\ry" + blocks;
    ChildResult utf8 = WriteOnTerminal(OutputVariant::kFile, "en_US.UTF-8", "TERM=xterm",
                                       [&]() { ConsoleWrite(text.c_str()); });
    // full block U+2588, light shade U+2591, black square U+25A0, u umlaut U+00FC
    std::string utf8Blocks;
    for (int i = 0; i < 600; ++i) utf8Blocks += "\xE2\x96\x88";
    EXPECT_EQ(utf8.output,
              "[\xE2\x96\x88\xE2\x96\x91\xE2\x96\xA0]\xC3\xBC\nx\ry" + utf8Blocks);
    ChildResult latin = WriteOnTerminal(OutputVariant::kFile, "de_DE.ISO-8859-1", "TERM=xterm",
                                        [&]() { ConsoleWrite(text.c_str()); });
    EXPECT_EQ(latin.output, "[\xDB\xB0\xFE]\x81\nx\ry" + blocks);
}

TEST(ColourSequence, MapsWindowsAttributeBitsToTerminalColours) {
    struct Row {
        const char* name;
        std::uint8_t attribute;
        const char* sequence;
    };
    const Row rows[] = {
        {"normal resets", 0x07, "\x1b[0m"},
        {"light cyan: green+blue+intensity", 0x0B, "\x1b[0;96m"},
        {"yellow: red+green+intensity", 0x0E, "\x1b[0;93m"},
        {"bright white", 0x0F, "\x1b[0;97m"},
        {"blue alone is terminal colour 4", 0x01, "\x1b[0;34m"},
        {"red alone is terminal colour 1", 0x04, "\x1b[0;31m"},
        {"black on black", 0x00, "\x1b[0;30m"},
        {"white on blue", 0x1F, "\x1b[0;97;44m"},
        {"black on bright red", 0xC0, "\x1b[0;30;101m"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        char buffer[32];
        std::size_t length = FormatColourSequence(row.attribute, buffer, sizeof(buffer));
        EXPECT_EQ(std::string(buffer, length), row.sequence);
    }
    char tiny[4];
    EXPECT_EQ(FormatColourSequence(0x0B, tiny, sizeof(tiny)), 0u);
}

TEST(Cp437Encoding, GivesTheCharactersOfTheBoxesAndBars) {
    struct Row {
        std::uint8_t byte;
        const char* utf8;
    };
    const Row rows[] = {
        {'A', "A"},           {0x80, "\xC3\x87"},      {0xDA, "\xE2\x94\x8C"},
        {0xC4, "\xE2\x94\x80"}, {0xBF, "\xE2\x94\x90"}, {0xB3, "\xE2\x94\x82"},
        {0xC0, "\xE2\x94\x94"}, {0xD9, "\xE2\x94\x98"}, {0xE1, "\xC3\x9F"},
        {0xFF, "\xC2\xA0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.byte));
        char out[kUtf8MaxLength];
        std::size_t length = EncodeCp437AsUtf8(row.byte, out);
        EXPECT_EQ(std::string(out, length), row.utf8);
    }
}

TEST(Cp437Text, ConvertsToUtf8WithinItsField) {
    struct Row {
        const char* name;
        const char* text;
        std::size_t outSize;
        bool fits;
        const char* result;
    };
    const Row rows[] = {
        // u umlaut U+00FC, o umlaut U+00F6, sharp s U+00DF: two bytes each.
        {"letters", "\x81" "BER \x94 \xE1", 16, true, "\xC3\xBC" "BER \xC3\xB6 \xC3\x9F"},
        {"ASCII stays", "A.TXT", 6, true, "A.TXT"},
        // A vertical line U+2502 takes three bytes: 1 + 3 + NUL = 5.
        {"exactly fits", "A\xB3", 5, true, "A\xE2\x94\x82"},
        {"cut before a character, never inside", "A\xB3", 4, false, "A"},
        {"empty", "", 1, true, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        char out[32];
        EXPECT_EQ(ConvertCp437ToUtf8(row.text, out, row.outSize), row.fits);
        EXPECT_STREQ(out, row.result);
    }
}

TEST(Cp437Text, ConvertsFromUtf8OrSaysWhereItCannot) {
    struct Row {
        const char* name;
        const char* text;
        const char* strict;     // replacement '\0'; nullptr: the conversion fails
        const char* replaced;   // replacement '?'
    };
    const Row rows[] = {
        {"letters", "\xC3\xBC" "BER \xC3\xB6 \xC3\x9F", "\x81" "BER \x94 \xE1", "\x81" "BER \x94 \xE1"},
        {"box line U+2502 and full block U+2588", "\xE2\x94\x82\xE2\x96\x88", "\xB3\xDB", "\xB3\xDB"},
        {"no-break space U+00A0 is 0xFF", "\xC2\xA0", "\xFF", "\xFF"},
        {"euro sign U+20AC is missing", "1\xE2\x82\xAC", nullptr, "1?"},
        {"four-byte character U+1F600", "\xF0\x9F\x98\x80!", nullptr, "?!"},
        {"Latin-1 byte on its own", "a\xFC" "b", nullptr, "a?b"},
        {"sequence cut short", "\xC3" "A", nullptr, "?A"},
        {"sequence cut by the end", "A\xE2\x94", nullptr, "A??"},
        {"overlong form of '<'", "\xC0\xBC", nullptr, "??"},
        {"surrogate", "\xED\xA0\x80", nullptr, "???"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        char out[32];
        EXPECT_EQ(ConvertUtf8ToCp437(row.text, '\0', out, sizeof(out)), row.strict != nullptr);
        if (row.strict != nullptr) {
            EXPECT_STREQ(out, row.strict);
        }
        EXPECT_TRUE(ConvertUtf8ToCp437(row.text, '?', out, sizeof(out)));
        EXPECT_STREQ(out, row.replaced);
    }
    char small[3];
    EXPECT_FALSE(ConvertUtf8ToCp437("\xC3\xBC\xC3\xBC\xC3\xBC", '?', small, sizeof(small)));
    EXPECT_STREQ(small, "\x81\x81");
}

TEST(Utf8Character, DecodesWhatIsUtf8AndNothingElse) {
    struct Row {
        const char* name;
        std::string bytes;
        std::size_t length;        // 0: refused
        std::uint32_t codePoint;
    };
    const Row rows[] = {
        {"ASCII", "A", 1, 0x41},
        {"two bytes: a umlaut", "\xC3\xA4", 2, 0xE4},
        {"three bytes: full block", "\xE2\x96\x88", 3, 0x2588},
        {"four bytes: U+1F600", "\xF0\x9F\x98\x80", 4, 0x1F600},
        {"the largest code point", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
        {"a continuation byte alone", "\x80", 0, 0},
        {"a lead byte without its continuation", "\xC3(", 0, 0},
        {"a sequence cut by the end", "\xE2\x96", 0, 0},
        {"overlong NUL", "\xC0\x80", 0, 0},
        {"overlong three-byte form", "\xE0\x80\xAF", 0, 0},
        {"a surrogate", "\xED\xA0\x80", 0, 0},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
        {"no lead byte at all", "\xFF", 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::uint32_t codePoint = 0;
        const std::size_t length = DecodeUtf8(row.bytes.data(), row.bytes.size(), &codePoint);
        EXPECT_EQ(length, row.length);
        if (row.length != 0) {
            EXPECT_EQ(codePoint, row.codePoint);
        }
    }
}

// Expected bytes from the code page 437 chart.
TEST(Utf8Character, FindsTheCodePage437ByteOfACharacter) {
    struct Row {
        std::uint32_t codePoint;
        int byte;                  // -1: none
    };
    const Row rows[] = {
        {0x41, 0x41},   {0x1B, 0x1B},   {0xC7, 0x80},   {0xE4, 0x84},   {0xC4, 0x8E},
        {0xDF, 0xE1},   {0x3C0, 0xE3},  {0x2588, 0xDB}, {0x2591, 0xB0}, {0x250C, 0xDA},
        {0x2500, 0xC4}, {0x2518, 0xD9}, {0xA0, 0xFF},   {0x20AC, -1},   {0x263A, -1},
        {0x2302, -1},   {0x1F600, -1},  {0xE9, 0x82},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.codePoint);
        std::uint8_t byte = 0;
        const bool found = FindCodePage437Byte(row.codePoint, &byte);
        EXPECT_EQ(found, row.byte >= 0);
        if (found) {
            EXPECT_EQ(byte, row.byte);
        }
    }
}

TEST(Cp437Text, TheLocaleUsesUtf8AsTheEnvironmentSays) {
    struct Row {
        const char* name;
        std::vector<std::string> environment;
        bool utf8;
    };
    const std::vector<Row> rows = {
        {"LC_ALL first", {"LC_ALL=C.UTF-8", "LC_CTYPE=C", "LANG=C"}, true},
        {"LC_ALL says no", {"LC_ALL=C", "LC_CTYPE=C.UTF-8", "LANG=C.UTF-8"}, false},
        {"empty LC_ALL counts as unset", {"LC_ALL=", "LC_CTYPE=de_DE.utf8", "LANG=C"}, true},
        {"LANG last, with a modifier", {"LC_ALL=", "LC_CTYPE=", "LANG=de_DE.UTF-8@euro"}, true},
        {"another character set", {"LC_ALL=", "LC_CTYPE=", "LANG=de_DE.ISO-8859-1"}, false},
        {"no character set", {"LC_ALL=", "LC_CTYPE=", "LANG=de_DE"}, false},
        {"nothing set", {"LC_ALL=", "LC_CTYPE=", "LANG="}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ChildOptions options;
        options.environment = row.environment;
        const ChildResult child =
            RunFunction([] { ConsoleWrite(IsLocaleUtf8() ? "utf8" : "other"); }, options);
        EXPECT_EQ(child.output, row.utf8 ? "utf8" : "other");
    }
}

}  // namespace
