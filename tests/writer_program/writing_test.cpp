// Tests of dskwrite writing images through file-backed drives: what reaches
// the drive file with each option, the prompt, the wait for a diskette, and
// what the terminal shows.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/writer_program/writer_helper.h"

namespace {

constexpr std::uint8_t kFormatFill = 0xF6;   // what a freshly formatted track side holds
constexpr std::uint8_t kDataFill = 0xE5;     // the image's unused sectors, unlike both

// A 1.44 MB diskette with data in three track sides (18 sectors each):
// boot sector, FATs and root directory are sectors 0 to 32 (1 + 2 x 9 + 14),
// track sides 0 and 1; README.TXT in cluster 2 = sector 33, track side 1;
// FAR.BIN in clusters 149 and 150 = sectors 33 + 147 = 180 and 181, track
// side 10. Every other track side is unused.
FatImage ThreeSidesDiskette() {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440), "WRITER TEST", kDataFill);
    AddFile(&image, kRootDirectory, FileEntry("README", "TXT"), TextBytes("hello\r\n"));
    LinkChain(&image, {149, 150});
    WriteChainData(&image, {149, 150}, PatternBytes(1024, 1));
    DirectoryEntry far = FileEntry("FAR", "BIN");
    far.firstCluster = 149;
    far.size = 1024;
    AppendEntry(&image, kRootDirectory, far);
    return image;
}
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

// Output into a pipe is no terminal: nothing at all is shown, and the exit
// code is the one a terminal would have seen. The key comes from the pipe.
TEST(WriterWriting, OutputThatIsNoTerminalShowsNothing) {
    const FatImage diskette = ThreeSidesDiskette();
    struct Row {
        const char* name;
        bool withImage;
        std::string key;
        int exitCode;
        bool driveWritten;
    };
    const Row rows[] = {
        {"a diskette written", true, "\r", 0, true},
        {"cancelled at the prompt by the end of input", true, "", 0, false},
        {"no image file name", false, "\r", 3, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriterRun run = SetUpDrive(directory, WrapNative(diskette), diskette.bytes.size());
        run.key = row.key;
        run.terminal = false;
        std::vector<std::string> arguments;
        if (row.withImage) arguments.push_back(directory / "disk.img");
        ChildResult result = RunWriter(arguments, run);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.exitCode, row.exitCode);
        ExpectDriveHolds(ReadBytes(directory / "drive.img"), diskette,
                         row.driveWritten ? kUsedSides : std::vector<std::size_t>(), kMarkerByte);
    }
}

