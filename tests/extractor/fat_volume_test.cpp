// Tests of the FAT12 volume in memory: layout, FAT entries, cluster addresses,
// the directory tree and the depth-first walk over it.
#include "extractor/fat_volume.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "image/image_format.h"
#include "tests/support/image_builder.h"

namespace {

// The tree of a diskette built in memory, as the run sees it after reading:
// the record points at the builder's bytes, the parameters come from the boot
// sector.
class BuiltTree {
public:
    explicit BuiltTree(FatImage image) : image_(std::move(image)), record{}, volume{} {
        record.imageBuffer = image_.bytes.data();
        ParametersFromBootSector(image_.bytes.data(), &record.parameters);
        record.trackCount = TrackCount(image_.layout);
        EXPECT_TRUE(OpenFatVolume(&record, &volume));
        bool outOfMemory = true;
        root = BuildDirectoryTree(&volume, &outOfMemory);
        EXPECT_FALSE(outOfMemory);
    }
    ~BuiltTree() { FreeDirectoryTree(root); }
    BuiltTree(const BuiltTree&) = delete;
    BuiltTree& operator=(const BuiltTree&) = delete;

    const std::uint8_t* Buffer() const { return image_.bytes.data(); }

private:
    FatImage image_;

public:
    ImageRecord record;
    FatVolume volume;
    TreeNode* root = nullptr;
};

// The stored 8.3 name without padding: "NAME.EXT", or "NAME".
std::string StoredName(const std::uint8_t* entry) {
    std::string name(reinterpret_cast<const char*>(entry), 8);
    std::string extension(reinterpret_cast<const char*>(entry) + 8, 3);
    name.erase(name.find_last_not_of(' ') + 1);
    extension.erase(extension.find_last_not_of(' ') + 1);
    if (static_cast<std::uint8_t>(name[0]) == 0xE5) name[0] = '?';
    return extension.empty() ? name : name + "." + extension;
}

// The path of a node through its parent links: "DIR/SUB/NAME.EXT".
std::string NodePath(const TreeNode* node) {
    std::string path = StoredName(node->entry);
    for (const TreeNode* parent = node->parent; parent != nullptr; parent = parent->parent) {
        path = StoredName(parent->entry) + "/" + path;
    }
    return path;
}

// Every node in the order of the walk, at most limit of them (a walk that
// does not end shows as limit entries).
std::vector<std::string> WalkPaths(TreeNode* root, std::size_t limit = 10000) {
    std::vector<std::string> paths;
    for (TreeNode* node = root; node != nullptr && paths.size() < limit; node = NextInWalk(node)) {
        paths.push_back(NodePath(node));
    }
    return paths;
}

std::vector<std::string> Names(std::initializer_list<const char*> names) {
    return std::vector<std::string>(names.begin(), names.end());
}

// "F00.TXT", "F01.TXT", ... as file entries without data.
DirectoryEntry NumberedFile(unsigned number) {
    char name[8];
    std::snprintf(name, sizeof(name), "F%02u", number);
    return FileEntry(name, "TXT");
}

TEST(FatVolumeLayout, DerivesOffsetsAndLastClusterFromTheParameters) {
    struct Row {
        const char* name;
        DisketteSize size;
        std::uint32_t trackCount;   // 0: the layout's own
        std::uint64_t fatStart, rootStart, dataStart;
        std::uint32_t clusterSize, lastCluster;
    };
    const Row rows[] = {
        // 1.44 MB: FAT at sector 1; root at 1 + 2 x 9 = 19; root 224 x 32 / 512 = 14
        // sectors, data at 33; 2880 - 33 = 2847 clusters of one sector, 2 to 2848.
        {"1.44 MB", DisketteSize::k1440, 0, 512, 19 * 512, 33 * 512, 512, 2848},
        // 720 KB: root at 1 + 2 x 3 = 7; 112 x 32 / 512 = 7 sectors, data at 14;
        // (1440 - 14) / 2 = 713 clusters of 1024 bytes, 2 to 714.
        {"720 KB", DisketteSize::k720, 0, 512, 7 * 512, 14 * 512, 1024, 714},
        // 360 KB: root at 1 + 2 x 2 = 5; 7 root sectors, data at 12;
        // (720 - 12) / 2 = 354 clusters, 2 to 355.
        {"360 KB", DisketteSize::k360, 0, 512, 5 * 512, 12 * 512, 1024, 355},
        // 2.88 MB: root at 19; 240 x 32 / 512 = 15 sectors, data at 34;
        // (5760 - 34) / 2 = 2863 clusters, 2 to 2864.
        {"2.88 MB", DisketteSize::k2880, 0, 512, 19 * 512, 34 * 512, 1024, 2864},
        // 1.44 MB read as 40 cylinders: 40 x 2 x 18 = 1440 sectors in the buffer,
        // 1440 - 33 = 1407 clusters, 2 to 1408.
        {"buffer shorter than the volume", DisketteSize::k1440, 40, 512, 19 * 512, 33 * 512, 512,
         1408},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(row.size));
        ImageRecord record{};
        record.imageBuffer = image.bytes.data();
        ParametersFromBootSector(image.bytes.data(), &record.parameters);
        record.trackCount = row.trackCount != 0 ? row.trackCount : TrackCount(image.layout);
        FatVolume volume{};
        EXPECT_TRUE(OpenFatVolume(&record, &volume));
        EXPECT_EQ(volume.fatStart, row.fatStart);
        EXPECT_EQ(volume.rootStart, row.rootStart);
        EXPECT_EQ(volume.dataStart, row.dataStart);
        EXPECT_EQ(volume.clusterSize, row.clusterSize);
        EXPECT_EQ(volume.lastCluster, row.lastCluster);
    }
}

