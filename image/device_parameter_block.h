// device_parameter_block.h - the 36-byte description of a diskette, the same in
// a native image header, in memory and in the device layer. Multi-byte fields
// are little-endian and read and written only through the accessors below.
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
