#include "image/image_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/capture.h"
#include "tests/support/image_builder.h"

// The first 8192 bytes of a container file, as the reader hands them over.
static std::vector<std::uint8_t> HeaderOf(std::vector<std::uint8_t> file) {
    file.resize(kImageHeaderSize, 0);
    return file;
}

static FatImage Image1440() { return FormatImage(StandardLayout(DisketteSize::k1440)); }

struct RecognizerRow {
    const char* name;
    std::vector<std::uint8_t> header;
    ImageFormat format;               // kNone: refused by all recognizers
    std::uint32_t headerLength;
    std::uint64_t dataLimit;
};

TEST(Recognition, AcceptsAndRefusesHeaders) {
    const FatImage image = Image1440();
    std::vector<RecognizerRow> rows;
    rows.push_back({"native", HeaderOf(WrapNative(image)), ImageFormat::kNative, 47, 0});
    {
        std::vector<std::uint8_t> h = HeaderOf(WrapNative(image));
        std::memcpy(h.data(), "VELMORATRAX", 11);   // case matters; no other recognizer fits
        rows.push_back({"native signature in capitals", h, ImageFormat::kNone, 0, 0});
    }
    {
        std::vector<std::uint8_t> h = HeaderOf(WrapNative(image));
        PutLe16(h, 26, 3);   // sides at file offset 26
        rows.push_back({"native with 3 sides", h, ImageFormat::kNone, 0, 0});
    }
    {
        std::vector<std::uint8_t> h = HeaderOf(WrapNative(image));
        PutLe16(h, 11, 1000);   // bytes per sector at file offset 11
        rows.push_back({"native with 1000 bytes per sector", h, ImageFormat::kNone, 0, 0});
    }
    {
        std::vector<std::uint8_t> h = HeaderOf(WrapNative(image));
        PutLe16(h, 11, 0);   // 0 is a multiple of 512: accepted here, refused by the reader
        rows.push_back({"native with 0 bytes per sector", h, ImageFormat::kNative, 47, 0});
    }
    // SAVEDSKF: all sectors stored, 2880 x 512 = 1474560 bytes of data.
    for (std::uint16_t word : {0x58AA, 0x5900, 0x59AA}) {
        SavedskfOptions options;
        options.formatWord = word;
        rows.push_back({"SAVEDSKF format word in range", HeaderOf(WrapSavedskf(image, options)),
                        ImageFormat::kSavedskf, 512, 1474560});
    }
    for (std::uint16_t word : {0x58A9, 0x59AB, 0x5AAA}) {
        SavedskfOptions options;
        options.formatWord = word;
        rows.push_back({"SAVEDSKF format word out of range", HeaderOf(WrapSavedskf(image, options)),
                        ImageFormat::kNone, 0, 0});
    }
    {
        SavedskfOptions options;
        options.dataOffsetField = 0;   // stands for 512
        rows.push_back({"SAVEDSKF data offset 0", HeaderOf(WrapSavedskf(image, options)),
                        ImageFormat::kSavedskf, 512, 1474560});
    }
    {
        SavedskfOptions options;
        options.storedSectors = 100;   // 100 x 512 = 51200
        rows.push_back({"SAVEDSKF with 100 stored sectors", HeaderOf(WrapSavedskf(image, options)),
                        ImageFormat::kSavedskf, 512, 51200});
    }
    {
        SavedskfOptions options;
        options.dataOffsetField = 8156;   // boot fields at 8167..8191: the last that fits
        rows.push_back({"SAVEDSKF data offset 8156", HeaderOf(WrapSavedskf(image, options)),
                        ImageFormat::kSavedskf, 8156, 1474560});
        options.dataOffsetField = 8157;
        rows.push_back({"SAVEDSKF data offset 8157", HeaderOf(WrapSavedskf(image, options)),
                        ImageFormat::kNone, 0, 0});
    }
    for (std::uint16_t sides : {0, 3}) {
        SavedskfOptions options;
        options.sidesField = sides;
        rows.push_back({"SAVEDSKF sides not 1 or 2", HeaderOf(WrapSavedskf(image, options)),
                        ImageFormat::kNone, 0, 0});
    }
    rows.push_back({"plain", HeaderOf(WrapPlain(image)), ImageFormat::kPlain, 0, 0});
    {
        std::vector<std::uint8_t> h = HeaderOf(WrapPlain(image));
        h[0] = 0xE9;   // a near jump
        rows.push_back({"plain beginning with E9", h, ImageFormat::kNone, 0, 0});
        h = HeaderOf(WrapPlain(image));
        PutLe16(h, 26, 3);
        rows.push_back({"plain with 3 sides", h, ImageFormat::kNone, 0, 0});
        h = HeaderOf(WrapPlain(image));
        PutLe16(h, 11, 256);
        rows.push_back({"plain with 256 bytes per sector", h, ImageFormat::kNone, 0, 0});
    }
    rows.push_back({"eight-byte header", HeaderOf(WrapEightByteHeader(image)),
                    ImageFormat::kEightByteHeader, 8, 0});
    rows.push_back({"eight-byte header, 1 side", HeaderOf(WrapEightByteHeader(image, 1)),
                    ImageFormat::kEightByteHeader, 8, 0});
    rows.push_back({"eight-byte header, sides byte 3", HeaderOf(WrapEightByteHeader(image, 3)),
                    ImageFormat::kNone, 0, 0});
    rows.push_back({"eight-byte header, sector word 768",
                    HeaderOf(WrapEightByteHeader(image, {}, 768)), ImageFormat::kNone, 0, 0});
    rows.push_back({"all zero", std::vector<std::uint8_t>(kImageHeaderSize, 0), ImageFormat::kNone, 0, 0});

    for (const RecognizerRow& row : rows) {
        SCOPED_TRACE(row.name);
        Recognition result{};
        const bool accepted = RecognizeImage(row.header.data(), row.header.size(), &result);
        EXPECT_EQ(accepted, row.format != ImageFormat::kNone);
        EXPECT_EQ(result.format, row.format);
        if (!accepted) continue;
        EXPECT_EQ(result.headerLength, row.headerLength);
        EXPECT_EQ(result.dataLimit, row.dataLimit);
        // Every accepted header describes the same 1.44 MB diskette.
        EXPECT_EQ(SectorsPerTrack(&result.parameters), 18);
        EXPECT_EQ(TotalSectors(&result.parameters), 2880);
        EXPECT_EQ(Tracks(&result.parameters), 80);   // 2880 / 18 / 2
    }
}

