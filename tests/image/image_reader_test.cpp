#include "image/image_reader.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "console/keys.h"
#include "image/image_file.h"
#include "image/used_track_map.h"
#include "tests/image/read_helper.h"
#include "tests/support/image_builder.h"
#include "tests/support/process.h"

// A 1.44 MB diskette with a label, a file at cluster 2 and one at cluster 40
// (sector 33 + 38 = 71: track side 3), so that a sparse image stores track
// sides 0, 1 and 3.
static FatImage SampleImage1440() {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440), "SAMPLE");
    PutEntry(&image, kRootDirectory, 0, VolumeLabelEntry("SAMPLE"));
    AddFile(&image, kRootDirectory, FileEntry("FIRST", "TXT"), TextBytes("first file\r\n"));
    std::vector<std::uint16_t> chain = {40};
    LinkChain(&image, chain);
    WriteChainData(&image, chain, TextBytes("far away"));
    DirectoryEntry far = FileEntry("FAR", "DAT");
    far.firstCluster = 40;
    far.size = 8;
    AppendEntry(&image, kRootDirectory, far);
    return image;
}

static FatImage SampleImage720() {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k720), "SMALL");
    std::vector<std::uint8_t> content(3000);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i % 251);
    AddFile(&image, kRootDirectory, FileEntry("DATA", "BIN"), content);
    return image;
}

static void ExpectAllFiller(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (bytes[i] != 0xF6) {
            ADD_FAILURE() << "byte " << i << " is " << int(bytes[i]) << ", not F6";
            return;
        }
    }
}

TEST(ImageReader, ReadsEveryFormatIntoTheSameDiskette) {
    struct Row {
        const char* name;
        FatImage image;
        std::vector<std::uint8_t> file;
    };
    const FatImage image1440 = SampleImage1440();
    const FatImage image720 = SampleImage720();
    const FatImage image1200 = FormatImage(StandardLayout(DisketteSize::k1200));
    const FatImage image2880 = FormatImage(StandardLayout(DisketteSize::k2880));
    const FatImage image160 = FormatImage(StandardLayout(DisketteSize::k160));
    std::vector<Row> rows = {
        {"native 1.44 M", image1440, WrapNative(image1440)},
        {"native 1.2 M with CRC", image1200, WrapNative(image1200, NativeWith(false, true))},
        {"plain 720 K", image720, WrapPlain(image720)},
        {"plain 160 K, one side", image160, WrapPlain(image160)},
        {"eight-byte header 2.88 M", image2880, WrapEightByteHeader(image2880)},
        {"SAVEDSKF 1.44 M, data at 512", image1440, WrapSavedskf(image1440)},
        {"SAVEDSKF 720 K, data at 4096", image720, WrapSavedskf(image720, SavedskfWith(0x58AA, 4096))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ImageFileReader reader(row.file);
        ASSERT_EQ(reader.Read(), 1);
        EXPECT_EQ(reader.output, "");
        EXPECT_EQ(reader.record.trackCount, TrackCount(row.image.layout));
        EXPECT_EQ(reader.record.skipUnused, 0);
        EXPECT_TRUE(reader.Buffer() == row.image.bytes);
        const std::uint8_t zeros[6] = {};
        EXPECT_EQ(0, std::memcmp(reader.record.parameters.imageBytes, zeros, 6));
        EXPECT_EQ(reader.record.startOffset, static_cast<std::int64_t>(row.file.size()));
    }
}

TEST(ImageReader, ReadsASparseNativeImage) {
    const FatImage image = SampleImage1440();
    NativeOptions options;
    options.sparse = true;
    options.withCrc = true;
    const std::vector<std::uint8_t> file = WrapNative(image, options);
    // Track sides 0, 1 (system area) and 3 (cluster 40): 47 + 3 x 9216 bytes.
    ASSERT_EQ(file.size(), 47u + 3 * 9216);
    ImageFileReader reader(file);
    ASSERT_EQ(reader.Read(), 1);
    EXPECT_EQ(reader.output, "");   // the CRC over the rebuilt diskette matches
    EXPECT_EQ(reader.record.skipUnused, 1);
    const std::vector<std::uint8_t> buffer = reader.Buffer();
    ASSERT_EQ(buffer.size(), 1474560u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 2 * 9216, image.bytes.begin()));
    EXPECT_TRUE(std::equal(buffer.begin() + 3 * 9216, buffer.begin() + 4 * 9216,
                           image.bytes.begin() + 3 * 9216));
    ExpectAllFiller(buffer, 2 * 9216, 3 * 9216);
    ExpectAllFiller(buffer, 4 * 9216, buffer.size());
    const std::vector<std::uint8_t> map = reader.Map();
    for (std::size_t side = 0; side < map.size(); ++side) {
        EXPECT_EQ(map[side], (side <= 1 || side == 3) ? 0xFF : 0x00) << "track side " << side;
    }
    EXPECT_EQ(reader.record.startOffset, static_cast<std::int64_t>(file.size()));
}

