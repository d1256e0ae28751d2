// Tests of the built selfdisk program with payloads appended by hand, on a
// pseudo-terminal, writing through file-backed drives: the program as built,
// the description box, listing, selection, the keys at its prompts, waiting
// with /S, and a damaged payload header.
#include <gtest/gtest.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/selfdisk_program/selfdisk_program_helper.h"

namespace {

constexpr std::size_t kDriveSize = 1474560;   // a 1.44 MB diskette
const std::vector<std::string> kLabels = {"DISK ONE", "DISK TWO", "DISK THREE"};
const std::vector<std::size_t> kUsedSides = {0, 1};   // see LabelledDiskette
const std::string kSuccess = "Diskette successfully created\n";

// The payload: count images, the first readable ones DISK ONE ... as sparse
// native images, the others 8192 zero bytes that no recognizer accepts.
std::vector<std::uint8_t> Payload(std::uint8_t count, std::size_t readable,
                                  const std::string& description = "") {
    std::vector<std::vector<std::uint8_t>> images;
    for (std::size_t i = 0; i < count; ++i) {
        images.push_back(i < readable ? WrapNative(LabelledDiskette(kLabels[i]), NativeWith(true, true))
                                      : std::vector<std::uint8_t>(8192, 0));
    }
    return PayloadBytes(count, description, images);
}

// Drive A: is directory/drive.img, a diskette full of the marker byte.
SelfDiskRun DriveRun(const TempDirectory& directory) {
    WriteBytes(directory / "drive.img", std::vector<std::uint8_t>(kDriveSize, kMarkerByte));
    SelfDiskRun run;
    run.environment = {"DISKETTE_A=" + directory / "drive.img"};
    return run;
}

bool Shows(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

// The box of a description, as the terminal receives it in the C locale:
// code page 437 bytes unchanged, CR LF as LF, bright white from the top line
// to the end of the bottom line, then the normal colour. Worked out by hand:
// 0xDA 0xC4 "Description" 0xC4 "[ 3 diskette(s) included]" 22 x 0xC4 0xBF;
// 0xB3, the line padded to 60 columns, 0xB3; 0xC0, 60 x 0xC4, 0xD9.
std::string BoxOfThree(const std::vector<std::string>& lines) {
    std::string box = "\x1b[0;97m\xDA\xC4" "Description\xC4[ 3 diskette(s) included]" +
                      std::string(22, '\xC4') + "\xBF\n";
    for (const std::string& line : lines) {
        box += "\xB3" + line + std::string(60 - line.size(), ' ') + "\xB3\n";
    }
    return box + "\xC0" + std::string(60, '\xC4') + "\xD9\n\x1b[0m";
}

const std::string kColouredBanner =
    "\x1b[0;96mVELMORATRAX's self-creating diskette for Windows NT\nVersion 1.1\n"
    "\x1b[0;93mEnter 'selfdisk /?' to show help \n\x1b[0m";

// The program as built holds its own length at file offset 12, inside the
// ELF identification's padding, and still runs: it finds no payload.
TEST(SelfDiskProgram, TheBuiltProgramHoldsItsOwnLengthAndCarriesNoDiskette) {
    const std::vector<std::uint8_t> program = ReadBytes(SELFDISK_PATH);
    ASSERT_GT(program.size(), 16u);
    EXPECT_EQ(std::vector<std::uint8_t>(program.begin(), program.begin() + 4),
              std::vector<std::uint8_t>({0x7F, 'E', 'L', 'F'}));
    EXPECT_EQ(GetLe32(program, kOffsetFieldAt), program.size());
    TempDirectory directory;
    ChildResult result = RunSelfDiskProgram(SELFDISK_PATH, {}, DriveRun(directory));
    EXPECT_EQ(WithoutColours(result.output),
              kSelfDiskBanner + "File contains 0 diskette(s), no description was included\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(ReadBytes(directory / "drive.img"),
              std::vector<std::uint8_t>(kDriveSize, kMarkerByte));
}

// Three images and a two-line description listed with /D: the whole output
// byte for byte, one info line per diskette, and the drive untouched.
TEST(SelfDiskProgram, ListsTheBoxAndOneInfoLinePerDisketteByteForByte) {
    TempDirectory directory;
    const std::string program =
        MakeSelfDisk(directory, Payload(3, 3, "Three diskettes of the test\nSecond line"));
    ChildResult result = RunSelfDiskProgram(program, {"/D"}, DriveRun(directory));
    const std::string infoLines =
        "Diskette  1: DISK ONE   , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n"
        "Diskette  2: DISK TWO   , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n"
        "Diskette  3: DISK THREE , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n";
    EXPECT_EQ(result.output, kColouredBanner +
                                 BoxOfThree({"Three diskettes of the test", "Second line"}) +
                                 infoLines);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(ReadBytes(directory / "drive.img"),
              std::vector<std::uint8_t>(kDriveSize, kMarkerByte));
}

// An ESC pair in the description changes the colour where it stands (the
// pair counts in the padding, as it does in console print); the bottom line
// still ends with the normal colour.
TEST(SelfDiskProgram, AColourChangeInTheDescriptionEndsWithTheBox) {
    TempDirectory directory;
    const std::string program = MakeSelfDisk(directory, Payload(0, 0, "Blue \x1b\x1E" "back"));
    ChildResult result = RunSelfDiskProgram(program, {"/D"}, DriveRun(directory));
    // "Blue ", ESC, 0x1E and "back" are 11 bytes: 49 blanks pad them to 60.
    // Attribute 0x1E: yellow (93) on blue (44).
    const std::string expected = "\x1b[0;97m\xDA\xC4" "Description\xC4[ 0 diskette(s) included]" +
                                 std::string(22, '\xC4') + "\xBF\n" +
                                 "\xB3" "Blue \x1b[0;93;44mback" + std::string(49, ' ') + "\xB3\n" +
                                 "\xC0" + std::string(60, '\xC4') + "\xD9\n\x1b[0m";
    EXPECT_EQ(result.output, kColouredBanner + expected);
    EXPECT_EQ(result.exitCode, 0);
}

TEST(SelfDiskProgram, SelectionAndKeysAtThePromptsDecideWhatIsWritten) {
    struct Row {
        const char* name;
        std::uint8_t count;
        std::size_t readable;
        std::vector<std::string> arguments;
        std::vector<TerminalStep> steps;
        std::vector<std::string> shown;
        std::vector<std::string> notShown;
        int lastWritten;                     // the diskette the drive holds at the end
    };
    const Row rows[] = {
        {"/N:2: no prompt for the first, and the unreadable third is never read", 3, 2, {"/N:2"},
         {KeyAtPrompt(2, "\r")}, {kSuccess}, {"Insert diskette #1", "Insert diskette #3"}, 2},
        {"S at the first prompt, then ENTER", 2, 2, {}, {KeyAtPrompt(1, "s"), KeyAtPrompt(2, "\r")},
         {MessageText("Diskette #1 skipped."), kSuccess}, {}, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        const std::string program = MakeSelfDisk(directory, Payload(row.count, row.readable));
        SelfDiskRun run = DriveRun(directory);
        run.steps = row.steps;
        ChildResult result = RunSelfDiskProgram(program, row.arguments, run);
        const std::string output = WithoutColours(result.output);
        EXPECT_EQ(result.exitCode, 0) << output;
        for (const std::string& text : row.shown) EXPECT_TRUE(Shows(output, text)) << text;
        for (const std::string& text : row.notShown) EXPECT_FALSE(Shows(output, text)) << text;
        ExpectDriveHolds(ReadBytes(directory / "drive.img"),
                         LabelledDiskette(kLabels[static_cast<std::size_t>(row.lastWritten - 1)]),
                         kUsedSides, kMarkerByte);
    }
}

TEST(SelfDiskProgram, EscAtTheSecondPromptKeepsTheFirstDisketteAndEndsWithCodeZero) {
    TempDirectory directory;
    const std::string program = MakeSelfDisk(directory, Payload(2, 2));
    SelfDiskRun run = DriveRun(directory);
    run.steps = {KeyAtPrompt(1, "\r"), KeyAtPrompt(2, "\x1b")};
    ChildResult result = RunSelfDiskProgram(program, {}, run);
    const std::string output = WithoutColours(result.output);
    const std::string end = "Insert diskette #2 into 'A:' - ENTER=Continue  S=Skip  ESC=Cancel\r" +
                            MessageText("Process canceled.");
    ASSERT_GE(output.size(), end.size());
    EXPECT_EQ(output.substr(output.size() - end.size()), end);
    EXPECT_EQ(result.exitCode, 0);
    ExpectDriveHolds(ReadBytes(directory / "drive.img"), LabelledDiskette(kLabels[0]), kUsedSides,
                     kMarkerByte);
}

// Answers piped in with CR LF: "s" skips diskette 1, the CR writes diskette
// 2 and its LF is no second ENTER; the input then ends at the prompt for
// diskette 3, an error. The drive keeps diskette 2.
TEST(SelfDiskProgram, PipedAnswersInCrLfAnswerOnePromptEach) {
    TempDirectory directory;
    const std::string program = MakeSelfDisk(directory, Payload(3, 3));
    SelfDiskRun run = DriveRun(directory);
    run.terminal = false;
    run.steps = {KeyAtPrompt(1, "s\r\n")};
    ChildResult result = RunSelfDiskProgram(program, {}, run);
    EXPECT_EQ(result.exitCode, 3);
    ExpectDriveHolds(ReadBytes(directory / "drive.img"), LabelledDiskette(kLabels[1]), kUsedSides,
                     kMarkerByte);
}

TEST(SelfDiskProgram, ASelectionOutsideTheCountIsRefusedAfterTheBox) {
    const std::string box = WithoutColours(BoxOfThree({"three"}));
    struct Row {
        const char* option;
        const char* message;
    };
    const Row rows[] = {
        {"/N:0", "Invalid diskette #0 (only 1 to 3)."},
        {"/n:4", "Invalid diskette #4 (only 1 to 3)."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.option);
        TempDirectory directory;
        const std::string program = MakeSelfDisk(directory, Payload(3, 3, "three"));
        ChildResult result = RunSelfDiskProgram(program, {row.option}, DriveRun(directory));
        EXPECT_EQ(WithoutColours(result.output), kSelfDiskBanner + box + MessageText(row.message));
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_EQ(ReadBytes(directory / "drive.img"),
                  std::vector<std::uint8_t>(kDriveSize, kMarkerByte));
    }
}

// With /S diskette 1 goes onto the diskette found in the drive. For
// diskette 2 the program waits until the drive file has gone (the diskette
// taken out) and is there again (a new one put in).
TEST(SelfDiskProgram, WaitingWritesTheSecondDisketteOnlyAfterTheDriveWasEmptied) {
    TempDirectory directory;
    const std::string program = MakeSelfDisk(directory, Payload(2, 2));
    SelfDiskRun run = DriveRun(directory);
    const std::string drivePath = directory / "drive.img";
    const std::string takenOut = directory / "taken-out.img";
    TerminalStep swap;
    swap.after = "WAITING for diskette #2 in 'A:'...  ESC=Cancel\r";
    swap.action = [&]() {
        EXPECT_EQ(std::rename(drivePath.c_str(), takenOut.c_str()), 0);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        WriteBytes(directory / "new.tmp", std::vector<std::uint8_t>(kDriveSize, kMarkerByte));
        EXPECT_EQ(std::rename((directory / "new.tmp").c_str(), drivePath.c_str()), 0);
    };
    run.steps = {swap};
    ChildResult result = RunSelfDiskProgram(program, {"/s"}, run);
    const std::string output = WithoutColours(result.output);
    EXPECT_EQ(result.exitCode, 0) << output;
    const std::string start = kSelfDiskBanner +
                              "File contains 2 diskette(s), no description was included\n"
                              "WAITING for diskette #1 in 'A:'...  ESC=Cancel\r";
    EXPECT_EQ(output.substr(0, start.size()), start);
    std::size_t written = 0;
    for (std::size_t at = output.find(kSuccess); at != std::string::npos;
         at = output.find(kSuccess, at + 1)) {
        ++written;
    }
    EXPECT_EQ(written, 2u);
    ExpectDriveHolds(ReadBytes(takenOut), LabelledDiskette(kLabels[0]), kUsedSides, kMarkerByte);
    ExpectDriveHolds(ReadBytes(drivePath), LabelledDiskette(kLabels[1]), kUsedSides, kMarkerByte);
}

// A self-creating diskette whose file is removed while it runs reads its
// payload from the file that runs all the same, though the path it was
// started by names nothing any more. It is started through a descriptor of
// its file, removed just before, so that it is gone before the program
// opens itself; it writes diskette 1 at ENTER.
TEST(SelfDiskProgram, ReadsItsPayloadAfterItsFileWasRemoved) {
    TempDirectory directory;
    const std::string program = MakeSelfDisk(directory, Payload(1, 1));
    SelfDiskRun run = DriveRun(directory);
    run.steps = {KeyAtPrompt(1, "\r")};
    ChildResult result = RunSelfDiskProgram(
        "/bin/sh", {"-c", "exec 3<\"$1\" && rm \"$1\" && exec /proc/self/fd/3", "sh", program},
        run);
    EXPECT_EQ(result.exitCode, 0) << WithoutColours(result.output);
    EXPECT_NE(access(program.c_str(), F_OK), 0);
    ExpectDriveHolds(ReadBytes(directory / "drive.img"), LabelledDiskette(kLabels[0]), kUsedSides,
                     kMarkerByte);
}

TEST(SelfDiskProgram, ADescriptionLongerThanTheFileIsAHeaderReadFault) {
    TempDirectory directory;
    const std::string program = MakeSelfDisk(directory, {1, 200, 't', 'e', 'n', ' ', 'b', 'y', 't', 'e', 's', '.'});
    ChildResult result = RunSelfDiskProgram(program, {}, DriveRun(directory));
    // Code 30, a read fault, is shown with the platform's text for EIO.
    EXPECT_EQ(WithoutColours(result.output),
              kSelfDiskBanner +
                  MessageText("The header of the image data from 'selfdisk' could not be read.\n(" +
                              std::string(std::strerror(EIO)) + ")"));
    EXPECT_EQ(result.exitCode, 3);
}

}  // namespace