TEST(Recognition, NativeKeepsTheImageBytesOfItsBlock) {
    NativeOptions options;
    options.sparse = true;
    options.withCrc = true;
    options.storedCrc = 0xA1B2C3D4;
    options.deviceType = 7;
    options.deviceAttributes = 0x0102;
    const std::vector<std::uint8_t> header = HeaderOf(WrapNative(Image1440(), options));
    Recognition result{};
    ASSERT_TRUE(RecognizeNative(header.data(), header.size(), &result));
    const std::uint8_t expected[6] = {0xFF, 0x01, 0xD4, 0xC3, 0xB2, 0xA1};
    EXPECT_EQ(0, std::memcmp(result.parameters.imageBytes, expected, 6));
    EXPECT_EQ(result.parameters.deviceType, 7);
    EXPECT_EQ(ReadLe16(result.parameters.deviceAttributes), 0x0102);
}

TEST(Recognition, SavedskfTakesTheBootSectorAtTheDataOffset) {
    // A 720 KB boot sector at offset 1024: the block must describe it, not
    // the 1.44 MB one that a header-relative reading would never see.
    SavedskfOptions options;
    options.dataOffsetField = 1024;
    const std::vector<std::uint8_t> header =
        HeaderOf(WrapSavedskf(FormatImage(StandardLayout(DisketteSize::k720)), options));
    Recognition result{};
    ASSERT_TRUE(RecognizeSavedskfOrPlain(header.data(), header.size(), &result));
    EXPECT_EQ(result.headerLength, 1024u);
    EXPECT_EQ(SectorsPerTrack(&result.parameters), 9);
    EXPECT_EQ(TotalSectors(&result.parameters), 1440);
}