TEST(ImageReader, SendsProgressEventsInOrder) {
    // A freshly formatted sparse 1.44 MB image: 2, then 5 for track sides 0
    // and 1, then 13 for each of the other 158 track sides.
    ImageFileReader reader(WrapNative(FormatImage(StandardLayout(DisketteSize::k1440)),
                                      NativeWith(true)));
    ASSERT_EQ(reader.Read(), 1);
    std::vector<ProgressEvent> expected = {{0, 0, ProgressAction::kReset},
                                           {0, 0, ProgressAction::kTrackSideRead},
                                           {0, 1, ProgressAction::kTrackSideRead}};
    for (std::uint32_t track = 1; track < 80; ++track) {
        for (std::uint32_t side = 0; side < 2; ++side) {
            expected.push_back({track, side, ProgressAction::kTrackSideUnused});
        }
    }
    EXPECT_TRUE(RecordedEvents() == expected);
    EXPECT_EQ(reader.record.startOffset, 47 + 18432);
}

static std::uint32_t trackCountAtReset;
static bool buffersAtReset;
static void CheckRecordAtReset(std::uint32_t, std::uint32_t, ProgressAction action, ImageRecord* image) {
    if (action != ProgressAction::kReset) return;
    trackCountAtReset = image->trackCount;
    buffersAtReset = image->imageBuffer != nullptr || image->usedTrackMap != nullptr;
}

TEST(ImageReader, SetsTheTrackCountBeforeTheBuffersExist) {
    ImageFileReader reader(WrapPlain(SampleImage720()));
    trackCountAtReset = 0;
    buffersAtReset = true;
    ASSERT_EQ(reader.Read(CheckRecordAtReset), 1);
    EXPECT_EQ(trackCountAtReset, 80u);   // 1440 / 9 / 2
    EXPECT_FALSE(buffersAtReset);
}

TEST(ImageReader, PrintsTheExtractorInfoLineAfterTrackZero) {
    ImageFileReader reader(WrapNative(SampleImage1440(), NativeWith(true)));
    ASSERT_EQ(reader.Read(ShowExtractorProgress), 1);
    EXPECT_EQ(reader.output,
              "Diskette: SAMPLE     , Type: 3,5\" HD  (2 sides, 80 tracks / 18 sec.,1440 K)\n");
}

TEST(ImageReader, StopsASavedskfImageAtItsDataLimit) {
    // 720 K, track sides of 9 x 512 = 4608 bytes. A file of the image and
    // then 8000 bytes of something else behind it (the header read needs
    // 8192 bytes in the file).
    const FatImage image = SampleImage720();
    struct Row {
        const char* name;
        std::uint16_t storedSectors;
        std::size_t dataBytes;   // stored sectors x 512
    };
    const Row rows[] = {
        {"22 sectors: limit inside track side 2 (9216 + 2048)", 22, 11264},
        {"18 sectors: limit at the end of track side 1", 18, 9216},
        {"1 sector: only the boot sector", 1, 512},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SavedskfOptions options;
        options.storedSectors = row.storedSectors;
        std::vector<std::uint8_t> file = WrapSavedskf(image, options);
        const std::vector<std::uint8_t> after(8000, 0xAB);
        file.insert(file.end(), after.begin(), after.end());
        ImageFileReader reader(file);
        ASSERT_EQ(reader.Read(), 1);
        EXPECT_EQ(reader.output, "");
        const std::vector<std::uint8_t> buffer = reader.Buffer();
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(row.dataBytes),
                               image.bytes.begin()));
        ExpectAllFiller(buffer, row.dataBytes, buffer.size());
        // Header 512 + the stored bytes: the position is just past them.
        EXPECT_EQ(reader.record.startOffset, static_cast<std::int64_t>(512 + row.dataBytes));
        // Every track side counts as read, also beyond the limit.
        ASSERT_EQ(RecordedEvents().size(), 161u);
        for (std::size_t i = 1; i < RecordedEvents().size(); ++i) {
            EXPECT_EQ(RecordedEvents()[i].action, ProgressAction::kTrackSideRead);
        }
    }
}

