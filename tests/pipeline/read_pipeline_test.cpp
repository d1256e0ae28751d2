// Tests of ReadDiskette on the scripted drive: retries, sector by sector
// reading past bad sectors and their map, cancellation, a diskette taken
// out, the boot sector's layout and the used track sides.
#include "diskette/read_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "console/keys.h"
#include "console/system_error.h"
#include "image/image_reader.h"
#include "tests/extractor/program_helper.h"
#include "tests/pipeline/pipeline_helper.h"
#include "tests/pipeline/scripted_device.h"

namespace {

using Lines = std::vector<std::string>;

// The scripted drive's contents for a diskette: its track side i at the
// device index track x 2 + side.
std::map<std::uint32_t, std::vector<std::uint8_t>> Holding(const FatImage& diskette) {
    std::map<std::uint32_t, std::vector<std::uint8_t>> contents;
    const std::size_t sideSize = TrackSideSize(diskette.layout);
    const std::size_t sides = diskette.layout.sides;
    for (std::size_t index = 0; index * sideSize < diskette.bytes.size(); ++index) {
        const auto begin = diskette.bytes.begin() + static_cast<std::ptrdiff_t>(index * sideSize);
        contents[static_cast<std::uint32_t>(index / sides * 2 + index % sides)] =
            std::vector<std::uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(sideSize));
    }
    return contents;
}

struct ReadOutcome {
    int result = -1;
    ReadSummary summary{};
};

// Reads the diskette the script holds into directory/disk.img.
ReadOutcome RunRead(const DriveScript& script, const TempDirectory& directory,
                    std::uint32_t retryCount, bool usedOnly = false) {
    ResetDrive(script);
    ClearKeys();
    const std::string path = directory / "disk.img";
    ReadRequest request{};
    request.imagePath = path.c_str();
    request.usedOnly = usedOnly;
    ImageRecord image{};
    (void)CopyText(image.driveName, std::size(image.driveName), "A:");
    image.retryCount = retryCount;
    ReadOutcome outcome;
    (void)CaptureOutput([&] { outcome.result = ReadDiskette(&image, &request, &outcome.summary); });
    FreeImage(&image);
    return outcome;
}

// A 1.44 MB diskette whose every byte tells its offset, but for a boot
// sector, FATs and root directory as a format leaves them.
FatImage CountingDiskette() {
    FatImage diskette = FormatImage(StandardLayout(DisketteSize::k1440), "READ TEST");
    const std::size_t dataStart = SectorOffset(diskette, DataStartSector(diskette.layout));
    for (std::size_t i = dataStart; i < diskette.bytes.size(); ++i) {
        diskette.bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 509 + 1);
    }
    return diskette;
}

