// Tests of the message reporter's layout in both variants.
#include "console/message.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "console/system_error.h"
#include "console/text.h"
#include "tests/support/capture.h"
#include "tests/support/process.h"

namespace {

std::string Build(OutputVariant variant, const char* text, std::uint32_t flags,
                  std::uint32_t code) {
    char buffer[kMessageBufferSize];
    std::size_t length = BuildMessage(buffer, sizeof(buffer), variant, "%s", flags, code, text);
    EXPECT_EQ(length, std::strlen(buffer));
    return std::string(buffer, length);
}

TEST(MessageLayout, FlagsDecideTheLineBreaks) {
    struct Row {
        const char* name;
        const char* text;
        std::uint32_t flags;
        const char* expected;
    };
    const Row rows[] = {
        {"error: empty line before, line end after", "Not enough memory.", kMessageError,
         "\x1b\x0E\r\nNot enough memory.\r\n\x1b\x07"},
        {"notice looks like an error", "Diskette #2 skipped.", kMessageNotice,
         "\x1b\x0E\r\nDiskette #2 skipped.\r\n\x1b\x07"},
        {"refusal keeps its inner line break", "one\r\ntwo", kMessageRefusal,
         "\x1b\x0E\r\none\r\ntwo\r\n\x1b\x07"},
        {"prompt stays on its line", "WAITING for diskette #1 in 'A:'...  ESC=Cancel\r",
         kMessagePrompt, "\x1b\x0EWAITING for diskette #1 in 'A:'...  ESC=Cancel\r\x1b\x07"},
        {"low bits only: no break before", "x", 0x00001, "\x1b\x0Ex\r\n\x1b\x07"},
        {"no line end only", "x", kMessageNoLineEnd, "\x1b\x0E\r\nx\x1b\x07"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Build(OutputVariant::kFile, row.text, row.flags, 0), row.expected);
        EXPECT_EQ(Build(OutputVariant::kConsole, row.text, row.flags, 0), row.expected);
    }
}

TEST(MessageLayout, ExtractorShowsTheCodeAsSysNumber) {
    EXPECT_EQ(Build(OutputVariant::kFile, "File 'a' could not be created.", kMessageError, 3),
              "\x1b\x0E\r\nFile 'a' could not be created.\r\n(SYS0003)\r\n\x1b\x07");
    EXPECT_EQ(Build(OutputVariant::kFile, "m", kMessageError, 12345),
              "\x1b\x0E\r\nm\r\n(SYS12345)\r\n\x1b\x07");
    // A code unknown to the platform still shows its number.
    EXPECT_EQ(Build(OutputVariant::kFile, "m", kMessageError, 110),
              "\x1b\x0E\r\nm\r\n(SYS0110)\r\n\x1b\x07");
}

TEST(MessageLayout, DisketteProgramsShowThePlatformText) {
    // Code 30, a read fault, is the platform's EIO.
    std::string expected = std::string("\x1b\x0E\r\nError while reading image data from 'x'.\r\n(") +
                           std::strerror(EIO) + ")\r\n\x1b\x07";
    EXPECT_EQ(Build(OutputVariant::kConsole, "Error while reading image data from 'x'.",
                    kMessageError, kErrorReadFault),
              expected);
    // 110 has no errno counterpart: its text is one of the system's own.
    EXPECT_EQ(Build(OutputVariant::kConsole, "File 'a' could not be created.", kMessageError,
                    kErrorOpenFailed),
              "\x1b\x0E\r\nFile 'a' could not be created.\r\n(Cannot open the file)\r\n\x1b\x07");
    // A code the platform has no text for: no error part at all.
    EXPECT_EQ(Build(OutputVariant::kConsole, "m", kMessageError, 12345),
              "\x1b\x0E\r\nm\r\n\x1b\x07");
}

TEST(MessageLayout, TooLongMessagesAreCutButStillEndProperly) {
    std::string longText(2000, 'a');
    std::string built = Build(OutputVariant::kFile, longText.c_str(), kMessageError, 5);
    EXPECT_LT(built.size(), kMessageBufferSize);
    EXPECT_EQ(built.substr(0, 4), "\x1b\x0E\r\n");
    EXPECT_EQ(built.substr(built.size() - 4), "\r\n\x1b\x07");
    EXPECT_EQ(built.find("SYS"), std::string::npos);   // the error part did not fit whole
    std::string prompt = Build(OutputVariant::kFile, longText.c_str(), kMessagePrompt, 0);
    EXPECT_LT(prompt.size(), kMessageBufferSize);
    EXPECT_EQ(prompt.substr(prompt.size() - 2), "\x1b\x07");
}

TEST(SystemText, IsCleanedOfControlBytes) {
    char text[] = "first line\r\nsecond\tline\r\n";
    EXPECT_EQ(CleanSystemText(text), std::strlen("first line  second line"));
    EXPECT_STREQ(text, "first line  second line");
    char onlyControl[] = "\r\n";
    EXPECT_EQ(CleanSystemText(onlyControl), 0u);
}

TEST(CharacterTranslation, MapsTheGermanLettersToTheOemCodePage) {
    char text[] = "Ger\xE4t \xC4 \xF6\xD6 \xFC\xDC \xDF!";
    TranslateCharacters(text, kAnsiLetters, kOemLetters);
    EXPECT_STREQ(text, "Ger\x84t \x8E \x94\x99 \x81\x9A \xE1!");
    char unchanged[] = "\xE4\xC4";
    TranslateCharacters(unchanged, "\xE4\xC4", "\x84");   // sets of different length
    EXPECT_STREQ(unchanged, "\xE4\xC4");
}

TEST(ReportMessage, WritesThroughTheProgramsVariant) {
    ChildOptions options;
    ChildResult file = RunFunction(
        []() {
            SetOutputVariant(OutputVariant::kFile);
            ReportMessage("Image data of '%s' could not be accessed.", kMessageError, 0, "a.img");
            ReportMessage("code", kMessageError, 5);
        },
        options);
    EXPECT_EQ(file.output,
              "\nImage data of 'a.img' could not be accessed.\n\ncode\n(SYS0005)\n");
    // No terminal on standard output or error: the console variant's message
    // goes to standard error as plain lines (code 5 is EACCES).
    TempFile errors({});
    options.errorPath = errors.Path();
    ChildResult console = RunFunction(
        []() {
            SetOutputVariant(OutputVariant::kConsole);
            ReportMessage("one\r\ntwo", kMessageRefusal, kErrorAccessDenied);
        },
        options);
    EXPECT_EQ(console.output, "");
    std::ifstream written(errors.Path());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}),
              "one\ntwo\n(" + std::string(std::strerror(EACCES)) + ")\n");
}

}  // namespace
