// fat_volume.h - the FAT12 file system of a diskette image in memory: cluster
// chains and the directory tree of tree nodes that refer into the image buffer.
#pragma once
#include <cstddef>
#include <cstdint>

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