TEST(FatVolumeClusters, AddressesOnlyClustersInsideTheDataArea) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k720));
    BuiltTree tree(std::move(image));
    const std::uint8_t* buffer = tree.Buffer();
    struct Row {
        const char* name;
        std::uint16_t cluster;
        std::int64_t offset;   // -1: no address
    };
    const Row rows[] = {
        {"cluster 0", 0, -1},
        {"cluster 1", 1, -1},
        {"cluster 2 starts the data area", 2, 14 * 512},
        {"cluster 3, one cluster of 1024 bytes later", 3, 14 * 512 + 1024},
        // cluster 714 = sector 14 + 712 x 2 = 1438, the last two sectors of 1440
        {"the last cluster", 714, 1438 * 512},
        {"one beyond the last cluster", 715, -1},
        {"the highest FAT12 value", 0xFFF, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::uint8_t* address = ClusterAddress(&tree.volume, row.cluster);
        if (row.offset < 0) {
            EXPECT_EQ(address, nullptr);
            EXPECT_FALSE(IsDataCluster(&tree.volume, row.cluster));
        } else {
            EXPECT_EQ(address, buffer + row.offset);
            EXPECT_TRUE(IsDataCluster(&tree.volume, row.cluster));
        }
    }
}

TEST(FatVolumeNextCluster, UnpacksTwelveBitEntriesOfOddAndEvenClusters) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    // The FAT starts at byte 512. Clusters 2 and 3 share bytes 3 to 5 of it:
    // entry 2 = 0xABC, entry 3 = 0x123 -> BC 3A 12 (low byte of 2, high nibble
    // of 2 with the low nibble of 3 above it, high byte of 3).
    image.bytes[512 + 3] = 0xBC;
    image.bytes[512 + 4] = 0x3A;
    image.bytes[512 + 5] = 0x12;
    // Clusters 4 and 5 at bytes 6 to 8: entry 4 = 0xFF8, entry 5 = 0x005 -> F8 5F 00.
    image.bytes[512 + 6] = 0xF8;
    image.bytes[512 + 7] = 0x5F;
    image.bytes[512 + 8] = 0x00;
    // Cluster 2848, the last: even, at byte 2848 x 3 / 2 = 4272 of the FAT,
    // low byte 0x34 and low nibble 0x2 of the next byte -> 0x234; cluster 2849
    // holds the byte's high nibble 0x7 and the following byte 0x56 -> 0x567.
    image.bytes[512 + 4272] = 0x34;
    image.bytes[512 + 4273] = 0x72;
    image.bytes[512 + 4274] = 0x56;
    BuiltTree tree(std::move(image));
    struct Row {
        const char* name;
        std::uint16_t cluster;
        std::uint16_t expected;
    };
    const Row rows[] = {
        {"even cluster: low twelve bits of the word at 3", 2, 0xABC},
        {"odd cluster: word at 4 shifted right by four", 3, 0x123},
        {"end mark", 4, 0xFF8},
        {"odd cluster with a small value", 5, 0x005},
        {"media descriptor entry 0", 0, 0xFF0},
        {"entry 1", 1, 0xFFF},
        {"last cluster, even", 2848, 0x234},
        {"next one, odd", 2849, 0x567},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(NextCluster(&tree.volume, row.cluster), row.expected);
    }
}

