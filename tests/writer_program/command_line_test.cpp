// Tests of dskwrite's command line: the banner, the usage text, the checks
// made before anything is opened, and the exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/writer_program/writer_helper.h"

namespace {

const std::string kUsage =
    "Usage:\tdskwrite Image [Drive] [Options]\n"
    "Image:\tName of the image file to read\n"
    "Drive:\tdrive letter of the target diskette drive (default is A:)\n"
    "Options:/?\tShow this help\n"
    "\t/A\tWrite all tracks (even if unused)\n"
    "\t/S\tSuppress prompt\n"
    "\t/F\tformat diskette\n"
    "\t/V\tverify writing\n"
    "Example:\tdskwrite EXAMPLE.IMG B: /F\n"
    "\n"
    "Writes a VELMORATRAX diskette image, or a plain one, track by track onto\n"
    "the diskette in the drive. A: is /dev/fd0, B: /dev/fd1; DISKETTE_A=PATH\n"
    "names another device, or a file that stands for the diskette.\n";

// Replaces every "%T" in text by the temporary directory's path.
std::string InDirectory(std::string text, const TempDirectory& directory) {
    for (std::size_t at = text.find("%T"); at != std::string::npos; at = text.find("%T", at)) {
        text.replace(at, 2, directory.Path());
    }
    return text;
}

// Each row runs with drive A: a directory (no diskette drive) unless it says
// otherwise, and with image files that do not exist: an extra check or an
// image file opened too early shows as an extra message in the output.
TEST(WriterCommandLine, ChecksEverythingBeforeOpeningAnything) {
    const std::string tooLong(300, 'n');
    const std::string longest(259, 'm');   // fits the 260-byte field with its NUL
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
        std::string output;                 // after the banner
        int exitCode;
    };
    const std::string driveIsDirectory = "DISKETTE_A=%T";
    const std::string driveIsEmpty = "DISKETTE_A=%T/a.img";   // a missing file: no diskette in it
    const Row rows[] = {
        {"no arguments", {}, {driveIsDirectory},
         MessageText("Name of image file is missing."), 3},
        {"/? shows the usage text, and the drive is not examined", {"missing.img", "/?"},
         {driveIsDirectory}, kUsage, 1},
        {"-? as well", {"-?"}, {driveIsDirectory}, kUsage, 1},
        {"an unknown option is shown upper-cased, the drive not examined",
         {"missing.img", "/x"}, {driveIsDirectory}, MessageText("Unknown parameter '/X'."), 3},
        {"an error and then /?: the last code wins", {"-xy", "-?"}, {driveIsDirectory},
         MessageText("Unknown parameter '-XY'.") + kUsage, 1},
        {"a longer argument that begins with / is an image file name", {"/x?", "-A"},
         {driveIsEmpty}, MessageText("Image data of '/x?' could not be accessed."), 3},
        {"/? and then an error: the last code wins", {"/?", "-f", "-s", "--v"},
         {driveIsDirectory}, kUsage + MessageText("Unknown parameter '--V'."), 3},
        {"the default drive A: is no diskette drive", {"missing.img"}, {driveIsDirectory},
         MessageText("'A:' is not a diskette drive."), 3},
        {"a lower-case drive name in a missing directory", {"missing.img", "b:"},
         {driveIsEmpty, "DISKETTE_B=%T/none/b.img"},
         MessageText("'B:' is not a diskette drive."), 3},
        {"the image file name is used as typed", {"Missing.Img"}, {driveIsEmpty},
         MessageText("Image data of 'Missing.Img' could not be accessed."), 3},
        {"abc: is three characters long: an image file name replacing the first",
         {"first.img", "abc:"}, {driveIsEmpty},
         MessageText("Image data of 'abc:' could not be accessed."), 3},
        {"an argument of 259 characters is taken", {longest}, {driveIsEmpty},
         MessageText("Image data of '" + longest + "' could not be accessed."), 3},
        {"an argument of 300 characters is refused before the drive is examined", {tooLong},
         {driveIsDirectory},
         MessageText("Parameter too long (more than 259 characters): '" + std::string(60, 'n') +
                     "...'"),
         3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriterRun run;
        for (const std::string& setting : row.environment) {
            run.environment.push_back(InDirectory(setting, directory));
        }
        ChildResult result = RunWriter(row.arguments, run);
        EXPECT_EQ(WithoutColours(result.output), kWriterBanner + row.output);
        EXPECT_EQ(result.exitCode, row.exitCode);
    }
}

// The Linux words print to standard output whatever it is: into a pipe
// without any colour sequence.
TEST(WriterCommandLine, HelpAndVersionAreWholeWordsThatEndWithCodeZero) {
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        bool terminal;
        std::string output;
        int exitCode;
    };
    const Row rows[] = {
        {"--help: banner and usage text", {"missing.img", "--help"}, true, kWriterBanner + kUsage,
         0},
        {"--help into a pipe: the same text", {"--help"}, false, kWriterBanner + kUsage, 0},
        {"--version: title and version line only", {"--version", "/x"}, true,
         "VELMORATRAX's diskette writer for Windows NT\nVersion 1.0\n", 0},
        {"--HELP is no such word: an unknown option", {"--HELP"}, true,
         kWriterBanner + MessageText("Unknown parameter '--HELP'."), 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriterRun run;
        run.environment = {"DISKETTE_A=" + directory.Path()};
        run.terminal = row.terminal;
        ChildResult result = RunWriter(row.arguments, run);
        EXPECT_EQ(row.terminal ? WithoutColours(result.output) : result.output, row.output);
        EXPECT_EQ(result.exitCode, row.exitCode);
    }
}

// The usage text is bright white, and the colour is back to normal after it.
TEST(WriterCommandLine, UsageTextIsBrightWhite) {
    TempDirectory directory;
    WriterRun run;
    run.environment = {"DISKETTE_A=" + directory.Path()};
    ChildResult result = RunWriter({"/?"}, run);
    EXPECT_NE(result.output.find("\x1b[0m\x1b[0;97mUsage:\t"), std::string::npos);
    EXPECT_EQ(result.output.substr(result.output.size() - 7), "e.\n\x1b[0m");
}

}  // namespace
