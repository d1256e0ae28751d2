// Tests of the description's conversion from UTF-8 into code page 437: line
// ends, and every refusal with its message.
#include "mkselfdisk/description.h"

#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "tests/support/capture.h"

namespace {

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
        {"CR LF becomes LF, ESC and its attribute stay", "a\r\nb\x1b\x1E", 1, "a\nb\x1b\x1E", ""},
        {"attributes below 0x20, ESC and beyond 0x7F", "\x1b\x01x\x1b\x1b\x1b\xC3\xA9", 1,
         "\x1b\x01x\x1b\x1b\x1b\x82", ""},
        {"a TAB", "ab\tc", 0, "",
         "\nThe description's control character U+0009 in line 1, column 3 cannot be shown.\n"},
        {"a NUL", std::string("a\n\0", 3), 0, "",
         "\nThe description's control character U+0000 in line 2, column 1 cannot be shown.\n"},
        {"a lone CR", "a\rb", 0, "",
         "\nThe description's control character U+000D in line 1, column 2 cannot be shown.\n"},
        {"a DEL", "a\nbc\x7F", 0, "",
         "\nThe description's control character U+007F in line 2, column 3 cannot be shown.\n"},
        {"an ESC at the end", "ab\x1b", 0, "",
         "\nThe description's ESC in line 1, column 3 is followed by no colour byte.\n"},
        {"an ESC before CR LF", "a\nb\x1b\r\nc", 0, "",
         "\nThe description's ESC in line 2, column 2 is followed by no colour byte.\n"},
        {"an ESC before a NUL", std::string("\x1b\0", 2), 0, "",
         "\nThe description's ESC in line 1, column 1 is followed by no colour byte.\n"},
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