TEST(FatVolumeNextCluster, ReadsAnEntryOutsideTheBufferAsChainEnd) {
    // A buffer of 5 bytes holding the FAT from byte 0: cluster 2 needs bytes 3
    // and 4 (inside), cluster 3 bytes 4 and 5 (5 is outside).
    std::uint8_t bytes[5] = {0xF0, 0xFF, 0xFF, 0x03, 0x40};
    FatVolume volume{};
    volume.imageBuffer = bytes;
    volume.imageSize = sizeof(bytes);
    volume.fatStart = 0;
    EXPECT_EQ(NextCluster(&volume, 2), 0x003);   // 0x4003 & 0xFFF
    EXPECT_EQ(NextCluster(&volume, 3), 0xFFF);
    EXPECT_EQ(NextCluster(&volume, 0xFFFF), 0xFFF);
}

TEST(FatVolumeMarkCluster, TellsWhetherAClusterWasSeenBefore) {
    ClusterBitmap bitmap{};
    EXPECT_TRUE(MarkCluster(&bitmap, 2));
    EXPECT_TRUE(MarkCluster(&bitmap, 3));
    EXPECT_FALSE(MarkCluster(&bitmap, 2));
    EXPECT_TRUE(MarkCluster(&bitmap, 4095));
    EXPECT_FALSE(MarkCluster(&bitmap, 4095));
    EXPECT_TRUE(MarkCluster(&bitmap, 10));
}

TEST(DirectoryTree, EmptyRootGivesNoTree) {
    BuiltTree tree(FormatImage(StandardLayout(DisketteSize::k1440)));
    EXPECT_EQ(tree.root, nullptr);
}

TEST(DirectoryTree, LeavesOutLabelsLongNamesAndDotEntriesButKeepsDeletedOnes) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k720));
    AppendEntry(&image, kRootDirectory, VolumeLabelEntry("MY DISK"));
    const RawEntry shortEntry = EncodeEntry(FileEntry("LONGNA~1", "TXT"));
    AppendEntry(&image, kRootDirectory,
                LongNameEntry(0x41, "Long name.txt", ShortNameChecksum(shortEntry)));
    AppendEntry(&image, kRootDirectory, shortEntry);
    AddFile(&image, kRootDirectory, FileEntry("\xE5" "ONE", "TXT"), TextBytes("gone"));
    AddDirectory(&image, kRootDirectory, FileEntry("EMPTY", ""));
    const std::uint16_t dead = AddDirectory(&image, kRootDirectory, FileEntry("\xE5" "EAD", ""));
    AddFile(&image, dead, FileEntry("INSIDE", "DAT"), TextBytes("x"));
    AddFile(&image, kRootDirectory, FileEntry("LAST", ""), {});
    BuiltTree tree(std::move(image));
    // Label, long name, "." and ".." of EMPTY and ?EAD leave no node; the
    // deleted file and the deleted directory with its contents stay.
    EXPECT_EQ(WalkPaths(tree.root),
              Names({"LONGNA~1.TXT", "?ONE.TXT", "EMPTY", "?EAD", "?EAD/INSIDE.DAT", "LAST"}));
    ASSERT_NE(tree.root, nullptr);
    const TreeNode* empty = tree.root->nextSibling->nextSibling;
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->firstChild, nullptr);
}

TEST(DirectoryTree, NodesReferToTheEntriesInTheBufferAndLinkTheirNeighbours) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    AppendEntry(&image, kRootDirectory, VolumeLabelEntry("LABEL"));
    AddFile(&image, kRootDirectory, FileEntry("A", "TXT"), TextBytes("a"));   // cluster 2
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));   // 3
    AddFile(&image, dir, FileEntry("B", "TXT"), TextBytes("b"));   // slot 2 of cluster 3
    BuiltTree tree(std::move(image));
    const std::uint8_t* buffer = tree.Buffer();
    // Root at sector 19; A.TXT in slot 1, DIR in slot 2. Cluster 3 = sector 33 + 1.
    TreeNode* a = tree.root;
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->entry, buffer + 19 * 512 + 1 * 32);
    EXPECT_EQ(a->parent, nullptr);
    EXPECT_EQ(a->previousSibling, nullptr);
    TreeNode* directory = a->nextSibling;
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(directory->entry, buffer + 19 * 512 + 2 * 32);
    EXPECT_EQ(directory->previousSibling, a);
    EXPECT_EQ(directory->nextSibling, nullptr);
    TreeNode* b = directory->firstChild;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->entry, buffer + 34 * 512 + 2 * 32);
    EXPECT_EQ(b->parent, directory);
    EXPECT_EQ(b->previousSibling, nullptr);
    EXPECT_EQ(b->nextSibling, nullptr);
    EXPECT_EQ(b->firstChild, nullptr);
}

