// Tests of mkselfdisk run as a program: the file it makes byte for byte from
// images of every format, -c's native images with their CRC, the diskettes a
// compacted and an original payload write, each refusal (and that it leaves
// nothing behind), and the description's conversion.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/selfdisk/payload_helper.h"
#include "tests/support/drive_files.h"
#include "tests/support/process.h"

namespace {

constexpr std::uint8_t kDataFill = 0xE5;   // unused sectors: neither the filler 0xF6 nor the marker

ChildResult RunBuilder(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {MKSELFDISK_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ChildOptions options;
    options.environment = {"LC_ALL=C", "LANG=C"};
    return RunProgram(command, options);
}

// A diskette whose only file fills the one cluster given.
FatImage DisketteWithCluster(DisketteSize size, const std::string& label, std::uint16_t cluster) {
    FatImage image = FormatImage(StandardLayout(size), label, kDataFill);
    const std::size_t clusterBytes =
        static_cast<std::size_t>(image.layout.sectorsPerCluster) * image.layout.bytesPerSector;
    LinkChain(&image, {cluster});
    WriteChainData(&image, {cluster}, PatternBytes(clusterBytes, cluster));
    DirectoryEntry file = FileEntry("DATA", "BIN");
    file.firstCluster = cluster;
    file.size = static_cast<std::uint32_t>(clusterBytes);
    AppendEntry(&image, kRootDirectory, file);
    return image;
}

std::vector<std::uint8_t> Joined(std::vector<std::uint8_t> bytes,
                                 const std::vector<std::uint8_t>& more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

std::vector<std::uint8_t> FirstBytes(const std::vector<std::uint8_t>& bytes, std::size_t count) {
    return std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

// Images of every format, some with bytes after their end, go into the
// payload exactly as far as the image reader consumes them:
//   NATIVE: sparse 1.44 MB, track sides 0 and 1: 47 + 2 x 9216 = 18479 bytes
//   SAVED:  SAVEDSKF, 512 bytes of header + 100 stored sectors = 51712 of 54712
//   PLAIN:  plain 360 KB, 368640 of 368640 + 777
//   EIGHT:  eight-byte header, 1.44 MB: 8 + 1474560 = 1474568
//   SMALL:  sparse 160 KB (one side, 8 sectors a track; the system area
//           1 + 2 + 4 = 7 sectors lies in track side 0): 47 + 4096 = 4143 of
//           9143. The reader takes 8192 bytes at the start of every image, so
//           8192 - 4143 = 4049 zero bytes follow it.
TEST(SelfDiskBuilder, AppendsEachImageAsFarAsTheReaderReadsIt) {
    TempDirectory directory;
    const std::vector<std::uint8_t> native = WrapNative(LabelledDiskette("NATIVE"), NativeWith(true, true));
    const std::vector<std::uint8_t> saved =
        WrapSavedskf(DisketteWithCluster(DisketteSize::k720, "SAVED", 2), SavedskfWith(0x59AA, 512, 100));
    const std::vector<std::uint8_t> plain = WrapPlain(DisketteWithCluster(DisketteSize::k360, "PLAIN", 2));
    const std::vector<std::uint8_t> eight = WrapEightByteHeader(LabelledDiskette("EIGHT"));
    const std::vector<std::uint8_t> small =
        WrapNative(FormatImage(StandardLayout(DisketteSize::k160), "SMALL"), NativeWith(true, true));
    ASSERT_EQ(native.size(), 18479u);
    ASSERT_EQ(saved.size(), 51712u);
    ASSERT_EQ(plain.size(), 368640u);
    ASSERT_EQ(eight.size(), 1474568u);
    ASSERT_EQ(small.size(), 4143u);
    WriteBytes(directory / "native.img", native);
    WriteBytes(directory / "saved.img", Joined(saved, std::vector<std::uint8_t>(3000, 0x33)));
    WriteBytes(directory / "plain.img", Joined(plain, std::vector<std::uint8_t>(777, 0x44)));
    WriteBytes(directory / "eight.img", eight);
    WriteBytes(directory / "small.img", Joined(small, std::vector<std::uint8_t>(5000, 0x55)));

    ChildResult result = RunBuilder({"-o", directory / "made", "-t", "Five formats", directory / "native.img",
                                     directory / "saved.img", directory / "plain.img",
                                     directory / "eight.img", directory / "small.img"});
    EXPECT_EQ(result.exitCode, 0) << result.output;

    std::vector<std::uint8_t> expected = ReadBytes(SELFDISK_PATH);   // holds its own length at 12
    for (const std::vector<std::uint8_t>& part :
         {PayloadBytes(5, "Five formats", {native, saved, plain, eight, small}),
          std::vector<std::uint8_t>(4049, 0)}) {
        expected = Joined(expected, part);
    }
    EXPECT_EQ(ReadBytes(directory / "made"), expected);
    EXPECT_EQ(TreeBelow(directory.Path()),
              std::set<std::string>({"made", "native.img", "saved.img", "plain.img", "eight.img",
                                     "small.img"}));
    EXPECT_NE(result.output.find("'" + directory / "made" + "' made: 5 diskette(s)"),
              std::string::npos);

    // The program made lists all five.
    ChildResult listing = RunDisketteProgram({directory / "made", "/D"},
                                             {"DISKETTE_A=" + directory / "a.img"}, true, {});
    EXPECT_EQ(listing.exitCode, 0) << WithoutColours(listing.output);
    EXPECT_NE(WithoutColours(listing.output)
                  .find("Diskette  5: SMALL      , Type: 5,25\" DD (1 sides, 40 tracks / 8 sec.,160 K)"),
              std::string::npos);
}

// With -c each image is stored natively with a CRC over the diskette as the
// reader rebuilds it; sparse (only the track sides of the reader's used-track
// map) when every allocated cluster lies whole in them, else complete. The
// expected files come from the image builder's own native writer.
//   1.44 MB, clusters 149-150: sectors 33 + 147 = 180, 181: track side 10
//   720 KB (data from sector 14, 2 sectors a cluster, 9 a track side):
//     cluster 2 = sectors 14, 15: inside track side 1
//     cluster 8 = sectors 26, 27: track sides 2 (18-26) and 3 (27-35)
//   360 KB (data from sector 12): cluster 2 = sectors 12, 13: track side 1;
//     cluster 9 = sectors 26, 27: across track sides 2 and 3
TEST(SelfDiskBuilder, CompactsIntoSparseNativeImagesOnlyWhereNothingIsLost) {
    FatImage far = LabelledDiskette("FAR");
    LinkChain(&far, {149, 150});
    WriteChainData(&far, {149, 150}, PatternBytes(1024, 9));
    struct Row {
        const char* name;
        FatImage image;
        bool sparse;
    };
    const Row rows[] = {
        {"1.44 MB with a file far out", far, true},
        {"720 KB, the cluster inside one track side", DisketteWithCluster(DisketteSize::k720, "IN", 2), true},
        {"720 KB, the cluster across two track sides", DisketteWithCluster(DisketteSize::k720, "ACROSS", 8), false},
        {"360 KB, the cluster inside one track side", DisketteWithCluster(DisketteSize::k360, "IN", 2), true},
        {"360 KB, the cluster across two track sides", DisketteWithCluster(DisketteSize::k360, "ACROSS", 9), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        WriteBytes(directory / "disk.img", WrapPlain(row.image));
        ChildResult result = RunBuilder({"-c", directory / "disk.img", "-o", directory / "made"});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        const std::vector<std::uint8_t> native = WrapNative(row.image, NativeWith(row.sparse, true));
        ASSERT_GE(native.size(), 8192u);   // no padding follows
        EXPECT_EQ(ReadBytes(directory / "made"),
                  Joined(ReadBytes(SELFDISK_PATH), PayloadBytes(1, "", {native})));
        EXPECT_NE(result.output.find(row.sparse ? "native, used track sides only, CRC-32"
                                                : "native, complete, CRC-32"),
                  std::string::npos);
    }
}

// The same images with and without -c: every diskette written from one
// self-creating diskette equals the one written from the other (only used
// track sides are written, the rest of each drive file keeps its marker).
// Each diskette is written alone with /S /N:n onto a fresh drive file.
TEST(SelfDiskBuilder, CompactedAndOriginalPayloadsWriteTheSameDiskettes) {
    TempDirectory directory;
    FatImage far = LabelledDiskette("FAR");
    LinkChain(&far, {149, 150});
    WriteChainData(&far, {149, 150}, PatternBytes(1024, 9));
    const std::vector<FatImage> diskettes = {far,
                                             DisketteWithCluster(DisketteSize::k720, "ACROSS", 8),
                                             DisketteWithCluster(DisketteSize::k360, "IN", 2)};
    std::vector<std::string> images;
    for (std::size_t i = 0; i < diskettes.size(); ++i) {
        images.push_back(directory / ("disk" + std::to_string(i) + ".img"));
        WriteBytes(images.back(), WrapPlain(diskettes[i]));
    }
    std::vector<std::string> original = {"-o", directory / "original"};
    original.insert(original.end(), images.begin(), images.end());
    std::vector<std::string> compacted = {"-c", "-o", directory / "compacted"};
    compacted.insert(compacted.end(), images.begin(), images.end());
    ASSERT_EQ(RunBuilder(original).exitCode, 0);
    ASSERT_EQ(RunBuilder(compacted).exitCode, 0);
    EXPECT_LT(ReadBytes(directory / "compacted").size(), ReadBytes(directory / "original").size());

    for (std::size_t i = 0; i < diskettes.size(); ++i) {
        SCOPED_TRACE(i + 1);
        std::vector<std::vector<std::uint8_t>> written;
        for (const char* made : {"original", "compacted"}) {
            const std::string drive = directory / (std::string(made) + ".drive");
            WriteBytes(drive, std::vector<std::uint8_t>(diskettes[i].bytes.size(), kMarkerByte));
            ChildResult result = RunDisketteProgram(
                {directory / made, "/S", "/N:" + std::to_string(i + 1)}, {"DISKETTE_A=" + drive},
                true, {});
            EXPECT_EQ(result.exitCode, 0) << WithoutColours(result.output);
            written.push_back(ReadBytes(drive));
        }
        EXPECT_EQ(written[0], written[1]);
        // And what they wrote is the diskette on its used track sides, whole
        // clusters included.
        std::vector<std::size_t> used;
        const std::vector<bool> usedSides = ReferenceUsedTrackSides(diskettes[i], true);
        for (std::size_t side = 0; side < usedSides.size(); ++side) {
            if (usedSides[side]) used.push_back(side);
        }
        ExpectDriveHolds(written[1], diskettes[i], used, kMarkerByte);
    }
}

// Every refusal ends with 3 and one message, and leaves the directory as it
// was: no half-written output, no temporary file, an existing output intact.
TEST(SelfDiskBuilder, RefusesWithAMessageAndLeavesNothingBehind) {
    const std::string umlauts256 = [] {
        std::string text;
        for (int i = 0; i < 256; ++i) text += "\xC3\xA4";
        return text;
    }();
    std::vector<std::string> manyImages;
    for (int i = 0; i < 256; ++i) manyImages.push_back("%T/good.img");
    struct Row {
        const char* name;
        std::vector<std::string> arguments;   // "%T" stands for the directory
        std::string message;                  // as the reporter shows it, "%T" as above
    };
    std::vector<std::string> tooMany = {"-o", "%T/out"};
    tooMany.insert(tooMany.end(), manyImages.begin(), manyImages.end());
    const Row rows[] = {
        {"256 images", tooMany,
         "A self-creating diskette carries 1 to 255 images, not 256."},
        {"a description of 256 bytes", {"-o", "%T/out", "-t", std::string(256, 'x'), "%T/good.img"},
         "The description is longer than 255 bytes in code page 437."},
        {"256 umlauts: 256 bytes in code page 437", {"-o", "%T/out", "-t", umlauts256, "%T/good.img"},
         "The description is longer than 255 bytes in code page 437."},
        {"a character without a code page 437 form",
         {"-o", "%T/out", "-t", "ok\nno \xE2\x82\xAC", "%T/good.img"},
         "The description's character U+20AC in line 2, column 4 has no form in code page 437."},
        {"a description that is no UTF-8", {"-o", "%T/out", "-t", "\xFF", "%T/good.img"},
         "The description is no UTF-8 text: byte 1 cannot stand there."},
        {"an image the reader does not accept", {"-o", "%T/out", "%T/good.img", "%T/junk.img"},
         "'%T/junk.img' contains image data which can not be handled."},
        {"an image that cannot be opened", {"-o", "%T/out", "%T/good.img", "%T/missing.img"},
         "Image data of '%T/missing.img' could not be accessed."},
        {"an image cut short", {"-o", "%T/out", "%T/good.img", "%T/short.img"},
         "Error while reading image data from '%T/short.img'.\n(Input/output error)"},
        {"-c with an image that fails its own CRC check", {"-c", "-o", "%T/out", "%T/damaged.img"},
         "The diskette may be defective, because stored CRC in the image data is '0x12345678', "
         "but the calculated CRC is '0x%C'.\n\n'%T/damaged.img' does not match its own CRC; "
         "stored anew with -c, it would seem sound."},
        {"a stub without room for the offset", {"-s", "%T/tiny", "-o", "%T/out", "%T/good.img"},
         "'%T/tiny' has no room for a payload offset: it is no selfdisk program."},
        {"a stub that already carries a payload", {"-s", "%T/carrier", "-o", "%T/out", "%T/good.img"},
         "'%T/carrier' already carries a payload, or is no selfdisk program."},
        {"dskwrite as the stub", {"-s", DSKWRITE_PATH, "-o", "%T/out", "%T/good.img"},
         std::string("'") + DSKWRITE_PATH + "' is no selfdisk program."},
        {"mkselfdisk as its own stub", {"-s", MKSELFDISK_PATH, "-o", "%T/out", "%T/good.img"},
         std::string("'") + MKSELFDISK_PATH + "' is no selfdisk program."},
        {"a stub that is missing", {"-s", "%T/none", "-o", "%T/out", "%T/good.img"},
         "The selfdisk program '%T/none' could not be opened."},
        {"-t and -T together", {"-t", "a", "-T", "%T/good.img", "-o", "%T/out", "%T/good.img"},
         "Only one of -t and -T can give the description."},
        {"no output", {"%T/good.img"}, "No output file was given (-o OUTPUT)."},
        {"no image", {"-o", "%T/out"}, "No image file was given."},
        {"an option without its value", {"%T/good.img", "-o"}, "The option '-o' needs a value."},
        {"an unknown option", {"-x", "-o", "%T/out", "%T/good.img"}, "Unknown parameter '-x'."},
        {"the output is an image, through a link", {"-o", "%T/link", "%T/good.img", "%T/out"},
         "The output '%T/link' is the same file as the input '%T/out'."},
        {"the output is the stub", {"-s", "%T/out", "-o", "%T/out", "%T/good.img"},
         "The output '%T/out' is the same file as the input '%T/out'."},
        {"the output is the description file", {"-T", "%T/out", "-o", "%T/link", "%T/good.img"},
         "The output '%T/link' is the same file as the input '%T/out'."},
        {"an output in a missing directory", {"-o", "%T/none/out", "%T/good.img"},
         "'%T/none/out' could not be created.\n(No such file or directory)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        const FatImage good = LabelledDiskette("GOOD");
        // The CRC the reader computes: the one the image builder stores.
        const std::vector<std::uint8_t> sound = WrapNative(good, NativeWith(true, true));
        char computedCrc[9];
        std::snprintf(computedCrc, sizeof(computedCrc), "%08X", GetLe32(sound, 38));
        auto inDirectory = [&](std::string text) {
            for (std::size_t at = text.find("%T"); at != std::string::npos; at = text.find("%T", at)) {
                text.replace(at, 2, directory.Path());
            }
            const std::size_t at = text.find("%C");
            if (at != std::string::npos) text.replace(at, 2, computedCrc);
            return text;
        };
        NativeOptions damaged = NativeWith(true, true);
        damaged.storedCrc = 0x12345678;
        WriteBytes(directory / "damaged.img", WrapNative(good, damaged));
        WriteBytes(directory / "good.img", WrapNative(good, NativeWith(true, true)));
        WriteBytes(directory / "junk.img", std::vector<std::uint8_t>(8192, 0));
        WriteBytes(directory / "short.img", FirstBytes(WrapPlain(good), 100000));
        WriteBytes(directory / "tiny", std::vector<std::uint8_t>(15, 0));
        std::vector<std::uint8_t> carrier(100, 0);
        PutLe32(carrier, kOffsetFieldAt, 50);
        WriteBytes(directory / "carrier", carrier);
        WriteText(directory / "out", "an older output");
        ASSERT_EQ(symlink("out", (directory / "link").c_str()), 0);
        const std::set<std::string> before = TreeBelow(directory.Path());

        std::vector<std::string> arguments;
        for (const std::string& argument : row.arguments) arguments.push_back(inDirectory(argument));
        ChildResult result = RunBuilder(arguments);
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_EQ(result.output, MessageText(inDirectory(row.message)));
        EXPECT_EQ(TreeBelow(directory.Path()), before);
        EXPECT_EQ(ReadText(directory / "out"), "an older output");
    }
}

// The description arrives in code page 437: from -t as given, from -T
// without the file's last line end and with CR LF as LF.
TEST(SelfDiskBuilder, StoresTheDescriptionInCodePage437) {
    struct Row {
        const char* name;
        std::vector<std::string> option;   // "%F" stands for the description file
        std::string fileText;
        std::string stored;
    };
    const Row rows[] = {
        {"-t with two lines", {"-t", "Gr\xC3\xBC\xC3\x9F" "e\nzwei"}, "", "Gr\x81\xE1" "e\nzwei"},
        {"-T with CR LF and a last line end", {"-T", "%F"}, "Zeile 1\r\nZeile \xE2\x96\x88\r\n",
         "Zeile 1\nZeile \xDB"},
        {"-T with an empty line at the end", {"-T", "%F"}, "eins\n\n", "eins\n"},
        {"-T with a byte order mark", {"-T", "%F"}, "\xEF\xBB\xBF" "eins\n", "eins"},
        {"no description", {}, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        const std::vector<std::uint8_t> image = WrapNative(LabelledDiskette("ONE"), NativeWith(true, true));
        WriteBytes(directory / "one.img", image);
        WriteText(directory / "text", row.fileText);
        std::vector<std::string> arguments = {"-o", directory / "made"};
        for (const std::string& each : row.option) {
            arguments.push_back(each == "%F" ? directory / "text" : each);
        }
        arguments.push_back(directory / "one.img");
        ChildResult result = RunBuilder(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(ReadBytes(directory / "made"),
                  Joined(ReadBytes(SELFDISK_PATH), PayloadBytes(1, row.stored, {image})));
    }
}

TEST(SelfDiskBuilder, ShowsItsUsageOrVersionOnRequestOrWithoutArguments) {
    const std::string usage =
        "Usage: mkselfdisk -o OUTPUT [-t \"description\" | -T FILE] [-c] [-s STUB] IMAGE...\n";
    const std::string version = "mkselfdisk, the builder of self-creating diskettes\nVersion 1.1\n";
    struct Row {
        std::vector<std::string> arguments;
        int exitCode;
        std::string start;   // of the output; the version is all of it
    };
    const Row rows[] = {{{"--help"}, 0, usage},
                        {{}, 1, usage},
                        {{"-o", "x", "--help"}, 0, usage},
                        {{"--version", "--help"}, 0, version}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.empty() ? "" : row.arguments[0]);
        ChildResult result = RunBuilder(row.arguments);
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_EQ(result.output.rfind(row.start, 0), 0u) << result.output;
        if (row.start == version) {
            EXPECT_EQ(result.output, version);
        }
    }
}

}  // namespace