TEST(ImageReader, ReadsImagesBackToBackWithOneRecord) {
    // A SAVEDSKF image limited inside a track side, then a sparse native one,
    // then a plain one, in one file: each read starts where the last ended.
    const FatImage first = SampleImage720();
    SavedskfOptions savedskf;
    savedskf.storedSectors = 22;
    const FatImage second = SampleImage1440();
    const FatImage third = FormatImage(StandardLayout(DisketteSize::k360), "THIRD");
    std::vector<std::uint8_t> file = WrapSavedskf(first, savedskf);
    const std::size_t secondStart = file.size();
    const std::vector<std::uint8_t> secondFile = WrapNative(second, NativeWith(true, true));
    file.insert(file.end(), secondFile.begin(), secondFile.end());
    const std::size_t thirdStart = file.size();
    const std::vector<std::uint8_t> thirdFile = WrapPlain(third);
    file.insert(file.end(), thirdFile.begin(), thirdFile.end());

    ImageFileReader reader(file);
    reader.record.pollKeys = true;   // no terminal: the poll finds no key
    ASSERT_EQ(reader.Read(), 1);
    EXPECT_EQ(reader.record.startOffset, static_cast<std::int64_t>(secondStart));
    FreeImage(&reader.record);
    ASSERT_EQ(reader.Read(), 1);
    EXPECT_EQ(reader.output, "");
    EXPECT_EQ(reader.record.startOffset, static_cast<std::int64_t>(thirdStart));
    EXPECT_TRUE(reader.Buffer() == RebuiltImage(second, ReferenceUsedTrackSides(second)));
    // The third read replaces the buffers the record still holds.
    ASSERT_EQ(reader.Read(), 1);
    EXPECT_EQ(reader.record.startOffset, static_cast<std::int64_t>(file.size()));
    EXPECT_TRUE(reader.Buffer() == third.bytes);
}

TEST(ImageReader, FailsOnTruncatedFiles) {
    const FatImage image1440 = SampleImage1440();
    struct Row {
        const char* name;
        std::vector<std::uint8_t> file;
        bool headerMessage;          // else the read error with code 30
        std::size_t sidesRead;       // action 5 events before the failure
    };
    std::vector<Row> rows;
    {
        std::vector<std::uint8_t> file = WrapPlain(image1440);
        file.resize(8191);
        rows.push_back({"8191 bytes", file, true, 0});
        file = WrapPlain(image1440);
        file.resize(8192);   // recognized; track side 0 needs 9216
        rows.push_back({"8192 bytes", file, false, 0});
        rows.push_back({"empty", {}, true, 0});
    }
    {
        std::vector<std::uint8_t> file = WrapNative(image1440);
        ASSERT_EQ(file.size(), 47u + 1474560);
        file.pop_back();
        rows.push_back({"native 1.44 M one byte short", file, false, 159});
    }
    {
        const FatImage image720 = SampleImage720();
        std::vector<std::uint8_t> file = WrapPlain(image720);
        file.resize(737280 - 4608);   // the last track side missing
        rows.push_back({"plain 720 K one track side short", file, false, 159});
    }
    {
        // The sparse image's track side 3 is missing from the file.
        std::vector<std::uint8_t> file = WrapNative(image1440, NativeWith(true));
        file.resize(47 + 2 * 9216);
        rows.push_back({"sparse native missing a stored track side", file, false, 2});
    }
    {
        // SAVEDSKF claiming 100 sectors but holding 50.
        SavedskfOptions options;
        options.storedSectors = 100;
        std::vector<std::uint8_t> file = WrapSavedskf(SampleImage720(), options);
        file.resize(512 + 50 * 512);
        rows.push_back({"SAVEDSKF shorter than its stored sectors", file, false, 5});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ImageFileReader reader(row.file);
        EXPECT_EQ(reader.Read(), 0);
        const std::string path = reader.Path();
        if (row.headerMessage) {
            EXPECT_EQ(reader.output,
                      MessageText("The header of the image data from '" + path + "' could not be read."));
            EXPECT_TRUE(RecordedEvents().empty());
            EXPECT_EQ(reader.record.imageBuffer, nullptr);
        } else {
            EXPECT_EQ(reader.output, ReadErrorText(path));
            std::size_t sidesRead = 0;
            for (const ProgressEvent& event : RecordedEvents()) {
                if (event.action == ProgressAction::kTrackSideRead) ++sidesRead;
            }
            EXPECT_EQ(sidesRead, row.sidesRead);
        }
    }
}

