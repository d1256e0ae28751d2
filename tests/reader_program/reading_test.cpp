// Tests of dskread through file-backed drives on a pseudo-terminal: what
// the image files hold with each option, the requests each read makes,
// comparisons, existing files, a series and the command line's own checks.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/support/drive_files.h"
#include "tests/support/image_builder.h"

namespace {

const std::string kPrompt = "ESC=Cancel\r";

// Runs dskread with the arguments after its name, drive A: the file
// directory/drive.img, typing ENTER at its prompt.
ChildResult RunReader(const TempDirectory& directory, const std::vector<std::string>& arguments,
                      std::vector<TerminalStep> steps = {{kPrompt, "\r", nullptr}},
                      const std::vector<std::string>& wrapper = {}) {
    std::vector<std::string> command = wrapper;
    command.push_back(DSKREAD_PATH);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunDisketteProgram(command, {"DISKETTE_A=" + directory / "drive.img"}, true, steps);
}

bool Ends(const std::string& output, const std::string& text) {
    return output.size() >= text.size() && output.substr(output.size() - text.size()) == text;
}

// What imgextract lists of an image, after its info line, and the bytes of
// the files it extracts into a directory of its own.
std::string ListingOf(const std::string& image) {
    return AfterInfoLine(RunExtractor({"-v", image}).output);
}
std::vector<std::uint8_t> ExtractedFarBin(const TempDirectory& directory,
                                          const std::string& image) {
    const std::string into = directory / ("x-" + image.substr(image.rfind('/') + 1));
    EXPECT_EQ(mkdir(into.c_str(), 0700), 0);
    EXPECT_EQ(RunExtractor({image, "-d", into}).exitCode, 0);
    return ReadBytes(into + "/FAR.BIN");
}

TEST(ReaderReading, StoresTheDisketteAsTheOptionsAsk) {
    const FatImage diskette = ThreeSidesDiskette();
    enum class Stored { kPlain, kNative, kNothing };
    struct Row {
        const char* name;
        std::vector<std::string> options;
        std::string existing;               // files there before: "image", "both" (and its map)
        int exitCode;
        Stored stored;
        std::size_t fileSize;               // of disk.img
        std::string end;                    // the output's end
    };
    const std::string made = "Image successfully created\n      \r\x1b[0m";
    const Row rows[] = {
        {"a plain image equals the drive file", {}, "", 0, Stored::kPlain, 1474560, made},
        // 47 + 160 x 9216
        {"/N: native, every track side", {"/N"}, "", 0, Stored::kNative, 1474607, made},
        // 47 + 3 x 9216: track sides 0, 1 and 10
        {"/N /U: sparse", {"/n", "/u"}, "", 0, Stored::kNative, 27695, made},
        {"an existing image is not replaced", {}, "image", 3, Stored::kNothing, 3,
         MessageText("'%D/disk.img' exists already; /O replaces it.")},
        {"nor an existing map beside it", {}, "map", 3, Stored::kNothing, 0,
         MessageText("'%D/disk.img.bad' exists already; /O replaces it.")},
        {"/O replaces both, and a map no longer needed goes", {"/O"}, "both", 0, Stored::kPlain,
         1474560, made},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriteBytes(directory / "drive.img", diskette.bytes);
        const std::string image = directory / "disk.img";
        if (row.existing == "image" || row.existing == "both") WriteText(image, "old");
        if (row.existing == "map" || row.existing == "both") WriteText(image + ".bad", "old");
        std::vector<std::string> arguments = {image};
        arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        const ChildResult result = RunReader(directory, arguments);
        std::string end = row.end;
        if (end.find("%D") != std::string::npos) end.replace(end.find("%D"), 2, directory.Path());
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_TRUE(Ends(WithoutColours(result.output), WithoutColours(end))) << result.output;
        if (row.stored == Stored::kNothing) {
            EXPECT_EQ(TreeBelow(directory.Path()).size(), 2u);
            continue;
        }
        EXPECT_EQ(TreeBelow(directory.Path()), (std::set<std::string>{"disk.img", "drive.img"}));
        EXPECT_EQ(StatusOf(image).st_size, static_cast<off_t>(row.fileSize));
        const mode_t mask = umask(0);
        umask(mask);
        EXPECT_EQ(StatusOf(image).st_mode & 0777, 0666u & ~mask);
        if (row.stored == Stored::kPlain) {
            EXPECT_TRUE(ReadBytes(image) == diskette.bytes);
            continue;
        }
        // The CRC checks: imgextract would warn of a mismatch before its listing.
        const std::string listing = ListingOf(image);
        EXPECT_EQ(listing, ListingOf(directory / "drive.img"));
        EXPECT_EQ(listing.find("CRC"), std::string::npos);
        EXPECT_EQ(ExtractedFarBin(directory, image), PatternBytes(1024, 1));
    }
}

// Reads that fail on the drive file (strace fails the 3rd to 10th read of
// it, one per request: track side 2 = track 1, side 0, four times, then its
// first sector four times) leave that sector zero-filled and mapped, at 2 x
// 9216 = 18432, and end with exit code 2.
TEST(ReaderReading, MapsASectorThatStaysUnreadableAndEndsWithCodeTwo) {
    const FatImage diskette = ThreeSidesDiskette();
    TempDirectory directory;
    WriteBytes(directory / "drive.img", diskette.bytes);
    const ChildResult result = RunReader(
        directory, {directory / "disk.img"}, {{kPrompt, "\r", nullptr}},
        {"/usr/bin/strace", "-qq", "-o", "/dev/null", "-P", directory / "drive.img", "-e",
         "trace=pread64", "-e", "inject=pread64:error=EIO:when=3..10", "-E",
         "ASAN_OPTIONS=detect_leaks=0"});
    EXPECT_EQ(result.exitCode, 2) << result.output;
    EXPECT_TRUE(Ends(WithoutColours(result.output),
                     MessageText("1 sector(s) could not be read; they are listed in '" +
                                 directory / "disk.img.bad" + "'.")));
    EXPECT_EQ(ReadText(directory / "disk.img.bad"),
              "track 1, side 0, sector 1, offset 18432: Input/output error\n");
    std::vector<std::uint8_t> expected = diskette.bytes;
    std::fill_n(expected.begin() + 18432, 512, 0);
    EXPECT_TRUE(ReadBytes(directory / "disk.img") == expected);
}

// The diskette compared with images of it: identical as a plain image, and
// with /U as a sparse one (its unused track sides hold 0xF6, the diskette's
// 0xE5); an image with two sectors changed (sectors 40 and 200: track side
// 2 = track 1, side 0, sector 5; track side 11 = track 5, side 1, sector
// 3) differs there, and nothing is written.
TEST(ReaderReading, ComparesTheDisketteWithAnImage) {
    const FatImage diskette = ThreeSidesDiskette();
    FatImage changed = diskette;
    changed.bytes[40 * 512 + 7] ^= 1;
    changed.bytes[200 * 512] ^= 1;
    struct Row {
        const char* name;
        std::vector<std::uint8_t> image;
        std::vector<std::string> options;
        int exitCode;
        std::string message;
    };
    const Row rows[] = {
        {"identical", WrapPlain(diskette), {}, 0,
         "The diskette in 'A:' and '%I' are identical."},
        {"a sparse image compared over its used track sides",
         WrapNative(diskette, NativeWith(true, true)), {"/U"}, 0,
         "The diskette in 'A:' and '%I' are identical."},
        {"two sectors differ", WrapPlain(changed), {}, 2,
         "2 sector(s) of the diskette in 'A:' differ from '%I':\n"
         "track 1, side 0, sector 5\ntrack 5, side 1, sector 3"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriteBytes(directory / "drive.img", diskette.bytes);
        const std::string image = directory / "disk.img";
        WriteBytes(image, row.image);
        std::vector<std::string> arguments = {image, "/C"};
        arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        const ChildResult result = RunReader(directory, arguments);
        std::string message = row.message;
        message.replace(message.find("%I"), 2, image);
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_TRUE(Ends(WithoutColours(result.output), MessageText(message))) << result.output;
        EXPECT_TRUE(ReadBytes(image) == row.image);
        EXPECT_EQ(TreeBelow(directory.Path()).size(), 2u);
    }
}

// box-###.img: box-002.img is taken, so the diskettes go into 001, 003 and
// 004, each prompted for by its number, with the drive file replaced before
// ENTER; ESC at the prompt for diskette #5 ends the series.
TEST(ReaderReading, ReadsASeriesIntoTheFreeNumbers) {
    TempDirectory directory;
    WriteText(directory / "box-002.img", "taken");
    const FatImage diskettes[] = {ThreeSidesDiskette("ONE"), ThreeSidesDiskette("TWO"),
                                  ThreeSidesDiskette("THREE")};
    std::vector<TerminalStep> steps;
    for (const char* number : {"1", "3", "4"}) {
        const FatImage* diskette = &diskettes[steps.size() / 2];
        steps.push_back({std::string("Insert diskette #") + number + " into 'A:'", "",
                         [&directory, diskette] {
                             WriteBytes(directory / "new.img", diskette->bytes);
                             std::rename((directory / "new.img").c_str(),
                                         (directory / "drive.img").c_str());
                         }});
        steps.push_back({kPrompt, "\r", nullptr});
    }
    steps.push_back({"Insert diskette #5 into 'A:'", "\x1b", nullptr});
    const ChildResult result = RunReader(directory, {directory / "box-###.img"}, steps);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(ReadBytes(directory / "box-001.img") == diskettes[0].bytes);
    EXPECT_EQ(ReadText(directory / "box-002.img"), "taken");
    EXPECT_TRUE(ReadBytes(directory / "box-003.img") == diskettes[1].bytes);
    EXPECT_TRUE(ReadBytes(directory / "box-004.img") == diskettes[2].bytes);
    EXPECT_EQ(TreeBelow(directory.Path()).size(), 5u);
}

// Refused before the prompt, with the drive left alone.
TEST(ReaderCommandLine, RefusesWhatItCannotTakeBeforeTheDrive) {
    struct Row {
        std::vector<std::string> arguments;
        std::string message;
    };
    const Row rows[] = {
        {{"disk.img", "/R:-1"}, "The number of retries in '/R:-1' is below 0."},
        {{"disk.img", "-r:x", "/x"}, "Unknown parameter '/X'."},
        {{"b##########.img"}, "The run of '#' in 'b##########.img' is longer than 9 characters."},
        {{"/no-such-directory/disk.img"},
         "'/no-such-directory/disk.img' could not be created.\n(No such file or directory)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        TempDirectory directory;
        const ChildResult result = RunReader(directory, row.arguments, {});
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_TRUE(Ends(WithoutColours(result.output), MessageText(row.message)))
            << result.output;
    }
}

}  // namespace
