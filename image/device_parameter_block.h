// device_parameter_block.h - the 36-byte description of a diskette, the same in
// a native image header, in memory and in the device layer, and the layout
// arithmetic on it. Multi-byte fields are little-endian and read and written
// only through the accessors below.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/byte_order.h"

struct DeviceParameterBlock {              // 36 bytes, packed, little-endian
    std::uint8_t bytesPerSector[2];        // a multiple of 512
    std::uint8_t sectorsPerCluster;
    std::uint8_t reservedSectors[2];       // sectors before the first FAT, boot sector included
    std::uint8_t fatCount;
    std::uint8_t rootEntries[2];           // root-directory entries, 32 bytes each
    std::uint8_t totalSectors[2];          // the only sector count computed with
    std::uint8_t mediaDescriptor;          // 0xF0, 0xF9, ... as in a FAT boot sector
    std::uint8_t sectorsPerFat[2];
    std::uint8_t sectorsPerTrack[2];
    std::uint8_t sides[2];                 // heads, 1 or 2
    std::uint8_t hiddenSectors[4];         // carried, not used
    std::uint8_t totalSectors32[4];        // carried, not used
    std::uint8_t imageBytes[6];            // native header: sparse flag, CRC flag, CRC; else 0
    std::uint8_t tracks[2];                // cylinders
    std::uint8_t deviceType;               // 2 = 3.5" 720 KB drive, 9 = 3.5" 2.88 MB, 0 = unknown
    std::uint8_t deviceAttributes[2];      // 0 when built from a boot sector
};
static_assert(sizeof(DeviceParameterBlock) == 36, "must stay byte-exact");
static_assert(offsetof(DeviceParameterBlock, sectorsPerCluster) == 2, "layout");
static_assert(offsetof(DeviceParameterBlock, totalSectors) == 8, "layout");
static_assert(offsetof(DeviceParameterBlock, sectorsPerTrack) == 13, "layout");
static_assert(offsetof(DeviceParameterBlock, imageBytes) == 25, "layout");
static_assert(offsetof(DeviceParameterBlock, tracks) == 31, "layout");
static_assert(offsetof(DeviceParameterBlock, deviceType) == 33, "layout");
static_assert(offsetof(DeviceParameterBlock, deviceAttributes) == 34, "layout");

[[nodiscard]] inline std::uint16_t BytesPerSector(const DeviceParameterBlock* block) {
    return ReadLe16(block->bytesPerSector);
}
[[nodiscard]] inline std::uint16_t ReservedSectors(const DeviceParameterBlock* block) {
    return ReadLe16(block->reservedSectors);
}
[[nodiscard]] inline std::uint16_t RootEntries(const DeviceParameterBlock* block) {
    return ReadLe16(block->rootEntries);
}
[[nodiscard]] inline std::uint16_t TotalSectors(const DeviceParameterBlock* block) {
    return ReadLe16(block->totalSectors);
}
[[nodiscard]] inline std::uint16_t SectorsPerFat(const DeviceParameterBlock* block) {
    return ReadLe16(block->sectorsPerFat);
}
[[nodiscard]] inline std::uint16_t SectorsPerTrack(const DeviceParameterBlock* block) {
    return ReadLe16(block->sectorsPerTrack);
}
[[nodiscard]] inline std::uint16_t Sides(const DeviceParameterBlock* block) {
    return ReadLe16(block->sides);
}
[[nodiscard]] inline std::uint16_t Tracks(const DeviceParameterBlock* block) {
    return ReadLe16(block->tracks);
}

// The layout of a diskette: the numbers the reader, the used-track map, the
// FAT volume, the info line and the device layer compute with, derived in
// one place from a device parameter block and checked there.
struct DisketteGeometry {
    std::uint32_t bytesPerSector;       // at least 1
    std::uint32_t sectorsPerTrack;      // at least 1
    std::uint32_t sides;                // at least 1
    std::uint32_t trackCount;           // at least 1: total sectors / sectors per track / sides
    std::uint32_t sectorsPerCluster;    // at least 1
    std::uint32_t reservedSectors;      // sectors before the first FAT, boot sector included
    std::uint32_t systemSectors;        // root entries x 32 / bytes per sector + FATs x sectors per FAT
    std::uint64_t rootStartSector;      // reserved + FATs x sectors per FAT
    std::uint64_t dataStartSector;      // reserved + system sectors: cluster 2
    std::uint64_t clusterCount;         // (total - data start sectors) / sectors per cluster; 0 when
                                        //   the system area fills the diskette
    std::uint32_t totalSectors;         // the 16-bit count
    std::uint64_t trackSideSize;        // bytes: sectors per track x bytes per sector
    std::uint64_t trackSideCount;       // sides x track count: the bytes of the map
    std::uint64_t imageSize;            // trackSideCount x trackSideSize: the bytes of the image buffer
};

// A FAT12 volume has at most this many clusters; a volume with more is a
// FAT16 one, whose 16-bit FAT entries cannot be read as 12-bit ones.
inline constexpr std::uint64_t kLargestFat12ClusterCount = 4084;

// Derives the geometry of block. Returns false when the block cannot be
// computed with: zero bytes per sector, sectors per track, sides or sectors
// per cluster, or less than one track (track count 0). Reports nothing.
[[nodiscard]] bool GetDisketteGeometry(const DeviceParameterBlock* block,
                                       DisketteGeometry* geometry);