// An 8192-byte plain image header: a boot sector with the given sector size,
// total sectors, sectors per track and sides; one sector per cluster, one
// reserved sector, two FATs of one sector, 16 root entries.
static std::vector<std::uint8_t> BootSectorHeader(std::uint16_t bytesPerSector,
                                                  std::uint16_t totalSectors,
                                                  std::uint16_t sectorsPerTrack,
                                                  std::uint16_t sides) {
    std::vector<std::uint8_t> header(8192, 0);
    header[0] = 0xEB;
    PutLe16(header, 11, bytesPerSector);
    header[13] = 1;
    PutLe16(header, 14, 1);
    header[16] = 2;
    PutLe16(header, 17, 16);
    PutLe16(header, 19, totalSectors);
    PutLe16(header, 22, 1);
    PutLe16(header, 24, sectorsPerTrack);
    PutLe16(header, 26, sides);
    return header;
}

TEST(ImageReader, RefusesImagesItCannotHandle) {
    const FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    struct Row {
        const char* name;
        std::vector<std::uint8_t> file;
    };
    std::vector<Row> rows;
    {
        std::vector<std::uint8_t> file = WrapPlain(image);
        file[0] = 0xE9;
        rows.push_back({"no recognizer accepts", file});
    }
    {
        std::vector<std::uint8_t> file = WrapNative(image);
        PutLe16(file, 26, 3);
        rows.push_back({"native with 3 sides", file});
        file = WrapNative(image);
        PutLe16(file, 11, 0);
        rows.push_back({"zero bytes per sector", file});
    }
    {
        FatImage changed = image;
        PutLe16(changed.bytes, 24, 0);
        rows.push_back({"zero sectors per track", WrapPlain(changed)});
        changed = image;
        changed.bytes[13] = 0;
        rows.push_back({"zero sectors per cluster", WrapPlain(changed)});
        changed = image;
        PutLe16(changed.bytes, 26, 0);   // the SAVEDSKF header says 2 sides, the boot sector 0
        rows.push_back({"zero sides in a SAVEDSKF boot sector", WrapSavedskf(changed)});
        changed = image;
        PutLe16(changed.bytes, 19, 35);   // less than one track of 18 x 2
        rows.push_back({"track count 0", WrapPlain(changed)});
        changed = image;
        PutLe16(changed.bytes, 19, 0);
        rows.push_back({"zero total sectors", WrapEightByteHeader(changed)});
    }
    {
        std::vector<std::uint8_t> file = WrapSavedskf(image);
        PutLe16(file, 38, 9000);   // data offset beyond the 8192 header bytes
        rows.push_back({"SAVEDSKF data offset beyond the header", file});
    }
    {
        // 65535 sectors of 8192 bytes, one per track and side: 65535 x 8192
        // = 536862720 bytes (512 MiB less one sector) described by a 24 KB file.
        std::vector<std::uint8_t> file = BootSectorHeader(8192, 65535, 1, 1);
        file.resize(24 * 1024, 0);
        rows.push_back({"8192-byte sectors, 65535 tracks", file});
        // 32896 sectors of 512 bytes, 64 per track, 2 sides: 257 tracks of
        // 2 x 64 x 512 = 65536 bytes, 16842752 bytes, one track beyond 16 MiB.
        rows.push_back({"one track beyond 16 MiB", BootSectorHeader(512, 32896, 64, 2)});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ImageFileReader reader(row.file);
        EXPECT_EQ(reader.Read(), 0);
        EXPECT_EQ(reader.output, NotHandledText(reader.Path()));
        EXPECT_TRUE(RecordedEvents().empty());   // refused before action 2
        EXPECT_EQ(reader.record.imageBuffer, nullptr);
        EXPECT_EQ(reader.record.usedTrackMap, nullptr);
    }
}