TEST(Recognition, RecognizersNeverLookPastAShortHeader) {
    // Fewer bytes than each recognizer needs: refused, not read beyond.
    const std::vector<std::uint8_t> native = WrapNative(Image1440());
    Recognition result{};
    EXPECT_FALSE(RecognizeImage(native.data(), 46, &result));
    EXPECT_FALSE(RecognizeImage(native.data(), 0, &result));
}

struct BootRow {
    const char* name;
    std::uint8_t media;
    std::uint16_t sectorsPerTrack;
    std::uint8_t deviceType;
    const char* typeName;
};

TEST(BootSectorParameters, GiveDeviceTypeAndTypeName) {
    const BootRow rows[] = {
        {"F9, 9 sectors", 0xF9, 9, 2, "3,5\" DD"},
        {"F9, 15 sectors", 0xF9, 15, 0, "5,25\" HD"},
        {"F0, 36 sectors", 0xF0, 36, 9, "3,5\" XD"},
        {"F0, 18 sectors", 0xF0, 18, 0, "3,5\" HD"},
        {"FD, 9 sectors", 0xFD, 9, 0, "5,25\" DD"},
        {"F9, 36 sectors", 0xF9, 36, 9, "3,5\" XD"},
    };
    for (const BootRow& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = Image1440();
        image.bytes[21] = row.media;
        PutLe16(image.bytes, 24, row.sectorsPerTrack);
        DeviceParameterBlock block{};
        ParametersFromBootSector(image.bytes.data(), &block);
        EXPECT_EQ(block.deviceType, row.deviceType);
        EXPECT_STREQ(DisketteTypeName(&block), row.typeName);
    }
}

TEST(BootSectorParameters, CopyTheFieldsAndZeroTheRest) {
    std::vector<std::uint8_t> boot(512, 0xEE);
    for (std::size_t i = 11; i < 36; ++i) boot[i] = static_cast<std::uint8_t>(i);
    PutLe16(boot, 19, 2881);   // total sectors, one more than 80 tracks hold
    PutLe16(boot, 24, 18);
    PutLe16(boot, 26, 2);
    DeviceParameterBlock block{};
    ParametersFromBootSector(boot.data(), &block);
    const std::uint8_t* bytes = reinterpret_cast<const std::uint8_t*>(&block);
    for (std::size_t i = 0; i < 25; ++i) {
        if (i == 8 || i == 9 || i == 13 || i == 14 || i == 15 || i == 16) continue;
        EXPECT_EQ(bytes[i], i + 11) << "block byte " << i;
    }
    for (std::size_t i = 25; i < 31; ++i) EXPECT_EQ(bytes[i], 0) << "image byte " << i;
    EXPECT_EQ(Tracks(&block), 80);   // 2881 / 18 / 2 = 80, remainder dropped
    EXPECT_EQ(ReadLe16(block.deviceAttributes), 0);
}

TEST(BootSectorParameters, ZeroDivisorsGiveZeroTracks) {
    FatImage image = Image1440();
    PutLe16(image.bytes, 24, 0);
    DeviceParameterBlock block{};
    ParametersFromBootSector(image.bytes.data(), &block);
    EXPECT_EQ(Tracks(&block), 0);
    image = Image1440();
    PutLe16(image.bytes, 26, 0);
    ParametersFromBootSector(image.bytes.data(), &block);
    EXPECT_EQ(Tracks(&block), 0);
}