// Runs that end with exit code 3 and a message before anything reaches the
// drive: the file the drive names is as it was before. Each row's setUp
// prepares the directory beside disk.img and returns the drive's path.
TEST(WriterWriting, RefusalsLeaveTheDriveFileAsItWas) {
    const FatImage diskette = ThreeSidesDiskette();
    auto systemText = [](int errorNumber) { return "\n(" + std::string(std::strerror(errorNumber)) + ")"; };
    struct Row {
        const char* name;
        std::vector<std::string> options;
        std::function<std::string(const TempDirectory&)> setUp;
        std::string message;
    };
    auto markedDrive = [&](const TempDirectory& directory) {
        WriteBytes(directory / "drive.img",
                   std::vector<std::uint8_t>(diskette.bytes.size(), kMarkerByte));
        return directory / "drive.img";
    };
    const Row rows[] = {
        {"a drive file without write permission is write-protected, also for root", {},
         [&](const TempDirectory& directory) {
             const std::string drive = markedDrive(directory);
             EXPECT_EQ(chmod(drive.c_str(), 0444), 0);
             return drive;
         },
         "'A:' could not be accessed." + systemText(EROFS)},
        {"/S without /F: an empty drive file is a diskette of no known format", {"/S"},
         [](const TempDirectory& directory) {
             WriteBytes(directory / "drive.img", {});
             return directory / "drive.img";
         },
         "Device parameters of the disk in 'A:' could not be determined." +
             systemText(EMEDIUMTYPE)},
        {"the drive is a hard link of the image file", {"/F"},
         [](const TempDirectory& directory) {
             EXPECT_EQ(link((directory / "disk.img").c_str(), (directory / "drive.img").c_str()), 0);
             return directory / "drive.img";
         },
         "'A:' is the image file itself; it cannot be written onto."},
        {"the drive is a symbolic link to the image file", {"/F"},
         [](const TempDirectory& directory) {
             EXPECT_EQ(symlink("disk.img", (directory / "drive.img").c_str()), 0);
             return directory / "drive.img";
         },
         "'A:' is the image file itself; it cannot be written onto."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriteBytes(directory / "disk.img", WrapNative(diskette));
        const std::string drive = row.setUp(directory);
        const std::vector<std::uint8_t> before = ReadBytes(drive);
        WriterRun run;
        run.environment = {"DISKETTE_A=" + drive};
        run.key = "\r";
        std::vector<std::string> arguments = {directory / "disk.img"};
        arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        ChildResult result = RunWriter(arguments, run);
        const std::string output = WithoutColours(result.output);
        const std::string end = MessageText(row.message);
        EXPECT_EQ(result.exitCode, 3);
        ASSERT_GE(output.size(), end.size()) << output;
        EXPECT_EQ(output.substr(output.size() - end.size()), end) << output;
        EXPECT_TRUE(ReadBytes(drive) == before) << "the drive's file has changed";
    }
}

// A drive file on a file system that fills up while it is written: tmpfs of
// 64 KiB (16 pages of 4096 bytes), in a mount namespace of the run's own, and
// in it a sparse 1.44 MB drive file whose pages are taken as they are written.
// With /A track side k of 9216 bytes lies at 9216 x k; track side 7 (track
// 3, side 1) at 64512 ends past 65536, so its write ends short and the rest
// meets the system's own reason.
TEST(WriterWriting, AFullFileSystemUnderTheDriveFileGivesItsOwnReason) {
    TempDirectory directory;
    WriteBytes(directory / "disk.img", WrapNative(ThreeSidesDiskette()));
    const std::string mountPoint = directory / "mnt";
    ASSERT_EQ(mkdir(mountPoint.c_str(), 0755), 0);
    const std::string script =
        "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 77\n"
        "truncate -s 1474560 \"$1/drive.img\" || exit 77\n"
        "DISKETTE_A=\"$1/drive.img\" exec \"$2\" \"$3\" /A\n";
    ChildResult result = RunDisketteProgram(
        {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", script, "sh",
         mountPoint, DSKWRITE_PATH, directory / "disk.img"},
        {}, true, {TerminalStep{"ESC=Cancel\r", "\r", nullptr}});
    const std::string output = WithoutColours(result.output);
    if (output.find(kWriterBanner) == std::string::npos) {
        GTEST_SKIP() << "no tmpfs of its own for the test here: " << output;
    }
    EXPECT_EQ(result.exitCode, 3);
    const std::string end = MessageText("Write error on track no. 4, side 1.\n(" +
                                        std::string(std::strerror(ENOSPC)) + ")");
    ASSERT_GE(output.size(), end.size()) << output;
    EXPECT_EQ(output.substr(output.size() - end.size()), end) << output;
}

// The sync after the last track side (fsync), and with /V the sync before
// each read-back (fdatasync), fail under strace's fault injection with EIO.
// The sync is the only proof that a drive file's data reached the medium: its
// failure is the write error of the last track side written, track side 10
// (track 5, side 0); with /V the first read-back, of track side 0, fails
// its check. Either way no success line, exit code 3.
TEST(WriterWriting, AFailedSyncIsAWriteOrCheckError) {
    ChildOptions probe;
    const ChildResult traced = RunProgram(
        {"/usr/bin/strace", "-f", "-o", "/dev/null", "-e", "inject=fsync:error=EIO", "/bin/true"},
        probe);
    if (traced.exitCode != 0) GTEST_SKIP() << "strace cannot inject faults here: " << traced.output;
    const FatImage diskette = ThreeSidesDiskette();
    struct Row {
        const char* name;
        std::vector<std::string> options;
        std::string message;
    };
    const Row rows[] = {
        {"the sync after the last track side", {"/S"}, "Write error on track no. 6, side 0."},
        {"the sync before a read-back", {"/S", "/V"}, "Check error on track no. 1, side 0."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriterRun run = SetUpDrive(directory, WrapNative(diskette), diskette.bytes.size());
        std::vector<std::string> command = {"/usr/bin/strace", "-f", "-o", "/dev/null", "-e",
                                            "inject=fsync:error=EIO", "-e",
                                            "inject=fdatasync:error=EIO", DSKWRITE_PATH,
                                            directory / "disk.img"};
        command.insert(command.end(), row.options.begin(), row.options.end());
        ChildResult result = RunDisketteProgram(command, run.environment, true, {});
        const std::string output = WithoutColours(result.output);
        const std::string end =
            MessageText(row.message + "\n(" + std::string(std::strerror(EIO)) + ")");
        EXPECT_EQ(result.exitCode, 3);
        ASSERT_GE(output.size(), end.size()) << output;
        EXPECT_EQ(output.substr(output.size() - end.size()), end) << output;
        EXPECT_FALSE(Shows(output, kSuccess));
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

// Runs an mtools program (in /usr/bin, from the Debian package); the test
// fails when it does. Returns what it wrote.
std::string RunMtools(const std::vector<std::string>& command) {
    ChildOptions options;
    options.environment = {"LC_ALL=C", "MTOOLS_SKIP_CHECK=1"};
    std::vector<std::string> arguments = command;
    arguments[0] = "/usr/bin/" + arguments[0];
    const ChildResult result = RunProgram(arguments, options);
    EXPECT_EQ(result.exitCode, 0) << command[0] << ": " << result.output;
    return result.output;
}

// A one-sided 180 KB diskette as mformat makes it (40 tracks, 1 side, 9
// sectors) with one file that mcopy put on it. The drive file holds it as a
// plain image, 40 x 1 x 9 x 512 = 184320 bytes, which mcopy reads the file
// back out of: after /F has sized a blank drive file, and written into a
// drive file that has the one-sided size already.
TEST(WriterWriting, AOneSidedImageBecomesAPlainOneSidedDriveFile) {
    const std::string content = "one side\r\n";
    struct Row {
        const char* name;
        std::vector<std::string> options;
        std::size_t driveSize;
    };
    const Row rows[] = {
        {"/F into a blank drive file", {"/F"}, 0},
        {"into a 180 KB drive file", {}, 184320},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        const std::string image = directory / "ss.img";
        const std::string drive = directory / "drive.img";
        RunMtools({"mformat", "-C", "-t", "40", "-h", "1", "-s", "9", "-i", image, "::"});
        WriteText(directory / "hello.txt", content);
        RunMtools({"mcopy", "-i", image, directory / "hello.txt", "::HELLO.TXT"});
        WriteBytes(drive, std::vector<std::uint8_t>(row.driveSize, kMarkerByte));
        WriterRun run;
        run.environment = {"DISKETTE_A=" + drive};
        run.key = "\r";
        std::vector<std::string> arguments = {image};
        arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        ChildResult result = RunWriter(arguments, run);
        EXPECT_EQ(result.exitCode, 0) << WithoutColours(result.output);
        EXPECT_EQ(ReadBytes(drive).size(), 184320u);
        EXPECT_EQ(RunMtools({"mcopy", "-i", drive, "::HELLO.TXT", "-"}), content);
    }
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
