#include "image/used_track_map.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "image/image_format.h"
#include "tests/support/image_builder.h"

static DisketteGeometry GeometryOf(const FatImage& image) {
    DeviceParameterBlock block{};
    ParametersFromBootSector(image.bytes.data(), &block);
    DisketteGeometry geometry{};
    EXPECT_TRUE(GetDisketteGeometry(&block, &geometry));
    return geometry;
}

// The track sides a map marks used, as a set of indexes.
static std::set<std::size_t> UsedSides(const std::vector<std::uint8_t>& map) {
    std::set<std::size_t> used;
    for (std::size_t i = 0; i < map.size(); ++i) {
        EXPECT_TRUE(map[i] == 0xFF || map[i] == 0x00) << "entry " << i;
        if (map[i] == 0xFF) used.insert(i);
    }
    return used;
}

enum class Operation { kInit, kScan, kWhole };

static std::set<std::size_t> MapOf(const FatImage& image, Operation operation) {
    const DisketteGeometry geometry = GeometryOf(image);
    // One guard byte on each side of the map catches writes outside it.
    std::vector<std::uint8_t> map(geometry.trackSideCount + 2, 0x5A);
    InitUsedTrackMap(map.data() + 1, &geometry);
    if (operation == Operation::kScan) ScanFatIntoMap(map.data() + 1, &geometry, image.bytes.data());
    if (operation == Operation::kWhole) {
        MarkWholeClustersInMap(map.data() + 1, &geometry, image.bytes.data());
    }
    EXPECT_EQ(map.front(), 0x5A);
    EXPECT_EQ(map.back(), 0x5A);
    return UsedSides(std::vector<std::uint8_t>(map.begin() + 1, map.end() - 1));
}