TEST(DisketteTypeName, FollowsTheChainInOrder) {
    struct Row {
        const char* name;
        std::uint8_t deviceType;
        std::uint8_t media;
        std::uint16_t sectorsPerTrack;
        const char* typeName;
    };
    const Row rows[] = {
        {"type 9 needs 36 sectors", 9, 0xF0, 18, "3,5\" HD"},
        {"type 9 before media F9", 9, 0xF9, 36, "3,5\" XD"},
        {"media F0 before type 2", 2, 0xF0, 9, "3,5\" HD"},
        {"type 2 with any media", 2, 0xFD, 15, "3,5\" DD"},
        {"F9 with 15 sectors", 0, 0xF9, 15, "5,25\" HD"},
        {"F9 with 18 sectors", 0, 0xF9, 18, "5,25\" DD"},
        {"anything else", 5, 0xFE, 8, "5,25\" DD"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeviceParameterBlock block{};
        block.deviceType = row.deviceType;
        block.mediaDescriptor = row.media;
        WriteLe16(block.sectorsPerTrack, row.sectorsPerTrack);
        EXPECT_STREQ(DisketteTypeName(&block), row.typeName);
    }
}

static std::string LabelOf(const std::vector<std::uint8_t>& bytes) {
    char label[kVolumeLabelSize];
    std::memset(label, 'X', sizeof label);
    GetVolumeLabel(bytes.data(), bytes.size(), label, sizeof label);
    return std::string(label, sizeof label);   // all 12 bytes, NULs included
}

TEST(VolumeLabel, ComesFromTheRootOrTheBootSector) {
    struct Row {
        const char* name;
        FatImage image;
        std::string label;   // 12 bytes
    };
    std::vector<Row> rows;
    {
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440), "BOOTLABEL");
        rows.push_back({"boot sector field", image, std::string("BOOTLABEL  \0", 12)});
        // Files, an end mark and a deleted entry come first: all are examined.
        AddFile(&image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a"));
        PutEntry(&image, kRootDirectory, 4, VolumeLabelEntry("MYDISK"));
        DirectoryEntry deleted = FileEntry("\xE5OLD", "LBL", kAttrVolumeLabel);
        PutEntry(&image, kRootDirectory, 6, deleted);
        rows.push_back({"root entry after an end mark", image, std::string("MYDISK     \0", 12)});
    }
    {
        FatImage image = Image1440();
        RawEntry longName = LongNameEntry(0x41, "AB", 0x5A);
        PutRawEntry(&image, kRootDirectory, 0, longName);
        PutEntry(&image, kRootDirectory, 1, VolumeLabelEntry("LATER"));
        // 41 'A' 00 'B' 00 | 00 00 (end) | FF FF FF FF: eleven bytes as stored.
        rows.push_back({"long-name entry first", image,
                        std::string("\x41\x41\x00\x42\x00\x00\x00\xFF\xFF\xFF\xFF\0", 12)});
    }
    {
        FatImage image = Image1440();
        const std::uint8_t field[11] = {'A', 'B', 0, 'C', 'D', 0x01, 0x1F, 0, 0, 0, 0};
        std::memcpy(&image.bytes[43], field, 11);
        // Trailing bytes below 0x20 go; the NUL inside stays where it was.
        rows.push_back({"NUL padding", image, std::string("AB\0CD\0\0\0\0\0\0\0", 12)});
        std::memset(&image.bytes[43], 0, 11);
        rows.push_back({"all-zero field", image, std::string(12, '\0')});
        std::memcpy(&image.bytes[43], "  X \x01     ", 11);   // control byte before spaces
        rows.push_back({"control byte before trailing spaces", image, std::string("  X \x01     \0", 12)});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(LabelOf(row.image.bytes), row.label);
    }
}

TEST(VolumeLabel, NeverReadsOutsideTheBuffer) {
    // Root directory placed far beyond the image: no root entry qualifies.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440), "FALLBACK");
    PutLe16(image.bytes, 14, 60000);   // reserved sectors
    EXPECT_EQ(LabelOf(image.bytes), std::string("FALLBACK   \0", 12));
    // 65535 root entries reaching past the end: the lookup stops at the end.
    image = FormatImage(StandardLayout(DisketteSize::k1440), "FALLBACK");
    PutLe16(image.bytes, 17, 65535);
    EXPECT_EQ(LabelOf(image.bytes), std::string("FALLBACK   \0", 12));
    // A buffer too short for the boot sector's label field gives an empty label.
    std::vector<std::uint8_t> shortBuffer(image.bytes.begin(), image.bytes.begin() + 50);
    EXPECT_EQ(LabelOf(shortBuffer), std::string(12, '\0'));
    // A field too small for a label receives an empty text.
    char small[4] = {'x', 'x', 'x', 'x'};
    GetVolumeLabel(image.bytes.data(), image.bytes.size(), small, sizeof small);
    EXPECT_EQ(small[0], '\0');
}

