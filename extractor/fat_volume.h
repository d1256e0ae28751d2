// fat_volume.h - the FAT12 file system of a diskette image in memory: cluster
// chains and the directory tree of tree nodes that refer into the image buffer.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/byte_order.h"
#include "image/image_record.h"

// A directory entry: 32 bytes, little-endian, at these offsets.
inline constexpr std::size_t kDirectoryEntrySize = 32;
inline constexpr std::size_t kEntryName = 0;           // 8 bytes, space padded
inline constexpr std::size_t kEntryNameLength = 8;
inline constexpr std::size_t kEntryExtension = 8;      // 3 bytes, space padded
inline constexpr std::size_t kEntryExtensionLength = 3;
inline constexpr std::size_t kEntryAttributes = 11;
inline constexpr std::size_t kEntryTime = 22;          // bits 15-11 hours, 10-5 minutes, 4-0 seconds / 2
inline constexpr std::size_t kEntryDate = 24;          // bits 15-9 years since 1980, 8-5 month, 4-0 day
inline constexpr std::size_t kEntryFirstCluster = 26;
inline constexpr std::size_t kEntryFileSize = 28;

// First name byte values.
inline constexpr std::uint8_t kEntryEndMark = 0x00;    // end of the directory
inline constexpr std::uint8_t kEntryDeleted = 0xE5;
inline constexpr std::uint8_t kEntryE5Stand = 0x05;    // stands for a first character 0xE5

// Attribute bits.
inline constexpr std::uint8_t kAttributeReadOnly = 0x01;
inline constexpr std::uint8_t kAttributeHidden = 0x02;
inline constexpr std::uint8_t kAttributeSystem = 0x04;
inline constexpr std::uint8_t kAttributeVolumeLabel = 0x08;   // also set on long-name entries (0x0F)
inline constexpr std::uint8_t kAttributeDirectory = 0x10;
inline constexpr std::uint8_t kAttributeArchive = 0x20;

// A next-cluster value of this or above ends a chain.
inline constexpr std::uint16_t kClusterChainEnd = 0xFF8;

struct TreeNode {
    TreeNode* nextSibling;                 // next entry of the same directory, or nullptr
    TreeNode* previousSibling;             // entry created before it in the same directory
    TreeNode* parent;                      // enclosing directory, nullptr in the root directory
    TreeNode* firstChild;                  // a directory's first entry, or nullptr
    const std::uint8_t* entry;             // the 32-byte directory entry inside the image buffer
};

// The layout of the volume, worked out once from the device parameter block
// and the size of the image buffer; every address derived from it is checked
// against the buffer.
struct FatVolume {
    const std::uint8_t* imageBuffer;       // the diskette in memory
    std::uint64_t imageSize;               // bytes of imageBuffer
    std::uint64_t fatStart;                // byte offset of the first FAT
    std::uint64_t rootStart;               // byte offset of the root directory
    std::uint32_t rootEntries;             // entries of the root directory
    std::uint64_t dataStart;               // byte offset of cluster 2
    std::uint32_t clusterSize;             // bytes; 0 when the volume has no data area
    std::uint32_t lastCluster;             // highest cluster number lying inside the buffer;
                                           //   below 2 when there is none
};

// Fills volume from the image record (buffer, track count, parameters).
// Returns false, leaving volume empty, when the record holds no buffer or
// its parameters describe no volume to read here: no computable layout, or
// more clusters than FAT12 has (its FAT holds 16-bit entries, and reading
// them as 12-bit ones would cut its files short).
[[nodiscard]] bool OpenFatVolume(const ImageRecord* image, FatVolume* volume);

// The three cluster routines below are defined here, inline: a file's chain
// is followed through them for each of its clusters.

// True for a cluster number that names a cluster inside the image buffer.
[[nodiscard]] inline bool IsDataCluster(const FatVolume* volume, std::uint32_t cluster) {
    return cluster >= 2 && cluster <= volume->lastCluster;
}

// The 12-bit FAT entry of cluster from the first FAT; kClusterChainEnd (or
// above) ends a chain. An entry lying outside the image buffer reads as 0xFFF.
[[nodiscard]] inline std::uint16_t NextCluster(const FatVolume* volume, std::uint16_t cluster) {
    const std::uint64_t offset = volume->fatStart + cluster * std::uint64_t{3} / 2;
    if (!FitsInside(offset, 2, volume->imageSize)) return 0xFFF;
    const std::uint16_t word = ReadLe16(volume->imageBuffer + offset);
    return (cluster & 1u) != 0 ? static_cast<std::uint16_t>(word >> 4)
                               : static_cast<std::uint16_t>(word & 0x0FFF);
}

// Where cluster begins in the image buffer; nullptr unless IsDataCluster.
[[nodiscard]] inline const std::uint8_t* ClusterAddress(const FatVolume* volume,
                                                        std::uint16_t cluster) {
    if (!IsDataCluster(volume, cluster)) return nullptr;
    return volume->imageBuffer + volume->dataStart +
           static_cast<std::uint64_t>(cluster - 2) * volume->clusterSize;
}

// One bit per possible FAT12 cluster number, for walks that must not visit a
// cluster twice.
inline constexpr std::size_t kClusterBitmapSize = 4096 / 8;
struct ClusterBitmap {
    std::uint8_t bits[kClusterBitmapSize];
};
// Marks cluster; returns false when it was marked already.
[[nodiscard]] inline bool MarkCluster(ClusterBitmap* bitmap, std::uint16_t cluster) {
    const std::size_t index = (cluster >> 3) & (kClusterBitmapSize - 1);
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << (cluster & 7u));
    if ((bitmap->bits[index] & bit) != 0) return false;
    bitmap->bits[index] |= bit;
    return true;
}

// Builds the directory tree: the root directory and, depth first, every
// subdirectory. Entries that are volume labels or long names, and "." and
// "..", are left out; deleted entries are kept. A directory ends early where
// its chain leaves the data area or comes back to a cluster already read as a
// directory (a loop, or a directory holding an ancestor). Returns the first
// node of the root list, nullptr for an empty tree. *outOfMemory tells that a
// node could not be allocated (the tree is then released and nullptr given).
// FreeDirectoryTree releases the nodes.
[[nodiscard]] TreeNode* BuildDirectoryTree(const FatVolume* volume, bool* outOfMemory);
void FreeDirectoryTree(TreeNode* root);

// The next node of the depth-first pre-order walk: first child, else next
// sibling, else the next sibling of the nearest ancestor that has one;
// nullptr at the end.
[[nodiscard]] TreeNode* NextInWalk(TreeNode* node);