TEST(DirectoryTree, WalksDepthFirstInDirectoryOrder) {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    const std::uint16_t a = AddDirectory(&image, kRootDirectory, FileEntry("A", ""));
    AddFile(&image, a, FileEntry("X", ""), TextBytes("x"));
    const std::uint16_t b = AddDirectory(&image, a, FileEntry("B", ""));
    const std::uint16_t c = AddDirectory(&image, b, FileEntry("C", ""));
    AddFile(&image, c, FileEntry("DEEP", ""), TextBytes("d"));
    AddFile(&image, a, FileEntry("Z", ""), TextBytes("z"));
    AddFile(&image, kRootDirectory, FileEntry("ROOT2", ""), TextBytes("r"));
    AddDirectory(&image, kRootDirectory, FileEntry("LASTDIR", ""));
    BuiltTree tree(std::move(image));
    // After A/B/C/DEEP the walk climbs two levels to Z, after A/Z one level to
    // ROOT2, and after the empty LASTDIR it climbs past the root and ends.
    EXPECT_EQ(WalkPaths(tree.root), Names({"A", "A/X", "A/B", "A/B/C", "A/B/C/DEEP", "A/Z",
                                           "ROOT2", "LASTDIR"}));
}

TEST(DirectoryTree, ReadsADirectoryOnThroughItsChain) {
    // 720 KB: 1024-byte clusters of 32 entries. DIR has three clusters; its
    // entries run from slot 2 of the first to slot 4 of the third (2 + 30 +
    // 32 + 5 - 2 = 67 files), the rest of the third is zero.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k720));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""), 3);
    std::vector<std::string> expected = {"DIR"};
    for (unsigned i = 0; i < 67; ++i) {
        AppendEntry(&image, dir, NumberedFile(i));
        expected.push_back("DIR/" + StoredName(EncodeEntry(NumberedFile(i)).data()));
    }
    AddFile(&image, kRootDirectory, FileEntry("AFTER", ""), TextBytes("a"));
    expected.push_back("AFTER");
    BuiltTree tree(std::move(image));
    EXPECT_EQ(WalkPaths(tree.root), expected);
}

TEST(DirectoryTree, StopsADirectoryWhoseChainEndsAtAFullCluster) {
    // 1.44 MB: clusters of 16 entries. DIR (cluster 2, chain end) is full:
    // ".", "..", 14 files and no end mark. Cluster 3 right after it holds what
    // looks like an entry; it is not part of DIR.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));
    ASSERT_EQ(dir, 2);
    std::vector<std::string> expected = {"DIR"};
    for (unsigned i = 0; i < 14; ++i) {
        AppendEntry(&image, dir, NumberedFile(i));
        expected.push_back("DIR/" + StoredName(EncodeEntry(NumberedFile(i)).data()));
    }
    const RawEntry stray = EncodeEntry(FileEntry("STRAY", "TXT"));
    std::copy(stray.begin(), stray.end(), image.bytes.begin() + ClusterOffset(image, 3));
    BuiltTree tree(std::move(image));
    EXPECT_EQ(WalkPaths(tree.root), expected);
}

TEST(DirectoryTree, ReadsTheRootForAtMostItsEntryCount) {
    // 1.44 MB: 224 root entries fill sectors 19 to 32 exactly; cluster 2 at
    // sector 33 follows at once and holds an entry-like record.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    for (unsigned i = 0; i < 224; ++i) {
        char name[9];
        std::snprintf(name, sizeof(name), "R%03u", i);
        PutEntry(&image, kRootDirectory, i, FileEntry(name, ""));
    }
    const RawEntry stray = EncodeEntry(FileEntry("STRAY", "TXT"));
    std::copy(stray.begin(), stray.end(), image.bytes.begin() + ClusterOffset(image, 2));
    BuiltTree tree(std::move(image));
    const std::vector<std::string> paths = WalkPaths(tree.root);
    ASSERT_EQ(paths.size(), 224u);
    EXPECT_EQ(paths.front(), "R000");
    EXPECT_EQ(paths.back(), "R223");
}