TEST(UsedTrackMapInit, MarksTheSystemAreaOfEachStandardLayout) {
    struct Row {
        const char* name;
        DisketteSize size;
        std::set<std::size_t> used;
    };
    const Row rows[] = {
        {"160 K: 1 + 4 root + 2 x 1 FAT = 7, 7 / 8 = 0", DisketteSize::k160, {0}},
        {"360 K: 1 + 7 + 2 x 2 = 12, 12 / 9 = 1", DisketteSize::k360, {0, 1}},
        {"720 K: 1 + 7 + 2 x 3 = 14, 14 / 9 = 1", DisketteSize::k720, {0, 1}},
        {"1.2 M: 1 + 14 + 2 x 7 = 29, 29 / 15 = 1", DisketteSize::k1200, {0, 1}},
        {"1.44 M: 1 + 14 + 2 x 9 = 33, 33 / 18 = 1", DisketteSize::k1440, {0, 1}},
        {"2.88 M: 1 + 15 + 2 x 9 = 34, 34 / 36 = 0", DisketteSize::k2880, {0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(MapOf(FormatImage(StandardLayout(row.size)), Operation::kInit), row.used);
    }
}

TEST(UsedTrackMapInit, StopsAtTheEndOfTheMap) {
    // A system area larger than the diskette: every entry used, none beyond.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k160));
    PutLe16(image.bytes, 14, 5000);   // reserved sectors
    EXPECT_EQ(MapOf(image, Operation::kInit).size(), 40u);   // 320 / 8 / 1 = 40 track sides
}

TEST(UsedTrackMapScan, MarksTheTrackSideOfEachAllocatedClustersFirstSector) {
    struct Row {
        const char* name;
        DisketteSize size;
        std::vector<std::pair<std::uint16_t, std::uint16_t>> entries;   // cluster, value
        std::set<std::size_t> used;
    };
    const Row rows[] = {
        {"1.44 M freshly formatted", DisketteSize::k1440, {}, {0, 1}},
        {"1.44 M cluster 2 = sector 33, side 1", DisketteSize::k1440, {{2, 0xFFF}}, {0, 1}},
        {"1.44 M cluster 40 = sector 33 + 38 = 71, side 3", DisketteSize::k1440, {{40, 0xFFF}},
         {0, 1, 3}},
        {"1.44 M cluster 40 bad", DisketteSize::k1440, {{40, 0xFF7}}, {0, 1}},
        {"1.44 M even cluster 40 = 0x100", DisketteSize::k1440, {{40, 0x100}}, {0, 1, 3}},
        {"1.44 M odd cluster 41 = 0x100: sector 72, side 4", DisketteSize::k1440, {{41, 0x100}},
         {0, 1, 4}},
        {"1.44 M reserved value 0xFF0 counts as allocated", DisketteSize::k1440, {{41, 0xFF0}},
         {0, 1, 4}},
        {"1.44 M last cluster 2848 = sector 33 + 2846 = 2879, side 159", DisketteSize::k1440,
         {{2848, 0xFFF}}, {0, 1, 159}},
        {"720 K cluster 2 = sectors 14, 15: side 1", DisketteSize::k720, {{2, 0xFFF}}, {0, 1}},
        {"720 K cluster 8 = sectors 26, 27: only side 2", DisketteSize::k720, {{8, 0xFFF}},
         {0, 1, 2}},
        {"360 K cluster 10 = 12 + 16 = sector 28, side 3", DisketteSize::k360, {{10, 0xFFF}},
         {0, 1, 3}},
        {"chain 40 -> 41 -> 60: sectors 71, 72, 91", DisketteSize::k1440,
         {{40, 41}, {41, 60}, {60, 0xFFF}}, {0, 1, 3, 4, 5}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(row.size));
        for (const auto& entry : row.entries) SetFatEntry(&image, entry.first, entry.second);
        EXPECT_EQ(MapOf(image, Operation::kScan), row.used);
    }
}

TEST(UsedTrackMapScan, ReadsOnlyTheFirstFat) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    SetFatEntryInCopy(&image, 1, 40, 0xFFF);   // second copy only
    EXPECT_EQ(MapOf(image, Operation::kScan), (std::set<std::size_t>{0, 1}));
}

// 512-byte sectors, 2 per cluster, 9 per track, 2 sides, 10 tracks = 180
// sectors; 2 reserved + 2 x 1 FAT + 1 root sector: data start 5, 175 data
// sectors, N = 175 / 2 = 87 clusters (2..88), and sector 179 left over.
static FatImage OddClusterImage() {
    DisketteLayout layout{512, 2, 2, 2, 16, 180, 0xF9, 1, 9, 2};
    return FormatImage(layout);
}

TEST(UsedTrackMapScan, ExaminesTheEntryAfterAnOddClusterCount) {
    FatImage image = OddClusterImage();
    ASSERT_EQ(ClusterCount(image.layout), 87u);
    // 44 pairs: entries 2..89. Cluster 89 would start at 5 + 87 x 2 = 179,
    // track side 179 / 9 = 19.
    SetFatEntry(&image, 89, 0xFFF);
    EXPECT_EQ(MapOf(image, Operation::kScan), (std::set<std::size_t>{0, 19}));
}

TEST(UsedTrackMapScan, ANonMultipleTotalLeavesTheRemainderOutOfTheMap) {
    // 2881 sectors: 80 tracks, 160 track sides. N = 2881 - 33 = 2848 clusters
    // (2..2849); cluster 2849 lies in sector 33 + 2847 = 2880, the remainder
    // beyond the last track side, and sets nothing.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    PutLe16(image.bytes, 19, 2881);
    image.bytes.resize(2881 * 512, 0xF6);
    SetFatEntry(&image, 2849, 0xFFF);
    EXPECT_EQ(MapOf(image, Operation::kScan), (std::set<std::size_t>{0, 1}));
}

// A geometry written out by hand, for layouts no boot sector would give.
static DisketteGeometry HandGeometry(std::uint32_t bytesPerSector, std::uint32_t sectorsPerTrack,
                                     std::uint32_t sides, std::uint32_t totalSectors,
                                     std::uint32_t reservedSectors) {
    DisketteGeometry g{};
    g.bytesPerSector = bytesPerSector;
    g.sectorsPerTrack = sectorsPerTrack;
    g.sides = sides;
    g.trackCount = totalSectors / sectorsPerTrack / sides;
    g.sectorsPerCluster = 1;
    g.reservedSectors = reservedSectors;
    g.systemSectors = 0;
    g.totalSectors = totalSectors;
    g.rootStartSector = reservedSectors;
    g.dataStartSector = reservedSectors;
    g.clusterCount = totalSectors > reservedSectors ? totalSectors - reservedSectors : 0;
    g.trackSideSize = static_cast<std::uint64_t>(sectorsPerTrack) * bytesPerSector;
    g.trackSideCount = static_cast<std::uint64_t>(sides) * g.trackCount;
    g.imageSize = g.trackSideCount * g.trackSideSize;
    return g;
}

TEST(UsedTrackMapScan, NeverReadsAFatOutsideTheImage) {
    // 2881 sectors of which 2880 are in the image; reserved 2880 puts the FAT
    // in the remainder sector, outside the buffer, with N = 1 cluster.
    const DisketteGeometry geometry = HandGeometry(512, 18, 2, 2881, 2880);
    std::vector<std::uint8_t> buffer(geometry.imageSize, 0xFF);
    std::vector<std::uint8_t> map(geometry.trackSideCount, 0);
    ScanFatIntoMap(map.data(), &geometry, buffer.data());
    EXPECT_EQ(UsedSides(map), std::set<std::size_t>{});
}

TEST(UsedTrackMapScan, StopsAtTheEndOfTheImageBuffer) {
    // 1-byte sectors, 8 per track, 320 in all: data start 1, N = 319 clusters,
    // 160 pairs wanted, but the FAT (from byte 1, pairs from byte 4) has room
    // for (320 - 4) / 3 = 105 whole pairs only: clusters 2..211, first sectors
    // 1..210, track sides 0..26 (210 / 8 = 26).
    const DisketteGeometry geometry = HandGeometry(1, 8, 1, 320, 1);
    std::vector<std::uint8_t> buffer(geometry.imageSize, 0xFF);
    std::vector<std::uint8_t> map(geometry.trackSideCount, 0);
    ScanFatIntoMap(map.data(), &geometry, buffer.data());
    std::set<std::size_t> expected;
    for (std::size_t side = 0; side <= 26; ++side) expected.insert(side);
    EXPECT_EQ(UsedSides(map), expected);
}

TEST(UsedTrackMapWholeClusters, MarksTheSecondHalfOfAClusterOnTheNextTrackSide) {
    // 720 K: cluster 8 = sectors 14 + 6 x 2 = 26 and 27; sector 26 is the last
    // of track side 2 (18..26), sector 27 the first of track side 3.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k720));
    SetFatEntry(&image, 8, 0xFFF);
    EXPECT_EQ(MapOf(image, Operation::kScan), (std::set<std::size_t>{0, 1, 2}));
    EXPECT_EQ(MapOf(image, Operation::kWhole), (std::set<std::size_t>{0, 1, 2, 3}));
}

TEST(UsedTrackMapWholeClusters, AgreesWithTheScanWhereClustersDoNotCross) {
    struct Row {
        const char* name;
        DisketteSize size;
        std::uint16_t cluster;
        std::set<std::size_t> used;
    };
    const Row rows[] = {
        // 720 K cluster 9 = sectors 28, 29: both in track side 3.
        {"720 K cluster 9", DisketteSize::k720, 9, {0, 1, 3}},
        // 1.44 M: one sector per cluster never crosses.
        {"1.44 M cluster 40", DisketteSize::k1440, 40, {0, 1, 3}},
        // 360 K cluster 5 = 12 + 6 = sectors 18, 19: track side 2.
        {"360 K cluster 5", DisketteSize::k360, 5, {0, 1, 2}},
        // 360 K cluster 9 = 12 + 14 = sectors 26, 27: sides 2 and 3.
        {"360 K cluster 9 crosses", DisketteSize::k360, 9, {0, 1, 2, 3}},
        // bad clusters stay unmarked.
        {"720 K cluster 8 bad", DisketteSize::k720, 0, {0, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(row.size));
        if (row.cluster != 0) {
            SetFatEntry(&image, row.cluster, 0xFFF);
        } else {
            SetFatEntry(&image, 8, 0xFF7);
        }
        EXPECT_EQ(MapOf(image, Operation::kWhole), row.used);
    }
}

TEST(UsedTrackMapWholeClusters, MarksEverythingBeyondFat12) {
    // 2.88 M with one sector per cluster: 5760 - 1 - 18 - 15 = 5726 clusters,
    // more than FAT12's 4084: a FAT of 16-bit entries read as 12-bit ones
    // says nothing, so every track side of the 160 counts as used. With two
    // sectors per cluster (2863 clusters) the FAT is read as ever.
    DisketteLayout layout = StandardLayout(DisketteSize::k2880);
    layout.sectorsPerCluster = 1;
    std::set<std::size_t> all;
    for (std::size_t side = 0; side < 160; ++side) all.insert(side);
    EXPECT_EQ(MapOf(FormatImage(layout), Operation::kWhole), all);
    EXPECT_EQ(MapOf(FormatImage(StandardLayout(DisketteSize::k2880)), Operation::kWhole),
              (std::set<std::size_t>{0}));
}

TEST(UsedTrackMapWholeClusters, MatchesTheReferenceOnAFullDiskette) {
    // Every second cluster allocated on 720 K: the reference computes both rules.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k720));
    for (std::uint16_t cluster = 2; cluster < 2 + 713; cluster += 7) SetFatEntry(&image, cluster, 0xFFF);
    for (bool whole : {false, true}) {
        SCOPED_TRACE(whole ? "whole clusters" : "first sectors");
        const std::vector<bool> reference = ReferenceUsedTrackSides(image, whole);
        std::set<std::size_t> expected;
        for (std::size_t i = 0; i < reference.size(); ++i) {
            if (reference[i]) expected.insert(i);
        }
        EXPECT_EQ(MapOf(image, whole ? Operation::kWhole : Operation::kScan), expected);
    }
}

TEST(DisketteGeometry, RefusesBlocksThatCannotBeComputedWith) {
    struct Row {
        const char* name;
        std::size_t offset;   // boot-sector offset of a 16-bit field, or 13 for one byte
        std::uint16_t value;
        bool usable;
    };
    const Row rows[] = {
        {"standard", 11, 512, true},
        {"zero bytes per sector", 11, 0, false},
        {"zero sectors per cluster", 13, 0, false},
        {"zero sectors per track", 24, 0, false},
        {"zero sides", 26, 0, false},
        {"less than one track: 35 sectors of 18 x 2", 19, 35, false},
        {"exactly one track: 36 sectors", 19, 36, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        if (row.offset == 13) {
            image.bytes[13] = static_cast<std::uint8_t>(row.value);
        } else {
            PutLe16(image.bytes, row.offset, row.value);
        }
        DeviceParameterBlock block{};
        ParametersFromBootSector(image.bytes.data(), &block);
        DisketteGeometry geometry{};
        EXPECT_EQ(GetDisketteGeometry(&block, &geometry), row.usable);
    }
}

TEST(DisketteGeometry, KeepsLargeSizesIn64Bits) {
    // 65535 sectors of 65024 bytes, one per track: 65535 x 65024 =
    // 4261347840 bytes, above 2^31 and just below 2^32.
    DeviceParameterBlock block{};
    WriteLe16(block.bytesPerSector, 65024);
    block.sectorsPerCluster = 1;
    WriteLe16(block.totalSectors, 65535);
    WriteLe16(block.sectorsPerTrack, 1);
    WriteLe16(block.sides, 1);
    DisketteGeometry geometry{};
    ASSERT_TRUE(GetDisketteGeometry(&block, &geometry));
    EXPECT_EQ(geometry.imageSize, 4261347840ull);
    WriteLe16(block.sides, 2);                        // 32767 tracks x 2 x 65024
    ASSERT_TRUE(GetDisketteGeometry(&block, &geometry));
    EXPECT_EQ(geometry.imageSize, 4261282816ull);   // 65534 x 65024
}