TEST(ImageReader, ReadsOddLayoutsWithoutGoingOutOfBounds) {
    // Layouts that are computable but inconsistent: the read succeeds and the
    // map and label stay inside their buffers.
    struct Row {
        const char* name;
        std::size_t offset;
        std::uint16_t value;
    };
    const Row rows[] = {
        {"FAT beyond the diskette (reserved 60000)", 14, 60000},
        {"65535 root entries", 17, 65535},
        {"255 FATs of 65535 sectors", 22, 65535},
        {"total 2881: one sector beyond 80 tracks", 19, 2881},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        PutLe16(image.bytes, row.offset, row.value);
        if (row.offset == 22) image.bytes[16] = 255;
        ImageFileReader reader(WrapPlain(image));
        ASSERT_EQ(reader.Read(ShowExtractorProgress), 1);
        EXPECT_EQ(reader.record.trackCount, 80u);
        EXPECT_TRUE(reader.Buffer() ==
                    std::vector<std::uint8_t>(image.bytes.begin(), image.bytes.begin() + 1474560));
    }
}

TEST(ImageReader, WarnsOnACrcMismatchAndStillSucceeds) {
    const FatImage image = SampleImage1440();
    // The CRC the builder stores for the unchanged image, worked out bit by bit.
    const std::uint32_t goodCrc = ReferenceCrc32(image.bytes.data(), image.bytes.size());
    struct Row {
        const char* name;
        std::vector<std::uint8_t> file;
        std::string warning;   // empty: no message
    };
    std::vector<Row> rows;
    NativeOptions options;
    options.withCrc = true;
    rows.push_back({"matching", WrapNative(image, options), ""});
    {
        std::vector<std::uint8_t> file = WrapNative(image, options);
        file[47 + 3 * 9216 + 100] ^= 0x01;   // one byte in track side 3
        FatImage changed = image;
        changed.bytes[3 * 9216 + 100] ^= 0x01;
        const std::uint32_t changedCrc = ReferenceCrc32(changed.bytes.data(), changed.bytes.size());
        char text[200];
        std::snprintf(text, sizeof text,
                      "The diskette may be defective, because stored CRC in the image data is "
                      "'0x%08X', but the calculated CRC is '0x%08X'.",
                      goodCrc, changedCrc);
        rows.push_back({"one byte changed", file, MessageText(text)});
    }
    {
        NativeOptions wrong = options;
        wrong.storedCrc = 0x0000ABCD;
        char text[200];
        std::snprintf(text, sizeof text,
                      "The diskette may be defective, because stored CRC in the image data is "
                      "'0x0000ABCD', but the calculated CRC is '0x%08X'.",
                      goodCrc);
        rows.push_back({"wrong stored CRC", WrapNative(image, wrong), MessageText(text)});
    }
    {
        NativeOptions noCrc;
        noCrc.storedCrc = 0xDEADBEEF;   // bytes at 38..41 without the flag bit
        noCrc.crcFlagByte = 0xFE;       // every other bit set
        rows.push_back({"CRC flag bit clear", WrapNative(image, noCrc), ""});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ImageFileReader reader(row.file);
        EXPECT_EQ(reader.Read(), 1);
        EXPECT_EQ(reader.output, row.warning);
    }
}

TEST(ImageReader, StartsAtTheStartOffset) {
    std::vector<std::uint8_t> file(1000, 0x5A);
    const FatImage image = SampleImage720();
    const std::vector<std::uint8_t> native = WrapNative(image, NativeWith(true));
    file.insert(file.end(), native.begin(), native.end());
    ImageFileReader reader(file);
    reader.record.startOffset = 1000;
    ASSERT_EQ(reader.Read(), 1);
    EXPECT_EQ(reader.record.startOffset, static_cast<std::int64_t>(file.size()));
    EXPECT_TRUE(reader.Buffer() == RebuiltImage(image, ReferenceUsedTrackSides(image)));

    ImageFileReader negative(native);
    negative.record.startOffset = -1;
    EXPECT_EQ(negative.Read(), 0);
    EXPECT_EQ(negative.output,
              MessageText("The header of the image data from '" + negative.Path() + "' could not be read."));
}