TEST(ReadDiskette, RetriesThenReadsSectorBySectorAndMapsWhatStaysUnreadable) {
    const FatImage diskette = CountingDiskette();
    // Track 5, side 0 is track side 10: sectors 180 to 197. Its sectors 3 and
    // 7 (from 1) are diskette sectors 182 and 186, at 182 x 512 = 93184 and
    // 186 x 512 = 95232.
    const std::vector<DriveFailure> twoBad = {
        {DriveStep::kRead, kErrorCrc, 5, 0},
        {DriveStep::kReadSector, kErrorSectorNotFound, 5, 0, kAlways, 2},
        {DriveStep::kReadSector, kErrorCrc, 5, 0, kAlways, 6},
    };
    const std::string twoBadMap = "track 5, side 0, sector 3, offset 93184: Input/output error\n"
                                  "track 5, side 0, sector 7, offset 95232: Input/output error\n";
    struct Row {
        const char* name;
        std::vector<DriveFailure> failures;
        std::uint32_t retryCount;
        std::vector<KeyDuringWrite> keys;
        int result;
        std::size_t readsOfTheSide;         // ReadTrack calls for track 5 side 0
        std::size_t sectorReads;
        std::string lastMessage;
        std::string map;                    // "": no map file
        std::vector<std::size_t> zeroed;    // diskette sectors filled with zeros
    };
    const Row rows[] = {
        {"a track side that fails once is read on the retry",
         {{DriveStep::kRead, kErrorCrc, 5, 0, 1}}, 3, {}, 1, 2, 0, "", "", {}},
        {"two sectors stay unreadable: 1 + 3 tries of the track side, 16 + 2 x 4 of sectors",
         twoBad, 3, {}, 1, 4, 24,
         "message 0x40000 0 2 sector(s) could not be read; they are listed in '%s.bad'.",
         twoBadMap, {182, 186}},
        {"/R:0: the track side once, each sector once", twoBad, 0, {}, 1, 1, 18,
         "message 0x40000 0 2 sector(s) could not be read; they are listed in '%s.bad'.",
         twoBadMap, {182, 186}},
        {"ESC during track 10 ends the read after it", {}, 3, {{10, 0, kKeyEsc}}, 0, 1, 0,
         "message 0x10000 0 Process canceled.", "", {}},
        {"a diskette taken out is no bad sector", {{DriveStep::kRead, kErrorNotReady, 5, 0}}, 3,
         {}, 0, 4, 0,
         "message 0x10000 21 The diskette in 'A:' was taken out or changed while it was read.",
         "", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDirectory directory;
        DriveScript script;
        script.contents = Holding(diskette);
        script.failures = row.failures;
        script.keysDuringRead = row.keys;
        const ReadOutcome outcome = RunRead(script, directory, row.retryCount);
        EXPECT_EQ(outcome.result, row.result);
        EXPECT_EQ(OpenHandleCount(), 0);
        const Lines reads = DriveLogLines("read");
        auto isOfTheSide = [](const std::string& line) { return line.rfind("read 5/0", 0) == 0; };
        EXPECT_EQ(std::count_if(reads.begin(), reads.end(), isOfTheSide),
                  static_cast<std::ptrdiff_t>(row.readsOfTheSide));
        EXPECT_EQ(DriveLogLines("read sector").size(), row.sectorReads);
        const Lines messages = DriveLogLines("message");
        char expected[600];
        std::snprintf(expected, sizeof(expected), row.lastMessage.c_str(),
                      (directory / "disk.img").c_str());
        EXPECT_EQ(messages.empty() ? "" : messages.back(), std::string(expected));
        if (row.result == 0) {
            EXPECT_TRUE(TreeBelow(directory.Path()).empty()) << "nothing is left behind";
            continue;
        }
        std::vector<std::uint8_t> stored = diskette.bytes;
        for (std::size_t sector : row.zeroed) {
            std::fill_n(stored.begin() + static_cast<std::ptrdiff_t>(sector * 512), 512, 0);
        }
        EXPECT_TRUE(ReadBytes(directory / "disk.img") == stored);
        EXPECT_EQ(ReadText(directory / "disk.img.bad"), row.map);
        EXPECT_EQ(TreeBelow(directory.Path()).size(), row.map.empty() ? 1u : 2u);
        EXPECT_EQ(outcome.summary.unreadableCount, row.zeroed.size());
    }
}

// A DMF diskette (21 sectors, 80 tracks, 2 sides) that the drive reports as
// 1.44 MB, where its first 18 sectors read: the boot sector's layout is set
// and track side 0 read again in it. A drive that cannot read that layout
// is reported, and nothing is read or made.
TEST(ReadDiskette, ReadsInTheBootSectorsLayoutWhereItHasMoreSectors) {
    DisketteLayout dmf = StandardLayout(DisketteSize::k1440);
    dmf.sectorsPerTrack = 21;
    dmf.totalSectors = 80 * 2 * 21;
    const FatImage diskette = FormatImage(dmf, "DMF");
    for (const bool settable : {true, false}) {
        SCOPED_TRACE(settable ? "the layout is set" : "the drive cannot read it");
        TempDirectory directory;
        DriveScript script;
        script.contents = Holding(diskette);
        if (!settable) script.failures.push_back({DriveStep::kSetLayout, kErrorNotSupported});
        const ReadOutcome outcome = RunRead(script, directory, 3);
        const Lines log = DriveLogLines();
        ASSERT_GE(log.size(), 6u);
        const std::string notice =
            "message 0x40000 0 The diskette in 'A:' is read as its boot sector describes it: "
            "80 tracks, 2 side(s), 21 sectors per track.";
        EXPECT_EQ(Lines(log.begin(), log.begin() + 6),
                  (Lines{"open for reading A:", "geometry", "lock", "read 0/0", notice,
                         settable ? "set layout 80/2/21" : "set layout 80/2/21 = 50"}));
        EXPECT_EQ(outcome.result, settable ? 1 : 0);
        if (settable) {
            EXPECT_EQ(DriveCalls()[6].name, "read");
            EXPECT_EQ(DriveCalls()[6].sectorsPerTrack, 21u);
            EXPECT_TRUE(ReadBytes(directory / "disk.img") == diskette.bytes);
        } else {
            EXPECT_EQ(log[6], "message 0x10000 50 'A:' cannot read its diskette in that layout.");
            EXPECT_TRUE(TreeBelow(directory.Path()).empty());
        }
    }
}

// /U reads the system area, then the track sides the FAT marks, whole
// clusters; the rest of the image holds 0xF6. A 1.44 MB diskette: system
// area sectors 0 to 32, track sides 0 and 1; cluster 2 = sector 33 (side
// 1); clusters 165 and 166 = sectors 196 and 197, the end of side 10;
// cluster 200 is marked bad (0xFF7) and not read. With a FAT sector
// unreadable the map cannot be judged: everything is read.
TEST(ReadDiskette, ReadsOnlyTheUsedTrackSidesWhereTheFatTellsThem) {
    FatImage diskette = CountingDiskette();
    AddFile(&diskette, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a\r\n"));
    LinkChain(&diskette, {165, 166});
    SetFatEntry(&diskette, 200, kFatBad);
    for (const bool fatReadable : {true, false}) {
        SCOPED_TRACE(fatReadable ? "the FAT read" : "a FAT sector unreadable");
        TempDirectory directory;
        DriveScript script;
        script.contents = Holding(diskette);
        if (!fatReadable) {
            script.failures = {{DriveStep::kRead, kErrorCrc, 0, 0},
                               {DriveStep::kReadSector, kErrorCrc, 0, 0, kAlways, 5}};
        }
        const ReadOutcome outcome = RunRead(script, directory, 0, true);
        EXPECT_EQ(outcome.result, 1);
        Lines reads;
        for (const std::string& line : DriveLogLines("read")) {
            if (line.find(" = ") == std::string::npos) reads.push_back(line);
        }
        if (!fatReadable) {
            EXPECT_EQ(reads.size(), 159u);   // 160 track sides, 0/0 sector by sector
            continue;
        }
        EXPECT_EQ(reads, (Lines{"read 0/0", "read 0/1", "read 5/0"}));
        const std::vector<std::uint8_t> stored = ReadBytes(directory / "disk.img");
        ASSERT_EQ(stored.size(), diskette.bytes.size());
        for (std::size_t side = 0; side < 160; ++side) {
            const auto begin = static_cast<std::ptrdiff_t>(side * 9216);
            const bool used = side == 0 || side == 1 || side == 10;
            EXPECT_TRUE(used ? std::equal(stored.begin() + begin, stored.begin() + begin + 9216,
                                          diskette.bytes.begin() + begin)
                             : std::all_of(stored.begin() + begin, stored.begin() + begin + 9216,
                                           [](std::uint8_t byte) { return byte == 0xF6; }))
                << "track side " << side;
        }
    }
}

}  // namespace
