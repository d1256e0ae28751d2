// Tests of selfdisk's command line: the usage text, unknown parameters, the
// drive check, the Linux words and their exit codes; and that standard output
// stays empty when it is no terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/selfdisk_program/selfdisk_program_helper.h"

namespace {

const std::string kUsage =
    "Usage:\tselfdisk [Drive] [Options]\n"
    "Drive:\tdrive letter of the target diskette drive (default is A:)\n"
    "Options:/?\tShow this help\n"
    "\t/A\tWrite all tracks (even if unused)\n"
    "\t/D\tDisplay contents only\n"
    "\t/S\tSuppress prompt\n"
    "\t/F\tformat diskette\n"
    "\t/N:n\twrite only diskette #n (n=1 to quantity)\n"
    "\t/V\tverify writing\n"
    "Example:\tselfdisk B: /F\n"
    "\n"
    "selfdisk carries VELMORATRAX diskette images in its own file and writes\n"
    "them one after the other onto diskettes. A: is /dev/fd0, B: /dev/fd1;\n"
    "DISKETTE_A=PATH names another device, or a file that stands for the diskette.\n";

const std::string kNoPayload = "File contains 0 diskette(s), no description was included\n";

// Each row runs the program as built (no payload) with drive A: a directory,
// which is no diskette drive, unless it says otherwise: a drive examined too
// early shows as an extra message.
TEST(SelfDiskCommandLine, ChecksTheArgumentsBeforeTheDriveAndEndsWithTheLastCode) {
    const std::string tooLong(300, 'n');
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        bool driveIsFile;                   // drive A: a file-backed diskette drive
        std::string output;                 // after the banner
        int exitCode;
    };
    const Row rows[] = {
        {"/x and then /?: the usage text's code", {"/x", "/?"}, false,
         MessageText("Unknown parameter '/X'.") + kUsage, 1},
        {"/? and then /x: the unknown parameter's code", {"/?", "/x"}, false,
         kUsage + MessageText("Unknown parameter '/X'."), 3},
        {"-? shows the usage text as well", {"-?"}, false, kUsage, 1},
        {"an argument that is neither drive nor option, upper-cased", {"abc"}, false,
         MessageText("Unknown parameter 'ABC'."), 3},
        {"options cannot be combined", {"/fv"}, false, MessageText("Unknown parameter '/FV'."), 3},
        {"a lone slash", {"/"}, false, MessageText("Unknown parameter '/'."), 3},
        {"/D still needs a diskette drive", {"/D"}, false,
         MessageText("'A:' is not a diskette drive."), 3},
        {"a later drive name replaces an earlier one", {"a:", "c:"}, true,
         MessageText("'C:' is not a diskette drive."), 3},
        {"an argument of 300 characters is unknown like any other", {tooLong}, false,
         MessageText("Unknown parameter '" + std::string(300, 'N') + "'."), 3},
        {"a selection is checked after the payload header, also without a payload", {"/N:1"}, true,
         kNoPayload + MessageText("Invalid diskette #1 (only 1 to 0)."), 3},
        {"/A /F /V /S with no diskette to write", {"/a", "-F", "/v", "/S"}, true, kNoPayload, 0},
        {"--help: banner and usage text, whatever else is given", {"/x", "--help"}, false, kUsage,
         0},
        {"--Help is no such word", {"--Help"}, false,
         MessageText("Unknown parameter '--HELP'."), 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        SelfDiskRun run;
        run.environment = {"DISKETTE_A=" + (row.driveIsFile ? directory / "a.img" : directory.Path()),
                           "DISKETTE_C=" + directory.Path()};
        ChildResult result = RunSelfDiskProgram(SELFDISK_PATH, row.arguments, run);
        EXPECT_EQ(WithoutColours(result.output), kSelfDiskBanner + row.output);
        EXPECT_EQ(result.exitCode, row.exitCode);
    }
}

TEST(SelfDiskCommandLine, VersionShowsOnlyTheTitleLines) {
    SelfDiskRun run;
    ChildResult result = RunSelfDiskProgram(SELFDISK_PATH, {"/?", "--version"}, run);
    EXPECT_EQ(WithoutColours(result.output),
              "VELMORATRAX's self-creating diskette for Windows NT\nVersion 1.1\n");
    EXPECT_EQ(result.exitCode, 0);
}

// Output into a pipe is no terminal: standard output stays empty (the
// messages go to standard error), and the exit code is the one a terminal
// would have seen.
TEST(SelfDiskCommandLine, StandardOutputThatIsNoTerminalStaysEmpty) {
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        int exitCode;
    };
    const Row rows[] = {
        {"a payload listed", {"/D"}, 0},
        {"an unknown parameter", {"/x"}, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        const std::string program = MakeSelfDisk(
            directory,
            PayloadBytes(1, "one", {WrapNative(LabelledDiskette("ONE"), NativeWith(true, true))}));
        SelfDiskRun run;
        run.environment = {"DISKETTE_A=" + directory / "a.img"};
        run.terminal = false;
        ChildResult result = RunSelfDiskProgram(program, row.arguments, run);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.exitCode, row.exitCode);
    }
}

}  // namespace