TEST(ImageReader, LeavesTheSecondHalfOfACrossingClusterToTheWritersOperation) {
    // 720 K with one file in cluster 8 = sectors 26 and 27, across the
    // boundary of track sides 2 and 3, and nothing else on track side 3.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k720));
    SetFatEntry(&image, 8, 0xFFF);
    const std::vector<std::uint8_t> content(1024, 0x42);
    WriteChainData(&image, {8}, content);
    DirectoryEntry entry = FileEntry("CROSS", "BIN");
    entry.firstCluster = 8;
    entry.size = 1024;
    AppendEntry(&image, kRootDirectory, entry);

    ImageFileReader reader(WrapNative(image));
    ASSERT_EQ(reader.Read(), 1);
    EXPECT_EQ(reader.Map()[3], 0x00);   // the reader keeps the first-sector rule
    CompleteUsedTrackMap(&reader.record);
    const std::vector<std::uint8_t> map = reader.Map();
    for (std::size_t side = 0; side < map.size(); ++side) {
        EXPECT_EQ(map[side], side <= 3 ? 0xFF : 0x00) << "track side " << side;
    }
}

TEST(ImageReader, TakesADisketteOfExactly16MiB) {
    // 32768 sectors of 512 bytes, 64 per track, 2 sides: 256 tracks of
    // 65536 bytes = 16777216 bytes. Clusters of 16 sectors keep it FAT12:
    // (32768 - 1 - 2 x 6 - 14) / 16 = 2046 clusters, 6 sectors per FAT.
    const DisketteLayout layout{512, 16, 1, 2, 224, 32768, 0xF0, 6, 64, 2};
    FatImage image = FormatImage(layout, "LARGEST");
    AddFile(&image, kRootDirectory, FileEntry("LAST", "DAT"), TextBytes("at the end"));
    // Stored sparse: the file holds only the track sides in use.
    ImageFileReader reader(WrapNative(image, NativeWith(true)));
    ASSERT_EQ(reader.Read(), 1);
    EXPECT_EQ(reader.output, "");
    EXPECT_EQ(reader.record.trackCount, 256u);
    EXPECT_EQ(ImageBufferSize(&reader.record), 16777216u);
}

TEST(ImageReader, ReportsNotEnoughMemoryWhenTheBufferCannotBeHad) {
    // The largest diskette taken, 16 MiB (32768 sectors of 512 bytes, 64 per
    // track, 2 sides), in a process allowed only 8 MiB of address space
    // beyond what it already uses.
    TempFile file(BootSectorHeader(512, 32768, 64, 2));
    const ChildResult child = RunFunction(
        [&] {
            std::FILE* status = std::fopen("/proc/self/status", "r");
            unsigned long sizeKb = 0;
            char line[256];
            while (status != nullptr && std::fgets(line, sizeof(line), status) != nullptr) {
                if (std::sscanf(line, "VmSize: %lu kB", &sizeKb) == 1) break;
            }
            if (status != nullptr) std::fclose(status);
            const rlim_t bytes = (static_cast<rlim_t>(sizeKb) << 10) + (8u << 20);
            rlimit limit{bytes, bytes};
            setrlimit(RLIMIT_AS, &limit);
            ImageRecord record{};
            record.fileHandle = file.OpenForReading();
            (void)CopyText(record.imageFileName, std::size(record.imageFileName), "big.img");
            const int result = ReadImage(&record, nullptr);
            FreeImage(&record);
            ConsolePrint("result %d\r\n", result);
        },
        ChildOptions{});
    EXPECT_EQ(child.output, MessageText("Not enough memory.") + "result 0\n");
}

TEST(ImageReader, CancelsOnEscBetweenTracksWhenPolling) {
    TempFile file(WrapPlain(SampleImage720()));
    ChildOptions options;
    options.terminal = true;
    options.input = "\x1b";
    const ChildResult child = RunFunction(
        [&] {
            EnterKeyMode();
            ConsolePrint("ready\r\n");   // the key is typed once output arrives
            pollfd input{0, POLLIN, 0};
            poll(&input, 1, 5000);
            ImageRecord record{};
            record.fileHandle = file.OpenForReading();
            record.pollKeys = true;
            (void)CopyText(record.imageFileName, std::size(record.imageFileName), "a.img");
            RecordedEvents().clear();
            const int result = ReadImage(&record, RecordProgress);
            FreeImage(&record);
            ConsolePrint("result %d, %zu events\r\n", result, RecordedEvents().size());
        },
        options);
    // Cancelled after track 0: action 2 and two track sides.
    EXPECT_NE(child.output.find("Process canceled."), std::string::npos) << child.output;
    EXPECT_NE(child.output.find("result 0, 3 events"), std::string::npos) << child.output;
}