// A record that holds a read 1.44 MB image, as the reader leaves it.
struct RecordWithImage {
    FatImage image;
    ImageRecord record;
    explicit RecordWithImage(FatImage built) : image(std::move(built)), record{} {
        ParametersFromBootSector(image.bytes.data(), &record.parameters);
        record.trackCount = Tracks(&record.parameters);
        record.imageBuffer = image.bytes.data();
    }
};

TEST(DisketteInfoLine, HasTheThreeWordings) {
    FatImage image = Image1440();
    PutEntry(&image, kRootDirectory, 0, VolumeLabelEntry("MYDISK"));
    RecordWithImage held(image);
    held.record.disketteNumber = 3;
    // 18 x 512 x 2 x 80 = 1474560 bytes, >> 10 = 1440.
    const std::string tail = " (2 sides, 80 tracks / 18 sec.,1440 K)\n";
    EXPECT_EQ(CaptureOutput([&] { PrintDisketteInfoLine(&held.record, InfoLineWording::kExtractor); }),
              "Diskette: MYDISK     , Type: 3,5\" HD " + tail);
    EXPECT_EQ(CaptureOutput([&] { PrintDisketteInfoLine(&held.record, InfoLineWording::kSelfDisk); }),
              "Diskette  3: MYDISK     , Type: 3,5\" HD " + tail);
    EXPECT_EQ(CaptureOutput([&] { PrintDisketteInfoLine(&held.record, InfoLineWording::kWriter); }),
              "Diskette 'MYDISK     ', Type: 3,5\" HD " + tail);
}

TEST(DisketteInfoLine, PadsAnEmptyLabelAndAShortOne) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k360));
    std::memset(&image.bytes[43], 0, 11);
    RecordWithImage held(image);
    // 360 KB: 9 x 512 x 2 x 40 = 368640 bytes, >> 10 = 360; media FD: "5,25\" DD".
    EXPECT_EQ(CaptureOutput([&] { PrintDisketteInfoLine(&held.record, InfoLineWording::kExtractor); }),
              "Diskette:            , Type: 5,25\" DD (2 sides, 40 tracks / 9 sec.,360 K)\n");
    std::memcpy(&held.image.bytes[43], "AB\0\0\0\0\0\0\0\0\0", 11);
    EXPECT_EQ(CaptureOutput([&] { PrintDisketteInfoLine(&held.record, InfoLineWording::kWriter); }),
              "Diskette 'AB         ', Type: 5,25\" DD (2 sides, 40 tracks / 9 sec.,360 K)\n");
}

TEST(ExtractorProgress, PrintsOnlyForTheLastSideOfTrackZero) {
    RecordWithImage held(Image1440());
    struct Row {
        const char* name;
        std::uint32_t track;
        std::uint32_t side;
        ProgressAction action;
        bool prints;
    };
    const Row rows[] = {
        {"start", 0, 0, ProgressAction::kReset, false},
        {"track 0 side 0 read", 0, 0, ProgressAction::kTrackSideRead, false},
        {"track 0 side 1 read", 0, 1, ProgressAction::kTrackSideRead, true},
        {"track 0 side 1 filled", 0, 1, ProgressAction::kTrackSideUnused, true},
        {"track 1 side 1 read", 1, 1, ProgressAction::kTrackSideRead, false},
        {"track 0 side 1 written", 0, 1, ProgressAction::kTrackSideWritten, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string output = CaptureOutput(
            [&] { ShowExtractorProgress(row.track, row.side, row.action, &held.record); });
        EXPECT_EQ(!output.empty(), row.prints);
    }
}