TEST(DirectoryTree, StopsAtTheFirstEntryWhoseFirstByteIsZero) {
    struct Row {
        const char* name;
        std::uint16_t directory;   // kRootDirectory or a subdirectory made for the row
    };
    const Row rows[] = {{"root directory", kRootDirectory}, {"subdirectory", 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        std::uint16_t directory = kRootDirectory;
        if (row.directory != kRootDirectory) {
            directory = AddDirectory(&image, kRootDirectory, FileEntry("SUB", ""));
        }
        const std::size_t first = AppendEntry(&image, directory, FileEntry("ONE", ""));
        AppendEntry(&image, directory, FileEntry("TWO", ""));
        // After TWO an end mark, then a live-looking entry that must not be read.
        PutEntry(&image, directory, first + 3, FileEntry("HIDDEN", ""));
        BuiltTree tree(std::move(image));
        if (row.directory == kRootDirectory) {
            EXPECT_EQ(WalkPaths(tree.root), Names({"ONE", "TWO"}));
        } else {
            EXPECT_EQ(WalkPaths(tree.root), Names({"SUB", "SUB/ONE", "SUB/TWO"}));
        }
    }
}

TEST(DirectoryTree, CutsADirectoryShortWhereItsChainLeavesTheDataArea) {
    // 1.44 MB, clusters of 16 entries, last cluster 2848. DIR starts at
    // cluster 2, full of entries (".", "..", D00 to D13); its FAT entry is
    // set per row. Cluster 3 holds E00 to E15 in case the chain is followed.
    struct Row {
        const char* name;
        std::uint16_t next;
        bool readsCluster3;
    };
    const Row rows[] = {
        {"free entry 0", 0, false},
        {"entry 1", 1, false},
        {"beyond the last cluster", 2849, false},
        {"bad cluster mark", 0xFF7, false},
        {"end mark 0xFF8", 0xFF8, false},
        {"a real next cluster", 3, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));
        ASSERT_EQ(dir, 2);
        std::vector<std::string> expected = {"DIR"};
        for (unsigned i = 0; i < 14; ++i) {
            char name[8];
            std::snprintf(name, sizeof(name), "D%02u", i);
            AppendEntry(&image, dir, FileEntry(name, ""));
            expected.push_back(std::string("DIR/") + name);
        }
        for (unsigned i = 0; i < 16; ++i) {
            char name[8];
            std::snprintf(name, sizeof(name), "E%02u", i);
            const RawEntry raw = EncodeEntry(FileEntry(name, ""));
            std::copy(raw.begin(), raw.end(), image.bytes.begin() + ClusterOffset(image, 3) + i * 32);
            if (row.readsCluster3) expected.push_back(std::string("DIR/") + name);
        }
        SetFatEntry(&image, 2, row.next);
        SetFatEntry(&image, 3, kFatEnd);
        BuiltTree tree(std::move(image));
        EXPECT_EQ(WalkPaths(tree.root), expected);
    }
}

TEST(DirectoryTree, ReadsEachClusterOfALoopingChainOnce) {
    // DIR at cluster 2 with the chain 2 -> 3 -> 2: both clusters full, no end
    // mark anywhere. The tree holds cluster 2's 14 files and cluster 3's 16.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    const std::uint16_t dir = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""), 2);
    ASSERT_EQ(dir, 2);
    SetFatEntry(&image, 3, 2);
    for (unsigned i = 0; i < 30; ++i) AppendEntry(&image, dir, NumberedFile(i));
    BuiltTree tree(std::move(image));
    const std::vector<std::string> paths = WalkPaths(tree.root, 1000);
    ASSERT_EQ(paths.size(), 31u);
    EXPECT_EQ(paths[1], "DIR/F00.TXT");
    EXPECT_EQ(paths[30], "DIR/F29.TXT");
}