TEST(ImageFile, OpensOnlyRegularFilesAndBlockDevicesAndNeverWaits) {
    // Each row is opened in a child that an alarm ends after five seconds,
    // so an open that waits shows as a signal instead of holding the tests.
    struct Row {
        const char* name;
        const char* path;   // below the temporary directory, or absolute
        bool opens;
    };
    const Row rows[] = {
        {"regular file", "image.img", true},
        {"link to a regular file", "link.img", true},
        {"directory", "folder", false},
        {"FIFO without a writer", "pipe", false},
        {"character device", "/dev/null", false},
        {"missing", "missing.img", false},
    };
    std::string pattern = ::testing::TempDir() + "image-file-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string directory = pattern;
    const std::string image = directory + "/image.img";
    const int created = open(image.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(created, 0);
    const std::vector<std::uint8_t> bytes(16, 0xAB);
    EXPECT_EQ(write(created, bytes.data(), bytes.size()), 16);
    close(created);
    ASSERT_EQ(symlink(image.c_str(), (directory + "/link.img").c_str()), 0);
    ASSERT_EQ(mkdir((directory + "/folder").c_str(), 0777), 0);
    ASSERT_EQ(mkfifo((directory + "/pipe").c_str(), 0666), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = row.path[0] == '/' ? row.path : directory + "/" + row.path;
        const ChildResult child = RunFunction(
            [&] {
                alarm(5);
                const int handle = OpenImageFile(path.c_str());
                if (handle < 0) {
                    ConsolePrint("refused\r\n");
                    return;
                }
                // Opened in blocking mode, and reading from the start.
                std::uint8_t bytes[32];
                std::uint64_t readCount = 0;
                const bool blocking = (fcntl(handle, F_GETFL) & O_NONBLOCK) == 0;
                const std::uint32_t code = ReadFileBytes(handle, bytes, sizeof(bytes), &readCount);
                CloseImageFile(handle);
                ConsolePrint("opened, %s, code %u, %u bytes\r\n",
                             blocking ? "blocking" : "non-blocking", static_cast<unsigned>(code),
                             static_cast<unsigned>(readCount));
            },
            ChildOptions{});
        EXPECT_EQ(child.signal, 0) << "the open waited";
        EXPECT_EQ(child.output, row.opens ? "opened, blocking, code 0, 16 bytes\n" : "refused\n");
    }
    for (const char* name : {"image.img", "link.img", "folder", "pipe"}) {
        const std::string path = directory + "/" + name;
        EXPECT_EQ(std::strcmp(name, "folder") == 0 ? rmdir(path.c_str()) : unlink(path.c_str()), 0);
    }
    EXPECT_EQ(rmdir(directory.c_str()), 0);
}

TEST(ImageFile, ContinuesShortReadsUntilCompleteOrEnd) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::vector<std::uint8_t> sent(10000);
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>(i * 7);
    std::thread writer([&] {
        // Pieces of 999 bytes with pauses: each read(2) delivers a part.
        for (std::size_t at = 0; at < sent.size(); at += 999) {
            const std::size_t count = std::min<std::size_t>(999, sent.size() - at);
            EXPECT_EQ(write(pipeEnds[1], sent.data() + at, count), static_cast<ssize_t>(count));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        close(pipeEnds[1]);
    });
    std::vector<std::uint8_t> received(6000);
    std::uint64_t readCount = 0;
    EXPECT_EQ(ReadFileBytes(pipeEnds[0], received.data(), received.size(), &readCount), 0u);
    EXPECT_EQ(readCount, 6000u);
    // The rest: 4000 bytes remain, then the end of the file.
    std::vector<std::uint8_t> rest(6000);
    EXPECT_EQ(ReadFileBytes(pipeEnds[0], rest.data(), rest.size(), &readCount), 0u);
    EXPECT_EQ(readCount, 4000u);
    writer.join();
    close(pipeEnds[0]);
    received.insert(received.end(), rest.begin(), rest.begin() + 4000);
    EXPECT_TRUE(received == sent);
}

TEST(ImageFile, ReportsAFailedReadWithItsCode) {
    std::uint8_t byte = 0;
    std::uint64_t readCount = 99;
    EXPECT_NE(ReadFileBytes(-1, &byte, 1, &readCount), 0u);
    EXPECT_EQ(readCount, 0u);
}
