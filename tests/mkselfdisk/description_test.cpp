// Tests of the description's conversion from UTF-8 into code page 437: the
// UTF-8 decoder, the code page's characters, line ends, and every refusal
// with its message.
#include "mkselfdisk/description.h"

#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "tests/support/capture.h"

namespace {

TEST(DescriptionUtf8, DecodesWhatIsUtf8AndNothingElse) {
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
        const std::size_t length = DecodeUtf8(reinterpret_cast<const std::uint8_t*>(row.bytes.data()),
                                              row.bytes.size(), &codePoint);
        EXPECT_EQ(length, row.length);
        if (row.length != 0) {
            EXPECT_EQ(codePoint, row.codePoint);
        }
    }
}

// Expected bytes from the code page 437 chart.
TEST(DescriptionUtf8, FindsTheCodePage437ByteOfACharacter) {
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

TEST(DescriptionConversion, ConvertsLineEndsAndCharactersOrReportsOnce) {
    const std::string umlauts128 = [] {
        std::string text;
        for (int i = 0; i < 128; ++i) text += "\xC3\xA4";
        return text;
    }();
    struct Row {
        const char* name;
        std::string utf8;
        int result;
        std::string converted;     // when converted
        std::string message;       // when refused, as the reporter shows it
    };
    const Row rows[] = {
        {"German letters", "Gr\xC3\xBC\xC3\x9F" "e", 1, "Gr\x81\xE1" "e", ""},
        {"box characters", "\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x90", 1, "\xDA\xC4\xBF", ""},
        {"CR LF becomes LF, a lone CR and ESC stay", "a\r\nb\rc\x1b\x1E", 1, "a\nb\rc\x1b\x1E", ""},
        {"255 bytes fit", std::string(255, 'x'), 1, std::string(255, 'x'), ""},
        {"128 umlauts: 256 bytes of UTF-8, 128 of code page 437", umlauts128, 1,
         std::string(128, '\x84'), ""},
        {"256 bytes do not fit", std::string(256, 'x'), 0, "",
         "\nThe description is longer than 255 bytes in code page 437.\n"},
        {"256 umlauts do not fit either", umlauts128 + umlauts128, 0, "",
         "\nThe description is longer than 255 bytes in code page 437.\n"},
        {"a euro sign in line 2, column 3", "ab\ncd\xE2\x82\xAC", 0, "",
         "\nThe description's character U+20AC in line 2, column 3 has no form in code page "
         "437.\n"},
        {"a character beyond the first plane", "\xF0\x9F\x98\x80", 0, "",
         "\nThe description's character U+1F600 in line 1, column 1 has no form in code page "
         "437.\n"},
        {"a byte that is no UTF-8", "ab\xC3(", 0, "",
         "\nThe description is no UTF-8 text: byte 3 cannot stand there.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        char description[256];
        std::uint32_t length = 999;
        int result = -1;
        const std::string output = CaptureOutput([&] {
            result = ConvertDescription(row.utf8.data(), row.utf8.size(), description,
                                        sizeof(description), &length);
        });
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(output, row.message);
        if (row.result == 1) {
            EXPECT_EQ(std::string(description, length), row.converted);
            EXPECT_EQ(description[length], '\0');
        }
    }
}

}  // namespace