TEST(DirectoryTree, DoesNotDescendIntoADirectoryThatHoldsItselfOrAnAncestor) {
    // OUTER (cluster 2) holds INNER (cluster 3). Extra directory entries that
    // are not named "." point back: SELF in INNER to cluster 3, UP in INNER to
    // cluster 2, TOP in INNER to cluster 0 (the root, in a ".." entry), and
    // ONE in OUTER to cluster 1. None of them gets children.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    const std::uint16_t outer = AddDirectory(&image, kRootDirectory, FileEntry("OUTER", ""));
    const std::uint16_t inner = AddDirectory(&image, outer, FileEntry("INNER", ""));
    ASSERT_EQ(outer, 2);
    ASSERT_EQ(inner, 3);
    AddFile(&image, inner, FileEntry("FILE", ""), TextBytes("f"));
    struct Back {
        std::uint16_t directory;
        const char* name;
        std::uint16_t firstCluster;
    };
    const Back backs[] = {{inner, "SELF", inner}, {inner, "UP", outer}, {inner, "TOP", 0},
                          {outer, "ONE", 1}};
    for (const Back& back : backs) {
        DirectoryEntry entry = FileEntry(back.name, "", kAttrDirectory);
        entry.firstCluster = back.firstCluster;
        AppendEntry(&image, back.directory, entry);
    }
    BuiltTree tree(std::move(image));
    EXPECT_EQ(WalkPaths(tree.root, 1000),
              Names({"OUTER", "OUTER/INNER", "OUTER/INNER/FILE", "OUTER/INNER/SELF",
                     "OUTER/INNER/UP", "OUTER/INNER/TOP", "OUTER/ONE"}));
}

TEST(DirectoryTree, GivesNoChildrenToADirectoryWithoutAUsableFirstCluster) {
    struct Row {
        const char* name;
        std::uint16_t firstCluster;
        bool hasChild;
    };
    // 1.44 MB: last cluster 2848 = sector 33 + 2846, the image's last sector.
    const Row rows[] = {
        {"cluster 0", 0, false},
        {"cluster 1", 1, false},
        {"the last cluster", 2848, true},
        {"one beyond the last cluster", 2849, false},
        {"0xFFF", 0xFFF, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
        DirectoryEntry entry = FileEntry("DIR", "", kAttrDirectory);
        entry.firstCluster = row.firstCluster;
        AppendEntry(&image, kRootDirectory, entry);
        AddFile(&image, kRootDirectory, FileEntry("NEXT", ""), {});
        // What a directory at the last cluster would hold: one file, end mark.
        const std::size_t last = ClusterOffset(image, 2848);
        std::fill(image.bytes.begin() + last, image.bytes.begin() + last + 512, 0);
        const RawEntry child = EncodeEntry(FileEntry("CHILD", ""));
        std::copy(child.begin(), child.end(), image.bytes.begin() + last);
        SetFatEntry(&image, 2848, kFatEnd);
        BuiltTree tree(std::move(image));
        if (row.hasChild) {
            EXPECT_EQ(WalkPaths(tree.root), Names({"DIR", "DIR/CHILD", "NEXT"}));
        } else {
            EXPECT_EQ(WalkPaths(tree.root), Names({"DIR", "NEXT"}));
        }
    }
}

TEST(DirectoryTree, StopsARootDirectoryThatRunsPastTheBuffer) {
    // 1.44 MB read as one cylinder only: 36 sectors, the root (sectors 19 to
    // 32) fits, but with the root-entry count raised to 0xFFF0 the entries
    // would run far past the buffer. Filling every slot of the buffer after
    // the root start with entries shows that the reader stops at its end:
    // sectors 19 to 35 hold 17 x 16 = 272 entries.
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    PutLe16(image.bytes, 17, 0xFFF0);   // boot sector: root-directory entries
    for (unsigned i = 0; i < 272; ++i) {
        char name[9];
        std::snprintf(name, sizeof(name), "N%03u", i);
        const RawEntry raw = EncodeEntry(FileEntry(name, ""));
        std::copy(raw.begin(), raw.end(), image.bytes.begin() + 19 * 512 + i * 32);
    }
    ImageRecord record{};
    record.imageBuffer = image.bytes.data();
    ParametersFromBootSector(image.bytes.data(), &record.parameters);
    record.trackCount = 1;
    FatVolume volume{};
    ASSERT_TRUE(OpenFatVolume(&record, &volume));
    bool outOfMemory = true;
    TreeNode* root = BuildDirectoryTree(&volume, &outOfMemory);
    EXPECT_FALSE(outOfMemory);
    const std::vector<std::string> paths = WalkPaths(root);
    EXPECT_EQ(paths.size(), 272u);
    FreeDirectoryTree(root);
}

}  // namespace
