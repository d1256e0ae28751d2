// Tests of dskwrite writing images through file-backed drives: what reaches
// the drive file with each option, the prompt, the wait for a diskette, and
// what the terminal shows.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/writer_program/writer_helper.h"

namespace {

constexpr std::uint8_t kFormatFill = 0xF6;   // what a freshly formatted track side holds
constexpr std::uint8_t kDataFill = 0xE5;     // the image's unused sectors, unlike both

const std::vector<std::size_t> kUsedSides = {0, 1, 10};

std::vector<std::size_t> AllSides(const FatImage& image) {
    std::vector<std::size_t> sides;
    for (std::size_t side = 0; side < TrackCount(image.layout) * image.layout.sides; ++side) {
        sides.push_back(side);
    }
    return sides;
}

// Puts the image file disk.img and the drive file drive.img into directory:
// the drive file is the diskette's size and holds the marker byte, or is
// empty. Returns a run whose drive A: is that file.
WriterRun SetUpDrive(const TempDirectory& directory, const std::vector<std::uint8_t>& imageFile,
                     std::size_t driveSize) {
    WriteBytes(directory / "disk.img", imageFile);
    WriteBytes(directory / "drive.img", std::vector<std::uint8_t>(driveSize, kMarkerByte));
    WriterRun run;
    run.environment = {"DISKETTE_A=" + directory / "drive.img"};
    return run;
}

bool Shows(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

const std::string kPrompt = "Insert diskette into 'A:' - ENTER=Continue  ESC=Cancel\r";
const std::string kWaiting = "WAITING for diskette in 'A:'...  ESC=Cancel\r";
const std::string kSuccess = "Diskette successfully created\n";

TEST(WriterWriting, EachOptionWritesWhatItShould) {
    const FatImage diskette = ThreeSidesDiskette();
    const std::vector<std::size_t> allSides = AllSides(diskette);
    struct Row {
        const char* name;
        std::vector<std::string> arguments;   // after the image file name
        const char* driveLetter;             // the drive the row writes to
        bool emptyDriveFile;                 // else the drive file holds the marker byte
        std::string key;
        std::vector<std::size_t> written;    // track sides that hold the image afterwards
        std::uint8_t fill;                   // what every other track side holds
        std::vector<std::string> shown;      // texts the output must hold
        std::vector<std::string> notShown;
    };
    const Row rows[] = {
        {"ENTER writes only the used track sides", {}, "A", false, "\r", kUsedSides,
         kMarkerByte, {kPrompt, "Unused track", kSuccess}, {"Verify", "Format", kWaiting}},
        {"/A writes every track side", {"/A"}, "A", false, "\r", allSides, kMarkerByte,
         {kSuccess}, {"Unused track"}},
        {"/V verifies what it writes", {"/V"}, "A", false, "\r", kUsedSides, kMarkerByte,
         {"Verify", kSuccess}, {}},
        {"/F formats every track side of an empty drive file", {"/F"}, "A", true, "\r",
         kUsedSides, kFormatFill, {"Format", kSuccess}, {"Unused track"}},
        {"lower-case options and drive name", {"/a", "/v", "b:"}, "B", false, "\r", allSides,
         kMarkerByte, {"Insert diskette into 'B:'", "Verify", kSuccess}, {"Unused track"}},
        {"/S takes the diskette in the drive at once", {"/S"}, "A", false, "", kUsedSides,
         kMarkerByte, {kWaiting, kSuccess}, {"Insert diskette"}},
        {"/S /F takes an empty drive file as a blank diskette", {"/S", "/F"}, "A", true, "",
         kUsedSides, kFormatFill, {kWaiting, kSuccess}, {"Insert diskette"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriterRun run = SetUpDrive(directory, WrapNative(diskette),
                                   row.emptyDriveFile ? 0 : diskette.bytes.size());
        const std::string drivePath = directory / "drive.img";
        // The other drive is no diskette drive: writing to it would fail.
        const std::string otherLetter = std::string(row.driveLetter) == "A" ? "B" : "A";
        run.environment = {std::string("DISKETTE_") + row.driveLetter + "=" + drivePath,
                           "DISKETTE_" + otherLetter + "=" + directory.Path()};
        run.key = row.key;
        // Lower-case, in a directory of lower-case names: the name is used as typed.
        std::vector<std::string> arguments = {directory / "disk.img"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        ChildResult result = RunWriter(arguments, run);
        const std::string output = WithoutColours(result.output);
        EXPECT_EQ(result.exitCode, 0) << output;
        for (const std::string& text : row.shown) EXPECT_TRUE(Shows(output, text)) << text;
        for (const std::string& text : row.notShown) EXPECT_FALSE(Shows(output, text)) << text;
        ExpectDriveHolds(ReadBytes(drivePath), diskette, row.written, row.fill);
    }
}

// ESC at the prompt is no error; ESC while the image is read is. The second
// row types ENTER and ESC together: the prompt takes ENTER, and the ESC waits
// for the key poll after the first track read from the image file.
TEST(WriterWriting, EscCancelsAndLeavesTheDriveAlone) {
    const FatImage diskette = ThreeSidesDiskette();
    struct Row {
        const char* name;
        std::string keys;
        bool showsProgress;
        int exitCode;
    };
    const Row rows[] = {
        {"ESC at the prompt", "\x1b", false, 0},
        {"ESC while the image is read", "\r\x1b", true, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriterRun run = SetUpDrive(directory, WrapNative(diskette), diskette.bytes.size());
        const std::vector<std::uint8_t> before = ReadBytes(directory / "drive.img");
        run.key = row.keys;
        ChildResult result = RunWriter({directory / "disk.img"}, run);
        const std::string output = WithoutColours(result.output);
        const std::string start = kWriterBanner + kPrompt;
        const std::string end = MessageText("Process canceled.");
        EXPECT_EQ(output.substr(0, start.size()), start);
        ASSERT_GE(output.size(), start.size() + end.size());
        EXPECT_EQ(output.substr(output.size() - end.size()), end);
        EXPECT_EQ(output.size() > start.size() + end.size(), row.showsProgress) << output;
        EXPECT_FALSE(Shows(output, "Write"));
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_EQ(ReadBytes(directory / "drive.img"), before);
    }
}

// With /S and no diskette in the drive (the drive file missing) the writer
// waits; the diskette arrives a second later, whole, and is written then.
TEST(WriterWriting, WaitsWithSForADisketteToArrive) {
    TempDirectory directory;
    const FatImage diskette = ThreeSidesDiskette();
    WriterRun run = SetUpDrive(directory, WrapNative(diskette), 0);
    const std::string drivePath = directory / "drive.img";
    std::remove(drivePath.c_str());
    std::thread insert([&]() {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        WriteBytes(directory / "drive.tmp",
                   std::vector<std::uint8_t>(diskette.bytes.size(), kMarkerByte));
        EXPECT_EQ(std::rename((directory / "drive.tmp").c_str(), drivePath.c_str()), 0);
    });
    ChildResult result = RunWriter({directory / "disk.img", "/s"}, run);
    insert.join();
    const std::string output = WithoutColours(result.output);
    EXPECT_EQ(result.exitCode, 0) << output;
    EXPECT_EQ(output.substr(0, kWriterBanner.size() + kWaiting.size()), kWriterBanner + kWaiting);
    EXPECT_TRUE(Shows(output, kSuccess));
    ExpectDriveHolds(ReadBytes(drivePath), diskette, kUsedSides, kMarkerByte);
}

// Standard output that is no terminal stays empty, and the exit code is the
// one a terminal would have seen. With a terminal on standard error (and
// input) everything is shown there, the line end that Ctrl+C leaves after the
// prompt included (the process then ends by SIGINT: exit code -1); without
// any terminal the messages and prompts go to standard error as plain lines,
// and the key comes from a pipe.
TEST(WriterWriting, StandardOutputThatIsNoTerminalStaysEmpty) {
    const FatImage diskette = ThreeSidesDiskette();
    const std::string plainPrompt = "Insert diskette into 'A:' - ENTER=Continue  ESC=Cancel\n";
    struct Row {
        const char* name;
        bool terminalOnErrors;   // else standard output and error into pipe and file
        bool withImage;
        std::string key;
        int exitCode;
        bool driveWritten;
        std::string errors;      // standard error, without colours
    };
    const Row rows[] = {
        {"no terminal: a diskette written", false, true, "\r", 0, true, plainPrompt},
        {"no terminal: the input ends at the prompt, no key will ever come", false, true, "", 3,
         false, plainPrompt + "Process canceled.\n"},
        {"no terminal: no image file name", false, false, "\r", 3, false,
         "Name of image file is missing.\n"},
        {"a terminal on standard error: ESC at the prompt", true, true, "\x1b", 0, false,
         kWriterBanner + kPrompt + MessageText("Process canceled.")},
        {"a terminal on standard error: Ctrl+C at the prompt", true, true, "\x03", -1, false,
         kWriterBanner + kPrompt + "\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriterRun run = SetUpDrive(directory, WrapNative(diskette), diskette.bytes.size());
        run.key = row.key;
        run.terminal = row.terminalOnErrors;
        (row.terminalOnErrors ? run.outputPath : run.errorPath) = directory / "redirected";
        std::vector<std::string> arguments;
        if (row.withImage) arguments.push_back(directory / "disk.img");
        ChildResult result = RunWriter(arguments, run);
        const std::string redirected = ReadText(directory / "redirected");
        EXPECT_EQ(row.terminalOnErrors ? redirected : result.output, "");
        EXPECT_EQ(row.terminalOnErrors ? WithoutColours(result.output) : redirected, row.errors);
        EXPECT_EQ(result.exitCode, row.exitCode);
        ExpectDriveHolds(ReadBytes(directory / "drive.img"), diskette,
                         row.driveWritten ? kUsedSides : std::vector<std::size_t>(), kMarkerByte);
    }
}

// Runs that end with exit code 3 and their reason as the last message. A
// drive file of the marker byte is made ready by a shell line in the
// directory beside disk.img; the refusals leave the file the drive names as
// it was. Some rows run the writer under another program: strace fails
// every sync with EIO; unshare gives it a tmpfs of 64 KiB (16 pages of 4096
// bytes) under a sparse 1.44 MB drive file. With 18-sector track sides of
// 9216 bytes: the sync fails after track side 10 (track 5, side 0), the
// last one used; with /V the one before the first read-back, of track side
// 0; with /A track side 7 (track 3, side 1) at 64512 is the first that does
// not fit, its write ends short and the rest meets the full file system.
TEST(WriterWriting, FailedRunsEndWithTheirReason) {
    const FatImage diskette = ThreeSidesDiskette();
    auto reason = [](int error) { return "\n(" + std::string(std::strerror(error)) + ")"; };
    // The leak checker of a sanitized build cannot work under ptrace.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const std::vector<std::string> strace = {
        "/usr/bin/strace", "-f", "-o", "/dev/null", "-e", "inject=fsync:error=EIO", "-e",
        "inject=fdatasync:error=EIO", "-E",
        "ASAN_OPTIONS=" + std::string(sanitizer != nullptr ? sanitizer : "") + ":detect_leaks=0"};
    const std::vector<std::string> unshare = {
        "/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
        "mount -t tmpfs -o size=64k tmpfs \"${DISKETTE_A%/*}\" && "
        "truncate -s 1474560 \"$DISKETTE_A\" && exec \"$@\"", "sh"};
    const std::string itself = "'A:' is the image file itself; it cannot be written onto.";
    struct Row {
        const char* name;
        std::vector<std::string> options;
        std::string setUp;                   // a shell line in the directory
        std::vector<std::string> wrapper;    // the program the writer runs under
        std::string drive;                   // DISKETTE_A, in the directory
        std::string message;
        bool unchanged;
    };
    const Row rows[] = {
        {"a drive file without write permission, also for root", {}, "chmod a-w drive.img", {},
         "drive.img", "'A:' could not be accessed." + reason(EROFS), true},
        {"/S without /F: an empty drive file has no known format", {"/S"}, ": >drive.img", {},
         "drive.img",
         "Device parameters of the disk in 'A:' could not be determined." + reason(EMEDIUMTYPE),
         true},
        {"the drive a hard link of the image", {"/F"}, "ln -f disk.img drive.img", {}, "drive.img",
         itself, true},
        {"the drive a symbolic link to the image", {"/F"}, "ln -sf disk.img drive.img", {},
         "drive.img", itself, true},
        {"the sync after the last track side fails", {"/S"}, "", strace, "drive.img",
         "Write error on track no. 6, side 0." + reason(EIO), false},
        {"the sync before a read-back fails", {"/S", "/V"}, "", strace, "drive.img",
         "Check error on track no. 1, side 0." + reason(EIO), false},
        {"the file system under the drive file fills up", {"/A"}, "mkdir mnt", unshare,
         "mnt/drive.img", "Write error on track no. 4, side 1." + reason(ENOSPC), false},
    };
    std::string skipped;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriterRun run = SetUpDrive(directory, WrapNative(diskette), diskette.bytes.size());
        ChildOptions inDirectory;
        inDirectory.workingDirectory = directory.Path();
        ASSERT_EQ(RunProgram({"/bin/sh", "-c", row.setUp}, inDirectory).exitCode, 0);
        const std::string drive = directory / row.drive;
        const std::vector<std::uint8_t> before = ReadBytes(drive);
        std::vector<std::string> command = row.wrapper;
        command.insert(command.end(), {DSKWRITE_PATH, directory / "disk.img"});
        command.insert(command.end(), row.options.begin(), row.options.end());
        const ChildResult result = RunDisketteProgram(
            command, {"DISKETTE_A=" + drive}, true, {TerminalStep{"ESC=Cancel\r", "\r", nullptr}});
        const std::string output = WithoutColours(result.output);
        if (!row.wrapper.empty() && !Shows(output, kWriterBanner)) {
            skipped += std::string(row.name) + " (" + command[0] + ": " + output + ") ";
            continue;
        }
        const std::string end = MessageText(row.message);
        EXPECT_EQ(result.exitCode, 3);
        ASSERT_GE(output.size(), end.size()) << output;
        EXPECT_EQ(output.substr(output.size() - end.size()), end) << output;
        if (row.unchanged) {
            EXPECT_TRUE(ReadBytes(drive) == before) << "the drive's file changed";
        }
    }
    if (!skipped.empty()) GTEST_SKIP() << "not run here: " << skipped;
}

// A one-sided 180 KB diskette as mformat makes it (40 tracks, 1 side, 9
// sectors) with one file that mcopy put on it. The drive file holds it as a
// plain image, 40 x 1 x 9 x 512 = 184320 bytes, out of which mcopy reads the
// file again: after /F has sized a blank drive file, and written (and
// verified, /V) into a drive file that has the one-sided size already.
TEST(WriterWriting, AOneSidedImageBecomesAPlainOneSidedDriveFile) {
    for (const std::size_t driveSize : {std::size_t{0}, std::size_t{184320}}) {
        SCOPED_TRACE(driveSize == 0 ? "/F into a blank drive file" : "into a 180 KB drive file");
        TempDirectory directory;
        ChildOptions mtools;
        mtools.workingDirectory = directory.Path();
        mtools.environment = {"MTOOLS_SKIP_CHECK=1"};
        ASSERT_EQ(RunProgram({"/bin/sh", "-c",
                              "mformat -C -t 40 -h 1 -s 9 -i ss.img :: && printf 'one side\\r\\n' "
                              ">hello.txt && mcopy -i ss.img hello.txt ::HELLO.TXT"},
                             mtools).exitCode, 0);
        WriterRun run = SetUpDrive(directory, ReadBytes(directory / "ss.img"), driveSize);
        run.key = "\r";
        const ChildResult result =
            RunWriter({directory / "disk.img", driveSize == 0 ? "/F" : "/V"}, run);
        EXPECT_EQ(result.exitCode, 0) << WithoutColours(result.output);
        EXPECT_EQ(ReadBytes(directory / "drive.img").size(), 184320u);
        EXPECT_EQ(RunProgram({"/bin/sh", "-c", "mcopy -i drive.img ::HELLO.TXT -"}, mtools).output,
                  "one side\r\n");
    }
}

// A 720 KB diskette whose only file is one cluster of two sectors that
// crosses a track side boundary: data starts at sector 1 + 2 x 3 + 7 = 14,
// cluster 8 = sectors 14 + 6 x 2 = 26 and 27, that is track side 2 (sectors
// 18 to 26) and track side 3 (27 to 35). The system area is track sides 0
// and 1 ((1 + 13) / 9 = 1). Both halves of the cluster reach the diskette.
TEST(WriterWriting, WritesBothTrackSidesOfAClusterThatCrossesTheirBoundary) {
    FatImage diskette = FormatImage(StandardLayout(DisketteSize::k720), "CROSSING", kDataFill);
    LinkChain(&diskette, {8});
    WriteChainData(&diskette, {8}, PatternBytes(1024, 2));
    DirectoryEntry halves = FileEntry("HALVES", "BIN");
    halves.firstCluster = 8;
    halves.size = 1024;
    AppendEntry(&diskette, kRootDirectory, halves);
    TempDirectory directory;
    WriterRun run = SetUpDrive(directory, WrapNative(diskette), diskette.bytes.size());
    run.key = "\r";
    ChildResult result = RunWriter({directory / "disk.img"}, run);
    EXPECT_EQ(result.exitCode, 0) << WithoutColours(result.output);
    ExpectDriveHolds(ReadBytes(directory / "drive.img"), diskette, {0, 1, 2, 3}, kMarkerByte);
}

// The whole output of a small run, as the terminal receives it (C locale:
// code page 437 bytes unchanged; CR LF arrives as LF, a lone CR stays).
// The diskette: 2 tracks x 2 sides x 9 sectors, media 0xFD; boot sector,
// FATs (1 sector each) and a root directory of 16 entries (1 sector) are
// sectors 0 to 3, A.TXT is cluster 2 = sector 4: only track side 0 is used.
// Written with /F to an empty drive file.
TEST(WriterWriting, ShowsBannerPromptInfoLineAndProgressByteForByte) {
    const DisketteLayout tiny = {512, 1, 1, 2, 16, 36, 0xFD, 1, 9, 2};
    FatImage diskette = FormatImage(tiny, "TINY");
    AddFile(&diskette, kRootDirectory, FileEntry("A", "TXT"), TextBytes("hello\r\n"));
    TempDirectory directory;
    WriterRun run = SetUpDrive(directory, WrapPlain(diskette), 0);
    run.key = "\r";
    ChildResult result = RunWriter({directory / "disk.img", "/F"}, run);

    // Bar cells: "[", 23 cells of 0xFE, "]". Track side i fills cell
    // (i + 1) x 100 / 4 / 4: side 0 cell 6, side 1 cell 12, side 2 cell 18,
    // side 3 (100 %) none. Reading fills with 0xB0, writing with 0xDB.
    auto bar = [](char cell6, char cell12, char cell18) {
        return "[" + std::string(5, '\xFE') + cell6 + std::string(5, '\xFE') + cell12 +
               std::string(5, '\xFE') + cell18 + std::string(5, '\xFE') + "]";
    };
    auto line = [](const std::string& bar, const std::string& word) {
        return "\x1b[0;97m" + bar + "    " + word + std::string(34 - word.size(), ' ') + "\r" +
               "\x1b[0m";
    };
    const char f = '\xFE', r = '\xB0', w = '\xDB';
    const std::string expected =
        "\x1b[0;96mVELMORATRAX's diskette writer for Windows NT\nVersion 1.0\n"
        "\x1b[0;93mEnter 'dskwrite /?' to show help \n\x1b[0m"
        "\x1b[0;93mInsert diskette into 'A:' - ENTER=Continue  ESC=Cancel\r\x1b[0m"
        // after track side 1, the last side of track 0
        "Diskette 'TINY       ', Type: 5,25\" DD (2 sides, 2 tracks / 9 sec.,18 K)\n"
        "\x1b[0;97m0%          50%        100%  Action\n\x1b[0m" +
        line(bar(r, r, f), "Read") +    // track side 1
        line(bar(r, r, r), "Read") +    // track side 2
        line(bar(r, r, r), "Read") +    // track side 3
        line(bar(w, r, r), "Format") +  // track side 0
        line(bar(w, r, r), "Write") +
        line(bar(w, w, r), "Format") +  // track side 1, unused: formatted only
        line(bar(w, w, w), "Format") +  // track side 2
        line(bar(w, w, w), "Format") +  // track side 3
        // "Diskette successfully created\r\n" padded to 34 columns: 3 blanks
        "\x1b[0;97m" + bar(w, w, w) + "    Diskette successfully created\n   \r\x1b[0m";
    EXPECT_EQ(result.output, expected);
    EXPECT_EQ(result.exitCode, 0);
    ExpectDriveHolds(ReadBytes(directory / "drive.img"), diskette, {0}, kFormatFill);
}

}  // namespace
